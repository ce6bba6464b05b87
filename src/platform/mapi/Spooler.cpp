// The spooler: hands each Outbox message to the profile's submit command and files what went
// out in Sent.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "platform/fileio/LockFile.h"
#include "platform/mapi/Maildir.h"
#include "platform/mapi/Mapi.h"
#include "platform/mapi/Store.h"
#include "platform/process/CommandLine.h"
#include "platform/process/Process.h"

namespace korrin::platform {

namespace {

constexpr unsigned kDefaultSubmitTimeoutMs = 120000;
// Enough of the command's error output for its first line; the rest is read and dropped so
// the command never blocks on a full pipe.
constexpr std::size_t kErrorKeep = 4096;

std::atomic<SpoolReporter> spoolReporter{nullptr};

std::mutex reportedMutex;
std::set<std::string> reported;  // messages whose failure this process has reported

void report(const std::string& unique, const std::string& text, SpoolResult* result) {
    {
        std::lock_guard<std::mutex> lock(reportedMutex);
        if (!reported.insert(unique).second)
            return;
    }
    result->reports.push_back(text);
    if (SpoolReporter r = spoolReporter.load())
        r(text);
    else
        std::cerr << text << "\n";
}

std::string firstLine(const std::string& text) {
    std::size_t b = text.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return {};
    std::size_t e = text.find_first_of("\r\n", b);
    return text.substr(b, e == std::string::npos ? std::string::npos : e - b);
}

struct RunOutcome {
    bool started = false;
    bool timedOut = false;
    DWORD status = 0;
    std::string errorText;
};

// Runs argv with the file as its standard input, within timeoutMs.
RunOutcome runSubmit(const std::vector<std::string>& argv, const std::string& file,
                     unsigned timeoutMs) {
    RunOutcome out;
    int in = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (in < 0) {
        out.errorText = "cannot open the message";
        return out;
    }
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        ::close(in);
        out.errorText = "cannot make a pipe";
        return out;
    }
    StartOptions options;
    options.hidden = true;
    options.stdinFd = in;
    options.stderrFd = pipeFds[1];
    ProcessHandle child;
    BOOL started = CreateProcess(argv, options, &child);
    int why = errno;
    ::close(in);
    ::close(pipeFds[1]);
    if (!started) {
        ::close(pipeFds[0]);
        out.errorText = std::string("cannot be started: ") + std::strerror(why);
        return out;
    }
    out.started = true;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buf[4096];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) {
            out.timedOut = true;
            break;
        }
        pollfd p{pipeFds[0], POLLIN, 0};
        int n = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            continue;
        ssize_t got = ::read(pipeFds[0], buf, sizeof buf);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;  // the command closed its error output (ended, most likely)
        if (out.errorText.size() < kErrorKeep)
            out.errorText.append(buf, static_cast<std::size_t>(got));
    }
    ::close(pipeFds[0]);
    if (!out.timedOut) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (WaitForSingleObject(child, static_cast<DWORD>(std::max<long long>(left, 0))) !=
            WAIT_OBJECT_0)
            out.timedOut = true;
    }
    if (out.timedOut)
        TerminateProcess(child);
    GetExitCodeProcess(child, &out.status);
    CloseHandle(child);
    return out;
}

// The passes the logons and submissions asked for, one thread per profile at a time.
struct SpoolerThreads {
    std::mutex mutex;
    std::map<std::string, bool> again;  // a profile's thread runs another pass when set
    std::vector<std::thread> threads;
    ~SpoolerThreads() {
        std::vector<std::thread> all;
        {
            std::lock_guard<std::mutex> lock(mutex);
            all.swap(threads);
        }
        for (auto& t : all)
            if (t.joinable())
                t.join();
    }
};

SpoolerThreads& spooler() {
    static SpoolerThreads s;
    return s;
}

}  // namespace

