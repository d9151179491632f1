#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "capture/RawPrintServer.h"
#include "platform/StringTable.h"
#include "platform/Tick.h"
#include "support/TestSupport.h"

namespace {

constexpr std::uint32_t kLoopback = 0x7F000001;

ListenerTiming FastTiming()
{
    ListenerTiming t;
    t.acceptPollMs = 5;
    t.stopGraceMs = 50;
    t.stopClosingWaitMs = 20;
    t.exhaustedBackoffMs = 50;
    return t;
}

// A listener on a free loopback port whose chunks land in a recorder.
struct Listener
{
    explicit Listener(const ListenerTiming& timing = FastTiming())
        : port(FreePort()),
          server(std::make_unique<CRawPrintServer>(
              &recorder, &ChunkRecorder::Callback, port, recorder.buffer.data(),
              static_cast<std::uint32_t>(recorder.buffer.size()), kLoopback, timing))
    {
        started = WaitUntil([this] { return server->ListenerStatus() == ListenerAccepting; });
    }

    ChunkRecorder recorder;
    std::uint16_t port;
    std::unique_ptr<CRawPrintServer> server;
    bool started = false;
};

} // namespace

TEST(RawPrintServer, LongJob_OrderedChunksNothingLostOrDuplicated)
{
    EventCollector events;
    Listener l;
    ASSERT_TRUE(l.started);
    QByteArray job(20000, '\0');
    for (int i = 0; i < job.size(); ++i) {
        job[i] = static_cast<char>('A' + i % 53);
    }
    ASSERT_TRUE(SendJob(l.port, job));
    ASSERT_TRUE(WaitUntil([&] { return l.recorder.TotalBytes() >= 20000; }));
    for (const QByteArray& c : l.recorder.Chunks()) {
        EXPECT_LE(c.size(), 8200);
        EXPECT_GT(c.size(), 0);
    }
    EXPECT_EQ(l.recorder.Joined(), job);
    EXPECT_EQ(events.Count(0, LoadString(61235)), 1);
}

TEST(RawPrintServer, SeveralConnections_NoneLeftUnreadWhenOthersClose)
{
    Listener l;
    ASSERT_TRUE(l.started);
    SOCKET s[4];
    for (SOCKET& c : s) {
        c = ConnectLoopback(l.port);
        ASSERT_NE(c, INVALID_SOCKET);
    }
    ASSERT_TRUE(WaitUntil([&] { return l.server->ClientCount() == 4; }));
    // The readers that saw these closes end; the last connection must still be read.
    for (int i = 0; i < 3; ++i) {
        closesocket(s[i]);
    }
    ASSERT_TRUE(WaitUntil([&] { return l.server->ClientCount() == 1; }));
    ASSERT_TRUE(WaitUntil([&] { return l.server->ReaderCount() == 1; }));
    EXPECT_TRUE(l.recorder.Chunks().empty()); // open and close without data: no alarm
    ASSERT_TRUE(SendAll(s[3], "still here\r\n"));
    EXPECT_TRUE(WaitUntil([&] { return l.recorder.Joined() == "still here\r\n"; }));
    closesocket(s[3]);
    EXPECT_TRUE(WaitUntil([&] { return l.server->ReaderCount() == 0; }));
}

