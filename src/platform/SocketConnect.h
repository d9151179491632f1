#pragma once

#include <cstdint>

#include <QByteArray>

#include "platform/Socket.h"

class Event;

// Socket helpers for clients that bound every wait: a non-blocking connect, a poll-based
// wait for readiness, name resolution and the peer address.

// Outcome of StartConnect and WaitConnected.
enum class ConnectResult
{
    Connected,  // the connection is established
    Pending,    // StartConnect: the attempt continues in the background
    Failed,     // the attempt failed at once (WSAGetLastError tells why)
    WaitFailed, // the wait itself failed
    TimedOut,   // not established within the time-out
    Refused     // the pending attempt ended in an error (refused, unreachable, ...)
};

// Starts connecting a non-blocking socket. Returns Connected, Pending or Failed.
ConnectResult StartConnect(SOCKET s, const SockAddrIn& remote);
// Waits up to timeoutMs for a pending connect to finish. Returns Connected, WaitFailed,
// TimedOut or Refused.
ConnectResult WaitConnected(SOCKET s, int timeoutMs);

// Readiness bits of WaitSocket.
enum SocketReady : int
{
    SocketReadable = 1,
    SocketWritable = 2
};
// Waits up to timeoutMs (negative = no limit) until the socket is ready for one of the
// wanted directions (SocketReadable | SocketWritable). Returns the ready bits (an error or
// hang-up counts as every wanted direction, so the next call reports it), 0 on time-out,
// -1 when the wait fails.
int WaitSocket(SOCKET s, int wanted, int timeoutMs);

// Resolves a dotted IPv4 address or a host name to its first IPv4 address (host order).
// Returns false when the name cannot be resolved.
bool ResolveIpv4(const QByteArray& host, std::uint32_t* address);
// Returns the port of a TCP service of the services database ("mail"), or fallback.
std::uint16_t ServicePort(const char* name, std::uint16_t fallback);
// Returns the address of the connected peer. False when it cannot be read.
bool PeerAddress(SOCKET s, SockAddrIn* peer);
// Returns this machine's host name. False when it cannot be read.
bool LocalHostName(QByteArray* name);

// Outcome of a bounded, stoppable transport step.
enum class NetResult
{
    Ok,
    Stopped,           // the stop event was set
    TimedOut,          // the step's time-out passed
    WaitFailed,        // the readiness wait failed, or the pending connect ended in an error
    SocketFailed,      // no socket could be created
    NonBlockingFailed, // the socket could not be made non-blocking
    ConnectFailed,     // the connection attempt failed at once
    SendFailed,        // a plain send failed or sent nothing
    ReceiveFailed,     // a plain receive failed
    Closed,            // the peer closed the connection
    TlsFailed          // a TLS context, handshake, read or write failed
};

// How often a stoppable wait looks at its stop event.
constexpr int kStopCheckMs = 20;

// Waits until the socket is ready for one of the wanted directions, deadline (a
// GetTickCount64 value) passes or stop (may be null) is set, looking at stop every
// kStopCheckMs. Returns Ok (the ready bits in *ready when given), Stopped, TimedOut or
// WaitFailed.
NetResult WaitReady(SOCKET s, int wanted, std::uint64_t deadline, const Event* stop,
                    int* ready = nullptr);
// A deadline timeoutMs from now (negative counts as 0).
std::uint64_t DeadlineIn(int timeoutMs);
