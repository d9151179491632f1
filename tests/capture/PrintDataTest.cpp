#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "capture/AlarmCounter.h"
#include "capture/PrintData.h"
#include "capture/RawPrintServer.h"
#include "support/TestSupport.h"

namespace {

// The application's side of the callback: a print buffer and the fan-out it hands on to.
class Owner : public IPrintDataOwner
{
public:
    const char* PrintBuffer() const override { return buffer; }
    void DispatchAlarm(const QString& text) override
    {
        std::lock_guard lock(mutex);
        dispatched.push_back(text);
    }
    std::vector<QString> Dispatched()
    {
        std::lock_guard lock(mutex);
        return dispatched;
    }

    void Deliver(const QByteArray& chunk)
    {
        std::memcpy(buffer, chunk.constData(), static_cast<std::size_t>(chunk.size()));
        OnPrintData(this, INVALID_SOCKET, static_cast<std::uint32_t>(chunk.size()));
    }

    char buffer[8200] = {};
    std::mutex mutex;
    std::vector<QString> dispatched;
};

} // namespace

TEST(PrintData, Chunk_LoggedDispatchedAndCounted)
{
    EventCollector events;
    ResetAlarmCounter();
    Owner owner;
    owner.Deliver("ALARM 1\r\n\f");
    owner.Deliver("\r\n\f"); // nothing printable: still one (empty) alarm
    owner.Deliver(QByteArray("Pump 11", 7));
    OnPrintData(&owner, INVALID_SOCKET, 0); // nothing at all

    const std::vector<EventRecord> records = events.Records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].text, u"ALARM"_qs);
    EXPECT_EQ(records[1].text, QString());
    EXPECT_EQ(records[2].text, u"Pump"_qs);
    for (const EventRecord& r : records) {
        EXPECT_EQ(r.type, 0);
    }
    EXPECT_EQ(owner.dispatched, (std::vector<QString>{u"ALARM"_qs, QString(), u"Pump"_qs}));
    EXPECT_EQ(AlarmCounterValue(), 3);
}

TEST(PrintData, ListenerToAlarm_JobSplitIntoThreeChunksGivesThreeAlarms)
{
    EventCollector events;
    ResetAlarmCounter();
    Owner owner;
    ListenerTiming timing;
    timing.acceptPollMs = 5;
    timing.stopGraceMs = 20;
    const std::uint16_t port = FreePort();
    CRawPrintServer server(&owner, &OnPrintData, port, owner.buffer, sizeof owner.buffer,
                           0x7F000001, timing);
    ASSERT_TRUE(WaitUntil([&] { return server.ListenerStatus() == ListenerAccepting; }));
    const SOCKET s = ConnectLoopback(port);
    ASSERT_NE(s, INVALID_SOCKET);
    const char* parts[] = {"Level high 1\r\n", "Level higher 1\r\n", "Level highest 1\r\n\f"};
    for (std::size_t i = 0; i < 3; ++i) {
        // Each part waits for the last one's alarm, so each is its own chunk.
        ASSERT_TRUE(SendAll(s, parts[i]));
        ASSERT_TRUE(WaitUntil([&] { return owner.Dispatched().size() == i + 1; }));
    }
    closesocket(s);
    server.Stop();
    EXPECT_EQ(owner.Dispatched(),
              (std::vector<QString>{u"Level high"_qs, u"Level higher"_qs, u"Level highest"_qs}));
    EXPECT_EQ(AlarmCounterValue(), 3);
    EXPECT_EQ(events.Count(0, u"Level higher"_qs), 1);
}