unsigned SubmitTimeoutMs() {
    if (const char* v = std::getenv("KORRIN_SUBMIT_TIMEOUT_MS"); v && *v) {
        char* end = nullptr;
        unsigned long ms = std::strtoul(v, &end, 10);
        if (end && !*end && ms > 0 && ms < 24ul * 3600 * 1000)
            return static_cast<unsigned>(ms);
    }
    return kDefaultSubmitTimeoutMs;
}

void SetSpoolReporter(SpoolReporter reporter) {
    spoolReporter = reporter;
}

HRESULT SpoolOutbox(const MapiProfile& profile, SpoolResult* result) {
    using namespace mapi_detail;
    SpoolResult local;
    SpoolResult* r = result ? result : &local;
    *r = SpoolResult{};
    const std::string& root = profile.storeDir;
    if (!EnsureMaildir(root))
        return MAPI_E_DISK_ERROR;
    LockFile lock;
    if (!lock.TryLock(root + "/.korrin-spool.lock")) {
        if (errno == EWOULDBLOCK) {
            r->locked = true;
            return S_OK;
        }
        return MAPI_E_DISK_ERROR;
    }
    const std::string outbox = FolderPath(root, "Outbox");
    const std::string sent = FolderPath(root, "Sent");
    const std::vector<std::string> argv = SplitCommandLine(profile.submitCommand);
    const unsigned timeoutMs = SubmitTimeoutMs();
    for (const auto& f : ListMaildir(outbox)) {
        // Drafts and trashed messages wait; everything else was submitted.
        if (f.flags.find('D') != std::string::npos || f.flags.find('T') != std::string::npos)
            continue;
        if (argv.empty()) {
            ++r->failed;
            report(f.unique, "Outbox message " + f.unique + " not sent: no submit command", r);
            continue;
        }
        RunOutcome o = runSubmit(argv, f.path, timeoutMs);
        if (o.started && !o.timedOut && o.status == 0) {
            if (MoveMaildir(f, sent, f.flags + "S")) {
                ++r->sent;
                continue;
            }
            ++r->failed;
            report(f.unique,
                   "Outbox message " + f.unique +
                       " was sent but could not be moved to Sent: " + std::strerror(errno),
                   r);
            continue;
        }
        ++r->failed;
        std::string text = "Outbox message " + f.unique + " not sent: " + argv[0];
        if (!o.started)
            text += " " + o.errorText;
        else if (o.timedOut)
            text += " did not finish within " + std::to_string((timeoutMs + 999) / 1000) + " s";
        else
            text += " exited with status " + std::to_string(o.status);
        if (o.started) {
            std::string line = firstLine(o.errorText);
            if (!line.empty())
                text += ": " + line;
        }
        report(f.unique, text, r);
    }
    for (const auto& f : ListMaildir(outbox))
        if (f.flags.find('D') == std::string::npos && f.flags.find('T') == std::string::npos)
            ++r->left;
    return S_OK;
}

namespace mapi_detail {

void RequestSpool(const MapiProfile& profile) {
    SpoolerThreads& s = spooler();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.again.find(profile.name);
    if (it != s.again.end()) {
        it->second = true;  // the running thread makes one more pass
        return;
    }
    s.again[profile.name] = false;
    s.threads.emplace_back([profile] {
        SpoolerThreads& sp = spooler();
        for (;;) {
            SpoolOutbox(profile, nullptr);
            std::lock_guard<std::mutex> l(sp.mutex);
            auto i = sp.again.find(profile.name);
            if (!i->second) {
                sp.again.erase(i);
                return;
            }
            i->second = false;
        }
    });
}

}  // namespace mapi_detail

void WaitForSpooler() {
    SpoolerThreads& s = spooler();
    for (;;) {
        std::vector<std::thread> batch;
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            batch.swap(s.threads);
        }
        if (batch.empty())
            return;
        for (auto& t : batch)
            t.join();
    }
}

}  // namespace korrin::platform
