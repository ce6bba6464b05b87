// The real program, offscreen, driven through its main window by window scripts (sends, moves
// with the Move dialog, deletes, rows dragged onto the tree, Close) against a real SMTP server,
// and killed with SIGKILL at random moments, again and again on the same install folder: after
// every kill each message is exactly one whole file in one folder, unless the user deleted it
// for good (answered Yes to the permanent delete in Deleted Items).
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
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "integration/transmit/TransmitFixture.h"
#include "korrin/store/Folders.h"

using namespace korrin;
using namespace korrin::test;

namespace {

constexpr int kMessages = 12;
constexpr const char* kPermanentQuestion = "Are you sure you want to permanently delete:";

class WindowKillTest : public MailStoreTest {
  protected:
    void SetUp() override {
        MailStoreTest::SetUp();
        makeFolder("OUTBOX");
        makeFolder("SENT");
        makeFolder("DELETED");
        ASSERT_EQ(::mkdir(dir_.file("run").c_str(), 0700), 0);
        ASSERT_EQ(::mkdir(dir_.file("tmp").c_str(), 0700), 0);
    }

    std::vector<std::string> messages() {
        return messageFiles({kOutbox, kSentItems, kDeletedItems});
    }

    // The subjects the user deleted for good: asked and answered Yes.
    std::set<std::string> deletedForGood() {
        std::set<std::string> out;
        for (const auto& line : ReadLines(logPath())) {
            const std::string text = JsonField(line, "text");
            if (text.rfind(kPermanentQuestion, 0) != 0 || JsonField(line, "answer") != "Yes")
                continue;
            const auto from = text.find("Subject: ");
            const auto to = text.find(", Sent:", from);
            if (from != std::string::npos && to != std::string::npos)
                out.insert(text.substr(from + 9, to - from - 9));
        }
        return out;
    }

    // A random script: a few of the user's commands, quickly one after another.
    std::string script(std::mt19937& rng) {
        std::string s = "loaded\nmark go\nminute 150\n";
        std::uniform_int_distribution<int> what(0, 9), folder(1, 3), row(0, 3);
        for (int i = 0; i < 8; ++i) {
            const int f = folder(rng), to = folder(rng), r = row(rng);
            const std::string select = "folder " + std::to_string(f) + "\nsleep 20\n";
            switch (what(rng)) {
                case 0:
                case 1:
                    s += select + "row " + std::to_string(r) + "\ncommand " +
                         std::to_string(CKorrinDlgIds::kMove) + "\nmove-to " + std::to_string(to) +
                         "\n";
                    break;
                case 2:
                case 3:
                    s += select + "drag " + std::to_string(r) + " " + std::to_string(to) + "\n";
                    break;
                case 4:
                case 5:
                    s += select + "row " + std::to_string(r) + "\ncommand " +
                         std::to_string(CKorrinDlgIds::kDelete) + "\n";
                    break;
                case 6:
                case 7:
                    s += "command " + std::to_string(CKorrinDlgIds::kEmptyOutboxNow) + "\n";
                    break;
                case 8:
                    s += "command " + std::to_string(CKorrinDlgIds::kClose) + "\n";
                    break;
                default:
                    s += "sleep 60\n";
                    break;
            }
        }
        return s;
    }

