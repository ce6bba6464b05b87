#include "tools/RegText.h"

#include <cstdio>

#include "platform/Endian.h"
#include "platform/Text.h"

namespace korrin::tools {

using platform::AsciiLower;
using platform::EqualsNoCase;

namespace {

// The registry refuses longer key names; saying so here gives the better message.
constexpr std::size_t kMaxKeyNameLength = 255;
// Hex data lines of a .reg file stay within 80 columns, the "\" included.
constexpr std::size_t kRegLineWidth = 80;

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = AsciiLower(c);
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// Hex data of any type: "hex:" for REG_BINARY, "hex(n):" for the rest.
std::string hexValue(std::string line, DWORD type, const std::vector<std::uint8_t>& data) {
    char tag[32];
    if (type == 3)
        std::snprintf(tag, sizeof tag, "hex:");
    else
        std::snprintf(tag, sizeof tag, "hex(%x):", type);
    line += tag;
    std::size_t column = line.size();
    for (std::size_t i = 0; i < data.size(); ++i) {
        const bool last = i + 1 == data.size();
        // Room for "xx," and, on a wrapped line, the "\" after it.
        if (i > 0 && column + 3 > kRegLineWidth - 1) {
            line += "\\\n  ";
            column = 2;
        }
        char byte[4];
        std::snprintf(byte, sizeof byte, last ? "%02x" : "%02x,", data[i]);
        line += byte;
        column += last ? 2 : 3;
    }
    return line + "\n";
}

}  // namespace

std::optional<RegKeyName> ParseRegKeyName(std::string_view text, std::string* error) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\\', start);
        if (end == std::string_view::npos)
            end = text.size();
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    RegKeyName key;
    if (parts.size() == 1 && parts[0].find('/') != std::string_view::npos) {
        if (error)
            *error = "key names are separated by '\\', not '/' (HKLM\\SOFTWARE\\...)";
        return std::nullopt;
    }
    if (EqualsNoCase(parts[0], "HKLM") || EqualsNoCase(parts[0], "HKEY_LOCAL_MACHINE")) {
        key.root = RegRoot::LocalMachine;
    } else if (EqualsNoCase(parts[0], "HKCR") || EqualsNoCase(parts[0], "HKEY_CLASSES_ROOT")) {
        key.root = RegRoot::ClassesRoot;
    } else {
        if (error)
            *error =
                "the key must start with HKLM, HKEY_LOCAL_MACHINE, HKCR or "
                "HKEY_CLASSES_ROOT";
        return std::nullopt;
    }
    for (std::size_t i = 1; i < parts.size(); ++i) {
        if (parts[i].empty())
            continue;
        if (RegNameHasControl(parts[i])) {
            if (error)
                *error = "a key name holds a control character, which a .reg file cannot carry";
            return std::nullopt;
        }
        if (parts[i].size() > kMaxKeyNameLength) {
            if (error)
                *error = "a key name is longer than 255 characters";
            return std::nullopt;
        }
        key.path.emplace_back(parts[i]);
    }
    return key;
}

bool RegNameHasControl(std::string_view name) {
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7f)
            return true;
    return false;
}

bool SameRegName(std::string_view a, std::string_view b) {
    return EqualsNoCase(a, b);
}

const char* RegRootName(RegRoot root) {
    return root == RegRoot::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CLASSES_ROOT";
}

std::string JoinRegPath(const std::vector<std::string>& path) {
    std::string joined;
    for (const auto& c : path) {
        if (!joined.empty())
            joined += '\\';
        joined += c;
    }
    return joined;
}

std::string FullRegKeyName(const RegKeyName& key) {
    std::string name = RegRootName(key.root);
    for (const auto& c : key.path)
        name += "\\" + c;
    return name;
}

std::optional<DWORD> ParseRegType(std::string_view text) {
    if (EqualsNoCase(text, "REG_SZ"))
        return 1;
    if (EqualsNoCase(text, "REG_BINARY"))
        return 3;
    if (EqualsNoCase(text, "REG_DWORD"))
        return 4;
    return std::nullopt;
}

std::string RegTypeName(DWORD type) {
    switch (type) {
        case 0:
            return "REG_NONE";
        case 1:
            return "REG_SZ";
        case 2:
            return "REG_EXPAND_SZ";
        case 3:
            return "REG_BINARY";
        case 4:
            return "REG_DWORD";
        default: {
            char buf[32];
            std::snprintf(buf, sizeof buf, "REG_0x%x", type);
            return buf;
        }
    }
}

std::optional<DWORD> ParseRegDword(std::string_view text) {
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && AsciiLower(text[1]) == 'x') {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        int d = hexDigit(c);
        if (d < 0 || static_cast<unsigned>(d) >= base)
            return std::nullopt;
        value = value * base + static_cast<unsigned>(d);
        if (value > 0xFFFFFFFFu)
            return std::nullopt;
    }
    return static_cast<DWORD>(value);
}

std::optional<std::vector<std::uint8_t>> ParseRegHex(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    text = trimBlanks(text);
    if (text.empty())
        return bytes;
    if (text.find(',') != std::string_view::npos) {
        std::size_t start = 0;
        while (start <= text.size()) {
            std::size_t end = text.find(',', start);
            if (end == std::string_view::npos)
                end = text.size();
            std::string_view item = trimBlanks(text.substr(start, end - start));
            if (item.empty() || item.size() > 2)
                return std::nullopt;
            int value = 0;
            for (char c : item) {
                int d = hexDigit(c);
                if (d < 0)
                    return std::nullopt;
                value = value * 16 + d;
            }
            bytes.push_back(static_cast<std::uint8_t>(value));
            start = end + 1;
        }
        return bytes;
    }
    if (text.size() % 2)
        return std::nullopt;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        int hi = hexDigit(text[i]);
        int lo = hexDigit(text[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    return bytes;
}

std::string RegFileQuote(std::string_view text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

std::string RegFileValue(const std::string& name, DWORD type,
                         const std::vector<std::uint8_t>& data) {
    std::string line = (name.empty() ? std::string("@") : RegFileQuote(name)) + "=";
    if (type == 1) {
        std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
        if (!text.empty() && text.back() == '\0')
            text.remove_suffix(1);
        // A line break or zero byte inside would not survive as a quoted string.
        if (text.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos)
            return line + RegFileQuote(text) + "\n";
    }
    if (type == 4 && data.size() == 4) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "dword:%08x", platform::LoadLE32(data.data()));
        return line + buf + "\n";
    }
    return hexValue(std::move(line), type, data);
}

}  // namespace korrin::tools
