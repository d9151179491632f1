#include "capture/RawPrintServer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "eventlog/EventRecord.h"
#include "eventlog/EventSink.h"
#include "platform/Logging.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "platform/StringIds.h"
#include "platform/StringTable.h"
#include "platform/Tick.h"

namespace {

// A peer that keeps sending while its connection is being closed cannot hold the closing
// thread for longer than this many drain reads.
constexpr int kMaxDrainReads = 128;
// Full chunks read from one connection per wake-up, so one fast sender cannot starve the
// others; what is left is read after the next wait, which returns at once.
constexpr int kMaxReadsPerWake = 4;
// Events taken per wait.
constexpr int kMaxEvents = 64;
// A chunk never waits longer than this for its gap, whatever the profile says.
constexpr int kMaxChunkGapMs = 10000;

int ChunkGapFrom(const ListenerTiming& timing)
{
    if (timing.chunkGapMs >= 0) {
        return std::min(timing.chunkGapMs, kMaxChunkGapMs);
    }
    const int gap = GetProfileInt(kProfileListenerChunkGapMs);
    if (gap < 0) {
        qCDebug(lcCapture) << "negative Listener/ChunkGapMs, default taken:" << gap;
        return kProfileListenerChunkGapMs.defaultValue;
    }
    return std::min(gap, kMaxChunkGapMs);
}

bool WatchSocket(int waitSet, int op, SOCKET s, std::uint32_t events)
{
    epoll_event ev{};
    ev.events = events;
    ev.data.fd = s;
    return epoll_ctl(waitSet, op, s, &ev) == 0;
}

} // namespace

struct CRawPrintServer::ClientRecord
{
    SOCKET socket = INVALID_SOCKET;
    SockAddrIn peer;
    std::unique_ptr<char[]> chunk; // the chunk being gathered
    std::size_t used = 0;
    std::uint64_t lastDataTick = 0;
    bool gathering = false; // listed among the chunks waiting for their gap
    bool peerEnded = false; // read to the end: nothing left to drain
    int drainPauseMs = 2;   // set when the record leaves the table

    ClientRecord(SOCKET s, const SockAddrIn& p, std::size_t chunkSize)
        : socket(s), peer(p), chunk(new char[chunkSize])
    {
    }
    ClientRecord(const ClientRecord&) = delete;
    ClientRecord& operator=(const ClientRecord&) = delete;

    // The socket is closed when the last holder lets the record go, so no thread ever
    // receives on a descriptor that another thread closed (and the system reused). A peer
    // that still sends is drained first, so it sees an orderly close, not a reset.
    ~ClientRecord()
    {
        if (socket == INVALID_SOCKET) {
            return;
        }
        if (!peerEnded) {
            ShutdownSend(socket);
            char scratch[512];
            for (int i = 0; i < kMaxDrainReads; ++i) {
                const long n = Recv(socket, scratch, sizeof scratch);
                SleepMs(drainPauseMs);
                if (n <= 0) {
                    break;
                }
            }
        }
        SetDontLinger(socket);
        closesocket(socket);
    }
};

CRawPrintServer::CRawPrintServer(void* context, PrintDataCallback callback, std::uint16_t port,
                                 char* buffer, std::uint32_t bufferSize, std::uint32_t bindAddress,
                                 const ListenerTiming& timing)
    : m_context(context), m_callback(callback), m_port(port), m_buffer(buffer),
      m_bufferSize(bufferSize), m_bindAddress(bindAddress), m_timing(timing),
      m_chunkGapMs(port != 0 ? ChunkGapFrom(timing) : 0),
      m_chunkLimit(callback != nullptr && buffer != nullptr && bufferSize > 0
                       ? std::min<std::size_t>(bufferSize, kReceiveSize)
                       : kReceiveSize)
{
    if (m_port == 0) {
        return;
    }
    if (!OpenWaitSet() || !m_thread.Start([this] { ListenThread(); })) {
        m_status = ListenerClosed;
        EventSink(EventType::Error, LoadString(kIdsFailedToInitialize));
    }
}

