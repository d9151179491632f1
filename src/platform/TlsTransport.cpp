#include "platform/TlsTransport.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <sys/socket.h>

#include "platform/Logging.h"

namespace {

// The TLS layer talks to the socket through this BIO so that a write to a connection the
// peer has dropped never raises SIGPIPE (the stock socket BIO uses write()).
int BioWrite(BIO* bio, const char* data, int length)
{
    BIO_clear_retry_flags(bio);
    const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(bio)));
    const ssize_t n = send(fd, data, static_cast<std::size_t>(length), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        BIO_set_retry_write(bio);
    }
    return static_cast<int>(n);
}

int BioRead(BIO* bio, char* data, int length)
{
    BIO_clear_retry_flags(bio);
    const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(bio)));
    const ssize_t n = recv(fd, data, static_cast<std::size_t>(length), MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        BIO_set_retry_read(bio);
    }
    return static_cast<int>(n);
}

long BioCtrl(BIO*, int command, long, void*)
{
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int BioPuts(BIO* bio, const char* text)
{
    return BioWrite(bio, text, static_cast<int>(std::strlen(text)));
}

const BIO_METHOD* SocketBioMethod()
{
    static BIO_METHOD* const method = [] {
        BIO_METHOD* m =
            BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "zunaro tls socket");
        if (m) {
            BIO_meth_set_write(m, BioWrite);
            BIO_meth_set_read(m, BioRead);
            BIO_meth_set_puts(m, BioPuts);
            BIO_meth_set_ctrl(m, BioCtrl);
        }
        return m;
    }();
    return method;
}

} // namespace

struct CTlsTransport::Impl
{
    ~Impl()
    {
        SSL_free(connection);
        SSL_CTX_free(context);
    }

    // Waits for the direction the last TLS call asked for. Ok, Stopped, TimedOut or
    // WaitFailed.
    NetResult Wait(int wanted, std::uint64_t deadline, const Event* stop) const
    {
        return WaitReady(socket, wanted, deadline, stop);
    }

    SSL_CTX* context = nullptr;
    SSL* connection = nullptr;
    SOCKET socket = INVALID_SOCKET;
    bool active = false;
};

CTlsTransport::CTlsTransport() : m_impl(std::make_unique<Impl>()) {}

CTlsTransport::~CTlsTransport() = default;

NetResult CTlsTransport::Handshake(SOCKET s, const TlsSettings& settings, std::uint64_t deadline,
                                   const Event* stop)
{
    OPENSSL_init_ssl(0, nullptr);
    Impl& t = *m_impl;
    t.socket = s;
    t.context = SSL_CTX_new(TLS_client_method());
    if (!t.context) {
        return NetResult::TlsFailed;
    }
    // A server that drops the connection without close_notify reads as closed.
    SSL_CTX_set_options(t.context, SSL_OP_IGNORE_UNEXPECTED_EOF);
    if (settings.verifyCertificate) {
        SSL_CTX_set_verify(t.context, SSL_VERIFY_PEER, nullptr);
        SSL_CTX_set_default_verify_paths(t.context);
        if (!settings.caFile.isEmpty() &&
            SSL_CTX_load_verify_locations(t.context, settings.caFile.constData(), nullptr) != 1) {
            qCDebug(lcSmtp) << "CA file not readable:" << settings.caFile;
            ERR_clear_error();
            return NetResult::TlsFailed;
        }
    }
    t.connection = SSL_new(t.context);
    BIO* bio = SocketBioMethod() ? BIO_new(SocketBioMethod()) : nullptr;
    if (!t.connection || !bio) {
        BIO_free(bio);
        return NetResult::TlsFailed;
    }
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<std::intptr_t>(s)));
    BIO_set_init(bio, 1);
    SSL_set_bio(t.connection, bio, bio);
    SSL_set_mode(t.connection, SSL_MODE_AUTO_RETRY);
    std::uint32_t ip = 0;
    const bool isAddress = ParseIpv4(QString::fromLatin1(settings.host), &ip);
    if (settings.verifyCertificate) {
        if (isAddress) {
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(t.connection), settings.host.constData());
        } else {
            SSL_set1_host(t.connection, settings.host.constData());
        }
    }
    if (!isAddress && !settings.host.isEmpty()) {
        SSL_set_tlsext_host_name(t.connection, settings.host.constData());
    }
    for (;;) {
        ERR_clear_error();
        const int r = SSL_connect(t.connection);
        if (r == 1) {
            break;
        }
        const int error = SSL_get_error(t.connection, r);
        NetResult waited = NetResult::TlsFailed;
        if (error == SSL_ERROR_WANT_READ) {
            waited = t.Wait(SocketReadable, deadline, stop);
        } else if (error == SSL_ERROR_WANT_WRITE) {
            waited = t.Wait(SocketWritable, deadline, stop);
        } else {
            qCDebug(lcSmtp) << "TLS handshake failed; verify result"
                            << SSL_get_verify_result(t.connection);
            ERR_clear_error();
        }
        if (waited != NetResult::Ok) {
            return waited;
        }
    }
    t.active = true;
    return NetResult::Ok;
}

