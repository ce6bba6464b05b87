#include "helpers/ScriptedStream.h"

#include <algorithm>
#include <cstring>

namespace korrin::platform::net {

namespace {

// Control characters shown readably in a mismatch text.
std::string Visible(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c < 32 || c >= 127) {
            static const char* hex = "0123456789ABCDEF";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else
            out += static_cast<char>(c);
    }
    return out;
}

}  // namespace

ScriptedStream& ScriptedStream::Expect(std::string clientBytes) {
    steps_.push_back({Step::kExpect, std::move(clientBytes)});
    return *this;
}

ScriptedStream& ScriptedStream::ExpectUntil(std::string terminator) {
    steps_.push_back({Step::kExpectUntil, std::move(terminator)});
    return *this;
}

ScriptedStream& ScriptedStream::Reply(std::string serverBytes) {
    steps_.push_back({Step::kReply, std::move(serverBytes)});
    return *this;
}

ScriptedStream& ScriptedStream::Reply(std::initializer_list<std::string> pieces) {
    for (const auto& p : pieces) {
        Step s{Step::kReply, p};
        s.piece = true;
        steps_.push_back(std::move(s));
    }
    return *this;
}

ScriptedStream& ScriptedStream::ServerCloses() {
    steps_.push_back({Step::kClose, {}});
    return *this;
}

ScriptedStream& ScriptedStream::FailSend() {
    steps_.push_back({Step::kFailSend, {}});
    return *this;
}

ScriptedStream& ScriptedStream::Silence() {
    steps_.push_back({Step::kSilence, {}});
    return *this;
}

ScriptedStream& ScriptedStream::RefuseConnect(ConnectResult result) {
    refuse_ = true;
    refusal_ = result;
    return *this;
}

void ScriptedStream::fail(std::string why) {
    if (mismatch_.empty())
        mismatch_ = std::move(why);
    serverClosed_ = true;
}

ConnectResult ScriptedStream::Connect(const std::string& host, std::uint16_t port, int) {
    host_ = host;
    port_ = port;
    if (refuse_)
        return refusal_;
    connected_ = true;
    closedByClient_ = false;
    return ConnectResult::kOk;
}

SendResult ScriptedStream::SendAll(const char* data, std::size_t size, int timeoutMs) {
    sendBounds_.push_back(timeoutMs);
    if (!connected_) {
        fail("send on a stream that is not connected");
        return SendResult::kFailed;
    }
    if (!steps_.empty() && steps_.front().kind == Step::kFailSend) {
        steps_.pop_front();
        return SendResult::kFailed;
    }
    std::string_view in(data, size);
    written_.append(in);
    if (serverClosed_)
        return SendResult::kOk;  // the bytes go nowhere, as on a socket the peer has closed
    while (!in.empty()) {
        if (!steps_.empty() && steps_.front().kind == Step::kExpectUntil) {
            Step& s = steps_.front();
            // Match the terminator across sends: look at the tail already captured as well.
            std::size_t before = captured_.size();
            captured_.append(in);
            std::size_t from = before >= s.bytes.size() ? before - s.bytes.size() + 1 : 0;
            auto at = captured_.find(s.bytes, from);
            if (at == std::string::npos)
                return SendResult::kOk;
            std::size_t used = at + s.bytes.size() - before;
            captured_.resize(at + s.bytes.size());
            in.remove_prefix(used);
            steps_.pop_front();
            continue;
        }
        if (steps_.empty() || steps_.front().kind != Step::kExpect) {
            fail("unexpected bytes from the client: \"" + Visible(std::string(in)) + "\"");
            return SendResult::kOk;
        }
        Step& s = steps_.front();
        std::size_t n = std::min(in.size(), s.bytes.size() - s.pos);
        if (in.substr(0, n) != std::string_view(s.bytes).substr(s.pos, n)) {
            fail("client wrote \"" + Visible(std::string(in.substr(0, n))) + "\" where \"" +
                 Visible(s.bytes.substr(s.pos, n)) + "\" was expected (after \"" +
                 Visible(s.bytes.substr(0, s.pos)) + "\")");
            return SendResult::kOk;
        }
        s.pos += n;
        in.remove_prefix(n);
        if (s.pos == s.bytes.size())
            steps_.pop_front();
    }
    return SendResult::kOk;
}

long ScriptedStream::ReceiveSome(char* buffer, std::size_t capacity, int timeoutMs) {
    receiveBounds_.push_back(timeoutMs);
    if (!connected_)
        return kReceiveFailed;
    if (serverClosed_)
        return 0;
    if (steps_.empty()) {
        fail("the client waits for a reply the script does not have");
        return 0;
    }
    Step& s = steps_.front();
    switch (s.kind) {
        case Step::kExpect:
        case Step::kExpectUntil:
            fail("the client reads before it has written \"" + Visible(s.bytes.substr(s.pos)) +
                 "\"");
            return 0;
        case Step::kClose:
            steps_.pop_front();
            serverClosed_ = true;
            return 0;
        case Step::kFailSend:
            return kReceiveFailed;
        case Step::kSilence:
            steps_.pop_front();
            return kReceiveTimedOut;
        case Step::kReply:
            break;
    }
    std::size_t n = std::min(capacity, s.bytes.size() - s.pos);
    if (!s.piece)
        n = std::min(n, chunk_);
    std::memcpy(buffer, s.bytes.data() + s.pos, n);
    s.pos += n;
    if (s.pos == s.bytes.size())
        steps_.pop_front();
    return static_cast<long>(n);
}

void ScriptedStream::Close() {
    if (connected_)
        closedByClient_ = true;
    connected_ = false;
}

StreamFactory ScriptedFactory(std::shared_ptr<ScriptedStream> stream) {
    // The client owns what the factory returns, so it gets a forwarding wrapper and the test
    // keeps the script.
    struct Forward : IStream {
        std::shared_ptr<ScriptedStream> s;
        explicit Forward(std::shared_ptr<ScriptedStream> s) : s(std::move(s)) {}
        ~Forward() override { s->Close(); }
        ConnectResult Connect(const std::string& h, std::uint16_t p, int t) override {
            return s->Connect(h, p, t);
        }
        SendResult SendAll(const char* d, std::size_t n, int t) override {
            return s->SendAll(d, n, t);
        }
        long ReceiveSome(char* b, std::size_t c, int t) override { return s->ReceiveSome(b, c, t); }
        void Close() override { s->Close(); }
    };
    return [stream] { return std::make_unique<Forward>(stream); };
}

}  // namespace korrin::platform::net
