// korrinctl outbox send killed at random moments, again and again, against a real SMTP
// server: after every kill each message is still exactly one whole file in the Outbox or in
// Sent Items, and after a last clean run every message was delivered at least once.
//
// KORRIN_KILL_RUNS sets the number of killed runs (default 200).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "integration/transmit/TransmitFixture.h"

using namespace korrin;
using namespace korrin::test;

namespace {

constexpr int kMessages = 12;

class OutboxKillTest : public MailStoreTest {
  protected:
    void SetUp() override {
        MailStoreTest::SetUp();
        makeFolder("OUTBOX");
        makeFolder("SENT");
    }

    std::vector<std::string> messages() { return messageFiles({kOutbox, kSentItems}); }

    // Subject -> payload of every message file now in the two folders; a file without a
    // readable envelope or with a payload that is not its own fails the test.
    std::multimap<std::string, std::string> census() {
        std::multimap<std::string, std::string> out;
        for (const auto& path : messages()) {
            CMessageTrailer t;
            EXPECT_EQ(t.ReadForSending(path, true, false), 0) << path;
            std::string bytes = ReadFile(path);
            EXPECT_GE(bytes.size(), t.length + 8u) << path;
            out.emplace(t.subject, bytes.substr(0, bytes.size() - 8 - t.length));
        }
        return out;
    }

    pid_t spawnSession() {
        const std::string ctl = BuildDir() + "/korrinctl";
        char* argv[] = {const_cast<char*>(ctl.c_str()), const_cast<char*>("outbox"),
                        const_cast<char*>("send"), nullptr};
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid = -1;
        if (posix_spawn(&pid, ctl.c_str(), &fa, nullptr, argv, environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&fa);
        return pid;
    }
};

TEST_F(OutboxKillTest, EveryMessageSurvivesKillsWholeOnceAndIsDeliveredAtLeastOnce) {
    startServer();
    std::map<std::string, std::string> payloads;
    for (int i = 1; i <= kMessages; ++i) {
        const std::string subject = "kill-" + std::to_string(i);
        const std::string path =
            folder("OUTBOX") + "/KX" + std::to_string(i) + "O.kx" + (i % 3 == 0 ? "1" : "0");
        payloads[subject] = payload(2000 + 97 * i, i, i % 3 == 0 ? "PK\x03\x04" : "RIFF");
        makeEnvelope(path, payloads[subject], "to" + std::to_string(i) + "@x.test", "", subject,
                     "note " + std::to_string(i));
    }
    ASSERT_EQ(CUtils().SetRegistryDword(kKorrinKey, setting::kFileId, 1000), 1);

    const int runs = KillRuns(200);
    const unsigned seed = static_cast<unsigned>(std::random_device{}());
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> delayUs(0, 350'000);
    SCOPED_TRACE("seed " + std::to_string(seed));
    int sentBack = 0;
    for (int run = 0; run < runs; ++run) {
        pid_t pid = spawnSession();
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(delayUs(rng)));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        // Whatever the moment: each message is one file, in one of the two folders.
        ASSERT_EQ(messages().size(), static_cast<std::size_t>(kMessages)) << "run " << run;
        // Keep the sessions busy: once everything went out, it all goes back to the Outbox.
        std::vector<std::string> kx0, kx1;
        FindMessageFiles(kOutbox, &kx0, &kx1);
        if (kx0.empty() && kx1.empty()) {
            FindMessageFiles(kSentItems, &kx0, &kx1);
            kx0.insert(kx0.end(), kx1.begin(), kx1.end());
            for (const auto& p : kx0)
                ASSERT_EQ(MoveMessage(p, kOutbox, kSentItems, nullptr), 0);
            ++sentBack;
        }
    }
    RunResult clean = korrin::test::Run({BuildDir() + "/korrinctl", "outbox", "send"});
    EXPECT_EQ(clean.exitCode, 0) << clean.out << clean.err;

    std::vector<std::string> kx0, kx1;
    FindMessageFiles(kOutbox, &kx0, &kx1);
    EXPECT_TRUE(kx0.empty() && kx1.empty());
    auto found = census();
    ASSERT_EQ(found.size(), static_cast<std::size_t>(kMessages));
    for (const auto& [subject, bytes] : payloads) {
        ASSERT_EQ(found.count(subject), 1u) << subject;
        EXPECT_TRUE(found.find(subject)->second == bytes) << subject;
    }
    std::set<std::string> delivered;
    const int received = receivedCount();
    for (int i = 1; i <= received; ++i) {
        const std::string eml = ReadFile(mailFile(i, ".eml"));
        auto at = eml.find("\r\nSubject: ");
        if (at != std::string::npos)
            delivered.insert(eml.substr(at + 11, eml.find("\r\n", at + 11) - at - 11));
    }
    for (const auto& [subject, bytes] : payloads)
        EXPECT_TRUE(delivered.count(subject)) << subject;
    std::printf("kill runs %d, Outbox refilled %d times, mails received %d for %d messages\n", runs,
                sentBack, received, kMessages);
}

}  // namespace
