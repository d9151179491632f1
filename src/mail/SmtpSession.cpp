#include "mail/SmtpSession.h"

#include <cstring>
#include <new>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <sys/socket.h>

#include "platform/Logging.h"
#include "platform/SocketConnect.h"
#include "platform/Tick.h"

namespace {

std::uint64_t Deadline(int timeoutMs)
{
    return GetTickCount64() + static_cast<std::uint64_t>(timeoutMs < 0 ? 0 : timeoutMs);
}

// The TLS layer talks to the socket through this BIO so that a write to a connection the
// server has dropped never raises SIGPIPE (the stock socket BIO uses write()).
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
            BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "zunaro smtp socket");
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

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Steps whose command text carries credentials: not written to the debug output.
bool IsSecretStep(SmtpStep step)
{
    return step == SmtpStep::AuthPlain || step == SmtpStep::UserName ||
           step == SmtpStep::Password || step == SmtpStep::DigestMd5;
}

} // namespace

struct CSmtpSession::Tls
{
    SSL_CTX* context = nullptr;
    SSL* connection = nullptr;
};

SmtpCommandTable SmtpCommandTable::Default()
{
    SmtpCommandTable t;
    const auto set = [&t](SmtpStep step, int sendS, int replyS, int expected, int error) {
        t.rows[static_cast<std::size_t>(step)] =
            SmtpCommand{sendS * 1000, replyS * 1000, expected, error};
    };
    set(SmtpStep::Greeting, 0, 300, 220, SmtpErrTimeout);
    set(SmtpStep::Ehlo, 300, 300, 250, SmtpErrEhlo);
    set(SmtpStep::AuthPlain, 300, 300, 235, SmtpErrAuthPlain);
    set(SmtpStep::AuthLogin, 300, 300, 334, SmtpErrAuthLogin);
    set(SmtpStep::AuthCramMd5, 300, 300, 334, SmtpErrAuthCramMd5);
    set(SmtpStep::DigestMd5, 300, 300, 334, SmtpErrAuthDigestMd5);
    set(SmtpStep::UserName, 300, 300, 334, SmtpErrAuthUserName);
    set(SmtpStep::Password, 300, 300, 235, SmtpErrAuthFinal);
    set(SmtpStep::MailFrom, 300, 300, 250, SmtpErrMailFrom);
    set(SmtpStep::RcptTo, 300, 300, 250, SmtpErrRcptTo);
    set(SmtpStep::Data, 300, 120, 354, SmtpErrData);
    set(SmtpStep::MessageData, 180, 0, 0, 0);
    set(SmtpStep::EndOfData, 180, 600, 250, SmtpErrEndOfData);
    set(SmtpStep::Quit, 300, 300, 221, SmtpErrQuit);
    set(SmtpStep::StartTls, 300, 300, 220, SmtpErrStartTls);
    return t;
}

SmtpCommandTable SmtpCommandTable::WithTimeouts(int ms) const
{
    SmtpCommandTable t = *this;
    for (auto& row : t.rows) {
        row.sendTimeoutMs = ms;
        row.replyTimeoutMs = ms;
    }
    t.connectTimeoutMs = ms;
    t.handshakeTimeoutMs = ms;
    return t;
}

CSmtpSession::CSmtpSession(const SmtpCommandTable& table) : m_table(table)
{
    if (WSAStartup() != 0) {
        throw ECSmtp(SmtpErrSocketStart);
    }
    m_socketStarted = true;
    if (!LocalHostName(&m_localHostName)) {
        WSACleanup();
        m_socketStarted = false;
        throw ECSmtp(SmtpErrHostName);
    }
    m_sendBuffer.reset(new (std::nothrow) char[kBufferSize]);
    m_receiveBuffer.reset(new (std::nothrow) char[kBufferSize]);
    if (!m_sendBuffer || !m_receiveBuffer) {
        WSACleanup();
        m_socketStarted = false;
        throw ECSmtp(SmtpErrBuffer);
    }
    m_sendBuffer[0] = '\0';
    m_receiveBuffer[0] = '\0';
}

