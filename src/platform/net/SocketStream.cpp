// TCP streams over POSIX sockets. Every wait is a poll() with the caller's bound, and the name
// is resolved on a helper thread waited for within the same bound, so no call can block longer
// than it was allowed to.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <resolv.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/net/Stream.h"

namespace korrin::platform::net {

namespace {

using Clock = std::chrono::steady_clock;

// What is left of a bound that started at `start`; negative bounds wait forever.
int Remaining(int timeoutMs, Clock::time_point start) {
    if (timeoutMs < 0)
        return -1;
    auto spent =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    return spent >= timeoutMs ? 0 : static_cast<int>(timeoutMs - spent);
}

// 1 ready, 0 timed out, -1 failed.
int WaitFor(int fd, short events, int timeoutMs, Clock::time_point start) {
    for (;;) {
        pollfd p{fd, events, 0};
        int left = Remaining(timeoutMs, start);
        int r = poll(&p, 1, left);
        if (r > 0)
            return 1;
        if (r == 0)
            return 0;
        if (errno != EINTR)
            return -1;
    }
}

// $KORRIN_NAMESERVER ("127.0.0.1:PORT"): the one name server this thread's lookups ask instead
// of those of resolv.conf, so a test can stand a server that never answers on loopback.
void UseNameServerFromEnvironment() {
    const char* text = std::getenv("KORRIN_NAMESERVER");
    if (!text || !*text)
        return;
    std::string value(text);
    auto colon = value.rfind(':');
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(53);
    if (colon != std::string::npos) {
        addr.sin_port = htons(static_cast<std::uint16_t>(std::atoi(value.c_str() + colon + 1)));
        value.resize(colon);
    }
    if (inet_pton(AF_INET, value.c_str(), &addr.sin_addr) != 1 || res_init() != 0)
        return;
    _res.nsaddr_list[0] = addr;
    _res.nscount = 1;
}

// One lookup shared by the caller and the helper thread that runs it; whichever is last
// frees the result.
struct Lookup {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    bool abandoned = false;
    int rc = EAI_FAIL;
    addrinfo* list = nullptr;
};

enum class Resolved { kOk, kFailed, kTimedOut };

// getaddrinfo has no bound of its own: a name server that does not answer holds it for its
// timeout times its attempts, for each server. A name (not an address) is therefore looked up
// on a helper thread; when the bound runs out first, the thread is left to finish and free
// its result alone.
Resolved Resolve(const std::string& host, const std::string& service, int timeoutMs,
                 Clock::time_point start, addrinfo** out) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    // No AI_ADDRCONFIG: it hides the loopback addresses on a machine without a network,
    // and an address family that cannot be used just fails to connect and the next is tried.
    hints.ai_flags = AI_NUMERICHOST;
    int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, out);
    if (rc == 0)
        return *out ? Resolved::kOk : Resolved::kFailed;
    if (rc != EAI_NONAME)
        return Resolved::kFailed;
    hints.ai_flags = 0;
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, host, service, hints] {
            UseNameServerFromEnvironment();
            addrinfo* list = nullptr;
            int r = getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
            std::lock_guard lock(lookup->mutex);
            if (lookup->abandoned) {
                if (r == 0 && list)
                    freeaddrinfo(list);
                return;
            }
            lookup->rc = r;
            lookup->list = r == 0 ? list : nullptr;
            lookup->done = true;
            lookup->cv.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return Resolved::kFailed;
    }
    std::unique_lock lock(lookup->mutex);
    if (timeoutMs < 0) {
        lookup->cv.wait(lock, [&] { return lookup->done; });
    } else {
        lookup->cv.wait_until(lock, start + std::chrono::milliseconds(timeoutMs),
                              [&] { return lookup->done; });
    }
    if (!lookup->done) {
        lookup->abandoned = true;
        return Resolved::kTimedOut;
    }
    *out = lookup->list;
    return lookup->rc == 0 && *out ? Resolved::kOk : Resolved::kFailed;
}

class SocketStream : public IStream {
  public:
    ~SocketStream() override { Close(); }

