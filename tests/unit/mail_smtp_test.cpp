// The SMTP client against a scripted server: the dialogue byte for byte in both directions,
// replies split anywhere, refusals, drops and silence at every step, and the time bounds.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "helpers/ScriptedStream.h"
#include "helpers/TestSupport.h"
#include "korrin/mail/mailutil.h"

using namespace korrin;
using korrin::platform::net::ScriptedFactory;
using korrin::platform::net::ScriptedStream;
using korrin::test::JsonField;
using korrin::test::ReadLines;
using korrin::test::ScopedEnv;
using korrin::test::WriteFile;

namespace {

// The dialogue of one message to a1 and b2 (and a blind copy), reply by reply.
struct Step {
    std::string client;  // what the client writes before the reply ("" for the greeting)
    std::string reply;
    const char* label;
};
const std::vector<Step> kDialogue = {
    {"", "220 ready\r\n", "Welcome Message"},
    {"HELO tester\r\n", "250 hello\r\n", "HELO "},
    {"MAIL FROM:<me@here>\r\n", "250 ok\r\n", "MAIL FROM: "},
    {"RCPT TO:<a1>\r\n", "250 ok\r\n", "RCPT TO: "},
    {"RCPT TO:<b2>\r\n", "250 ok\r\n", "RCPT TO: "},
    {"RCPT TO:<hidden@x>\r\n", "250 ok\r\n", "RCPT TO: "},
    {"DATA\r\n", "354 go on\r\n", "DATA"},
    {"", "250 queued\r\n", "End of Message Tag"},  // after the message
    {"QUIT\r\n", "221 bye\r\n", "Quit"},
};
constexpr std::size_t kDataStep = 7;
constexpr std::size_t kQuitStep = 8;  // the server has taken the message before it

class SmtpTest : public korrin::test::RegistryTest {
  protected:
    ScopedEnv log_{"KORRIN_MESSAGE_LOG", dir_.file("log")};
    ScopedEnv answers_{"KORRIN_MESSAGE_ANSWERS", "OK"};
    ScopedEnv tmp_{"TMPDIR", dir_.path()};
    std::shared_ptr<ScriptedStream> server_ = std::make_shared<ScriptedStream>();

    void SetUp() override { WriteFile(dir_.file("KX3O.kx0"), "RIFF....WAVEdata"); }

    std::unique_ptr<CSMTPEmail> Mail(const std::string& note = "Banner\r\nnote") {
        auto m = std::make_unique<CSMTPEmail>();
        m->SetServer("mail.test");
        m->SetLocalHostName("tester");
        m->SetStreamFactory(ScriptedFactory(server_));
        m->SetSenderAddress("me@here");
        m->AddTo("a1", "a1");
        m->AddTo(" b2", " b2");
        m->AddBcc("hidden@x");
        m->SetSubject("Voice");
        m->AddTextPart(note);
        m->AddFilePart(dir_.file("KX3O.kx0"));
        return m;
    }

    // The whole dialogue, with `last` steps played (the rest left out).
    void Script(std::size_t last = kDialogue.size()) {
        for (std::size_t i = 0; i < last; ++i) {
            if (i == kDataStep)
                server_->ExpectUntil("\r\n.\r\n");
            else if (!kDialogue[i].client.empty())
                server_->Expect(kDialogue[i].client);
            server_->Reply(kDialogue[i].reply);
        }
    }

    std::string Commands() const {
        std::string all;
        for (const auto& s : kDialogue)
            all += s.client;
        return all;
    }

    std::vector<std::string> logLines() const { return ReadLines(dir_.file("log")); }
    bool TempFilesLeft() const {
        for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
            if (e.path().filename().string().rfind("~mail", 0) == 0)
                return true;
        return false;
    }
};

// Undoes the dot-stuffing of the data and drops its end.
std::string Unstuff(std::string data) {
    EXPECT_GE(data.size(), 5u);
    data.resize(data.size() - 5);  // "\r\n.\r\n"
    std::string out;
    bool lineStart = true;
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (lineStart && data[i] == '.') {
            EXPECT_EQ(data[i + 1], '.') << "an unstuffed dot at " << i;
            ++i;
        }
        out += data[i];
        lineStart = data[i] == '\n';
    }
    return out;
}