CSmtpSession::~CSmtpSession()
{
    try {
        Disconnect();
    } catch (const ECSmtp&) {
        // A failing QUIT at destruction has nowhere to go; the socket is closed regardless.
    }
    ReleaseTls();
    if (m_socketStarted) {
        WSACleanup();
    }
}

void CSmtpSession::SetServer(const QByteArray& host, std::uint16_t port, bool authenticate)
{
    m_serverHost = host;
    m_serverPort = port;
    m_authRequested = authenticate;
}

bool CSmtpSession::IsTlsActive() const
{
    return m_tls && m_tls->connection;
}

bool CSmtpSession::Connect(const QByteArray& host, std::uint16_t port, int security,
                           bool authenticate, const std::optional<QByteArray>& login,
                           const std::optional<QByteArray>& password)
{
    try {
        const SOCKET s = CreateTcpSocket();
        if (s == INVALID_SOCKET) {
            throw ECSmtp(SmtpErrSocketCreate);
        }
        m_socket = s;
        SetNoDelay(s, true); // commands are small writes that wait on replies: no Nagle delay
        m_receiveLength = 0;
        m_receiveBuffer[0] = '\0';
        const std::uint16_t remotePort = port != 0 ? port : ServicePort("mail", 25);
        std::uint32_t address = 0;
        if (!ResolveIpv4(host, &address)) {
            CloseSocket();
            throw ECSmtp(SmtpErrResolve);
        }
        if (!SetNonBlocking(s, true)) {
            CloseSocket();
            throw ECSmtp(SmtpErrNonBlocking);
        }
        qCDebug(lcSmtp) << "connecting to" << host << remotePort;
        ConnectResult r = StartConnect(s, SockAddrIn{address, remotePort});
        if (r == ConnectResult::Failed) {
            CloseSocket();
            throw ECSmtp(SmtpErrConnect);
        }
        if (r == ConnectResult::Pending) {
            r = WaitConnected(s, m_table.connectTimeoutMs);
            if (r == ConnectResult::TimedOut) {
                CloseSocket();
                throw ECSmtp(SmtpErrConnectTimeout);
            }
            if (r != ConnectResult::Connected) {
                CloseSocket();
                throw ECSmtp(SmtpErrWait);
            }
        }
        m_connectHost = host;
        if (security != SecurityKeep) {
            m_security = security;
        }
        if (m_security == SecurityStartTls || m_security == SecurityImplicitTls) {
            InitTls();
            if (m_security == SecurityImplicitTls) {
                TlsHandshake();
            }
        }
        ReadReply(SmtpStep::Greeting);
        Hello();
        if (m_security == SecurityStartTls) {
            StartTls();
            Hello();
        }
        if (authenticate && IsKeywordOffered(LastReply(), "AUTH")) {
            Authenticate(login, password);
        }
    } catch (const ECSmtp& e) {
        qCDebug(lcSmtp) << "connect failed with" << e.Code();
        if (LastReply().startsWith("530")) {
            m_connected = false; // the server refuses to talk further: no QUIT
        }
        Disconnect();
        throw;
    }
    return true;
}

void CSmtpSession::Disconnect()
{
    if (m_connected) {
        try {
            Quit();
        } catch (const ECSmtp&) {
            m_connected = false;
            CloseSocket();
            throw;
        }
    }
    CloseSocket();
}

void CSmtpSession::CloseSocket()
{
    if (m_tls && m_tls->connection) {
        // close_notify goes out before the descriptor is closed: once closed, its number
        // may already belong to another connection of this process.
        SSL_shutdown(m_tls->connection);
        SSL_free(m_tls->connection);
        m_tls->connection = nullptr;
    }
    if (m_socket != INVALID_SOCKET) {
        closesocket(m_socket);
        m_socket = INVALID_SOCKET;
        qCDebug(lcSmtp) << "socket closed";
    }
}

