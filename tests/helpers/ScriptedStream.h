// An in-memory stream that plays a server from a script, for checking a client's dialogue byte
// for byte in both directions without a network.
//
// The script is a list of steps taken in order:
//   Expect(bytes)  the client must write exactly these bytes next (over any number of sends);
//   ExpectUntil(t) the client may write anything up to and including the text t (kept in
//                  captured(), t included), for a message body whose bytes the test checks apart;
//   Reply(bytes)   what the client receives next, handed out in pieces of at most the chunk
//                  size (SetChunkSize(1) splits every reply at every byte);
//   Reply({a, b})  one reply delivered as the given pieces, one per receive;
//   ServerCloses() the server closes: receives return 0, sends still succeed;
//   FailSend()     the next send fails;
//   Silence()      the next receive times out (at once: nothing waits in memory).
// Connect fails when RefuseConnect() was called. Whatever the client writes is kept; the first
// byte that departs from the script is recorded in Mismatch(), and the client then sees the
// stream closed. Done() tells whether every step was used.
//
// Shared between the test (which sets it up and reads it afterwards) and the client (which
// uses it through IStream) by a shared pointer; one thread at a time.
#pragma once

#include <deque>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "platform/net/Stream.h"

namespace korrin::platform::net {

class ScriptedStream : public IStream {
  public:
    ScriptedStream& Expect(std::string clientBytes);
    ScriptedStream& ExpectUntil(std::string terminator);
    ScriptedStream& Reply(std::string serverBytes);
    ScriptedStream& Reply(std::initializer_list<std::string> pieces);
    ScriptedStream& ServerCloses();
    ScriptedStream& FailSend();
    ScriptedStream& Silence();
    ScriptedStream& RefuseConnect(ConnectResult result = ConnectResult::kUnreachable);
    void SetChunkSize(std::size_t size) { chunk_ = size == 0 ? 1 : size; }

    ConnectResult Connect(const std::string& host, std::uint16_t port, int timeoutMs) override;
    SendResult SendAll(const char* data, std::size_t size, int timeoutMs) override;
    long ReceiveSome(char* buffer, std::size_t capacity, int timeoutMs) override;
    void Close() override;

    // What the client has written, all of it.
    const std::string& written() const { return written_; }
    // What ExpectUntil steps let through, all of it.
    const std::string& captured() const { return captured_; }
    // Empty while the client followed the script.
    const std::string& Mismatch() const { return mismatch_; }
    bool Done() const { return steps_.empty(); }
    bool closedByClient() const { return closedByClient_; }
    std::string connectedHost() const { return host_; }
    std::uint16_t connectedPort() const { return port_; }
    // The bound of every receive, in order, for checking per-step time limits.
    const std::vector<int>& receiveBounds() const { return receiveBounds_; }
    const std::vector<int>& sendBounds() const { return sendBounds_; }

  private:
    struct Step {
        enum Kind { kExpect, kExpectUntil, kReply, kClose, kFailSend, kSilence } kind;
        std::string bytes;
        std::size_t pos = 0;  // how much of bytes has been matched or handed out
        bool piece = false;   // one receive hands out the whole step
    };
    void fail(std::string why);

    std::deque<Step> steps_;
    std::string written_;
    std::string captured_;
    std::string mismatch_;
    std::string host_;
    std::uint16_t port_ = 0;
    std::size_t chunk_ = 1 << 20;
    bool refuse_ = false;
    ConnectResult refusal_ = ConnectResult::kUnreachable;
    bool connected_ = false;
    bool serverClosed_ = false;
    bool closedByClient_ = false;
    std::vector<int> receiveBounds_;
    std::vector<int> sendBounds_;
};

// A factory that hands out the given stream (once per call; the same object each time).
StreamFactory ScriptedFactory(std::shared_ptr<ScriptedStream> stream);

}  // namespace korrin::platform::net
