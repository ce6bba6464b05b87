#include "tolvlink/AdrText.h"

#include <cstring>

namespace korrin::tolvlink {

std::size_t EstimateEntries(std::string_view text) {
    if (text.empty())
        return 0;
    std::size_t n = 1;
    for (char c : text)
        if (kRecipientSeparators.find(c) != std::string_view::npos)
            ++n;
    return n;
}

std::vector<char*> SplitRecipients(char* text) {
    std::vector<char*> pieces;
    if (!text)
        return pieces;
    char* p = text;
    for (;;) {
        const std::size_t n = std::strcspn(p, ",;\t");
        const bool last = p[n] == '\0';
        p[n] = '\0';
        char* b = p;
        while (*b == ' ')
            ++b;
        char* e = p + n;
        while (e > b && e[-1] == ' ')
            *--e = '\0';
        if (*b)
            pieces.push_back(b);
        if (last)
            break;
        p += n + 1;
    }
    return pieces;
}

std::string JoinEntries(const std::vector<std::string>& entries, std::size_t limit) {
    std::string out;
    std::vector<std::size_t> ends;  // the length after each entry taken
    for (const std::string& entry : entries) {
        const std::size_t add = (out.empty() ? 0 : 2) + entry.size();
        if (limit != 0 && out.size() + add > limit) {
            while (!ends.empty() && ends.back() + kListCut.size() > limit) {
                ends.pop_back();
                out.resize(ends.empty() ? 0 : ends.back());
            }
            if (out.size() + kListCut.size() <= limit)
                out += kListCut;
            return out;
        }
        if (!out.empty())
            out += "; ";
        out += entry;
        ends.push_back(out.size());
    }
    return out;
}

std::size_t Utf8Prefix(std::string_view text, std::size_t max) {
    if (text.size() <= max)
        return text.size();
    // Step back over continuation bytes to the start of the character that does not fit: three
    // at most, the most a character has. Text that is not UTF-8 there is cut where it is.
    std::size_t n = max;
    while (n > 0 && max - n < 3 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;
    return (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80 ? max : n;
}

void CopyCut(char* out, std::size_t size, std::string_view text) {
    if (!out || size == 0)
        return;
    const std::size_t n = Utf8Prefix(text, size - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

}  // namespace korrin::tolvlink
