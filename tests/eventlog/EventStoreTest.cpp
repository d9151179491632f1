#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include <QStringList>

#include "eventlog/EventSink.h"
#include "eventlog/EventStore.h"
#include "eventlog/TimeStamp.h"
#include "support/TestSupport.h"

namespace {

// Orders two stamps of the same run (years apart never happen within a test).
std::pair<int, std::uint32_t> Key(const TimeStamp& t)
{
    return {t.local.wYear * 400 + t.dayOfYear, t.millisecondsOfDay};
}

} // namespace

TEST(TimeStamp, DayOfYear_LeapRules)
{
    const int cases[][4] = {{2016, 2, 29, 59},   {2015, 3, 1, 59},    {2016, 3, 1, 60},
                            {2016, 12, 31, 365}, {2015, 12, 31, 364}, {1900, 3, 1, 59},
                            {2000, 3, 1, 60}};
    for (const auto& c : cases) {
        EXPECT_EQ(DayOfYear(c[0], c[1], c[2]), c[3]) << c[0] << '-' << c[1] << '-' << c[2];
    }
    TimeStamp s;
    StampFrom(SystemTime{2016, 2, 1, 29, 23, 59, 59, 999}, s);
    EXPECT_EQ(s.dayOfYear, 59);
    EXPECT_EQ(s.millisecondsOfDay, 86399999u);
}

TEST(EventSink, NothingRegistered_EventDropped)
{
    CEventStore store;
    EventSink(0, u"lost"_qs); // must not crash with no target
    RegisterEventStore(&store);
    EventSink(1, u"kept"_qs);
    UnregisterEventStore(&store);
    EventSink(1, u"lost again"_qs);
    const std::vector<EventRecord> taken = store.TakePending();
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0].text, u"kept"_qs);
    EXPECT_EQ(taken[0].type, 1);
    EXPECT_TRUE(store.TakePending().empty());
}

TEST(EventStore, ErrorsOnly_InformationNeverComesBack)
{
    CEventStore store;
    store.SetErrorsOnly(true);
    store.AddEvent(0, u"info while filtered"_qs);
    store.AddEvent(1, u"error while filtered"_qs);
    store.AddEvent(7, u"other type is not an error for the filter"_qs);
    store.ToggleErrorsOnly();
    EXPECT_FALSE(store.IsErrorsOnly());
    store.AddEvent(0, u"info after"_qs);
    const std::vector<EventRecord> taken = store.TakePending();
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[0].text, u"error while filtered"_qs);
    EXPECT_EQ(taken[1].text, u"info after"_qs);
}

TEST(EventStore, ManyThreads_PendingInTimeOrderNothingLost)
{
    CEventStore store;
    RegisterEventStore(&store);
    constexpr int kThreads = 8;
    constexpr int kEach = 2000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kEach; ++i) {
                EventSink(i % 2, QStringLiteral("%1:%2").arg(t).arg(i));
            }
        });
    }
    // The taker runs at the same time, as the view's timer does.
    std::vector<EventRecord> all;
    while (all.size() < kThreads * kEach) {
        for (EventRecord& r : store.TakePending()) {
            all.push_back(std::move(r));
        }
        std::this_thread::yield();
    }
    for (auto& th : threads) {
        th.join();
    }
    UnregisterEventStore(&store);
    ASSERT_EQ(all.size(), static_cast<std::size_t>(kThreads * kEach));
    std::vector<int> next(kThreads, 0);
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (i > 0) {
            ASSERT_LE(Key(all[i - 1].time), Key(all[i].time)) << "record " << i;
        }
        const QStringList parts = all[i].text.split(u':');
        const int t = parts[0].toInt();
        ASSERT_EQ(parts[1].toInt(), next[t]++) << "thread " << t << " out of order";
    }
}

TEST(EventStore, Overflow_OldestDroppedAndCounted)
{
    CEventStore store;
    const int extra = 10;
    for (int i = 0; i < static_cast<int>(CEventStore::kMaxPending) + extra; ++i) {
        store.AddEvent(1, QString::number(i));
    }
    std::size_t dropped = 0;
    const std::vector<EventRecord> taken = store.TakePending(&dropped);
    EXPECT_EQ(dropped, static_cast<std::size_t>(extra));
    ASSERT_EQ(taken.size(), CEventStore::kMaxPending);
    EXPECT_EQ(taken.front().text, QString::number(extra));
    store.TakePending(&dropped);
    EXPECT_EQ(dropped, 0u);
}

TEST(EventSink, Unregister_WaitsForPostersInsideTheStore)
{
    // A store destroyed right after unregistering must never be touched again by a poster.
    std::atomic<bool> stop{false};
    std::thread poster([&] {
        while (!stop) {
            EventSink(1, u"burst"_qs);
        }
    });
    for (int i = 0; i < 200; ++i) {
        auto store = std::make_unique<CEventStore>();
        RegisterEventStore(store.get());
        std::this_thread::yield();
        UnregisterEventStore(store.get());
        store.reset();
    }
    stop = true;
    poster.join();
    EXPECT_EQ(RegisteredEventStore(), nullptr);
}
