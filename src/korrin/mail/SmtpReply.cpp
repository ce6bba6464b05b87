#include "korrin/mail/SmtpReply.h"

#include <algorithm>
#include <chrono>

#include "korrin/mail/MailError.h"
#include "platform/Text.h"

namespace korrin {

namespace net = platform::net;

namespace mail {

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
    if (buffer.size() < kReplyBufferSize)
        buffer.resize(kReplyBufferSize);
    std::size_t have = 0;
    const std::size_t limit = kReplyBufferSize - 1;
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

}  // namespace mail

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

}  // namespace korrin
