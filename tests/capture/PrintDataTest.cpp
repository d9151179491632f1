#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "capture/AlarmCounter.h"
#include "capture/PrintData.h"
#include "capture/RawPrintServer.h"
#include "support/TestSupport.h"

namespace {

// The application's side of the callback: the print buffer and the fan-out it hands on to.
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

    char buffer[8200] = {};
    std::mutex mutex;
    std::vector<QString> dispatched;
};

} // namespace

TEST(PrintData, JobInThreeChunks_ThreeAlarmsLoggedDispatchedAndCounted)
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
    // The second part has nothing printable: it is still one (empty) alarm.
    const char* parts[] = {"ALARM 1\r\n\f", "\r\n\f", "Level high 1\r\n"};
    for (std::size_t i = 0; i < 3; ++i) {
        // Each part waits for the last one's alarm, so each is its own chunk.
        ASSERT_TRUE(SendAll(s, parts[i]));
        ASSERT_TRUE(WaitUntil([&] { return owner.Dispatched().size() == i + 1; }));
    }
    closesocket(s);
    server.Stop();
    OnPrintData(&owner, INVALID_SOCKET, 0); // an empty chunk is no alarm at all

    const std::vector<QString> expected{"ALARM", QString(), "Level high"};
    EXPECT_EQ(owner.Dispatched(), expected);
    EXPECT_EQ(AlarmCounterValue(), 3);
    std::vector<QString> logged;
    for (const EventRecord& r : events.Records()) {
        if (r.type == 0 && !r.text.startsWith("Succeed")) {
            logged.push_back(r.text);
        }
    }
    EXPECT_EQ(logged, expected);
}
