// Alarm mails through CMailQueue to the local test SMTP server (tests/tools/smtp_server.py,
// AUTH LOGIN over plain TCP): mails per second with a full queue, and the time from
// QueueMail until the server has stored the message. Then the time StopWorker takes while
// the worker waits on a server that accepts and never answers (plain: no greeting; TLS: no
// handshake). The program runs in a temporary profile and data folder of its own.

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "eventlog/EventSink.h"
#include "eventlog/EventStore.h"
#include "mail/MailQueue.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "platform/Socket.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kBatch = 50;
constexpr int kTimeoutMs = 30000;

QString g_peerDir;
pid_t g_peer = -1;

QString ToolsFolder()
{
    if (const char* tools = std::getenv("ZUNARO_TEST_TOOLS")) {
        return QString::fromLocal8Bit(tools);
    }
    // bench/mail/MailBench.cpp -> the repository root
    return QFileInfo(QString::fromLocal8Bit(__FILE__)).absoluteDir().absolutePath() +
           "/../../tests/tools";
}

bool StartPeer(const QString& home)
{
    g_peerDir = home + "/peer";
    QDir().mkpath(g_peerDir);
    const QByteArray script = (ToolsFolder() + "/smtp_server.py").toLocal8Bit();
    const QByteArray dir = g_peerDir.toLocal8Bit();
    std::vector<const char*> argv{"/usr/bin/python3",
                                  script.constData(),
                                  "--dir",
                                  dir.constData(),
                                  "--mechanisms",
                                  "LOGIN",
                                  nullptr};
    g_peer = fork();
    if (g_peer == 0) {
        execv(argv[0], const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    const auto end = Clock::now() + std::chrono::milliseconds(kTimeoutMs);
    QFile ready(g_peerDir + "/ready.json");
    while (!ready.exists()) {
        if (Clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!ready.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QJsonObject o = QJsonDocument::fromJson(ready.readAll()).object();
    WriteProfileString(kProfileMailServer, "127.0.0.1");
    WriteProfileInt(kProfileMailPort, o.value("plain_port").toInt());
    return o.value("plain_port").toInt() != 0;
}

void StopPeer()
{
    if (g_peer > 0) {
        kill(g_peer, SIGTERM);
        int status = 0;
        waitpid(g_peer, &status, 0);
    }
}

std::size_t StoredMessages()
{
    std::error_code ec;
    std::size_t n = 0;
    for (const auto& entry : fs::directory_iterator(g_peerDir.toStdString() + "/messages", ec)) {
        n += entry.path().extension() == ".json" ? 1 : 0;
    }
    return n;
}

// Waits until the server holds n messages. False on time-out.
bool WaitStored(std::size_t n)
{
    const auto end = Clock::now() + std::chrono::milliseconds(kTimeoutMs);
    while (StoredMessages() < n) {
        if (Clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

// Counts the outcome events of the queue; failures end the benchmark with an error.
struct Outcomes
{
    Outcomes() { RegisterEventStore(&store); }
    ~Outcomes() { UnregisterEventStore(&store); }
    bool Take(int* ok, int* failed)
    {
        for (const EventRecord& r : store.TakePending()) {
            (r.type == EventType::Information ? *ok : *failed) += 1;
        }
        return *failed == 0;
    }
    CEventStore store;
};

void BM_AlarmMailsPerSecond(benchmark::State& state)
{
    Outcomes outcomes;
    CMailQueue queue;
    queue.SetAccount("alarm@zunaro.test", "secret");
    queue.StartWorker();
    int ok = 0;
    int failed = 0;
    for (auto _ : state) {
        ok = 0;
        const auto start = Clock::now();
        for (int i = 0; i < kBatch; ++i) {
            queue.QueueMail("duty@example.org", QString("Alarm %1").arg(i));
        }
        const auto end = start + std::chrono::milliseconds(kTimeoutMs);
        while (ok < kBatch && outcomes.Take(&ok, &failed) && Clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        if (ok < kBatch) {
            state.SkipWithError("mails not sent");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    }
    queue.StopWorker();
    state.SetItemsProcessed(state.iterations() * kBatch);
    state.counters["mails_per_s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * kBatch), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_AlarmMailsPerSecond)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_QueueToAcceptance(benchmark::State& state)
{
    Outcomes outcomes;
    CMailQueue queue;
    queue.SetAccount("alarm@zunaro.test", "secret");
    queue.StartWorker();
    std::vector<double> samples;
    for (auto _ : state) {
        const std::size_t before = StoredMessages();
        const auto start = Clock::now();
        queue.QueueMail("duty@example.org", "Fire in hall 3");
        if (!WaitStored(before + 1)) {
            state.SkipWithError("mail not accepted");
            break;
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        samples.push_back(seconds * 1000.0);
        state.SetIterationTime(seconds);
        // The session ends with QUIT; let it finish before the next mail is timed.
        int ok = 0;
        int failed = 0;
        while (ok == 0 && outcomes.Take(&ok, &failed)) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
    queue.StopWorker();
    if (!samples.empty()) {
        std::sort(samples.begin(), samples.end());
        state.counters["median_ms"] = samples[samples.size() / 2];
    }
}
BENCHMARK(BM_QueueToAcceptance)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(100);

// A server that accepts (the kernel completes the connection) and never says a word.
void BM_StopWorkerSilentServer(benchmark::State& state)
{
    const SOCKET silent = CreateTcpSocket();
    Bind(silent, SockAddrIn{0x7F000001, 0});
    Listen(silent, 64);
    WriteProfileInt(kProfileMailPort, LocalAddress(silent).port);
    WriteProfileInt(kProfileMailSecurity, static_cast<int>(state.range(0)));
    std::vector<double> samples;
    for (auto _ : state) {
        CMailQueue queue; // the default time-outs: minutes per step
        queue.SetAccount("alarm@zunaro.test", "secret");
        queue.StartWorker();
        queue.QueueMail("duty@example.org", "Fire in hall 3");
        std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the session is waiting
        const auto start = Clock::now();
        queue.StopWorker();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(seconds);
        samples.push_back(seconds * 1000.0);
    }
    std::sort(samples.begin(), samples.end());
    state.counters["median_ms"] = samples[samples.size() / 2];
    state.counters["max_ms"] = samples.back();
    WriteProfileInt(kProfileMailSecurity, 0);
    closesocket(silent);
}
BENCHMARK(BM_StopWorkerSilentServer)
    ->Arg(CSmtpSession::SecurityNone)
    ->Arg(CSmtpSession::SecurityImplicitTls)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home(QDir::tempPath() + "/zunaro-bench-XXXXXX");
    for (const char* name :
         {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR", "ZUNARO_HOME"}) {
        const QString path = home.path() + "/" + name;
        QDir().mkpath(path);
        setenv(name, path.toLocal8Bit().constData(), 1);
    }
    QCoreApplication app(argc, argv);
    if (!StartPeer(home.path())) {
        std::fprintf(stderr, "the test SMTP server did not start\n");
        StopPeer();
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    StopPeer();
    return 0;
}
