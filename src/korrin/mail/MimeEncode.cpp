#include "korrin/mail/MimeEncode.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <ctime>

#include "platform/Text.h"
#include "platform/registry/Registry.h"

namespace korrin {

namespace {

// The content type read from the registry holds at most this many bytes with its zero.
constexpr platform::DWORD kContentTypeBytes = 64;

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Two output characters for every 12-bit value, so a group of three bytes takes two lookups.
struct PairTable {
    std::array<std::uint16_t, 4096> v{};
    PairTable() {
        for (int i = 0; i < 4096; ++i) {
            unsigned char a = kBase64Alphabet[i >> 6], b = kBase64Alphabet[i & 63];
            std::memcpy(&v[i], std::array<unsigned char, 2>{a, b}.data(), 2);
        }
    }
};
const PairTable& Pairs() {
    static const PairTable table;
    return table;
}

}  // namespace

namespace mail {

// Text that goes inside double quotes: quotes and backslashes escaped, controls dropped.
std::string QuotedText(std::string_view s) {
    std::string out;
    for (char c : s) {
        if (static_cast<unsigned char>(c) < 32 || c == 127)
            continue;
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}

std::string FileNameOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::size_t Base64Lines(const std::uint8_t* in, std::size_t size, char* out) {
    const auto& pairs = Pairs().v;
    char* o = out;
    while (size >= 57) {
        for (int g = 0; g < 19; ++g) {
            std::uint32_t n = (std::uint32_t(in[0]) << 16) | (std::uint32_t(in[1]) << 8) | in[2];
            std::memcpy(o, &pairs[n >> 12], 2);
            std::memcpy(o + 2, &pairs[n & 0xFFF], 2);
            in += 3;
            o += 4;
        }
        o[0] = '\r';
        o[1] = '\n';
        o += 2;
        size -= 57;
    }
    if (size == 0)
        return static_cast<std::size_t>(o - out);
    while (size >= 3) {
        std::uint32_t n = (std::uint32_t(in[0]) << 16) | (std::uint32_t(in[1]) << 8) | in[2];
        std::memcpy(o, &pairs[n >> 12], 2);
        std::memcpy(o + 2, &pairs[n & 0xFFF], 2);
        in += 3;
        o += 4;
        size -= 3;
    }
    if (size > 0) {
        std::uint32_t n = std::uint32_t(in[0]) << 16;
        if (size == 2)
            n |= std::uint32_t(in[1]) << 8;
        o[0] = kBase64Alphabet[(n >> 18) & 63];
        o[1] = kBase64Alphabet[(n >> 12) & 63];
        o[2] = size == 2 ? kBase64Alphabet[(n >> 6) & 63] : '=';
        o[3] = '=';
        o += 4;
    }
    o[0] = '\r';
    o[1] = '\n';
    o += 2;
    return static_cast<std::size_t>(o - out);
}

std::string QuotedPrintable(std::string_view text) {
    // 0: written as it is; 1: encoded; 2: line-end characters, handled apart.
    static const auto kind = [] {
        std::array<std::uint8_t, 256> k{};
        for (int c = 0; c < 256; ++c)
            k[c] = (c < 32 && c != '\t') || c == '=' || c >= 127 ? 1 : 0;
        k['\r'] = k['\n'] = 2;
        return k;
    }();
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    out.resize(text.size() * 3 + text.size() / 24 * 3 + 16);
    char* o = out.data();
    int column = 0;
    char last = 0;  // the byte written before, for blanks at a line end
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        unsigned char c = *p;
        switch (kind[c]) {
            case 0:
                *o++ = static_cast<char>(c);
                last = static_cast<char>(c);
                ++column;
                ++p;
                break;
            case 1:
                *o++ = '=';
                *o++ = hex[c >> 4];
                *o++ = hex[c & 15];
                last = 0;
                column += 3;
                ++p;
                break;
            default:
                if (c == '\r' && (p + 1 == end || p[1] != '\n')) {
                    // A CR alone is no line end; as a raw byte it could make one on the wire.
                    *o++ = '=';
                    *o++ = '0';
                    *o++ = 'D';
                    last = 0;
                    column += 3;
                    ++p;
                    break;
                }
                // CR LF, or a LF alone: one line end, written CR LF. A blank before it would
                // be dropped by the reader, so a soft break keeps it.
                if (last == ' ' || last == '\t') {
                    *o++ = '=';
                    *o++ = '\r';
                    *o++ = '\n';
                }
                *o++ = '\r';
                *o++ = '\n';
                p += c == '\r' ? 2 : 1;
                column = 0;
                last = 0;
                continue;
        }
        if (column >= 73) {
            *o++ = '=';
            *o++ = '\r';
            *o++ = '\n';
            column = 0;
            last = 0;
        }
    }
    if (column != 0) {
        *o++ = '=';
        *o++ = '\r';
        *o++ = '\n';
    }
    out.resize(static_cast<std::size_t>(o - out.data()));
    return out;
}

std::string Rfc822Date(std::time_t t) {
    std::tm local{}, utc{};
    localtime_r(&t, &local);
    gmtime_r(&t, &utc);
    int zone = (local.tm_hour - utc.tm_hour) * 60 + (local.tm_min - utc.tm_min);
    if (utc.tm_year > local.tm_year ||
        (utc.tm_year == local.tm_year && utc.tm_yday > local.tm_yday))
        zone -= 1440;
    else if (utc.tm_year < local.tm_year ||
             (utc.tm_year == local.tm_year && utc.tm_yday < local.tm_yday))
        zone += 1440;
    static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char zoneText[8];
    if (zone == 0) {
        std::strcpy(zoneText, "GMT");
    } else {
        int a = zone < 0 ? -zone : zone;
        if (a > 1439)
            a = 1439;
        std::snprintf(zoneText, sizeof zoneText, "%c%02d%02d", zone < 0 ? '-' : '+', a / 60,
                      a % 60);
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %d %s %d %02d:%02d:%02d %s", days[local.tm_wday],
                  local.tm_mday, months[local.tm_mon], local.tm_year + 1900, local.tm_hour,
                  local.tm_min, local.tm_sec, zoneText);
    return buf;
}

std::string ContentTypeFor(const std::string& path) {
    std::string name = FileNameOf(path);
    auto dot = name.find_last_of('.');
    std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
    if (!ext.empty()) {
        platform::RegKeyGuard key;
        if (platform::RegOpenKeyEx(platform::HKEY_CLASSES_ROOT, "." + ext, key.out()) ==
            platform::ERROR_SUCCESS) {
            std::uint8_t data[kContentTypeBytes] = {};
            platform::DWORD type = 0, size = sizeof data;
            if (platform::RegQueryValueEx(key.get(), "Content Type", &type, data, &size) ==
                    platform::ERROR_SUCCESS &&
                (type == platform::REG_SZ || type == platform::REG_EXPAND_SZ)) {
                std::string value(reinterpret_cast<char*>(data), size);
                value = value.substr(0, value.find('\0'));
                std::erase_if(value, [](char c) { return static_cast<unsigned char>(c) < 32; });
                if (!value.empty())
                    return value + "; name=\"" + QuotedText(name) + "\"";
            }
        }
    }
    static const char* images[] = {"gif", "jpg", "tif", "tiff", "bmp", "jpeg", "pcd", "png"};
    std::string type = "unknown";
    for (const char* i : images)
        if (platform::EqualsNoCase(ext, i))
            type = "image";
    return type + "/" + (ext.empty() ? "unknown" : QuotedText(ext)) + "; name=\"" +
           QuotedText(name) + "\"";
}

std::string ContentTypeLines(const std::string& contentType) {
    std::string out = "Content-type: ";
    std::size_t start = 0;
    bool first = true;
    for (;;) {
        auto semi = contentType.find(';', start);
        std::string piece =
            contentType.substr(start, semi == std::string::npos ? std::string::npos : semi - start);
        if (first) {
            out += piece;
            if (piece.find('/') == std::string::npos)
                out += "/unknown";
            first = false;
        } else {
            auto eq = piece.find('=');
            std::string name = piece.substr(0, eq);
            name.erase(0, name.find_first_not_of(' '));
            std::string value = eq == std::string::npos ? "" : piece.substr(eq + 1);
            out += ";\r\n\t" + name + "=";
            if (!value.empty() && value.front() == '"') {
                // Up to the closing quote (an escaped quote does not close), then closed.
                std::size_t close = 1;
                while (close < value.size() && value[close] != '"')
                    close += value[close] == '\\' && close + 1 < value.size() ? 2 : 1;
                for (char c : value.substr(0, std::min(close, value.size())))
                    if (static_cast<unsigned char>(c) >= 32 && c != 127)
                        out += c;
                out += '"';
            } else {
                out += "\"" + QuotedText(value) + "\"";
            }
        }
        if (semi == std::string::npos)
            break;
        start = semi + 1;
    }
    return out + "\r\n";
}

std::string Base64(std::string_view text) {
    std::string out(Base64Size(text.size()), '\0');
    Base64To(text, out.data());
    return out;
}

void Base64To(std::string_view text, char* out) {
    for (std::size_t i = 0; i < text.size(); i += 3) {
        std::uint32_t v = static_cast<std::uint8_t>(text[i]) << 16;
        std::size_t n = std::min<std::size_t>(3, text.size() - i);
        if (n > 1)
            v |= static_cast<std::uint8_t>(text[i + 1]) << 8;
        if (n > 2)
            v |= static_cast<std::uint8_t>(text[i + 2]);
        *out++ = kBase64Alphabet[(v >> 18) & 63];
        *out++ = kBase64Alphabet[(v >> 12) & 63];
        *out++ = n > 1 ? kBase64Alphabet[(v >> 6) & 63] : '=';
        *out++ = n > 2 ? kBase64Alphabet[v & 63] : '=';
    }
}

void DotStuff(const char* data, std::size_t size, bool& atLineStart, std::string& out) {
    const char* end = data + size;
    while (data < end) {
        if (atLineStart && *data == '.')
            out += '.';
        const void* nl = std::memchr(data, '\n', static_cast<std::size_t>(end - data));
        const char* stop = nl ? static_cast<const char*>(nl) + 1 : end;
        out.append(data, stop);
        atLineStart = nl != nullptr;
        data = stop;
    }
}

}  // namespace mail

}  // namespace korrin
