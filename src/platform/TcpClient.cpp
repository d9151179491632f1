#include "platform/TcpClient.h"

#include <cerrno>

CTcpClient::CTcpClient(const Event* stop) : m_stop(stop) {}

CTcpClient::~CTcpClient()
{
    Close();
}

NetResult CTcpClient::Connect(const SockAddrIn& remote, int timeoutMs)
{
    Close();
    const SOCKET s = CreateTcpSocket();
    if (s == INVALID_SOCKET) {
        return NetResult::SocketFailed;
    }
    m_socket = s;
    SetNoDelay(s, true); // commands are small writes that wait on replies: no Nagle delay
    if (!SetNonBlocking(s, true)) {
        Close();
        return NetResult::NonBlockingFailed;
    }
    const ConnectResult started = StartConnect(s, remote);
    if (started == ConnectResult::Failed) {
        Close();
        return NetResult::ConnectFailed;
    }
    if (started == ConnectResult::Pending) {
        NetResult r = WaitReady(s, SocketWritable, DeadlineIn(timeoutMs), m_stop);
        if (r == NetResult::Ok && WaitConnected(s, 0) != ConnectResult::Connected) {
            r = NetResult::WaitFailed;
        }
        if (r != NetResult::Ok) {
            Close();
            return r;
        }
    }
    return NetResult::Ok;
}

NetResult CTcpClient::StartTls(const TlsSettings& settings, int timeoutMs)
{
    if (!IsOpen()) {
        return NetResult::TlsFailed;
    }
    m_tls = std::make_unique<CTlsTransport>();
    return m_tls->Handshake(m_socket, settings, DeadlineIn(timeoutMs), m_stop);
}

NetResult CTcpClient::Send(const char* data, std::size_t length, int timeoutMs)
{
    if (!IsOpen()) {
        return NetResult::SendFailed;
    }
    const std::uint64_t deadline = DeadlineIn(timeoutMs);
    if (IsTlsActive()) {
        return m_tls->Write(data, length, deadline, m_stop);
    }
    std::size_t sent = 0;
    while (sent < length) {
        const NetResult r = WaitReady(m_socket, SocketWritable, deadline, m_stop);
        if (r != NetResult::Ok) {
            return r;
        }
        const long n = ::Send(m_socket, data + sent, length - sent);
        if (n == SOCKET_ERROR && (errno == EWOULDBLOCK || errno == EINTR)) {
            continue;
        }
        if (n == SOCKET_ERROR || n == 0) {
            return NetResult::SendFailed;
        }
        sent += static_cast<std::size_t>(n);
    }
    return NetResult::Ok;
}

NetResult CTcpClient::Receive(char* buffer, std::size_t capacity, int timeoutMs,
                              std::size_t* received)
{
    *received = 0;
    if (!IsOpen()) {
        return NetResult::ReceiveFailed;
    }
    const std::uint64_t deadline = DeadlineIn(timeoutMs);
    if (IsTlsActive()) {
        return m_tls->Read(buffer, capacity, deadline, m_stop, received);
    }
    for (;;) {
        const NetResult r = WaitReady(m_socket, SocketReadable, deadline, m_stop);
        if (r != NetResult::Ok) {
            return r;
        }
        const long n = Recv(m_socket, buffer, capacity);
        if (n == SOCKET_ERROR && (errno == EWOULDBLOCK || errno == EINTR)) {
            continue;
        }
        if (n == SOCKET_ERROR) {
            return NetResult::ReceiveFailed;
        }
        if (n == 0) {
            return NetResult::Closed;
        }
        *received = static_cast<std::size_t>(n);
        return NetResult::Ok;
    }
}

void CTcpClient::Close()
{
    if (m_tls) {
        // close_notify goes out before the descriptor is closed: once closed, its number
        // may already belong to another connection of this process.
        m_tls->Shutdown();
        m_tls.reset();
    }
    if (m_socket != INVALID_SOCKET) {
        closesocket(m_socket);
        m_socket = INVALID_SOCKET;
    }
}

bool CTcpClient::Peer(SockAddrIn* peer) const
{
    return IsOpen() && PeerAddress(m_socket, peer);
}
