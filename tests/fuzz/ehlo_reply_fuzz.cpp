// Server bytes read as an EHLO reply: whatever they hold, every keyword and mechanism that comes
// out is upper case, well formed and listed once, and the lists stay small.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "korrin/mail/mailutil.h"

using namespace korrin;

namespace {

bool WellFormed(const std::string& word, bool mechanism) {
    if (word.empty() || word.size() > 64)
        return false;
    for (char c : word) {
        bool ok =
            (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || (mechanism && c == '_');
        if (!ok)
            return false;
    }
    return true;
}

void CheckList(const std::vector<std::string>& list, bool mechanism, std::size_t limit) {
    if (list.size() > limit)
        std::abort();
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (!WellFormed(list[i], mechanism))
            std::abort();
        if (std::find(list.begin() + static_cast<long>(i) + 1, list.end(), list[i]) != list.end())
            std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view reply(reinterpret_cast<const char*>(data), size);
    EhloInfo info = mail::ParseEhloReply(reply);
    CheckList(info.keywords, false, 64);
    CheckList(info.auth, true, 32);
    if (!info.keywords.empty() && info.keywords.front().front() == '-')
        std::abort();
    // Mechanisms only come from an AUTH line.
    if (!info.auth.empty() && !info.Has("auth"))
        std::abort();
    for (const auto& m : info.auth)
        if (!info.HasAuth(m))
            std::abort();
    return 0;
}
