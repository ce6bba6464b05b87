// One Internet mail message: the builder (CMailUtil) that keeps its headers, recipients and
// body parts and writes them out as MIME text, and the SMTP client (CSMTPEmail) that delivers
// it. One object serves one message and is then destroyed.
//
// Inside this module failures are raised as CSMTPError; every public entry point catches them
// and returns the code, which the object also keeps (error()). Nothing is thrown out of it.
//
// Threads: an object belongs to one thread at a time (the sender's worker, or the
// user-interface thread for the connection check). Only the count of live CSMTPEmail objects
// is shared, and it is guarded.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/net/Stream.h"
#include "platform/net/TlsStream.h"

namespace korrin {

// Codes 13 to 17 come from the protected dialogue; like a refusal of the server (9), each has
// been shown to the user in its own words when it was detected (CSMTPEmail::failureText()).
class CSMTPError {
  public:
    enum Code {
        kSuccess = 0,
        kAddressFile = 1,     // an "@file" address file cannot be opened (or nests too deep)
        kLineBreak = 2,       // a recipient or sender holds a line break or control character
        kNoStartup = 3,       // the network layer cannot be started
        kNoSocket = 5,        // no socket can be created
        kNoConnection = 6,    // the server cannot be reached
        kSendFailed = 7,      // sending failed or timed out
        kReceiveFailed = 8,   // receiving failed, timed out, the peer closed, or a reply too long
        kServerError = 9,     // the server refused a step
        kNoHostName = 10,     // the local host name cannot be had
        kNoMemory = 11,       // no memory for the reply buffer
        kFileOpen = 12,       // the temporary message file or an attachment cannot be opened
        kCertificate = 13,    // the server's certificate did not verify: nothing was sent
        kNoStartTls = 14,     // STARTTLS was chosen but the server does not offer it, or refused it
        kLoginRefused = 15,   // the server refused the account and password
        kTlsFailed = 16,      // the secure connection could not be made for another reason
        kNoLoginMethod = 17,  // the server asks for a login but offers neither PLAIN nor LOGIN
        kOther = -1,          // any other failure while the message was written out
    };
    explicit CSMTPError(int code) : code_(code) {}
    int code() const { return code_; }

  private:
    int code_;
};

enum class HeaderMode { kReplace, kAppend };

// One body part.
struct CMailPart {
    bool isText = false;
    std::string contentType;  // "text/plain", or the attachment's type with its name parameter
    enum Encoding { kQuotedPrintable, kBase64 } encoding = kBase64;
    std::string charset;      // text parts: $MM_CHARSET when the part was made, else iso-8859-1
    std::string data;         // the text, or the attachment's path (read when written out)
    std::string disposition;  // attachments: attachment; filename="name"
};

class CMailUtil {
  public:
    CMailUtil() = default;
    virtual ~CMailUtil() = default;
    CMailUtil(const CMailUtil&) = delete;
    CMailUtil& operator=(const CMailUtil&) = delete;

    int error() const { return error_; }

    // A value may carry folded continuation lines (CR LF followed by a blank or TAB); any other
    // line break in it is turned into one blank, so no value can start a header of its own.
    void AddHeader(const std::string& name, const std::string& value,
                   HeaderMode mode = HeaderMode::kReplace);
    std::string FindHeader(const std::string& name, const std::string& defaultValue = "") const;
    const std::vector<std::pair<std::string, std::string>>& headers() const { return headers_; }

    void SetSubject(const std::string& text);
    // "X-Sender": the text between < and > when there is a <, else the whole text. 0, or 2
    // when it holds a line break.
    int SetSenderAddress(const std::string& address);
    // "From"; also the sender address while there is none yet. 0 or 2.
    int SetFrom(const std::string& text);

    // An address beginning with "@" names a file of addresses, one a line. 0 on success;
    // 1 when an address file cannot be opened; 2 when the name or address holds a line break
    // (the recipient is refused and nothing of it is added).
    int AddTo(const std::string& displayName, const std::string& address);
    int AddCc(const std::string& displayName, const std::string& address);
    int AddBcc(const std::string& address);
    // Bare addresses joined by ","; empty while there are none.
    const std::string& recipients() const { return recipients_; }

    // With a text, "Date" is set to it; without, the current time is added unless a Date exists.
    void AddDate(const std::optional<std::string>& text = std::nullopt);

    void AddTextPart(const std::string& text);
    void AddFilePart(const std::string& path);
    // An attachment of the given type (parameters after ';'), sent under fileName rather than
    // its own path's name; path is read when the message is written out.
    void AddFilePart(const std::string& path, const std::string& contentType,
                     const std::string& fileName);
    const std::vector<CMailPart>& parts() const { return parts_; }

    // Writes the whole message to an open binary stream: 0, or the failure's code (12 for an
    // attachment that cannot be opened, -1 for a read or write failure).
    int WriteOutMessage(std::FILE* out);

    // The boundary of the last WriteOutMessage.
    const std::string& boundary() const { return boundary_; }