CRawPrintServer::~CRawPrintServer()
{
    Stop();
    for (int fd : {m_waitSet, m_stopNotice}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

bool CRawPrintServer::OpenWaitSet()
{
    m_waitSet = epoll_create1(EPOLL_CLOEXEC);
    m_stopNotice = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_waitSet < 0 || m_stopNotice < 0 ||
        !WatchSocket(m_waitSet, EPOLL_CTL_ADD, m_stopNotice, EPOLLIN)) {
        qCDebug(lcCapture) << "wait set:" << SocketErrorText(errno);
        return false;
    }
    return true;
}

void CRawPrintServer::ListenThread()
{
    // Success is announced only once the socket listens: a failed bind or listen leaves
    // nothing listening and says so.
    if (!OpenListeningSocket()) {
        CloseAllClients();
        EventSink(EventType::Error, LoadString(kIdsFailedToInitialize));
        return;
    }
    EventSink(EventType::Information, LoadString(kIdsSucceedToInitialize));
    m_status = ListenerAccepting;

    epoll_event events[kMaxEvents];
    bool listening = true;
    while (listening && m_stopFlag == 0) {
        const int n = epoll_wait(m_waitSet, events, kMaxEvents, WaitTimeoutMs());
        ++m_wakeUps;
        if (n < 0 && errno != EINTR) {
            qCDebug(lcCapture) << "wait:" << SocketErrorText(errno);
            m_status = ListenerAcceptFailed;
            break;
        }
        for (int i = 0; i < n && listening; ++i) {
            const SOCKET fd = events[i].data.fd;
            if (fd == m_stopNotice) {
                listening = false;
            } else if (fd == m_listenSocket) {
                // Every waiting connection is taken at once, so a burst of print jobs never
                // overflows the backlog.
                AcceptStep step = AcceptStep::Taken;
                while (step == AcceptStep::Taken && m_stopFlag == 0) {
                    step = AcceptOne();
                }
                listening = step != AcceptStep::Failed;
            } else if (ClientPtr record = FindClientLocked(fd)) {
                ReadClient(record);
            }
        }
        if (m_acceptResumeTick != 0 && GetTickCount64() >= m_acceptResumeTick) {
            m_acceptResumeTick = 0;
            std::lock_guard lock(m_tableLock);
            if (m_listenSocket != INVALID_SOCKET) {
                WatchSocket(m_waitSet, EPOLL_CTL_MOD, m_listenSocket, EPOLLIN);
            }
        }
        DeliverDueChunks();
    }
    // A chunk still waiting for its gap is an alarm already received: it is delivered.
    for (const ClientPtr& record : m_gathering) {
        EndChunk(*record);
    }
    m_gathering.clear();
    m_status = ListenerClosing;
    CloseAllClients();
}

bool CRawPrintServer::OpenListeningSocket()
{
    const SOCKET ls = CreateTcpSocket();
    if (ls == INVALID_SOCKET) {
        qCDebug(lcCapture) << "socket:" << SocketErrorText(WSAGetLastError());
        return false;
    }
    SetDontLinger(ls);
    SetNoDelay(ls, true);
    // A restarted program must bind while connections of the last run wait out TIME_WAIT;
    // this does not let two listeners share the port.
    SetReuseAddress(ls, true);
    {
        std::lock_guard lock(m_tableLock);
        m_listenSocket = ls;
    }
    m_status = ListenerSocketReady;
    SetNonBlocking(ls, true);

    if (Bind(ls, SockAddrIn{m_bindAddress, m_port}) == SOCKET_ERROR) {
        qCDebug(lcCapture) << "bind:" << SocketErrorText(WSAGetLastError());
        return false;
    }
    const int backlog = MaxListenBacklog();
    if (Listen(ls, backlog) == SOCKET_ERROR) {
        qCDebug(lcCapture) << "listen:" << SocketErrorText(WSAGetLastError());
        return false;
    }
    if (!WatchSocket(m_waitSet, EPOLL_CTL_ADD, ls, EPOLLIN)) {
        qCDebug(lcCapture) << "watch:" << SocketErrorText(errno);
        return false;
    }
    qCDebug(lcCapture) << "listening on port" << m_port << "backlog" << backlog << "chunk gap"
                       << m_chunkGapMs;
    return true;
}

CRawPrintServer::AcceptStep CRawPrintServer::AcceptOne()
{
    SockAddrIn peer;
    SOCKET c = INVALID_SOCKET;
    int error = 0;
    {
        // Under the table lock, so CloseAllClients cannot close the listening socket
        // between reading it and using it.
        std::lock_guard lock(m_tableLock);
        const SOCKET ls = m_listenSocket;
        if (ls == INVALID_SOCKET) {
            m_status = ListenerAcceptFailed;
            return AcceptStep::Failed;
        }
        c = Accept(ls, &peer);
        if (c == INVALID_SOCKET) {
            error = WSAGetLastError();
        }
    }

    if (c != INVALID_SOCKET) {
        ConfigureClientSocket(c);
        ClientPtr record;
        try {
            record = std::make_shared<ClientRecord>(c, peer, m_chunkLimit);
        } catch (const std::bad_alloc&) {
            SetDontLinger(c);
            closesocket(c);
            PauseAccepting(WSAENOMEM);
            return AcceptStep::Idle;
        }
        {
            std::lock_guard lock(m_tableLock);
            if (!WatchSocket(m_waitSet, EPOLL_CTL_ADD, c, EPOLLIN)) {
                error = errno == ENOSPC ? WSAENOBUFS : errno;
                record.reset(); // closes the socket
                PauseAccepting(error);
                return AcceptStep::Idle;
            }
            try {
                m_clientTable.emplace(c, record);
            } catch (const std::bad_alloc&) {
                epoll_ctl(m_waitSet, EPOLL_CTL_DEL, c, nullptr);
                record.reset();
                PauseAccepting(WSAENOMEM);
                return AcceptStep::Idle;
            }
        }
        if (m_exhausted) {
            m_exhausted = false;
            EventSink(EventType::Information, LoadString(kIdsCaptureResumed));
        }
        qCDebug(lcCapture) << "accepted" << FormatIpv4(peer.address) << peer.port;
        return AcceptStep::Taken;
    }

    switch (error) {
    case WSAEMFILE:
    case WSAENFILE:
    case WSAENOBUFS:
    case WSAENOMEM:
        // The connection waits in the backlog until a descriptor is free again.
        PauseAccepting(error);
        m_status = ListenerAccepting;
        return AcceptStep::Idle;
    case WSAEFAULT:
    case WSAEINVAL:
    case WSAENOTSOCK:
    case EBADF:
        qCDebug(lcCapture) << "accept:" << SocketErrorText(error);
        m_status = ListenerAcceptFailed;
        return AcceptStep::Failed;
    default:
        // Nothing waiting (WSAEWOULDBLOCK), an interrupted call, or a connection that
        // failed before it was taken (the network errors Linux passes on from accept).
        m_status = ListenerAccepting;
        return AcceptStep::Idle;
    }
}

void CRawPrintServer::PauseAccepting(int error)
{
    ReportExhaustion(error);
    // The listening socket stays readable while connections wait: it leaves the wait set
    // for the back-off, so the thread sleeps instead of failing the same accept again.
    std::lock_guard lock(m_tableLock);
    if (m_listenSocket != INVALID_SOCKET) {
        WatchSocket(m_waitSet, EPOLL_CTL_MOD, m_listenSocket, 0);
    }
    m_acceptResumeTick =
        GetTickCount64() + static_cast<std::uint64_t>(std::max(m_timing.exhaustedBackoffMs, 1));
}

void CRawPrintServer::ReportExhaustion(int error)
{
    if (m_exhausted) {
        return;
    }
    m_exhausted = true;
    EventSink(EventType::Error,
              FormatText(LoadString(kIdsCapturePaused), {SocketErrorText(error)}));
}

void CRawPrintServer::ConfigureClientSocket(SOCKET s)
{
    SetNonBlocking(s, true);
    SetNoDelay(s, true);
    SetKeepAlive(s, true);
}

void CRawPrintServer::ReadClient(const ClientPtr& record)
{
    bool ended = false;
    for (int reads = 0; reads < kMaxReadsPerWake; ++reads) {
        const long n =
            Recv(record->socket, record->chunk.get() + record->used, m_chunkLimit - record->used);
        if (n > 0) {
            record->used += static_cast<std::size_t>(n);
            record->lastDataTick = GetTickCount64();
            if (record->used == m_chunkLimit) {
                EndChunk(*record);
            }
            continue;
        }
        if (n == 0) {
            record->peerEnded = true; // the sender closed or shut down its side
            ended = true;
            break;
        }
        const int error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK || error == WSAEINTR || error == WSAEINPROGRESS) {
            break;
        }
        // Recorded for the status word only: another connection's failure never closes
        // this one.
        m_status = ListenerReceiveFailed;
        ended = true;
        break;
    }
    if (ended) {
        EndChunk(*record);
        FinishClient(record);
    } else if (record->used > 0) {
        if (m_chunkGapMs == 0) {
            EndChunk(*record);
        } else if (!record->gathering) {
            record->gathering = true;
            m_gathering.push_back(record);
        }
    }
}

