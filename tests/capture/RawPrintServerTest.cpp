#include <gtest/gtest.h>

#include <algorithm>
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
const QString kFailed = LoadString(61234);
const QString kSucceeded = LoadString(61235);

ListenerTiming FastTiming()
{
    ListenerTiming t;
    t.acceptPollMs = 5;
    t.stopGraceMs = 1000;
    t.exhaustedBackoffMs = 50;
    return t;
}

// A listener on a free loopback port whose chunks land in a recorder.
struct Listener
{
    explicit Listener(const ListenerTiming& timing = FastTiming())
        : server(std::make_unique<CRawPrintServer>(
              &recorder, &ChunkRecorder::Callback, port, recorder.buffer.data(),
              static_cast<std::uint32_t>(recorder.buffer.size()), kLoopback, timing))
    {
        started = WaitUntil([this] { return server->ListenerStatus() == ListenerAccepting; });
    }

    ChunkRecorder recorder;
    std::uint16_t port = FreePort();
    std::unique_ptr<CRawPrintServer> server;
    bool started = false;
};

QByteArray Pattern(int size, int mul, int shift)
{
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i) {
        data[i] = static_cast<char>(i * mul ^ (i >> shift));
    }
    return data;
}

} // namespace

TEST(RawPrintServer, LongJobs_OrderedChunksBesideASilentClient)
{
    EventCollector events;
    Listener l;
    ASSERT_TRUE(l.started);
    // A client that connects and says nothing must not hold anyone up.
    const SOCKET silent = ConnectLoopback(l.port);
    ASSERT_NE(silent, INVALID_SOCKET);
    for (const QByteArray& job : {Pattern(20000, 1, 30), Pattern(1 << 20, 131, 8)}) {
        const QByteArray before = l.recorder.Joined();
        ASSERT_TRUE(SendJob(l.port, job));
        const std::size_t total = static_cast<std::size_t>(before.size() + job.size());
        ASSERT_TRUE(WaitUntil([&] { return l.recorder.TotalBytes() >= total; }, 20000));
        EXPECT_EQ(l.recorder.Joined(), before + job);
    }
    for (const QByteArray& c : l.recorder.Chunks()) {
        EXPECT_TRUE(c.size() > 0 && c.size() <= 8200) << c.size();
    }
    closesocket(silent);
    EXPECT_TRUE(WaitUntil([&] { return l.server->ClientCount() == 0; }));
    EXPECT_EQ(events.Count(0, kSucceeded), 1);
}