void CSmtpSession::ReleaseTls()
{
    if (!m_tls) {
        return;
    }
    if (m_tls->connection) {
        SSL_free(m_tls->connection);
        m_tls->connection = nullptr;
    }
    if (m_tls->context) {
        SSL_CTX_free(m_tls->context);
        m_tls->context = nullptr;
    }
    m_tls.reset();
}

void CSmtpSession::InitTls()
{
    if (m_tls && m_tls->context) {
        return;
    }
    OPENSSL_init_ssl(0, nullptr);
    if (!m_tls) {
        m_tls = std::make_unique<Tls>();
    }
    m_tls->context = SSL_CTX_new(TLS_client_method());
    if (!m_tls->context) {
        throw ECSmtp(SmtpErrTls);
    }
    // A server that drops the connection without close_notify reads as closed (400).
    SSL_CTX_set_options(m_tls->context, SSL_OP_IGNORE_UNEXPECTED_EOF);
    if (m_verifyCertificate) {
        SSL_CTX_set_verify(m_tls->context, SSL_VERIFY_PEER, nullptr);
        SSL_CTX_set_default_verify_paths(m_tls->context);
        if (!m_caFile.isEmpty() &&
            SSL_CTX_load_verify_locations(m_tls->context, m_caFile.constData(), nullptr) != 1) {
            qCDebug(lcSmtp) << "CA file not readable:" << m_caFile;
            ERR_clear_error();
            throw ECSmtp(SmtpErrTls);
        }
    }
}

int CSmtpSession::WaitFor(int wanted, std::uint64_t deadline)
{
    const std::uint64_t now = GetTickCount64();
    const int left = now >= deadline ? 0 : static_cast<int>(deadline - now);
    const int ready = WaitSocket(m_socket, wanted, left);
    if (ready < 0) {
        throw ECSmtp(SmtpErrWait);
    }
    if (ready == 0) {
        throw ECSmtp(SmtpErrTimeout);
    }
    return ready;
}

void CSmtpSession::TlsHandshake()
{
    if (!m_tls || !m_tls->context) {
        throw ECSmtp(SmtpErrTls);
    }
    SSL* ssl = SSL_new(m_tls->context);
    BIO* bio = SocketBioMethod() ? BIO_new(SocketBioMethod()) : nullptr;
    if (!ssl || !bio) {
        SSL_free(ssl);
        BIO_free(bio);
        throw ECSmtp(SmtpErrTls);
    }
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<std::intptr_t>(m_socket)));
    BIO_set_init(bio, 1);
    SSL_set_bio(ssl, bio, bio);
    SSL_set_mode(ssl, SSL_MODE_AUTO_RETRY);
    m_tls->connection = ssl;
    if (m_verifyCertificate) {
        std::uint32_t ip = 0;
        if (ParseIpv4(QString::fromLatin1(m_connectHost), &ip) && !m_connectHost.isEmpty()) {
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), m_connectHost.constData());
        } else {
            SSL_set1_host(ssl, m_connectHost.constData());
        }
    }
    if (!m_connectHost.isEmpty()) {
        std::uint32_t ip = 0;
        if (!ParseIpv4(QString::fromLatin1(m_connectHost), &ip)) {
            SSL_set_tlsext_host_name(ssl, m_connectHost.constData());
        }
    }
    const std::uint64_t deadline = Deadline(m_table.handshakeTimeoutMs);
    for (;;) {
        ERR_clear_error();
        const int r = SSL_connect(ssl);
        if (r == 1) {
            break;
        }
        const int error = SSL_get_error(ssl, r);
        if (error == SSL_ERROR_WANT_READ) {
            WaitFor(SocketReadable, deadline);
        } else if (error == SSL_ERROR_WANT_WRITE) {
            WaitFor(SocketWritable, deadline);
        } else {
            qCDebug(lcSmtp) << "TLS handshake failed; verify result" << SSL_get_verify_result(ssl);
            ERR_clear_error();
            throw ECSmtp(SmtpErrTls);
        }
    }
    qCDebug(lcSmtp) << "TLS active:" << SSL_get_version(ssl);
}

