// Log line escaping: whatever the bytes, the result is JSON string text (no control bytes,
// well-formed UTF-8) that decodes back to exactly the bytes given.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/seam/MessageSeam.h"

namespace {

// Checked by code point, independently of how the escaping walks the bytes.
bool wellFormedUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        int extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
        if (extra < 0 || i + static_cast<std::size_t>(extra) >= s.size())
            return false;
        std::uint32_t cp = extra == 0 ? b : b & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            const unsigned char c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80)
                return false;
            cp = cp << 6 | (c & 0x3F);
        }
        static const std::uint32_t minimum[] = {0, 0x80, 0x800, 0x10000};
        if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += static_cast<std::size_t>(extra) + 1;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string out = korrin::platform::JsonEscape(text);
    if (!wellFormedUtf8(out))
        std::abort();
    std::string back;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(out[i]);
        if (c < 0x20 || c == '"')
            std::abort();
        if (c != '\\') {
            back += out[i];
            continue;
        }
        if (++i >= out.size())
            std::abort();
        switch (out[i]) {
            case '"':
            case '\\':
                back += out[i];
                break;
            case 'n':
                back += '\n';
                break;
            case 'r':
                back += '\r';
                break;
            case 't':
                back += '\t';
                break;
            case 'u': {
                if (i + 4 >= out.size() || out.compare(i + 1, 2, "00") != 0)
                    std::abort();
                back += static_cast<char>(std::stoi(out.substr(i + 3, 2), nullptr, 16));
                i += 4;
                break;
            }
            default:
                std::abort();
        }
    }
    if (back != text)
        std::abort();
    return 0;
}
