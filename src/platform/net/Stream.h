// A connected byte stream to a server: connect within a time bound, send everything, receive
// what has arrived, close. The mail client is written against this interface only, so the same
// dialogue runs over a real TCP socket or over a scripted stream in the tests.
//
// Every call takes its own time bound in milliseconds (a negative bound waits forever). A
// stream belongs to one thread at a time; it is not shared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace korrin::platform::net {

enum class ConnectResult {
    kOk = 0,
    kNoSocket,     // no socket could be made
    kUnreachable,  // the name did not resolve, or no address accepted the connection
    kTimedOut,     // no address answered within the bound
};

enum class SendResult { kOk = 0, kFailed, kTimedOut };

// ReceiveSome results below zero; zero means the peer closed the stream.
constexpr long kReceiveFailed = -1;
constexpr long kReceiveTimedOut = -2;

class IStream {
  public:
    virtual ~IStream() = default;

    // host is a name, a dotted IPv4 address or an IPv6 address (without brackets).
    virtual ConnectResult Connect(const std::string& host, std::uint16_t port, int timeoutMs) = 0;
    // Sends all size bytes or fails; a bound that runs out midway fails with kTimedOut.
    virtual SendResult SendAll(const char* data, std::size_t size, int timeoutMs) = 0;
    // Waits until at least one byte has arrived, then returns how many were stored (at most
    // capacity); 0 when the peer closed, kReceiveFailed or kReceiveTimedOut otherwise.
    virtual long ReceiveSome(char* buffer, std::size_t capacity, int timeoutMs) = 0;
    // Idempotent; the destructor closes too.
    virtual void Close() = 0;
};

using StreamFactory = std::function<std::unique_ptr<IStream>()>;

// A TCP stream over POSIX sockets (getaddrinfo: IPv4 and IPv6, every address of the name
// tried in turn within the one bound, the name's resolution included).
std::unique_ptr<IStream> MakeSocketStream();

// "host", "host:port", "[v6]:port", "[v6]" or a bare IPv6 address ("::1", which holds more
// than one colon and so never carries a port). Blanks around the text are ignored. False
// when the port is not a number from 1 to 65535 or the host is empty.
bool SplitHostPort(const std::string& text, std::uint16_t defaultPort, std::string& host,
                   std::uint16_t& port);

// The network layer is started by the first user that needs it and cleaned up by the last.
// On this system sockets need no start; the pair keeps the count so callers can pair them
// and tests can see that they do. Safe from any thread.
int NetStartup();  // 0 on success
void NetCleanup();
bool NetStarted();

// The local host name; false when it cannot be had.
bool GetLocalHostName(std::string& name);

}  // namespace korrin::platform::net