void CSmtpSession::SetCommandText(const QByteArray& text)
{
    if (text.size() >= kBufferSize) {
        throw ECSmtp(SmtpErrCommandTooLong);
    }
    std::memcpy(m_sendBuffer.get(), text.constData(), static_cast<std::size_t>(text.size()));
    m_sendBuffer[text.size()] = '\0';
}

void CSmtpSession::Command(SmtpStep step, const QByteArray& text)
{
    SetCommandText(text);
    SendCommand(step);
}

void CSmtpSession::SendCommand(SmtpStep step)
{
    const std::size_t length = std::strlen(m_sendBuffer.get());
    SendBytes(step, m_sendBuffer.get(), length);
    if (IsSecretStep(step)) {
        qCDebug(lcSmtp).noquote() << "C: <credentials>";
    } else {
        qCDebug(lcSmtp).noquote() << "C:"
                                  << QByteArray(m_sendBuffer.get(), static_cast<qsizetype>(length));
    }
}

void CSmtpSession::SendData(SmtpStep step, const QByteArray& data)
{
    for (qsizetype at = 0; at < data.size(); at += kBufferSize - 1) {
        const qsizetype n = std::min<qsizetype>(kBufferSize - 1, data.size() - at);
        std::memcpy(m_sendBuffer.get(), data.constData() + at, static_cast<std::size_t>(n));
        m_sendBuffer[n] = '\0';
        SendBytes(step, m_sendBuffer.get(), static_cast<std::size_t>(n));
    }
}

void CSmtpSession::SendBytes(SmtpStep step, const char* data, std::size_t length)
{
    if (m_socket == INVALID_SOCKET) {
        throw ECSmtp(SmtpErrSend);
    }
    const std::uint64_t deadline = Deadline(Row(step).sendTimeoutMs);
    std::size_t sent = 0;
    if (!IsTlsActive()) {
        while (sent < length) {
            WaitFor(SocketWritable, deadline);
            const long n = Send(m_socket, data + sent, length - sent);
            if (n == SOCKET_ERROR && (errno == EWOULDBLOCK || errno == EINTR)) {
                continue;
            }
            if (n == SOCKET_ERROR || n == 0) {
                throw ECSmtp(SmtpErrSend);
            }
            sent += static_cast<std::size_t>(n);
        }
        return;
    }
    SSL* ssl = m_tls->connection;
    int wanted = SocketWritable;
    while (sent < length) {
        WaitFor(wanted, deadline);
        ERR_clear_error();
        const int n = SSL_write(ssl, data + sent,
                                static_cast<int>(std::min<std::size_t>(length - sent, 1 << 30)));
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            wanted = SocketWritable;
            continue;
        }
        const int error = SSL_get_error(ssl, n);
        if (error == SSL_ERROR_WANT_READ) {
            wanted = SocketWritable | SocketReadable;
        } else if (error == SSL_ERROR_WANT_WRITE) {
            wanted = SocketWritable;
        } else {
            ERR_clear_error();
            throw ECSmtp(SmtpErrTls);
        }
    }
}

