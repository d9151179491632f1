#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/Socket.h"
#include "platform/Worker.h"

// Called for every received chunk with (context, socket of the connection, byte count).
// The count is 1 to the buffer size; the bytes are in the buffer given at construction.
using PrintDataCallback = void (*)(void* context, SOCKET socket, std::uint32_t count);

// Pauses and time-outs of the listener. The defaults are the program's; tests shrink them.
struct ListenerTiming
{
    // A chunk that has not ended otherwise ends when its sender pauses this long; 0 ends it
    // as soon as nothing more waits to be read. Negative: profile "Listener"/"ChunkGapMs".
    int chunkGapMs = -1;
    int closeDrainPauseMs = 2;     // between drain attempts when the listener ends a connection
    int closeAllDrainPauseMs = 5;  // between drain attempts when everything closes
    int stopGraceMs = 3000;        // Stop waits at most this long for the thread to end
    int exhaustedBackoffMs = 1000; // after running out of descriptors or memory
};

// Status word of the listener.
enum ListenerStatusCode : int
{
    ListenerConstructed = 200,
    ListenerSocketReady = 201,
    ListenerClosed = 202,
    ListenerClosing = 203,
    ListenerAccepting = 204,
    ListenerAcceptFailed = 6,
    ListenerReceiveFailed = 7,
};

// Receives raw print data on a TCP port. One thread waits on the listening socket and every
// open connection at once, accepts each connection as it arrives, from a listen backlog as
// long as the system grants, and reads data as it arrives. The data of a connection are
// gathered into a chunk that ends when the sender closes or shuts down its side, when the
// chunk is full (the buffer size, at most kReceiveSize bytes), or when the sender pauses for
// the chunk gap; each chunk goes to the data callback once. The callback runs on that thread,
// so it never runs for two chunks at once. Nothing wakes the thread while nothing arrives and
// no chunk waits for its gap. Running out of descriptors or memory is reported once and
// waited out, not the end of capture; a chunk still gathering when the listener stops is
// delivered before Stop returns.
class CRawPrintServer
{
public:
    // Largest chunk.
    static constexpr std::size_t kReceiveSize = 8200;

    // Starts the accept thread unless port is 0. callback and buffer may be null; received
    // data are then read and dropped. bindAddress is a host-order IPv4 address, 0 for
    // every local interface. Never fails visibly: failures become events.
    CRawPrintServer(void* context, PrintDataCallback callback, std::uint16_t port, char* buffer,
                    std::uint32_t bufferSize, std::uint32_t bindAddress = 0,
                    const ListenerTiming& timing = {});
    ~CRawPrintServer();
    CRawPrintServer(const CRawPrintServer&) = delete;
    CRawPrintServer& operator=(const CRawPrintServer&) = delete;

    // Ends the thread and closes every socket; returns as soon as the thread has ended.
    // Returns false when it outlasted stopGraceMs (a data callback that blocks): it is
    // still joined, never left running. Safe to call twice; the destructor calls it
    // when the owner did not.
    bool Stop();
    // Closes the listening socket and every connection (a connection being read closes when
    // the listener's thread lets it go; data it had gathered are still delivered).
    void CloseAllClients();
    // Closes one connection and drops its record. Returns false when it is not in the table.
    bool CloseClient(SOCKET s);

    // The status word (ListenerStatusCode).
    int ListenerStatus() const { return m_status.load(); }
    // Number of open connections in the table.
    std::size_t ClientCount() const;
    // The chunk gap in use, in milliseconds.
    int ChunkGapMs() const { return m_chunkGapMs; }
    // How many times the listener's thread has woken from its wait.
    std::uint64_t WakeUps() const { return m_wakeUps.load(); }

private:
    struct ClientRecord;
    using ClientPtr = std::shared_ptr<ClientRecord>;

    enum class AcceptStep
    {
        Taken,  // a connection was accepted; more may be waiting
        Idle,   // nothing waits, or the system is out of resources: wait for the next
        Failed, // the listening socket is unusable: the listener ends
    };

    void ListenThread();
    bool OpenListeningSocket();
    bool OpenWaitSet();
    void ConfigureClientSocket(SOCKET s);
    AcceptStep AcceptOne();
    void PauseAccepting(int error);
    void ReadClient(const ClientPtr& record);
    void EndChunk(ClientRecord& record);
    void DeliverDueChunks();
    int WaitTimeoutMs() const;
    void FinishClient(const ClientPtr& record);
    void DeliverChunk(SOCKET s, const char* data, std::size_t count);
    ClientPtr FindClientLocked(SOCKET s) const;
    ClientPtr RemoveClientLocked(SOCKET s, int drainPauseMs);
    void ReportExhaustion(int error);

    void* const m_context;
    const PrintDataCallback m_callback;
    const std::uint16_t m_port;
    char* const m_buffer;
    const std::uint32_t m_bufferSize;
    const std::uint32_t m_bindAddress;
    const ListenerTiming m_timing;
    const int m_chunkGapMs;
    const std::size_t m_chunkLimit;

    std::atomic<SOCKET> m_listenSocket{INVALID_SOCKET};
    std::atomic<int> m_status{ListenerConstructed};
    std::atomic<std::uint64_t> m_wakeUps{0};
    std::atomic<int> m_stopFlag{0};
    int m_waitSet = -1;    // epoll descriptor (listener thread)
    int m_stopNotice = -1; // eventfd that Stop signals
    bool m_stopped = false;
    bool m_exhausted = false;             // listener thread only
    std::uint64_t m_acceptResumeTick = 0; // accepting paused until then (0: not paused)

    Worker m_thread;
    mutable std::recursive_mutex m_tableLock; // guards the table and the listening socket
    std::unordered_map<SOCKET, ClientPtr> m_clientTable;
    std::vector<ClientPtr> m_gathering; // connections with a chunk waiting for its gap
};
