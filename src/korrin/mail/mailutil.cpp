#include "korrin/mail/mailutil.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>

#include <openssl/crypto.h>

#include "korrin/app/EventReport.h"
#include "korrin/app/Utils.h"
#include "korrin/app/Vendor.h"
#include "platform/Text.h"
#include "platform/files/Files.h"
#include "platform/registry/Registry.h"

namespace korrin {

namespace net = platform::net;

namespace {

constexpr const char* kMailLibraryLine = "Quillion mail library v6.0 (Korrin)";
constexpr std::size_t kFoldAfter = 75;
constexpr std::size_t kAddressLineMax = 126;
// An address file may name further address files; this deep and no deeper, so a file that
// names itself ends.
constexpr int kAddressFileDepth = 8;
constexpr std::size_t kAddressFileMax = 1 << 20;
// The content type read from the registry holds at most this many bytes with its zero.
constexpr platform::DWORD kContentTypeBytes = 64;

bool IsLineBreak(char c) {
    return c == '\r' || c == '\n';
}

bool HasControl(std::string_view s) {
    for (unsigned char c : s)
        if ((c < 32 && c != '\t') || c == 127)
            return true;
    return false;
}

// Line breaks that are not a fold (CR LF + blank or TAB) become one blank.
std::string CleanHeaderValue(std::string_view v) {
    std::string out;
    out.reserve(v.size());
    for (std::size_t i = 0; i < v.size();) {
        if (!IsLineBreak(v[i])) {
            out += v[i++];
            continue;
        }
        std::size_t j = i;
        while (j < v.size() && IsLineBreak(v[j]))
            ++j;
        bool fold = j - i == 2 && v[i] == '\r' && v[i + 1] == '\n' && j < v.size() &&
                    (v[j] == ' ' || v[j] == '\t') && !out.empty();
        out += fold ? "\r\n" : " ";
        i = j;
    }
    return out;
}

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

std::string Trim(std::string_view s) {
    auto a = s.find_first_not_of(" \t");
    if (a == std::string_view::npos)
        return {};
    auto b = s.find_last_not_of(" \t");
    return std::string(s.substr(a, b - a + 1));
}

std::string FileNameOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void Put(std::FILE* out, std::string_view s) {
    if (!s.empty() && std::fwrite(s.data(), 1, s.size(), out) != s.size())
        throw CSMTPError(CSMTPError::kOther);
}

// Shared count of live CSMTPEmail objects; the network layer is cleaned up with the last.
std::mutex g_liveMutex;
int g_live = 0;
bool g_startedByUs = false;

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

// ---------------------------------------------------------------------------------------------
// Encoders and small parsers

namespace mail {

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

std::vector<std::string> SplitRecipientList(std::string_view list) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= list.size(); ++i) {
        if (i == list.size() || list[i] == ',' || list[i] == ' ') {
            if (i > start)
                out.emplace_back(list.substr(start, i - start));
            start = i + 1;
        }
    }
    return out;
}

std::string BareAddress(std::string_view address) {
    auto lt = address.find('<');
    if (lt != std::string_view::npos) {
        auto gt = address.find('>', lt + 1);
        return Trim(address.substr(lt + 1, gt == std::string_view::npos ? gt : gt - lt - 1));
    }
    return Trim(address);
}

std::string AddressFileLine(std::string_view line) {
    line = line.substr(0, kAddressLineMax);
    std::size_t n = 0;
    for (; n < line.size(); ++n) {
        char c = line[n];
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  std::strchr(".-_@<> '\"", c) != nullptr;
        if (!ok || c == '\0')
            break;
    }
    return std::string(line.substr(0, n));
}

bool ReplyComplete(std::string_view r) {
    if (r.size() < 2 || r.substr(r.size() - 2) != "\r\n")
        return false;
    // The last line: after the CR LF before the final one.
    auto body = r.substr(0, r.size() - 2);
    auto nl = body.rfind("\r\n");
    auto last = nl == std::string_view::npos ? body : body.substr(nl + 2);
    bool continued = last.size() >= 4 && last[0] >= '0' && last[0] <= '9' && last[1] >= '0' &&
                     last[1] <= '9' && last[2] >= '0' && last[2] <= '9' && last[3] == '-';
    return !continued;
}

bool ReplyAccepted(std::string_view reply) {
    return !reply.empty() && reply[0] >= '1' && reply[0] <= '3';
}

int ReadReply(net::IStream& s, std::vector<char>& buffer, int timeoutMs, std::string& reply) {
    if (buffer.size() < CSMTPEmail::kReplyBufferSize)
        buffer.resize(CSMTPEmail::kReplyBufferSize);
    std::size_t have = 0;
    const std::size_t limit = CSMTPEmail::kReplyBufferSize - 1;
    auto start = std::chrono::steady_clock::now();
    do {
        if (have >= limit)
            return CSMTPError::kReceiveFailed;
        int left = timeoutMs;
        if (timeoutMs >= 0 && have > 0) {
            auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
            left = spent >= timeoutMs ? 0 : static_cast<int>(timeoutMs - spent);
        }
        long n = s.ReceiveSome(buffer.data() + have, limit - have, left);
        if (n <= 0)
            return CSMTPError::kReceiveFailed;
        have += static_cast<std::size_t>(n);
        buffer[have] = '\0';
    } while (!ReplyComplete(std::string_view(buffer.data(), have)));
    reply.assign(buffer.data(), have);
    return 0;
}

namespace {

bool IsKeywordChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

bool IsMechanismChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
}

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

// Words of a line, split at blanks and TABs.
std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        std::size_t j = i;
        while (j < line.size() && line[j] != ' ' && line[j] != '\t')
            ++j;
        if (j > i)
            words.push_back(line.substr(i, j - i));
        i = j;
    }
    return words;
}

