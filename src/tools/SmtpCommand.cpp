// korrinctl smtp check: runs the dialogue with the stored server settings up to the point where
// a message would begin, and prints every step and every answer of the server.

#include <ostream>

#include "korrin/app/Defaults.h"
#include "korrin/app/Utils.h"
#include "korrin/mail/SmtpSender.h"
#include "platform/registry/Registry.h"
#include "tools/Area.h"

namespace korrin::tools {

namespace {

const char kSmtpUsage[] =
    R"(korrinctl smtp check
    Connect to the stored "SMTP Host" with the stored "SMTP Security", start TLS and log in
    with "Account" and "Password" as a send would, stop before MAIL FROM and quit. Prints
    each command (C:), each reply of the server (S:) and each TLS step; the password and
    anything that carries it are shown as ********.

  Exit status: 0 the server would take a message from us (the login went through, or none
  was needed), 1 it would not (the failure's code and text are printed), 2 bad usage.
)";

constexpr DWORD kSettingBytes = 256;

const char* SecurityName(SmtpSecurity s) {
    switch (s) {
        case SmtpSecurity::kStartTls:
            return "STARTTLS";
        case SmtpSecurity::kImplicitTls:
            return "TLS from the start";
        default:
            return "none (plain text, no login)";
    }
}

const char* CodeMeaning(int code) {
    switch (code) {
        case CSMTPError::kNoSocket:
            return "no socket could be made";
        case CSMTPError::kNoConnection:
            return "the server cannot be reached";
        case CSMTPError::kSendFailed:
            return "sending failed";
        case CSMTPError::kReceiveFailed:
            return "no complete answer came back";
        case CSMTPError::kServerError:
            return "the server refused a step";
        case CSMTPError::kNoHostName:
            return "the local host name cannot be had";
        case CSMTPError::kCertificate:
            return "the server's certificate did not verify";
        case CSMTPError::kNoStartTls:
            return "the server does not offer STARTTLS";
        case CSMTPError::kLoginRefused:
            return "the login was refused";
        case CSMTPError::kTlsFailed:
            return "the secure connection could not be made";
        case CSMTPError::kNoLoginMethod:
            return "the server offers no login method we have";
        default:
            return "failed";
    }
}

int Check(std::ostream& out) {
    {
        platform::RegKeyGuard key;
        if (platform::RegOpenKeyEx(platform::HKEY_LOCAL_MACHINE, kKorrinKey, key.out()) !=
            platform::ERROR_SUCCESS) {
            out << "FAILED: no settings are stored yet (" << kKorrinKey << ").\n";
            return kExitNotFound;
        }
    }
    CUtils utils;
    std::string server = utils.GetSettingString(setting::kSmtpHost, kSettingBytes);
    std::string account = utils.GetSettingString(setting::kAccount, kSettingBytes);
    platform::Secret password;
    ReadPasswordSetting(password, kSettingBytes);
    CSMTPEmail mail;
    mail::UseStoredSecurity(mail);
    mail.SetServer(server);
    mail.SetLogin(account, password);
    mail.SetTrace([&out](const std::string& line) { out << line << std::endl; });
    std::string ca = utils.GetSettingString(setting::kSmtpCaFile, 4096);
    out << "Server: " << (server.empty() ? "(none)" : server)
        << "\nSecurity: " << SecurityName(mail.security()) << " (port "
        << CSMTPEmail::DefaultPort(mail.security()) << " unless the server names one)"
        << "\nTrusted certificates: " << (ca.empty() ? "the system's" : ca)
        << "\nAccount: " << (account.empty() ? "(none)" : account)
        << "\nPassword: " << (password.empty() ? "(none)" : "********") << "\n";
    out.flush();
    if (server.empty()) {
        out << "FAILED: no \"SMTP Host\" is set.\n";
        return kExitNotFound;
    }
    int rc = mail.CheckLogin();
    if (rc == 0) {
        out << "OK: the server would take a message.\n";
        return kExitOk;
    }
    out << "FAILED (" << rc << "): " << CodeMeaning(rc) << ".\n";
    if (!mail.failureText().empty())
        out << mail.failureText() << "\n";
    return kExitNotFound;
}

int RunSmtpCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h" || args[0] == "help")) {
        out << kSmtpUsage;
        return kExitOk;
    }
    if (args.size() == 1 && args[0] == "check")
        return Check(out);
    err << "korrinctl smtp: " << (args.empty() ? "no command given" : "unknown command")
        << "\nRun 'korrinctl smtp --help' for the syntax.\n";
    return kExitUsage;
}

const KorrinctlArea kSmtpArea({30, "smtp", "check the outgoing mail server settings", kSmtpUsage,
                               RunSmtpCommand});

}  // namespace

}  // namespace korrin::tools
