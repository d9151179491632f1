#include "platform/Socket.h"

#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::atomic<int> g_startCount{0};

sockaddr_in ToNative(const SockAddrIn& a)
{
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(a.address);
    sin.sin_port = htons(a.port);
    return sin;
}

SockAddrIn FromNative(const sockaddr_in& sin)
{
    return SockAddrIn{ntohl(sin.sin_addr.s_addr), ntohs(sin.sin_port)};
}

bool SetIntOption(SOCKET s, int level, int name, int value)
{
    return setsockopt(s, level, name, &value, sizeof value) == 0;
}

} // namespace

int WSAStartup()
{
    ++g_startCount;
    return 0;
}

int WSACleanup()
{
    int n = g_startCount.load();
    while (n > 0 && !g_startCount.compare_exchange_weak(n, n - 1)) {
    }
    return 0;
}

int WsaStartCount()
{
    return g_startCount.load();
}

int WSAGetLastError()
{
    return errno;
}

QString SocketErrorText(int error)
{
    char buffer[256];
    // The GNU strerror_r returns a pointer that may or may not be into buffer.
    const char* text = strerror_r(error, buffer, sizeof buffer);
    return QString::fromLocal8Bit(text);
}

bool ParseIpv4(const QString& text, std::uint32_t* address)
{
    const QString t = text.trimmed();
    if (t.isEmpty()) {
        *address = 0;
        return true;
    }
    in_addr a{};
    if (inet_pton(AF_INET, t.toLatin1().constData(), &a) != 1) {
        return false;
    }
    *address = ntohl(a.s_addr);
    return true;
}

QString FormatIpv4(std::uint32_t address)
{
    in_addr a{};
    a.s_addr = htonl(address);
    char buffer[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, buffer, sizeof buffer);
    return QString::fromLatin1(buffer);
}

SOCKET CreateTcpSocket()
{
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    return s < 0 ? INVALID_SOCKET : s;
}

bool SetDontLinger(SOCKET s)
{
    linger l{};
    l.l_onoff = 0;
    l.l_linger = 0;
    return setsockopt(s, SOL_SOCKET, SO_LINGER, &l, sizeof l) == 0;
}

bool SetNoDelay(SOCKET s, bool on)
{
    return SetIntOption(s, IPPROTO_TCP, TCP_NODELAY, on ? 1 : 0);
}

bool SetKeepAlive(SOCKET s, bool on)
{
    return SetIntOption(s, SOL_SOCKET, SO_KEEPALIVE, on ? 1 : 0);
}

bool SetReuseAddress(SOCKET s, bool on)
{
    return SetIntOption(s, SOL_SOCKET, SO_REUSEADDR, on ? 1 : 0);
}

bool SetNonBlocking(SOCKET s, bool on)
{
    const int flags = fcntl(s, F_GETFL, 0);
    if (flags < 0) {
        return false;
    }
    const int wanted = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return fcntl(s, F_SETFL, wanted) == 0;
}

int Bind(SOCKET s, const SockAddrIn& local)
{
    const sockaddr_in sin = ToNative(local);
    return bind(s, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) == 0 ? 0 : SOCKET_ERROR;
}

int Listen(SOCKET s, int backlog)
{
    return listen(s, backlog) == 0 ? 0 : SOCKET_ERROR;
}

int MaxListenBacklog()
{
    int backlog = SOMAXCONN;
    if (std::FILE* f = std::fopen("/proc/sys/net/core/somaxconn", "re")) {
        char text[32] = {};
        const std::size_t n = std::fread(text, 1, sizeof text - 1, f);
        std::fclose(f);
        int value = 0;
        const auto [end, ec] = std::from_chars(text, text + n, value);
        if (ec == std::errc() && end != text && value > 0) {
            backlog = value;
        }
    }
    return backlog;
}

SOCKET Accept(SOCKET s, SockAddrIn* peer)
{
    sockaddr_in sin{};
    socklen_t len = sizeof sin;
    const int c = accept4(s, reinterpret_cast<sockaddr*>(&sin), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (c < 0) {
        return INVALID_SOCKET;
    }
    if (peer) {
        *peer = FromNative(sin);
    }
    return c;
}

SockAddrIn LocalAddress(SOCKET s)
{
    sockaddr_in sin{};
    socklen_t len = sizeof sin;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&sin), &len) != 0) {
        return SockAddrIn{};
    }
    return FromNative(sin);
}

int Connect(SOCKET s, const SockAddrIn& remote)
{
    const sockaddr_in sin = ToNative(remote);
    int r;
    do {
        r = connect(s, reinterpret_cast<const sockaddr*>(&sin), sizeof sin);
    } while (r != 0 && errno == EINTR);
    return r == 0 ? 0 : SOCKET_ERROR;
}

long Recv(SOCKET s, void* buffer, std::size_t len)
{
    const ssize_t n = recv(s, buffer, len, MSG_NOSIGNAL);
    return n < 0 ? SOCKET_ERROR : static_cast<long>(n);
}

long Send(SOCKET s, const void* buffer, std::size_t len)
{
    const ssize_t n = send(s, buffer, len, MSG_NOSIGNAL);
    return n < 0 ? SOCKET_ERROR : static_cast<long>(n);
}

int ShutdownSend(SOCKET s)
{
    return shutdown(s, SHUT_WR) == 0 ? 0 : SOCKET_ERROR;
}

int closesocket(SOCKET s)
{
    return close(s) == 0 ? 0 : SOCKET_ERROR;
}

bool WaitReadable(SOCKET s, int timeoutMs)
{
    pollfd p{};
    p.fd = s;
    p.events = POLLIN;
    int r;
    do {
        r = poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    return r > 0;
}