TEST_F(SmtpTest, DialogueIsExactInBothDirectionsWhateverTheReplySplitting) {
    for (std::size_t chunk : {std::size_t(1), std::size_t(3), std::size_t(1) << 20}) {
        SCOPED_TRACE(chunk);
        server_ = std::make_shared<ScriptedStream>();
        server_->SetChunkSize(chunk);
        Script();
        auto m = Mail();
        EXPECT_EQ(m->Send(), 0);
        EXPECT_EQ(server_->Mismatch(), "");
        EXPECT_TRUE(server_->Done());
        EXPECT_TRUE(server_->closedByClient());
        EXPECT_EQ(server_->connectedHost(), "mail.test");
        EXPECT_EQ(server_->connectedPort(), 25);
        // Commands and message, nothing else, in order.
        std::string w = server_->written();
        std::string cmds = Commands();
        auto dataAt = cmds.find("QUIT");
        EXPECT_EQ(w, cmds.substr(0, dataAt) + server_->captured() + "QUIT\r\n");

        std::string message = Unstuff(server_->captured());
        EXPECT_EQ(message.rfind("X-Sender: me@here\r\nTo: \"a1\" <a1>,\" b2\" <b2>\r\n"
                                "Subject: Voice\r\nReturn-Path: me@here\r\nDate: ",
                                0),
                  0u)
            << message.substr(0, 200);
        EXPECT_NE(message.find("\r\n\r\nBanner\r\nnote=\r\n"), std::string::npos);
        EXPECT_NE(message.find("UklGRi4uLi5XQVZFZGF0YQ==\r\n"), std::string::npos);
        EXPECT_EQ(message.find("hidden"), std::string::npos);
        EXPECT_FALSE(TempFilesLeft());
    }
    EXPECT_TRUE(logLines().empty());
}

TEST_F(SmtpTest, ReplySplitAtEveryByteIsReadWholeBeforeItIsJudged) {
    const std::string greeting = "220-first line\r\n220 ready\r\n";
    for (std::size_t k = 1; k < greeting.size(); ++k) {
        server_ = std::make_shared<ScriptedStream>();
        server_->Reply({greeting.substr(0, k), greeting.substr(k)});
        server_->Expect("QUIT\r\n").Reply("221 bye\r\n");
        CSMTPEmail m;
        m.SetStreamFactory(ScriptedFactory(server_));
        m.SetServer("h");
        EXPECT_EQ(m.CheckConnection(), 0) << k;
        EXPECT_EQ(server_->Mismatch(), "") << k;
        EXPECT_TRUE(server_->Done()) << k;
    }
}

TEST_F(SmtpTest, BusyGreetingEndsWithServerErrorAndTheTipNamingTheStep) {
    server_->Reply("421 busy\r\n");
    auto m = Mail();
    EXPECT_EQ(m->Send(), CSMTPError::kServerError);
    EXPECT_EQ(m->error(), CSMTPError::kServerError);
    EXPECT_EQ(server_->written(), "");  // nothing said to a refusing server
    EXPECT_TRUE(server_->closedByClient());
    auto log = logLines();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(JsonField(log[0], "kind"), "tip");
    EXPECT_EQ(JsonField(log[0], "source"), "mailutil");
    EXPECT_EQ(JsonField(log[0], "text"),
              "Welcome Message - 421 busy, Quillion EMail for Windows(tm) has detected a problem "
              "with your SMTP server.  Please report this error to Quillion via email "
              "(support@quillion.example) for assistance.  You may also wish to check "
              "http://www.quillion.example/PreferencesSmtp.html or click the 'Fix info from the "
              "web' button below. ");
    EXPECT_NE(
        JsonField(log[0], "detail")
            .find("More info from the Web | http://www.quillion.example/PreferencesSmtp.html"),
        std::string::npos);

    auto check = std::make_shared<ScriptedStream>();
    check->Reply("421 busy\r\n");
    CSMTPEmail c;
    c.SetStreamFactory(ScriptedFactory(check));
    EXPECT_EQ(c.CheckConnection(), CSMTPError::kServerError);
    EXPECT_EQ(JsonField(logLines().back(), "text").substr(0, 48),
              "Check Connection - Welcome Message - 421 busy, Q");
}