    pid_t spawnWindow() {
        const std::string program = BuildDir() + "/korrin";
        char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid = -1;
        if (posix_spawn(&pid, program.c_str(), &fa, nullptr, argv, environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&fa);
        return pid;
    }

    // The command numbers of the main window (the test does not link the window).
    struct CKorrinDlgIds {
        static constexpr int kClose = 57602, kMove = 32783, kDelete = 32784,
                             kEmptyOutboxNow = 32781;
    };

    ScopedEnv runtime_{"XDG_RUNTIME_DIR", dir_.file("run")};
    ScopedEnv tmpdir_{"TMPDIR", dir_.file("tmp")};
    ScopedEnv audio_{"KORRIN_AUDIO", "virtual"};
    ScopedEnv windir_{"KORRIN_WINDIR", dir_.file("tools")};
    ScopedEnv log_{"KORRIN_MESSAGE_LOG", logPath()};
    ScopedEnv script_{"KORRIN_SCRIPT", dir_.file("script")};
    ScopedEnv probe_{"KORRIN_PROBE_LOG", dir_.file("probe")};
    ScopedEnv answers_{"KORRIN_MESSAGE_ANSWERS", "Yes,Yes,Yes,Yes,Yes,Yes,Yes,Yes,Yes,Yes"};
};

TEST_F(WindowKillTest, EveryMessageStaysOneWholeFileInOneFolderUnlessDeletedForGood) {
    startServer();
    std::map<std::string, std::string> payloads;
    const char* folders[] = {"OUTBOX", "SENT", "DELETED"};
    const char letters[] = {'O', 'S', 'D'};
    for (int i = 1; i <= kMessages; ++i) {
        const std::string subject = "kill-" + std::to_string(i);
        const std::string path =
            folder(folders[i % 3]) + "/KX" + std::to_string(i) + letters[i % 3] + ".kx0";
        payloads[subject] = payload(3000 + 97 * i, i);
        makeEnvelope(path, payloads[subject], "to" + std::to_string(i) + "@x.test", "", subject,
                     "note " + std::to_string(i));
    }
    ASSERT_EQ(CUtils().SetRegistryDword(kKorrinKey, setting::kFileId, 1000), 1);
    ASSERT_EQ(CUtils().SetRegistryDword(kKorrinKey, setting::kOutBoxMinutes, 1), 1);

    const int runs = KillRuns(200);
    const unsigned seed = static_cast<unsigned>(std::random_device{}());
    std::mt19937 rng(seed);
    // Most kills come while the script acts (counted from its "go" mark), some during the
    // start.
    std::uniform_int_distribution<int> delayUs(0, 350'000), startUs(0, 300'000), during(0, 4);
    SCOPED_TRACE("seed " + std::to_string(seed));
    int endedByItself = 0, acting = 0;
    for (int run = 0; run < runs; ++run) {
        std::ofstream(dir_.file("script")) << script(rng);
        std::ofstream(dir_.file("probe"), std::ios::trunc).flush();
        pid_t pid = spawnWindow();
        ASSERT_GT(pid, 0);
        if (during(rng) == 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(startUs(rng)));
        } else {
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (ReadFile(dir_.file("probe")).find("go ") == std::string::npos &&
                   std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            acting += ReadFile(dir_.file("probe")).find("go ") != std::string::npos;
            std::this_thread::sleep_for(std::chrono::microseconds(delayUs(rng)));
        }
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        endedByItself += !(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

        const std::set<std::string> gone = deletedForGood();
        std::map<std::string, int> seen;
        for (const auto& path : messages()) {
            CMessageTrailer t;
            ASSERT_EQ(t.ReadForSending(path, true, false), 0) << "run " << run << ": " << path;
            const std::string bytes = ReadFile(path);
            ASSERT_GE(bytes.size(), t.length + 8u) << path;
            ASSERT_TRUE(payloads.count(t.subject)) << path;
            EXPECT_TRUE(bytes.substr(0, bytes.size() - 8 - t.length) == payloads[t.subject])
                << "run " << run << ": " << path << " is not whole";
            ++seen[t.subject];
        }
        for (const auto& [subject, bytes] : payloads) {
            ASSERT_LE(seen[subject], 1) << "run " << run << ": " << subject << " twice";
            ASSERT_TRUE(seen[subject] == 1 || gone.count(subject))
                << "run " << run << ": " << subject << " lost";
        }
        // Keep the user busy: when many were deleted for good, a new one comes into the
        // Outbox.
        int alive = 0;
        for (const auto& [subject, n] : seen)
            alive += n > 0;
        if (alive < kMessages / 2) {
            const std::string fresh = "fresh-" + std::to_string(run);
            payloads[fresh] = payload(2000 + run, run);
            makeEnvelope(folder("OUTBOX") + "/KX" + std::to_string(5000 + run) + "O.kx0",
                         payloads[fresh], "again@x.test", "", fresh, "n");
        }
    }
    std::printf(
        "kill runs %d (%d killed while the script acted, %d ended before the kill), "
        "deleted for good %zu, mails received %d\n",
        runs, acting, endedByItself, deletedForGood().size(), receivedCount());
}

// SIGTERM in the middle of a send: the program ends by itself after the message being sent
// (exit 0), and every message is still one whole file, in the Outbox or in Sent Items.
TEST_F(WindowKillTest, TerminatedInTheMiddleOfASendLosesNothing) {
    startServer();
    std::map<std::string, std::string> payloads;
    for (int i = 1; i <= 3; ++i) {
        const std::string subject = "term-" + std::to_string(i);
        payloads[subject] = payload(1'500'000 + i, i);
        makeEnvelope(folder("OUTBOX") + "/KX" + std::to_string(i) + "O.kx0", payloads[subject],
                     "to@x.test", "", subject, "n");
    }
    ASSERT_EQ(CUtils().SetRegistryDword(kKorrinKey, setting::kFileId, 100), 1);
    std::ofstream(dir_.file("script"))
        << "loaded\ncommand " << CKorrinDlgIds::kEmptyOutboxNow << "\n";
    pid_t pid = spawnWindow();
    ASSERT_GT(pid, 0);
    // Once the first mail has arrived the session is on its way with the next one.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (receivedCount() == 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_GT(receivedCount(), 0);
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    std::map<std::string, int> seen;
    for (const auto& path : messages()) {
        CMessageTrailer t;
        ASSERT_EQ(t.ReadForSending(path, true, false), 0) << path;
        const std::string bytes = ReadFile(path);
        ASSERT_GE(bytes.size(), t.length + 8u) << path;
        EXPECT_TRUE(bytes.substr(0, bytes.size() - 8 - t.length) == payloads[t.subject]) << path;
        ++seen[t.subject];
    }
    for (const auto& [subject, bytes] : payloads)
        EXPECT_EQ(seen[subject], 1) << subject;
    // Nothing of the session is left behind in the private folder.
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir_.file("run") + "/korrin", ec))
        EXPECT_EQ(e.path().filename().string().rfind("instance-", 0), 0u) << e.path();
}

}  // namespace
