#pragma once

// The voice tests' own ALSA configuration and the zunaro.voice debug lines.

#include <algorithm>
#include <cstdint>
#include <mutex>

#include <gtest/gtest.h>

#include <QDataStream>
#include <QFile>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QStringList>

#include "support/TestSupport.h"

// The default PCM writing raw samples to capture at once (each stream starts it afresh).
inline QString FilePcm(const QString& capture)
{
    return QStringLiteral("pcm.null { type null }\npcm.!default { type file slave.pcm \"null\" "
                          "file \"%1\" format \"raw\" }\n")
        .arg(capture);
}
// The test plugin's device playing at speed percent of real time (0: stalls after a buffer),
// appending to capture if named; extra adds fields ("fail_after 4410").
inline QString DevicePcm(int speed, const QString& capture = {}, const QString& extra = {})
{
    return QStringLiteral("pcm.!default { type zunaro_test speed %1 %2 %3 }\n")
        .arg(speed)
        .arg(capture.isEmpty() ? QString() : QStringLiteral("file \"%1\"").arg(capture), extra);
}

// A new ALSA configuration (only while no audio thread runs): pcm, and that many test control
// cards keeping their values in "<state>.<card>"; extra adds fields ("switch_card 1").
inline void UseAlsa(const QString& pcm, int cards = 0, const QString& state = {},
                    const QString& extra = {})
{
    static int serial = 0;
    const QString path = TestHome() + QStringLiteral("/alsa-%1.conf").arg(++serial);
    WriteBytes(path, QStringLiteral("ctl_type.zunaro_test { lib \"%1\" }\npcm_type.zunaro_test { "
                                    "lib \"%1\" }\n%2ctl.hw { @args [ CARD ] @args.CARD { type "
                                    "string default \"0\" }\n type zunaro_test card $CARD cards "
                                    "%3 state \"%4\" %5 }\n")
                         .arg(qEnvironmentVariable("ZUNARO_ALSA_CTL_PLUGIN"), pcm)
                         .arg(cards)
                         .arg(state, extra)
                         .toUtf8());
    qputenv("ALSA_CONFIG_PATH", QFile::encodeName(path));
}

// A fresh resource folder (no chime until a test writes one) and test sound cards keeping
// their raw channel values in "<m_state>.<card>"; the default PCM writes to m_capture.
class SoundCardTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qputenv("ZUNARO_RESOURCES", QFile::encodeName(FreshFolder(QStringLiteral("res"))));
    }
    void UseCards(int cards, const QString& extra = {})
    {
        UseAlsa(FilePcm(m_capture), cards, m_state, extra);
    }
    QString State(int card) const { return m_state + QLatin1Char('.') + QString::number(card); }
    QString Raw(int card = 0) const { return ReadBytes(State(card)).trimmed(); }
    void SetRaw(const char* values, int card = 0) const { WriteBytes(State(card), values); }

    static inline int s_serial = 0;
    const QString m_state = TestHome() + QStringLiteral("/master-%1").arg(++s_serial);
    const QString m_capture = m_state + QStringLiteral(".raw");
};

// Every event collected so far as "<type> <text>".
inline QStringList Events(EventCollector& events)
{
    QStringList lines;
    for (const auto& record : events.Records()) {
        lines << QString::number(static_cast<int>(record.type)) + QLatin1Char(' ') + record.text;
    }
    return lines;
}

// A 16-bit PCM WAV file holding samples (interleaved, little-endian).
inline QByteArray Wav(const QByteArray& samples, std::uint32_t rate, std::uint16_t channels)
{
    QByteArray wav;
    QDataStream out(&wav, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << std::uint32_t(36 + samples.size());
    out.writeRawData("WAVEfmt ", 8);
    out << std::uint32_t(16) << std::uint16_t(1) << channels << rate
        << std::uint32_t(rate * channels * 2) << std::uint16_t(channels * 2) << std::uint16_t(16);
    out.writeRawData("data", 4);
    out << std::uint32_t(samples.size());
    return wav + samples;
}

// The largest magnitude among the 16-bit samples of raw (little-endian, as the host).
inline int Peak(const QByteArray& raw)
{
    const auto* samples = reinterpret_cast<const std::int16_t*>(raw.constData());
    const auto [low, high] = std::minmax_element(samples, samples + raw.size() / 2);
    return raw.size() < 2 ? 0 : std::max(-int(*low), int(*high));
}

// Collects the zunaro.voice debug lines while it lives.
class VoiceLog
{
public:
    VoiceLog() : m_previous(qInstallMessageHandler(Collect))
    {
        QLoggingCategory::setFilterRules(QStringLiteral("zunaro.voice.debug=true"));
    }
    ~VoiceLog()
    {
        qInstallMessageHandler(m_previous);
        QLoggingCategory::setFilterRules(QString());
        std::lock_guard guard(s_lock);
        s_lines.clear();
    }
    // The texts the speech worker has finished speaking, in order.
    QStringList Spoken() const { return With(QStringLiteral("spoken: ")); }
    // Waits until the worker has begun on text.
    bool Speaking(const QString& text) const
    {
        return WaitUntil([&] { return With(QStringLiteral("speaking: ")).contains(text); }, 20000);
    }

private:
    // Every line so far that starts with prefix, without the prefix.
    static QStringList With(const QString& prefix)
    {
        std::lock_guard guard(s_lock);
        QStringList result = s_lines.filter(QRegularExpression(u'^' + prefix));
        return result.replaceInStrings(QRegularExpression(u'^' + prefix), QString());
    }
    static void Collect(QtMsgType, const QMessageLogContext& context, const QString& line)
    {
        if (context.category && QByteArray(context.category) == "zunaro.voice") {
            std::lock_guard guard(s_lock);
            s_lines.append(line);
        }
    }
    static inline std::mutex s_lock;
    static inline QStringList s_lines;
    QtMessageHandler m_previous;
};
