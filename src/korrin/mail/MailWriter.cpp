#include "korrin/mail/MailWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "korrin/app/EventReport.h"
#include "korrin/mail/MimeEncode.h"
#include "platform/Text.h"
#include "platform/files/Files.h"

namespace korrin {

namespace {

// Reports name the module, mailutil, whichever of its files they come from.
void Report(const std::string& message, int line = __builtin_LINE()) {
    CEventReport().Report(message, "mailutil", line);
}

}  // namespace

namespace {

using mail::FileNameOf;
using mail::QuotedText;

constexpr const char* kMailLibraryLine = "Quillion mail library v6.0 (Korrin)";
constexpr std::size_t kFoldAfter = 75;
constexpr std::size_t kAddressLineMax = 126;
// An address file may name further address files; this deep and no deeper, so a file that
// names itself ends.
constexpr int kAddressFileDepth = 8;
constexpr std::size_t kAddressFileMax = 1 << 20;

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

std::string Trim(std::string_view s) {
    auto a = s.find_first_not_of(" \t");
    if (a == std::string_view::npos)
        return {};
    auto b = s.find_last_not_of(" \t");
    return std::string(s.substr(a, b - a + 1));
}

class FileOut : public CMailUtil::MessageOut {
  public:
    explicit FileOut(std::FILE* f) : f_(f) {}
    void Put(std::string_view s) override {
        if (!s.empty() && std::fwrite(s.data(), 1, s.size(), f_) != s.size())
            throw CSMTPError(CSMTPError::kOther);
    }

  private:
    std::FILE* f_;
};

}  // namespace

namespace mail {

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

}  // namespace mail

void CMailUtil::raise(int code) {
    error_ = code;
    throw CSMTPError(code);
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
            Report("The sender address holds a line break and was refused.");
            raise(CSMTPError::kLineBreak);
        }
        addRawHeader("X-Sender", bare, HeaderMode::kReplace);
    });
}

void CMailUtil::addRecipient(const char* header, const std::string& displayName,
                             const std::string& address, int depth) {
    if (HasControl(address) || HasControl(displayName)) {
        Report("A recipient holds a line break and was refused.");
        raise(CSMTPError::kLineBreak);
    }
    if (!address.empty() && address.front() == '@') {
        if (depth >= kAddressFileDepth) {
            Report("Address files nested too deep.");
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
        while (content.size() <= kAddressFileMax) {
            ssize_t n = ::read(fd, block, sizeof block);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                raise(CSMTPError::kAddressFile);  // a list read in part would leave people out
            if (n == 0)
                break;
            content.append(block, static_cast<std::size_t>(n));
        }
        // A list read in part would leave the people on its last lines out without a word.
        if (content.size() > kAddressFileMax) {
            Report("The address file " + address.substr(1) +
                   " is larger than 1 MB and was refused.");
            raise(CSMTPError::kAddressFile);
        }
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

void CMailUtil::writeOut(MessageOut& out) {
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
        out.Put(h.first + ": " + h.second + "\r\n");
    out.Put(
        "> THIS IS A MESSAGE IN 'MIME' FORMAT.  Your mail reader does not support MIME.\r\n"
        "> Some parts of this will be readable as plain text.\r\n"
        "> To see the rest, you will need to upgrade your mail reader.\r\n");
    for (const auto& part : parts_) {
        out.Put("\r\n--" + boundary_ + "\r\n");
        if (part.isText) {
            out.Put("Content-type: text/plain; charset=" + part.charset + "\r\n");
            out.Put("Content-Transfer-Encoding: quoted-printable\r\n\r\n");
            out.Put(mail::QuotedPrintable(part.data));
            continue;
        }
        std::FILE* in = std::fopen(part.data.c_str(), "rb");
        if (!in)
            raise(CSMTPError::kFileOpen);
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> guard(in, &std::fclose);
        out.Put(mail::ContentTypeLines(part.contentType));
        out.Put("Content-Disposition: " + part.disposition + "\r\n");
        out.Put("Content-Transfer-Encoding: base64\r\n\r\n");
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
                Report("fread failed");
                raise(CSMTPError::kOther);
            }
            if (got > 0)
                out.Put(
                    std::string_view(enc.data(), mail::Base64Lines(buf.data(), got, enc.data())));
            if (got < kChunk)
                break;
        }
    }
    out.Put("\r\n--" + boundary_ + "--\r\n");
}

int CMailUtil::WriteOutMessage(std::FILE* out) {
    return guarded([&] {
        FileOut file(out);
        writeOut(file);
        if (std::fflush(out) != 0 || std::ferror(out))
            raise(CSMTPError::kOther);
    });
}

std::FILE* CMailUtil::OpenTempMessageFile(std::string& path) {
    std::string dir = platform::GetTempPath();
    if (!platform::DirectoryExists(dir)) {
        Report("No temp path exists");
        return nullptr;
    }
    std::string name;
    int fd = platform::CreateUniqueFile(dir, "~mail", "", 0600, &name);
    if (fd < 0) {
        Report("mkstemp failed");
        return nullptr;
    }
    std::FILE* f = fdopen(fd, "w+b");
    if (!f) {
        ::close(fd);
        ::unlink(name.c_str());
        Report("fdopen failed");
        return nullptr;
    }
    path = name;
    return f;
}

}  // namespace korrin
