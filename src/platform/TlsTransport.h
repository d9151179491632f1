#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include <QByteArray>

#include "platform/Socket.h"
#include "platform/SocketConnect.h"

class Event;

// What a TLS client checks of its server.
struct TlsSettings
{
    bool verifyCertificate = true; // against the system trust store and the host name
    QByteArray caFile;             // extra trusted certificates (PEM); empty: none
    QByteArray host;               // the name or IPv4 address connected to (SNI and check)
};

// The TLS client side of one connected, non-blocking socket. Every wait is bounded by a
// deadline and watches a stop event. The socket stays the caller's.
class CTlsTransport
{
public:
    CTlsTransport();
    // Frees the TLS connection without a close_notify.
    ~CTlsTransport();
    CTlsTransport(const CTlsTransport&) = delete;
    CTlsTransport& operator=(const CTlsTransport&) = delete;

    // Makes the context and runs the handshake on s. Returns Ok, Stopped, TimedOut,
    // WaitFailed or TlsFailed (no context, unreadable CA file, refused certificate, ...).
    NetResult Handshake(SOCKET s, const TlsSettings& settings, std::uint64_t deadline,
                        const Event* stop);
    // Writes all of data. Returns Ok, Stopped, TimedOut, WaitFailed or TlsFailed.
    NetResult Write(const char* data, std::size_t length, std::uint64_t deadline,
                    const Event* stop);
    // Reads what has arrived (at least one byte, at most capacity) into buffer. Returns Ok
    // with the count in *received, Closed, Stopped, TimedOut, WaitFailed or TlsFailed.
    NetResult Read(char* buffer, std::size_t capacity, std::uint64_t deadline, const Event* stop,
                   std::size_t* received);
    // Sends close_notify (without waiting) and frees the connection; the context stays.
    void Shutdown();
    // True between a successful handshake and Shutdown.
    bool IsActive() const;
    // The negotiated protocol version ("TLSv1.3"), empty when none.
    QByteArray Version() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
