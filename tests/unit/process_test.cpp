#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "helpers/TestSupport.h"
#include "platform/process/CommandLine.h"
#include "platform/process/Process.h"

using namespace korrin::platform;
using korrin::test::ReadFile;
using korrin::test::ScopedEnv;
using korrin::test::TempDir;
using korrin::test::WriteFile;
using namespace std::chrono_literals;

namespace {

// "R", "S", "Z" ... from /proc/<pid>/stat, or "" when the process is gone.
std::string ProcState(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line))
        return "";
    auto paren = line.rfind(')');
    return paren == std::string::npos || paren + 2 >= line.size() ? "" : line.substr(paren + 2, 1);
}

bool EventuallyGone(pid_t pid, std::chrono::milliseconds limit = 5000ms) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (ProcState(pid).empty())
            return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

std::string Trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
        s.pop_back();
    return s;
}

std::string RealPath(const std::string& p) {
    char buffer[PATH_MAX];
    return realpath(p.c_str(), buffer) ? buffer : p;
}

}  // namespace

TEST(CommandLineSplit, BlanksQuotesAndDoubledQuotes) {
    using V = std::vector<std::string>;
    EXPECT_EQ(SplitCommandLine(""), V{});
    EXPECT_EQ(SplitCommandLine(" \t "), V{});
    EXPECT_EQ(SplitCommandLine("a  b\tc "), (V{"a", "b", "c"}));
    EXPECT_EQ(SplitCommandLine("\"/opt/my tools/pkunzip\" -o x.zip"),
              (V{"/opt/my tools/pkunzip", "-o", "x.zip"}));
    EXPECT_EQ(SplitCommandLine("\"say \"\"hi\"\"\""), V{"say \"hi\""});
    EXPECT_EQ(SplitCommandLine("\"\" x"), (V{"", "x"}));
    EXPECT_EQ(SplitCommandLine("a\"b c\"d"), V{"ab cd"});
    EXPECT_EQ(SplitCommandLine("C:\\dir\\\"x y\""), V{"C:\\dir\\x y"});  // backslash is plain
    EXPECT_EQ(SplitCommandLine("\"unclosed rest"), V{"unclosed rest"});
    EXPECT_EQ(SplitCommandLine("line\nbreak"), V{"line\nbreak"});  // only blank and TAB split
}

TEST(CommandLineQuote, QuotesOnlyWhatNeedsItAndRoundTrips) {
    EXPECT_EQ(QuoteArgument("plain"), "plain");
    EXPECT_EQ(QuoteArgument(""), "\"\"");
    EXPECT_EQ(QuoteArgument("a b"), "\"a b\"");
    EXPECT_EQ(QuoteArgument("a\"b"), "\"a\"\"b\"");

    const std::vector<std::string> args = {"",   "\"",        "\"\"", "x\"",   " lead",
                                           "\t", "a \"b\" c", "\\",   "end\\", "\\\"q"};
    std::string line;
    for (const auto& a : args)
        line += QuoteArgument(a) + " ";
    EXPECT_EQ(SplitCommandLine(line), args);
}

class ProcessTest : public ::testing::Test {
  protected:
    TempDir dir_;
    std::vector<ProcessHandle> started_;

    ProcessHandle Start(const std::string& commandLine, StartOptions options = {}) {
        ProcessHandle h;
        EXPECT_NE(CreateProcess(commandLine, options, &h), 0)
            << commandLine << ": " << strerror(errno);
        started_.push_back(h);
        return h;
    }

    void TearDown() override {
        for (auto& h : started_) {
            TerminateProcess(h);
            CloseHandle(h);
        }
    }
};

