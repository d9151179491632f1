#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include "app/MainFrame.h"
#include "app/Windowed.h"
#include "eventlog/EventSink.h"
#include "eventlog/EventView.h"

namespace {

// One 100 ms tick of the shown main window with a full list (1,024 lines) while alarms
// arrive: `range(0)` events posted from another thread, moved into the list and painted.
// At 100 alarms a second a tick carries 10 alarms; the window stays responsive while a tick
// takes a small part of its 100 ms.
void BM_ViewTick_FullList(benchmark::State& state)
{
    CEventView view{QString()};
    view.resize(900, 600);
    view.show();
    for (int i = 0; i < 1024; ++i) {
        EventSink(i % 7 == 0 ? EventType::Error : EventType::Information,
                  QStringLiteral("ALARM %1 boiler pressure high").arg(i));
    }
    view.Flush();
    QApplication::processEvents();
    const int perTick = static_cast<int>(state.range(0));
    int n = 0;
    for (auto _ : state) {
        std::thread poster([&] {
            for (int i = 0; i < perTick; ++i) {
                EventSink(EventType::Information,
                          QStringLiteral("ALARM %1 boiler pressure high").arg(++n));
            }
        });
        poster.join();
        view.Flush();
        view.viewport()->repaint();
        QApplication::processEvents();
    }
    state.counters["lines"] = view.model()->rowCount();
}
BENCHMARK(BM_ViewTick_FullList)->Arg(10)->Arg(100)->Arg(1024)->Unit(benchmark::kMillisecond);

// How long the user-interface thread is away from its event loop at a stretch while a
// printer sends 100 alarms a second into the running windowed program (listener, fan-out,
// view): the longest gap between two 5 ms timer ticks over one second.
void BM_Windowed_UiLatencyAt100AlarmsPerSecond(benchmark::State& state)
{
    CWindowed program;
    program.Start();
    for (int i = 0; i < 1024; ++i) {
        EventSink(EventType::Information, QStringLiteral("warm-up line %1").arg(i));
    }
    using Clock = std::chrono::steady_clock;
    double worstMs = 0;
    for (auto _ : state) {
        std::atomic<bool> stop{false};
        std::thread poster([&] {
            int i = 0;
            while (!stop) {
                EventSink(EventType::Information,
                          QStringLiteral("ALARM %1 boiler pressure high").arg(++i));
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
        auto last = Clock::now();
        double worst = 0;
        const auto end = last + std::chrono::seconds(1);
        while (Clock::now() < end) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
            const auto now = Clock::now();
            worst = std::max(worst, std::chrono::duration<double, std::milli>(now - last).count());
            last = now;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        stop = true;
        poster.join();
        worstMs = std::max(worstMs, worst);
    }
    state.counters["worst_gap_ms"] = worstMs;
    program.Frame()->QuitNow();
    QApplication::processEvents();
}
BENCHMARK(BM_Windowed_UiLatencyAt100AlarmsPerSecond)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/zunaro-bench-XXXXXX"));
    for (const char* name :
         {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR", "ZUNARO_HOME"}) {
        setenv(name, home.path().toLocal8Bit().constData(), 1);
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