TEST_F(SmtpTest, RefusalAtEveryStepEndsTheSessionWithItsLabel) {
    for (std::size_t step = 0; step < kDialogue.size(); ++step) {
        SCOPED_TRACE(step);
        server_ = std::make_shared<ScriptedStream>();
        Script(step);
        if (step == kDataStep)
            server_->ExpectUntil("\r\n.\r\n");
        else if (!kDialogue[step].client.empty())
            server_->Expect(kDialogue[step].client);
        server_->Reply("550 no\r\n");
        auto m = Mail();
        EXPECT_EQ(m->Send(), step == kQuitStep ? 0 : CSMTPError::kServerError);
        EXPECT_EQ(server_->Mismatch(), "");
        EXPECT_TRUE(server_->Done());  // nothing more was sent after the refusal
        EXPECT_EQ(JsonField(logLines().back(), "text")
                      .rfind(std::string(kDialogue[step].label) + " - 550 no, ", 0),
                  0u);
        EXPECT_FALSE(TempFilesLeft());
    }
}

TEST_F(SmtpTest, DropsAndSilenceAtEveryStepFailWithoutHanging) {
    for (std::size_t step = 0; step < kDialogue.size(); ++step) {
        for (int how = 0; how < 3; ++how) {  // closed, silent, send fails
            SCOPED_TRACE(std::to_string(step) + "/" + std::to_string(how));
            server_ = std::make_shared<ScriptedStream>();
            Script(step);
            if (how == 2) {
                if (kDialogue[step].client.empty() && step != kDataStep)
                    continue;  // the greeting has no command to fail
                server_->FailSend();
            } else {
                if (step == kDataStep)
                    server_->ExpectUntil("\r\n.\r\n");
                else if (!kDialogue[step].client.empty())
                    server_->Expect(kDialogue[step].client);
                if (how == 0)
                    server_->ServerCloses();
                else
                    server_->Silence();
            }
            auto m = Mail();
            const int failed = how == 2 ? CSMTPError::kSendFailed : CSMTPError::kReceiveFailed;
            EXPECT_EQ(m->Send(), step == kQuitStep ? 0 : failed);
            EXPECT_TRUE(server_->closedByClient());
            EXPECT_FALSE(TempFilesLeft());
        }
    }
    EXPECT_TRUE(logLines().empty());
}

// Once the server has answered the final "." with 250 it has the message: whatever goes wrong
// with QUIT afterwards, the send succeeded, so the message is not sent again and no failure is
// shown for it.
TEST_F(SmtpTest, MessageTakenByTheServerIsSentWhateverBecomesOfQuit) {
    for (int how = 0; how < 4; ++how) {  // refused, closed, silent, send fails
        SCOPED_TRACE(how);
        server_ = std::make_shared<ScriptedStream>();
        Script(kQuitStep);
        if (how == 3) {
            server_->FailSend();
        } else {
            server_->Expect("QUIT\r\n");
            if (how == 0)
                server_->Reply("421 closing\r\n");
            else if (how == 1)
                server_->ServerCloses();
            else
                server_->Silence();
        }
        std::vector<std::string> traced;
        auto m = Mail();
        m->SetTrace([&](const std::string& line) { traced.push_back(line); });
        EXPECT_EQ(m->Send(), 0);
        EXPECT_EQ(m->error(), 0);
        EXPECT_EQ(server_->Mismatch(), "");
        EXPECT_TRUE(server_->Done());
        EXPECT_TRUE(server_->closedByClient());
        EXPECT_FALSE(TempFilesLeft());
        ASSERT_FALSE(traced.empty());
        EXPECT_NE(traced.back().find("accepted"), std::string::npos) << traced.back();
    }
}

