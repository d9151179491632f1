#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/Socket.h"
#include "platform/SocketConnect.h"
#include "platform/TlsTransport.h"

class Event;

// One outgoing TCP connection, plain or TLS, whose every blocking step (connect, handshake,
// each send and receive) is bounded by its own time-out and ends soon after the stop event
// is set. One thread at a time.
class CTcpClient
{
public:
    // stop (may be null) is watched by every wait; it must outlive the client.
    explicit CTcpClient(const Event* stop = nullptr);
    // Close.
    ~CTcpClient();
    CTcpClient(const CTcpClient&) = delete;
    CTcpClient& operator=(const CTcpClient&) = delete;

    // Opens a non-blocking connection to remote. Returns Ok, SocketFailed,
    // NonBlockingFailed, ConnectFailed, Stopped, TimedOut or WaitFailed (refused,
    // unreachable); on failure nothing stays open.
    NetResult Connect(const SockAddrIn& remote, int timeoutMs);
    // Runs the TLS handshake on the open connection; afterwards Send and Receive go
    // through TLS. Returns Ok, Stopped, TimedOut, WaitFailed or TlsFailed.
    NetResult StartTls(const TlsSettings& settings, int timeoutMs);
    // Sends all of data. Returns Ok, SendFailed, Stopped, TimedOut, WaitFailed, TlsFailed.
    NetResult Send(const char* data, std::size_t length, int timeoutMs);
    // Receives what has arrived, at least one byte and at most capacity. Returns Ok with
    // the count in *received, Closed, ReceiveFailed, Stopped, TimedOut, WaitFailed or
    // TlsFailed.
    NetResult Receive(char* buffer, std::size_t capacity, int timeoutMs, std::size_t* received);
    // Ends TLS (close_notify, no wait) and closes the socket. Safe when nothing is open.
    void Close();

    bool IsOpen() const { return m_socket != INVALID_SOCKET; }
    bool IsTlsActive() const { return m_tls && m_tls->IsActive(); }
    QByteArray TlsVersion() const { return m_tls ? m_tls->Version() : QByteArray(); }
    // The address of the connected peer. False when none can be read.
    bool Peer(SockAddrIn* peer) const;

private:
    const Event* m_stop;
    SOCKET m_socket = INVALID_SOCKET;
    std::unique_ptr<CTlsTransport> m_tls;
};
