// A voice message sent by CSmtpSender and by korrinctl send to a real SMTP server (aiosmtpd on
// 127.0.0.1), read back with Python's email package; the settings check; the windows asked
// for when the server cannot be reached.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "integration/transmit/TransmitFixture.h"
#include "korrin/app/EventReport.h"
#include "korrin/mail/SmtpSender.h"

using namespace korrin;
using namespace korrin::test;

namespace {

const char* kHeaderOrder =
    "X-Sender|To|Subject|X-Mailer|Return-Path|Date|MIME-Version|X-MailLibrary|From|Content-type";

// Python's reader gives line ends as LF.
std::string AsRead(const std::string& crlf) {
    std::string out;
    for (std::size_t i = 0; i < crlf.size(); ++i)
        if (!(crlf[i] == '\r' && i + 1 < crlf.size() && crlf[i + 1] == '\n'))
            out += crlf[i];
    return out;
}

class SmtpSenderTest : public MailStoreTest {};

TEST_F(SmtpSenderTest, EachMissingOrEmptySettingNamesItsLabelTwiceThenOpensTheSmtpSheet) {
    setSettings(1);  // no network is reached while a setting is missing
    const std::pair<const char*, const char*> required[] = {
        {setting::kName, "Display Name"},          {setting::kSmtpHost, "Outgoing SMTP Server"},
        {setting::kEmailAddress, "Email Address"}, {setting::kAccount, "Account"},
        {setting::kPassword, "Password"},
    };
    int sheets = 0;
    for (const auto& [value, label] : required) {
        SCOPED_TRACE(value);
        setSettings(1);
        setString(value, "");
        CSmtpSender sender;
        EXPECT_EQ(sender.LoadSettings(), 1);
        EXPECT_EQ(dialogs_.smtp, ++sheets);
        EXPECT_EQ(messageBoxTexts().back(), MissingSettingText(label));
    }
    EXPECT_EQ(MissingSettingText("Outgoing SMTP Server"),
              "No Outgoing SMTP Server has been specified in Preferences. Outgoing SMTP Server is "
              "required by Quillion EMail for Windows (tm) in order to transmit this message.  "
              "Press the OK button and enter the required fields.");
    auto lines = ReadLines(logPath());
    EXPECT_EQ(JsonField(lines.back(), "caption"), "Quillion EMail for Windows(tm)");

    // A value never stored counts as missing too; an empty Organization stops nothing.
    setSettings(1);
    {
        platform::RegKeyGuard key;
        ASSERT_EQ(platform::RegOpenKeyEx(platform::HKEY_LOCAL_MACHINE, kKorrinKey, key.out()),
                  platform::ERROR_SUCCESS);
        platform::RegDeleteValue(key.get(), setting::kAccount);
    }
    CSmtpSender missing;
    EXPECT_EQ(missing.LoadSettings(), 1);
    setSettings(1);
    CSmtpSender complete;
    EXPECT_EQ(complete.LoadSettings(), 0);
    EXPECT_EQ(complete.server(), "127.0.0.1:1");
    EXPECT_EQ(complete.mail().FindHeader("X-Sender"), "jo@here.test");
    EXPECT_EQ(complete.mail().security(), SmtpSecurity::kNone);
    ASSERT_EQ(CUtils().SetRegistryDword(kKorrinKey, setting::kSmtpSecurity, 1), 1);
    CSmtpSender secured;
    EXPECT_EQ(secured.LoadSettings(), 0);
    EXPECT_EQ(secured.mail().security(), SmtpSecurity::kStartTls);
    EXPECT_EQ(dialogs_.smtp, sheets + 1);
}

TEST_F(SmtpSenderTest, ListsSplitAtCommaSemicolonAndTabKeepingTheirBlanks) {
    EXPECT_EQ(SplitEnvelopeList("a1; b2,c3\td4"),
              (std::vector<std::string>{"a1", " b2", "c3", "d4"}));
    EXPECT_EQ(SplitEnvelopeList(""), std::vector<std::string>{""});
    EXPECT_EQ(SplitEnvelopeList("x y;;"), (std::vector<std::string>{"x y", "", ""}));
}

TEST_F(SmtpSenderTest, RealServerGetsHeadersInOrderBannerAndNoteAndTheFileAsItLies) {
    startServer();
    makeFolder("OUTBOX");
    makeEnvelope(install() + "/OUTBOX/KX5O.kx0", payload(120000, 1), "a1@x.test; b2@x.test", "",
                 "Voice one", "Hello there.\n.\nBye");
    makeEnvelope(install() + "/OUTBOX/KX6O.kx1", payload(70001, 2, "PK\x03\x04"),
                 "a1@x.test; b2@x.test", "", "Voice two", "Zipped");
    int n = 0;
    for (const std::string& path :
         {install() + "/OUTBOX/KX5O.kx0", install() + "/OUTBOX/KX6O.kx1"}) {
        SCOPED_TRACE(path);
        const std::string before = ReadFile(path);
        CSmtpSender sender;
        ASSERT_EQ(sender.LoadSettings(), 0);
        CMessageTrailer envelope;
        ASSERT_EQ(SendMessageFile(sender, path, &envelope), 0);
        EXPECT_EQ(ReadFile(path), before);  // sent as it lies, and left as it was
        ++n;
        const std::string json = ReadFile(mailFile(n, ".json"));
        EXPECT_NE(json.find("\"rcpt\": [\"a1@x.test\", \"b2@x.test\"]"), std::string::npos) << json;
        EXPECT_NE(json.find("\"from\": \"jo@here.test\""), std::string::npos) << json;
        RunResult r = CheckMail(mailFile(n, ".eml"), path);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(JsonField(r.out, "headers"), kHeaderOrder);
        EXPECT_EQ(JsonField(r.out, "defects"), "0");
        // The second display name keeps its leading blank.
        EXPECT_EQ(JsonField(r.out, "to"), "\"a1@x.test\" <a1@x.test>,\" b2@x.test\" <b2@x.test>");
        EXPECT_EQ(JsonField(r.out, "subject"), n == 1 ? "Voice one" : "Voice two");
        EXPECT_EQ(JsonField(r.out, "text"),
                  AsRead(NoteBanner()) + (n == 1 ? "Hello there.\n.\nBye" : "Zipped"));
        EXPECT_EQ(JsonField(r.out, "types"), n == 1 ? "unknown/kx0" : "unknown/kx1");
        EXPECT_EQ(JsonField(r.out, "names"), n == 1 ? "KX5O.kx0" : "KX6O.kx1");
        EXPECT_EQ(JsonField(r.out, "same"), "same");
        EXPECT_EQ(JsonField(r.out, "xmailer"), AsRead(XMailerValue()));
    }
    EXPECT_EQ(messageBoxTexts().size(), 0u);
}

TEST_F(SmtpSenderTest, BccReachesOnlyTheEnvelopeAndACcOnlyMessageHasNoToHeader) {
    startServer();
    makeFolder("OUTBOX");
    const std::string path = install() + "/OUTBOX/KX7O.kx0";
    makeEnvelope(path, payload(3000, 3), "", "c1@x.test,c2@x.test", "Copies", "note");
    {
        CSmtpSender sender;
        ASSERT_EQ(sender.LoadSettings(), 0);
        CMessageTrailer envelope;
        ASSERT_EQ(SendMessageFile(sender, path, &envelope), 0);
    }
    RunResult r = CheckMail(mailFile(1, ".eml"));
    EXPECT_EQ(JsonField(r.out, "headers"),
              "X-Sender|Cc|Subject|X-Mailer|Return-Path|Date|MIME-Version|X-MailLibrary|From|"
              "Content-type");
    EXPECT_EQ(JsonField(r.out, "cc"), "\"c1@x.test\" <c1@x.test>,\"c2@x.test\" <c2@x.test>");

    CSmtpSender sender;
    ASSERT_EQ(sender.LoadSettings(), 0);
    const std::string to = "t1@x.test", bcc = "hidden@x.test";
    EXPECT_EQ(sender.AddRecipients(&to, nullptr, &bcc), 1);
    ASSERT_EQ(sender.Send("Blind", "n", path), 0);
    const std::string json = ReadFile(mailFile(2, ".json"));
    EXPECT_NE(json.find("\"rcpt\": [\"t1@x.test\", \"hidden@x.test\"]"), std::string::npos) << json;
    EXPECT_EQ(ReadFile(mailFile(2, ".eml")).find("hidden"), std::string::npos);
}

TEST_F(SmtpSenderTest, UnreachableServerOffersDialUpAndOtherFailuresTheCannotSendText) {
    startServer();
    makeFolder("OUTBOX");
    const std::string path = install() + "/OUTBOX/KX8O.kx0";
    makeEnvelope(path, payload(500, 4), "refuse@x.test", "", "No", "n");
    {
        CSmtpSender sender;
        ASSERT_EQ(sender.LoadSettings(), 0);
        CMessageTrailer envelope;
        EXPECT_EQ(SendMessageFile(sender, path, &envelope), CSMTPError::kServerError);
    }
    EXPECT_EQ(dialogs_.dialUp, 0);
    ASSERT_FALSE(messageBoxTexts().empty());
    EXPECT_EQ(messageBoxTexts().back(), CEventReport::PlainBoxText(kCannotSendText));

    server_.reset();  // nobody listens there any more
    const auto boxes = messageBoxTexts().size();
    CSmtpSender sender;
    ASSERT_EQ(sender.LoadSettings(), 0);
    EXPECT_EQ(sender.CheckConnection(), CSMTPError::kNoConnection);
    CMessageTrailer envelope;
    EXPECT_EQ(SendMessageFile(sender, path, &envelope), CSMTPError::kNoConnection);
    EXPECT_EQ(dialogs_.dialUp, 1);
    EXPECT_EQ(messageBoxTexts().size(), boxes);  // the dial-up dialog, not the text
}

TEST_F(SmtpSenderTest, ARefusedRecipientStopsTheWholeSendAndAFileWithoutEnvelopeIsNotSent) {
    startServer();
    makeFolder("OUTBOX");
    const std::string path = install() + "/OUTBOX/KX9O.kx0";
    makeEnvelope(path, payload(500, 5), "ok@x.test;bad@x.test\r\nRCPT TO:<evil@x.test>", "",
                 "Injected", "n");
    CSmtpSender sender;
    ASSERT_EQ(sender.LoadSettings(), 0);
    CMessageTrailer envelope;
    EXPECT_EQ(SendMessageFile(sender, path, &envelope), CSMTPError::kLineBreak);
    const std::string plain = install() + "/OUTBOX/KX10O.kx0";
    WriteFile(plain, payload(500, 6));
    CSmtpSender other;
    ASSERT_EQ(other.LoadSettings(), 0);
    EXPECT_EQ(SendMessageFile(other, plain, &envelope), CSMTPError::kFileOpen);
    EXPECT_EQ(receivedCount(), 0);
}

TEST_F(SmtpSenderTest, KorrinctlSendExitsWithTheMailCodeAndLeavesTheFile) {
    startServer();
    makeFolder("OUTBOX");
    const std::string path = install() + "/OUTBOX/KX11O.kx1";
    makeEnvelope(path, payload(9000, 7, "PK\x03\x04"), "a1@x.test; b2@x.test", "", "From a shell",
                 "typed");
    const std::string before = ReadFile(path);
    const std::string ctl = BuildDir() + "/korrinctl";
    RunResult r = korrin::test::Run({ctl, "send", path});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(path), before);
    RunResult m = CheckMail(mailFile(1, ".eml"), path);
    EXPECT_EQ(JsonField(m.out, "same"), "same");
    EXPECT_EQ(JsonField(m.out, "headers"), kHeaderOrder);

    setString(setting::kSmtpHost, "127.0.0.1:1");
    EXPECT_EQ(korrin::test::Run({ctl, "send", path}).exitCode, CSMTPError::kNoConnection);
    setString(setting::kPassword, "");
    EXPECT_EQ(korrin::test::Run({ctl, "send", path}).exitCode, 20);
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(receivedCount(), 1);
}

}  // namespace