void CRawPrintServer::EndChunk(ClientRecord& record)
{
    if (record.used > 0) {
        DeliverChunk(record.socket, record.chunk.get(), record.used);
        record.used = 0;
    }
}

void CRawPrintServer::DeliverDueChunks()
{
    if (m_gathering.empty()) {
        return;
    }
    const std::uint64_t now = GetTickCount64();
    for (const ClientPtr& record : m_gathering) {
        if (record->used > 0 &&
            now >= record->lastDataTick + static_cast<std::uint64_t>(m_chunkGapMs)) {
            EndChunk(*record);
        }
    }
    std::erase_if(m_gathering, [](const ClientPtr& record) {
        record->gathering = record->used > 0;
        return !record->gathering;
    });
}

int CRawPrintServer::WaitTimeoutMs() const
{
    const std::uint64_t now = GetTickCount64();
    std::uint64_t due = UINT64_MAX;
    if (m_acceptResumeTick != 0) {
        due = m_acceptResumeTick;
    }
    for (const ClientPtr& record : m_gathering) {
        if (record->used > 0) {
            due = std::min(due, record->lastDataTick + static_cast<std::uint64_t>(m_chunkGapMs));
        }
    }
    if (due == UINT64_MAX) {
        return -1; // nothing is due: sleep until something arrives or Stop
    }
    return due <= now ? 0 : static_cast<int>(due - now);
}