TEST(RawPrintServer, SeveralConnections_NoneLeftUnreadWhenOthersClose)
{
    Listener l;
    ASSERT_TRUE(l.started);
    std::vector<SOCKET> s = ConnectBurst(l.port, 4);
    ASSERT_TRUE(WaitUntil([&] { return l.server->ClientCount() == 4; }));
    // The readers that saw these closes end; the last connection must still be read.
    for (int i = 0; i < 3; ++i) {
        closesocket(s[i]);
    }
    ASSERT_TRUE(WaitUntil([&] { return l.server->ReaderCount() == 1; }));
    EXPECT_EQ(l.server->ClientCount(), 1u);
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
    std::size_t total = 0;
    for (int i = 0; i < kSenders; ++i) {
        // Every byte of sender i is the letter 'a' + i, so each chunk names its stream.
        sent[i] = QByteArray(30000 + i * 1000, static_cast<char>('a' + i));
        total += static_cast<std::size_t>(sent[i].size());
        threads.emplace_back([&, i] {
            const SOCKET s = ConnectLoopback(l.port);
            for (qsizetype off = 0; off < sent[i].size(); off += 3000) {
                SendAll(s, sent[i].mid(off, 3000));
                SleepMs(1);
            }
            closesocket(s);
        });
    }
    for (auto& t : threads) {
        t.join();
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
}

// A burst of print jobs: every connection is taken from the backlog and read, none is reset
// by the system, one job is one alarm. Jobs either end their connection or hold it open.
TEST(RawPrintServer, Burst_EveryConnectionOneAlarmNoneReset)
{
    ASSERT_TRUE(RaiseDescriptorLimit(2048)); // 500 connections, both ends in this process
    for (const auto& [connections, holdOpen] : {std::pair{100, false}, std::pair{500, true}}) {
        SCOPED_TRACE(connections);
        Listener l;
        ASSERT_TRUE(l.started);
        std::vector<SOCKET> sockets = ConnectBurst(l.port, connections);
        std::vector<QByteArray> jobs;
        for (int i = 0; i < connections; ++i) {
            jobs.push_back("job " + QByteArray::number(1000 + i));
            ASSERT_NE(sockets[i], INVALID_SOCKET) << i;
            ASSERT_TRUE(SendAll(sockets[i], jobs.back())) << i;
            if (!holdOpen) {
                ShutdownSend(sockets[i]);
            }
        }
        ASSERT_TRUE(WaitUntil([&] { return l.recorder.Chunks().size() >= jobs.size(); }, 60000))
            << l.recorder.Chunks().size();
        std::vector<QByteArray> alarms = l.recorder.Chunks();
        std::sort(alarms.begin(), alarms.end());
        EXPECT_EQ(alarms, jobs);
        // Closed jobs: the listener closes its end in order once it has read them.
        EXPECT_EQ(CountResets(sockets, holdOpen ? 0 : 5000), 0);
        for (SOCKET s : sockets) {
            closesocket(s);
        }
        EXPECT_TRUE(WaitUntil([&] { return l.server->ClientCount() == 0; }, 20000));
        EXPECT_LE(l.server->ReaderCount(), CRawPrintServer::kMaxReaders);
    }
}

// A start that fails (port taken, or listen refused) reports failure only, never success
// first, and leaves the status failed.
TEST(RawPrintServer, StartFails_OnlyFailureReported)
{
    for (const bool listenFails : {false, true}) {
        SCOPED_TRACE(listenFails ? "listen" : "bind");
        EventCollector events;
        const std::uint16_t port = FreePort();
        const SOCKET holder = CreateTcpSocket();
        if (!listenFails) {
            ASSERT_EQ(Bind(holder, SockAddrIn{kLoopback, port}), 0);
            ASSERT_EQ(Listen(holder, 1), 0);
        }
        ChunkRecorder recorder;
        std::unique_ptr<CRawPrintServer> server;
        const auto start = [&] {
            server = std::make_unique<CRawPrintServer>(&recorder, &ChunkRecorder::Callback, port,
                                                       recorder.buffer.data(), 8200, kLoopback,
                                                       FastTiming());
        };
        if (listenFails) {
            ASSERT_TRUE(RunWithListenFailing(WSAEADDRINUSE, start));
        } else {
            start();
        }
        ASSERT_TRUE(WaitUntil([&] { return events.Count(1, kFailed) == 1; }));
        EXPECT_EQ(server->ListenerStatus(), ListenerClosed);
        EXPECT_TRUE(server->Stop());
        EXPECT_EQ(events.Count(0, kSucceeded), 0);
        EXPECT_EQ(events.Records().size(), 1u);
        closesocket(holder);
    }
}

TEST(RawPrintServer, Stop_ReturnsOnceThreadsEndAndClosesEverything)
{
    ListenerTiming timing = FastTiming();
    // Far beyond the test's time-out: a Stop that sleeps its grace never returns here.
    timing.stopGraceMs = 3'600'000;
    Listener l(timing);
    ASSERT_TRUE(l.started);
    std::vector<SOCKET> clients = ConnectBurst(l.port, 5);
    ASSERT_TRUE(WaitUntil([&] { return l.server->ClientCount() == 5; }));
    EXPECT_TRUE(l.server->Stop()); // every thread ended within the grace
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
    CRawPrintServer idle(nullptr, nullptr, 0, nullptr, 0, kLoopback, timing);
    EXPECT_EQ(idle.ListenerStatus(), ListenerConstructed);
    EXPECT_TRUE(idle.Stop());
    EXPECT_EQ(idle.ListenerStatus(), ListenerClosed);
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
