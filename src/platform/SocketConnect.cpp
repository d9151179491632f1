#include "platform/SocketConnect.h"

#include <cerrno>
#include <climits>
#include <cstring>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/Event.h"
#include "platform/Tick.h"

ConnectResult StartConnect(SOCKET s, const SockAddrIn& remote)
{
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(remote.address);
    sin.sin_port = htons(remote.port);
    if (connect(s, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) == 0) {
        return ConnectResult::Connected;
    }
    // EINTR leaves the attempt running in the background, as EINPROGRESS does.
    if (errno == EINPROGRESS || errno == EWOULDBLOCK || errno == EINTR) {
        return ConnectResult::Pending;
    }
    return ConnectResult::Failed;
}

ConnectResult WaitConnected(SOCKET s, int timeoutMs)
{
    const int ready = WaitSocket(s, SocketWritable, timeoutMs);
    if (ready < 0) {
        return ConnectResult::WaitFailed;
    }
    if (ready == 0) {
        return ConnectResult::TimedOut;
    }
    int error = 0;
    socklen_t len = sizeof error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &len) != 0) {
        return ConnectResult::WaitFailed;
    }
    if (error != 0) {
        errno = error;
        return ConnectResult::Refused;
    }
    return ConnectResult::Connected;
}

int WaitSocket(SOCKET s, int wanted, int timeoutMs)
{
    pollfd p{};
    p.fd = s;
    p.events = static_cast<short>(((wanted & SocketReadable) ? POLLIN : 0) |
                                  ((wanted & SocketWritable) ? POLLOUT : 0));
    const std::uint64_t deadline =
        timeoutMs < 0 ? 0 : GetTickCount64() + static_cast<unsigned>(timeoutMs);
    for (;;) {
        int wait = -1;
        if (timeoutMs >= 0) {
            const std::uint64_t now = GetTickCount64();
            wait = now >= deadline ? 0 : static_cast<int>(deadline - now);
        }
        const int r = poll(&p, 1, wait);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r < 0) {
            return -1;
        }
        if (r == 0) {
            return 0;
        }
        if (p.revents & POLLNVAL) {
            errno = EBADF;
            return -1;
        }
        int ready = 0;
        if (p.revents & (POLLERR | POLLHUP)) {
            ready = wanted;
        }
        if (p.revents & POLLIN) {
            ready |= SocketReadable;
        }
        if (p.revents & POLLOUT) {
            ready |= SocketWritable;
        }
        return ready & wanted ? ready & wanted : wanted;
    }
}

bool ResolveIpv4(const QByteArray& host, std::uint32_t* address)
{
    if (host.isEmpty() || host.contains('\0')) {
        return false;
    }
    in_addr a{};
    if (inet_pton(AF_INET, host.constData(), &a) == 1) {
        *address = ntohl(a.s_addr);
        return true;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (getaddrinfo(host.constData(), nullptr, &hints, &result) != 0 || !result) {
        return false;
    }
    const auto* sin = reinterpret_cast<const sockaddr_in*>(result->ai_addr);
    *address = ntohl(sin->sin_addr.s_addr);
    freeaddrinfo(result);
    return true;
}

std::uint16_t ServicePort(const char* name, std::uint16_t fallback)
{
    servent entry{};
    servent* found = nullptr;
    char buffer[1024];
    if (getservbyname_r(name, "tcp", &entry, buffer, sizeof buffer, &found) != 0 || !found) {
        return fallback;
    }
    return ntohs(static_cast<std::uint16_t>(found->s_port));
}

bool PeerAddress(SOCKET s, SockAddrIn* peer)
{
    sockaddr_in sin{};
    socklen_t len = sizeof sin;
    if (getpeername(s, reinterpret_cast<sockaddr*>(&sin), &len) != 0 || sin.sin_family != AF_INET) {
        return false;
    }
    peer->address = ntohl(sin.sin_addr.s_addr);
    peer->port = ntohs(sin.sin_port);
    return true;
}

bool LocalHostName(QByteArray* name)
{
    char buffer[256] = {};
    if (gethostname(buffer, sizeof buffer - 1) != 0) {
        return false;
    }
    *name = QByteArray(buffer);
    return true;
}

std::uint64_t DeadlineIn(int timeoutMs)
{
    return GetTickCount64() + static_cast<std::uint64_t>(timeoutMs < 0 ? 0 : timeoutMs);
}

NetResult WaitReady(SOCKET s, int wanted, std::uint64_t deadline, const Event* stop, int* ready)
{
    for (;;) {
        if (stop && stop->IsSet()) {
            return NetResult::Stopped;
        }
        const std::uint64_t now = GetTickCount64();
        const std::uint64_t left = now >= deadline ? 0 : deadline - now;
        const int slice = stop && left > kStopCheckMs ? kStopCheckMs : static_cast<int>(left);
        const int r = WaitSocket(s, wanted, slice);
        if (r < 0) {
            return NetResult::WaitFailed;
        }
        if (r > 0) {
            if (ready) {
                *ready = r;
            }
            return NetResult::Ok;
        }
        if (slice == static_cast<int>(left)) {
            return NetResult::TimedOut;
        }
    }
}
