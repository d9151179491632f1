#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include <QStringList>

#include "eventlog/EventSink.h"
#include "eventlog/EventStore.h"
#include "eventlog/TimeStamp.h"
#include "support/TestSupport.h"

TEST(EventStore, SinkAndFilter_WhatIsKept)
{
    CEventStore store;
    EventSink(EventType::Information, u"lost: nothing registered"_qs); // no target: no crash
    RegisterEventStore(&store);
    EventSink(EventType::Error, u"kept"_qs);
    store.SetErrorsOnly(true);
    EventSink(EventType::Information, u"info while filtered"_qs);
    EventSink(EventType::Error, u"error while filtered"_qs);
    store.ToggleErrorsOnly();
    EventSink(EventType::Information, u"info after"_qs);
    UnregisterEventStore(&store);
    EventSink(EventType::Error, u"lost again"_qs);
    EXPECT_EQ(TextsOf(store.TakePending()),
              (QStringList{u"kept"_qs, u"error while filtered"_qs, u"info after"_qs}));

    // Past its bound the store drops the oldest and counts them.
    for (int i = 0; i < static_cast<int>(CEventStore::kMaxPending) + 10; ++i) {
        store.AddEvent(EventType::Error, QString::number(i));
    }
    std::size_t dropped = 0;
    const std::vector<EventRecord> taken = store.TakePending(&dropped);
    EXPECT_EQ(dropped, 10u);
    ASSERT_EQ(taken.size(), CEventStore::kMaxPending);
    EXPECT_EQ(taken.front().text, u"10"_qs);
    store.TakePending(&dropped);
    EXPECT_EQ(dropped, 0u);
}

TEST(EventStore, ManyThreads_PendingInTimeOrderNothingLost)
{
    CEventStore store;
    RegisterEventStore(&store);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 2000; ++i) {
                EventSink(i % 2 ? EventType::Error : EventType::Information,
                          QStringLiteral("%1:%2").arg(t).arg(i));
            }
        });
    }
    std::vector<EventRecord> all; // taken while they post, as the view's timer does
    while (all.size() < 8 * 2000) {
        std::vector<EventRecord> taken = store.TakePending();
        all.insert(all.end(), taken.begin(), taken.end());
    }
    for (auto& th : threads) {
        th.join();
    }
    UnregisterEventStore(&store);
    int next[8] = {};
    const auto key = [](const TimeStamp& t) {
        return std::pair(t.local.wYear * 400 + t.dayOfYear, t.millisecondsOfDay);
    };
    for (std::size_t i = 0; i < all.size(); ++i) {
        ASSERT_TRUE(i == 0 || key(all[i - 1].time) <= key(all[i].time)) << "record " << i;
        const QStringList parts = all[i].text.split(u':');
        ASSERT_EQ(parts[1].toInt(), next[parts[0].toInt()]++) << "thread " << parts[0].toInt();
    }
}

TEST(EventSink, Unregister_WaitsForPostersInsideTheStore)
{
    // A store destroyed right after unregistering is never touched again by a poster.
    std::atomic<bool> stop{false};
    std::thread poster([&] {
        while (!stop) {
            EventSink(EventType::Error, u"burst"_qs);
        }
    });
    for (int i = 0; i < 200; ++i) {
        auto store = std::make_unique<CEventStore>();
        RegisterEventStore(store.get());
        std::this_thread::yield();
        UnregisterEventStore(store.get());
    }
    stop = true;
    poster.join();
    EXPECT_EQ(RegisteredEventStore(), nullptr);
}
