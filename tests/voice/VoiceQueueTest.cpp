#include <csignal>
#include <memory>

#include <gtest/gtest.h>

#include <QLocale>

#include "VoiceTestSupport.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "platform/SpeechEngine.h"
#include "support/QtPrinters.h"
#include "voice/VoiceQueue.h"

namespace {

const QString kFailed = QStringLiteral("Failed to initialize voice engine.");
const QString kSucceeded = QStringLiteral("Succeed to initialize voice engine.");

// Several seconds of speech: more audio than a pipe holds, so a FIFO capture stops the
// worker in the middle of it until the test reads.
const QString kLongText = QStringLiteral(
    "Alarm on line four: the pressure of the main boiler is above its upper limit, the relief "
    "valve did not open, and the operator on duty is asked to check the pump station and the "
    "cooling water supply at once.");

class VoiceQueueTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_capture = TestHome() + QStringLiteral("/capture-%1.raw").arg(++m_serial);
    }
    void TearDown() override
    {
        // Every worker has ended before the next test changes the ALSA configuration.
        EXPECT_TRUE(WaitUntil([] { return CVoiceQueue::LiveWorkers() == 0; }, 60000));
    }

    QString m_capture;
    static inline int m_serial = 0;
};

TEST_F(VoiceQueueTest, TakeNext_KeepsNewest1024InOrder)
{
    CVoiceQueue queue;
    QString text;
    EXPECT_FALSE(queue.TakeNext(text));
    for (int i = 1; i <= 1030; ++i) {
        queue.QueueSpeech(QString::number(i));
    }
    queue.QueueSpeech(QString()); // empty texts are queued like any other
    EXPECT_EQ(queue.Waiting(), 1031u);
    ASSERT_TRUE(queue.TakeNext(text));
    EXPECT_EQ(text, QStringLiteral("8")); // 1031 - 1024 = 7 oldest dropped
    EXPECT_EQ(queue.Waiting(), 1023u);
    int taken = 1;
    QString last;
    while (queue.TakeNext(text)) {
        ++taken;
        last = text;
    }
    EXPECT_EQ(taken, 1024);
    EXPECT_TRUE(last.isEmpty());
}

TEST_F(VoiceQueueTest, Worker_SpeaksTextQueuedBeforeStart_IntoTheOutput)
{
    UseAlsaConfig(FilePlayback(m_capture));
    EventCollector events;
    VoiceLog log;
    CVoiceQueue queue;
    queue.QueueSpeech(QStringLiteral("This is Test Voice"));
    queue.StartWorker();
    ASSERT_TRUE(WaitUntil([&] { return log.Spoken().size() == 1; }, 20000));
    queue.StopWorker();
    EXPECT_EQ(log.Spoken(), QStringList{QStringLiteral("This is Test Voice")});
    EXPECT_EQ(events.Count(0, kSucceeded), 1);
    EXPECT_EQ(events.Count(1, kFailed), 0);

    // About a second of audible speech at the engine's rate (22050 Hz mono).
    const PcmStats stats = Analyse(ReadFile(m_capture));
    EXPECT_GT(stats.samples, 22050 * 6 / 10);
    EXPECT_LT(stats.samples, 22050 * 2);
    EXPECT_GT(stats.peak, 3000);
}

TEST_F(VoiceQueueTest, Worker_DrainsTextsQueuedWhileSpeakingInOrder)
{
    FifoCapture fifo(m_capture);
    ASSERT_TRUE(fifo.IsOpen());
    UseAlsaConfig(FilePlayback(m_capture));
    EventCollector events;
    VoiceLog log;
    CVoiceQueue queue;
    queue.StartWorker();
    queue.QueueSpeech(kLongText);
    // The worker is held inside the first text: the FIFO is full and nobody reads.
    ASSERT_TRUE(
        WaitUntil([&] { return log.With(QStringLiteral("speaking: ")).size() == 1; }, 20000));
    QByteArray audio = fifo.Read(5000, 4096);
    queue.QueueSpeech(QStringLiteral("one"));
    queue.QueueSpeech(QStringLiteral("two"));
    queue.QueueSpeech(QStringLiteral("three"));
    EXPECT_TRUE(log.Spoken().isEmpty());
    ASSERT_TRUE(WaitUntil(
        [&] {
            audio += fifo.Read(10);
            return log.Spoken().size() == 4;
        },
        30000));
    queue.StopWorker();
    audio += fifo.Read();
    EXPECT_EQ(log.Spoken(), (QStringList{kLongText, QStringLiteral("one"), QStringLiteral("two"),
                                         QStringLiteral("three")}));
    EXPECT_EQ(events.Count(0, kSucceeded), 1);
    EXPECT_GT(Analyse(audio).samples, 22050 * 4); // the long text alone is several seconds
}

