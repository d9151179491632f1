#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include <sys/resource.h>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "eventlog/EventRecord.h"
#include "eventlog/EventSink.h"
#include "eventlog/EventStore.h"
#include "platform/Socket.h"

// The fresh temporary folder the test main made for this run (profile, data, runtime).
QString TestHome();

// An empty folder of that name in the test home (emptied when it exists).
QString FreshFolder(const QString& name);
// The lines of a text file, read through the program's text file class (codePage: for 8-bit).
QStringList ReadTextLines(const QString& path, int codePage = -1);
// The texts of event records, in order.
template <typename Records> QStringList TextsOf(const Records& records)
{
    QStringList out;
    for (const EventRecord& r : records) {
        out << r.text;
    }
    return out;
}

// Writes bytes as the whole file at path (a test failure when that fails).
void WriteBytes(const QString& path, const QByteArray& bytes);
// The whole file at path, or an empty array when it cannot be read.
QByteArray ReadBytes(const QString& path);

// Makes every write beyond limit bytes fail (EFBIG), for root as for anyone, while it lives.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t limit);
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_old); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_old{};
};

// Dates and times as "05.03.2016" and "14:07:09" until the next ReadLocaleSettings.
void UseGermanDates();

// Makes every call that needs a new descriptor fail with EMFILE while it lives.
class DescriptorExhaustion
{
public:
    DescriptorExhaustion();
    ~DescriptorExhaustion() { End(); }
    DescriptorExhaustion(const DescriptorExhaustion&) = delete;
    DescriptorExhaustion& operator=(const DescriptorExhaustion&) = delete;
    void End(); // ends it early

private:
    rlimit m_old{};
    std::vector<int> m_fillers;
};

// Polls cond every few milliseconds until it holds or timeoutMs passes. Returns cond().
bool WaitUntil(const std::function<bool()>& cond, int timeoutMs = 5000);

// A free TCP port on 127.0.0.1 (bound once to port 0 and released).
std::uint16_t FreePort();

// Connects a blocking socket to 127.0.0.1:port. Returns INVALID_SOCKET on failure.
SOCKET ConnectLoopback(std::uint16_t port);
// Sends all of data. Returns false on failure.
bool SendAll(SOCKET s, const QByteArray& data);
// Connects, sends data, closes: one print job the way a spooler sends it.
bool SendJob(std::uint16_t port, const QByteArray& data);
// Opens n blocking connections to 127.0.0.1:port at once, as a burst of print jobs arrives
// (INVALID_SOCKET where one failed or was still pending after timeoutMs).
std::vector<SOCKET> ConnectBurst(std::uint16_t port, int n, int timeoutMs = 20000);
// The jobs of a burst: "job 1000", "job 1001", ... (n of them, in sorted order).
std::vector<QByteArray> BurstJobs(int n);
// ConnectBurst, then job i of BurstJobs on connection i (with endJobs, its sending side shut
// after it); INVALID_SOCKET where connecting or sending failed.
std::vector<SOCKET> SendBurst(std::uint16_t port, int n, bool endJobs);
// How the peers left a set of connections.
struct PeerEnds
{
    int closed = 0; // ended in order (end of stream)
    int reset = 0;  // reset (ECONNRESET)
    int open = 0;   // still open: nothing to read yet, or data
};
// How each connection stands, waiting up to waitMs for each to become readable.
PeerEnds CountPeerEnds(const std::vector<SOCKET>& sockets, int waitMs);
// Closes every valid socket of the list.
void CloseAll(const std::vector<SOCKET>& sockets);
// Raises the soft descriptor limit to at least n; false when n are not allowed.
bool RaiseDescriptorLimit(rlim_t n);
// Runs fn on a new thread on which, as on the threads it starts, listen() fails with error.
// Returns false, without running fn, when the system refuses the filter.
bool RunWithListenFailing(int error, const std::function<void()>& fn);

// Collects every event posted through EventSink while it lives.
class EventCollector
{
public:
    EventCollector() { RegisterEventStore(&m_store); }
    ~EventCollector() { UnregisterEventStore(&m_store); }
    EventCollector(const EventCollector&) = delete;
    EventCollector& operator=(const EventCollector&) = delete;

    // Takes what is pending and returns every record collected so far.
    std::vector<EventRecord> Records();
    // Number of collected records with this type and text.
    int Count(EventType type, const QString& text);

private:
    CEventStore m_store;
    std::vector<EventRecord> m_records;
};

// A data callback target keeping every chunk, and noting when two callbacks overlap.
class ChunkRecorder
{
public:
    static void Callback(void* context, SOCKET socket, std::uint32_t count);

    explicit ChunkRecorder(std::size_t bufferSize = 8200) : buffer(bufferSize) {}

    std::vector<QByteArray> Chunks()
    {
        std::lock_guard lock(m_mutex);
        return m_chunks;
    }
    QByteArray Joined();
    bool overlapped() const { return m_overlapped; }
    // Milliseconds each callback should take (to widen race windows).
    int callbackDelayMs = 0;

    std::vector<char> buffer;

private:
    std::mutex m_mutex;
    std::vector<QByteArray> m_chunks;
    std::atomic<int> m_inside{0};
    std::atomic<bool> m_overlapped{false};
};