    // Creates a fresh temporary file for one message, "~mail" and a unique tail in the
    // temporary folder, open for writing and reading; its path goes to path. Null (after a
    // report) when it cannot be made.
    static std::FILE* OpenTempMessageFile(std::string& path);

  protected:
    [[noreturn]] void raise(int code);
    // After a failure that does not count (the message got through all the same).
    void clearError() { error_ = 0; }
    // Runs body; a CSMTPError becomes its code (kept in error()), anything else -1.
    template <class F>
    int guarded(F&& body);
    // Our own values, taken as they are (folds and the header block's end included).
    void addRawHeader(const std::string& name, const std::string& value, HeaderMode mode);

  private:
    void addRecipient(const char* header, const std::string& displayName,
                      const std::string& address, int depth);
    void writeOut(std::FILE* out);

    int error_ = 0;
    std::vector<std::pair<std::string, std::string>> headers_;
    std::vector<CMailPart> parts_;
    std::string recipients_;
    std::string boundary_;
};

// Per-step bounds of the SMTP dialogue in milliseconds, after RFC 5321 4.5.3.2.
struct SmtpTimeouts {
    int connect = 60'000;
    int greeting = 300'000;
    int helo = 300'000;
    int mailFrom = 300'000;
    int rcptTo = 300'000;
    int data = 120'000;       // the reply to DATA
    int block = 180'000;      // each piece of the message
    int endOfData = 600'000;  // the reply to the final "."
    int quit = 120'000;
    int command = 300'000;  // writing a command
    // The connection check runs while the user waits for a window, so its greeting and QUIT
    // wait no longer than this (nor longer than greeting and quit).
    int check = 60'000;
    int tls = 60'000;  // the TLS handshake
};

// How the session is protected: "SMTP Security".
enum class SmtpSecurity : std::uint32_t {
    kNone = 0,         // plain text, HELO, no login: the dialogue as it always was
    kStartTls = 1,     // plain connection switched to TLS by STARTTLS before anything else
    kImplicitTls = 2,  // TLS from the first byte
};

// What an EHLO reply offers: the keywords of its extension lines (upper case, in order) and
// the mechanisms of its AUTH line.
struct EhloInfo {
    std::vector<std::string> keywords;
    std::vector<std::string> auth;
    bool Has(std::string_view keyword) const;
    bool HasAuth(std::string_view mechanism) const;
};

// Turns a connected stream into a TLS stream and runs the handshake; the stream is replaced
// whatever the result, so the caller can close it. reason gets the failure in words, or the
// version and cipher on success.
using TlsStarter = std::function<platform::net::TlsResult(
    std::unique_ptr<platform::net::IStream>& stream, const platform::net::TlsOptions& options,
    int timeoutMs, std::string& reason)>;

class CSMTPEmail : public CMailUtil {
  public:
    static constexpr std::uint16_t kDefaultPort = 25;
    static constexpr std::size_t kReplyBufferSize = 4096;  // a reply holds at most 4,095 bytes
    static constexpr std::size_t kPieceSize = 4096;        // the message goes out in these

    CSMTPEmail();
    ~CSMTPEmail() override;

    // "host", "host:port" or "[v6]:port"; without a port the security's port is used.
    void SetServer(const std::string& server) { server_ = server; }
    const std::string& server() const { return server_; }
    // 25, 587 or 465.
    static std::uint16_t DefaultPort(SmtpSecurity security);

    // A value that is not one of the three counts as STARTTLS: never weaker than asked.
    void SetSecurity(std::uint32_t value);
    SmtpSecurity security() const { return security_; }
    // Sent only over TLS, and only when the account is not empty and the server offers
    // AUTH PLAIN or AUTH LOGIN. The password is wiped when the object goes.
    void SetLogin(const std::string& account, const std::string& password);
    // A PEM file to trust instead of the system's certificates; empty: the system's.
    void SetCaFile(const std::string& path) { caFile_ = path; }
    void SetTlsStarter(TlsStarter starter) { tlsStarter_ = std::move(starter); }
    // Called with every command sent ("C: ..."), every reply ("S: ...", one call per line) and
    // every TLS step ("TLS: ..."), the password and anything carrying it shown as ********.
    void SetTrace(std::function<void(const std::string&)> trace) { trace_ = std::move(trace); }
    // The text of the last security failure (codes 13 to 17) as the user was shown it.
    const std::string& failureText() const { return failureText_; }
    void SetLocalHostName(const std::string& name) { localHost_ = name; }
    void SetTimeouts(const SmtpTimeouts& t) { timeouts_ = t; }
    // Where connections come from; sockets unless a test scripts them.
    void SetStreamFactory(platform::net::StreamFactory factory) { factory_ = std::move(factory); }

    // The whole session; 0 when the server accepted the message, else the code.
    int Send();
    // Greets the server and quits; 0 when it answered.
    int CheckConnection();
    // The whole dialogue up to, not including, MAIL FROM (TLS and login as the security asks),
    // then QUIT; 0 when the login went through or none was asked for.
    int CheckLogin();

