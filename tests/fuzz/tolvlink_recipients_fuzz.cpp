// Recipient text as typed into the composer, split into the library's address-list entries and
// joined back. No entry is empty, carries a separator or blanks at its ends, the estimate
// bounds the entries, a joined list keeps to its limit, and a cut copy ends on a character
// boundary of the text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tolvlink/AdrText.h"

using namespace korrin::tolvlink;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.substr(0, text.find('\0'));
    const std::size_t estimate = EstimateEntries(text);
    std::string cut = text;
    std::vector<std::string> entries;
    for (char* p : SplitRecipients(cut.data()))
        entries.emplace_back(p);
    if (entries.size() > estimate)
        std::abort();
    for (const std::string& e : entries)
        if (e.empty() || e.find_first_of(kRecipientSeparators) != std::string::npos ||
            e.front() == ' ' || e.back() == ' ')
            std::abort();
    const std::size_t limit = size % 64;
    const std::string joined = JoinEntries(entries, limit);
    if (limit != 0 && joined.size() > limit)
        std::abort();
    char buffer[32];
    CopyCut(buffer, sizeof buffer, text);
    const std::string copy(buffer);
    if (copy.size() >= sizeof buffer || text.compare(0, copy.size(), copy) != 0)
        std::abort();
    // A cut copy loses at most the three bytes of a character that does not fit, and ends on a
    // character boundary unless the text is not UTF-8 there.
    const auto continues = [&](std::size_t i) {
        return (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
    };
    if (copy.size() < text.size()) {
        if (copy.size() + 3 < sizeof buffer - 1)
            std::abort();
        if (continues(copy.size()) &&
            (copy.size() != sizeof buffer - 1 || !continues(copy.size() - 1) ||
             !continues(copy.size() - 2) || !continues(copy.size() - 3)))
            std::abort();
    }
    return 0;
}
