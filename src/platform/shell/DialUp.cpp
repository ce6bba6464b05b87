#include "platform/shell/DialUp.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/process/CommandLine.h"
#include "platform/process/Process.h"

extern char** environ;

namespace korrin::platform {

namespace {

// nmcli answers at once or not at all; a stuck one must not stop the window that asked.
constexpr int kListTimeoutMs = 5000;
constexpr std::size_t kOutputMax = 1 << 20;

std::vector<std::string> Program() {
    const char* p = std::getenv("KORRIN_NMCLI");
    if (p && *p)
        return SplitCommandLine(p);
    return {"nmcli"};
}

// Runs argv with its standard output captured; empty on any failure.
std::string Capture(std::vector<std::string> argv) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return {};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    std::vector<char*> args;
    for (auto& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, args[0], &fa, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        return {};
    }
    std::string out;
    auto start = std::chrono::steady_clock::now();
    bool timedOut = false;
    for (;;) {
        auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now() - start)
                         .count();
        if (spent >= kListTimeoutMs) {
            timedOut = true;
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        int r = poll(&p, 1, static_cast<int>(kListTimeoutMs - spent));
        if (r < 0)
            continue;
        if (r == 0) {
            timedOut = true;
            break;
        }
        char buf[4096];
        ssize_t n = read(fds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        out.append(buf, static_cast<std::size_t>(n));
        if (out.size() > kOutputMax) {
            timedOut = true;
            break;
        }
    }
    close(fds[0]);
    // The end of its output is not its end: a program that closed its output may still run.
    // It gets what is left of the bound to end, and is killed after that.
    int status = 0;
    while (!timedOut) {
        const pid_t reaped = waitpid(pid, &status, WNOHANG);
        if (reaped != 0 && !(reaped < 0 && errno == EINTR))
            break;
        if (std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(kListTimeoutMs))
            timedOut = true;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (timedOut) {
        kill(-pid, SIGKILL);
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (timedOut || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {};
    return out;
}

}  // namespace

std::vector<std::string> ParseTerseNames(std::string_view output) {
    std::vector<std::string> names;
    std::string name;
    for (std::size_t i = 0; i <= output.size(); ++i) {
        if (i == output.size() || output[i] == '\n') {
            if (!name.empty() && name.back() == '\r')
                name.pop_back();
            if (name.find_first_not_of(" \t") != std::string::npos)
                names.push_back(name);
            name.clear();
            continue;
        }
        if (output[i] == '\\' && i + 1 < output.size() && output[i + 1] != '\n')
            ++i;
        name += output[i];
    }
    return names;
}

std::vector<std::string> ListDialUpConnections() {
    auto argv = Program();
    if (argv.empty())
        return {};
    for (const char* a : {"-t", "-f", "NAME", "connection", "show"})
        argv.emplace_back(a);
    return ParseTerseNames(Capture(argv));
}

bool ConnectDialUp(const std::string& name) {
    auto argv = Program();
    if (argv.empty())
        return false;
    for (const char* a : {"connection", "up", "id"})
        argv.emplace_back(a);
    argv.push_back(name);
    ProcessHandle handle;
    if (!CreateProcess(argv, StartOptions{}, &handle))
        return false;
    CloseHandle(handle);
    return true;
}

}  // namespace korrin::platform
