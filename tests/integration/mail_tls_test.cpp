// Mail over TLS with a login, against a real aiosmtpd on 127.0.0.1 that the test starts with a
// certificate it makes itself. The server writes down every byte it reads and whether TLS was
// up at the time, so the tests can see what a listener on the wire could have seen.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>

#include "helpers/SmtpServer.h"
#include "helpers/TestSupport.h"
#include "integration/transmit/TransmitFixture.h"
#include "korrin/app/Defaults.h"
#include "korrin/mail/mailutil.h"
#include "platform/Endian.h"
#include "platform/registry/Registry.h"

extern char** environ;

using namespace korrin;
using namespace korrin::test;

namespace {

const char* kAccount = "voice@korrin.test";
const char* kPassword = "s3cret pass";

// dir/<name>.pem and dir/<name>.key: a self-signed certificate for the given names.
void MakeSelfSigned(const TempDir& dir, const std::string& name, const std::string& altNames) {
    RunResult r =
        korrin::test::Run({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                           "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2", "-keyout",
                           dir.file(name + ".key"), "-out", dir.file(name + ".pem"), "-subj",
                           "/CN=" + name, "-addext", "subjectAltName=" + altNames});
    ASSERT_EQ(r.exitCode, 0) << r.err;
}

// tls_server.py with the certificate <cert>.pem and its key.
class TlsServer : public SmtpServer {
  public:
    TlsServer(const std::string& outdir, const std::string& cert, const std::string& mode)
        : SmtpServer(std::vector<std::string>{MailScript("tls_server.py"), outdir, cert + ".pem",
                                              cert + ".key", mode, kAccount, kPassword}) {}
};

class MailTlsTest : public RegistryTest {
  protected:
    ScopedEnv log_{"KORRIN_MESSAGE_LOG", dir_.file("log")};
    ScopedEnv answers_{"KORRIN_MESSAGE_ANSWERS", "OK"};
    ScopedEnv tmp_{"TMPDIR", dir_.path()};
    ScopedEnv mime_{"KORRIN_MIME_TYPES", dir_.file("mime.types")};

    void SetUp() override {
        ASSERT_EQ(access(kSystemPython, X_OK), 0) << "python3 is needed (scripts/install-deps.sh)";
        WriteFile(dir_.file("mime.types"), "");
        std::mt19937 rng(11);
        std::string wave = "RIFF\x24\x10\x00\x00WAVEfmt ";
        for (int i = 0; i < 90000; ++i)
            wave += static_cast<char>(rng());
        WriteFile(dir_.file("KX21O.kx0"), wave + "\r\n.\r\ntrailer");
        MakeCertificate("server", "DNS:localhost,IP:127.0.0.1");
    }

    void MakeCertificate(const std::string& name, const std::string& altNames) {
        MakeSelfSigned(dir_, name, altNames);
    }

    // Filled as the voice-message sender fills it, with the settings' security options.
    void Compose(CSMTPEmail& m, const std::string& server, std::uint32_t security,
                 const std::string& password = kPassword) {
        m.SetServer(server);
        m.SetSecurity(security);
        m.SetLogin(kAccount, platform::Secret(password));
        m.SetCaFile(dir_.file("server.pem"));
        m.SetSenderAddress("me@here.test");
        m.AddTo("a1@x.test", "a1@x.test");
        m.SetSubject("Voice message");
        m.AddTextPart("\r\nA voice message.\r\n");
        m.AddFilePart(dir_.file("KX21O.kx0"));
        m.SetTrace([this](const std::string& line) { trace_ += line + "\n"; });
    }

    std::string ServerLog() { return ReadFile(dir_.file("server.log")); }
    // What the server read before TLS was up.
    std::string PlainPart() {
        std::string plain;
        for (const auto& line : ReadLines(dir_.file("server.log")))
            if (line.rfind("plain ", 0) == 0)
                plain += line + "\n";
        return plain;
    }
    bool Delivered() { return access(dir_.file("mail1.eml").c_str(), F_OK) == 0; }

