// PDU encoding and decoding per message, listing parsing, the CPU a running modem driver
// costs while it polls an idle modem (the simulator on a pty pair), and how long Replace and
// a stop take against a silent device (a pty whose far side never answers).

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>

#include <pty.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include "platform/Profile.h"
#include "platform/Tick.h"
#include "sms/GsmModem.h"
#include "sms/SmsCodec.h"

namespace {

const char kUcs2Pdu[] =
    "0891683108200505F0240D91683118886666F50008211030412552230A4F60597DFF0C4E16754C";
const char k7BitPdu[] = "07917283010010F5040BC87238880900F10000993092516195800AE8329BFD4697D9EC37";

SmsRecord AlarmRecord(const QString& text)
{
    SmsRecord r{};
    std::memcpy(r.SCA, "8613800000500", 14);
    std::memcpy(r.TPA, "8613000000001", 14);
    const QByteArray utf8 = text.toUtf8();
    std::memcpy(r.UD, utf8.constData(), static_cast<std::size_t>(utf8.size()));
    r.DCS = kDcsUcs2;
    return r;
}

void BM_EncodeSubmitUcs2_70(benchmark::State& state)
{
    const SmsRecord r = AlarmRecord(QString(70, QChar(0x8B66)));
    char text[kSmsPduTextSize];
    for (auto _ : state) {
        benchmark::DoNotOptimize(EncodeSubmitPdu(r, text));
    }
}
BENCHMARK(BM_EncodeSubmitUcs2_70);

void BM_EncodeSubmitAlarm(benchmark::State& state)
{
    const SmsRecord r = AlarmRecord(QStringLiteral("ALARM"));
    char text[kSmsPduTextSize];
    for (auto _ : state) {
        benchmark::DoNotOptimize(EncodeSubmitPdu(r, text));
    }
}
BENCHMARK(BM_EncodeSubmitAlarm);

void BM_DecodeDeliver(benchmark::State& state, const char* pdu)
{
    const std::size_t n = std::strlen(pdu);
    SmsRecord r{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(DecodeDeliverPdu(pdu, n, r));
    }
}
BENCHMARK_CAPTURE(BM_DecodeDeliver, ucs2, kUcs2Pdu);
BENCHMARK_CAPTURE(BM_DecodeDeliver, sevenBit, k7BitPdu);

void BM_ParseList40(benchmark::State& state)
{
    std::string listing;
    for (int i = 1; i <= 40; ++i) {
        listing += "\r\n+CMGL: " + std::to_string(i) + ",0,,23\r\n" + kUcs2Pdu;
    }
    listing += "\r\n\r\nOK\r\n";
    static SmsRecord records[64];
    for (auto _ : state) {
        benchmark::DoNotOptimize(ParseList(listing.data(), listing.size(), records, 64));
    }
}
BENCHMARK(BM_ParseList40);

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A driver with the default timing polls the simulator's empty inbox for a few
// seconds; the counter is the CPU it takes as a percentage of one core.
void BM_IdleDriverCpu(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString link = dir.path() + QStringLiteral("/ttyModem");
    const QString sim = QFileInfo(QStringLiteral(__FILE__)).absolutePath() +
                        QStringLiteral("/../../tests/tools/modem_sim.py");
    QProcess process;
    process.start(QStringLiteral("/usr/bin/python3"), {sim, QStringLiteral("--link"), link});
    if (!process.waitForStarted(5000)) {
        state.SkipWithError("simulator did not start");
        return;
    }
    for (int i = 0; i < 500 && !QFileInfo::exists(link); ++i) {
        SleepMs(10);
    }
    double cpu = 0;
    double wall = 0;
    for (auto _ : state) {
        CGsmModem modem(link);
        for (int i = 0; i < 500 && modem.SmscNumber().isEmpty(); ++i) {
            SleepMs(10); // the set-up runs on the worker
        }
        if (modem.SmscNumber().isEmpty()) {
            state.SkipWithError("modem did not connect");
            break;
        }
        const double c0 = CpuSeconds();
        const std::uint64_t t0 = GetTickCount64();
        SleepMs(static_cast<int>(state.range(0)));
        cpu += CpuSeconds() - c0;
        wall += static_cast<double>(GetTickCount64() - t0) / 1000.0;
    }
    process.terminate();
    process.waitForFinished(5000);
    state.counters["cpu_percent"] = wall > 0 ? 100.0 * cpu / wall : 0;
}
BENCHMARK(BM_IdleDriverCpu)->Arg(5000)->Iterations(1)->Unit(benchmark::kMillisecond);

// A driver whose port stands for no device keeps trying to open it every cycle; the
// counter is the CPU that costs. Second argument: 0 COM9 through the device list, 1 a
// device path, 2 COM9 named in the profile (a private one).
void BM_AbsentPortCpu(benchmark::State& state)
{
    QTemporaryDir home;
    setenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()).constData(), 1);
    if (state.range(1) == 2) {
        WriteProfileString(QStringLiteral("Ports"), QStringLiteral("COM9"),
                           QStringLiteral("/dev/zunaro-absent"));
    }
    double cpu = 0;
    double wall = 0;
    for (auto _ : state) {
        CGsmModem modem(state.range(1) == 1 ? QStringLiteral("/dev/zunaro-absent")
                                            : QStringLiteral("COM9"));
        const double c0 = CpuSeconds();
        const std::uint64_t t0 = GetTickCount64();
        SleepMs(static_cast<int>(state.range(0)));
        cpu += CpuSeconds() - c0;
        wall += static_cast<double>(GetTickCount64() - t0) / 1000.0;
    }
    state.counters["cpu_percent"] = wall > 0 ? 100.0 * cpu / wall : 0;
}
BENCHMARK(BM_AbsentPortCpu)
    ->Args({3000, 0})
    ->Args({3000, 1})
    ->Args({3000, 2})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// SMS a minute with the default timing (a ten-second time-out) against a simulator that
