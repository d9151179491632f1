#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/Event.h"
#include "platform/Socket.h"
#include "platform/Worker.h"

// Called for every received chunk with (context, socket of the connection, byte count).
// The count is 1 to the buffer size; the bytes are in the buffer given at construction.
using PrintDataCallback = void (*)(void* context, SOCKET socket, std::uint32_t count);

// Pauses and time-outs of the listener. The defaults are the program's; tests shrink them.
struct ListenerTiming
{
    int acceptPollMs = 100;        // between two accept attempts
    int readerPassMs = 5;          // after every receive attempt
    int readerWaitMs = 100;        // longest wait for data on a connection of its own
    int readerIdleMs = 200;        // while no connection is open
    int closeDrainPauseMs = 2;     // between drain attempts when one connection closes
    int closeAllDrainPauseMs = 5;  // between drain attempts when everything closes
    int stopGraceMs = 3000;        // Stop waits at most this long for the threads to end
    int exhaustedBackoffMs = 1000; // after running out of descriptors, memory or threads
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

// Receives raw print data on a TCP port. An accept thread takes every waiting connection
// each poll, from a listen backlog as long as the system grants; reader threads poll every
// open connection in turn and hand each received chunk to the data callback.
//
// Beyond the plain polling design it guarantees: every open connection is polled by at
// least one reader until it closes (one reader per connection, up to kMaxReaders); a
// connection is read by one reader at a time and its socket is closed only when no reader
// holds it; callbacks never overlap, since they share one buffer; running out of
// descriptors, memory or threads is reported once and waited out, not the end of capture.
// While every connection has a reader of its own, a reader that finds nothing to read waits
// for data on that connection (at most readerWaitMs) instead of polling it every pass.
class CRawPrintServer
{
public:
    // Upper bound of reader threads; more connections are shared among them.
    static constexpr int kMaxReaders = 32;
    // Size of one receive.
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

    // Ends every thread and closes every socket; returns as soon as the threads have ended.
    // Returns false when one of them outlasted stopGraceMs (a data callback that blocks):
    // it is still joined, never left running. Safe to call twice; the destructor calls it
    // when the owner did not.
    bool Stop();
    // Closes the listening socket and every connection (a connection a reader is reading
    // closes when the reader lets it go).
    void CloseAllClients();
    // Closes one connection and drops its record. Returns false when it is not in the table.
    bool CloseClient(SOCKET s);

    // The status word (ListenerStatusCode).
    int ListenerStatus() const { return m_status.load(); }
    // Number of open connections in the table.
    std::size_t ClientCount() const;
    // Number of reader threads running.
    int ReaderCount() const;

private:
    struct ClientRecord;
    using ClientPtr = std::shared_ptr<ClientRecord>;

    enum class AcceptStep
    {
        Taken,  // a connection was accepted; more may be waiting
        Idle,   // nothing waits, or the system is out of resources: next pass
        Failed, // the listening socket is unusable: the accept loop ends
    };

    void AcceptThread();
    bool OpenListeningSocket();
    void ReaderThread();
    void ConfigureClientSocket(SOCKET s);
    AcceptStep AcceptOne();
    bool JoinThreads(std::uint64_t deadline);
    void StartReadersLocked();
    int WantedReadersLocked() const;
    void CollectFinishedReaders();
    void DeliverChunk(SOCKET s, const char* data, long count);
    ClientPtr RemoveClientLocked(SOCKET s, int drainPauseMs);
    void ReportExhaustion(int error);
    void PauseUnlessStopped(int ms);

    void* const m_context;
    const PrintDataCallback m_callback;
    const std::uint16_t m_port;
    char* const m_buffer;
    const std::uint32_t m_bufferSize;
    const std::uint32_t m_bindAddress;
    const ListenerTiming m_timing;

    std::atomic<SOCKET> m_listenSocket{INVALID_SOCKET};
    std::atomic<int> m_status{ListenerConstructed};
    std::atomic<int> m_stopFlag{0};
    Event m_stopEvent{Event::Reset::Manual};
    bool m_stopped = false;
    bool m_exhausted = false; // accept thread only

    Worker m_acceptThread;
    mutable std::recursive_mutex m_tableLock; // guards the table, reader count and workers
    std::vector<ClientPtr> m_clientTable;
    int m_readers = 0;
    std::size_t m_cursor = 0; // the next record a reader polls
    std::list<Worker> m_readerThreads;
    std::mutex m_callbackLock; // one chunk at a time in the shared buffer
};
