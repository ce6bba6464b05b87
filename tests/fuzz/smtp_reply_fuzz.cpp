// Server bytes read as SMTP replies: the first byte sets how the bytes are cut into receives;
// every reply read is complete, ends with CR LF, fits the 4,095-byte buffer, and the reading
// stops at the first failure.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "korrin/mail/mailutil.h"

using namespace korrin;
namespace net = korrin::platform::net;

namespace {

class Bytes : public net::IStream {
  public:
    Bytes(const std::uint8_t* d, std::size_t n, std::size_t cut) : data_(d), size_(n), cut_(cut) {}
    net::ConnectResult Connect(const std::string&, std::uint16_t, int) override {
        return net::ConnectResult::kOk;
    }
    net::SendResult SendAll(const char*, std::size_t, int) override { return net::SendResult::kOk; }
    long ReceiveSome(char* b, std::size_t cap, int) override {
        if (cap == 0 || cap > CSMTPEmail::kReplyBufferSize)
            std::abort();  // the reader must never offer more than its buffer holds
        std::size_t n = std::min({cap, cut_, size_ - at_});
        for (std::size_t i = 0; i < n; ++i)
            b[i] = static_cast<char>(data_[at_ + i]);
        at_ += n;
        return static_cast<long>(n);
    }
    void Close() override {}

  private:
    const std::uint8_t* data_;
    std::size_t size_, cut_, at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    Bytes s(data + 1, size - 1, data[0] % 17 + 1);
    std::vector<char> buffer;
    for (int i = 0; i < 64; ++i) {
        std::string reply;
        if (mail::ReadReply(s, buffer, 1000, reply) != 0)
            break;
        if (reply.size() < 2 || reply.size() >= CSMTPEmail::kReplyBufferSize ||
            reply.compare(reply.size() - 2, 2, "\r\n") != 0 || !mail::ReplyComplete(reply))
            std::abort();
        if (mail::ReplyAccepted(reply) != (reply[0] >= '1' && reply[0] <= '3'))
            std::abort();
    }
    return 0;
}
