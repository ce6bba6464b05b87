// The registry shared by processes: values cross between them, the File ID counter never
// hands out a number twice, and a writer killed mid-write leaves a whole value.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "helpers/TestSupport.h"
#include "platform/registry/Registry.h"

extern char** environ;

namespace {

using namespace korrin::platform;
using korrin::test::BuildDir;
using korrin::test::ReadFile;
using korrin::test::RegistryTest;

const char* kKorrinKey = "SOFTWARE\\Quillion\\Korrin";

std::string worker() {
    return BuildDir() + "/registry_worker";
}

// Starts registry_worker with its standard output going to outFile, or to a pipe whose
// reading end lands in *pipeOut when outFile is empty.
pid_t startWorker(const std::vector<std::string>& args, const std::string& outFile,
                  int* pipeOut = nullptr) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int fds[2] = {-1, -1};
    if (outFile.empty()) {
        if (pipe2(fds, O_CLOEXEC) != 0)
            return -1;
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
    }
    std::vector<std::string> argv = {worker()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargs;
    for (auto& a : argv)
        cargs.push_back(a.data());
    cargs.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, cargs[0], &actions, nullptr, cargs.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (fds[1] >= 0) {
        close(fds[1]);
        *pipeOut = fds[0];
    }
    return pid;
}

int waitExit(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

using RegistryProcesses = RegistryTest;

TEST_F(RegistryProcesses, ValuesCrossBetweenProcesses) {
    auto fromChild = korrin::test::Run({worker(), "increment", "3"});
    ASSERT_EQ(fromChild.exitCode, 0) << fromChild.err;
    RegKeyGuard key;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, key.out()), ERROR_SUCCESS);
    DWORD value = 0, size = sizeof value;
    ASSERT_EQ(RegQueryValueEx(key.get(), "File ID", nullptr,
                              reinterpret_cast<std::uint8_t*>(&value), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(value, 3u);

    const std::string name = "Jo Example";
    ASSERT_EQ(
        RegSetValueEx(key.get(), "Name", REG_SZ, reinterpret_cast<const std::uint8_t*>(name.data()),
                      static_cast<DWORD>(name.size())),
        ERROR_SUCCESS);
    auto toChild = korrin::test::Run(
        {BuildDir() + "/korrinctl", "reg", "query", std::string("HKLM\\") + kKorrinKey, "Name"});
    EXPECT_EQ(toChild.exitCode, 0) << toChild.err;
    EXPECT_NE(toChild.out.find("REG_SZ    Jo Example\n"), std::string::npos) << toChild.out;
}

// Connections are kept between calls, yet every call reads the file its path names at that
// moment: another path, or another file put at the same path by another process.
TEST_F(RegistryProcesses, KeptConnectionsFollowThePathAndAReplacedFile) {
    auto read = [] {
        RegKeyGuard key;
        if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, key.out()) != ERROR_SUCCESS)
            return std::string("(no key)");
        char text[32] = {};
        DWORD size = sizeof text - 1;
        if (RegQueryValueEx(key.get(), "Name", nullptr, reinterpret_cast<std::uint8_t*>(text),
                            &size) != ERROR_SUCCESS)
            return std::string("(no value)");
        return std::string(text, size);
    };
    auto setInChild = [](const std::string& value) {
        return korrin::test::Run({BuildDir() + "/korrinctl", "reg", "set",
                                  std::string("HKLM\\") + kKorrinKey, "Name", "REG_SZ", value})
            .exitCode;
    };
    RegKeepConnections keep;
    ASSERT_EQ(setInChild("first"), 0);
    EXPECT_EQ(read(), "first");
    {
        korrin::test::ScopedEnv other("KORRIN_REGISTRY", dbPath() + ".other");
        EXPECT_EQ(read(), "(no key)");
        ASSERT_EQ(setInChild("other"), 0);
        EXPECT_EQ(read(), "other");
    }
    EXPECT_EQ(read(), "first");
    // Another program replaces the file (this process still holds the old one open).
    for (const char* tail : {"", "-wal", "-shm"})
        ::unlink((dbPath() + tail).c_str());
    ASSERT_EQ(setInChild("replaced"), 0);
    EXPECT_EQ(read(), "replaced");
}

// The processes all meet a database that does not exist yet, so they also race to create it.
TEST_F(RegistryProcesses, EightProcessesNeverShareAFileIdNumber) {
    constexpr int kProcesses = 8, kEach = 500;
    std::vector<pid_t> pids;
    for (int i = 0; i < kProcesses; ++i) {
        pids.push_back(
            startWorker({"increment", std::to_string(kEach)}, dir_.file(std::to_string(i))));
        ASSERT_GT(pids.back(), 0);
    }
    for (pid_t pid : pids)
        EXPECT_EQ(waitExit(pid), 0);

    std::set<DWORD> numbers;
    for (int i = 0; i < kProcesses; ++i) {
        std::istringstream in(ReadFile(dir_.file(std::to_string(i))));
        int count = 0;
        for (DWORD n; in >> n; ++count)
            numbers.insert(n);
        EXPECT_EQ(count, kEach) << "process " << i;
    }
    EXPECT_EQ(numbers.size(), std::size_t{kProcesses * kEach});
    EXPECT_EQ(*numbers.begin(), 1u);
    EXPECT_EQ(*numbers.rbegin(), DWORD{kProcesses * kEach});
}

TEST_F(RegistryProcesses, KilledWriterLeavesAWholeValue) {
    constexpr DWORD kSize = 256 * 1024;  // many pages, so a kill lands inside a commit
    std::mt19937 random(12345);
    int previous = -1;
    int changes = 0;
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        int out = -1;
        pid_t pid = startWorker({"churn", std::to_string(kSize)}, "", &out);
        ASSERT_GT(pid, 0);
        char ready[6] = {};
        ASSERT_EQ(read(out, ready, sizeof ready), 6) << "the writer did not start";
        close(out);
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::uniform_int_distribution<int>(20, 250)(random)));
        kill(pid, SIGKILL);
        EXPECT_EQ(waitExit(pid), 128 + SIGKILL);

        RegKeyGuard key;
        ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, key.out()), ERROR_SUCCESS);
        std::vector<std::uint8_t> data(kSize + 1);
        DWORD size = static_cast<DWORD>(data.size()), type = 0;
        LONG r = RegQueryValueEx(key.get(), "Blob", &type, data.data(), &size);
        if (r == ERROR_FILE_NOT_FOUND && round == 0)
            continue;  // killed before the first commit
        ASSERT_EQ(r, ERROR_SUCCESS);
        EXPECT_EQ(type, REG_BINARY);
        ASSERT_EQ(size, kSize);
        const std::uint8_t first = data[0];
        EXPECT_EQ(std::count(data.begin(), data.begin() + kSize, first), std::ptrdiff_t{kSize})
            << "a value mixed from two writes";
        if (previous >= 0 && first != previous)
            ++changes;
        previous = first;
    }
    EXPECT_GT(changes, 0) << "the writers made no progress";
}

}  // namespace
