// The transmission session against a real SMTP server (aiosmtpd on 127.0.0.1): order, moves
// and dates, stop, refusal, the Outbox timer, one session at a time, the timer that cannot be
// set. The user-interface thread is this test's thread with a Qt Core event loop.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <optional>

#include "integration/transmit/TransmitFixture.h"
#include "korrin/app/EventReport.h"
#include "korrin/mail/SmtpSender.h"
#include "korrin/store/FolderList.h"

using namespace korrin;
using namespace korrin::test;

namespace {

class RecordingView : public ITransmitView {
  public:
    void SetTransmitting(bool on) override { calls.push_back(on); }
    std::vector<bool> calls;
};

// A session whose Transmit timer (and with outboxToo its Outbox timer) can never be set.
class NoTransmitTimer : public CTransmitDlg {
  public:
    using CTransmitDlg::CTransmitDlg;
    bool outboxToo = false;

  protected:
    bool SetTimer(int id, int ms) override {
        if (id == kTransmitTimerId || outboxToo)
            return false;
        return CTransmitDlg::SetTimer(id, ms);
    }
};

// Greets every connection with "421 busy" and closes it.
class BusyServer {
  public:
    BusyServer() {
        thread_ = std::thread([this] {
            for (;;) {
                int c = accept(socket_.fd(), nullptr, nullptr);
                if (c < 0)
                    return;
                static const char kBusy[] = "421 busy\r\n";
                (void)!write(c, kBusy, sizeof kBusy - 1);
                close(c);
            }
        });
    }
    ~BusyServer() {
        shutdown(socket_.fd(), SHUT_RDWR);  // ends the accept; the socket closes after the join
        thread_.join();
    }
    int port() const { return socket_.port(); }

  private:
    LoopbackSocket socket_;
    std::thread thread_;
};

std::int64_t Seconds(const SYSTEMTIME& t) {
    std::int64_t s = 0;
    platform::SystemTimeToSeconds(t, &s);
    return s;
}

class SessionTest : public MailStoreTest {
  protected:
    void SetUp() override {
        MailStoreTest::SetUp();
        makeSendingFolders();
    }

    // Three messages dated an hour apart: "m1" oldest, "m3" newest. Returns their paths.
    std::vector<std::string> threeMessages(const std::string& secondTo = "b@x.test") {
        std::vector<std::string> paths;
        for (int i = 1; i <= 3; ++i) {
            std::string path = folder("OUTBOX") + "/KX" + std::to_string(i) + "O.kx0";
            makeEnvelope(path, payload(4000 + i, i), i == 2 ? secondTo : "a@x.test", "",
                         "m" + std::to_string(i), "note " + std::to_string(i),
                         utcTime(2020, 1, 1, 9 + i, 0));
            paths.push_back(path);
        }
        return paths;
    }

    // Runs the event loop until the session ends (or timeoutMs passes).
    std::optional<SessionEnd> runSession(CTransmitDlg& s, int timeoutMs = 30000) {
        std::optional<SessionEnd> end;
        QEventLoop loop;
        s.SetSessionEnded([&](const SessionEnd& e) {
            end = e;
            loop.quit();
        });
        if (!s.IsTransmitting())
            return end;
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
        return end;
    }

    std::vector<std::string> files(const char* name) {
        std::vector<std::string> kx0, kx1;
        FindMessageFiles(std::string(name) == "SENT" ? kSentItems : kOutbox, &kx0, &kx1);
        kx0.insert(kx0.end(), kx1.begin(), kx1.end());
        return kx0;
    }
    std::string subjectOf(const std::string& path) {
        CMessageTrailer t;
        EXPECT_EQ(t.ReadForSending(path, true, false), 0) << path;
        return t.subject;
    }
    std::vector<std::string> receivedSubjects() {
        std::vector<std::string> out;
        for (int i = 1; i <= receivedCount(); ++i)
            out.push_back(JsonField(CheckMail(mailFile(i, ".eml")).out, "subject"));
        return out;
    }