TEST_F(ProcessTest, RunsInTheGivenWorkingFolder) {
    StartOptions options;
    options.workingDirectory = dir_.path();
    ProcessHandle h = Start("sh -c \"pwd > out\"", options);
    ASSERT_EQ(WaitForSingleObject(h, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(Trimmed(ReadFile(dir_.file("out"))), RealPath(dir_.path()));
}

TEST_F(ProcessTest, RelativeProgramPathMeansOurFolderNotTheChilds) {
    TempDir other;
    WriteFile(dir_.file("tool.sh"), "#!/bin/sh\necho ran > \"$1\"\n");
    ASSERT_EQ(chmod(dir_.file("tool.sh").c_str(), 0755), 0);
    const std::string here = RealPath(".");
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    StartOptions options;
    options.workingDirectory = other.path();
    ProcessHandle h;
    BOOL ok = CreateProcess("./tool.sh " + QuoteArgument(other.file("o")), options, &h);
    ASSERT_EQ(chdir(here.c_str()), 0);
    ASSERT_NE(ok, 0);
    started_.push_back(h);
    ASSERT_EQ(WaitForSingleObject(h, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(ReadFile(other.file("o")), "ran\n");
}

TEST_F(ProcessTest, FailsAtStartWhenProgramCannotRun) {
    ProcessHandle h;
    errno = 0;
    EXPECT_EQ(CreateProcess("korrin-no-such-program-4711 x", {}, &h), 0);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(h.valid());

    EXPECT_EQ(CreateProcess(dir_.file("missing") + " x", {}, &h), 0);
    EXPECT_EQ(errno, ENOENT);

    // Present but not executable: the exec failure must surface here.
    WriteFile(dir_.file("plain"), "#!/bin/sh\n");
    errno = 0;
    EXPECT_EQ(CreateProcess(dir_.file("plain"), {}, &h), 0);
    EXPECT_EQ(errno, EACCES);

    // Executable bit but no interpreter line and no ELF header.
    WriteFile(dir_.file("garbage"), "not a program\n");
    ASSERT_EQ(chmod(dir_.file("garbage").c_str(), 0755), 0);
    EXPECT_EQ(CreateProcess(dir_.file("garbage"), {}, &h), 0);

    StartOptions options;
    options.workingDirectory = dir_.file("no-such-folder");
    errno = 0;
    EXPECT_EQ(CreateProcess("true", options, &h), 0);
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(ProcessTest, LooksUpBareNamesInPath) {
    ASSERT_EQ(mkdir(dir_.file("bin").c_str(), 0700), 0);
    WriteFile(dir_.file("bin/korrin-probe"), "#!/bin/sh\nexit 42\n");
    ASSERT_EQ(chmod(dir_.file("bin/korrin-probe").c_str(), 0755), 0);
    const char* old = std::getenv("PATH");
    ScopedEnv path("PATH", "/nonexistent::" + dir_.file("bin") + ":" + (old ? old : ""));
    ProcessHandle h = Start("korrin-probe");
    ASSERT_EQ(WaitForSingleObject(h, 5000), WAIT_OBJECT_0);
    DWORD code = 0;
    ASSERT_NE(GetExitCodeProcess(h, &code), 0);
    EXPECT_EQ(code, 42u);
}

TEST_F(ProcessTest, ExitCodes) {
    ProcessHandle done = Start("sh -c \"exit 7\"");
    ProcessHandle running = Start("sleep 5");
    DWORD code = 0;
    ASSERT_NE(GetExitCodeProcess(running, &code), 0);
    EXPECT_EQ(code, STILL_ACTIVE);

    ASSERT_EQ(WaitForSingleObject(done, 5000), WAIT_OBJECT_0);
    ASSERT_NE(GetExitCodeProcess(done, &code), 0);
    EXPECT_EQ(code, 7u);
    ASSERT_NE(GetExitCodeProcess(done, &code), 0);  // asking again gives the same
    EXPECT_EQ(code, 7u);

    ASSERT_NE(TerminateProcess(running), 0);
    ASSERT_NE(GetExitCodeProcess(running, &code), 0);
    EXPECT_EQ(code, 128u + SIGKILL);
    EXPECT_NE(TerminateProcess(running), 0);  // already gone is still gone
}

TEST_F(ProcessTest, WaitHonoursItsBound) {
    ProcessHandle h = Start("sleep 5");
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(h, 100), WAIT_TIMEOUT);
    auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(waited, 100ms);
    EXPECT_LT(waited, 2000ms);
    EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_TIMEOUT);

    ASSERT_NE(TerminateProcess(h), 0);
    t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(h, INFINITE), WAIT_OBJECT_0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 1000ms);
}

TEST_F(ProcessTest, TerminateTakesTheLaunchersChildrenAlong) {
    const std::string pidFile = dir_.file("pid");
    ProcessHandle h = Start("sh -c " + QuoteArgument("sleep 30 & echo $! > " + pidFile + "; wait"));
    pid_t grandchild = 0;
    for (int i = 0; i < 500 && grandchild == 0; ++i) {
        grandchild = std::atoi(ReadFile(pidFile).c_str());
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_GT(grandchild, 0);
    ASSERT_NE(TerminateProcess(h), 0);
    // Reparented, it is reaped by whoever adopted it; dead either way.
    auto end = std::chrono::steady_clock::now() + 5s;
    while (ProcState(grandchild) != "" && ProcState(grandchild) != "Z" &&
           std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(10ms);
    const std::string state = ProcState(grandchild);
    EXPECT_TRUE(state.empty() || state == "Z") << state;
}

TEST_F(ProcessTest, ClosingRunningHandleLeavesNoZombie) {
    ProcessHandle running;
    ASSERT_NE(CreateProcess("sleep 0.3", {}, &running), 0);
    const pid_t pid = running.pid;
    CloseHandle(running);
    EXPECT_FALSE(running.valid());
    EXPECT_TRUE(EventuallyGone(pid)) << "state " << ProcState(pid);

    ProcessHandle finished;
    ASSERT_NE(CreateProcess("true", {}, &finished), 0);
    const pid_t pid2 = finished.pid;
    ASSERT_EQ(WaitForSingleObject(finished, 5000), WAIT_OBJECT_0);
    CloseHandle(finished);
    EXPECT_TRUE(EventuallyGone(pid2));
}

TEST_F(ProcessTest, StaleAndForgedHandlesFail) {
    DWORD code = 0;
    ProcessHandle h;
    ASSERT_NE(CreateProcess("true", {}, &h), 0);
    ProcessHandle copy = h;
    CloseHandle(h);
    EXPECT_EQ(WaitForSingleObject(copy, 10), WAIT_FAILED);
    EXPECT_EQ(GetExitCodeProcess(copy, &code), 0);

    // A handle whose pid was made up must never reach a process.
    ProcessHandle forged{getpid(), 999999};
    EXPECT_EQ(TerminateProcess(forged), 0);
}

TEST_F(ProcessTest, HiddenChildGetsCleanDescriptorsAndSignals) {
    // A descriptor opened without O_CLOEXEC and a blocked and an ignored signal in the parent.
    int leak = fcntl(open("/dev/null", O_RDONLY), F_DUPFD, 50);
    ASSERT_GE(leak, 50);
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGUSR1);
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &block, &old), 0);
    auto oldPipe = signal(SIGPIPE, SIG_IGN);

    const std::string script =
        "readlink /proc/$$/fd/1; test -e /proc/$$/fd/" + std::to_string(leak) +
        " && echo leaked || echo closed; grep -E '^Sig(Blk|Ign)' /proc/$$/status";
    StartOptions options;
    options.workingDirectory = dir_.path();
    ProcessHandle h = Start("sh -c " + QuoteArgument("(" + script + ") > report 2>&1"), options);

    signal(SIGPIPE, oldPipe);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    close(leak);

    ASSERT_EQ(WaitForSingleObject(h, 5000), WAIT_OBJECT_0);
    const std::string report = ReadFile(dir_.file("report"));
    EXPECT_NE(report.find("/dev/null\n"), std::string::npos) << report;
    EXPECT_NE(report.find("closed\n"), std::string::npos) << report;
    auto mask = [&](const std::string& key) {
        auto at = report.find(key + ":\t");
        return at == std::string::npos ? ~0ull
                                       : std::strtoull(report.c_str() + at + 8, nullptr, 16);
    };
    EXPECT_EQ(mask("SigBlk") & (1ull << (SIGUSR1 - 1)), 0u) << report;
    EXPECT_EQ(mask("SigIgn") & (1ull << (SIGPIPE - 1)), 0u) << report;
}

TEST_F(ProcessTest, ThreadsStartAndWaitIndependently) {
    constexpr int kThreads = 6;
    std::atomic<int> right{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([i, &right] {
            for (int round = 0; round < 5; ++round) {
                ProcessHandle h;
                if (!CreateProcess("sh -c \"exit " + std::to_string(i + round) + "\"", {}, &h))
                    return;
                DWORD code = 0;
                if (WaitForSingleObject(h, 5000) == WAIT_OBJECT_0 && GetExitCodeProcess(h, &code) &&
                    code == DWORD(i + round))
                    ++right;
                CloseHandle(h);
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(right.load(), kThreads * 5);

    // Two threads waiting on one process both see it end.
    ProcessHandle shared = Start("sleep 0.2");
    std::atomic<int> ended{0};
    std::thread a([&] { ended += WaitForSingleObject(shared, 5000) == WAIT_OBJECT_0; });
    std::thread b([&] { ended += WaitForSingleObject(shared, 5000) == WAIT_OBJECT_0; });
    a.join();
    b.join();
    EXPECT_EQ(ended.load(), 2);
    DWORD code = 1;
    ASSERT_NE(GetExitCodeProcess(shared, &code), 0);
    EXPECT_EQ(code, 0u);
}
