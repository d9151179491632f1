#include <gtest/gtest.h>

#include <QLocale>

#include "VoiceTestSupport.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "platform/SpeechEngine.h"
#include "support/QtPrinters.h"
#include "voice/VoiceQueue.h"

namespace {

// Events as "<type> <text>".
const QString kFailed = QStringLiteral("1 Failed to initialize voice engine.");
const QString kSucceeded = QStringLiteral("0 Succeed to initialize voice engine.");
const QString kQueueFull = QStringLiteral("1 Speak '%1' unsuccessfully! The speech queue is full.");
const QString kStopped = QStringLiteral("1 Speak '%1' unsuccessfully! The speech worker stopped.");

// Several seconds of speech.
const QString kLongText = QStringLiteral(
    "Alarm on line four: the pressure of the main boiler is above its upper limit, the relief "
    "valve did not open, and the operator on duty is asked to check the pump station and the "
    "cooling water supply at once.");

// Texts wait for a worker, then are spoken in order; a stopped queue starts again.
TEST(VoiceQueue, SpeaksQueuedTextsInOrderIntoTheOutput_AndRestarts)
{
    const QString capture = TestHome() + QStringLiteral("/speech.raw");
    UseAlsa(FilePcm(capture));
    EventCollector events;
    VoiceLog log;
    CVoiceQueue queue;
    const QStringList texts{QStringLiteral("one"), QString(), kLongText}; // empty ones too
    for (const QString& text : texts) {
        queue.QueueSpeech(text);
    }
    queue.StartWorker();
    ASSERT_TRUE(WaitUntil([&] { return log.Spoken().size() == 3; }, 20000));
    EXPECT_EQ(log.Spoken(), texts);
    const QByteArray audio = ReadBytes(capture); // the last text's stream
    EXPECT_GT(audio.size(), 22050 * 2 * 4);      // several seconds of audible 16-bit mono speech
    EXPECT_GT(Peak(audio), 3000);

    queue.StopWorker();
    queue.QueueSpeech(QStringLiteral("again"));
    queue.StartWorker();
    queue.StartWorker(); // no second worker while one runs
    ASSERT_TRUE(WaitUntil([&] { return log.Spoken().size() == 4; }, 20000));
    queue.StopWorker();
    EXPECT_EQ(Events(events), (QStringList{kSucceeded, kSucceeded}));
}

// StopWorker ends the worker mid-text, on a playing or a stalled device, and reports every
// unspoken text.
TEST(VoiceQueue, StopWorkerWhileSpeaking_EndsTheWorkerAndReportsEveryUnspokenText)
{
    const QStringList texts{kLongText, QStringLiteral("waiting one"), QStringLiteral("two")};
    EventCollector events;
    QStringList expected;
    for (const int speed : {100, 0}) {
        UseAlsa(DevicePcm(speed));
        VoiceLog log;
        CVoiceQueue queue;
        queue.StartWorker();
        for (const QString& text : texts) {
            queue.QueueSpeech(text);
        }
        ASSERT_TRUE(log.Speaking(kLongText)) << speed;
        queue.StopWorker();
        EXPECT_FALSE(queue.WorkerRunning());
        EXPECT_TRUE(log.Spoken().isEmpty()) << speed;
        expected << kSucceeded;
        for (const QString& text : texts) {
            expected << kStopped.arg(text);
        }
        EXPECT_EQ(Events(events), expected) << speed;
    }
}

// Without an output each start fails once; texts past the bound are refused, the waiting
// ones reported at stop.
TEST(VoiceQueue, NoOutput_FailsOncePerStart_RefusesPastTheBound_ReportsAtStop)
{
    UseAlsa(QString());
    EventCollector events;
    CVoiceQueue queue;
    queue.StartWorker();
    ASSERT_TRUE(WaitUntil([&] { return !queue.WorkerRunning(); }, 20000));
    const int bound = int(CVoiceQueue::kMaxWaiting);
    QStringList expected{kFailed};
    for (int i = 1; i <= bound + 6; ++i) {
        queue.QueueSpeech(QString::number(i));
        if (i > bound) {
            expected << kQueueFull.arg(i);
        }
    }
    EXPECT_EQ(queue.Waiting(), CVoiceQueue::kMaxWaiting);
    queue.StartWorker(); // a worker that ended on its own is replaced
    ASSERT_TRUE(WaitUntil([&] { return Events(events).count(kFailed) == 2; }, 20000));
    expected << kFailed;
    queue.StopWorker();
    for (int i = 1; i <= bound; ++i) {
        expected << kStopped.arg(i);
    }
    EXPECT_EQ(Events(events), expected);
}

TEST(VoiceQueue, Engine_VoiceFromTheProfileElseTheLocaleElseEnglish)
{
    UseAlsa(DevicePcm(100));
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
