// TLS through OpenSSL over any IStream. OpenSSL reads and writes through a BIO of our own
// that calls the inner stream, so the inner stream's time bounds hold inside the handshake and
// every record too: each call of ours sets the bound, and the BIO spends what is left of it.
#include "platform/net/TlsStream.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <chrono>
#include <climits>

namespace korrin::platform::net {

namespace {

using Clock = std::chrono::steady_clock;

// How long a close may spend telling the server that we are done.
constexpr int kCloseNotifyMs = 1000;

}  // namespace

struct TlsStream::Impl {
    std::unique_ptr<IStream> inner;
    TlsOptions options;
    SSL_CTX* ctx = nullptr;
    SSL* ssl = nullptr;
    bool ready = false;  // the handshake succeeded and nothing has failed since

    // The bound of the call in progress, and what happened below OpenSSL during it.
    Clock::time_point start;
    int timeoutMs = -1;
    bool timedOut = false;
    bool peerClosed = false;

    void begin(int bound) {
        start = Clock::now();
        timeoutMs = bound;
        timedOut = false;
        peerClosed = false;
        ERR_clear_error();
    }
    int left() const {
        if (timeoutMs < 0)
            return -1;
        auto spent =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        return spent >= timeoutMs ? 0 : static_cast<int>(timeoutMs - spent);
    }
    void release() {
        if (ssl)
            SSL_free(ssl);  // frees the BIO with it
        if (ctx)
            SSL_CTX_free(ctx);
        ssl = nullptr;
        ctx = nullptr;
        ready = false;
    }

    static int bioWrite(BIO* b, const char* data, int len);
    static int bioRead(BIO* b, char* data, int len);
    static long bioCtrl(BIO* b, int cmd, long num, void* ptr);
    static int bioCreate(BIO* b);
    static BIO_METHOD* method();
};

int TlsStream::Impl::bioWrite(BIO* b, const char* data, int len) {
    auto* self = static_cast<Impl*>(BIO_get_data(b));
    BIO_clear_retry_flags(b);
    if (len <= 0)
        return 0;
    SendResult r = self->inner->SendAll(data, static_cast<std::size_t>(len), self->left());
    if (r == SendResult::kOk)
        return len;
    self->timedOut = r == SendResult::kTimedOut;
    return -1;
}

int TlsStream::Impl::bioRead(BIO* b, char* data, int len) {
    auto* self = static_cast<Impl*>(BIO_get_data(b));
    BIO_clear_retry_flags(b);
    if (len <= 0)
        return 0;
    long n = self->inner->ReceiveSome(data, static_cast<std::size_t>(len), self->left());
    if (n > 0)
        return static_cast<int>(n);
    if (n == 0)
        self->peerClosed = true;
    else
        self->timedOut = n == kReceiveTimedOut;
    return n == 0 ? 0 : -1;
}

long TlsStream::Impl::bioCtrl(BIO*, int cmd, long, void*) {
    // Writes go straight through, so a flush has nothing left to do.
    return cmd == BIO_CTRL_FLUSH ? 1 : 0;
}

int TlsStream::Impl::bioCreate(BIO* b) {
    BIO_set_init(b, 1);
    return 1;
}

BIO_METHOD* TlsStream::Impl::method() {
    static BIO_METHOD* m = [] {
        BIO_METHOD* made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "korrin");
        if (made) {
            BIO_meth_set_write(made, &Impl::bioWrite);
            BIO_meth_set_read(made, &Impl::bioRead);
            BIO_meth_set_ctrl(made, &Impl::bioCtrl);
            BIO_meth_set_create(made, &Impl::bioCreate);
        }
        return made;
    }();
    return m;
}

bool IsAddressLiteral(const std::string& text) {
    unsigned char buf[16];
    return inet_pton(AF_INET, text.c_str(), buf) == 1 ||
           inet_pton(AF_INET6, text.c_str(), buf) == 1;
}

TlsStream::TlsStream(std::unique_ptr<IStream> inner, TlsOptions options)
    : impl_(std::make_unique<Impl>()) {
    impl_->inner = std::move(inner);
    impl_->options = std::move(options);
}

TlsStream::~TlsStream() {
    Close();
}

ConnectResult TlsStream::Connect(const std::string& host, std::uint16_t port, int timeoutMs) {
    Close();
    if (!impl_->inner)
        return ConnectResult::kNoSocket;
    auto start = Clock::now();
    ConnectResult r = impl_->inner->Connect(host, port, timeoutMs);
    if (r != ConnectResult::kOk)
        return r;
    int left = timeoutMs;
    if (timeoutMs >= 0) {
        auto spent =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        left = spent >= timeoutMs ? 0 : static_cast<int>(timeoutMs - spent);
    }
    if (Handshake(left) == TlsResult::kOk)
        return ConnectResult::kOk;
    return impl_->timedOut ? ConnectResult::kTimedOut : ConnectResult::kUnreachable;
}