// answers every message after 2 s: the time from the first message written to the last.
void BM_SmsPerMinuteSlowModem(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString link = dir.path() + QStringLiteral("/ttyModem");
    const QString transcript = dir.path() + QStringLiteral("/transcript.bin");
    const QString sim = QFileInfo(QStringLiteral(__FILE__)).absolutePath() +
                        QStringLiteral("/../../tests/tools/modem_sim.py");
    QProcess process;
    process.start(QStringLiteral("/usr/bin/python3"),
                  {sim, QStringLiteral("--link"), link, QStringLiteral("--transcript"), transcript,
                   QStringLiteral("--rule"), QStringLiteral("PDU=late:2000")});
    for (int i = 0; i < 500 && !QFileInfo::exists(link); ++i) {
        SleepMs(10);
    }
    const auto written = [&transcript] {
        QFile f(transcript);
        return f.open(QIODevice::ReadOnly) ? f.readAll().count('\x1a') : 0;
    };
    const int messages = static_cast<int>(state.range(0));
    double perMinute = 0;
    for (auto _ : state) {
        CGsmModem modem(link);
        for (int i = 0; i < messages; ++i) {
            modem.QueueSms(QStringLiteral("13000000001"), QStringLiteral("ALARM %1").arg(i));
        }
        const qsizetype before = written();
        const auto waitFor = [&](qsizetype count) {
            for (int i = 0; i < 24000 && written() < count; ++i) {
                SleepMs(5);
            }
            return written() >= count;
        };
        if (!waitFor(before + 1)) {
            state.SkipWithError("nothing was sent");
            break;
        }
        const std::uint64_t t0 = GetTickCount64();
        if (!waitFor(before + messages)) {
            state.SkipWithError("not every message was sent");
            break;
        }
        SleepMs(2000); // the last answer
        const double minutes = static_cast<double>(GetTickCount64() - t0 + 2000) / 60000.0;
        perMinute = messages / minutes;
    }
    process.terminate();
    process.waitForFinished(5000);
    state.counters["sms_per_minute"] = perMinute;
}
BENCHMARK(BM_SmsPerMinuteSlowModem)->Arg(8)->Iterations(1)->Unit(benchmark::kSecond);

// A pty whose far side nobody reads or answers: a modem that is switched off.
struct SilentDevice
{
    SilentDevice() { openpty(&master, &slave, name, nullptr, nullptr); }
    ~SilentDevice() { close(slave), close(master); }
    int master = -1;
    int slave = -1;
    char name[256] = {};
};

// Replace returns at once: the set-up (its first read waits 1.5 s for an answer that never
// comes) runs on the new driver's worker, and the old driver is stopped and joined there.
void BM_ReplaceSilentDevice(benchmark::State& state)
{
    SilentDevice device;
    CModemSlot slot;
    for (auto _ : state) {
        slot.Replace(QString::fromLocal8Bit(device.name));
        state.PauseTiming();
        SleepMs(50); // the worker is in the middle of its set-up read
        state.ResumeTiming();
    }
    slot.Clear();
}
BENCHMARK(BM_ReplaceSilentDevice)->Iterations(20)->Unit(benchmark::kMicrosecond);

// Stopping a driver whose worker waits in the set-up read of a silent device (the read alone
// would take 1.5 s): StopWorker cuts it short and joins the worker.
void BM_StopWorkerSilentDevice(benchmark::State& state)
{
    SilentDevice device;
    for (auto _ : state) {
        state.PauseTiming();
        auto modem = std::make_unique<CGsmModem>(QString::fromLocal8Bit(device.name));
        SleepMs(50);
        state.ResumeTiming();
        modem->StopWorker();
        state.PauseTiming();
        modem.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_StopWorkerSilentDevice)->Iterations(20)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
