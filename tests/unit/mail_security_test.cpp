// The protected dialogue against a scripted server: EHLO and its fall-back, STARTTLS, the two
// logins, and every way they can be refused, byte for byte. The TLS step itself is stood in
// for by a starter that notes where it was asked for (real TLS is in the integration tests).
#include <gtest/gtest.h>

#include <memory>

#include "helpers/ScriptedStream.h"
#include "helpers/TestSupport.h"
#include "korrin/app/Defaults.h"
#include "korrin/app/Utils.h"
#include "korrin/mail/mailutil.h"
#include "platform/registry/Registry.h"

using namespace korrin;
using korrin::platform::net::ScriptedFactory;
using korrin::platform::net::ScriptedStream;
using korrin::platform::net::TlsResult;
using korrin::test::ReadFile;
using korrin::test::ScopedEnv;
using korrin::test::WriteFile;

namespace {

const std::string kEhloPlain = "250-mail.test hi\r\n250-SIZE 1000\r\n250 STARTTLS\r\n";
const std::string kEhloTls = "250-mail.test hi\r\n250-AUTH LOGIN PLAIN\r\n250 8BITMIME\r\n";
// base64 of "\0jo@x\0pw 1"
const std::string kPlainResponse = "AGpvQHgAcHcgMQ==";

TEST(EhloReply, KeywordsAndMechanismsAreReadFromEveryLineButTheGreeting) {
    auto info = mail::ParseEhloReply(
        "250-STARTTLS is my name\r\n250-size 1000\r\n250-auth login Plain CRAM-MD5\r\n"
        "250-AUTH=LOGIN XOAUTH2\r\n250-8BITMIME\r\n250 starttls\r\n");
    EXPECT_EQ(info.keywords, (std::vector<std::string>{"SIZE", "AUTH", "8BITMIME", "STARTTLS"}));
    EXPECT_EQ(info.auth, (std::vector<std::string>{"LOGIN", "PLAIN", "CRAM-MD5", "XOAUTH2"}));
    EXPECT_TRUE(info.Has("StartTLS"));
    EXPECT_TRUE(info.HasAuth("plain"));
    EXPECT_FALSE(info.HasAuth("GSSAPI"));

    // A one-line reply offers nothing; malformed lines and words are left out.
    EXPECT_TRUE(mail::ParseEhloReply("250 mail.test STARTTLS AUTH PLAIN\r\n").keywords.empty());
    auto odd = mail::ParseEhloReply(
        "250-x\n250-\r\n25\r\n250-AUTH PL@IN LOGIN\r\n250_SIZE\r\n250--DASH\r\n250 ST*RT\r\n");
    EXPECT_EQ(odd.keywords, (std::vector<std::string>{"AUTH"}));
    EXPECT_EQ(odd.auth, (std::vector<std::string>{"LOGIN"}));
}

class SecureSmtpTest : public korrin::test::RegistryTest {
  protected:
    ScopedEnv log_{"KORRIN_MESSAGE_LOG", dir_.file("log")};
    ScopedEnv answers_{"KORRIN_MESSAGE_ANSWERS", "OK"};
    ScopedEnv tmp_{"TMPDIR", dir_.path()};
    std::shared_ptr<ScriptedStream> server_ = std::make_shared<ScriptedStream>();

    // Where the stand-in TLS step was asked for (bytes written before it), or -1.
    long tlsAt_ = -1;
    TlsResult tlsResult_ = TlsResult::kOk;
    std::string tlsHost_, tlsCa_, trace_;

    void SetUp() override { WriteFile(dir_.file("KX3O.kx0"), "RIFF....WAVEdata"); }

