#include "korrin/mail/SmtpDialogue.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

#include "korrin/app/EventReport.h"
#include "korrin/app/Utils.h"
#include "korrin/app/Vendor.h"
#include "korrin/mail/MimeEncode.h"
#include "platform/Text.h"
#include "platform/registry/Registry.h"

namespace korrin {

namespace {

// Reports name the module, mailutil, whichever of its files they come from.
void Report(const std::string& message, int line = __builtin_LINE()) {
    CEventReport().Report(message, "mailutil", line);
}

}  // namespace

namespace net = platform::net;

namespace {

// Shared count of live CSMTPEmail objects; the network layer is cleaned up with the last.
std::mutex g_liveMutex;
int g_live = 0;
bool g_startedByUs = false;

}  // namespace

namespace mail {

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

}  // namespace mail

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

// Standard base64 of a secret text, itself a secret.
platform::Secret Base64Secret(std::string_view text) {
    platform::Secret out;
    mail::Base64To(text, out.resize(mail::Base64Size(text.size())));
    return out;
}

// The AUTH PLAIN response: base64 of NUL account NUL password.
platform::Secret PlainResponse(const std::string& account, const platform::Secret& password) {
    platform::Secret plain;
    plain.append('\0');
    plain.append(account);
    plain.append('\0');
    plain.append(password.view());
    return Base64Secret(plain.view());
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

CSMTPEmail::CSMTPEmail() : tlsStarter_(&StartTlsOver), factory_(&net::MakeSocketStream) {
    std::lock_guard<std::mutex> lock(g_liveMutex);
    ++g_live;
}

CSMTPEmail::~CSMTPEmail() {
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

void CSMTPEmail::SetLogin(const std::string& account, const platform::Secret& password) {
    account_ = account;
    password_ = password;
    secrets_.clear();
    if (!password_.empty()) {
        secrets_.push_back(PlainResponse(account_, password_));
        secrets_.push_back(Base64Secret(password_.view()));
        secrets_.push_back(password_);
    }
}

std::string CSMTPEmail::masked(std::string text) const {
    for (const auto& secret : secrets_) {
        if (secret.empty())
            continue;
        for (auto at = text.find(secret.view()); at != std::string::npos;
             at = text.find(secret.view(), at + 8))
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

void CSMTPEmail::sendCommand(net::IStream& s, std::string_view text, int timeoutMs,
                             const std::string& traced) {
    if (text.empty())
        return;
    // A command is one line: a line break anywhere but at its end would start another.
    if (text.size() < 2 || text.substr(text.size() - 2) != "\r\n" ||
        text.substr(0, text.size() - 2).find_first_of("\r\n") != std::string_view::npos) {
        Report("A command with a line break was refused.");
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
        platform::Secret command("AUTH PLAIN ");
        command.append(PlainResponse(account_, password_).view());
        command.append("\r\n");
        sendCommand(s, command.view(), timeouts_.command, "AUTH PLAIN ********");
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
        platform::Secret command = Base64Secret(password_.view());
        command.append("\r\n");
        sendCommand(s, command.view(), timeouts_.command, "********");
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

namespace {

// The message as it is written out goes to the server: dot-stuffed, in pieces of kPieceSize
// bytes, with no copy of it anywhere else.
class SocketOut : public CMailUtil::MessageOut {
  public:
    SocketOut(net::IStream& s, int timeoutMs) : s_(s), timeoutMs_(timeoutMs) {
        pending_.reserve(CSMTPEmail::kPieceSize * 2);
    }
    void Put(std::string_view text) override {
        mail::DotStuff(text.data(), text.size(), atLineStart_, pending_);
        if (pending_.size() < CSMTPEmail::kPieceSize)
            return;
        std::size_t at = 0;
        for (; pending_.size() - at >= CSMTPEmail::kPieceSize; at += CSMTPEmail::kPieceSize)
            send(pending_.data() + at, CSMTPEmail::kPieceSize);
        pending_.erase(0, at);
    }
    // What is left, then the end of the data: the one text with a line break inside that goes
    // out as it is.
    void Finish() {
        if (!pending_.empty())
            send(pending_.data(), pending_.size());
        static constexpr char kEndOfData[] = "\r\n.\r\n";
        send(kEndOfData, sizeof kEndOfData - 1);
    }

  private:
    void send(const char* data, std::size_t size) {
        if (s_.SendAll(data, size, timeoutMs_) != net::SendResult::kOk)
            throw CSMTPError(CSMTPError::kSendFailed);
    }

    net::IStream& s_;
    int timeoutMs_;
    std::string pending_;
    bool atLineStart_ = true;
};

}  // namespace

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
    SocketOut out(s, timeouts_.block);
    writeOut(out);
    out.Finish();
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
