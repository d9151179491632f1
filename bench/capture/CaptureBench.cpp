// Throughput, delivery latency, bursts of connections and idle cost of the print listener,
// measured on real loopback connections with the listener's own timing. The job benchmarks
// run the same jobs against a minimal asyncio server (python3, started here) as a yardstick.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "capture/RawPrintServer.h"
#include "platform/Socket.h"
#include "support/TestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kLoopback = 0x7F000001;
constexpr int kStartTimeoutMs = 2000;
constexpr int kDeliveryTimeoutMs = 2000;
constexpr int kAcceptTimeoutMs = 1000;
// A closed connection is gone from the table once the listener has read what was queued.
constexpr int kDrainTimeoutMs = 10000;
// A burst is read within a second; the rest of this bound only tells a failure apart.
constexpr int kBurstTimeoutMs = 60000;
constexpr std::size_t kJobSize = 200;
constexpr int kStreamWarmUpMs = 300;
constexpr int kStreamWindowMs = 3000;
constexpr int kIdleSettleMs = 500;
constexpr int kIdleWindowMs = 4000;

double Milliseconds(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

void SleepFor(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Nearest-rank percentile (p in 0..100) of the samples; 0 for none.
double Percentile(std::vector<double> samples, double p)
{
    if (samples.empty()) {
        return 0;
    }
    std::sort(samples.begin(), samples.end());
    const double rank = p / 100.0 * static_cast<double>(samples.size());
    std::size_t index = static_cast<std::size_t>(rank);
    if (static_cast<double>(index) < rank) {
        ++index;
    }
    index = std::clamp<std::size_t>(index, 1, samples.size()) - 1;
    return samples[index];
}

// What the listener handed to its data callback.
class ChunkCounter
{
public:
    struct Totals
    {
        std::uint64_t chunks = 0;
        std::uint64_t bytes = 0;
        Clock::time_point last;
    };

    static void OnChunk(void* context, SOCKET, std::uint32_t count)
    {
        auto* self = static_cast<ChunkCounter*>(context);
        const Clock::time_point now = Clock::now();
        {
            std::lock_guard lock(self->m_mutex);
            ++self->m_totals.chunks;
            self->m_totals.bytes += count;
            self->m_totals.last = now;
        }
        self->m_arrived.notify_all();
    }

    Totals Snapshot() const
    {
        std::lock_guard lock(m_mutex);
        return m_totals;
    }

    // Waits until more than seenChunks chunks arrived. Returns false after timeoutMs.
    bool WaitBeyond(std::uint64_t seenChunks, int timeoutMs, Totals* totals)
    {
        std::unique_lock lock(m_mutex);
        const bool arrived = m_arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                                [&] { return m_totals.chunks > seenChunks; });
        *totals = m_totals;
        return arrived;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
    Totals m_totals;
};

// Where a job benchmark sends its jobs: a port, and a count of the jobs that arrived whole.
class JobTarget
{
public:
    virtual ~JobTarget() = default;
    virtual bool Ready() const = 0;
    virtual std::uint16_t Port() const = 0;
    virtual ChunkCounter& Counter() = 0;
};

// A listener on a free loopback port with the program's timing, counting its chunks.
class BenchListener : public JobTarget
{
public:
    BenchListener()
    {
        m_server = std::make_unique<CRawPrintServer>(
            &m_counter, &ChunkCounter::OnChunk, m_port, m_buffer.data(),
            static_cast<std::uint32_t>(m_buffer.size()), kLoopback);
        m_ready = WaitUntil(
            [this] {
                const int status = m_server->ListenerStatus();
                return status == ListenerAccepting || status == ListenerClosed ||
                       status == ListenerAcceptFailed;
            },
            kStartTimeoutMs);
        m_ready = m_ready && m_server->ListenerStatus() == ListenerAccepting;
    }
    ~BenchListener()
    {
        CloseAll(m_clients);
        if (m_server) {
            m_server->Stop();
        }
    }
    BenchListener(const BenchListener&) = delete;
    BenchListener& operator=(const BenchListener&) = delete;

    bool Ready() const override { return m_ready; }
    std::uint16_t Port() const override { return m_port; }
    ChunkCounter& Counter() override { return m_counter; }
    std::size_t ClientCount() const { return m_server->ClientCount(); }
    std::uint64_t WakeUps() const { return m_server->WakeUps(); }

    // Opens n connections at once that stay open.
    // Returns false when one of them was refused or not taken within an accept time-out.
    bool OpenClients(int n)
    {
        m_clients = ConnectBurst(m_port, n);
        if (std::count(m_clients.begin(), m_clients.end(), INVALID_SOCKET) != 0) {
            return false;
        }
        const std::size_t wanted = m_clients.size();
        return WaitUntil([&] { return m_server->ClientCount() >= wanted; }, kAcceptTimeoutMs);
    }
    const std::vector<SOCKET>& Clients() const { return m_clients; }

    // Closes the open connections and waits until the listener has let them go.
    // Returns false when it still holds some after the drain time-out.
    bool CloseClients()
    {
        CloseAll(m_clients);
        m_clients.clear();
        return WaitUntil([this] { return m_server->ClientCount() == 0; }, kDrainTimeoutMs);
    }

private:
    std::uint16_t m_port = FreePort();
    std::vector<char> m_buffer = std::vector<char>(CRawPrintServer::kReceiveSize);
    ChunkCounter m_counter;
    std::unique_ptr<CRawPrintServer> m_server;
    std::vector<SOCKET> m_clients;
    bool m_ready = false;
};

// A minimal asyncio server that reads each connection to its end and reports every job as a
// line on its standard output; a thread here counts the lines as chunks.
class AsyncioServer : public JobTarget
{
public:
    AsyncioServer()
    {
        static const char* const kScript = R"(
import asyncio, sys
async def job(reader, writer):
    data = await reader.read()
    sys.stdout.write(f"{len(data)}\n")
    sys.stdout.flush()
    writer.close()
async def main():
    server = await asyncio.start_server(job, "127.0.0.1", int(sys.argv[1]), backlog=4096)
    print("ready", flush=True)
    await server.serve_forever()
asyncio.run(main())
)";
        int out[2];
        if (pipe(out) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        const std::string port = std::to_string(m_port);
        char* argv[] = {const_cast<char*>("python3"), const_cast<char*>("-c"),
                        const_cast<char*>(kScript), const_cast<char*>(port.c_str()), nullptr};
        const bool spawned =
            posix_spawn(&m_pid, "/usr/bin/python3", &actions, nullptr, argv, environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        if (!spawned) {
            close(out[0]);
            m_pid = -1;
            return;
        }
        m_output = fdopen(out[0], "r");
        char line[64];
        m_ready = m_output != nullptr && fgets(line, sizeof line, m_output) != nullptr &&
                  std::string(line) == "ready\n";
        if (m_ready) {
            m_lines = std::thread([this] {
                char job[64];
                while (fgets(job, sizeof job, m_output) != nullptr) {
                    ChunkCounter::OnChunk(
                        &m_counter, INVALID_SOCKET,
                        static_cast<std::uint32_t>(std::strtoul(job, nullptr, 10)));
                }
            });
        }
    }
    ~AsyncioServer() override
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_lines.joinable()) {
            m_lines.join();
        }
        if (m_output != nullptr) {
            fclose(m_output);
        }
    }
    AsyncioServer(const AsyncioServer&) = delete;
    AsyncioServer& operator=(const AsyncioServer&) = delete;

    bool Ready() const override { return m_ready; }
    std::uint16_t Port() const override { return m_port; }
    ChunkCounter& Counter() override { return m_counter; }

private:
    std::uint16_t m_port = FreePort();
    pid_t m_pid = -1;
    FILE* m_output = nullptr;
    bool m_ready = false;
    ChunkCounter m_counter;
    std::thread m_lines;
};

// The target of a job benchmark: 0 the print listener, 1 the asyncio server.
std::unique_ptr<JobTarget> MakeTarget(benchmark::State& state, int which)
{
    std::unique_ptr<JobTarget> target;
    if (which == 0) {
        target = std::make_unique<BenchListener>();
    } else {
        target = std::make_unique<AsyncioServer>();
    }
    if (!target->Ready()) {
        state.SkipWithError(which == 0 ? "listener did not start" : "asyncio server did not start");
        return nullptr;
    }
    state.SetLabel(which == 0 ? "listener" : "asyncio");
    return target;
}

// Sends one job on its own connection and waits for its first chunk.
// Returns false when the job could not be sent or was not delivered in time.
bool RunJob(JobTarget& listener, Clock::time_point* connectAt, Clock::time_point* deliveredAt)
{
    static const QByteArray job(kJobSize, 'J');
    const std::uint64_t seen = listener.Counter().Snapshot().chunks;
    *connectAt = Clock::now();
    const SOCKET s = ConnectLoopback(listener.Port());
    if (s == INVALID_SOCKET) {
        return false;
    }
    const bool sent = SendAll(s, job);
    closesocket(s);
    ChunkCounter::Totals totals;
    if (!sent || !listener.Counter().WaitBeyond(seen, kDeliveryTimeoutMs, &totals)) {
        return false;
    }
    *deliveredAt = totals.last;
    return true;
}

void ReportLatencies(benchmark::State& state, const std::vector<double>& latenciesMs)
{
    state.counters["p50_ms"] = Percentile(latenciesMs, 50);
    state.counters["p99_ms"] = Percentile(latenciesMs, 99);
    state.counters["max_ms"] = Percentile(latenciesMs, 100);
}

// Jobs one after another, each on its own connection; the next one starts as soon as the
// previous one was delivered, as a spooler works through its queue one job at a time.
void BM_SequentialJobs(benchmark::State& state)
{
    const std::unique_ptr<JobTarget> target = MakeTarget(state, static_cast<int>(state.range(1)));
    if (!target) {
        return;
    }
    JobTarget& listener = *target;
    const int jobs = static_cast<int>(state.range(0));
    std::vector<double> latencies;
    double seconds = 0;
    for (auto _ : state) {
        Clock::time_point first{};
        Clock::time_point last{};
        for (int i = 0; i < jobs; ++i) {
            Clock::time_point connectAt;
            if (!RunJob(listener, &connectAt, &last)) {
                state.SkipWithError("job not delivered");
                return;
            }
            if (i == 0) {
                first = connectAt;
            }
            latencies.push_back(Milliseconds(last - connectAt));
        }
        seconds = Seconds(last - first);
        state.SetIterationTime(seconds);
    }
    state.counters["jobs/s"] = jobs / seconds;
    ReportLatencies(state, latencies);
}
BENCHMARK(BM_SequentialJobs)
    ->Args({1000, 0})
    ->Args({1000, 1})
    ->ArgNames({"jobs", "asyncio"})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Delay from connect() to the callback for senders that send one job and close, at random
// moments (a pause of 0 to 9 ms before each job).
void BM_DeliveryLatency(benchmark::State& state)
{
    const std::unique_ptr<JobTarget> target = MakeTarget(state, static_cast<int>(state.range(1)));
    if (!target) {
        return;
    }
    JobTarget& listener = *target;
    const int jobs = static_cast<int>(state.range(0));
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> pauseMs(0, 9);
    std::vector<double> latencies;
    for (auto _ : state) {
        Clock::duration measured{};
        for (int i = 0; i < jobs; ++i) {
            SleepFor(pauseMs(random));
            Clock::time_point connectAt;
            Clock::time_point deliveredAt;
            if (!RunJob(listener, &connectAt, &deliveredAt)) {
                state.SkipWithError("job not delivered");
                return;
            }
            measured += deliveredAt - connectAt;
            latencies.push_back(Milliseconds(deliveredAt - connectAt));
        }
        state.SetIterationTime(Seconds(measured));
    }
    ReportLatencies(state, latencies);
}
BENCHMARK(BM_DeliveryLatency)
    ->Args({500, 0})
    ->Args({500, 1})
    ->ArgNames({"jobs", "asyncio"})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Chunks delivered while every connection sends full-size writes without pause.
void BM_StreamChunks(benchmark::State& state)
{
    BenchListener listener;
    if (!listener.Ready()) {
        state.SkipWithError("listener did not start");
        return;
    }
    const int connections = static_cast<int>(state.range(0));
    if (!listener.OpenClients(connections)) {
        state.SkipWithError("connections not accepted");
        return;
    }
    std::atomic<bool> stop{false};
    std::vector<std::thread> senders;
    for (SOCKET s : listener.Clients()) {
        senders.emplace_back([s, &stop] {
            const QByteArray block(CRawPrintServer::kReceiveSize, 'S');
            while (!stop && SendAll(s, block)) {
            }
        });
    }
    SleepFor(kStreamWarmUpMs);

    ChunkCounter::Totals before;
    ChunkCounter::Totals after;
    double seconds = 0;
    for (auto _ : state) {
        before = listener.Counter().Snapshot();
        const Clock::time_point start = Clock::now();
        SleepFor(kStreamWindowMs);
        after = listener.Counter().Snapshot();
        seconds = Seconds(Clock::now() - start);
        state.SetIterationTime(seconds);
    }

    // Shutting the sending side wakes a sender blocked in a full socket buffer.
    stop = true;
    for (SOCKET s : listener.Clients()) {
        ShutdownSend(s);
    }
    for (std::thread& t : senders) {
        t.join();
    }
    const Clock::time_point drainStart = Clock::now();
    if (!listener.CloseClients()) {
        state.SkipWithError("listener kept closed connections");
        return;
    }
    const double chunks = static_cast<double>(after.chunks - before.chunks);
    const double bytes = static_cast<double>(after.bytes - before.bytes);
    state.counters["chunks/s"] = chunks / seconds;
    state.counters["MB/s"] = bytes / seconds / 1e6;
    state.counters["chunk_B"] = chunks > 0 ? bytes / chunks : 0;
    state.counters["drain_ms"] = Milliseconds(Clock::now() - drainStart);
}
BENCHMARK(BM_StreamChunks)
    ->Arg(1)
    ->Arg(16)
    ->ArgName("connections")
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// A burst of print jobs, each on its own connection, all opened at once (a monitoring system
// printing a storm of alarms): the time from the first connect to the last alarm, how many
// jobs became alarms, and how many connections the system reset or refused. Jobs either end
// their connection or hold it open (the listener only: the asyncio server reads every job to
// its end).
void BM_Burst(benchmark::State& state)
{
    const int connections = static_cast<int>(state.range(0));
    const bool holdOpen = state.range(1) != 0;
    if (!RaiseDescriptorLimit(static_cast<rlim_t>(2 * connections + 256))) {
        state.SkipWithError("descriptor limit too low");
        return;
    }
    const std::unique_ptr<JobTarget> target = MakeTarget(state, static_cast<int>(state.range(2)));
    if (!target) {
        return;
    }
    JobTarget& listener = *target;
    auto* own = dynamic_cast<BenchListener*>(target.get());
    std::uint64_t alarms = 0;
    int resets = 0;
    long refused = 0;
    for (auto _ : state) {
        const std::uint64_t seen = listener.Counter().Snapshot().chunks;
        const Clock::time_point start = Clock::now();
        const std::vector<SOCKET> sockets = SendBurst(listener.Port(), connections, !holdOpen);
        WaitUntil([&] { return listener.Counter().Snapshot().chunks >= seen + connections; },
                  kBurstTimeoutMs);
        const ChunkCounter::Totals totals = listener.Counter().Snapshot();
        alarms = totals.chunks - seen;
        state.SetIterationTime(alarms > 0 ? Seconds(totals.last - start) : 0);
        resets = CountPeerEnds(sockets, holdOpen ? 0 : kDeliveryTimeoutMs).reset;
        refused = std::count(sockets.begin(), sockets.end(), INVALID_SOCKET);
        CloseAll(sockets);
    }
    if (own != nullptr && !WaitUntil([&] { return own->ClientCount() == 0; }, kDrainTimeoutMs)) {
        state.SkipWithError("listener kept closed connections");
        return;
    }
    state.counters["alarms"] = static_cast<double>(alarms);
    state.counters["reset"] = resets;
    state.counters["refused"] = static_cast<double>(refused);
}
BENCHMARK(BM_Burst)
    ->Args({100, 0, 0})
    ->Args({1000, 0, 0})
    ->Args({1000, 0, 1})
    ->Args({500, 1, 0})
    ->ArgNames({"connections", "held_open", "asyncio"})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

double CpuSeconds(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Voluntary context switches: each is one time a thread went to sleep, so their rate is the
// rate of wake-ups of the listener's threads.
long VoluntarySwitches(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_nvcsw;
}

// CPU used by the listener's threads while nothing arrives on any connection, as percent of
// one core. The benchmark thread's own share (it only sleeps) is taken out.
void BM_IdleCpu(benchmark::State& state)
{
    BenchListener listener;
    if (!listener.Ready()) {
        state.SkipWithError("listener did not start");
        return;
    }
    if (!listener.OpenClients(static_cast<int>(state.range(0)))) {
        state.SkipWithError("connections not accepted");
        return;
    }
    SleepFor(kIdleSettleMs);

    double busy = 0;
    double seconds = 0;
    long wakeups = 0;
    std::uint64_t listenerWakeUps = 0;
    for (auto _ : state) {
        const std::uint64_t wakeUps0 = listener.WakeUps();
        const double process0 = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        const double self0 = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        const long switches0 = VoluntarySwitches(RUSAGE_SELF) - VoluntarySwitches(RUSAGE_THREAD);
        const Clock::time_point start = Clock::now();
        SleepFor(kIdleWindowMs);
        seconds = Seconds(Clock::now() - start);
        const long switches1 = VoluntarySwitches(RUSAGE_SELF) - VoluntarySwitches(RUSAGE_THREAD);
        const double self1 = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        const double process1 = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        busy = (process1 - process0) - (self1 - self0);
        wakeups = switches1 - switches0;
        listenerWakeUps = listener.WakeUps() - wakeUps0;
        state.SetIterationTime(seconds);
    }
    if (!listener.CloseClients()) {
        state.SkipWithError("listener kept closed connections");
        return;
    }
    state.counters["cpu_%"] = 100.0 * busy / seconds;
    state.counters["wakeups/s"] = static_cast<double>(wakeups) / seconds;
    state.counters["listener_wakeups"] = static_cast<double>(listenerWakeUps);
    state.counters["cpu_us/wakeup"] = wakeups > 0 ? busy * 1e6 / static_cast<double>(wakeups) : 0;
}
BENCHMARK(BM_IdleCpu)
    ->Arg(0)
    ->Arg(1)
    ->Arg(10)
    ->ArgName("connections")
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