    std::unique_ptr<CSMTPEmail> Mail(std::uint32_t security, const std::string& account = "jo@x",
                                     const std::string& server = "mail.test") {
        auto m = std::make_unique<CSMTPEmail>();
        m->SetServer(server);
        m->SetSecurity(security);
        m->SetLogin(account, platform::Secret("pw 1"));
        m->SetCaFile("/ca.pem");
        m->SetLocalHostName("tester");
        m->SetStreamFactory(ScriptedFactory(server_));
        m->SetTrace([this](const std::string& line) { trace_ += line + "\n"; });
        m->SetTlsStarter([this](auto&, const auto& options, int, std::string& reason) {
            tlsAt_ = static_cast<long>(server_->written().size());
            tlsHost_ = options.host;
            tlsCa_ = options.caFile;
            reason = tlsResult_ == TlsResult::kOk ? "TLSv1.3" : "hostname mismatch";
            return tlsResult_;
        });
        m->SetSenderAddress("me@here");
        m->AddTo("a1", "a1");
        m->AddTextPart("note");
        m->AddFilePart(dir_.file("KX3O.kx0"));
        return m;
    }
    // The greeting, EHLO and the switch to TLS.
    void ScriptStartTls() {
        server_->Reply("220 ready\r\n")
            .Expect("EHLO tester\r\n")
            .Reply(kEhloPlain)
            .Expect("STARTTLS\r\n")
            .Reply("220 go ahead\r\n")
            .Expect("EHLO tester\r\n");
    }
    void ExpectNoPassword(const std::string& text) {
        for (const std::string& secret :
             {std::string("pw 1"), kPlainResponse, mail::Base64("pw 1")})
            EXPECT_EQ(text.find(secret), std::string::npos) << text;
    }
};

TEST_F(SecureSmtpTest, StartTlsThenEhloAgainThenAuthPlainThenTheMessage) {
    ScriptStartTls();
    server_->Reply(kEhloTls)
        .Expect("AUTH PLAIN " + kPlainResponse + "\r\n")
        .Reply("235 ok\r\n")
        .Expect("MAIL FROM:<me@here>\r\n")
        .Reply("250 ok\r\n")
        .Expect("RCPT TO:<a1>\r\n")
        .Reply("250 ok\r\n")
        .Expect("DATA\r\n")
        .Reply("354 go\r\n")
        .ExpectUntil("\r\n.\r\n")
        .Reply("250 queued\r\n")
        .Expect("QUIT\r\n")
        .Reply("221 bye\r\n");
    auto m = Mail(1);
    EXPECT_EQ(m->Send(), 0) << server_->Mismatch();
    EXPECT_TRUE(server_->Done());
    EXPECT_EQ(server_->connectedPort(), 587);
    EXPECT_EQ(tlsAt_, static_cast<long>(std::string("EHLO tester\r\nSTARTTLS\r\n").size()));
    EXPECT_EQ(tlsHost_, "mail.test");
    EXPECT_EQ(tlsCa_, "/ca.pem");
    EXPECT_NE(trace_.find("C: AUTH PLAIN ********\n"), std::string::npos) << trace_;
    ExpectNoPassword(trace_);
}

TEST_F(SecureSmtpTest, AuthLoginWhenPlainIsNotOfferedAndTheLoginChecksAnswers) {
    ScriptStartTls();
    server_->Reply("250-mail.test\r\n250 AUTH LOGIN\r\n")
        .Expect("AUTH LOGIN\r\n")
        .Reply("334 VXNlcm5hbWU6\r\n")
        .Expect(mail::Base64("jo@x") + "\r\n")
        .Reply("334 UGFzc3dvcmQ6\r\n")
        .Expect(mail::Base64("pw 1") + "\r\n")
        .Reply("235 ok\r\n")
        .Expect("QUIT\r\n")
        .Reply("221 bye\r\n");
    auto m = Mail(1);
    EXPECT_EQ(m->CheckLogin(), 0) << server_->Mismatch();
    EXPECT_TRUE(server_->Done());
    EXPECT_NE(trace_.find("C: ********\n"), std::string::npos) << trace_;
    ExpectNoPassword(trace_);

    // The same dialogue refused after the password.
    server_ = std::make_shared<ScriptedStream>();
    ScriptStartTls();
    server_->Reply("250-mail.test\r\n250 AUTH LOGIN\r\n")
        .Expect("AUTH LOGIN\r\n")
        .Reply("334 VXNlcm5hbWU6\r\n")
        .Expect(mail::Base64("jo@x") + "\r\n")
        .Reply("334 UGFzc3dvcmQ6\r\n")
        .Expect(mail::Base64("pw 1") + "\r\n")
        .Reply("535 5.7.8 no such login (" + mail::Base64("pw 1") + ")\r\n");
    auto refused = Mail(1);
    EXPECT_EQ(refused->Send(), CSMTPError::kLoginRefused);
    EXPECT_TRUE(server_->Done());
    EXPECT_EQ(refused->failureText(),
              "The SMTP server mail.test refused the login of jo@x: 535 5.7.8 no such login "
              "(********)");
    std::string log = ReadFile(dir_.file("log"));
    EXPECT_NE(log.find("refused the login of jo@x"), std::string::npos) << log;
    ExpectNoPassword(log);
}

TEST_F(SecureSmtpTest, NoStartTlsOfferedOrGrantedStopsBeforeAnythingElseIsSent) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> exchange;  // client bytes, reply
        int code;
    };
    const Case cases[] = {
        {"not offered", {{"EHLO tester\r\n", "250-mail.test\r\n250 SIZE 10\r\n"}}, 14},
        {"EHLO unknown, HELO has no extensions",
         {{"EHLO tester\r\n", "502 what\r\n"}, {"HELO tester\r\n", "250 hi\r\n"}},
         14},
        {"refused", {{"EHLO tester\r\n", kEhloPlain}, {"STARTTLS\r\n", "454 not now\r\n"}}, 14},
        {"more than the answer before encryption",
         {{"EHLO tester\r\n", kEhloPlain},
          {"STARTTLS\r\n", "220 go ahead\r\n250-mail.test\r\n250 AUTH PLAIN\r\n"}},
         16},
        {"temporary EHLO refusal", {{"EHLO tester\r\n", "421 closing\r\n"}}, 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        server_ = std::make_shared<ScriptedStream>();
        tlsAt_ = -1;
        server_->Reply("220 ready\r\n");
        std::string sent;
        for (const auto& [client, reply] : c.exchange) {
            server_->Expect(client).Reply(reply);
            sent += client;
        }
        auto m = Mail(1);
        EXPECT_EQ(m->Send(), c.code);
        EXPECT_EQ(server_->written(), sent);  // not one byte after the last answer
        EXPECT_TRUE(server_->Done());
        EXPECT_EQ(tlsAt_, -1);
        if (c.code == 14) {
            EXPECT_NE(m->failureText().find("The SMTP server mail.test "), std::string::npos)
                << m->failureText();
        }
    }
}