    int argc_ = 1;
    char name_[8] = "session";
    char* argv_[2] = {name_, nullptr};
    QCoreApplication app_{argc_, argv_};
    RecordingView view_;
};

TEST_F(SessionTest, ThreeMessagesGoNewestFirstAndMoveToSentItemsDatedWhenSent) {
    startServer();
    auto paths = threeMessages();
    std::vector<std::string> originals;
    for (const auto& p : paths)
        originals.push_back(ReadFile(p));
    CFolderLists lists;
    CTransmitDlg session(&lists, &view_);
    session.SetMinuteMilliseconds(1000);
    std::vector<TransmitResult> results;
    std::vector<std::int64_t> doneAt;
    const std::int64_t started = std::time(nullptr);
    session.SetMessageDone([&](const TransmitResult& r) {
        results.push_back(r);
        doneAt.push_back(std::time(nullptr));
    });
    ASSERT_TRUE(session.OutboxTimerTick());
    EXPECT_TRUE(session.IsTransmitting());
    auto end = runSession(session);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->reason, SessionEnd::kDone);
    EXPECT_FALSE(session.IsTransmitting());

    EXPECT_EQ(receivedSubjects(), (std::vector<std::string>{"m3", "m2", "m1"}));
    ASSERT_EQ(results.size(), 3u);
    EXPECT_TRUE(files("OUTBOX").empty());
    EXPECT_EQ(files("SENT").size(), 3u);
    EXPECT_TRUE(lists.IsOutOfDate(kOutbox));
    std::int64_t previous = started;
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const TransmitResult& r = results[i];
        EXPECT_EQ(r.code, 0);
        EXPECT_TRUE(r.moved);
        EXPECT_EQ(r.path, paths[2 - i]);
        EXPECT_EQ(r.placed, folder("SENT") + "/KX" + std::to_string(100 + i + 1) + "S.kx0");
        // The same message, envelope and all, with only its date changed to the sending time.
        CMessageTrailer sent;
        ASSERT_EQ(sent.ReadForSending(r.placed, true, false), 0);
        const std::string expected = dir_.file("expected.kx0");
        WriteFile(expected, originals[2 - i]);
        CMessageTrailer rebuilt;
        ASSERT_EQ(rebuilt.ReadForSending(expected, true, false), 0);
        rebuilt.date = sent.date;
        ASSERT_EQ(rebuilt.ReplaceTrailer(expected), 0);
        EXPECT_EQ(ReadFile(r.placed), ReadFile(expected));
        EXPECT_EQ(sent.subject, "m" + std::to_string(3 - i));
        EXPECT_EQ(sent.toAddresses, i == 1 ? "b@x.test" : "a@x.test");
        EXPECT_GE(Seconds(sent.date), previous - 1);
        EXPECT_LE(Seconds(sent.date), doneAt[i]);
        previous = Seconds(sent.date);
    }
    EXPECT_EQ(view_.calls, (std::vector<bool>{true, false}));
    EXPECT_TRUE(session.OutboxTimerActive());  // armed again: 3 minutes of 1000 ms
    EXPECT_EQ(session.OutboxTimerInterval(), 3000);
    EXPECT_TRUE(reports().empty());
}

TEST_F(SessionTest, StopDuringTheSecondOfThreeFinishesItAndLeavesTheThird) {
    startServer();
    auto paths = threeMessages();
    CTransmitDlg session(nullptr, &view_);
    int made = 0;
    // The second sending object is made as the second message starts out; the stop comes
    // while it is on its way.
    session.SetSenderSetup([&](CSmtpSender&) {
        if (++made == 2)
            QTimer::singleShot(0, [&] { session.RequestStop(); });
    });
    ASSERT_TRUE(session.OutboxTimerTick());
    auto end = runSession(session);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->reason, SessionEnd::kStopped);
    EXPECT_EQ(end->notSent, std::vector<std::string>{paths[0]});
    EXPECT_EQ(receivedSubjects(), (std::vector<std::string>{"m3", "m2"}));
    EXPECT_EQ(files("OUTBOX"), std::vector<std::string>{paths[0]});
    EXPECT_EQ(files("SENT").size(), 2u);
    EXPECT_TRUE(session.OutboxTimerActive());
    EXPECT_EQ(session.OutboxTimerInterval(), 3 * CTransmitDlg::kMinuteMs);
    EXPECT_EQ(view_.calls, (std::vector<bool>{true, false}));
}

