// Recipient lists of a message envelope as the sender splits them. The pieces put back
// together with their separators give the list again, no piece holds a separator, and the
// recipients made of them never put a line break into the To header that is not a fold.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "korrin/mail/SmtpSender.h"

using namespace korrin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string list(reinterpret_cast<const char*>(data), size);
    const auto pieces = SplitEnvelopeList(list);
    std::string joined;
    std::size_t at = 0;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (pieces[i].find_first_of(",;\t") != std::string::npos)
            std::abort();
        joined += pieces[i];
        at += pieces[i].size();
        if (i + 1 < pieces.size()) {
            if (at >= list.size())
                std::abort();
            joined += list[at++];
        }
    }
    if (joined != list)
        std::abort();
    CMailUtil mail;
    for (const auto& p : pieces)
        if (p.empty() || p.front() != '@')  // address files are the recipients target's
            mail.AddTo(p, p);
    const std::string to = mail.FindHeader("To");
    for (std::size_t i = 0; i < to.size(); ++i) {
        if (to[i] == '\r' && i + 2 < to.size() && to[i + 1] == '\n' && to[i + 2] == '\t') {
            i += 2;  // a fold
            continue;
        }
        if (to[i] == '\r' || to[i] == '\n')
            std::abort();
    }
    return 0;
}