TEST_F(SecureSmtpTest, CertificateThatFailsEndsTheSessionWithItsOwnCodeAndText) {
    tlsResult_ = TlsResult::kNotVerified;
    ScriptStartTls();
    auto m = Mail(1, "jo@x", "mail.test:2525");
    EXPECT_EQ(m->Send(), CSMTPError::kCertificate);
    EXPECT_EQ(server_->connectedPort(), 2525);
    EXPECT_EQ(server_->written(), "EHLO tester\r\nSTARTTLS\r\n");
    EXPECT_EQ(m->failureText().rfind("The SMTP server mail.test could not prove that it is "
                                     "mail.test: hostname mismatch. Nothing was sent.",
                                     0),
              0u)
        << m->failureText();

    // From the start: nothing at all is read or written in plain text.
    server_ = std::make_shared<ScriptedStream>();
    tlsResult_ = TlsResult::kFailed;
    auto implicit = Mail(2);
    EXPECT_EQ(implicit->Send(), CSMTPError::kTlsFailed);
    EXPECT_EQ(server_->connectedPort(), 465);
    EXPECT_EQ(tlsAt_, 0);
    EXPECT_EQ(server_->written(), "");
}

TEST_F(SecureSmtpTest, ImplicitTlsFallsBackToHeloAndLogsInOnlyWhenAskedAndAble) {
    // TLS from the start, EHLO refused: HELO, no login possible, the mail goes on.
    server_->Reply("220 ready\r\n")
        .Expect("EHLO tester\r\n")
        .Reply("500 unknown\r\n")
        .Expect("HELO tester\r\n")
        .Reply("250 hi\r\n")
        .Expect("QUIT\r\n")
        .Reply("221 bye\r\n");
    EXPECT_EQ(Mail(2)->CheckLogin(), 0) << server_->Mismatch();
    EXPECT_EQ(tlsAt_, 0);
    EXPECT_TRUE(server_->Done());

    struct Case {
        const char* what;
        std::string account, ehlo;
        int code;
    };
    const Case cases[] = {
        {"no account", "", kEhloTls, 0},
        {"AUTH not offered", "jo@x", "250-mail.test\r\n250 SIZE 5\r\n", 0},
        {"only unknown mechanisms", "jo@x", "250-mail.test\r\n250 AUTH CRAM-MD5 XOAUTH2\r\n", 17},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        server_ = std::make_shared<ScriptedStream>();
        server_->Reply("220 ready\r\n").Expect("EHLO tester\r\n").Reply(c.ehlo);
        if (c.code == 0)
            server_->Expect("QUIT\r\n").Reply("221 bye\r\n");
        auto m = Mail(2, c.account);
        EXPECT_EQ(m->CheckLogin(), c.code) << server_->Mismatch();
        EXPECT_TRUE(server_->Done());
        EXPECT_EQ(server_->written().find("AUTH"), std::string::npos);
    }
}

