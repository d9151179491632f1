#include <future>

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include "VoiceTestSupport.h"
#include "platform/SoundFile.h"
#include "support/QtPrinters.h"
#include "voice/VolumeControl.h"

namespace {

// Interleaved 16-bit samples of a soft saw tone.
QByteArray Tone(int frames, int channels)
{
    QByteArray samples;
    for (int i = 0; i < frames * channels; ++i) {
        const auto v = std::int16_t((i / channels * 37) % 4000 - 2000);
        samples.append(char(v & 0xff)).append(char((v >> 8) & 0xff));
    }
    return samples;
}

class VolumeControlTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_state = TestHome() + QStringLiteral("/master-%1").arg(++m_serial);
        m_capture = m_state + QStringLiteral(".raw");
        // The resource folder holds no chime unless a test puts one there.
        QDir().mkpath(m_state + QStringLiteral("-res"));
        qputenv("ZUNARO_RESOURCES", QFile::encodeName(m_state + QStringLiteral("-res")));
    }
    void UseCards(int cards, const QString& extra = {})
    {
        ASSERT_TRUE(QFile::exists(qEnvironmentVariable("ZUNARO_ALSA_CTL_PLUGIN")));
        UseAlsaConfig(FilePlayback(m_capture) + TestCards(cards, m_state, extra));
    }
    // The raw channel values of a card, as the plugin keeps them.
    QString Raw(int card = 0) const { return QString::fromLatin1(ReadFile(State(card))).trimmed(); }
    void SetRaw(const char* values, int card = 0) const
    {
        WriteFile(State(card), QByteArray(values) + '\n');
    }
    QString State(int card) const { return m_state + QLatin1Char('.') + QString::number(card); }

    QString m_state;
    QString m_capture;
    static inline int m_serial = 0;
};

TEST_F(VolumeControlTest, Init_ReadsTheFirstChannelOnTheUserScale)
{
    UseCards(1);
    EventCollector events;
    // (scale + 1) * raw / bound, cut to the scale.
    const struct
    {
        const char* raw;
        int expected;
    } cases[] = {
        {"60000 60000", 92}, {"65535 0", 100}, {"32768 32768", 50}, {"0 65535", 0}, {"649 649", 1}};
    for (const auto& c : cases) {
        SetRaw(c.raw);
        CVolumeControl control;
        std::uint16_t volume = 7;
        ASSERT_TRUE(control.Init(100, volume)) << c.raw;
        EXPECT_EQ(volume, c.expected) << c.raw;
        EXPECT_EQ(control.SelectedDevice(), 0);
        EXPECT_EQ(control.Control(0).element, QStringLiteral("Master"));
        EXPECT_EQ(control.Control(0).channels, 2u);
    }
    EXPECT_TRUE(events.Records().empty());
}

TEST_F(VolumeControlTest, Step_MovesByTenWithinBoundsWritesEveryChannelAndChimes)
{
    UseCards(1);
    const QByteArray chime = Tone(800, 1);
    ASSERT_TRUE(WriteFile(ChimePath(), Wav(chime, 8000, 1)));
    const struct
    {
        const char* before;
        int delta;
        int expected;
        const char* after;
    } cases[] = {
        {"60000 60000", +10, 100, "65535 65535"}, // 92 + 10 = 102 is cut to 100
        {"60000 60000", -10, 82, "53738 53738"},
        {"3277 3277", -10, 0, "0 0"},             // 5 - 10 stops at 0
        {"65535 65535", +10, 100, "65535 65535"}, // stays at the top, still chimes
    };
    for (const auto& c : cases) {
        SetRaw(c.before);
        QFile::remove(m_capture);
        EXPECT_EQ(StepMasterVolume(c.delta), c.expected) << c.before << " " << c.delta;
        EXPECT_EQ(Raw(), QLatin1String(c.after)) << c.before << " " << c.delta;
        EXPECT_TRUE(ReadFile(m_capture) == chime) << c.before << " " << c.delta;
    }
}

TEST_F(VolumeControlTest, Lines_SpeakerOrPcmAndARangeNotStartingAtZero)
{
    UseCards(1, QStringLiteral("element \"PCM\" min 10 max 97 channels 1"));
    SetRaw("53");
    CVolumeControl control;
    std::uint16_t volume = 0;
    ASSERT_TRUE(control.Init(100, volume));
    EXPECT_EQ(control.Control(0).element, QStringLiteral("PCM"));
    EXPECT_EQ(volume, 49); // 101 * (53 - 10) / 87
    control.SetVolume(50);
    EXPECT_EQ(Raw(), QStringLiteral("53")); // 10 + 50 * 87 / 100

    UseCards(1, QStringLiteral("element \"Speaker\""));
    SetRaw("65535 65535");
    CVolumeControl speaker;
    ASSERT_TRUE(speaker.Init(100, volume));
    EXPECT_EQ(speaker.Control(0).element, QStringLiteral("Speaker"));
    EXPECT_EQ(volume, 100);

    // No loudspeaker line, or one without a range: nothing found, silently.
    EventCollector events;
    for (const char* extra : {"element \"Headphone\"", "max 0"}) {
        UseCards(1, QLatin1String(extra));
        CVolumeControl none;
        volume = 33;
        EXPECT_FALSE(none.Init(100, volume)) << extra;
        EXPECT_EQ(volume, 33);
        EXPECT_EQ(none.DeviceCount(), 1u);
    }
    EXPECT_TRUE(events.Records().empty());
}

