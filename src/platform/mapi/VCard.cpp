#include "platform/mapi/VCard.h"

#include <cstdint>

#include "platform/Text.h"

namespace korrin::platform::mapi {
namespace {

// One decoded code point of UTF-8 at text[i], advancing i; a byte that starts no valid
// sequence is returned as itself (read as Latin-1) with *valid false.
char32_t NextCodePoint(std::string_view text, std::size_t& i, bool* valid) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    *valid = true;
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int len = 0;
    char32_t cp = 0;
    if ((b0 & 0xE0) == 0xC0 && b0 >= 0xC2) {
        len = 2;
        cp = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3;
        cp = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0 && b0 <= 0xF4) {
        len = 4;
        cp = b0 & 0x07;
    }
    if (len == 0 || i + len > text.size()) {
        *valid = false;
        ++i;
        return b0;
    }
    for (int k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(text[i + k]);
        if ((b & 0xC0) != 0x80) {
            *valid = false;
            ++i;
            return b0;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    const bool overlong = (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
    if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        *valid = false;
        ++i;
        return b0;
    }
    i += len;
    return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool IsControl(char32_t cp) {
    return cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029;
}

// The value as UTF-8 with every control character a blank. Bytes that are not UTF-8 are
// read as Latin-1 (what a card without a charset most often holds), so the result is always
// UTF-8; latin1 says the whole value is Latin-1.
std::string CleanText(std::string_view raw, bool latin1) {
    std::string out;
    out.reserve(raw.size());
    bool ascii = true;
    for (char c : raw)
        if (static_cast<unsigned char>(c) >= 0x80 || static_cast<unsigned char>(c) < 0x20 ||
            c == 0x7F) {
            ascii = false;
            break;
        }
    if (ascii)
        return std::string(raw);
    for (std::size_t i = 0; i < raw.size();) {
        char32_t cp;
        if (latin1) {
            cp = static_cast<unsigned char>(raw[i++]);
        } else {
            bool valid;
            cp = NextCodePoint(raw, i, &valid);
        }
        AppendUtf8(out, IsControl(cp) ? U' ' : cp);
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = AsciiLower(c);
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string DecodeQuotedPrintable(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in[i] == '=' && i + 2 < in.size()) {
            const int hi = HexDigit(in[i + 1]), lo = HexDigit(in[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        if (in[i] == '=' && i + 1 == in.size())
            break;  // a soft line break left at the end
        out += in[i];
    }
    return out;
}

// Splits at unescaped sep and removes the escapes (\n and \N become a line break, which
// CleanText then blanks; \x becomes x).
std::vector<std::string> SplitUnescape(std::string_view value, char sep) {
    std::vector<std::string> parts(1);
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '\\' && i + 1 < value.size()) {
            const char n = value[++i];
            parts.back() += (n == 'n' || n == 'N') ? '\n' : n;
        } else if (c == sep) {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

std::string Unescape(std::string_view value) {
    return SplitUnescape(value, '\0').front();
}

std::string Trim(std::string s) {
    const auto b = s.find_first_not_of(' ');
    if (b == std::string::npos)
        return {};
    const auto e = s.find_last_not_of(' ');
    return s.substr(b, e - b + 1);
}

struct ContentLine {
    std::string_view group;
    std::string_view name;
    std::string type;  // TYPE values (and bare 2.1 parameters), comma-joined
    bool quotedPrintable = false;
    bool latin1 = false;
    std::string_view value;
};

// Splits one unfolded line; false when it has no ':' outside quotes.
bool SplitLine(std::string_view line, ContentLine* out) {
    std::size_t i = 0;
    while (i < line.size() && line[i] != ';' && line[i] != ':')
        ++i;
    if (i == line.size())
        return false;
    std::string_view name = line.substr(0, i);
    const auto dot = name.rfind('.');
    if (dot != std::string_view::npos) {
        out->group = name.substr(0, dot);
        name = name.substr(dot + 1);
    }
    out->name = name;
    auto addType = [out](std::string_view v) {
        const std::string t(v);
        std::size_t start = 0;
        while (start <= t.size()) {
            auto end = t.find(',', start);
            if (end == std::string::npos)
                end = t.size();
            const std::string one = t.substr(start, end - start);
            if (!one.empty() && !EqualsNoCase(one, "internet") && !EqualsNoCase(one, "pref")) {
                if (!out->type.empty())
                    out->type += ',';
                out->type += CleanText(one, false);
            }
            start = end + 1;
        }
    };
    while (line[i] == ';') {
        const std::size_t start = ++i;
        bool quoted = false;
        while (i < line.size() && (quoted || (line[i] != ';' && line[i] != ':'))) {
            if (line[i] == '"')
                quoted = !quoted;
            ++i;
        }
        if (i == line.size())
            return false;
        std::string_view param = line.substr(start, i - start);
        const auto eq = param.find('=');
        std::string_view pname = eq == std::string_view::npos ? param : param.substr(0, eq);
        std::string_view pvalue = eq == std::string_view::npos ? param : param.substr(eq + 1);
        if (pvalue.size() >= 2 && pvalue.front() == '"' && pvalue.back() == '"')
            pvalue = pvalue.substr(1, pvalue.size() - 2);
        if (eq == std::string_view::npos) {
            if (EqualsNoCase(param, "QUOTED-PRINTABLE"))
                out->quotedPrintable = true;
            else
                addType(param);
        } else if (EqualsNoCase(pname, "TYPE")) {
            addType(pvalue);
        } else if (EqualsNoCase(pname, "ENCODING")) {
            out->quotedPrintable = EqualsNoCase(pvalue, "QUOTED-PRINTABLE");
        } else if (EqualsNoCase(pname, "CHARSET")) {
            out->latin1 = EqualsNoCase(pvalue, "ISO-8859-1") ||
                          EqualsNoCase(pvalue, "WINDOWS-1252") || EqualsNoCase(pvalue, "LATIN1");
        }
    }
    out->value = line.substr(i + 1);
    return true;
}

struct Reader {
    std::string_view text;
    std::size_t pos = 0;

    bool Done() const { return pos >= text.size(); }

    // The next physical line without its line end.
    std::string_view Physical() {
        const auto nl = text.find('\n', pos);
        std::string_view line =
            text.substr(pos, nl == std::string_view::npos ? text.npos : nl - pos);
        pos = nl == std::string_view::npos ? text.size() : nl + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        return line;
    }
    bool ContinuationNext() const {
        return pos < text.size() && (text[pos] == ' ' || text[pos] == '\t');
    }
    // The next logical line: folded continuations joined into buffer when there are any.
    std::string_view Logical(std::string& buffer) {
        std::string_view line = Physical();
        if (!ContinuationNext())
            return line;
        buffer.assign(line);
        while (ContinuationNext())
            buffer.append(Physical().substr(1));
        return buffer;
    }
    // A quoted-printable value whose line ends in '=' goes on in the next physical line.
    void QuotedPrintableRest(std::string& buffer, std::string_view& line) {
        if (line.empty() || line.back() != '=' || Done())
            return;
        if (line.data() != buffer.data())
            buffer.assign(line);
        while (!buffer.empty() && buffer.back() == '=' && !Done()) {
            buffer.pop_back();
            std::string_view next = Physical();
            if (!next.empty() && (next.front() == ' ' || next.front() == '\t'))
                next.remove_prefix(1);
            buffer.append(next);
        }
        line = buffer;
    }
};

std::string Value(const ContentLine& cl) {
    if (cl.quotedPrintable)
        return DecodeQuotedPrintable(cl.value);
    return std::string(cl.value);
}

}  // namespace

std::string FoldCase(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            out += AsciiLower(text[i++]);
            continue;
        }
        const std::size_t start = i;
        bool valid;
        char32_t cp = NextCodePoint(text, i, &valid);
        if (!valid) {
            out.append(text.substr(start, i - start));
            continue;
        }
        if ((cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) || (cp >= 0x391 && cp <= 0x3AB) ||
            (cp >= 0x410 && cp <= 0x42F))
            cp += 0x20;
        else if (cp >= 0x400 && cp <= 0x40F)
            cp += 0x50;
        else if (cp >= 0x100 && cp <= 0x17F && cp != 0x130 && cp != 0x131 && cp != 0x138 &&
                 cp != 0x149 && cp != 0x17F) {
            // Latin Extended-A pairs capitals with the next code point, but the run
            // U+0139..U+0148 and U+0179..U+017E starts on an odd one.
            const bool oddRun = (cp >= 0x139 && cp <= 0x148) || (cp >= 0x179 && cp <= 0x17E);
            if (oddRun ? (cp % 2 == 1) : (cp % 2 == 0))
                ++cp;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

VCardFile ParseVCards(std::string_view text) {
    VCardFile file;
    auto damaged = [&file](std::string why) {
        file.cards.clear();
        file.error = std::move(why);
        return file;
    };
    if (text.find('\0') != std::string_view::npos)
        return damaged("a NUL byte");
    // A byte order mark some programs put first.
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);

    Reader reader{text};
    std::string buffer;
    bool inCard = false;
    VCardContact card;
    std::string givenFamily;
    // Group name to label, and which e-mails belong to a group, for X-ABLABEL.
    std::vector<std::pair<std::string, std::string>> labels;
    std::vector<std::string> emailGroups;
    int lineNumber = 0;
    while (!reader.Done()) {
        std::string_view line = reader.Logical(buffer);
        ++lineNumber;
        if (line.empty() && !inCard)
            continue;
        ContentLine cl;
        if (!SplitLine(line, &cl)) {
            if (line.find_first_not_of(" \t") == std::string_view::npos)
                continue;
            return damaged("line " + std::to_string(lineNumber) + " has no ':'");
        }
        if (EqualsNoCase(cl.name, "BEGIN")) {
            if (!EqualsNoCase(cl.value, "VCARD"))
                return damaged("BEGIN of something other than a card");
            if (inCard)
                return damaged("a card inside a card");
            inCard = true;
            card = {};
            givenFamily.clear();
            labels.clear();
            emailGroups.clear();
            continue;
        }
        if (!inCard)
            return damaged("text outside a card at line " + std::to_string(lineNumber));
        if (cl.quotedPrintable) {
            reader.QuotedPrintableRest(buffer, line);
            cl = {};
            SplitLine(line, &cl);
        }
        if (EqualsNoCase(cl.name, "END")) {
            if (!EqualsNoCase(cl.value, "VCARD"))
                return damaged("END of something other than a card");
            inCard = false;
            for (std::size_t k = 0; k < card.emails.size(); ++k) {
                if (emailGroups[k].empty())
                    continue;
                for (const auto& [group, label] : labels)
                    if (EqualsNoCase(group, emailGroups[k]))
                        card.emails[k].type = label;
            }
            if (card.formattedName.empty())
                card.formattedName = givenFamily;
            file.cards.push_back(std::move(card));
            continue;
        }
        if (EqualsNoCase(cl.name, "VERSION")) {
            if (cl.value != "2.1" && cl.value != "3.0" && cl.value != "4.0")
                return damaged("version " + CleanText(cl.value.substr(0, 16), false));
        } else if (EqualsNoCase(cl.name, "FN")) {
            card.formattedName = Trim(CleanText(Unescape(Value(cl)), cl.latin1));
        } else if (EqualsNoCase(cl.name, "N")) {
            const auto parts = SplitUnescape(Value(cl), ';');
            std::string joined;
            for (std::size_t k :
                 {std::size_t{3}, std::size_t{1}, std::size_t{2}, std::size_t{0}, std::size_t{4}}) {
                if (k >= parts.size())
                    continue;
                const std::string part = Trim(CleanText(parts[k], cl.latin1));
                if (part.empty())
                    continue;
                if (!joined.empty())
                    joined += ' ';
                joined += part;
            }
            givenFamily = joined;
        } else if (EqualsNoCase(cl.name, "NICKNAME")) {
            for (const auto& nick : SplitUnescape(Value(cl), ',')) {
                std::string clean = Trim(CleanText(nick, cl.latin1));
                if (!clean.empty())
                    card.nicknames.push_back(std::move(clean));
            }
        } else if (EqualsNoCase(cl.name, "EMAIL")) {
            std::string address = Trim(CleanText(Unescape(Value(cl)), cl.latin1));
            if (address.size() > 7 &&
                EqualsNoCase(std::string_view(address).substr(0, 7), "mailto:"))
                address.erase(0, 7);
            if (!address.empty()) {
                card.emails.push_back({std::move(address), cl.type});
                emailGroups.emplace_back(cl.group);
            }
        } else if (EqualsNoCase(cl.name, "UID")) {
            card.uid = Trim(CleanText(Unescape(Value(cl)), cl.latin1));
        } else if (EqualsNoCase(cl.name, "X-ABLABEL") && !cl.group.empty()) {
            labels.emplace_back(std::string(cl.group),
                                Trim(CleanText(Unescape(Value(cl)), cl.latin1)));
        }
    }
    if (inCard)
        return damaged("a card without its END");
    if (file.cards.empty())
        return damaged("no card");
    return file;
}

namespace {

std::string EscapeText(std::string_view value) {
    std::string out;
    for (char c : CleanText(value, false)) {
        if (c == '\\' || c == ',' || c == ';')
            out += '\\';
        out += c;
    }
    return out;
}

// Folds at 75 octets, never inside a UTF-8 sequence; each line ends in CRLF.
void AppendFolded(std::string& out, std::string_view line) {
    std::size_t limit = 75;
    while (line.size() > limit) {
        std::size_t cut = limit;
        while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
            --cut;
        out.append(line.substr(0, cut));
        out += "\r\n ";
        line.remove_prefix(cut);
        limit = 74;
    }
    out.append(line);
    out += "\r\n";
}

}  // namespace

std::string WriteVCard4(const std::string& uid, const std::string& name,
                        const std::string& address) {
    const std::string cleanName = Trim(CleanText(name, false));
    // N's family name is the last word, the given names the words before it.
    std::string given, family;
    const auto blank = cleanName.rfind(' ');
    if (blank == std::string::npos) {
        given = cleanName;
    } else {
        given = cleanName.substr(0, blank);
        family = cleanName.substr(blank + 1);
    }
    std::string out = "BEGIN:VCARD\r\nVERSION:4.0\r\n";
    AppendFolded(out, "UID:" + EscapeText(uid));
    AppendFolded(out, "FN:" + EscapeText(cleanName));
    AppendFolded(out, "N:" + EscapeText(family) + ";" + EscapeText(given) + ";;;");
    AppendFolded(out, "EMAIL:" + EscapeText(Trim(CleanText(address, false))));
    out += "END:VCARD\r\n";
    return out;
}

}  // namespace korrin::platform::mapi
