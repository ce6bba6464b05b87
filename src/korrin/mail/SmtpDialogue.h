// The SMTP client (CSMTPEmail): the dialogue that delivers a written message, with TLS and login.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "korrin/mail/MailWriter.h"
#include "korrin/mail/SmtpReply.h"
#include "platform/net/Stream.h"
#include "platform/net/TlsStream.h"
#include "platform/secret/Secret.h"

namespace korrin {

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

// Turns a connected stream into a TLS stream and runs the handshake; the stream is replaced
// whatever the result, so the caller can close it. reason gets the failure in words, or the
// version and cipher on success.
using TlsStarter = std::function<platform::net::TlsResult(
    std::unique_ptr<platform::net::IStream>& stream, const platform::net::TlsOptions& options,
    int timeoutMs, std::string& reason)>;

class CSMTPEmail : public CMailUtil {
  public:
    static constexpr std::uint16_t kDefaultPort = 25;
    // A reply holds at most 4,095 bytes.
    static constexpr std::size_t kReplyBufferSize = mail::kReplyBufferSize;
    // The message goes out in these: few large writes, as the socket takes them.
    static constexpr std::size_t kPieceSize = 256 * 1024;

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
    void SetLogin(const std::string& account, const platform::Secret& password);
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
    // The command as traced may differ from what is sent (credentials masked).
    void sendCommand(platform::net::IStream& s, std::string_view text, int timeoutMs,
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
    platform::Secret password_;
    std::vector<platform::Secret> secrets_;  // the password in the forms it was sent
    std::string caFile_;
    std::string failureText_;
    TlsStarter tlsStarter_;
    std::function<void(const std::string&)> trace_;
    std::string localHost_;
    std::vector<char> buffer_;
    SmtpTimeouts timeouts_;
    platform::net::StreamFactory factory_;
};

namespace mail {

// Takes "SMTP Security" and "SMTP CA File" from the settings.
void UseStoredSecurity(CSMTPEmail& mail);

}  // namespace mail

}  // namespace korrin