void CRawPrintServer::FinishClient(const ClientPtr& record)
{
    std::lock_guard lock(m_tableLock);
    auto it = m_clientTable.find(record->socket);
    if (it != m_clientTable.end() && it->second == record) {
        epoll_ctl(m_waitSet, EPOLL_CTL_DEL, record->socket, nullptr);
        m_clientTable.erase(it);
    }
    record->drainPauseMs = m_timing.closeDrainPauseMs;
}

void CRawPrintServer::DeliverChunk(SOCKET s, const char* data, std::size_t count)
{
    if (m_callback == nullptr || m_buffer == nullptr || m_bufferSize == 0) {
        return;
    }
    // Chunks never exceed the buffer, and the callback runs on the listener's thread only,
    // so it reads the buffer before the next copy.
    std::memcpy(m_buffer, data, count);
    m_callback(m_context, s, static_cast<std::uint32_t>(count));
}

CRawPrintServer::ClientPtr CRawPrintServer::FindClientLocked(SOCKET s) const
{
    std::lock_guard lock(m_tableLock);
    auto it = m_clientTable.find(s);
    return it == m_clientTable.end() ? nullptr : it->second;
}

bool CRawPrintServer::CloseClient(SOCKET s)
{
    if (s == INVALID_SOCKET) {
        return false;
    }
    ClientPtr record = RemoveClientLocked(s, m_timing.closeDrainPauseMs);
    return record != nullptr;
}

CRawPrintServer::ClientPtr CRawPrintServer::RemoveClientLocked(SOCKET s, int drainPauseMs)
{
    std::lock_guard lock(m_tableLock);
    auto it = m_clientTable.find(s);
    if (it == m_clientTable.end()) {
        return nullptr;
    }
    ClientPtr record = it->second;
    record->drainPauseMs = drainPauseMs;
    epoll_ctl(m_waitSet, EPOLL_CTL_DEL, s, nullptr);
    m_clientTable.erase(it);
    return record;
}

void CRawPrintServer::CloseAllClients()
{
    m_status = ListenerClosing;
    std::unordered_map<SOCKET, ClientPtr> closing;
    {
        std::lock_guard lock(m_tableLock);
        const SOCKET ls = m_listenSocket;
        if (ls != INVALID_SOCKET) {
            SetDontLinger(ls);
            closesocket(ls);
            m_listenSocket = INVALID_SOCKET;
        }
        closing.swap(m_clientTable);
        for (const auto& [s, r] : closing) {
            epoll_ctl(m_waitSet, EPOLL_CTL_DEL, s, nullptr);
            r->drainPauseMs = m_timing.closeAllDrainPauseMs;
        }
    }
    closing.clear(); // each socket closes here, or when the listener's thread lets it go
    m_status = ListenerClosed;
}

bool CRawPrintServer::Stop()
{
    if (m_stopped) {
        return true;
    }
    m_stopped = true;
    m_stopFlag = 1;
    if (m_stopNotice >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(m_stopNotice, &one, sizeof one);
    }
    // The thread ends at once unless a data callback blocks; it is never left running.
    bool inTime = m_thread.Join(std::max(m_timing.stopGraceMs, 0));
    if (!inTime) {
        qCDebug(lcCapture) << "listener thread still running after the stop grace";
        m_thread.Join();
    }
    CloseAllClients();
    return inTime;
}

std::size_t CRawPrintServer::ClientCount() const
{
    std::lock_guard lock(m_tableLock);
    return m_clientTable.size();
}
