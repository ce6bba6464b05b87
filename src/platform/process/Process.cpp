#include "platform/process/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>

#include "platform/process/CommandLine.h"

extern char** environ;

namespace korrin::platform {

namespace {

using Clock = std::chrono::steady_clock;

// One started child. Only this layer reaps it, always with its own pid and under `mutex`,
// so a pid is never collected twice and never confused with a stranger's.
struct Child {
    pid_t pid = -1;
    int pidfd = -1;  // -1 where the kernel has none; then waits poll with short sleeps
    std::mutex mutex;
    bool reaped = false;
    bool statusKnown = false;
    int status = 0;
    int waiters = 0;  // threads blocked on pidfd; it is closed only when none are left

    ~Child() {
        if (pidfd >= 0)
            ::close(pidfd);
    }
};

struct Table {
    std::mutex mutex;
    std::unordered_map<std::uint64_t, std::shared_ptr<Child>> children;
    std::uint64_t nextId = 1;
};

Table& table() {
    static Table* t = new Table;  // never destroyed: reapers may outlive static destructors
    return *t;
}

std::shared_ptr<Child> find(const ProcessHandle& handle) {
    if (!handle.valid())
        return nullptr;
    Table& t = table();
    std::lock_guard lock(t.mutex);
    auto it = t.children.find(handle.id);
    if (it == t.children.end() || it->second->pid != handle.pid)
        return nullptr;
    return it->second;
}

// Caller holds child.mutex.
bool reapLocked(Child& child) {
    if (!child.reaped) {
        int status = 0;
        pid_t r;
        do {
            r = ::waitpid(child.pid, &status, WNOHANG);
        } while (r < 0 && errno == EINTR);
        if (r == child.pid) {
            child.reaped = true;
            child.statusKnown = true;
            child.status = status;
        } else if (r < 0 && errno == ECHILD) {
            // SIGCHLD ignored by someone: the kernel collected it and the status is lost.
            child.reaped = true;
        }
    }
    if (child.reaped && child.waiters == 0 && child.pidfd >= 0) {
        ::close(child.pidfd);
        child.pidfd = -1;
    }
    return child.reaped;
}

// True once the child is collected; false when the deadline passed first.
bool waitFor(Child& child, std::optional<Clock::time_point> deadline) {
    std::unique_lock lock(child.mutex);
    for (;;) {
        if (reapLocked(child))
            return true;
        int sliceMs = -1;
        if (deadline) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
            if (left.count() <= 0)
                return false;
            sliceMs = static_cast<int>(std::min<long long>(left.count(), INT_MAX));
        }
        const int fd = child.pidfd;
        ++child.waiters;
        lock.unlock();
        if (fd >= 0) {
            pollfd p{fd, POLLIN, 0};
            ::poll(&p, 1, sliceMs);
        } else {
            int nap = sliceMs < 0 ? 20 : std::min(sliceMs, 20);
            std::this_thread::sleep_for(std::chrono::milliseconds(nap));
        }
        lock.lock();
        --child.waiters;
    }
}

void reapInBackground(std::shared_ptr<Child> child) {
    try {
        std::thread([child] { waitFor(*child, std::nullopt); }).detach();
    } catch (...) {
        // No thread to spare: the child stays a zombie until we exit. Nothing better to do.
    }
}

bool isExecutableFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

std::string currentFolder() {
    char buffer[PATH_MAX];
    return ::getcwd(buffer, sizeof buffer) ? buffer : "";
}

// The program's absolute path. Resolved here rather than by posix_spawnp so that a relative
// name means relative to our folder, not to the child's working folder.
std::optional<std::string> locateProgram(const std::string& name) {
    if (name.empty()) {
        errno = ENOENT;
        return std::nullopt;
    }
    auto absolute = [](const std::string& p) {
        return p.front() == '/' ? p : currentFolder() + "/" + p;
    };
    if (name.find('/') != std::string::npos)
        return absolute(name);
    std::string path;
    if (const char* env = std::getenv("PATH"))
        path = env;
    else
        path = "/usr/local/bin:/usr/bin:/bin";
    int why = ENOENT;
    std::size_t start = 0;
    for (;;) {
        std::size_t colon = path.find(':', start);
        std::string folder = path.substr(start, colon - start);
        std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
        if (isExecutableFile(candidate))
            return absolute(candidate);
        if (errno == EACCES)
            why = EACCES;
        if (colon == std::string::npos)
            break;
        start = colon + 1;
    }
    errno = why;
    return std::nullopt;
}

int spawn(const std::string& program, const std::vector<std::string>& argv,
          const StartOptions& options, pid_t* pid) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);

    int rc = 0;
    if (options.hidden) {
        if (options.stdinFd >= 0)
            rc = rc ? rc : posix_spawn_file_actions_adddup2(&actions, options.stdinFd, 0);
        else
            rc = rc ? rc : posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        rc = rc ? rc : posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        if (options.stderrFd >= 0)
            rc = rc ? rc : posix_spawn_file_actions_adddup2(&actions, options.stderrFd, 2);
        else
            rc = rc ? rc : posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    // Descriptors opened without O_CLOEXEC elsewhere (sockets, the registry) must not stay
    // open for as long as an opener's browser runs.
    rc = rc ? rc : posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (!options.workingDirectory.empty())
        rc = rc ? rc
                : posix_spawn_file_actions_addchdir_np(&actions, options.workingDirectory.c_str());

    // Dispositions and masks are inherited across exec: a SIGPIPE ignored for our sockets or a
    // signal blocked in this thread would otherwise leak into the tool.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    rc = rc ? rc : posix_spawnattr_setsigmask(&attr, &none);
    rc = rc ? rc : posix_spawnattr_setsigdefault(&attr, &all);
    rc = rc ? rc : posix_spawnattr_setpgroup(&attr, 0);
    rc = rc ? rc
            : posix_spawnattr_setflags(
                  &attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    // glibc reports a failed chdir or exec in the child as the result here.
    if (rc == 0)
        rc = posix_spawn(pid, program.c_str(), &actions, &attr, args.data(), environ);

    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return rc;
}

}  // namespace

