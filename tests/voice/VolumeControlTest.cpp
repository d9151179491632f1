#include <future>
#include <tuple>

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

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
    // The raw channel values of a card, as the plugin keeps them in its state file.
    QString State(int card) const { return m_state + QLatin1Char('.') + QString::number(card); }
    QString Raw(int card = 0) const { return ReadBytes(State(card)).trimmed(); }
    void SetRaw(const char* values, int card = 0) const { WriteBytes(State(card), values); }

    QString m_state;
    QString m_capture;
    EventCollector m_events;
    static inline int m_serial = 0;
};

// The first channel of the loudspeaker line, on the user scale: (scale + 1) * raw / bound,
// cut to the scale, the raw range counted from its minimum; 50 written back is
// minimum + 50 * bound / scale on every channel.
TEST_F(VolumeControlTest, Init_FindsTheLoudspeakerLineReadsItsFirstChannelAndWritesAll)
{
    const struct
    {
        int cards;
        const char* extra;
        const char* raw;
        const char* element; // null: no usable line, the volume stays as it was
        unsigned channels;
        int volume;
        const char* fifty; // raw after SetVolume(50)
    } cases[] = {
        {1, "", "60000 60000", "Master", 2, 92, "32767 32767"},
        {1, "", "65535 0", "Master", 2, 100, "32767 32767"},
        {1, "", "32768 32768", "Master", 2, 50, "32767 32767"},
        {1, "", "0 65535", "Master", 2, 0, "32767 32767"},
        {1, "", "649 649", "Master", 2, 1, "32767 32767"},
        {1, "element \"PCM\" min 10 max 97 channels 1", "53", "PCM", 1, 49, "53"}, // 101 * 43 / 87
        {1, "element \"Speaker\"", "65535 65535", "Speaker", 2, 100, "32767 32767"},
        {1, "element \"Headphone\"", "65535 65535", nullptr, 0, 33, "65535 65535"},
        {1, "max 0", "0 0", nullptr, 0, 33, "0 0"}, // a line without a range
        {0, "", "", nullptr, 0, 33, ""},            // no control device at all
    };
    for (const auto& c : cases) {
        UseCards(c.cards, QLatin1String(c.extra));
        SetRaw(c.raw);
        CVolumeControl control;
        std::uint16_t volume = 33;
        EXPECT_EQ(control.Init(100, volume), c.element != nullptr) << c.extra << c.raw;
        EXPECT_EQ(volume, c.volume) << c.extra << c.raw;
        EXPECT_EQ(control.DeviceCount(), unsigned(c.cards));
        EXPECT_EQ(control.SelectedDevice(), c.element ? 0 : -1) << c.extra;
        EXPECT_EQ(control.Control(0).element, QLatin1String(c.element)) << c.extra;
        EXPECT_EQ(control.Control(0).channels, c.channels) << c.extra;
        control.SetVolume(50);
        EXPECT_EQ(Raw(), QLatin1String(c.fifty)) << c.extra << c.raw;
    }
    EXPECT_TRUE(Events(m_events).isEmpty());
}

TEST_F(VolumeControlTest, Step_MovesByTenWithinBoundsWritesEveryChannelAndChimes)
{
    UseCards(1);
    const QByteArray chime = Tone(800, 1);
    WriteBytes(ChimePath(), Wav(chime, 8000, 1));
    using Case = std::tuple<const char*, int, int, const char*>; // before, delta, result, after
    for (const auto& [before, delta, result, after] : {
             Case{"60000 60000", +10, 100, "65535 65535"}, // 92 + 10 = 102 is cut to 100
             Case{"60000 60000", -10, 82, "53738 53738"},
             Case{"3277 3277", -10, 0, "0 0"},             // 5 - 10 stops at 0
             Case{"65535 65535", +10, 100, "65535 65535"}, // stays at the top, still chimes
         }) {
        SetRaw(before);
        QFile::remove(m_capture);
        EXPECT_EQ(StepMasterVolume(delta), result) << before << delta;
        EXPECT_EQ(Raw(), QLatin1String(after)) << before << delta;
        EXPECT_TRUE(ReadBytes(m_capture) == chime) << before << delta;
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
    // The number is the error of the ALSA call that failed (EIO from the broken card).
    const QStringList errors{QStringLiteral("1 mixerOpen() Error = 5\n"),
                             QStringLiteral("1 mixerGetLineControls() Error = 22\n")};
    EXPECT_EQ(Events(m_events), errors);
    control.SetVolume(20);
    EXPECT_EQ(Raw(2), QStringLiteral("13107 13107"));
    EXPECT_EQ(Raw(3), QStringLiteral("13107 13107"));

    // No control device at all, and no chime: the steps start from 0, nothing is played.
    UseCards(0);
    EXPECT_EQ(StepMasterVolume(+10), 10);
    EXPECT_EQ(StepMasterVolume(-10), 0);
    WriteBytes(ChimePath() + QStringLiteral(".txt"), "RIFF this is not a sound");
    EXPECT_FALSE(PlaySoundFile(ChimePath() + QStringLiteral(".txt")));
    EXPECT_FALSE(QFile::exists(m_capture)); // the output was never opened
    EXPECT_EQ(Events(m_events), errors);
}

// A sound plays to its end and is never interrupted by another; a device that goes away or
// stalls in the middle is reported instead of holding the caller.
TEST_F(VolumeControlTest, Sound_NeverInterrupted_LostOrStalledDeviceReported)
{
    const QByteArray first = Tone(22050, 2); // half a second of stereo
    const QString firstPath = m_state + QStringLiteral("-first.wav");
    WriteBytes(firstPath, Wav(first, 44100, 2));
    WriteBytes(ChimePath(), Wav(Tone(100, 1), 8000, 1));
    using Case = std::tuple<int, const char*, const char*>; // speed, extra, error (none: played)
    for (const auto& [speed, extra, error] : {
             Case{100, "", ""},
             Case{100, "fail_after 16000", "audio playback failed: No such device"},
             Case{0, "", "audio playback failed: the device stalled"},
         }) {
        QFile::remove(m_capture);
        UseAlsa(DevicePcm(speed, m_capture, QLatin1String(extra)));
        QString reported;
        auto playing =
            std::async(std::launch::async, [&] { return PlaySoundFile(firstPath, &reported); });
        ASSERT_TRUE(WaitUntil([&] { return QFileInfo(m_capture).size() > 0; })) << extra;
        EXPECT_FALSE(PlayChime());
        EXPECT_EQ(playing.get(), !*error) << extra;
        EXPECT_EQ(reported, QLatin1String(error));
        EXPECT_TRUE(*error || ReadBytes(m_capture) == first) << extra;
    }
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
