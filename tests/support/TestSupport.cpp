#include "support/TestSupport.h"

#include <csignal>
#include <thread>

#include <QFile>

#include <gtest/gtest.h>

#include "eventlog/EventSink.h"
#include "platform/Tick.h"

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

FileSizeLimit::~FileSizeLimit()
{
    setrlimit(RLIMIT_FSIZE, &m_old);
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
    const SOCKET s = CreateTcpSocket();
    if (s == INVALID_SOCKET) {
        return s;
    }
    if (Connect(s, SockAddrIn{0x7F000001, port}) == SOCKET_ERROR) {
        closesocket(s);
        return INVALID_SOCKET;
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
    if (s == INVALID_SOCKET) {
        return false;
    }
    const bool ok = SendAll(s, data);
    closesocket(s);
    return ok;
}

EventCollector::EventCollector()
{
    RegisterEventStore(&m_store);
}

EventCollector::~EventCollector()
{
    UnregisterEventStore(&m_store);
}

std::vector<EventRecord> EventCollector::Records()
{
    for (EventRecord& r : m_store.TakePending()) {
        m_records.push_back(std::move(r));
    }
    return m_records;
}

int EventCollector::Count(int type, const QString& text)
{
    int n = 0;
    for (const EventRecord& r : Records()) {
        if (r.type == type && r.text == text) {
            ++n;
        }
    }
    return n;
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

std::vector<QByteArray> ChunkRecorder::Chunks()
{
    std::lock_guard lock(m_mutex);
    return m_chunks;
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

std::size_t ChunkRecorder::TotalBytes()
{
    std::lock_guard lock(m_mutex);
    std::size_t n = 0;
    for (const QByteArray& c : m_chunks) {
        n += static_cast<std::size_t>(c.size());
    }
    return n;
}
