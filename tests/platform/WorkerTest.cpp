#include <atomic>

#include <gtest/gtest.h>

#include "platform/Event.h"
#include "platform/Tick.h"
#include "platform/Worker.h"
#include "support/TestSupport.h"

TEST(Worker, Running_FinishedFlagAndJoinTimeout)
{
    Event release(Event::Reset::Manual);
    Worker w;
    EXPECT_TRUE(w.Join(0)); // nothing started
    ASSERT_TRUE(w.Start([&] { release.Wait(); }));
    EXPECT_FALSE(w.IsFinished());
    EXPECT_FALSE(w.Join(30));
    EXPECT_TRUE(w.IsStarted()); // a timed-out Join leaves the thread to a later Join
    release.Set();
    EXPECT_TRUE(WaitUntil([&] { return w.IsFinished(); }));
    EXPECT_TRUE(w.Join(5000));
    EXPECT_FALSE(w.IsStarted());
}

TEST(Worker, Start_TwiceRefusedAgainAfterJoin)
{
    Event release(Event::Reset::Manual);
    std::atomic<int> runs{0};
    const auto body = [&] {
        ++runs;
        release.Wait();
    };
    Worker w;
    ASSERT_TRUE(w.Start(body));
    EXPECT_FALSE(w.Start([&] { runs += 100; }));
    release.Set();
    ASSERT_TRUE(w.Join());

    release.ResetEvent();
    ASSERT_TRUE(w.Start(body));
    EXPECT_FALSE(w.IsFinished()); // the flag belongs to the new run
    release.Set();
    ASSERT_TRUE(w.Join());
    EXPECT_EQ(runs.load(), 2);
}

TEST(Worker, Destructor_JoinsRunningThread)
{
    std::atomic<bool> done{false};
    {
        Worker w;
        ASSERT_TRUE(w.Start([&] {
            SleepMs(30);
            done = true;
        }));
    }
    EXPECT_TRUE(done.load());
}
