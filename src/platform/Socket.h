#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>

#include <QString>

// Windows Sockets names over POSIX sockets. A SOCKET is a file descriptor; the WSA error
// codes are their errno twins, so code written against the Winsock names compares errno
// values directly.

using SOCKET = int;
inline constexpr SOCKET INVALID_SOCKET = -1;
inline constexpr int SOCKET_ERROR = -1;

inline constexpr int WSAEINTR = EINTR;
inline constexpr int WSAEFAULT = EFAULT;
inline constexpr int WSAEINVAL = EINVAL;
inline constexpr int WSAENFILE = ENFILE; // system-wide descriptor table full
inline constexpr int WSAEMFILE = EMFILE;
inline constexpr int WSAEWOULDBLOCK = EWOULDBLOCK;
inline constexpr int WSAENOMEM = ENOMEM; // no Winsock twin; counts as WSAENOBUFS
inline constexpr int WSAENOTSOCK = ENOTSOCK;
inline constexpr int WSAEOPNOTSUPP = EOPNOTSUPP;
inline constexpr int WSAEADDRINUSE = EADDRINUSE;
inline constexpr int WSAENETDOWN = ENETDOWN;
inline constexpr int WSAECONNABORTED = ECONNABORTED;
inline constexpr int WSAECONNRESET = ECONNRESET;
inline constexpr int WSAENOBUFS = ENOBUFS;
inline constexpr int WSAEINPROGRESS = EINPROGRESS;
// WSANOTINITIALISED has no POSIX twin: the socket library needs no start here.

// An IPv4 address and port in host byte order.
struct SockAddrIn
{
    std::uint32_t address = 0; // 0 = every local interface
    std::uint16_t port = 0;
};

// Starts the socket library: a counted no-op on POSIX. Returns 0 (success), as WSAStartup.
int WSAStartup();
// Ends one WSAStartup. Returns 0.
int WSACleanup();
// Number of WSAStartup calls not yet matched by WSACleanup.
int WsaStartCount();

// Returns the error code of the last failed socket call on this thread (errno).
int WSAGetLastError();
// Returns the system's text for a socket error code.
QString SocketErrorText(int error);

// Parses a dotted IPv4 address ("127.0.0.1"; empty or "0.0.0.0" = every interface).
// Returns false when the text is not an IPv4 address.
bool ParseIpv4(const QString& text, std::uint32_t* address);
// Formats a host-order IPv4 address as dotted text.
QString FormatIpv4(std::uint32_t address);

// Creates an IPv4 TCP stream socket (close-on-exec). Returns INVALID_SOCKET on failure.
SOCKET CreateTcpSocket();
// Sets SO_LINGER off (Winsock's SO_DONTLINGER = true): close returns at once and the
// system finishes sending in the background. Returns false on failure.
bool SetDontLinger(SOCKET s);
// Sets TCP_NODELAY. Returns false on failure.
bool SetNoDelay(SOCKET s, bool on);
// Sets SO_KEEPALIVE. Returns false on failure.
bool SetKeepAlive(SOCKET s, bool on);
// Sets SO_REUSEADDR (lets a restarted listener bind while old connections linger).
bool SetReuseAddress(SOCKET s, bool on);
// Switches non-blocking mode (ioctlsocket FIONBIO). Returns false on failure.
bool SetNonBlocking(SOCKET s, bool on);
// Binds to the address. Returns SOCKET_ERROR on failure.
int Bind(SOCKET s, const SockAddrIn& local);
// Listens with the given backlog. Returns SOCKET_ERROR on failure.
int Listen(SOCKET s, int backlog);
// The longest listen backlog the system grants (net.core.somaxconn, else SOMAXCONN): a burst
// of connections waits there for accept instead of being dropped or reset.
int MaxListenBacklog();
// Accepts one waiting connection; the new socket is non-blocking and close-on-exec.
// Returns INVALID_SOCKET on failure (WSAEWOULDBLOCK when nothing waits).
SOCKET Accept(SOCKET s, SockAddrIn* peer);
// Returns the address the socket is bound to, or a zero address on failure.
SockAddrIn LocalAddress(SOCKET s);
// Connects a blocking socket. Returns SOCKET_ERROR on failure.
int Connect(SOCKET s, const SockAddrIn& remote);
// Receives up to len bytes. Returns the count, 0 when the peer closed, SOCKET_ERROR on
// failure. Never raises SIGPIPE.
long Recv(SOCKET s, void* buffer, std::size_t len);
// Sends up to len bytes. Returns the count or SOCKET_ERROR. Never raises SIGPIPE.
long Send(SOCKET s, const void* buffer, std::size_t len);
// Shuts down the sending direction (SD_SEND). Returns SOCKET_ERROR on failure.
int ShutdownSend(SOCKET s);
// Closes the socket. Returns SOCKET_ERROR on failure.
int closesocket(SOCKET s);
// Waits until the socket is readable or the time-out passes. Returns true when readable
// (or closed, or in error: a receive will not block).
bool WaitReadable(SOCKET s, int timeoutMs);