void AddOnce(std::vector<std::string>& list, std::string item, std::size_t limit) {
    if (list.size() < limit && std::find(list.begin(), list.end(), item) == list.end())
        list.push_back(std::move(item));
}

}  // namespace

EhloInfo ParseEhloReply(std::string_view reply) {
    // A reply holds at most 4,095 bytes; these bounds only keep a hostile one small.
    constexpr std::size_t kMaxKeywords = 64, kMaxMechanisms = 32, kMaxWord = 64;
    EhloInfo info;
    bool first = true;
    while (!reply.empty()) {
        auto nl = reply.find('\n');
        std::string_view line = reply.substr(0, nl);
        reply = nl == std::string_view::npos ? std::string_view() : reply.substr(nl + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (first) {  // the greeting line names the server, not an extension
            first = false;
            continue;
        }
        // "250-KEYWORD params" or "250 KEYWORD params".
        if (line.size() < 5 || (line[3] != '-' && line[3] != ' '))
            continue;
        auto words = Words(line.substr(4));
        if (words.empty())
            continue;
        std::string_view keyword = words[0];
        std::size_t paramsFrom = 1;
        std::vector<std::string_view> mechanisms;
        // An old form some servers still send beside the standard one: "AUTH=LOGIN PLAIN".
        if (keyword.size() > 5 && Upper(keyword.substr(0, 5)) == "AUTH=") {
            mechanisms.push_back(keyword.substr(5));
            keyword = keyword.substr(0, 4);
        }
        if (keyword.size() > kMaxWord || !IsKeywordChar(keyword[0]) || keyword[0] == '-' ||
            !std::all_of(keyword.begin(), keyword.end(), IsKeywordChar))
            continue;
        std::string upper = Upper(keyword);
        AddOnce(info.keywords, upper, kMaxKeywords);
        if (upper != "AUTH")
            continue;
        for (std::size_t i = paramsFrom; i < words.size(); ++i)
            mechanisms.push_back(words[i]);
        for (auto m : mechanisms)
            if (!m.empty() && m.size() <= kMaxWord &&
                std::all_of(m.begin(), m.end(), IsMechanismChar))
                AddOnce(info.auth, Upper(m), kMaxMechanisms);
    }
    return info;
}

std::string Base64(std::string_view text) {
    std::string out;
    out.reserve((text.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < text.size(); i += 3) {
        std::uint32_t v = static_cast<std::uint8_t>(text[i]) << 16;
        std::size_t n = std::min<std::size_t>(3, text.size() - i);
        if (n > 1)
            v |= static_cast<std::uint8_t>(text[i + 1]) << 8;
        if (n > 2)
            v |= static_cast<std::uint8_t>(text[i + 2]);
        out += kBase64Alphabet[(v >> 18) & 63];
        out += kBase64Alphabet[(v >> 12) & 63];
        out += n > 1 ? kBase64Alphabet[(v >> 6) & 63] : '=';
        out += n > 2 ? kBase64Alphabet[v & 63] : '=';
    }
    return out;
}

void UseStoredSecurity(CSMTPEmail& mail) {
    CUtils utils;
    // Plain text only when it was chosen or nothing was: a value that is there but cannot be
    // read as a number (stored as text, damaged, the store busy) leaves the session no less
    // protected than it may have been asked to be.
    std::uint32_t security = utils.GetSettingDword(setting::kSmtpSecurity);
    platform::RegKeyGuard key;
    if (platform::RegOpenKeyEx(platform::HKEY_LOCAL_MACHINE, kKorrinKey, key.out()) ==
        platform::ERROR_SUCCESS) {
        std::uint8_t bytes[4] = {};
        platform::DWORD type = 0, size = sizeof bytes;
        const platform::LONG rc =
            platform::RegQueryValueEx(key.get(), setting::kSmtpSecurity, &type, bytes, &size);
        if (rc != platform::ERROR_FILE_NOT_FOUND &&
            (rc != platform::ERROR_SUCCESS || type != platform::REG_DWORD || size != 4))
            security = static_cast<std::uint32_t>(SmtpSecurity::kStartTls);
    }
    mail.SetSecurity(security);
    mail.SetCaFile(utils.GetSettingString(setting::kSmtpCaFile, 4096));
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

// ---------------------------------------------------------------------------------------------
// CMailUtil

void CMailUtil::raise(int code) {
    error_ = code;
    throw CSMTPError(code);
}

template <class F>
int CMailUtil::guarded(F&& body) {
    try {
        body();
        return 0;
    } catch (const CSMTPError& e) {
        error_ = e.code();
        return e.code();
    } catch (...) {
        error_ = CSMTPError::kOther;
        return CSMTPError::kOther;
    }
}

void CMailUtil::addRawHeader(const std::string& name, const std::string& value, HeaderMode mode) {
    for (auto& h : headers_) {
        if (!platform::EqualsNoCase(h.first, name))
            continue;
        if (mode == HeaderMode::kReplace)
            h.second = value;
        else
            h.second += (h.second.size() <= kFoldAfter ? "," : ",\r\n\t") + value;
        return;
    }
    headers_.emplace_back(name, value);
}

void CMailUtil::AddHeader(const std::string& name, const std::string& value, HeaderMode mode) {
    // A name is a run of printable characters without ':' (RFC 5322 2.2).
    std::string cleanName;
    for (char c : name)
        if (c > 32 && c < 127 && c != ':')
            cleanName += c;
    if (cleanName.empty())
        return;
    addRawHeader(cleanName, CleanHeaderValue(value), mode);
}

std::string CMailUtil::FindHeader(const std::string& name, const std::string& defaultValue) const {
    for (const auto& h : headers_)
        if (platform::EqualsNoCase(h.first, name))
            return h.second;
    return defaultValue;
}

void CMailUtil::SetSubject(const std::string& text) {
    AddHeader("Subject", text, HeaderMode::kReplace);
}

int CMailUtil::SetSenderAddress(const std::string& address) {
    return guarded([&] {
        std::string bare =
            address.find('<') != std::string::npos ? mail::BareAddress(address) : address;
        if (HasControl(address)) {
            KORRIN_REPORT("The sender address holds a line break and was refused.");
            raise(CSMTPError::kLineBreak);
        }
        addRawHeader("X-Sender", bare, HeaderMode::kReplace);
    });
}

int CMailUtil::SetFrom(const std::string& text) {
    return guarded([&] {
        if (HasControl(text)) {
            KORRIN_REPORT("The sender address holds a line break and was refused.");
            raise(CSMTPError::kLineBreak);
        }
        addRawHeader("From", text, HeaderMode::kReplace);
        bool haveSender = false;
        for (const auto& h : headers_)
            haveSender = haveSender || platform::EqualsNoCase(h.first, "X-Sender");
        if (!haveSender)
            addRawHeader("X-Sender", mail::BareAddress(text), HeaderMode::kReplace);
    });
}

void CMailUtil::addRecipient(const char* header, const std::string& displayName,
                             const std::string& address, int depth) {
    if (HasControl(address) || HasControl(displayName)) {
        KORRIN_REPORT("A recipient holds a line break and was refused.");
        raise(CSMTPError::kLineBreak);
    }
    if (!address.empty() && address.front() == '@') {
        if (depth >= kAddressFileDepth) {
            KORRIN_REPORT("Address files nested too deep.");
            raise(CSMTPError::kAddressFile);
        }
        // Only a plain file is a list of addresses: a folder would read as a list that adds
        // nobody, and a pipe or device could hold the sender up for good. The open itself does
        // not wait for a pipe's writer.
        int fd = platform::OpenRegularFile(address.substr(1));
        if (fd < 0)
            raise(CSMTPError::kAddressFile);
        std::unique_ptr<int, void (*)(int*)> closer(&fd, [](int* f) { ::close(*f); });
        // Bounded, so a file that keeps growing ends instead of filling the memory.
        std::string content;
        char block[4096];
        while (content.size() < kAddressFileMax) {
            ssize_t n = ::read(fd, block, sizeof block);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                raise(CSMTPError::kAddressFile);  // a list read in part would leave people out
            if (n == 0)
                break;
            content.append(block, static_cast<std::size_t>(n));
        }
        if (content.size() > kAddressFileMax)
            content.resize(kAddressFileMax);
        std::size_t start = 0;
        while (start < content.size()) {
            auto nl = content.find('\n', start);
            std::string_view line(content.data() + start,
                                  (nl == std::string::npos ? content.size() : nl) - start);
            start = nl == std::string::npos ? content.size() : nl + 1;
            std::string entry = mail::AddressFileLine(line);
            if (Trim(entry).empty())
                continue;
            addRecipient(header, "", entry, depth + 1);
        }
        return;
    }
    std::string bare = mail::BareAddress(address);
    if (bare.empty())
        return;
    if (header) {
        std::string value =
            displayName.empty() ? address : "\"" + QuotedText(displayName) + "\" <" + bare + ">";
        addRawHeader(header, value, HeaderMode::kAppend);
    }
    recipients_ += (recipients_.empty() ? "" : ",") + bare;
}

int CMailUtil::AddTo(const std::string& displayName, const std::string& address) {
    return guarded([&] { addRecipient("To", displayName, address, 0); });
}

int CMailUtil::AddCc(const std::string& displayName, const std::string& address) {
    return guarded([&] { addRecipient("Cc", displayName, address, 0); });
}

int CMailUtil::AddBcc(const std::string& address) {
    return guarded([&] { addRecipient(nullptr, "", address, 0); });
}

void CMailUtil::AddDate(const std::optional<std::string>& text) {
    if (text) {
        AddHeader("Date", *text, HeaderMode::kReplace);
        return;
    }
    for (const auto& h : headers_)
        if (platform::EqualsNoCase(h.first, "Date"))
            return;
    addRawHeader("Date", mail::Rfc822Date(std::time(nullptr)), HeaderMode::kReplace);
}

void CMailUtil::AddTextPart(const std::string& text) {
    CMailPart p;
    p.isText = true;
    p.contentType = "text/plain";
    p.encoding = CMailPart::kQuotedPrintable;
    const char* cs = std::getenv("MM_CHARSET");
    p.charset =
        cs && *cs && !HasControl(cs) && std::strpbrk(cs, ";\"") == nullptr ? cs : "iso-8859-1";
    p.data = text;
    parts_.push_back(std::move(p));
}

void CMailUtil::AddFilePart(const std::string& path) {
    CMailPart p;
    p.isText = false;
    p.contentType = mail::ContentTypeFor(path);
    p.encoding = CMailPart::kBase64;
    p.data = path;
    p.disposition = "attachment; filename=\"" + QuotedText(FileNameOf(path)) + "\"";
    parts_.push_back(std::move(p));
}

void CMailUtil::writeOut(std::FILE* out) {
    addRawHeader("MIME-Version", "1.0", HeaderMode::kReplace);
    addRawHeader("X-MailLibrary", kMailLibraryLine, HeaderMode::kReplace);
    if (FindHeader("From", "").empty())
        addRawHeader("From", FindHeader("X-Sender", "(NULL)"), HeaderMode::kReplace);
    if (parts_.empty())
        return;
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now().time_since_epoch())
                  .count();
    boundary_ = "PART.BOUNDARY.MU." + std::to_string(static_cast<std::int32_t>(getpid())) + "." +
                std::to_string(static_cast<std::int32_t>(std::time(nullptr))) + "." +
                std::to_string(static_cast<std::int32_t>(ms));
    addRawHeader("Content-type", "multipart/mixed;\r\n\tboundary=" + boundary_ + "\r\n\r\n",
                 HeaderMode::kReplace);
    for (const auto& h : headers_)
        Put(out, h.first + ": " + h.second + "\r\n");
    Put(out,
        "> THIS IS A MESSAGE IN 'MIME' FORMAT.  Your mail reader does not support MIME.\r\n"
        "> Some parts of this will be readable as plain text.\r\n"
        "> To see the rest, you will need to upgrade your mail reader.\r\n");
    for (const auto& part : parts_) {
        Put(out, "\r\n--" + boundary_ + "\r\n");
        if (part.isText) {
            Put(out, "Content-type: text/plain; charset=" + part.charset + "\r\n");
            Put(out, "Content-Transfer-Encoding: quoted-printable\r\n\r\n");
            Put(out, mail::QuotedPrintable(part.data));
            continue;
        }
        std::FILE* in = std::fopen(part.data.c_str(), "rb");
        if (!in)
            raise(CSMTPError::kFileOpen);
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> guard(in, &std::fclose);
        Put(out, mail::ContentTypeLines(part.contentType));
        Put(out, "Content-Disposition: " + part.disposition + "\r\n");
        Put(out, "Content-Transfer-Encoding: base64\r\n\r\n");
        // Whole lines per read: 57 input bytes make one line of 76 characters.
        constexpr std::size_t kChunk = 57 * 1024;
        std::vector<std::uint8_t> buf(kChunk);
        std::vector<char> enc(mail::Base64OutputSize(kChunk));
        for (;;) {
            std::size_t got = 0;
            while (got < kChunk) {
                std::size_t n = std::fread(buf.data() + got, 1, kChunk - got, in);
                if (n == 0)
                    break;
                got += n;
            }
            if (std::ferror(in)) {
                KORRIN_REPORT("fread failed");
                raise(CSMTPError::kOther);
            }
            if (got > 0)
                Put(out,
                    std::string_view(enc.data(), mail::Base64Lines(buf.data(), got, enc.data())));
            if (got < kChunk)
                break;
        }
    }
    Put(out, "\r\n--" + boundary_ + "--\r\n");
    if (std::fflush(out) != 0 || std::ferror(out))
        raise(CSMTPError::kOther);
}

int CMailUtil::WriteOutMessage(std::FILE* out) {
    return guarded([&] { writeOut(out); });
}

std::FILE* CMailUtil::OpenTempMessageFile(std::string& path) {
    std::string dir = platform::GetTempPath();
    if (!platform::DirectoryExists(dir)) {
        KORRIN_REPORT("No temp path exists");
        return nullptr;
    }
    std::string name;
    int fd = platform::CreateUniqueFile(dir, "~mail", "", 0600, &name);
    if (fd < 0) {
        KORRIN_REPORT("mkstemp failed");
        return nullptr;
    }
    std::FILE* f = fdopen(fd, "w+b");
    if (!f) {
        ::close(fd);
        ::unlink(name.c_str());
        KORRIN_REPORT("fdopen failed");
        return nullptr;
    }
    path = name;
    return f;
}

// ---------------------------------------------------------------------------------------------
// CSMTPEmail

namespace {

net::TlsResult StartTlsOver(std::unique_ptr<net::IStream>& stream, const net::TlsOptions& options,
                            int timeoutMs, std::string& reason) {
    auto tls = std::make_unique<net::TlsStream>(std::move(stream), options);
    net::TlsResult r = tls->Handshake(timeoutMs);
    reason = r == net::TlsResult::kOk ? tls->Version() + ", " + tls->Cipher() : tls->Reason();
    stream = std::move(tls);
    return r;
}

// The reply without its last line end, its lines joined by one blank, for a box.
std::string OneLine(std::string_view reply) {
    std::string out;
    for (char c : reply) {
        if (c == '\r')
            continue;
        out += c == '\n' ? ' ' : c;
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

// True when every line but the last continues the reply ("ddd-"): one reply, nothing after it.
bool SingleReply(std::string_view reply) {
    std::size_t at = 0;
    for (;;) {
        auto nl = reply.find("\r\n", at);
        if (nl == std::string_view::npos || nl + 2 == reply.size())
            return true;
        if (nl - at < 4 || reply[at + 3] != '-')
            return false;
        at = nl + 2;
    }
}

}  // namespace

bool EhloInfo::Has(std::string_view keyword) const {
    for (const auto& k : keywords)
        if (platform::EqualsNoCase(k, keyword))
            return true;
    return false;
}

bool EhloInfo::HasAuth(std::string_view mechanism) const {
    for (const auto& m : auth)
        if (platform::EqualsNoCase(m, mechanism))
            return true;
    return false;
}

CSMTPEmail::CSMTPEmail() : tlsStarter_(&StartTlsOver), factory_(&net::MakeSocketStream) {
    std::lock_guard<std::mutex> lock(g_liveMutex);
    ++g_live;
}

CSMTPEmail::~CSMTPEmail() {
    if (!password_.empty())
        OPENSSL_cleanse(password_.data(), password_.size());
    for (auto& secret : secrets_)
        if (!secret.empty())
            OPENSSL_cleanse(secret.data(), secret.size());
    std::lock_guard<std::mutex> lock(g_liveMutex);
    if (--g_live == 0 && g_startedByUs) {
        net::NetCleanup();
        g_startedByUs = false;
    }
}

int CSMTPEmail::LiveObjects() {
    std::lock_guard<std::mutex> lock(g_liveMutex);
    return g_live;
}

std::uint16_t CSMTPEmail::DefaultPort(SmtpSecurity security) {
    switch (security) {
        case SmtpSecurity::kStartTls:
            return 587;
        case SmtpSecurity::kImplicitTls:
            return 465;
        default:
            return kDefaultPort;
    }
}

void CSMTPEmail::SetSecurity(std::uint32_t value) {
    security_ = value == 0   ? SmtpSecurity::kNone
                : value == 2 ? SmtpSecurity::kImplicitTls
                             : SmtpSecurity::kStartTls;
}

void CSMTPEmail::SetLogin(const std::string& account, const std::string& password) {
    if (!password_.empty())
        OPENSSL_cleanse(password_.data(), password_.size());
    account_ = account;
    password_ = password;
    secrets_.clear();
    if (!password_.empty()) {
        secrets_.push_back(mail::Base64(std::string(1, '\0') + account_ + '\0' + password_));
        secrets_.push_back(mail::Base64(password_));
        secrets_.push_back(password_);
    }
}

std::string CSMTPEmail::masked(std::string text) const {
    for (const auto& secret : secrets_) {
        if (secret.empty())
            continue;
        for (auto at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 8))
            text.replace(at, secret.size(), "********");
    }
    return text;
}

void CSMTPEmail::trace(const std::string& prefix, const std::string& text) const {
    if (!trace_)
        return;
    std::string_view rest(text);
    while (!rest.empty()) {
        auto nl = rest.find('\n');
        std::string_view line = rest.substr(0, nl);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        trace_(prefix + masked(std::string(line)));
        rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
    }
}

void CSMTPEmail::openConnection(std::unique_ptr<net::IStream>& socket) {
    {
        std::lock_guard<std::mutex> lock(g_liveMutex);
        if (!g_startedByUs) {
            if (net::NetStartup() != 0)
                raise(CSMTPError::kNoStartup);
            g_startedByUs = true;
        }
    }
    std::string host;
    std::uint16_t port = DefaultPort(security_);
    if (!net::SplitHostPort(server_, port, host, port))
        host.clear();
    host_ = host;
    socket = factory_ ? factory_() : nullptr;
    if (!socket)
        raise(CSMTPError::kNoSocket);
    switch (socket->Connect(host, port, timeouts_.connect)) {
        case net::ConnectResult::kOk:
            break;
        case net::ConnectResult::kNoSocket:
            raise(CSMTPError::kNoSocket);
        default:
            raise(CSMTPError::kNoConnection);
    }
    trace("-- ", "connected to " + host + " port " + std::to_string(port));
    if (security_ == SmtpSecurity::kImplicitTls)
        startTls(socket);
}

void CSMTPEmail::securityFailure(int code, const std::string& text) {
    failureText_ = masked(text);
    trace("-- ", failureText_);
    CEventReport().ShowError(failureText_);
    raise(code);
}

void CSMTPEmail::startTls(std::unique_ptr<net::IStream>& socket) {
    net::TlsOptions options{host_, caFile_};
    std::string reason;
    net::TlsResult r =
        tlsStarter_ ? tlsStarter_(socket, options, timeouts_.tls, reason) : net::TlsResult::kFailed;
    if (r == net::TlsResult::kOk) {
        trace("TLS: ", reason + ", certificate of " + host_ + " verified");
        return;
    }
    if (r == net::TlsResult::kNotVerified)
        securityFailure(CSMTPError::kCertificate,
                        "The SMTP server " + host_ + " could not prove that it is " + host_ + ": " +
                            reason +
                            ". Nothing was sent. Check the Outgoing SMTP server in "
                            "Edit->Preferences, or name the certificate to trust in the setting "
                            "\"SMTP CA File\".");
    securityFailure(CSMTPError::kTlsFailed, "A secure connection to the SMTP server " + host_ +
                                                " could not be made: " + reason +
                                                ". Nothing was sent.");
}

void CSMTPEmail::sendCommand(net::IStream& s, const std::string& text, int timeoutMs) {
    sendCommand(s, text, timeoutMs, text);
}

void CSMTPEmail::sendCommand(net::IStream& s, const std::string& text, int timeoutMs,
                             const std::string& traced) {
    if (text.empty())
        return;
    // A command is one line: a line break anywhere but at its end would start another.
    auto body = std::string_view(text).substr(0, text.size() - 2);
    if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0 ||
        body.find_first_of("\r\n") != std::string_view::npos) {
        KORRIN_REPORT("A command with a line break was refused.");
        raise(CSMTPError::kLineBreak);
    }
    trace("C: ", traced);
    if (s.SendAll(text.data(), text.size(), timeoutMs) != net::SendResult::kOk)
        raise(CSMTPError::kSendFailed);
}

std::string CSMTPEmail::readRaw(net::IStream& s, int timeoutMs) {
    if (buffer_.empty()) {
        try {
            buffer_.resize(kReplyBufferSize);
        } catch (const std::bad_alloc&) {
            raise(CSMTPError::kNoMemory);
        }
    }
    std::string reply;
    if (mail::ReadReply(s, buffer_, timeoutMs, reply) != 0)
        raise(CSMTPError::kReceiveFailed);
    trace("S: ", reply);
    return reply;
}

void CSMTPEmail::readReply(net::IStream& s, const char* label, int timeoutMs) {
    std::string reply = readRaw(s, timeoutMs);
    if (mail::ReplyAccepted(reply))
        return;
    refuse(label, reply);
}

void CSMTPEmail::refuse(const char* label, const std::string& reply) {
    // The reply as shown: without its final line end.
    std::string shown = masked(reply.substr(0, reply.size() - 2));
    std::string page = vendor::Page("PreferencesSmtp.html");
    std::string message = std::string(label) + " - " + shown +
                          ", Quillion EMail for Windows(tm) has detected a problem with your SMTP "
                          "server.  Please report this error to Quillion via email (" +
                          vendor::kSupportEmail + ") for assistance.  You may also wish to check " +
                          page + " or click the 'Fix info from the web' button below. ";
    CEventReport().ReportTip(message, "mailutil", __LINE__, std::string("More info from the Web"),
                             page);
    raise(CSMTPError::kServerError);
}

bool CSMTPEmail::hello(net::IStream& s, EhloInfo& info) {
    info = {};
    sendCommand(s, "EHLO " + localHost_ + "\r\n", timeouts_.command);
    std::string reply = readRaw(s, timeouts_.helo);
    if (mail::ReplyAccepted(reply)) {
        info = mail::ParseEhloReply(reply);
        return true;
    }
    // A server that does not know EHLO says so with a permanent refusal; a temporary one
    // (421 closing) ends the session as any other refusal.
    if (reply[0] != '5')
        refuse("EHLO ", reply);
    sendCommand(s, "HELO " + localHost_ + "\r\n", timeouts_.command);
    readReply(s, "HELO ", timeouts_.helo);
    return false;
}

void CSMTPEmail::login(net::IStream& s, const EhloInfo& info, bool extended) {
    if (account_.empty()) {
        trace("-- ", "no account: no login");
        return;
    }
    if (!extended || !info.Has("AUTH")) {
        trace("-- ", "the server asks for no login");
        return;
    }
    auto refused = [&](const std::string& reply) {
        securityFailure(CSMTPError::kLoginRefused, "The SMTP server " + host_ +
                                                       " refused the login of " + account_ + ": " +
                                                       OneLine(reply));
    };
    if (info.HasAuth("PLAIN")) {
        std::string response = mail::Base64(std::string(1, '\0') + account_ + '\0' + password_);
        sendCommand(s, "AUTH PLAIN " + response + "\r\n", timeouts_.command, "AUTH PLAIN ********");
        std::string reply = readRaw(s, timeouts_.helo);
        if (reply[0] != '2')
            refused(reply);
        return;
    }
    if (info.HasAuth("LOGIN")) {
        sendCommand(s, "AUTH LOGIN\r\n", timeouts_.command);
        std::string reply = readRaw(s, timeouts_.helo);
        if (reply[0] != '3')
            refused(reply);
        sendCommand(s, mail::Base64(account_) + "\r\n", timeouts_.command);
        reply = readRaw(s, timeouts_.helo);
        if (reply[0] != '3')
            refused(reply);
        sendCommand(s, mail::Base64(password_) + "\r\n", timeouts_.command, "********");
        reply = readRaw(s, timeouts_.helo);
        if (reply[0] != '2')
            refused(reply);
        return;
    }
    std::string offered;
    for (const auto& m : info.auth)
        offered += (offered.empty() ? "" : " ") + m;
    securityFailure(CSMTPError::kNoLoginMethod,
                    "The SMTP server " + host_ + " asks for a login by " +
                        (offered.empty() ? std::string("no named method") : offered) +
                        ", but Korrin logs in only by AUTH PLAIN or AUTH LOGIN. Nothing was sent.");
}

void CSMTPEmail::greetAndLogin(std::unique_ptr<net::IStream>& socket) {
    if (localHost_.empty() && !net::GetLocalHostName(localHost_))
        raise(CSMTPError::kNoHostName);
    if (security_ == SmtpSecurity::kNone) {
        sendCommand(*socket, "HELO " + localHost_ + "\r\n", timeouts_.command);
        readReply(*socket, "HELO ", timeouts_.helo);
        return;
    }
    EhloInfo info;
    bool extended = hello(*socket, info);
    if (security_ == SmtpSecurity::kStartTls) {
        if (!extended || !info.Has("STARTTLS"))
            securityFailure(CSMTPError::kNoStartTls,
                            "The SMTP server " + host_ +
                                " does not offer STARTTLS, so the message cannot go over an "
                                "encrypted connection. Nothing was sent.");
        sendCommand(*socket, "STARTTLS\r\n", timeouts_.command);
        std::string reply = readRaw(*socket, timeouts_.helo);
        if (reply[0] != '2')
            securityFailure(CSMTPError::kNoStartTls, "The SMTP server " + host_ +
                                                         " refused STARTTLS: " + OneLine(reply) +
                                                         ". Nothing was sent.");
        // Whatever came in plain text after the answer could have been put there by anyone on
        // the way; it must not be taken as the encrypted server's words.
        if (!SingleReply(reply))
            securityFailure(CSMTPError::kTlsFailed,
                            "A secure connection to the SMTP server " + host_ +
                                " could not be made: more than the answer to STARTTLS arrived "
                                "before encryption began. Nothing was sent.");
        startTls(socket);
        extended = hello(*socket, info);
    }
    login(*socket, info, extended);
}

void CSMTPEmail::sendMessageFile(net::IStream& s, std::FILE* file) {
    std::vector<char> piece(kPieceSize);
    std::string out;
    out.reserve(kPieceSize * 2);
    bool atLineStart = true;
    for (;;) {
        std::size_t n = std::fread(piece.data(), 1, piece.size(), file);
        if (n == 0) {
            if (std::ferror(file)) {
                KORRIN_REPORT("fread failed");
                raise(CSMTPError::kOther);
            }
            return;
        }
        out.clear();
        mail::DotStuff(piece.data(), n, atLineStart, out);
        if (s.SendAll(out.data(), out.size(), timeouts_.block) != net::SendResult::kOk)
            raise(CSMTPError::kSendFailed);
    }
}

void CSMTPEmail::_SendIt(std::unique_ptr<net::IStream>& socket) {
    openConnection(socket);
    readReply(*socket, "Welcome Message", timeouts_.greeting);
    greetAndLogin(socket);
    net::IStream& s = *socket;

    std::string sender = FindHeader("X-Sender", "(NULL)");
    sendCommand(s, "MAIL FROM:<" + sender + ">\r\n", timeouts_.command);
    readReply(s, "MAIL FROM: ", timeouts_.mailFrom);
    for (const auto& rcpt : mail::SplitRecipientList(recipients()))
        if (auto bare = mail::BareAddress(rcpt); !bare.empty()) {
            sendCommand(s, "RCPT TO:<" + bare + ">\r\n", timeouts_.command);
            readReply(s, "RCPT TO: ", timeouts_.rcptTo);
        }
    sendCommand(s, "DATA\r\n", timeouts_.command);
    readReply(s, "DATA", timeouts_.data);

    addRawHeader("Return-Path", sender, HeaderMode::kReplace);
    AddDate();
    std::string tempPath;
    std::FILE* file = OpenTempMessageFile(tempPath);
    if (!file)
        raise(CSMTPError::kFileOpen);
    // The temporary copy holds the user's message: it goes on every path out of here.
    struct Remove {
        std::FILE* f;
        std::string path;
        ~Remove() {
            std::fclose(f);
            ::unlink(path.c_str());
        }
    } remove{file, tempPath};
    if (int rc = WriteOutMessage(file); rc != 0)
        raise(rc);
    std::rewind(file);
    sendMessageFile(s, file);
    // The end of the data is the one text with a line break inside that goes out as it is.
    static constexpr char kEndOfData[] = "\r\n.\r\n";
    if (s.SendAll(kEndOfData, sizeof kEndOfData - 1, timeouts_.block) != net::SendResult::kOk)
        raise(CSMTPError::kSendFailed);
    readReply(s, "End of Message Tag", timeouts_.endOfData);
    // The server has taken the message. A QUIT that goes wrong now cannot undo that, and a
    // failure here would only have the message sent again.
    try {
        sendCommand(s, "QUIT\r\n", timeouts_.command);
        readReply(s, "Quit", timeouts_.quit);
    } catch (const CSMTPError& e) {
        clearError();
        trace("-- ", "the message was accepted; the end of the session failed (" +
                         std::to_string(e.code()) + ")");
    }
    socket->Close();
    socket.reset();
}

int CSMTPEmail::Send() {
    std::unique_ptr<net::IStream> socket;
    int rc = guarded([&] { _SendIt(socket); });
    if (socket)
        socket->Close();
    return rc;
}

int CSMTPEmail::CheckLogin() {
    std::unique_ptr<net::IStream> socket;
    int rc = guarded([&] {
        openConnection(socket);
        readReply(*socket, "Welcome Message", timeouts_.greeting);
        greetAndLogin(socket);
        sendCommand(*socket, "QUIT\r\n", timeouts_.command);
        readReply(*socket, "Quit", timeouts_.quit);
    });
    if (socket)
        socket->Close();
    return rc;
}

int CSMTPEmail::CheckConnection() {
    std::unique_ptr<net::IStream> socket;
    int rc = guarded([&] {
        openConnection(socket);
        readReply(*socket, "Check Connection - Welcome Message",
                  std::min(timeouts_.greeting, timeouts_.check));
        sendCommand(*socket, "QUIT\r\n", std::min(timeouts_.command, timeouts_.check));
        readReply(*socket, "Check Connection - QUIT", std::min(timeouts_.quit, timeouts_.check));
    });
    if (socket)
        socket->Close();
    return rc;
}

}  // namespace korrin