TEST(RawPrintServer, ConcurrentSenders_CallbacksNeverOverlapAndEachStreamIsIntact)
{
    Listener l;
    ASSERT_TRUE(l.started);
    l.recorder.callbackDelayMs = 1;
    constexpr int kSenders = 8;
    std::vector<QByteArray> sent(kSenders);
    std::vector<std::thread> threads;
    for (int i = 0; i < kSenders; ++i) {
        // Every byte of sender i is the letter 'a' + i, so each chunk names its stream.
        sent[i] = QByteArray(30000 + i * 1000, static_cast<char>('a' + i));
        threads.emplace_back([&, i] {
            const SOCKET s = ConnectLoopback(l.port);
            for (qsizetype off = 0; off < sent[i].size(); off += 3000) {
                SendAll(s, sent[i].mid(off, 3000));
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            closesocket(s);
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    std::size_t total = 0;
    for (const QByteArray& d : sent) {
        total += static_cast<std::size_t>(d.size());
    }
    ASSERT_TRUE(WaitUntil([&] { return l.recorder.TotalBytes() >= total; }, 20000));
    std::map<char, QByteArray> streams;
    for (const QByteArray& c : l.recorder.Chunks()) {
        ASSERT_EQ(c.count(c[0]), c.size()) << "a chunk mixed two connections";
        streams[c[0]] += c;
    }
    for (int i = 0; i < kSenders; ++i) {
        EXPECT_EQ(streams[static_cast<char>('a' + i)], sent[i]);
    }
    EXPECT_FALSE(l.recorder.overlapped());
    EXPECT_TRUE(WaitUntil([&] { return l.server->ClientCount() == 0; }));
}

TEST(RawPrintServer, PortInUse_OneErrorEventNoSuccess)
{
    EventCollector events;
    Listener first;
    ASSERT_TRUE(first.started);
    ChunkRecorder recorder;
    CRawPrintServer second(&recorder, &ChunkRecorder::Callback, first.port, recorder.buffer.data(),
                           8200, kLoopback, FastTiming());
    ASSERT_TRUE(WaitUntil([&] { return second.ListenerStatus() == ListenerClosed; }));
    ASSERT_TRUE(SendJob(first.port, "job"));
    ASSERT_TRUE(WaitUntil([&] { return first.recorder.TotalBytes() == 3; }));
    second.Stop();
    EXPECT_EQ(events.Count(1, LoadString(61234)), 1);
    EXPECT_EQ(events.Count(0, LoadString(61235)), 1); // the first listener's only
    EXPECT_TRUE(recorder.Chunks().empty());
}

TEST(RawPrintServer, Stop_ClosesEveryConnectionAndFreesRecords)
{
    Listener l;
    ASSERT_TRUE(l.started);
    std::vector<SOCKET> clients;
    for (int i = 0; i < 5; ++i) {
        clients.push_back(ConnectLoopback(l.port));
    }
    ASSERT_TRUE(WaitUntil([&] { return l.server->ClientCount() == 5; }));
    l.server->Stop();
    EXPECT_EQ(l.server->ClientCount(), 0u);
    EXPECT_EQ(l.server->ReaderCount(), 0);
    EXPECT_EQ(l.server->ListenerStatus(), ListenerClosed);
    for (SOCKET c : clients) {
        char b;
        EXPECT_TRUE(WaitReadable(c, 2000));
        EXPECT_EQ(Recv(c, &b, 1), 0) << "the listener did not close its end";
        closesocket(c);
    }
    EXPECT_EQ(ConnectLoopback(l.port), INVALID_SOCKET); // nothing listens any more

    // Port 0 starts no thread, and Stop still completes.
    CRawPrintServer idle(nullptr, nullptr, 0, nullptr, 0, kLoopback, FastTiming());
    EXPECT_EQ(idle.ListenerStatus(), ListenerConstructed);
    idle.Stop();
    EXPECT_EQ(idle.ListenerStatus(), ListenerClosed);
}

TEST(RawPrintServer, BadInput_BinaryMegabyteBesideSilentClient)
{
    Listener l;
    ASSERT_TRUE(l.started);
    // A client that connects and says nothing must not hold anyone up.
    const SOCKET silent = ConnectLoopback(l.port);
    ASSERT_NE(silent, INVALID_SOCKET);

    QByteArray binary(1 << 20, '\0');
    for (int i = 0; i < binary.size(); ++i) {
        binary[i] = static_cast<char>((i * 131) ^ (i >> 8));
    }
    ASSERT_TRUE(SendJob(l.port, binary));
    ASSERT_TRUE(WaitUntil(
        [&] { return l.recorder.TotalBytes() >= static_cast<std::size_t>(binary.size()); }, 20000));
    EXPECT_EQ(l.recorder.Joined(), binary);

    closesocket(silent);
    EXPECT_TRUE(WaitUntil([&] { return l.server->ClientCount() == 0; }));
}

TEST(RawPrintServer, BadInput_HundredConnectionsAtOnce)
{
    Listener l;
    ASSERT_TRUE(l.started);
    const SOCKET silent = ConnectLoopback(l.port);
    ASSERT_NE(silent, INVALID_SOCKET);
    // The small listen backlog makes the system hold back part of the burst for a second
    // or so at a time; every job still arrives.
    constexpr int kClients = 100;
    std::vector<SOCKET> many;
    for (int i = 0; i < kClients; ++i) {
        many.push_back(ConnectLoopback(l.port));
        ASSERT_NE(many.back(), INVALID_SOCKET);
    }
    for (int i = 0; i < kClients; ++i) {
        ASSERT_TRUE(SendAll(many[i], QByteArray::number(100000 + i)));
        closesocket(many[i]);
    }
    const std::size_t expected = kClients * 6;
    ASSERT_TRUE(WaitUntil([&] { return l.recorder.TotalBytes() >= expected; }, 60000));
    EXPECT_EQ(l.recorder.TotalBytes(), expected);
    EXPECT_LE(l.server->ReaderCount(), CRawPrintServer::kMaxReaders);
    EXPECT_TRUE(WaitUntil([&] { return l.server->ClientCount() == 1; }, 20000));
    closesocket(silent);
    EXPECT_TRUE(WaitUntil([&] { return l.server->ClientCount() == 0; }));
}

TEST(RawPrintServer, DescriptorExhaustion_ReportedOnceThenCaptureGoesOn)
{
    EventCollector events;
    Listener l;
    ASSERT_TRUE(l.started);
    const SOCKET client = CreateTcpSocket();
    ASSERT_NE(client, INVALID_SOCKET);

    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
    // Fill the descriptor table under a lowered limit, so accept fails with EMFILE.
    rlimit low = old;
    low.rlim_cur = 256;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> fillers;
    const int base = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(base, 0);
    fillers.push_back(base);
    for (int fd; (fd = dup(base)) >= 0;) {
        fillers.push_back(fd);
    }
    ASSERT_EQ(Connect(client, SockAddrIn{kLoopback, l.port}), 0);
    ASSERT_TRUE(SendAll(client, "queued alarm"));
    const QString paused = FormatText(LoadString(61300), {SocketErrorText(WSAEMFILE)});
    EXPECT_TRUE(WaitUntil([&] { return events.Count(1, paused) == 1; }));
    SleepMs(200); // several more failed passes: still one event
    for (int fd : fillers) {
        close(fd);
    }
    setrlimit(RLIMIT_NOFILE, &old);

    EXPECT_TRUE(WaitUntil([&] { return l.recorder.Joined() == "queued alarm"; }));
    EXPECT_EQ(events.Count(1, paused), 1);
    EXPECT_EQ(events.Count(0, LoadString(61301)), 1);
    closesocket(client);
}
