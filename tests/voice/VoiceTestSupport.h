#pragma once

// What the voice tests share: their own ALSA configuration (a `file` PCM that captures what
// is played, the test control plugin as sound cards), a FIFO capture that holds the output
// until the test reads it, and the zunaro.voice debug lines.

#include <atomic>
#include <csignal>
#include <cstdint>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDataStream>
#include <QFile>
#include <QLoggingCategory>
#include <QStringList>

#include "platform/Tick.h"
#include "support/TestSupport.h"

// The default PCM writing raw samples to capture (each stream starts the file afresh; a FIFO
// capture sees every stream).
inline QString FilePcm(const QString& capture)
{
    return QStringLiteral("pcm.null { type null }\npcm.!default { type file slave.pcm \"null\" "
                          "file \"%1\" format \"raw\" }\n")
        .arg(capture);
}
// The default PCM the test plugin's device that takes one buffer and then stalls.
const QString kStalledPcm = QStringLiteral("pcm.!default { type zunaro_test }\n");

// Points ALSA_CONFIG_PATH at a new configuration (a new file each time, so alsa-lib reloads
// it; call only while no audio thread runs) with pcm (empty: no PCM at all); cards 0 to
// cards-1 are the test control plugin, keeping their values in "<state>.<card>"; extra adds
// plugin fields ("max 87", "switch_card 1").
inline void UseAlsa(const QString& pcm, int cards = 0, const QString& state = {},
                    const QString& extra = {})
{
    QString config = QStringLiteral("ctl_type.zunaro_test { lib \"%1\" }\n"
                                    "pcm_type.zunaro_test { lib \"%1\" }\n")
                         .arg(qEnvironmentVariable("ZUNARO_ALSA_CTL_PLUGIN")) +
                     pcm;
    if (cards > 0) {
        config += QStringLiteral("ctl.hw { @args [ CARD ] @args.CARD { type string default \"0\" }"
                                 "\n  type zunaro_test card $CARD cards %1 state \"%2\" %3 }\n")
                      .arg(cards)
                      .arg(state, extra);
    }
    static int serial = 0;
    const QString path = TestHome() + QStringLiteral("/alsa-%1.conf").arg(++serial);
    WriteBytes(path, config.toUtf8());
    qputenv("ALSA_CONFIG_PATH", QFile::encodeName(path));
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

// The largest magnitude among the 16-bit samples of raw.
inline int Peak(const QByteArray& raw)
{
    int peak = 0;
    for (qsizetype i = 0; i + 1 < raw.size(); i += 2) {
        peak = std::max(peak, std::abs(int(std::int16_t(std::uint8_t(raw[i]) |
                                                        (std::uint8_t(raw[i + 1]) << 8)))));
    }
    return peak;
}

// A FIFO as the capture file: the output blocks as soon as the pipe is full, until the test
// reads (or lets it play); closing it is a device that went away.
class FifoCapture
{
public:
    explicit FifoCapture(const QString& path)
    {
        std::signal(SIGPIPE, SIG_IGN);
        const QByteArray name = QFile::encodeName(path);
        ::unlink(name.constData());
        m_fd = ::mkfifo(name.constData(), 0600) == 0 ? ::open(name, O_RDONLY | O_NONBLOCK) : -1;
    }
    ~FifoCapture() { Close(); }

    bool IsOpen() const { return m_fd >= 0; }
    void Close()
    {
        Play(0);
        if (m_fd >= 0) {
            ::close(std::exchange(m_fd, -1));
        }
    }
    // Reads up to limit bytes, waiting up to timeoutMs for the first. A small limit keeps
    // the writer blocked: it may refill the pipe as fast as it is read.
    QByteArray Read(int timeoutMs = 0, qsizetype limit = 1 << 30)
    {
        pollfd p{m_fd, POLLIN, 0};
        // Between two writers a FIFO reports hang-up instead of blocking.
        for (int waited = 0; (::poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN)) && waited < timeoutMs;
             waited += 2) {
            SleepMs(2);
        }
        QByteArray data;
        char buffer[4096];
        ssize_t n = 0;
        while (data.size() < limit &&
               (n = ::read(m_fd, buffer, std::min<qsizetype>(sizeof buffer, limit - data.size()))) >
                   0) {
            data.append(buffer, n);
        }
        return data;
    }
    // Reads bytesPerSecond in the background from now on, as a sound card plays its
    // stream; 0 stops that. Played() counts the bytes read so far.
    void Play(int bytesPerSecond)
    {
        m_playing = false;
        if (m_player.joinable()) {
            m_player.join();
        }
        if ((m_playing = bytesPerSecond > 0)) {
            m_player = std::thread([this, bytesPerSecond] {
                for (; m_playing; SleepMs(10)) {
                    m_played += Read(0, bytesPerSecond / 100).size();
                }
            });
        }
    }
    qsizetype Played() const { return m_played; }

private:
    int m_fd = -1;
    std::atomic<bool> m_playing{false};
    std::atomic<qsizetype> m_played{0};
    std::thread m_player;
};

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
    // Every line so far that starts with prefix, without the prefix.
    QStringList With(const QString& prefix) const
    {
        std::lock_guard guard(s_lock);
        QStringList result;
        for (const QString& line : s_lines) {
            if (line.startsWith(prefix)) {
                result.append(line.mid(prefix.size()));
            }
        }
        return result;
    }
    // The texts the speech worker has finished speaking, in order.
    QStringList Spoken() const { return With(QStringLiteral("spoken: ")); }
    // Waits until the worker has begun on text.
    bool Speaking(const QString& text) const
    {
        return WaitUntil([&] { return With(QStringLiteral("speaking: ")).contains(text); }, 20000);
    }

private:
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