TEST_F(SmtpTest, EachStepWaitsWithinItsOwnBound) {
    Script();
    auto m = Mail();
    SmtpTimeouts t;
    t.greeting = 1;
    t.helo = 2;
    t.mailFrom = 3;
    t.rcptTo = 4;
    t.data = 5;
    t.endOfData = 6;
    t.quit = 7;
    t.block = 8;
    t.command = 9;
    m->SetTimeouts(t);
    ASSERT_EQ(m->Send(), 0);
    EXPECT_EQ(server_->receiveBounds(), (std::vector<int>{1, 2, 3, 4, 4, 4, 5, 6, 7}));
    auto sends = server_->sendBounds();
    EXPECT_EQ(std::count(sends.begin(), sends.end(), 9), 7);  // HELO MAIL 3xRCPT DATA QUIT
    EXPECT_GE(std::count(sends.begin(), sends.end(), 8), 2);  // the message and its end

    // The connection check waits no longer than its own bound.
    auto check = std::make_shared<ScriptedStream>();
    check->Reply("220 hi\r\n").Expect("QUIT\r\n").Reply("221 bye\r\n");
    CSMTPEmail c;
    c.SetStreamFactory(ScriptedFactory(check));
    t.check = 3;
    c.SetTimeouts(t);
    ASSERT_EQ(c.CheckConnection(), 0);
    EXPECT_EQ(check->receiveBounds(), (std::vector<int>{1, 3}));
}

TEST_F(SmtpTest, OverlongReplyWithoutLineEndFailsAtTheLimit) {
    auto run = [&](const std::string& reply) {
        server_ = std::make_shared<ScriptedStream>();
        server_->SetChunkSize(1000);
        server_->Reply(reply).Expect("QUIT\r\n").Reply("221 bye\r\n");
        CSMTPEmail m;
        m.SetStreamFactory(ScriptedFactory(server_));
        return m.CheckConnection();
    };
    EXPECT_EQ(run("220" + std::string(5000, 'x')), CSMTPError::kReceiveFailed);
    EXPECT_EQ(run("220" + std::string(4090, 'x') + "\r\n"), 0);  // 4,095 bytes in all
    EXPECT_EQ(run("220" + std::string(4091, 'x') + "\r\n"), CSMTPError::kReceiveFailed);
    EXPECT_EQ(run("\r\n"), CSMTPError::kServerError);  // no code is no acceptance
}

TEST_F(SmtpTest, DotsAtLineStartsAreDoubledAlsoAtPieceBoundaries) {
    // Three-byte lines of one dot: since the piece size leaves 1 when divided by 3, one of any
    // three successive pieces begins with such a line.
    static_assert(CSMTPEmail::kPieceSize % 3 == 1);
    std::string note;
    for (std::size_t i = 0; i < CSMTPEmail::kPieceSize * 4 / 3; ++i)
        note += ".\r\n";
    Script();
    auto m = Mail(note);
    ASSERT_EQ(m->Send(), 0);
    ASSERT_EQ(server_->Mismatch(), "");
    std::string data = server_->captured();
    std::string message = Unstuff(data);
    bool boundaryHit = false;
    for (std::size_t at = CSMTPEmail::kPieceSize; at < message.size(); at += CSMTPEmail::kPieceSize)
        boundaryHit = boundaryHit || (message[at] == '.' && message[at - 1] == '\n');
    EXPECT_TRUE(boundaryHit);
    EXPECT_NE(data.find("\r\n..\r\n..\r\n"), std::string::npos);

    std::string out;
    bool lineStart = true;
    mail::DotStuff("ab\n", 3, lineStart, out);
    mail::DotStuff(".c\n.", 4, lineStart, out);
    mail::DotStuff(".", 1, lineStart, out);
    EXPECT_EQ(out, "ab\n..c\n...");
}

// The message goes from the writer straight to the server: no temporary folder is needed (or
// used), and what arrives is the message the writer makes.
TEST_F(SmtpTest, TheMessageGoesOutWithoutATemporaryFile) {
    // Several pieces' worth of attachment.
    std::string audio = "RIFF";
    for (std::size_t i = 0; audio.size() < CSMTPEmail::kPieceSize * 2; ++i)
        audio += static_cast<char>((i * 2654435761u) >> 13);
    WriteFile(dir_.file("KX3O.kx0"), audio);
    Script();
    auto m = Mail();
    auto written = Mail();
    std::string expected;
    {
        std::FILE* f = std::tmpfile();
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(written->WriteOutMessage(f), 0);
        std::rewind(f);
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
            expected.append(buf, n);
        std::fclose(f);
    }
    ScopedEnv noTemp("TMPDIR", dir_.file("no/such/folder"));
    ASSERT_EQ(m->Send(), 0);
    EXPECT_EQ(server_->Mismatch(), "");
    // The same but for the boundary (it names the time) and the Return-Path the session adds.
    std::string sent = Unstuff(server_->captured());
    const auto cut = [](std::string text, const std::string& boundary) {
        for (std::size_t at; (at = text.find(boundary)) != std::string::npos;)
            text.erase(at, boundary.size());
        return text;
    };
    sent = cut(sent, m->boundary());
    sent = cut(sent, "Return-Path: me@here\r\n");
    sent = cut(sent, "Date: " + m->FindHeader("Date") + "\r\n");
    expected = cut(expected, written->boundary());
    expected = cut(expected, "Date: " + written->FindHeader("Date") + "\r\n");
    EXPECT_EQ(sent, expected);
}

