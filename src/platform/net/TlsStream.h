// TLS over a stream that is already connected (or connects first): the same IStream
// interface, with the bytes encrypted below it. Used from the start of a connection (implicit
// TLS) or after a plain-text dialogue has agreed to switch (STARTTLS).
//
// The server must present a certificate that chains to a trusted root (the system's store, or
// the PEM file given instead) and names the host we asked for; TLS 1.2 is the oldest version
// accepted. A stream belongs to one thread at a time.
#pragma once

#include <memory>
#include <string>

#include "platform/net/Stream.h"

namespace korrin::platform::net {

struct TlsOptions {
    // The name (or IPv4/IPv6 address) the certificate must carry; also sent as the server name
    // indication when it is a name.
    std::string host;
    // A PEM file of certificates to trust instead of the system's store; empty: the system's.
    std::string caFile;
};

enum class TlsResult {
    kOk = 0,
    kNotVerified,  // the certificate did not verify (chain, name, dates): see the reason
    kFailed,       // the handshake failed for another reason (protocol, closed, timed out)
};

class TlsStream : public IStream {
  public:
    TlsStream(std::unique_ptr<IStream> inner, TlsOptions options);
    ~TlsStream() override;
    TlsStream(const TlsStream&) = delete;
    TlsStream& operator=(const TlsStream&) = delete;

    // Connects the inner stream, then runs the handshake within the same bound. A handshake
    // that fails gives kUnreachable; Result() and Reason() tell why.
    ConnectResult Connect(const std::string& host, std::uint16_t port, int timeoutMs) override;
    // Runs the handshake over the inner stream, which must be connected.
    TlsResult Handshake(int timeoutMs);
    SendResult SendAll(const char* data, std::size_t size, int timeoutMs) override;
    long ReceiveSome(char* buffer, std::size_t capacity, int timeoutMs) override;
    void Close() override;

    TlsResult Result() const { return result_; }
    // Why the handshake failed, in words ("certificate has expired", "hostname mismatch").
    const std::string& Reason() const { return reason_; }
    // After a handshake: "TLSv1.3", and the cipher's name.
    std::string Version() const;
    std::string Cipher() const;

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
    TlsResult result_ = TlsResult::kFailed;
    std::string reason_;
};

// True when text is a literal IPv4 or IPv6 address rather than a name.
bool IsAddressLiteral(const std::string& text);

}  // namespace korrin::platform::net
