// Speech latency, synthesis speed and the time StopWorker takes in the middle of a long
// text, measured through the real ALSA code against a configuration of the benchmark's own:
// the default PCM writes into a FIFO (latency) or a file (speed), or is the test plugin's
// playback device, which plays in real time or stalls (stop), instead of a sound card.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include "platform/SpeechEngine.h"
#include "voice/VoiceQueue.h"

namespace {

using Clock = std::chrono::steady_clock;

// A typical alarm line: 70 characters.
const QString kAlarm =
    QStringLiteral("2024-05-17 08:12:44 Boiler 2 pressure HIGH 12.7 bar, relief valve shut");
constexpr int kTimeoutMs = 20000;

// Several seconds of speech.
const QString kLongText = QStringLiteral(
    "Alarm on line four: the pressure of the main boiler is above its upper limit, the relief "
    "valve did not open, and the operator on duty is asked to check the pump station and the "
    "cooling water supply at once.");

QString g_home;
std::atomic<int> g_spoken{0};
std::atomic<int> g_speaking{0};

void CountSpoken(QtMsgType, const QMessageLogContext& context, const QString& message)
{
    if (qEnvironmentVariableIsSet("ZUNARO_BENCH_LOG")) {
        fprintf(stderr, "%s\n", qPrintable(message));
    }
    if (context.category && QByteArray(context.category) == "zunaro.voice") {
        g_spoken += message.startsWith(QLatin1String("spoken: "));
        g_speaking += message.startsWith(QLatin1String("speaking: "));
    }
}

void UseAlsaConfig(const QString& body)
{
    static int serial = 0;
    const QString path = g_home + QStringLiteral("/alsa-%1.conf").arg(++serial);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(body.toUtf8());
    file.close();
    qputenv("ALSA_CONFIG_PATH", QFile::encodeName(path));
}

void UseAlsaFile(const QString& capture)
{
    UseAlsaConfig(
        QStringLiteral("pcm.null { type null }\n"
                       "pcm.!default { type file slave.pcm \"null\" file \"%1\" format \"raw\" }\n")
            .arg(capture));
}

// Reads whatever the FIFO holds; waits up to timeoutMs for the first byte. Returns bytes read.
long Drain(int fd, int timeoutMs)
{
    // Between two writers a FIFO reports hang-up instead of blocking: wait for data.
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (::poll(&p, 1, int(std::max<long long>(0, left))) > 0 && (p.revents & POLLIN)) {
            break;
        }
        if (left <= 0) {
            return 0;
        }
        // Short enough not to blur a latency measured in milliseconds.
        ::usleep(200);
    }
    char buffer[65536];
    long total = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            return total;
        }
        total += n;
    }
}

// From QueueSpeech to the first sample arriving at the output: the worker's wake-up, the
// opening of the device and the synthesis of the first chunk.
void BM_QueueToFirstSample(benchmark::State& state)
{
    const QString fifoPath = g_home + QStringLiteral("/latency.fifo");
    ::unlink(QFile::encodeName(fifoPath).constData());
    ::mkfifo(QFile::encodeName(fifoPath).constData(), 0600);
    const int fd = ::open(QFile::encodeName(fifoPath).constData(), O_RDONLY | O_NONBLOCK);
    UseAlsaFile(fifoPath);
    CVoiceQueue queue;
    queue.StartWorker();
    for (auto _ : state) {
        const int before = g_spoken;
        const auto start = Clock::now();
        queue.QueueSpeech(kAlarm);
        if (Drain(fd, kTimeoutMs) == 0) {
            state.SkipWithError("no audio arrived");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        // Let the rest of the utterance play out before the next one.
        while (g_spoken == before) {
            Drain(fd, 10);
        }
        Drain(fd, 0);
    }
    queue.StopWorker();
    ::close(fd);
}
BENCHMARK(BM_QueueToFirstSample)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);

// Seconds of audio made per second of CPU for the 70-character alarm (synthesis and the
// writing of the samples to the output).
void BM_SynthesisSpeed(benchmark::State& state)
{
    const QString capture = g_home + QStringLiteral("/speed.raw");
    UseAlsaFile(capture);
    QString error;
    auto engine = SpeechEngine::Create(&error);
    if (!engine) {
        state.SkipWithError(error.toStdString().c_str());
        return;
    }
    double audioSeconds = 0;
    double cpuSeconds = 0;
    for (auto _ : state) {
        const std::clock_t cpu = std::clock();
        engine->Speak(kAlarm);
        cpuSeconds += double(std::clock() - cpu) / CLOCKS_PER_SEC;
        audioSeconds += double(QFileInfo(capture).size()) / 2 / engine->SampleRate();
    }
    state.counters["audio_s_per_cpu_s"] = cpuSeconds > 0 ? audioSeconds / cpuSeconds : 0;
    state.counters["audio_s"] = audioSeconds / double(state.iterations());
}
BENCHMARK(BM_SynthesisSpeed)->Unit(benchmark::kMillisecond);

// StopWorker while a long text is being spoken, from the call to its return (the worker
// joined): on a device playing in real time (arg 100, a third of a second into the text) and
// on one that has stalled (arg 0). The device is the tests' ALSA plugin, found through
// ZUNARO_ALSA_CTL_PLUGIN or next to the benchmark in the build tree.
void BM_StopWhileSpeaking(benchmark::State& state)
{
    QString plugin = qEnvironmentVariable("ZUNARO_ALSA_CTL_PLUGIN");
    if (plugin.isEmpty()) {
        plugin = QCoreApplication::applicationDirPath() +
                 QStringLiteral("/../tests/libzunaro_test_ctl.so");
    }
    if (!QFile::exists(plugin)) {
        state.SkipWithError("the test ALSA plugin is not built (target zunaro_test_ctl)");
        return;
    }
    UseAlsaConfig(QStringLiteral("pcm_type.zunaro_test { lib \"%1\" }\n"
                                 "pcm.!default { type zunaro_test speed %2 }\n")
                      .arg(plugin)
                      .arg(state.range(0)));
    for (auto _ : state) {
        CVoiceQueue queue;
        queue.StartWorker();
        const int before = g_speaking;
        queue.QueueSpeech(kLongText);
        const auto deadline = Clock::now() + std::chrono::milliseconds(kTimeoutMs);
        while (g_speaking == before && Clock::now() < deadline) {
            ::usleep(1000);
        }
        if (g_speaking == before) {
            state.SkipWithError("the worker did not start speaking");
            break;
        }
        ::usleep(300000);
        const auto start = Clock::now();
        queue.StopWorker();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    }
}
BENCHMARK(BM_StopWhileSpeaking)
    ->Arg(100)
    ->Arg(0)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/zunaro-bench-XXXXXX"));
    g_home = home.path();
    // A profile of its own: the voice is the default one.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(g_home));
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("zunaro.voice.debug=true"));
    qInstallMessageHandler(CountSpoken);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
