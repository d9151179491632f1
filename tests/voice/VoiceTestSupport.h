#pragma once

// What the voice tests share: their own ALSA configuration (a `file` PCM capturing what is
// played, the test plugin's playback device and sound cards) and the zunaro.voice debug lines.

#include <algorithm>
#include <cstdint>
#include <mutex>

#include <QDataStream>
#include <QFile>
#include <QLoggingCategory>
#include <QStringList>

#include "support/TestSupport.h"

// The default PCM writing raw samples to capture at once (each stream starts it afresh).
inline QString FilePcm(const QString& capture)
{
    return QStringLiteral("pcm.null { type null }\npcm.!default { type file slave.pcm \"null\" "
                          "file \"%1\" format \"raw\" }\n")
        .arg(capture);
}
// The default PCM the test plugin's device: it plays at speed percent of real time (0: it
// takes one buffer and then stalls), appending what it plays to capture when one is named;
// extra adds fields ("fail_after 4410").
inline QString DevicePcm(int speed, const QString& capture = {}, const QString& extra = {})
{
    return QStringLiteral("pcm.!default { type zunaro_test speed %1 %2 %3 }\n")
        .arg(speed)
        .arg(capture.isEmpty() ? QString() : QStringLiteral("file \"%1\"").arg(capture), extra);
}

// Points ALSA_CONFIG_PATH at a new configuration (a new file each time, so alsa-lib reloads
// it; call only while no audio thread runs) with pcm (empty: no PCM at all); cards 0 to
// cards-1 are the test control plugin, keeping their values in "<state>.<card>"; extra adds
// plugin fields ("max 87", "switch_card 1").
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
        QStringList result;
        for (const QString& line : s_lines) {
            if (line.startsWith(prefix)) {
                result << line.mid(prefix.size());
            }
        }
        return result;
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
