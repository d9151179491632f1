// The persistent outbox on this machine's disk: every append and remove waits for its
// record to reach the disk, so these figures are the disk's sync rate more than the code's.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include "platform/Outbox.h"

namespace {

const QString kRecipient = QStringLiteral("+8613800138000");
// A full-length alarm SMS.
const QString kText = QString(70, QChar(0x8B66));

// A fresh outbox in a folder of the current directory (the build tree, a real disk; /tmp
// may be in memory).
struct Fixture
{
    explicit Fixture(int capacity = 1000000)
        : box(
              dir.path(), [](const QString&) {}, capacity)
    {
        if (!box.Open()) {
            std::abort();
        }
    }
    QTemporaryDir dir{QDir::currentPath() + QStringLiteral("/outbox-bench-XXXXXX")};
    COutbox box;
};

// One request stored, synced to the disk.
void BM_Append(benchmark::State& state)
{
    static std::unique_ptr<Fixture> f;
    if (state.thread_index() == 0) {
        f = std::make_unique<Fixture>();
    }
    for (auto _ : state) {
        if (!f->box.Append(OutboxChannel::Sms, kRecipient, kText)) {
            state.SkipWithError("append failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
    if (state.thread_index() == 0) {
        f.reset();
    }
}
BENCHMARK(BM_Append)->UseRealTime();
BENCHMARK(BM_Append)->Threads(4)->UseRealTime();

// One confirmed request removed: its tombstone synced, compaction included as it comes.
void BM_Remove(benchmark::State& state)
{
    Fixture f;
    std::vector<std::uint64_t> ids;
    for (auto _ : state) {
        if (ids.empty()) {
            state.PauseTiming();
            for (int i = 0; i < 200; ++i) {
                std::uint64_t id = 0;
                f.box.Append(OutboxChannel::Mail, kRecipient, kText, &id);
                ids.push_back(id);
            }
            state.ResumeTiming();
        }
        f.box.Remove(ids.back());
        ids.pop_back();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Remove)->UseRealTime();

// The life of one request: stored, then removed once the peer confirmed it.
void BM_AppendRemove(benchmark::State& state)
{
    Fixture f;
    for (auto _ : state) {
        std::uint64_t id = 0;
        f.box.Append(OutboxChannel::Sms, kRecipient, kText, &id);
        f.box.Remove(id);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AppendRemove)->UseRealTime();

// Start-up with a full outbox of 10,000 requests left from the last run.
void BM_OpenFull(benchmark::State& state)
{
    Fixture f(10000);
    for (int i = 0; i < 10000; ++i) {
        f.box.Append(OutboxChannel::Sms, kRecipient, kText);
    }
    for (auto _ : state) {
        COutbox again(
            f.dir.path(), [](const QString&) {}, 10000);
        benchmark::DoNotOptimize(again.Open());
    }
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_OpenFull)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