TlsResult TlsStream::Handshake(int timeoutMs) {
    Impl& m = *impl_;
    m.release();
    result_ = TlsResult::kFailed;
    reason_.clear();
    auto fail = [&](TlsResult r, std::string why) {
        result_ = r;
        reason_ = std::move(why);
        m.release();
        return r;
    };
    if (!m.inner)
        return fail(TlsResult::kFailed, "there is no connection");
    if (m.options.host.empty())
        return fail(TlsResult::kNotVerified, "there is no host name to check the certificate for");
    BIO_METHOD* method = Impl::method();
    m.ctx = SSL_CTX_new(TLS_client_method());
    if (!method || !m.ctx)
        return fail(TlsResult::kFailed, "TLS cannot be set up");
    SSL_CTX_set_min_proto_version(m.ctx, TLS1_2_VERSION);
    SSL_CTX_set_verify(m.ctx, SSL_VERIFY_PEER, nullptr);
    if (m.options.caFile.empty()) {
        if (SSL_CTX_set_default_verify_paths(m.ctx) != 1)
            return fail(TlsResult::kNotVerified,
                        "the system's trusted certificates cannot be read");
    } else if (SSL_CTX_load_verify_locations(m.ctx, m.options.caFile.c_str(), nullptr) != 1) {
        return fail(TlsResult::kNotVerified,
                    "the trusted certificates in " + m.options.caFile + " cannot be read");
    }
    m.ssl = SSL_new(m.ctx);
    BIO* bio = m.ssl ? BIO_new(method) : nullptr;
    if (!bio)
        return fail(TlsResult::kFailed, "TLS cannot be set up");
    BIO_set_data(bio, &m);
    SSL_set_bio(m.ssl, bio, bio);
    const std::string& host = m.options.host;
    X509_VERIFY_PARAM* param = SSL_get0_param(m.ssl);
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    bool named = IsAddressLiteral(host) ? X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) == 1
                                        : SSL_set1_host(m.ssl, host.c_str()) == 1 &&
                                              SSL_set_tlsext_host_name(m.ssl, host.c_str()) == 1;
    if (!named)
        return fail(TlsResult::kNotVerified, "the host name " + host + " cannot be checked");

    m.begin(timeoutMs);
    if (SSL_connect(m.ssl) == 1) {
        m.ready = true;
        result_ = TlsResult::kOk;
        return result_;
    }
    long verify = SSL_get_verify_result(m.ssl);
    if (verify != X509_V_OK)
        return fail(TlsResult::kNotVerified, X509_verify_cert_error_string(verify));
    if (m.timedOut)
        return fail(TlsResult::kFailed, "the server did not answer in time");
    if (m.peerClosed)
        return fail(TlsResult::kFailed, "the server closed the connection");
    unsigned long e = ERR_peek_last_error();
    const char* why = e ? ERR_reason_error_string(e) : nullptr;
    return fail(TlsResult::kFailed, why ? why : "the handshake failed");
}

SendResult TlsStream::SendAll(const char* data, std::size_t size, int timeoutMs) {
    Impl& m = *impl_;
    if (!m.ready)
        return SendResult::kFailed;
    m.begin(timeoutMs);
    while (size > 0) {
        std::size_t written = 0;
        if (SSL_write_ex(m.ssl, data, size, &written) != 1) {
            m.ready = false;
            return m.timedOut ? SendResult::kTimedOut : SendResult::kFailed;
        }
        data += written;
        size -= written;
    }
    return SendResult::kOk;
}

long TlsStream::ReceiveSome(char* buffer, std::size_t capacity, int timeoutMs) {
    Impl& m = *impl_;
    if (!m.ready)
        return kReceiveFailed;
    if (capacity == 0)
        return 0;
    if (capacity > static_cast<std::size_t>(LONG_MAX))
        capacity = LONG_MAX;
    m.begin(timeoutMs);
    std::size_t n = 0;
    if (SSL_read_ex(m.ssl, buffer, capacity, &n) == 1)
        return static_cast<long>(n);
    int err = SSL_get_error(m.ssl, 0);
    m.ready = false;
    // A server that closes without telling TLS first has closed all the same.
    if (err == SSL_ERROR_ZERO_RETURN || m.peerClosed)
        return 0;
    return m.timedOut ? kReceiveTimedOut : kReceiveFailed;
}

void TlsStream::Close() {
    Impl& m = *impl_;
    if (m.ready) {
        m.begin(kCloseNotifyMs);
        SSL_shutdown(m.ssl);  // our close_notify only; the server's answer is not awaited
    }
    m.release();
    if (m.inner)
        m.inner->Close();
}

std::string TlsStream::Version() const {
    return impl_->ssl ? SSL_get_version(impl_->ssl) : "";
}

std::string TlsStream::Cipher() const {
    const char* c = impl_->ssl ? SSL_get_cipher_name(impl_->ssl) : nullptr;
    return c ? c : "";
}

}  // namespace korrin::platform::net