    // How many CSMTPEmail objects are alive in this process.
    static int LiveObjects();

  private:
    void _SendIt(std::unique_ptr<platform::net::IStream>& socket);
    void openConnection(std::unique_ptr<platform::net::IStream>& socket);
    void sendCommand(platform::net::IStream& s, const std::string& text, int timeoutMs);
    void readReply(platform::net::IStream& s, const char* label, int timeoutMs);
    void sendMessageFile(platform::net::IStream& s, std::FILE* file);
    // The command as traced may differ from what is sent (credentials masked).
    void sendCommand(platform::net::IStream& s, const std::string& text, int timeoutMs,
                     const std::string& traced);
    // One reply, not judged.
    std::string readRaw(platform::net::IStream& s, int timeoutMs);
    [[noreturn]] void refuse(const char* label, const std::string& reply);
    [[noreturn]] void securityFailure(int code, const std::string& text);
    void startTls(std::unique_ptr<platform::net::IStream>& socket);
    // EHLO, or HELO when the server refuses it; true for EHLO with info filled.
    bool hello(platform::net::IStream& s, EhloInfo& info);
    // From the greeting's answer to the point where MAIL FROM would follow.
    void greetAndLogin(std::unique_ptr<platform::net::IStream>& socket);
    void login(platform::net::IStream& s, const EhloInfo& info, bool extended);
    std::string masked(std::string text) const;
    void trace(const std::string& prefix, const std::string& text) const;

    std::string server_;
    std::string host_;  // the host part of server_, for the certificate check
    SmtpSecurity security_ = SmtpSecurity::kNone;
    std::string account_;
    std::string password_;
    std::vector<std::string> secrets_;  // the password in the forms it was sent
    std::string caFile_;
    std::string failureText_;
    TlsStarter tlsStarter_;
    std::function<void(const std::string&)> trace_;
    std::string localHost_;
    std::vector<char> buffer_;
    SmtpTimeouts timeouts_;
    platform::net::StreamFactory factory_;
};

// Pieces that tests, fuzzers and benchmarks reach directly.
namespace mail {

// Standard base64 in lines of 76 characters, each ended by CR LF; the last line (shorter) is
// ended too. Whole lines need a multiple of 57 input bytes: only the last call of a message may
// pass another count. out must hold Base64OutputSize(size) bytes. Returns the bytes written.
std::size_t Base64Lines(const std::uint8_t* in, std::size_t size, char* out);
constexpr std::size_t Base64OutputSize(std::size_t size) {
    std::size_t chars = (size + 2) / 3 * 4;
    return chars + (chars + 75) / 76 * 2;
}

// Quoted-printable as the text part is written: line ends become CR LF, blanks before a line
// end are kept by a soft break, lines end in a soft break before 74 characters.
std::string QuotedPrintable(std::string_view text);

// "Www, d Mmm yyyy hh:mm:ss ZONE" for the local time of t; ZONE is "GMT" or +HHMM / -HHMM.
std::string Rfc822Date(std::time_t t);

// The content type of an attachment with its name parameter, from HKEY_CLASSES_ROOT.
std::string ContentTypeFor(const std::string& path);

// "Content-type: ..." with one continuation line per parameter, ended by CR LF.
std::string ContentTypeLines(const std::string& contentType);

// Splits a recipient list at commas and blanks; empty pieces are dropped.
std::vector<std::string> SplitRecipientList(std::string_view list);

// The address inside < > when there is a <, else the text; blanks around it removed.
std::string BareAddress(std::string_view address);

// One line of an address file cut at the first character an address cannot hold.
std::string AddressFileLine(std::string_view line);

// True while a reply is complete: it ends with CR LF and its last line is not a "ddd-" line.
bool ReplyComplete(std::string_view received);
// Accepted replies begin with 1, 2 or 3.
bool ReplyAccepted(std::string_view reply);

// Reads one reply into buffer (capacity kReplyBufferSize): 0 with the reply in reply, or
// kReceiveFailed when the stream fails, closes, times out or 4,095 bytes hold no complete
// reply.
int ReadReply(platform::net::IStream& s, std::vector<char>& buffer, int timeoutMs,
              std::string& reply);

// Reads an EHLO reply: the first line is the server's greeting, every further line names one
// extension, keyword first. Keywords and mechanisms that are not well formed are left out.
EhloInfo ParseEhloReply(std::string_view reply);

// Standard base64 of a short text, on one line.
std::string Base64(std::string_view text);

// Takes "SMTP Security" and "SMTP CA File" from the settings.
void UseStoredSecurity(CSMTPEmail& mail);

// Copies size bytes to out with a "." put before every line that begins with one; atLineStart
// carries across calls so a line starting at a piece boundary is caught too.
void DotStuff(const char* data, std::size_t size, bool& atLineStart, std::string& out);

}  // namespace mail

}  // namespace korrin
