#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <vector>

#include "capture/RawPrintServer.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "platform/StringIds.h"
#include "platform/StringTable.h"
#include "platform/Tick.h"
#include "support/TestSupport.h"

namespace {

constexpr std::uint32_t kLoopback = 0x7F000001;
const QString kFailed = LoadString(kIdsFailedToInitialize);
const QString kSucceeded = LoadString(kIdsSucceedToInitialize);

constexpr ListenerTiming kFast{.chunkGapMs = 10, .stopGraceMs = 1000, .exhaustedBackoffMs = 50};

// A listener on a free loopback port whose chunks land in a recorder.
class RawPrintServer : public testing::Test
{
protected:
    void Create(const ListenerTiming& timing = kFast)
    {
        server =
            std::make_unique<CRawPrintServer>(recorder.get(), &ChunkRecorder::Callback, port,
                                              recorder->buffer.data(), 8200, kLoopback, timing);
    }
    // Replaces the listener and its recorder by new ones.
    void Start(const ListenerTiming& timing = kFast)
    {
        server.reset();
        recorder = std::make_unique<ChunkRecorder>();
        Create(timing);
        ASSERT_TRUE(WaitUntil([this] { return server->ListenerStatus() == ListenerAccepting; }));
    }
    // A start that fails reports the failure only, never success first, and stays failed.
    void ExpectFailedStart()
    {
        ASSERT_TRUE(WaitUntil([&] { return events.Count(EventType::Error, kFailed) == 1; }));
        EXPECT_EQ(server->ListenerStatus(), ListenerClosed);
        EXPECT_TRUE(server->Stop());
        EXPECT_EQ(events.Records().size(), 1u);
    }

    EventCollector events;
    std::unique_ptr<ChunkRecorder> recorder = std::make_unique<ChunkRecorder>();
    std::uint16_t port = FreePort();
    std::unique_ptr<CRawPrintServer> server;
};

} // namespace

TEST_F(RawPrintServer, SeveralConnections_NoneLeftUnreadWhenOthersClose)
{
    Start();
    std::vector<SOCKET> s = ConnectBurst(port, 4);
    ASSERT_TRUE(WaitUntil([&] { return server->ClientCount() == 4; }));
    const std::uint64_t wakeUps = server->WakeUps();
    SleepMs(300);
    EXPECT_EQ(server->WakeUps(), wakeUps); // idle connections never wake the listener
    CloseAll({s[0], s[1], s[2]});
    ASSERT_TRUE(WaitUntil([&] { return server->ClientCount() == 1; }));
    EXPECT_TRUE(recorder->Chunks().empty()); // open and close without data: no alarm
    ASSERT_TRUE(SendAll(s[3], "still here\r\n"));
    EXPECT_TRUE(WaitUntil([&] { return recorder->Joined() == "still here\r\n"; }));
    closesocket(s[3]);
    EXPECT_TRUE(WaitUntil([&] { return server->ClientCount() == 0; }));
}

TEST_F(RawPrintServer, ConcurrentJobs_EachStreamWholeInOrderCallbacksNeverOverlap)
{
    Start();
    const SOCKET silent = ConnectLoopback(port); // says nothing, must not hold anyone up
    recorder->callbackDelayMs = 1;
    // Sender i sends only the letter 'a' + i, taking turns with the others.
    const std::vector<SOCKET> senders = ConnectBurst(port, 8);
    std::vector<QByteArray> sent;
    std::size_t total = 0;
    for (int i = 0; i < 8; ++i) {
        sent.emplace_back(i == 0 ? 1 << 20 : 30000 + i * 1000, static_cast<char>('a' + i));
        total += static_cast<std::size_t>(sent[i].size());
    }
    for (qsizetype off = 0; off < sent[0].size(); off += 3000) {
        for (int i = 0; i < 8; ++i) {
            ASSERT_TRUE(off >= sent[i].size() || SendAll(senders[i], sent[i].mid(off, 3000)));
        }
    }
    CloseAll(senders);
    ASSERT_TRUE(WaitUntil([&] { return std::size_t(recorder->Joined().size()) >= total; }, 20000));
    std::map<char, QByteArray> streams;
    for (const QByteArray& c : recorder->Chunks()) {
        ASSERT_TRUE(c.size() > 0 && c.size() <= 8200) << c.size();
        ASSERT_EQ(c.count(c[0]), c.size()) << "a chunk mixed two connections";
        streams[c[0]] += c;
    }
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(streams[static_cast<char>('a' + i)], sent[i]);
    }
    EXPECT_FALSE(recorder->overlapped());
    closesocket(silent);
    EXPECT_TRUE(WaitUntil([&] { return server->ClientCount() == 0; }));
    EXPECT_EQ(events.Count(EventType::Information, kSucceeded), 1);
}

// Bursts of print jobs that end their connection or hold it open: every one is read as one
// alarm, none is reset.
TEST_F(RawPrintServer, Bursts_EveryJobReadNoneReset)
{
    if (!RaiseDescriptorLimit(2048)) { // both ends of every connection are ours
        GTEST_SKIP() << "2048 descriptors are not allowed here";
    }
    for (const auto& [connections, holdOpen] : {std::pair{100, false}, std::pair{500, true}}) {
        SCOPED_TRACE(connections);
        Start();
        std::vector<SOCKET> sockets = SendBurst(port, connections, !holdOpen);
        ASSERT_EQ(std::count(sockets.begin(), sockets.end(), INVALID_SOCKET), 0);
        ASSERT_TRUE(WaitUntil([&] { return recorder->Chunks().size() >= sockets.size(); }, 60000))
            << recorder->Chunks().size();
        std::vector<QByteArray> alarms = recorder->Chunks();
        std::sort(alarms.begin(), alarms.end());
        EXPECT_EQ(alarms, BurstJobs(connections));
        const PeerEnds ends = CountPeerEnds(sockets, holdOpen ? 0 : 5000);
        EXPECT_EQ(ends.reset, 0);
        EXPECT_EQ(holdOpen ? ends.open : ends.closed, connections);
        CloseAll(sockets);
        EXPECT_TRUE(WaitUntil([&] { return server->ClientCount() == 0; }, 20000));
    }
}