TEST_F(SmtpTest, UnreachableServerGivesSixFromBothEntryPoints) {
    server_->RefuseConnect();
    auto m = Mail();
    EXPECT_EQ(m->Send(), CSMTPError::kNoConnection);
    EXPECT_EQ(m->CheckConnection(), CSMTPError::kNoConnection);
    EXPECT_EQ(server_->written(), "");
    auto s = std::make_shared<ScriptedStream>();
    s->RefuseConnect(platform::net::ConnectResult::kNoSocket);
    m->SetStreamFactory(ScriptedFactory(s));
    EXPECT_EQ(m->CheckConnection(), CSMTPError::kNoSocket);
}

TEST_F(SmtpTest, MissingAttachmentAfterDataGivesTwelveAndLeavesNoTempFile) {
    Script(kDataStep);
    auto m = Mail();
    std::filesystem::remove(dir_.file("KX3O.kx0"));
    EXPECT_EQ(m->Send(), CSMTPError::kFileOpen);
    EXPECT_FALSE(TempFilesLeft());
    EXPECT_TRUE(server_->closedByClient());
}

TEST_F(SmtpTest, ServerTextCarriesAPortAndNetworkStartsWithTheFirstAndEndsWithTheLast) {
    struct Case {
        const char* server;
        const char* host;
        int port;
    };
    for (const Case& c : {Case{"mail.test:2525", "mail.test", 2525}, Case{" [::1]:26 ", "::1", 26},
                          Case{"::1", "::1", 25}, Case{"127.0.0.1", "127.0.0.1", 25}}) {
        auto s = std::make_shared<ScriptedStream>();
        s->Reply("220 hi\r\n").Expect("QUIT\r\n").Reply("221 bye\r\n");
        CSMTPEmail m;
        m.SetServer(c.server);
        m.SetStreamFactory(ScriptedFactory(s));
        EXPECT_EQ(m.CheckConnection(), 0) << c.server;
        EXPECT_EQ(s->connectedHost(), c.host);
        EXPECT_EQ(s->connectedPort(), c.port);
    }
    std::string host;
    std::uint16_t port = 0;
    for (const char* bad : {"h:", "h:0", "h:65536", "h:x", "[::1", "[::1]x", ":25", ""})
        EXPECT_FALSE(platform::net::SplitHostPort(bad, 25, host, port)) << bad;

    ASSERT_EQ(CSMTPEmail::LiveObjects(), 0);
    {
        auto s = std::make_shared<ScriptedStream>();
        s->Reply("220 hi\r\n").Expect("QUIT\r\n").Reply("221 bye\r\n");
        CSMTPEmail a, b;
        EXPECT_EQ(CSMTPEmail::LiveObjects(), 2);
        EXPECT_FALSE(platform::net::NetStarted());
        a.SetStreamFactory(ScriptedFactory(s));
        EXPECT_EQ(a.CheckConnection(), 0);
        EXPECT_TRUE(platform::net::NetStarted());
    }
    EXPECT_FALSE(platform::net::NetStarted());
}

TEST_F(SmtpTest, CommandsNeverCarryALineBreakFromTheirArguments) {
    auto m = Mail();
    m->SetLocalHostName("evil\r\nRSET");
    server_->Reply("220 hi\r\n");
    EXPECT_EQ(m->Send(), CSMTPError::kLineBreak);
    EXPECT_EQ(server_->written(), "");
}

}  // namespace
