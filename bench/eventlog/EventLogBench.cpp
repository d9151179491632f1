#include <benchmark/benchmark.h>

#include <deque>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include "eventlog/EventListModel.h"
#include "eventlog/EventLogFile.h"
#include "eventlog/EventStore.h"
#include "eventlog/LocaleTime.h"

namespace {

TimeStamp Sample()
{
    TimeStamp t;
    StampFrom(SystemTime{2016, 3, 6, 5, 13, 7, 9, 600}, t);
    return t;
}

// One Date and one Time cell, as the list asks for them while painting.
void BM_FormatDateAndTime(benchmark::State& state)
{
    const TimeStamp t = Sample();
    char16_t date[CLocaleTime::kTextCapacity];
    char16_t time[CLocaleTime::kTextCapacity];
    for (auto _ : state) {
        CLocaleTime::FormatLocaleDate(t, date, CLocaleTime::kTextCapacity);
        CLocaleTime::FormatLocaleTime(t, time, CLocaleTime::kTextCapacity, true);
        benchmark::DoNotOptimize(date);
        benchmark::DoNotOptimize(time);
    }
}
BENCHMARK(BM_FormatDateAndTime);

// A burst of 1,100 events posted and moved into the list in one timer step.
void BM_TimerStepBurst(benchmark::State& state)
{
    CEventStore store;
    CEventListModel model(store);
    const QString text = QStringLiteral("Send 'alarm line' to '13800138000' successfully!");
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < 1100; ++i) {
            store.AddEvent((i & 1) ? EventType::Error : EventType::Information, text);
        }
        state.ResumeTiming();
        benchmark::DoNotOptimize(model.TimerStep());
    }
    state.SetItemsProcessed(state.iterations() * 1100);
}
BENCHMARK(BM_TimerStepBurst);

// The run log of a full list: 1,024 lines written at exit.
void BM_WriteRunLog(benchmark::State& state)
{
    QTemporaryDir dir;
    std::deque<EventRecord> shown(1024);
    for (EventRecord& r : shown) {
        r.text = QStringLiteral("Send 'alarm line, with comma' to 'ops@example.com' successfully!");
        r.time = Sample();
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(WriteRunLog(dir.path(), shown));
    }
    state.SetItemsProcessed(state.iterations() * 1024);
}
BENCHMARK(BM_WriteRunLog);

} // namespace

int main(int argc, char** argv)
{
    // A profile of its own, so the benchmark never reads or writes the user's.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
