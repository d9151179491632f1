#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Event.h"
#include "platform/Tick.h"
#include "support/TestSupport.h"

TEST(Event, SingleThread_AutoConsumesManualStays)
{
    Event automatic(Event::Reset::Auto, true);
    EXPECT_TRUE(automatic.Wait(0));
    EXPECT_FALSE(automatic.Wait(20));
    automatic.Set();
    automatic.Set(); // signals do not add up
    EXPECT_TRUE(automatic.Wait(-1));
    EXPECT_FALSE(automatic.Wait(0));

    Event manual(Event::Reset::Manual);
    EXPECT_FALSE(manual.Wait(20));
    manual.Set();
    EXPECT_TRUE(manual.Wait(0));
    EXPECT_TRUE(manual.Wait(-1));
    manual.ResetEvent();
    EXPECT_FALSE(manual.Wait(0));
}

// Blocked waiters on other threads: an auto-reset event releases one per Set, a
// manual-reset one releases them all.
TEST(Event, Waiters_AutoReleasesOneManualReleasesAll)
{
    for (const Event::Reset mode : {Event::Reset::Auto, Event::Reset::Manual}) {
        Event e(mode);
        std::atomic<int> woken{0};
        std::vector<std::thread> waiters;
        for (int i = 0; i < 3; ++i) {
            waiters.emplace_back([&] { woken += e.Wait(10000); });
        }
        SleepMs(20);
        e.Set();
        const int expected = mode == Event::Reset::Auto ? 1 : 3;
        EXPECT_TRUE(WaitUntil([&] { return woken == expected; }));
        SleepMs(50); // room for a wrongly released second waiter
        EXPECT_EQ(woken.load(), expected);
        EXPECT_EQ(e.IsSet(), mode == Event::Reset::Manual);
        while (woken < 3) {
            const int target = woken + 1;
            e.Set();
            EXPECT_TRUE(WaitUntil([&] { return woken == target; }));
        }
        for (std::thread& t : waiters) {
            t.join();
        }
    }
}
