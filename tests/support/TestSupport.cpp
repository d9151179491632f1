#include "support/TestSupport.h"

#include <algorithm>
#include <csignal>
#include <cstddef>
#include <thread>

#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QFile>

#include <gtest/gtest.h>

#include "eventlog/EventSink.h"
#include "eventlog/LocaleTime.h"
#include "eventlog/TextFile.h"
#include "platform/Tick.h"

QStringList ReadTextLines(const QString& path, int codePage)
{
    CTextFile in;
    in.SetCodePage(codePage);
    QStringList lines;
    QString line;
    if (in.Open(path, CTextFile::modeRead | CTextFile::typeText)) {
        while (in.ReadString(line)) {
            lines << line;
        }
    }
    return lines;
}

void WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size());
}

QByteArray ReadBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

FileSizeLimit::FileSizeLimit(rlim_t limit)
{
    std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &m_old);
    rlimit l = m_old;
    l.rlim_cur = limit;
    setrlimit(RLIMIT_FSIZE, &l);
}

void UseGermanDates()
{
    LocaleSettings s;
    s.dateOrder = 1;
    s.clock = 1;
    s.hourLeadingZero = 1;
    s.dateSeparator = u'.';
    s.shortDate = QStringLiteral("dd.MM.yyyy");
    CLocaleTime::SetSettings(s);
}

DescriptorExhaustion::DescriptorExhaustion()
{
    getrlimit(RLIMIT_NOFILE, &m_old);
    rlimit low = m_old;
    low.rlim_cur = 256;
    setrlimit(RLIMIT_NOFILE, &low);
    const int base = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (base >= 0) {
        m_fillers.push_back(base);
        for (int fd; (fd = fcntl(base, F_DUPFD_CLOEXEC, 0)) >= 0;) {
            m_fillers.push_back(fd);
        }
    }
}

void DescriptorExhaustion::End()
{
    for (int fd : m_fillers) {
        close(fd);
    }
    m_fillers.clear();
    setrlimit(RLIMIT_NOFILE, &m_old);
}

bool WaitUntil(const std::function<bool()>& cond, int timeoutMs)
{
    const std::uint64_t end = GetTickCount64() + static_cast<std::uint64_t>(timeoutMs);
    while (!cond()) {
        if (GetTickCount64() >= end) {
            return cond();
        }
        SleepMs(5);
    }
    return true;
}

std::uint16_t FreePort()
{
    const SOCKET s = CreateTcpSocket();
    SetReuseAddress(s, true);
    Bind(s, SockAddrIn{0x7F000001, 0});
    const std::uint16_t port = LocalAddress(s).port;
    closesocket(s);
    return port;
}

SOCKET ConnectLoopback(std::uint16_t port)
{
    SOCKET s = CreateTcpSocket();
    if (s != INVALID_SOCKET && Connect(s, SockAddrIn{0x7F000001, port}) == SOCKET_ERROR) {
        closesocket(s);
        s = INVALID_SOCKET;
    }
    return s;
}

bool SendAll(SOCKET s, const QByteArray& data)
{
    qsizetype sent = 0;
    while (sent < data.size()) {
        const long n =
            Send(s, data.constData() + sent, static_cast<std::size_t>(data.size() - sent));
        if (n <= 0) {
            return false;
        }
        sent += n;
    }
    return true;
}

bool SendJob(std::uint16_t port, const QByteArray& data)
{
    const SOCKET s = ConnectLoopback(port);
    const bool ok = s != INVALID_SOCKET && SendAll(s, data);
    CloseAll({s});
    return ok;
}

std::vector<SOCKET> ConnectBurst(std::uint16_t port, int n, int timeoutMs)
{
    std::vector<SOCKET> sockets;
    for (int i = 0; i < n; ++i) {
        SOCKET s = CreateTcpSocket();
        if (s != INVALID_SOCKET && SetNonBlocking(s, true) &&
            Connect(s, SockAddrIn{0x7F000001, port}) == SOCKET_ERROR &&
            WSAGetLastError() != WSAEINPROGRESS) {
            closesocket(s);
            s = INVALID_SOCKET;
        }
        sockets.push_back(s);
    }
    const std::uint64_t end = GetTickCount64() + static_cast<std::uint64_t>(timeoutMs);
    for (SOCKET& s : sockets) {
        if (s == INVALID_SOCKET) {
            continue;
        }
        pollfd p{s, POLLOUT, 0};
        const std::uint64_t now = GetTickCount64();
        int error = 0;
        socklen_t len = sizeof error;
        if (poll(&p, 1, now >= end ? 0 : static_cast<int>(end - now)) != 1 ||
            getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0 ||
            !SetNonBlocking(s, false)) {
            closesocket(s);
            s = INVALID_SOCKET;
        }
    }
    return sockets;
}

