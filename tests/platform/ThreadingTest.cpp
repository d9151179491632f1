#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Event.h"
#include "platform/Tick.h"
#include "platform/Worker.h"
#include "support/TestSupport.h"

TEST(Event, AutoReleasesOneWaiterManualReleasesAll)
{
    for (const Event::Reset mode : {Event::Reset::Auto, Event::Reset::Manual}) {
        const bool manual = mode == Event::Reset::Manual;
        Event e(mode, true);
        e.Set(); // signals do not add up
        EXPECT_TRUE(e.Wait(0));
        EXPECT_EQ(e.Wait(0), manual);
        e.ResetEvent();
        std::atomic<int> woken{0};
        std::vector<std::jthread> waiters; // joined when they go
        for (int i = 0; i < 3; ++i) {
            waiters.emplace_back([&] { woken += e.Wait(10000); });
        }
        SleepMs(20);
        e.Set();
        EXPECT_TRUE(WaitUntil([&] { return woken == (manual ? 3 : 1); }));
        SleepMs(50); // room for a wrongly released second waiter
        EXPECT_EQ(woken.load(), manual ? 3 : 1);
        for (int target = woken + 1; target <= 3; ++target) {
            e.Set();
            EXPECT_TRUE(WaitUntil([&] { return woken == target; }));
        }
    }
}

TEST(Worker, TimedJoinRestartAndDestructorJoin)
{
    Event release(Event::Reset::Manual);
    std::atomic<int> runs{0};
    const auto body = [&] {
        release.Wait();
        ++runs;
    };
    {
        Worker w;
        ASSERT_TRUE(w.Start(body));
        EXPECT_FALSE(w.Start(body)); // one thread at a time
        EXPECT_FALSE(w.Join(30));
        EXPECT_TRUE(w.IsStarted()); // a timed-out Join leaves the thread to a later Join
        release.Set();
        EXPECT_TRUE(w.Join(5000));
        release.ResetEvent();
        ASSERT_TRUE(w.Start(body));
        EXPECT_FALSE(w.IsFinished()); // the flag belongs to the new run
        release.Set();
    }
    EXPECT_EQ(runs.load(), 2);
}
