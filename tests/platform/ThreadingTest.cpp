#include <atomic>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Event.h"
#include "platform/Tick.h"
#include "platform/WorkQueue.h"
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

// Every item is either worked on, in order, or reported: refused when the queue is full,
// dropped when the worker stops; the item in hand is cut short through the stop event.
TEST(WorkQueue, OrderOverflowAndStopAccountForEveryItem)
{
    std::mutex lock;
    std::vector<int> worked;
    std::vector<std::pair<int, WorkDrop>> dropped;
    Event entered(Event::Reset::Manual);
    CWorkQueue<int> queue(3, [&](int& item, WorkDrop why) {
        std::lock_guard<std::mutex> guard(lock);
        dropped.emplace_back(item, why);
    });
    ASSERT_TRUE(queue.Start([&](int& item, Event& stop) {
        {
            std::lock_guard<std::mutex> guard(lock);
            worked.push_back(item);
        }
        if (item == 1) {
            entered.Set();
            stop.Wait(); // a blocking step that watches the stop event
        }
    }));
    queue.Push(0);
    queue.Push(1);
    ASSERT_TRUE(entered.Wait(5000));
    EXPECT_TRUE(queue.Push(2));
    EXPECT_TRUE(queue.Push(3));
    EXPECT_TRUE(queue.Push(4));
    EXPECT_FALSE(queue.Push(5)); // bound 3 reached
    queue.Stop();
    EXPECT_FALSE(queue.Running());
    EXPECT_EQ(worked, (std::vector<int>{0, 1}));
    const std::vector<std::pair<int, WorkDrop>> expected{{5, WorkDrop::Overflow},
                                                         {2, WorkDrop::Stopped},
                                                         {3, WorkDrop::Stopped},
                                                         {4, WorkDrop::Stopped}};
    EXPECT_EQ(dropped, expected);
    // A stopped queue starts again; a worker whose set-up fails leaves items to Stop.
    dropped.clear();
    ASSERT_TRUE(queue.Start([&](int&, Event&) {}, [] { return false; }));
    queue.Push(7);
    EXPECT_TRUE(WaitUntil([&] { return !queue.Running(); }));
    queue.Stop();
    EXPECT_EQ(dropped, (std::vector<std::pair<int, WorkDrop>>{{7, WorkDrop::Stopped}}));
}