TEST_F(RawPrintServer, PortTaken_OnlyFailureReported)
{
    const SOCKET holder = CreateTcpSocket();
    ASSERT_EQ(Bind(holder, SockAddrIn{kLoopback, port}), 0);
    ASSERT_EQ(Listen(holder, 1), 0);
    Create();
    ExpectFailedStart();
    closesocket(holder);
}

TEST_F(RawPrintServer, ListenRefused_OnlyFailureReported)
{
    if (!RunWithListenFailing(WSAEADDRINUSE, [this] { Create(); })) {
        GTEST_SKIP() << "system call filters are not allowed here";
    }
    ExpectFailedStart();
}

TEST_F(RawPrintServer, Stop_ReturnsOnceThreadsEndAndClosesEverything)
{
    Start({.chunkGapMs = 10, .stopGraceMs = 3'600'000}); // a Stop sleeping its grace hangs
    std::vector<SOCKET> clients = ConnectBurst(port, 5);
    ASSERT_TRUE(WaitUntil([&] { return server->ClientCount() == 5; }));
    EXPECT_TRUE(server->Stop()); // every thread ended within the grace
    EXPECT_EQ(server->ClientCount(), 0u);
    EXPECT_EQ(CountPeerEnds(clients, 5000).closed, 5); // the listener closed its ends
    CloseAll(clients);
    EXPECT_EQ(ConnectLoopback(port), INVALID_SOCKET); // nothing listens any more

    // Port 0 starts no thread, and Stop still completes.
    CRawPrintServer idle(nullptr, nullptr, 0, nullptr, 0, kLoopback, kFast);
    EXPECT_TRUE(idle.Stop());
    EXPECT_EQ(idle.ListenerStatus(), ListenerClosed);
}

TEST_F(RawPrintServer, DescriptorExhaustion_ReportedOnceThenCaptureGoesOn)
{
    Start();
    const SOCKET client = CreateTcpSocket();
    ASSERT_NE(client, INVALID_SOCKET);
    DescriptorExhaustion exhaustion;
    ASSERT_EQ(Connect(client, SockAddrIn{kLoopback, port}), 0);
    ASSERT_TRUE(SendAll(client, "queued alarm"));
    const QString paused = FormatText(LoadString(kIdsCapturePaused), {SocketErrorText(WSAEMFILE)});
    EXPECT_TRUE(WaitUntil([&] { return events.Count(EventType::Error, paused) == 1; }));
    SleepMs(200); // more failed passes, still one event
    exhaustion.End();
    EXPECT_TRUE(WaitUntil([&] { return recorder->Joined() == "queued alarm"; }));
    EXPECT_EQ(events.Count(EventType::Error, paused), 1);
    EXPECT_EQ(events.Count(EventType::Information, LoadString(kIdsCaptureResumed)), 1);
    closesocket(client);
}

// How a job sent in parts 20 ms apart becomes alarms: the sender's pause ends a chunk, and so
// do its close and a full buffer; a chunk still gathering when the listener stops is delivered.
TEST_F(RawPrintServer, JobInParts_ChunkEndsAtGapCloseOrFullBuffer)
{
    const std::vector<QByteArray> words{"one ", "two ", "three"};
    const QByteArray full(8000, 'f'), over(300, 'o');
    const struct
    {
        const char* name;
        int gapMs;
        std::vector<QByteArray> parts, alarms;
        bool close;
        std::size_t beforeStop; // alarms delivered before Stop
    } cases[] = {
        {"pauses shorter than the gap", 100, words, {"one two three"}, false, 1},
        {"gap 0: every part at once", 0, words, words, false, 3},
        {"close ends it without the gap", 60000, words, {"one two three"}, true, 1},
        {"full buffer", 60000, {full, over}, {full + over.left(200), over.left(100)}, false, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ListenerTiming timing = kFast;
        timing.chunkGapMs = c.gapMs;
        Start(timing);
        const SOCKET s = ConnectLoopback(port);
        for (const QByteArray& part : c.parts) {
            ASSERT_TRUE(SendAll(s, part));
            SleepMs(20);
        }
        if (c.close) {
            ShutdownSend(s);
        }
        EXPECT_TRUE(WaitUntil([&] { return recorder->Chunks().size() >= c.beforeStop; }));
        EXPECT_EQ(recorder->Chunks().size(), c.beforeStop);
        EXPECT_TRUE(server->Stop());
        EXPECT_EQ(recorder->Chunks(), c.alarms);
        closesocket(s);
    }
}

TEST_F(RawPrintServer, ChunkGapFromProfile_OutOfRangeValuesBounded)
{
    const std::pair<int, int> cases[] = {{0, 0}, {250, 250}, {-5, 100}, {3'600'000, 10000}};
    for (const auto& [stored, used] : cases) {
        ASSERT_TRUE(WriteProfileInt(kProfileListenerChunkGapMs, stored));
        Create(ListenerTiming{});
        EXPECT_EQ(server->ChunkGapMs(), used) << stored;
        server.reset();
    }
}