TEST_F(SessionTest, RefusedSecondStaysUnchangedWhileTheFirstAndThirdAreSent) {
    startServer();
    auto paths = threeMessages("refuse@x.test");
    const std::string second = ReadFile(paths[1]);
    CTransmitDlg session(nullptr, &view_);
    std::vector<int> codes;
    session.SetMessageDone([&](const TransmitResult& r) { codes.push_back(r.code); });
    ASSERT_TRUE(session.OutboxTimerTick());
    auto end = runSession(session);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->reason, SessionEnd::kDone);
    EXPECT_EQ(codes, (std::vector<int>{0, CSMTPError::kServerError, 0}));
    EXPECT_EQ(receivedSubjects(), (std::vector<std::string>{"m3", "m1"}));
    EXPECT_EQ(files("OUTBOX"), std::vector<std::string>{paths[1]});
    EXPECT_EQ(ReadFile(paths[1]), second);
    EXPECT_EQ(files("SENT").size(), 2u);
    auto texts = messageBoxTexts();
    EXPECT_NE(std::find(texts.begin(), texts.end(), CEventReport::PlainBoxText(kCannotSendText)),
              texts.end());
}

TEST_F(SessionTest, MissingMinutesStartTheFirstSessionAfterThreeMinutesAndZeroNever) {
    startServer();
    threeMessages();
    CTransmitDlg session(nullptr, &view_);
    session.SetMinuteMilliseconds(200);
    QElapsedTimer clock;
    clock.start();
    std::optional<qint64> startedAfter;
    session.SetSenderSetup([&](CSmtpSender&) {
        if (!startedAfter)
            startedAfter = clock.elapsed();
    });
    session.StartOutboxTimer();
    EXPECT_EQ(session.OutboxTimerInterval(), 600);
    auto end = runSession(session);  // not transmitting yet: returns at once
    EXPECT_FALSE(end);
    QEventLoop loop;
    session.SetSessionEnded([&](const SessionEnd&) { loop.quit(); });
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
    ASSERT_TRUE(startedAfter);
    EXPECT_GE(*startedAfter, 560);  // a coarse timer may fire up to 5 % early
    EXPECT_LT(*startedAfter, 3000);
    EXPECT_EQ(receivedCount(), 3);

    // 0: no timer, and none after a session asked for by hand either.
    ASSERT_EQ(CUtils().SetRegistryDword(kKorrinKey, setting::kOutBoxMinutes, 0), 1);
    threeMessages();
    CTransmitDlg idle(nullptr, &view_);
    idle.SetMinuteMilliseconds(1);
    idle.StartOutboxTimer();
    EXPECT_FALSE(idle.OutboxTimerActive());
    QEventLoop wait;
    QTimer::singleShot(300, &wait, &QEventLoop::quit);
    wait.exec();
    EXPECT_FALSE(idle.IsTransmitting());
    EXPECT_EQ(files("OUTBOX").size(), 3u);
    ASSERT_TRUE(idle.OutboxTimerTick());
    ASSERT_TRUE(runSession(idle));
    EXPECT_FALSE(idle.OutboxTimerActive());
    EXPECT_EQ(receivedCount(), 6);
}

TEST_F(SessionTest, EmptyOutboxBusyOutboxAndASecondRequestStartNothing) {
    startServer();
    CTransmitDlg session(nullptr, &view_);
    EXPECT_FALSE(session.OutboxTimerTick());  // nothing waits
    EXPECT_TRUE(view_.calls.empty());

    threeMessages();
    {
        // Another process's session holds the Outbox.
        platform::LockFile other;
        ASSERT_TRUE(other.TryLock(folder("OUTBOX") + "/" + kSessionLockName));
        EXPECT_FALSE(session.OutboxTimerTick());
        RunResult r = korrin::test::Run({BuildDir() + "/korrinctl", "outbox", "send"});
        EXPECT_EQ(r.exitCode, 4) << r.out << r.err;
        EXPECT_EQ(receivedCount(), 0);
    }
    ASSERT_TRUE(session.OutboxTimerTick());
    EXPECT_FALSE(session.OutboxTimerTick());  // one at a time
    RunResult r = korrin::test::Run({BuildDir() + "/korrinctl", "outbox", "send"});
    EXPECT_EQ(r.exitCode, 4) << r.out << r.err;
    ASSERT_TRUE(runSession(session));
    EXPECT_EQ(receivedCount(), 3);
    EXPECT_EQ(view_.calls, (std::vector<bool>{true, false}));
}