std::vector<QByteArray> BurstJobs(int n)
{
    std::vector<QByteArray> jobs;
    for (int i = 0; i < n; ++i) {
        jobs.push_back("job " + QByteArray::number(1000 + i));
    }
    return jobs;
}

std::vector<SOCKET> SendBurst(std::uint16_t port, int n, bool endJobs)
{
    std::vector<SOCKET> sockets = ConnectBurst(port, n);
    const std::vector<QByteArray> jobs = BurstJobs(n);
    for (int i = 0; i < n; ++i) {
        SOCKET& s = sockets[static_cast<std::size_t>(i)];
        if (s != INVALID_SOCKET && !SendAll(s, jobs[static_cast<std::size_t>(i)])) {
            closesocket(s);
            s = INVALID_SOCKET;
        }
        if (s != INVALID_SOCKET && endJobs) {
            ShutdownSend(s);
        }
    }
    return sockets;
}

PeerEnds CountPeerEnds(const std::vector<SOCKET>& sockets, int waitMs)
{
    PeerEnds ends;
    for (const SOCKET s : sockets) {
        char byte;
        const long n = s != INVALID_SOCKET && WaitReadable(s, waitMs)
                           ? static_cast<long>(recv(s, &byte, 1, MSG_DONTWAIT))
                           : 1;
        if (n == 0) {
            ++ends.closed;
        } else if (n < 0 && errno == ECONNRESET) {
            ++ends.reset;
        } else {
            ++ends.open;
        }
    }
    return ends;
}

void CloseAll(const std::vector<SOCKET>& sockets)
{
    for (const SOCKET s : sockets) {
        if (s != INVALID_SOCKET) {
            closesocket(s);
        }
    }
}

bool RaiseDescriptorLimit(rlim_t n)
{
    rlimit l{};
    if (getrlimit(RLIMIT_NOFILE, &l) != 0 || l.rlim_max < n) {
        return false;
    }
    l.rlim_cur = std::max(l.rlim_cur, n);
    return setrlimit(RLIMIT_NOFILE, &l) == 0;
}

bool RunWithListenFailing(int error, const std::function<void()>& fn)
{
    bool filtered = false;
    std::thread t([&] {
        sock_filter code[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_listen, 0, 1),
            BPF_STMT(BPF_RET | BPF_K,
                     SECCOMP_RET_ERRNO | (static_cast<unsigned>(error) & SECCOMP_RET_DATA)),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        sock_fprog program{static_cast<unsigned short>(std::size(code)), code};
        filtered = prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
                   prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
        if (filtered) {
            fn();
        }
    });
    t.join();
    return filtered;
}

std::vector<EventRecord> EventCollector::Records()
{
    for (EventRecord& r : m_store.TakePending()) {
        m_records.push_back(std::move(r));
    }
    return m_records;
}

int EventCollector::Count(EventType type, const QString& text)
{
    const std::vector<EventRecord> all = Records();
    return static_cast<int>(std::count_if(all.begin(), all.end(), [&](const EventRecord& r) {
        return r.type == type && r.text == text;
    }));
}

void ChunkRecorder::Callback(void* context, SOCKET /*socket*/, std::uint32_t count)
{
    auto* self = static_cast<ChunkRecorder*>(context);
    if (self->m_inside.fetch_add(1) != 0) {
        self->m_overlapped = true;
    }
    if (self->callbackDelayMs > 0) {
        SleepMs(self->callbackDelayMs);
    }
    QByteArray chunk(self->buffer.data(), static_cast<qsizetype>(count));
    {
        std::lock_guard lock(self->m_mutex);
        self->m_chunks.push_back(chunk);
    }
    self->m_inside.fetch_sub(1);
}

QByteArray ChunkRecorder::Joined()
{
    std::lock_guard lock(m_mutex);
    QByteArray all;
    for (const QByteArray& c : m_chunks) {
        all += c;
    }
    return all;
}