BOOL CreateProcess(const std::vector<std::string>& argv, const StartOptions& options,
                   ProcessHandle* out) {
    if (!out || argv.empty()) {
        errno = EINVAL;
        return 0;
    }
    auto program = locateProgram(argv[0]);
    if (!program)
        return 0;

    pid_t pid = -1;
    if (int rc = spawn(*program, argv, options, &pid); rc != 0) {
        errno = rc;
        return 0;
    }
    auto child = std::make_shared<Child>();
    child->pid = pid;
    // The child is unreaped, so the pid is still it. glibc 2.36's <sys/pidfd.h> lacks C
    // linkage for C++, hence the raw call.
    child->pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (child->pidfd >= 0)
        ::fcntl(child->pidfd, F_SETFD, FD_CLOEXEC);

    Table& t = table();
    std::lock_guard lock(t.mutex);
    const std::uint64_t id = t.nextId++;
    t.children.emplace(id, std::move(child));
    out->pid = pid;
    out->id = id;
    return 1;
}

BOOL CreateProcess(const std::string& commandLine, const StartOptions& options,
                   ProcessHandle* out) {
    return CreateProcess(SplitCommandLine(commandLine), options, out);
}

DWORD WaitForSingleObject(ProcessHandle& process, DWORD timeoutMs) {
    auto child = find(process);
    if (!child) {
        errno = EBADF;
        return WAIT_FAILED;
    }
    std::optional<Clock::time_point> deadline;
    if (timeoutMs != INFINITE)
        deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    return waitFor(*child, deadline) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

BOOL GetExitCodeProcess(ProcessHandle& process, DWORD* exitCode) {
    auto child = find(process);
    if (!child || !exitCode) {
        errno = child ? EINVAL : EBADF;
        return 0;
    }
    std::lock_guard lock(child->mutex);
    if (!reapLocked(*child)) {
        *exitCode = STILL_ACTIVE;
        return 1;
    }
    if (!child->statusKnown) {
        errno = ECHILD;
        return 0;
    }
    if (WIFEXITED(child->status))
        *exitCode = static_cast<DWORD>(WEXITSTATUS(child->status));
    else if (WIFSIGNALED(child->status))
        *exitCode = 128 + static_cast<DWORD>(WTERMSIG(child->status));
    else
        *exitCode = static_cast<DWORD>(child->status);
    return 1;
}

BOOL TerminateProcess(ProcessHandle& process) {
    auto child = find(process);
    if (!child) {
        errno = EBADF;
        return 0;
    }
    {
        std::lock_guard lock(child->mutex);
        if (reapLocked(*child))
            return 1;
        // Unreaped, so both the pid and the group it leads are still ours to signal.
        ::kill(-child->pid, SIGKILL);
        ::kill(child->pid, SIGKILL);
    }
    // SIGKILL cannot be refused, but a process stuck in the kernel (a dead network mount)
    // dies only later; it is then collected in the background.
    if (waitFor(*child, Clock::now() + std::chrono::seconds(5)))
        return 1;
    reapInBackground(child);
    errno = ETIMEDOUT;
    return 0;
}

void CloseHandle(ProcessHandle& process) {
    std::shared_ptr<Child> child;
    if (process.valid()) {
        Table& t = table();
        std::lock_guard lock(t.mutex);
        auto it = t.children.find(process.id);
        if (it != t.children.end() && it->second->pid == process.pid) {
            child = std::move(it->second);
            t.children.erase(it);
        }
    }
    process = ProcessHandle{};
    if (!child)
        return;
    {
        std::lock_guard lock(child->mutex);
        if (reapLocked(*child))
            return;
    }
    reapInBackground(std::move(child));
}

}  // namespace korrin::platform