NetResult CTlsTransport::Write(const char* data, std::size_t length, std::uint64_t deadline,
                               const Event* stop)
{
    Impl& t = *m_impl;
    if (!t.active) {
        return NetResult::TlsFailed;
    }
    std::size_t sent = 0;
    int wanted = SocketWritable;
    while (sent < length) {
        const NetResult waited = t.Wait(wanted, deadline, stop);
        if (waited != NetResult::Ok) {
            return waited;
        }
        ERR_clear_error();
        const int n = SSL_write(t.connection, data + sent,
                                static_cast<int>(std::min<std::size_t>(length - sent, 1 << 30)));
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            wanted = SocketWritable;
            continue;
        }
        const int error = SSL_get_error(t.connection, n);
        if (error == SSL_ERROR_WANT_READ) {
            wanted = SocketWritable | SocketReadable;
        } else if (error != SSL_ERROR_WANT_WRITE) {
            ERR_clear_error();
            return NetResult::TlsFailed;
        }
    }
    return NetResult::Ok;
}

NetResult CTlsTransport::Read(char* buffer, std::size_t capacity, std::uint64_t deadline,
                              const Event* stop, std::size_t* received)
{
    Impl& t = *m_impl;
    *received = 0;
    if (!t.active) {
        return NetResult::TlsFailed;
    }
    std::size_t total = 0;
    int wanted = SocketReadable;
    bool wait = SSL_pending(t.connection) == 0;
    while (total < capacity) {
        if (wait) {
            const NetResult waited = t.Wait(wanted, deadline, stop);
            if (waited != NetResult::Ok) {
                return waited;
            }
        }
        ERR_clear_error();
        const int piece = static_cast<int>(std::min<std::size_t>(1024, capacity - total));
        const int n = SSL_read(t.connection, buffer + total, piece);
        if (n > 0) {
            total += static_cast<std::size_t>(n);
            if (SSL_pending(t.connection) == 0) {
                break;
            }
            wait = false;
            continue;
        }
        const int error = SSL_get_error(t.connection, n);
        if (error == SSL_ERROR_ZERO_RETURN) {
            break;
        }
        if (error == SSL_ERROR_WANT_READ) {
            if (total > 0) {
                break;
            }
            wanted = SocketReadable;
            wait = true;
        } else if (error == SSL_ERROR_WANT_WRITE) {
            wanted = SocketReadable | SocketWritable;
            wait = true;
        } else {
            ERR_clear_error();
            return NetResult::TlsFailed;
        }
    }
    *received = total;
    return total == 0 ? NetResult::Closed : NetResult::Ok;
}

void CTlsTransport::Shutdown()
{
    Impl& t = *m_impl;
    if (t.connection) {
        if (t.active) {
            SSL_shutdown(t.connection);
        }
        SSL_free(t.connection);
        t.connection = nullptr;
    }
    t.active = false;
}

bool CTlsTransport::IsActive() const
{
    return m_impl->active;
}

QByteArray CTlsTransport::Version() const
{
    return m_impl->connection ? QByteArray(SSL_get_version(m_impl->connection)) : QByteArray();
}
