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
        UseAlsa(FilePcm(m_capture), cards, m_state, extra);
    }
    // The raw channel values of a card, as the plugin keeps them.
    QString Raw(int card = 0) const
    {
        return QString::fromLatin1(ReadBytes(State(card))).trimmed();
    }
    void SetRaw(const char* values, int card = 0) const
    {
        WriteBytes(State(card), QByteArray(values) + '\n');
    }
    QString State(int card) const { return m_state + QLatin1Char('.') + QString::number(card); }

    QString m_state;
    QString m_capture;
    EventCollector m_events;
    static inline int m_serial = 0;
};

// The first channel of the loudspeaker line, on the user scale: (scale + 1) * raw / bound,
// cut to the scale, the raw range counted from its minimum.
TEST_F(VolumeControlTest, Init_FindsTheLoudspeakerLineAndReadsItsFirstChannel)
{
    const struct
    {
        const char* extra;
        const char* raw;
        const char* element; // null: no usable line, the volume stays as it was
        unsigned channels;
        int volume;
    } cases[] = {
        {"", "60000 60000", "Master", 2, 92},
        {"", "65535 0", "Master", 2, 100},
        {"", "32768 32768", "Master", 2, 50},
        {"", "0 65535", "Master", 2, 0},
        {"", "649 649", "Master", 2, 1},
        {"element \"PCM\" min 10 max 97 channels 1", "53", "PCM", 1, 49}, // 101 * 43 / 87
        {"element \"Speaker\"", "65535 65535", "Speaker", 2, 100},
        {"element \"Headphone\"", "65535 65535", nullptr, 0, 33},
        {"max 0", "0 0", nullptr, 0, 33}, // a line without a range
    };
    for (const auto& c : cases) {
        UseCards(1, QLatin1String(c.extra));
        SetRaw(c.raw);
        CVolumeControl control;
        std::uint16_t volume = 33;
        EXPECT_EQ(control.Init(100, volume), c.element != nullptr) << c.extra << c.raw;
        EXPECT_EQ(volume, c.volume) << c.extra << c.raw;
        EXPECT_EQ(control.DeviceCount(), 1u);
        EXPECT_EQ(control.SelectedDevice(), c.element ? 0 : -1) << c.extra;
        if (c.element) {
            EXPECT_EQ(control.Control(0).element, QLatin1String(c.element));
            EXPECT_EQ(control.Control(0).channels, c.channels);
        }
    }
    // The range's minimum counts on the way back too: 10 + 50 * 87 / 100.
    UseCards(1, QStringLiteral("element \"PCM\" min 10 max 97 channels 1"));
    CVolumeControl pcm;
    std::uint16_t volume = 0;
    ASSERT_TRUE(pcm.Init(100, volume));
    pcm.SetVolume(50);
    EXPECT_EQ(Raw(), QStringLiteral("53"));
    EXPECT_TRUE(m_events.Records().empty());
}

TEST_F(VolumeControlTest, Step_MovesByTenWithinBoundsWritesEveryChannelAndChimes)
{
    UseCards(1);
    const QByteArray chime = Tone(800, 1);
    WriteBytes(ChimePath(), Wav(chime, 8000, 1));
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
        EXPECT_TRUE(ReadBytes(m_capture) == chime) << c.before << " " << c.delta;
    }
}

TEST_F(VolumeControlTest, SeveralCards_ErrorsReportedAndTheLookupGoesOn)
{
    // Card 0 cannot be loaded, card 1 has a switch but no volume, cards 2 and 3 work.
    UseCards(4, QStringLiteral("broken_card 0 switch_card 1"));
    SetRaw("32768 32768", 2);
    SetRaw("0 0", 3);
    CVolumeControl control;
    std::uint16_t volume = 0;
    ASSERT_TRUE(control.Init(100, volume));
    EXPECT_EQ(control.DeviceCount(), 4u);
    EXPECT_EQ(control.SelectedDevice(), 2);
    EXPECT_EQ(volume, 50);
    const auto records = m_events.Records();
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

    // No control device at all, and no chime: nothing happens, from 0.
    UseCards(0);
    CVolumeControl none;
    volume = 64;
    EXPECT_FALSE(none.Init(100, volume));
    EXPECT_EQ(volume, 64);
    EXPECT_EQ(none.DeviceCount(), 0u);
    EXPECT_EQ(StepMasterVolume(+10), 10);
    EXPECT_EQ(StepMasterVolume(-10), 0);
    WriteBytes(ChimePath() + QStringLiteral(".txt"), "RIFF this is not a sound");
    EXPECT_FALSE(PlaySoundFile(ChimePath() + QStringLiteral(".txt")));
    EXPECT_FALSE(QFile::exists(m_capture)); // the output was never opened
    EXPECT_EQ(m_events.Records().size(), 2u);
}

TEST_F(VolumeControlTest, Chime_NeverInterruptsASoundPlaying_AndReportsALostOutput)
{
    FifoCapture fifo(m_capture);
    ASSERT_TRUE(fifo.IsOpen());
    UseCards(0);
    // Three seconds of stereo: more than the pipe holds, so it keeps playing until read.
    const QByteArray first = Tone(3 * 44100, 2);
    const QString firstPath = m_state + QStringLiteral("-first.wav");
    WriteBytes(firstPath, Wav(first, 44100, 2));
    WriteBytes(ChimePath(), Wav(Tone(100, 1), 8000, 1));

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
    // A device that stalls: the sound gives up instead of holding its caller forever.
    UseAlsa(kStalledPcm);
    EXPECT_FALSE(PlaySoundFile(firstPath, &error));
    EXPECT_EQ(error, QStringLiteral("audio playback failed: the device stalled"));
}

TEST_F(VolumeControlTest, ShippedDing_IsAShortCleanSound)
{
    const QString ding = QFileInfo(qEnvironmentVariable("ZUNARO_BINARY")).absolutePath() +
                         QStringLiteral("/Ding.wav");
    ASSERT_TRUE(QFile::copy(ding, ChimePath())) << qPrintable(ding);
    UseCards(0);
    ASSERT_TRUE(PlayChime());
    const QByteArray raw = ReadBytes(m_capture);
    EXPECT_GT(raw.size() / 2, 44100 / 5);
    EXPECT_LT(raw.size() / 2, 44100 * 2);
    EXPECT_GT(Peak(raw), 5000); // audible, not clipped
    EXPECT_LT(Peak(raw), 32767);
    EXPECT_LT(Peak(raw.left(8)), 500); // starts and ends at silence: no click
    EXPECT_LT(Peak(raw.right(8)), 500);
}

} // namespace