TEST_F(VoiceQueueTest, StopWorker_Idle_EndsTheWorkerAndRestarts)
{
    UseAlsaConfig(FilePlayback(m_capture));
    EventCollector events;
    VoiceLog log;
    CVoiceQueue queue;
    queue.StartWorker();
    ASSERT_TRUE(WaitUntil([&] { return events.Count(0, kSucceeded) == 1; }));
    queue.StopWorker();
    // Ended within the bounded wait and joined, not left behind.
    EXPECT_FALSE(queue.WorkerRunning());
    EXPECT_EQ(CVoiceQueue::LiveWorkers(), 0);

    // A second start makes a new engine and speaks what was queued meanwhile.
    queue.QueueSpeech(QStringLiteral("again"));
    queue.StartWorker();
    queue.StartWorker(); // no second worker while one runs
    ASSERT_TRUE(WaitUntil([&] { return log.Spoken().size() == 1; }, 20000));
    EXPECT_EQ(CVoiceQueue::LiveWorkers(), 1);
    queue.StopWorker();
    EXPECT_EQ(events.Count(0, kSucceeded), 2);
}

TEST_F(VoiceQueueTest, NoOutput_ReportsFailureOncePerStart_AndKeepsQueueing)
{
    UseAlsaConfig(QStringLiteral("# no PCM at all\n"));
    EventCollector events;
    CVoiceQueue queue;
    queue.StartWorker();
    ASSERT_TRUE(WaitUntil([&] { return !queue.WorkerRunning(); }, 20000));
    queue.QueueSpeech(QStringLiteral("nobody hears this"));
    queue.QueueSpeech(QStringLiteral("nor this"));
    EXPECT_EQ(queue.Waiting(), 2u);
    EXPECT_EQ(events.Count(1, kFailed), 1);
    EXPECT_EQ(events.Count(0, kSucceeded), 0);
    queue.StartWorker(); // a worker that ended on its own is replaced
    ASSERT_TRUE(WaitUntil([&] { return events.Count(1, kFailed) == 2; }, 20000));
    queue.StopWorker(); // drops what waits
    EXPECT_EQ(queue.Waiting(), 0u);
    queue.StartWorker();
    ASSERT_TRUE(WaitUntil([&] { return events.Count(1, kFailed) == 3; }, 20000));
    EXPECT_EQ(events.Records().size(), 3u);
}

TEST_F(VoiceQueueTest, StopWhileSpeaking_LeftWorkerOutlivesItsQueueSafely)
{
    FifoCapture fifo(m_capture);
    ASSERT_TRUE(fifo.IsOpen());
    UseAlsaConfig(FilePlayback(m_capture));
    EventCollector events;
    VoiceLog log;
    auto queue = std::make_unique<CVoiceQueue>(VoiceTiming{5, 3});
    queue->StartWorker();
    queue->QueueSpeech(kLongText);
    queue->QueueSpeech(QStringLiteral("never spoken"));
    ASSERT_TRUE(
        WaitUntil([&] { return log.With(QStringLiteral("speaking: ")).size() == 1; }, 20000));

    // The worker is stuck in the middle of the first text: StopWorker gives up on it,
    // drops the rest, and the queue is destroyed under the still running worker.
    queue->StopWorker();
    EXPECT_FALSE(queue->WorkerRunning());
    EXPECT_EQ(queue->Waiting(), 0u);
    EXPECT_EQ(CVoiceQueue::LiveWorkers(), 1);
    queue.reset();

    // Once the output moves again the left worker cuts its text short and ends, having
    // taken nothing more.
    ASSERT_TRUE(WaitUntil(
        [&] {
            fifo.Read(10);
            return CVoiceQueue::LiveWorkers() == 0;
        },
        30000));
    EXPECT_TRUE(log.Spoken().isEmpty());
    EXPECT_EQ(log.With(QStringLiteral("speaking: ")), QStringList{kLongText});
}

TEST_F(VoiceQueueTest, Engine_VoiceFromTheProfileElseTheLocaleElseEnglish)
{
    UseAlsaConfig(FilePlayback(m_capture));
    const auto voiceFor = [](const char* profile) {
        WriteProfileString(kProfileVoiceName, QLatin1String(profile));
        const auto engine = SpeechEngine::Create();
        return engine ? engine->VoiceName() : QStringLiteral("(no engine)");
    };
    EXPECT_EQ(voiceFor("de"), QStringLiteral("de"));
    const QString fallback = voiceFor("");
    EXPECT_EQ(voiceFor("no-such-voice"), fallback);
    if (QLocale::system().name() == QLatin1String("C")) {
        EXPECT_EQ(fallback, QStringLiteral("en"));
    }
    DeleteProfileValue(QStringLiteral("Voice"), QStringLiteral("Name"));
}

} // namespace