TEST_F(SessionTest, TransmitTimerThatCannotBeSetEndsTheSessionAfterTheCurrentMessage) {
    startServer();
    auto paths = threeMessages();
    NoTransmitTimer session(nullptr, &view_);
    ASSERT_TRUE(session.OutboxTimerTick());
    auto end = runSession(session);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->reason, SessionEnd::kStopped);
    EXPECT_EQ(receivedSubjects(), std::vector<std::string>{"m3"});
    EXPECT_EQ(files("OUTBOX").size(), 2u);
    EXPECT_EQ(files("SENT").size(), 1u);
    auto texts = messageBoxTexts();
    EXPECT_NE(std::find(texts.begin(), texts.end(),
                        CEventReport::PlainBoxText("Could not start Transmit Timer.")),
              texts.end());
    EXPECT_TRUE(session.OutboxTimerActive());
    EXPECT_EQ(view_.calls, (std::vector<bool>{true, false}));

    session.outboxToo = true;
    session.StartOutboxTimer();
    EXPECT_FALSE(session.OutboxTimerActive());
    auto r = reports();
    EXPECT_NE(std::find(r.begin(), r.end(), "Could not start Outbox Timer."), r.end());
}

TEST_F(SessionTest, OldStyleFileIsReportedTheRestIsSentAndOldLeftoversGo) {
    startServer();
    auto paths = threeMessages();
    // A .kx1 without a current envelope stops the reading of the Outbox where it is met:
    // the .kx0 files, read first, still go out.
    const std::string old = folder("OUTBOX") + "/KX9O.kx1";
    WriteFile(old, payload(700, 9, "PK\x03\x04") + std::string(8, '\0'));
    // What an envelope rewrite cut short leaves behind: taken away once it is old.
    const std::string stale = folder("OUTBOX") + "/KX1O.kx0.123456.new";
    const std::string young = folder("OUTBOX") + "/KX2O.kx0.654321.new";
    WriteFile(stale, "partial");
    WriteFile(young, "partial");
    struct timespec times[2] = {{std::time(nullptr) - 3600, 0}, {std::time(nullptr) - 3600, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, stale.c_str(), times, 0), 0);
    CTransmitDlg session(nullptr, &view_);
    ASSERT_TRUE(session.OutboxTimerTick());
    auto end = runSession(session);
    ASSERT_TRUE(end);
    auto r = reports();
    EXPECT_NE(std::find(r.begin(), r.end(), "FillTolvObjects failed."), r.end());
    EXPECT_EQ(receivedSubjects(), (std::vector<std::string>{"m3", "m2", "m1"}));
    EXPECT_EQ(files("OUTBOX"), std::vector<std::string>{old});
    EXPECT_NE(access(stale.c_str(), F_OK), 0);
    EXPECT_EQ(access(young.c_str(), F_OK), 0);
}

TEST_F(SessionTest, MissingSettingOrNoServerEndsTheSessionWithEveryMessageKept) {
    startServer();
    auto paths = threeMessages();
    setString(setting::kEmailAddress, "");
    CTransmitDlg session(nullptr, &view_);
    ASSERT_TRUE(session.OutboxTimerTick());
    EXPECT_FALSE(session.IsTransmitting());  // ended before any worker
    auto texts = messageBoxTexts();
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[texts.size() - 2], MissingSettingText("Email Address"));
    EXPECT_EQ(texts.back(), "Press OK and try sending your message again!");
    EXPECT_EQ(dialogs_.smtp, 1);
    EXPECT_EQ(view_.calls, (std::vector<bool>{true, false}));

    setSettings(server_->port());
    server_.reset();
    view_.calls.clear();
    ASSERT_TRUE(session.OutboxTimerTick());
    auto end = runSession(session);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->reason, SessionEnd::kNoConnection);
    EXPECT_EQ(end->code, CSMTPError::kNoConnection);
    EXPECT_EQ(end->notSent.size(), 3u);
    EXPECT_EQ(dialogs_.dialUp, 1);
    EXPECT_EQ(view_.calls, (std::vector<bool>{true, false, false}));
    EXPECT_EQ(files("OUTBOX").size(), 3u);

    // A server that answers but will not serve: "Connection failed", no dial-up dialog.
    BusyServer busy;
    setString(setting::kSmtpHost, "127.0.0.1:" + std::to_string(busy.port()));
    ASSERT_TRUE(session.OutboxTimerTick());
    end = runSession(session);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->reason, SessionEnd::kNoConnection);
    EXPECT_EQ(end->code, CSMTPError::kServerError);
    auto r = reports();
    EXPECT_NE(std::find(r.begin(), r.end(), "Connection failed"), r.end());
    EXPECT_EQ(dialogs_.dialUp, 1);
    EXPECT_EQ(files("OUTBOX").size(), 3u);
}