std::size_t CSmtpSession::ReceiveChunk(std::uint64_t deadline)
{
    char* const end = m_receiveBuffer.get() + m_receiveLength;
    const std::size_t space = static_cast<std::size_t>(kBufferSize - 1 - m_receiveLength);
    if (space == 0) {
        throw ECSmtp(SmtpErrBuffer); // the reply does not fit ReceiveBuffer: refused
    }
    if (!IsTlsActive()) {
        for (;;) {
            WaitFor(SocketReadable, deadline);
            const long n = Recv(m_socket, end, space);
            if (n == SOCKET_ERROR && (errno == EWOULDBLOCK || errno == EINTR)) {
                continue;
            }
            if (n == SOCKET_ERROR) {
                throw ECSmtp(SmtpErrReceive);
            }
            if (n == 0) {
                throw ECSmtp(SmtpErrClosed);
            }
            return static_cast<std::size_t>(n);
        }
    }
    SSL* ssl = m_tls->connection;
    std::size_t total = 0;
    int wanted = SocketReadable;
    bool wait = SSL_pending(ssl) == 0;
    for (;;) {
        if (wait) {
            WaitFor(wanted, deadline);
        }
        ERR_clear_error();
        const int piece = static_cast<int>(std::min<std::size_t>(1024, space - total));
        const int n = SSL_read(ssl, end + total, piece);
        if (n > 0) {
            total += static_cast<std::size_t>(n);
            if (total == space || SSL_pending(ssl) == 0) {
                break;
            }
            wait = false;
            continue;
        }
        const int error = SSL_get_error(ssl, n);
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
            throw ECSmtp(SmtpErrTls);
        }
    }
    if (total == 0) {
        throw ECSmtp(SmtpErrClosed);
    }
    return total;
}

int CSmtpSession::ReadReply(SmtpStep step)
{
    const SmtpCommand& row = Row(step);
    const std::uint64_t deadline = Deadline(row.replyTimeoutMs);
    m_receiveLength = 0;
    m_receiveBuffer[0] = '\0';
    int scanned = 0; // start of the first line not yet looked at
    int code = -1;
    while (code < 0) {
        const std::size_t n = ReceiveChunk(deadline);
        m_receiveLength += static_cast<int>(n);
        m_receiveBuffer[m_receiveLength] = '\0';
        const char* text = m_receiveBuffer.get();
        for (int i = scanned; i + 1 < m_receiveLength && code < 0; ++i) {
            if (text[i] != '\r' || text[i + 1] != '\n') {
                continue;
            }
            const int lineLength = i + 2 - scanned;
            const char* line = text + scanned;
            if (lineLength >= 5 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]) &&
                (lineLength == 5 || line[3] == ' ')) {
                code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
            }
            scanned = i + 2;
            ++i;
        }
    }
    qCDebug(lcSmtp).noquote() << "S:" << LastReply();
    if (code != row.expectedCode) {
        throw ECSmtp(row.errorCode);
    }
    return code;
}

bool CSmtpSession::IsKeywordOffered(const QByteArray& text, const QByteArray& keyword)
{
    if (text.isEmpty() || keyword.isEmpty() || text.size() < keyword.size()) {
        return false;
    }
    const qsizetype k = keyword.size();
    for (qsizetype at = 1; at + k <= text.size(); ++at) {
        if (qstrnicmp(text.constData() + at, keyword.constData(), static_cast<uint>(k)) != 0) {
            continue;
        }
        const char before = text[at - 1];
        if (before != '-' && before != ' ' && before != '=') {
            continue;
        }
        const qsizetype after = at + k;
        if (after < text.size() && (text[after] == ' ' || text[after] == '=')) {
            return true;
        }
        if (after + 1 < text.size() && text[after] == '\r' && text[after + 1] == '\n') {
            return true;
        }
    }
    return false;
}

void CSmtpSession::Hello()
{
    Command(SmtpStep::Ehlo,
            "EHLO " + (m_localHostName.isEmpty() ? QByteArray("domain") : m_localHostName) +
                "\r\n");
    ReadReply(SmtpStep::Ehlo);
    m_connected = true;
}

void CSmtpSession::StartTls()
{
    if (!IsKeywordOffered(LastReply(), "STARTTLS")) {
        throw ECSmtp(SmtpErrStartTlsMissing);
    }
    Command(SmtpStep::StartTls, "STARTTLS\r\n");
    ReadReply(SmtpStep::StartTls);
    TlsHandshake();
}

void CSmtpSession::Quit()
{
    Command(SmtpStep::Quit, "QUIT\r\n");
    ReadReply(SmtpStep::Quit);
    m_connected = false;
}