TEST_F(VolumeControlTest, SeveralCards_ErrorsReportedAndTheLookupGoesOn)
{
    // Card 0 cannot be loaded, card 1 has a switch but no volume, cards 2 and 3 work.
    UseCards(4, QStringLiteral("broken_card 0 switch_card 1"));
    SetRaw("32768 32768", 2);
    SetRaw("0 0", 3);
    EventCollector events;
    CVolumeControl control;
    std::uint16_t volume = 0;
    ASSERT_TRUE(control.Init(100, volume));
    EXPECT_EQ(control.DeviceCount(), 4u);
    EXPECT_EQ(control.SelectedDevice(), 2);
    EXPECT_EQ(volume, 50);
    const auto records = events.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].type, 1);
    // The number is the error of the ALSA call that failed.
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^mixerOpen\\(\\) Error = [1-9][0-9]*\n$"))
                    .match(records[0].text)
                    .hasMatch())
        << qPrintable(records[0].text);
    EXPECT_EQ(records[1].type, 1);
    EXPECT_EQ(records[1].text, QStringLiteral("mixerGetLineControls() Error = 22\n"));
    control.SetVolume(20);
    EXPECT_EQ(Raw(2), QStringLiteral("13107 13107"));
    EXPECT_EQ(Raw(3), QStringLiteral("13107 13107"));
}

TEST_F(VolumeControlTest, NoCardAndNoChime_NothingHappensFromZero)
{
    UseAlsaConfig(FilePlayback(m_capture)); // a PCM, but no control device at all
    EventCollector events;
    CVolumeControl control;
    std::uint16_t volume = 64;
    EXPECT_FALSE(control.Init(100, volume));
    EXPECT_EQ(volume, 64);
    EXPECT_EQ(control.DeviceCount(), 0u);
    EXPECT_EQ(StepMasterVolume(+10), 10);
    EXPECT_EQ(StepMasterVolume(-10), 0);
    WriteFile(ChimePath() + QStringLiteral(".txt"), "RIFF this is not a sound");
    EXPECT_FALSE(PlaySoundFile(ChimePath() + QStringLiteral(".txt")));
    EXPECT_FALSE(QFile::exists(m_capture)); // the output was never opened
    EXPECT_TRUE(events.Records().empty());
}

TEST_F(VolumeControlTest, Chime_NeverInterruptsASoundPlaying_AndReportsALostOutput)
{
    FifoCapture fifo(m_capture);
    ASSERT_TRUE(fifo.IsOpen());
    UseAlsaConfig(FilePlayback(m_capture));
    // Three seconds of stereo: more than the pipe holds, so it keeps playing until read.
    const QByteArray first = Tone(3 * 44100, 2);
    const QString firstPath = m_state + QStringLiteral("-first.wav");
    ASSERT_TRUE(WriteFile(firstPath, Wav(first, 44100, 2)));
    ASSERT_TRUE(WriteFile(ChimePath(), Wav(Tone(100, 1), 8000, 1)));

    auto playing = std::async(std::launch::async, [&] { return PlaySoundFile(firstPath); });
    QByteArray captured = fifo.Read(10000, 4096);
    ASSERT_FALSE(captured.isEmpty());
    EXPECT_FALSE(PlayChime());
    while (playing.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
        captured += fifo.Read(10);
    }
    EXPECT_TRUE(playing.get());
    captured += fifo.Read();
    EXPECT_TRUE(captured == first) << captured.size() << " of " << first.size();

    // The reader goes away in the middle: the failure is reported.
    QString error;
    playing = std::async(std::launch::async, [&] { return PlaySoundFile(firstPath, &error); });
    ASSERT_FALSE(fifo.Read(10000, 4096).isEmpty());
    fifo.Close();
    EXPECT_FALSE(playing.get());
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(VolumeControlTest, ShippedDing_IsAShortCleanSound)
{
    const QString ding = QFileInfo(qEnvironmentVariable("ZUNARO_BINARY")).absolutePath() +
                         QStringLiteral("/Ding.wav");
    ASSERT_TRUE(QFile::copy(ding, ChimePath())) << qPrintable(ding);
    UseAlsaConfig(FilePlayback(m_capture));
    ASSERT_TRUE(PlayChime());
    const QByteArray raw = ReadFile(m_capture);
    const PcmStats stats = Analyse(raw);
    EXPECT_GT(stats.samples, 44100 / 5);
    EXPECT_LT(stats.samples, 44100 * 2);
    EXPECT_GT(stats.peak, 5000); // audible, not clipped
    EXPECT_LT(stats.peak, 32767);
    EXPECT_LT(Analyse(raw.left(8)).peak, 500); // starts and ends at silence: no click
    EXPECT_LT(Analyse(raw.right(8)).peak, 500);
}

} // namespace
