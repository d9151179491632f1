#include "capture/RawPrintServer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "eventlog/EventRecord.h"
#include "eventlog/EventSink.h"
#include "platform/Logging.h"
#include "platform/StringIds.h"
#include "platform/StringTable.h"
#include "platform/Tick.h"

namespace {

// A peer that keeps sending while its connection is being closed cannot hold the closing
// thread for longer than this many drain reads.
constexpr int kMaxDrainReads = 128;

} // namespace

struct CRawPrintServer::ClientRecord
{
    SOCKET socket = INVALID_SOCKET;
    SockAddrIn peer;
    std::uint64_t acceptTick = 0;
    bool busy = false;    // a reader is receiving from it (table lock)
    int drainPauseMs = 2; // set when the record leaves the table

    ClientRecord(SOCKET s, const SockAddrIn& p) : socket(s), peer(p), acceptTick(GetTickCount64())
    {
    }
    ClientRecord(const ClientRecord&) = delete;
    ClientRecord& operator=(const ClientRecord&) = delete;

    // The socket is closed when the last holder lets the record go, so no thread ever
    // receives on a descriptor that another thread closed (and the system reused).
    ~ClientRecord()
    {
        if (socket == INVALID_SOCKET) {
            return;
        }
        ShutdownSend(socket);
        char scratch[512];
        for (int i = 0; i < kMaxDrainReads; ++i) {
            const long n = Recv(socket, scratch, sizeof scratch);
            SleepMs(drainPauseMs);
            if (n <= 0) {
                break;
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
      m_bufferSize(bufferSize), m_bindAddress(bindAddress), m_timing(timing)
{
    if (m_port != 0 && !m_acceptThread.Start([this] { AcceptThread(); })) {
        m_status = ListenerClosed;
        EventSink(EventType::Error, LoadString(kIdsFailedToInitialize));
    }
}

CRawPrintServer::~CRawPrintServer()
{
    Stop();
}

void CRawPrintServer::AcceptThread()
{
    // Success is announced only once the socket listens: a failed bind or listen leaves
    // nothing listening and says so.
    if (!OpenListeningSocket()) {
        CloseAllClients();
        EventSink(EventType::Error, LoadString(kIdsFailedToInitialize));
        return;
    }
    EventSink(EventType::Information, LoadString(kIdsSucceedToInitialize));

    while (m_stopFlag == 0) {
        m_status = ListenerAccepting;
        // Every waiting connection is taken in one pass, so a burst of print jobs never
        // waits a poll per connection and never overflows the backlog.
        AcceptStep step = AcceptStep::Taken;
        while (step == AcceptStep::Taken && m_stopFlag == 0) {
            step = AcceptOne();
        }
        if (step == AcceptStep::Failed) {
            break;
        }
        CollectFinishedReaders();
        {
            std::lock_guard lock(m_tableLock);
            StartReadersLocked();
        }
        PauseUnlessStopped(m_timing.acceptPollMs);
    }
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
    qCDebug(lcCapture) << "listening on port" << m_port << "backlog" << backlog;
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
            record = std::make_shared<ClientRecord>(c, peer);
            std::lock_guard lock(m_tableLock);
            m_clientTable.push_back(record);
            StartReadersLocked();
        } catch (const std::bad_alloc&) {
            // Without a record the socket is closed here; with one, the record closes it.
            if (!record) {
                SetDontLinger(c);
                closesocket(c);
            }
            ReportExhaustion(WSAENOMEM);
            PauseUnlessStopped(m_timing.exhaustedBackoffMs);
            return AcceptStep::Idle;
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
        ReportExhaustion(error);
        PauseUnlessStopped(m_timing.exhaustedBackoffMs);
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

int CRawPrintServer::WantedReadersLocked() const
{
    return static_cast<int>(
        std::min<std::size_t>(m_clientTable.size(), static_cast<std::size_t>(kMaxReaders)));
}

void CRawPrintServer::StartReadersLocked()
{
    if (m_stopFlag != 0) {
        return;
    }
    while (m_readers < WantedReadersLocked()) {
        m_readerThreads.emplace_back();
        if (!m_readerThreads.back().Start([this] { ReaderThread(); })) {
            // The connections wait; the next accept pass tries again.
            m_readerThreads.pop_back();
            ReportExhaustion(EAGAIN);
            return;
        }
        ++m_readers;
    }
}

void CRawPrintServer::CollectFinishedReaders()
{
    std::list<Worker> finished;
    {
        std::lock_guard lock(m_tableLock);
        for (auto it = m_readerThreads.begin(); it != m_readerThreads.end();) {
            auto next = std::next(it);
            if (it->IsFinished()) {
                finished.splice(finished.end(), m_readerThreads, it);
            }
            it = next;
        }
    }
    for (Worker& w : finished) {
        w.Join();
    }
}

void CRawPrintServer::ReaderThread()
{
    std::unique_ptr<char[]> chunk(new (std::nothrow) char[kReceiveSize]);
    while (m_stopFlag == 0 && chunk) {
        ClientPtr record;
        bool tableEmpty = false;
        bool ownReader = false; // every open connection has a reader of its own
        {
            std::lock_guard lock(m_tableLock);
            // One reader per open connection: a surplus reader ends here.
            if (m_readers > WantedReadersLocked()) {
                --m_readers;
                return;
            }
            const std::size_t n = m_clientTable.size();
            tableEmpty = n == 0;
            // The readers share one cursor, so each pass of the readers polls as many
            // different connections as there are readers.
            if (m_cursor >= n) {
                m_cursor = 0;
            }
            for (std::size_t k = 0; k < n; ++k) {
                const std::size_t i = (m_cursor + k) % n;
                if (!m_clientTable[i]->busy) {
                    record = m_clientTable[i];
                    m_cursor = i + 1;
                    break;
                }
            }
            if (record) {
                record->busy = true;
            }
            ownReader = static_cast<std::size_t>(m_readers) >= n;
        }
        if (!record) {
            PauseUnlessStopped(tableEmpty ? m_timing.readerIdleMs : m_timing.readerPassMs);
            continue;
        }

        const long received = Recv(record->socket, chunk.get(), kReceiveSize);
        const int error = received < 0 ? WSAGetLastError() : 0;
        if (received > 0) {
            DeliverChunk(record->socket, chunk.get(), received);
        }
        const bool keep =
            received > 0 || error == WSAEWOULDBLOCK || error == WSAEINPROGRESS || error == WSAEINTR;
        bool waited = false;
        if (received < 0 && keep && ownReader) {
            // Nothing to read yet. While no other connection waits for this reader, it
            // sleeps until data (or the peer's close) arrive instead of waking every pass:
            // an idle connection then costs a few wake-ups a second, not hundreds.
            WaitReadable(record->socket, m_timing.readerWaitMs);
            waited = true;
        }
        if (!keep && received < 0) {
            // Recorded for the status word only: another connection's failure never
            // closes this one.
            m_status = ListenerReceiveFailed;
        }
        {
            std::lock_guard lock(m_tableLock);
            record->busy = false;
            if (!keep) {
                auto it = std::find(m_clientTable.begin(), m_clientTable.end(), record);
                if (it != m_clientTable.end()) {
                    m_clientTable.erase(it);
                }
                record->drainPauseMs = m_timing.closeDrainPauseMs;
            }
        }
        record.reset(); // closes the socket if the record left the table
        if (keep && !waited) {
            PauseUnlessStopped(m_timing.readerPassMs);
        }
    }
    std::lock_guard lock(m_tableLock);
    --m_readers;
}

void CRawPrintServer::DeliverChunk(SOCKET s, const char* data, long count)
{
    if (m_callback == nullptr || m_buffer == nullptr || m_bufferSize == 0) {
        return;
    }
    const std::uint32_t n =
        static_cast<std::uint32_t>(std::min<long>(count, static_cast<long>(m_bufferSize)));
    // One buffer serves every connection: the copy and the callback run for one chunk at a
    // time, and the callback's reads of the buffer finish before the next copy.
    std::lock_guard lock(m_callbackLock);
    std::memcpy(m_buffer, data, n);
    m_callback(m_context, s, n);
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
    auto it = std::find_if(m_clientTable.begin(), m_clientTable.end(),
                           [s](const ClientPtr& r) { return r->socket == s; });
    if (it == m_clientTable.end()) {
        return nullptr;
    }
    ClientPtr record = *it;
    record->drainPauseMs = drainPauseMs;
    m_clientTable.erase(it);
    return record;
}

void CRawPrintServer::CloseAllClients()
{
    m_status = ListenerClosing;
    std::vector<ClientPtr> closing;
    {
        std::lock_guard lock(m_tableLock);
        const SOCKET ls = m_listenSocket;
        if (ls != INVALID_SOCKET) {
            SetDontLinger(ls);
            closesocket(ls);
            m_listenSocket = INVALID_SOCKET;
        }
        closing.swap(m_clientTable);
        for (const ClientPtr& r : closing) {
            r->drainPauseMs = m_timing.closeAllDrainPauseMs;
        }
    }
    closing.clear(); // each socket closes here, or when the reader holding it lets it go
    m_status = ListenerClosed;
}

bool CRawPrintServer::Stop()
{
    if (m_stopped) {
        return true;
    }
    m_stopped = true;
    m_stopFlag = 1;
    m_stopEvent.Set();
    // Every thread ends within one pass of the stop flag unless a data callback blocks;
    // none is ever terminated or left running.
    const bool inTime = JoinThreads(GetTickCount64() +
                                    static_cast<std::uint64_t>(std::max(m_timing.stopGraceMs, 0)));
    CloseAllClients();
    return inTime;
}

bool CRawPrintServer::JoinThreads(std::uint64_t deadline)
{
    const auto remaining = [deadline] {
        const std::uint64_t now = GetTickCount64();
        return now >= deadline ? 0 : static_cast<int>(deadline - now);
    };
    bool inTime = m_acceptThread.Join(remaining());
    if (!inTime) {
        qCDebug(lcCapture) << "accept thread still running after the stop grace";
        m_acceptThread.Join();
    }
    // Only the accept thread starts readers: once it has ended, the list is complete.
    std::list<Worker> readers;
    {
        std::lock_guard lock(m_tableLock);
        readers.swap(m_readerThreads);
    }
    for (Worker& w : readers) {
        if (!w.Join(remaining())) {
            qCDebug(lcCapture) << "reader thread still running after the stop grace";
            inTime = false;
            w.Join();
        }
    }
    return inTime;
}

std::size_t CRawPrintServer::ClientCount() const
{
    std::lock_guard lock(m_tableLock);
    return m_clientTable.size();
}

int CRawPrintServer::ReaderCount() const
{
    std::lock_guard lock(m_tableLock);
    return m_readers;
}

void CRawPrintServer::PauseUnlessStopped(int ms)
{
    m_stopEvent.Wait(ms);
}