TEST_F(SecureSmtpTest, PortsFollowTheSecurityAndAnUnknownValueMeansStartTls) {
    EXPECT_EQ(CSMTPEmail::DefaultPort(SmtpSecurity::kNone), 25);
    EXPECT_EQ(CSMTPEmail::DefaultPort(SmtpSecurity::kStartTls), 587);
    EXPECT_EQ(CSMTPEmail::DefaultPort(SmtpSecurity::kImplicitTls), 465);
    CSMTPEmail m;
    for (std::uint32_t v : {1u, 3u, 0xffffffffu}) {
        m.SetSecurity(v);
        EXPECT_EQ(m.security(), SmtpSecurity::kStartTls) << v;
    }
    m.SetSecurity(0);
    EXPECT_EQ(m.security(), SmtpSecurity::kNone);

    // Plain text: HELO on port 25, no EHLO, no login whatever the account.
    server_->Reply("220 ready\r\n")
        .Expect("HELO tester\r\n")
        .Reply("250 hi\r\n")
        .Expect("QUIT\r\n")
        .Reply("221 bye\r\n");
    auto plain = Mail(0);
    EXPECT_EQ(plain->CheckLogin(), 0) << server_->Mismatch();
    EXPECT_EQ(server_->connectedPort(), 25);
    EXPECT_EQ(tlsAt_, -1);
}

// Plain text only when the stored choice says so or there is none: a value that is there but
// is no number (stored as text by hand) is never taken for "none".
TEST_F(SecureSmtpTest, StoredSecurityThatIsNoNumberNeverMeansPlainText) {
    platform::RegKeyGuard key;
    ASSERT_EQ(platform::RegCreateKeyEx(platform::HKEY_LOCAL_MACHINE, kKorrinKey, key.out()),
              platform::ERROR_SUCCESS);
    CSMTPEmail m;
    mail::UseStoredSecurity(m);
    EXPECT_EQ(m.security(), SmtpSecurity::kNone);  // nothing stored

    ASSERT_EQ(CUtils().SetRegistryDword(kKorrinKey, setting::kSmtpSecurity, 2), 1);
    mail::UseStoredSecurity(m);
    EXPECT_EQ(m.security(), SmtpSecurity::kImplicitTls);

    for (const std::string text : {"2", "0", ""}) {
        SCOPED_TRACE(text);
        ASSERT_EQ(CUtils().SetRegistryString(kKorrinKey, setting::kSmtpSecurity, text), 1);
        CSMTPEmail t;
        mail::UseStoredSecurity(t);
        EXPECT_EQ(t.security(), SmtpSecurity::kStartTls);
    }
    // Eight bytes of binary are no DWORD either.
    const std::uint8_t eight[8] = {};
    ASSERT_EQ(platform::RegSetValueEx(key.get(), setting::kSmtpSecurity, platform::REG_BINARY,
                                      eight, sizeof eight),
              platform::ERROR_SUCCESS);
    CSMTPEmail b;
    mail::UseStoredSecurity(b);
    EXPECT_EQ(b.security(), SmtpSecurity::kStartTls);
}

}  // namespace