    // The password in every form it could travel in: as typed, and base64 alone or in the
    // PLAIN response.
    void ExpectNoPassword(const std::string& text, const char* where) {
        const std::string forms[] = {
            kPassword, mail::Base64(kPassword),
            mail::Base64(std::string(1, '\0') + kAccount + '\0' + kPassword)};
        for (const auto& f : forms)
            EXPECT_EQ(text.find(f), std::string::npos) << where << " holds " << f << ":\n" << text;
    }

    std::string trace_;
};

TEST_F(MailTlsTest, StartTlsWithTheRightPasswordDeliversTheExactFileAndNothingSecretGoesPlain) {
    TlsServer server(dir_.path(), dir_.file("server"), "starttls");
    ASSERT_GT(server.port(), 0);
    // Once by name and once by address: both are checked against the certificate.
    for (std::string host : {"localhost", "127.0.0.1"}) {
        SCOPED_TRACE(host);
        CSMTPEmail m;
        Compose(m, host + ":" + std::to_string(server.port()), 1);
        ASSERT_EQ(m.Send(), 0) << trace_;
    }
    for (const char* mail : {"mail1", "mail2"}) {
        RunResult r =
            korrin::test::Run({kSystemPython, MailScript("check_mail.py"),
                               dir_.file(std::string(mail) + ".eml"), dir_.file("KX21O.kx0")});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(JsonField(r.out, "same"), "same");
        EXPECT_EQ(JsonField(r.out, "names"), "KX21O.kx0");
    }
    // The server's view: in plain text only the greeting and the switch, then all under TLS.
    std::string plain = PlainPart();
    EXPECT_EQ(plain.find("AUTH"), std::string::npos) << plain;
    EXPECT_EQ(plain.find("MAIL"), std::string::npos) << plain;
    EXPECT_NE(plain.find("STARTTLS"), std::string::npos) << plain;
    ExpectNoPassword(plain, "plain text");
    std::string log = ServerLog();
    EXPECT_NE(log.find("login voice@korrin.test ok"), std::string::npos) << log;
    EXPECT_NE(log.find("tls b'AUTH PLAIN "), std::string::npos) << log;
    // Our own trace and message log never hold it either.
    EXPECT_NE(trace_.find("C: AUTH PLAIN ********"), std::string::npos) << trace_;
    ExpectNoPassword(trace_, "the trace");
    ExpectNoPassword(ReadFile(dir_.file("log")), "the message log");
}

TEST_F(MailTlsTest, WrongPasswordGivesTheLoginRefusedCodeWithTheServersReplyAndNoMail) {
    TlsServer server(dir_.path(), dir_.file("server"), "starttls");
    ASSERT_GT(server.port(), 0);
    CSMTPEmail m;
    Compose(m, "localhost:" + std::to_string(server.port()), 1, "wrong");
    EXPECT_EQ(m.Send(), CSMTPError::kLoginRefused);
    EXPECT_FALSE(Delivered());
    EXPECT_NE(m.failureText().find("refused the login of voice@korrin.test: 535"),
              std::string::npos)
        << m.failureText();
    auto log = ReadLines(dir_.file("log"));
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(JsonField(log.back(), "text").find(m.failureText()), 0u) << log.back();
    EXPECT_NE(ServerLog().find("login voice@korrin.test refused"), std::string::npos);
    EXPECT_EQ(ServerLog().find("MAIL FROM"), std::string::npos);
    EXPECT_EQ(m.CheckLogin(), CSMTPError::kLoginRefused);
}

TEST_F(MailTlsTest, PlainSessionIsRefusedAndNothingFollowsTheServersDemandForStartTls) {
    TlsServer server(dir_.path(), dir_.file("server"), "starttls");
    ASSERT_GT(server.port(), 0);
    CSMTPEmail m;
    Compose(m, "localhost:" + std::to_string(server.port()), 0);
    EXPECT_EQ(m.Send(), CSMTPError::kServerError);
    EXPECT_FALSE(Delivered());
    // HELO, which the server refuses with 530 until STARTTLS; not one byte more.
    auto lines = ReadLines(dir_.file("server.log"));
    ASSERT_EQ(lines.size(), 1u) << ServerLog();
    EXPECT_EQ(lines[0].rfind("plain b'HELO ", 0), 0u) << lines[0];
    EXPECT_EQ(ServerLog().find("tls "), std::string::npos);
    EXPECT_NE(trace_.find("S: 530"), std::string::npos) << trace_;
    ExpectNoPassword(ServerLog(), "the server's log");
    // The refusal reached the user with the server's words.
    std::string boxes = ReadFile(dir_.file("log"));
    EXPECT_NE(boxes.find("HELO  - 530"), std::string::npos) << boxes;
}

TEST_F(MailTlsTest, ImplicitTlsOnItsOwnPortDelivers) {
    TlsServer server(dir_.path(), dir_.file("server"), "implicit");
    ASSERT_GT(server.port(), 0);
    CSMTPEmail m;
    Compose(m, "localhost:" + std::to_string(server.port()), 2);
    ASSERT_EQ(m.Send(), 0) << trace_;
    RunResult r = korrin::test::Run({kSystemPython, MailScript("check_mail.py"),
                                     dir_.file("mail1.eml"), dir_.file("KX21O.kx0")});
    EXPECT_EQ(JsonField(r.out, "same"), "same") << r.err;
    EXPECT_EQ(PlainPart(), "");
    EXPECT_NE(trace_.find("TLS: TLSv1."), std::string::npos) << trace_;
    EXPECT_EQ(trace_.find("STARTTLS"), std::string::npos) << trace_;
}

TEST_F(MailTlsTest, CertificateForAnotherNameOrFromNobodyTrustedStopsBeforeAnythingIsSent) {
    MakeCertificate("other", "DNS:other.example");
    MakeCertificate("stranger", "DNS:localhost,IP:127.0.0.1");
    {
        SCOPED_TRACE("a certificate for another name, over STARTTLS");
        TlsServer server(dir_.path(), dir_.file("other"), "starttls");
        ASSERT_GT(server.port(), 0);
        CSMTPEmail m;
        Compose(m, "localhost:" + std::to_string(server.port()), 1);
        m.SetCaFile(dir_.file("other.pem"));  // trusted, but not for this name
        EXPECT_EQ(m.Send(), CSMTPError::kCertificate);
        EXPECT_NE(m.failureText().find("The SMTP server localhost could not prove that it is "
                                       "localhost: hostname mismatch"),
                  std::string::npos)
            << m.failureText();
    }
    {
        SCOPED_TRACE("a certificate that the CA file does not hold, TLS from the start");
        TlsServer server(dir_.path(), dir_.file("stranger"), "implicit");
        ASSERT_GT(server.port(), 0);
        CSMTPEmail m;
        Compose(m, "127.0.0.1:" + std::to_string(server.port()), 2);
        EXPECT_EQ(m.Send(), CSMTPError::kCertificate);
        EXPECT_NE(m.failureText().find("127.0.0.1 could not prove"), std::string::npos)
            << m.failureText();
        EXPECT_NE(m.failureText().find("self-signed certificate"), std::string::npos)
            << m.failureText();
        EXPECT_EQ(m.CheckConnection(), CSMTPError::kCertificate);
    }
    EXPECT_FALSE(Delivered());
    std::string log = ServerLog();
    EXPECT_EQ(log.find("tls "), std::string::npos) << log;
    EXPECT_EQ(log.find("login"), std::string::npos) << log;
    EXPECT_EQ(log.find("AUTH"), std::string::npos) << log;
    ExpectNoPassword(log, "the server's log");
    ExpectNoPassword(ReadFile(dir_.file("log")), "the message log");
}

TEST_F(MailTlsTest, TlsToAServerThatSpeaksPlainTextOrNotAtAllFailsWithItsOwnCode) {
    // The plain test server, which greets in plain text where a handshake should be.
    SmtpServer plain(dir_.path());
    ASSERT_GT(plain.port(), 0);
    CSMTPEmail m;
    Compose(m, "localhost:" + std::to_string(plain.port()), 2);
    EXPECT_EQ(m.Send(), CSMTPError::kTlsFailed);
    EXPECT_EQ(m.failureText().rfind("A secure connection to the SMTP server localhost could not "
                                    "be made: ",
                                    0),
              0u)
        << m.failureText();
    EXPECT_FALSE(Delivered());

    // Listening but never answering: the handshake ends within its own bound.
    LoopbackSocket listener;
    ASSERT_GT(listener.port(), 0);
    CSMTPEmail silent;
    Compose(silent, "127.0.0.1:" + std::to_string(listener.port()), 2);
    SmtpTimeouts t;
    t.tls = 300;
    silent.SetTimeouts(t);
    EXPECT_EQ(silent.Send(), CSMTPError::kTlsFailed);
    EXPECT_NE(silent.failureText().find("the server did not answer in time"), std::string::npos)
        << silent.failureText();
}

// korrinctl smtp check with the stored settings, as a user would run it.
class SmtpCheckTest : public MailTlsTest {
  protected:
    void Store(const char* name, const std::string& text) {
        platform::RegKeyGuard k;
        ASSERT_EQ(platform::RegCreateKeyEx(platform::HKEY_LOCAL_MACHINE, kKorrinKey, k.out()),
                  platform::ERROR_SUCCESS);
        platform::RegSetValueEx(k.get(), name, platform::REG_SZ,
                                reinterpret_cast<const std::uint8_t*>(text.c_str()),
                                static_cast<platform::DWORD>(text.size() + 1));
    }
    void StoreDword(const char* name, std::uint32_t v) {
        platform::RegKeyGuard k;
        ASSERT_EQ(platform::RegCreateKeyEx(platform::HKEY_LOCAL_MACHINE, kKorrinKey, k.out()),
                  platform::ERROR_SUCCESS);
        std::uint8_t data[4];
        platform::StoreLE32(data, v);
        platform::RegSetValueEx(k.get(), name, platform::REG_DWORD, data, 4);
    }
    RunResult Check() { return korrin::test::Run({BuildDir() + "/korrinctl", "smtp", "check"}); }
};

TEST_F(SmtpCheckTest, PrintsEveryStepMasksThePasswordAndSaysWhetherTheLoginWorks) {
    RunResult nothing = Check();
    EXPECT_EQ(nothing.exitCode, 1);
    EXPECT_NE(nothing.out.find("FAILED: no settings are stored yet"), std::string::npos)
        << nothing.out;
    StoreDword(setting::kSmtpSecurity, 1);
    EXPECT_NE(Check().out.find("FAILED: no \"SMTP Host\" is set."), std::string::npos);

    TlsServer server(dir_.path(), dir_.file("server"), "starttls");
    ASSERT_GT(server.port(), 0);
    Store(setting::kSmtpHost, "localhost:" + std::to_string(server.port()));
    Store(setting::kAccount, kAccount);
    Store(setting::kPassword, kPassword);
    Store(setting::kSmtpCaFile, dir_.file("server.pem"));
    StoreDword(setting::kSmtpSecurity, 1);
    RunResult ok = Check();
    EXPECT_EQ(ok.exitCode, 0) << ok.out << ok.err;
    for (const char* step :
         {"Security: STARTTLS", "Password: ********", "C: EHLO ", "S: 250-STARTTLS", "C: STARTTLS",
          "S: 220", "TLS: TLSv1.", "C: AUTH PLAIN ********", "S: 235", "C: QUIT",
          "OK: the server would take a message."})
        EXPECT_NE(ok.out.find(step), std::string::npos) << step << "\n" << ok.out;
    EXPECT_EQ(ok.out.find("MAIL FROM"), std::string::npos) << ok.out;
    ExpectNoPassword(ok.out + ok.err, "the check's output");
    EXPECT_EQ(ServerLog().find("MAIL"), std::string::npos);

    Store(setting::kPassword, "wrong");
    RunResult refused = Check();
    EXPECT_EQ(refused.exitCode, 1) << refused.out;
    EXPECT_NE(refused.out.find("FAILED (15): the login was refused."), std::string::npos)
        << refused.out;
    EXPECT_NE(refused.out.find("S: 535"), std::string::npos) << refused.out;
}

// The Outbox session (korrinctl outbox send) with the stored settings: security 1 against a
// server that wants STARTTLS and a login.
class OutboxTlsTest : public MailStoreTest {
  protected:
    void SetUp() override {
        MailStoreTest::SetUp();
        makeSendingFolders();
        MakeSelfSigned(dir_, "server", "DNS:localhost,IP:127.0.0.1");
    }
    RunResult SendOutbox() {
        return korrin::test::Run({BuildDir() + "/korrinctl", "outbox", "send"});
    }
};

TEST_F(OutboxTlsTest, WrongPasswordKeepsTheMessageInTheOutboxAndTheRightOneDeliversIt) {
    TlsServer server(dir_.file("mail"), dir_.file("server"), "starttls");
    ASSERT_GT(server.port(), 0);
    setSettings(server.port());
    setString(setting::kSmtpHost, "localhost:" + std::to_string(server.port()));
    setString(setting::kAccount, kAccount);
    setString(setting::kPassword, "wrong");
    setString(setting::kSmtpCaFile, dir_.file("server.pem"));
    ASSERT_EQ(CUtils().SetRegistryDword(kKorrinKey, setting::kSmtpSecurity, 1), 1);
    const std::string path = folder("OUTBOX") + "/KX7O.kx0";
    makeEnvelope(path, payload(60000, 7), "a@x.test", "b@x.test", "Over TLS", "a note");
    const std::string before = ReadFile(path);

    RunResult refused = SendOutbox();
    EXPECT_EQ(refused.exitCode, 1) << refused.out << refused.err;
    EXPECT_EQ(refused.out.rfind("failed 15\t" + path + "\n", 0), 0u) << refused.out;
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(receivedCount(), 0);
    const std::string log = ReadFile(dir_.file("mail/server.log"));
    EXPECT_NE(log.find("login voice@korrin.test refused"), std::string::npos) << log;
    EXPECT_EQ(log.find("MAIL FROM"), std::string::npos) << log;
    for (const auto& line : ReadLines(dir_.file("mail/server.log")))
        EXPECT_NE(line.rfind("plain b'AUTH", 0), 0u) << line;
    // The user was told why, in the server's words.
    bool told = false;
    for (const auto& text : messageBoxTexts())
        told =
            told || text.find("refused the login of voice@korrin.test: 535") != std::string::npos;
    EXPECT_TRUE(told) << ReadFile(logPath());

    setString(setting::kPassword, kPassword);
    RunResult sent = SendOutbox();
    ASSERT_EQ(sent.exitCode, 0) << sent.out << sent.err;
    EXPECT_EQ(sent.out, "sent\t" + path + "\t" + folder("SENT") + "/KX101S.kx0\nend\tdone\n");
    ASSERT_EQ(receivedCount(), 1);
    WriteFile(dir_.file("original.kx0"), before);
    RunResult mail = CheckMail(mailFile(1, ".eml"), dir_.file("original.kx0"));
    EXPECT_EQ(JsonField(mail.out, "same"), "same") << mail.out << mail.err;
    EXPECT_EQ(access(path.c_str(), F_OK), -1);
}

}  // namespace
