// Mail delivered over real sockets: to a real SMTP server (aiosmtpd) on 127.0.0.1 that the test
// starts on a free port, read back with Python's email package; and against a closed port and
// a server that never speaks.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "helpers/SmtpServer.h"
#include "helpers/TestSupport.h"
#include "korrin/mail/mailutil.h"

extern char** environ;

using namespace korrin;
using namespace korrin::test;

namespace {

// A port on 127.0.0.1 that nothing listens on (bound, then let go).
int ClosedPort() {
    return LoopbackSocket(false).port();
}

// A UDP socket on 127.0.0.1 that takes name server questions and never answers; bound, or
// closed (then every question is refused at once).
class SilentNameServer {
  public:
    explicit SilentNameServer(bool open = true) {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            address_ = "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
        if (!open)
            closeSocket();
    }
    ~SilentNameServer() { closeSocket(); }
    const std::string& address() const { return address_; }
    // How many questions have come in (read and thrown away).
    int questions() {
        int n = 0;
        char buf[512];
        while (fd_ >= 0 && recv(fd_, buf, sizeof buf, MSG_DONTWAIT) > 0)
            ++n;
        return n;
    }

  private:
    void closeSocket() {
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
    }
    int fd_ = -1;
    std::string address_;
};

class MailServerTest : public RegistryTest {
  protected:
    // Names are looked up on loopback only: at a closed port, so a name fails at once.
    SilentNameServer refusing_{false};
    ScopedEnv nameServer_{"KORRIN_NAMESERVER", refusing_.address()};
    ScopedEnv log_{"KORRIN_MESSAGE_LOG", dir_.file("log")};
    ScopedEnv answers_{"KORRIN_MESSAGE_ANSWERS", "OK"};
    ScopedEnv tmp_{"TMPDIR", dir_.path()};
    ScopedEnv mime_{"KORRIN_MIME_TYPES", dir_.file("mime.types")};

    void SetUp() override {
        ASSERT_EQ(access(kSystemPython, X_OK), 0) << "python3 is needed (scripts/install-deps.sh)";
        WriteFile(dir_.file("mime.types"), "");
        std::mt19937 rng(7);
        std::string wave = "RIFF\x24\x10\x00\x00WAVEfmt ";
        for (int i = 0; i < 150000; ++i)
            wave += static_cast<char>(rng());
        WriteFile(dir_.file("KX12O.kx0"), wave + "trailer\r\n.\r\nfrom@x");
        std::string zip = "PK\x03\x04";
        for (int i = 0; i < 70001; ++i)
            zip += static_cast<char>(rng() % 3 == 0 ? '.' : rng() % 2 ? '\n' : rng());
        WriteFile(dir_.file("KX13O.kx1"), zip);
    }

    // Filled as the voice-message sender fills it.
    void Compose(CSMTPEmail& m, int port, const std::string& attachment) {
        m.SetServer("127.0.0.1:" + std::to_string(port));
        m.SetSenderAddress("me@here.test");
        m.AddTo("a1@x.test", "a1@x.test");
        m.AddTo(" b2@x.test", " b2@x.test");
        m.AddBcc("c3@x.test");
        m.SetSubject("Voice message\r\nBcc: injected@x.test");
        m.AddTextPart(kNote);
        m.AddFilePart(dir_.file(attachment));
        m.AddHeader("X-Mailer",
                    "Quillion EMail for Windows(tm) v.6.0\r\n\tsupport\r\n\thttp://www.example/");
    }

    RunResult Check(const std::string& eml, const std::string& original) {
        return korrin::test::Run({kSystemPython, MailScript("check_mail.py"), eml, original});
    }