// The server took the message but Sent Items cannot take it (a plain file stands there):
// later sessions finish the move without sending it again.
TEST_F(SessionTest, AMessageTheServerTookIsNeverSentAgainWhileItCannotMove) {
    startServer();
    const std::string path = folder("OUTBOX") + "/KX1O.kx0";
    makeEnvelope(path, payload(3000, 1), "a@x.test", "", "once", "note");
    ASSERT_EQ(::rmdir(folder("SENT").c_str()), 0);
    WriteFile(folder("SENT"), "not a folder");
    for (int run = 1; run <= 3; ++run) {
        RunResult r = korrin::test::Run({BuildDir() + "/korrinctl", "outbox", "send"});
        EXPECT_EQ(r.exitCode, 1) << "run " << run << ": " << r.out << r.err;
    }
    EXPECT_EQ(receivedCount(), 1);
    EXPECT_TRUE(files("OUTBOX").empty());

    ::unlink(folder("SENT").c_str());
    makeFolder("SENT");
    RunResult r = korrin::test::Run({BuildDir() + "/korrinctl", "outbox", "send"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    const std::string moved = "moved\t" + path + ".sent\t" + folder("SENT") + "/KX";
    EXPECT_EQ(r.out.substr(0, moved.size()), moved) << r.out;
    EXPECT_EQ(r.out.substr(r.out.find("S.kx0\n")), "S.kx0\nend\tdone\n") << r.out;
    EXPECT_EQ(receivedCount(), 1);
    ASSERT_EQ(files("SENT").size(), 1u);
    EXPECT_EQ(subjectOf(files("SENT")[0]), "once");
}

// Why no session could start is told as it is: only a held lock is "another session".
TEST_F(SessionTest, KorrinctlOutboxSendNamesWhyItCannotLockTheOutbox) {
    startServer();
    threeMessages();
    const std::string lock = folder("OUTBOX") + "/" + kSessionLockName;
    struct Case {
        const char* what;
        int exitCode;
        const char* says;
    } cases[] = {
        {"held", 4, "another session is sending this Outbox"},
        {"folder", 3, "cannot lock this Outbox: Is a directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        platform::LockFile other;
        if (std::string(c.what) == "held")
            ASSERT_TRUE(other.TryLock(lock));
        else
            ASSERT_TRUE(::unlink(lock.c_str()) == 0 && ::mkdir(lock.c_str(), 0700) == 0);
        RunResult r = korrin::test::Run({BuildDir() + "/korrinctl", "outbox", "send"});
        EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(receivedCount(), 0);
    }
}

TEST_F(SessionTest, KorrinctlOutboxSendPrintsOneLinePerMessage) {
    startServer();
    auto paths = threeMessages("refuse@x.test");
    RunResult r = korrin::test::Run({BuildDir() + "/korrinctl", "outbox", "send"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(r.out, "sent\t" + paths[2] + "\t" + folder("SENT") + "/KX101S.kx0\n" + "failed 9\t" +
                         paths[1] + "\n" + "sent\t" + paths[0] + "\t" + folder("SENT") +
                         "/KX102S.kx0\n" + "end\tdone\n");
    // The refused one alone is left; once the server takes it, every message was sent.
    CMessageTrailer t;
    ASSERT_EQ(t.ReadForSending(paths[1], true, false), 0);
    t.toAddresses = "b@x.test";
    ASSERT_EQ(t.ReplaceTrailer(paths[1]), 0);
    r = korrin::test::Run({BuildDir() + "/korrinctl", "outbox", "send"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    r = korrin::test::Run({BuildDir() + "/korrinctl", "outbox", "send"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "empty\n");
    EXPECT_EQ(receivedCount(), 3);
}

}  // namespace