    ConnectResult Connect(const std::string& host, std::uint16_t port, int timeoutMs) override {
        Close();
        auto start = Clock::now();
        if (host.empty())
            return ConnectResult::kUnreachable;
        addrinfo* list = nullptr;
        switch (Resolve(host, std::to_string(port), timeoutMs, start, &list)) {
            case Resolved::kOk:
                break;
            case Resolved::kTimedOut:
                return ConnectResult::kTimedOut;
            default:
                return ConnectResult::kUnreachable;
        }
        ConnectResult result = ConnectResult::kUnreachable;
        bool anySocket = false;
        for (addrinfo* a = list; a; a = a->ai_next) {
            int fd =
                socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
            if (fd < 0)
                continue;
            anySocket = true;
            int r = ::connect(fd, a->ai_addr, a->ai_addrlen);
            if (r != 0 && errno == EINPROGRESS) {
                int w = WaitFor(fd, POLLOUT, timeoutMs, start);
                if (w == 1) {
                    int err = 0;
                    socklen_t len = sizeof err;
                    getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
                    r = err == 0 ? 0 : -1;
                } else if (w == 0) {
                    ::close(fd);
                    result = ConnectResult::kTimedOut;
                    break;
                }
            }
            if (r == 0) {
                // Commands and the end of the data are small writes that each wait for a
                // reply: none may sit behind Nagle's algorithm until the server acknowledges.
                int one = 1;
                setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                fd_ = fd;
                result = ConnectResult::kOk;
                break;
            }
            ::close(fd);
        }
        freeaddrinfo(list);
        if (!anySocket && result != ConnectResult::kOk)
            return ConnectResult::kNoSocket;
        return result;
    }

    SendResult SendAll(const char* data, std::size_t size, int timeoutMs) override {
        auto start = Clock::now();
        while (size > 0) {
            if (fd_ < 0)
                return SendResult::kFailed;
            ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL);
            if (n > 0) {
                data += n;
                size -= static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                int w = WaitFor(fd_, POLLOUT, timeoutMs, start);
                if (w == 0)
                    return SendResult::kTimedOut;
                if (w < 0)
                    return SendResult::kFailed;
                continue;
            }
            return SendResult::kFailed;
        }
        return SendResult::kOk;
    }

    long ReceiveSome(char* buffer, std::size_t capacity, int timeoutMs) override {
        auto start = Clock::now();
        if (capacity > static_cast<std::size_t>(LONG_MAX))
            capacity = LONG_MAX;
        for (;;) {
            if (fd_ < 0)
                return kReceiveFailed;
            ssize_t n = ::recv(fd_, buffer, capacity, 0);
            if (n >= 0)
                return static_cast<long>(n);
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                return kReceiveFailed;
            int w = WaitFor(fd_, POLLIN, timeoutMs, start);
            if (w == 0)
                return kReceiveTimedOut;
            if (w < 0)
                return kReceiveFailed;
        }
    }

    void Close() override {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_ = -1;
};

std::mutex g_netMutex;
bool g_netStarted = false;

}  // namespace

std::unique_ptr<IStream> MakeSocketStream() {
    return std::make_unique<SocketStream>();
}

bool SplitHostPort(const std::string& text, std::uint16_t defaultPort, std::string& host,
                   std::uint16_t& port) {
    auto first = text.find_first_not_of(" \t");
    auto last = text.find_last_not_of(" \t");
    std::string t = first == std::string::npos ? "" : text.substr(first, last - first + 1);
    std::string portText;
    if (!t.empty() && t.front() == '[') {
        auto close = t.find(']');
        if (close == std::string::npos)
            return false;
        host = t.substr(1, close - 1);
        std::string rest = t.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':')
                return false;
            portText = rest.substr(1);
            if (portText.empty())
                return false;
        }
    } else {
        auto colon = t.find(':');
        if (colon != std::string::npos && t.find(':', colon + 1) == std::string::npos) {
            host = t.substr(0, colon);
            portText = t.substr(colon + 1);
            if (portText.empty())
                return false;
        } else {
            host = t;
        }
    }
    if (host.empty())
        return false;
    port = defaultPort;
    if (!portText.empty()) {
        if (portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos)
            return false;
        unsigned long v = std::stoul(portText);
        if (v == 0 || v > 65535)
            return false;
        port = static_cast<std::uint16_t>(v);
    }
    return true;
}

int NetStartup() {
    std::lock_guard<std::mutex> lock(g_netMutex);
    g_netStarted = true;
    return 0;
}

void NetCleanup() {
    std::lock_guard<std::mutex> lock(g_netMutex);
    g_netStarted = false;
}

bool NetStarted() {
    std::lock_guard<std::mutex> lock(g_netMutex);
    return g_netStarted;
}

bool GetLocalHostName(std::string& name) {
    char buf[256] = {};
    if (gethostname(buf, sizeof buf - 1) != 0)
        return false;
    name = buf;
    return !name.empty();
}

}  // namespace korrin::platform::net