    static constexpr const char* kNote =
        "\r\nThis is a voice message.\r\n.\r\n..two dots\r\nend = here \r\n";
};

TEST_F(MailServerTest, RealServerGetsHeadersInOrderTheNoteAndTheExactFiles) {
    SmtpServer server(dir_.path());
    ASSERT_GT(server.port(), 0);
    for (const char* file : {"KX12O.kx0", "KX13O.kx1"}) {
        SCOPED_TRACE(file);
        CSMTPEmail m;
        Compose(m, server.port(), file);
        ASSERT_EQ(m.Send(), 0);
    }
    for (int i = 1; i <= 2; ++i) {
        std::string base = dir_.file("mail" + std::to_string(i));
        std::string envelope = ReadFile(base + ".json");
        EXPECT_NE(envelope.find("\"from\": \"me@here.test\""), std::string::npos) << envelope;
        EXPECT_NE(envelope.find("\"rcpt\": [\"a1@x.test\", \"b2@x.test\", \"c3@x.test\"]"),
                  std::string::npos)
            << envelope;
        RunResult r = Check(base + ".eml", dir_.file(i == 1 ? "KX12O.kx0" : "KX13O.kx1"));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(JsonField(r.out, "headers"),
                  "X-Sender|To|Subject|X-Mailer|Return-Path|Date|MIME-Version|X-MailLibrary|From|"
                  "Content-type");
        EXPECT_EQ(JsonField(r.out, "defects"), "0");
        EXPECT_EQ(JsonField(r.out, "to"), "\"a1@x.test\" <a1@x.test>,\" b2@x.test\" <b2@x.test>");
        EXPECT_EQ(JsonField(r.out, "subject"), "Voice message Bcc: injected@x.test");
        EXPECT_EQ(JsonField(r.out, "xmailer"),
                  "Quillion EMail for Windows(tm) v.6.0\n\tsupport\n\thttp://www.example/");
        // The reader gives line ends as LF.
        EXPECT_EQ(JsonField(r.out, "text"),
                  "\nThis is a voice message.\n.\n..two dots\nend = here \n");
        EXPECT_EQ(JsonField(r.out, "names"), i == 1 ? "KX12O.kx0" : "KX13O.kx1");
        EXPECT_EQ(JsonField(r.out, "types"), i == 1 ? "unknown/kx0" : "unknown/kx1");
        EXPECT_EQ(JsonField(r.out, "same"), "same");
    }
    EXPECT_EQ(CSMTPEmail::LiveObjects(), 0);
}

TEST_F(MailServerTest, TwoSendsAtOnceFromTwoThreadsBothArrive) {
    SmtpServer server(dir_.path());
    ASSERT_GT(server.port(), 0);
    int results[2] = {-5, -5};
    std::thread a([&] {
        CSMTPEmail m;
        Compose(m, server.port(), "KX12O.kx0");
        results[0] = m.Send();
    });
    std::thread b([&] {
        CSMTPEmail m;
        Compose(m, server.port(), "KX13O.kx1");
        results[1] = m.Send();
    });
    a.join();
    b.join();
    EXPECT_EQ(results[0], 0);
    EXPECT_EQ(results[1], 0);
    int same = 0;
    for (int i = 1; i <= 2; ++i) {
        std::string eml = dir_.file("mail" + std::to_string(i) + ".eml");
        for (const char* f : {"KX12O.kx0", "KX13O.kx1"})
            same += JsonField(Check(eml, dir_.file(f)).out, "same") == "same";
    }
    EXPECT_EQ(same, 2);  // each file arrived whole, in its own mail
}

TEST_F(MailServerTest, ClosedPortGivesSixAndASilentServerTimesOut) {
    int port = ClosedPort();
    CSMTPEmail m;
    Compose(m, port, "KX12O.kx0");
    EXPECT_EQ(m.CheckConnection(), CSMTPError::kNoConnection);
    EXPECT_EQ(m.Send(), CSMTPError::kNoConnection);
    m.SetServer("name.that.does.not.resolve.invalid");
    EXPECT_EQ(m.CheckConnection(), CSMTPError::kNoConnection);
    m.SetServer("");
    EXPECT_EQ(m.CheckConnection(), CSMTPError::kNoConnection);

    // Listening but never accepting: the connection is made by the kernel, nobody greets.
    LoopbackSocket listener;
    ASSERT_GT(listener.port(), 0);
    CSMTPEmail silent;
    Compose(silent, listener.port(), "KX12O.kx0");
    SmtpTimeouts t;
    t.greeting = 300;
    silent.SetTimeouts(t);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(silent.Send(), CSMTPError::kReceiveFailed);
    EXPECT_EQ(silent.CheckConnection(), CSMTPError::kReceiveFailed);
    auto spent = std::chrono::steady_clock::now() - start;
    EXPECT_LT(spent, std::chrono::seconds(30));  // the bound ended it, not the test's time limit
}

// A name server that takes the question and never answers would hold the lookup for its
// timeout times its attempts (10 s here); the connect bound covers the lookup too, whichever
// entry point connects.
TEST_F(MailServerTest, NameLookupEndsWithinTheConnectBound) {
    SilentNameServer silent;
    ASSERT_FALSE(silent.address().empty());
    ScopedEnv ns("KORRIN_NAMESERVER", silent.address());
    SmtpTimeouts t;
    t.connect = 300;
    using Entry = int (CSMTPEmail::*)();
    for (Entry entry : {&CSMTPEmail::Send, &CSMTPEmail::CheckConnection, &CSMTPEmail::CheckLogin}) {
        CSMTPEmail m;
        Compose(m, 25, "KX12O.kx0");
        m.SetServer("mail.korrin.test");
        m.SetTimeouts(t);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ((m.*entry)(), CSMTPError::kNoConnection);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    }
    // The bound ended the lookups, not a resolver that never asked.
    EXPECT_GT(silent.questions(), 0);
}

TEST_F(MailServerTest, ServerOnIpv6LoopbackIsReachedThroughBracketsAndPort) {
    int fd = socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        if (fd >= 0)
            close(fd);
        GTEST_SKIP() << "no IPv6 loopback on this machine";
    }
    ASSERT_EQ(listen(fd, 1), 0);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    // One connection, answered by hand: greeting, then the reply to QUIT once it has come.
    std::string heard;
    std::thread server([&] {
        int c = accept(fd, nullptr, nullptr);
        if (c < 0)
            return;
        (void)!write(c, "220 six\r\n", 9);
        char buf[64];
        while (heard.find("\r\n") == std::string::npos) {
            ssize_t n = read(c, buf, sizeof buf);
            if (n <= 0)
                break;
            heard.append(buf, static_cast<std::size_t>(n));
        }
        (void)!write(c, "221 bye\r\n", 9);
        close(c);
    });
    CSMTPEmail m;
    m.SetServer("[::1]:" + std::to_string(ntohs(a.sin6_port)));
    EXPECT_EQ(m.CheckConnection(), 0);
    server.join();
    close(fd);
    EXPECT_EQ(heard, "QUIT\r\n");
}

}  // namespace
