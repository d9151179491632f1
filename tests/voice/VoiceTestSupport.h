#pragma once

// What the voice tests share: their own ALSA configuration (a `file` PCM that captures what
// is played, the test control plugin as sound cards), a FIFO capture that holds the output
// until the test reads it, and the zunaro.voice debug lines.

#include <chrono>
#include <csignal>
#include <cstdint>
#include <mutex>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDataStream>
#include <QFile>
#include <QLoggingCategory>
#include <QStringList>

#include "support/TestSupport.h"

// Writes body as a new ALSA configuration file and points ALSA_CONFIG_PATH at it (a new name
// each time, so alsa-lib reloads it). Call only while no audio thread runs.
inline void UseAlsaConfig(const QString& body)
{
    static int serial = 0;
    const QString path = TestHome() + QStringLiteral("/alsa-%1.conf").arg(++serial);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(body.toUtf8());
    }
    qputenv("ALSA_CONFIG_PATH", QFile::encodeName(path));
}

// The default PCM writes raw samples to capture (each stream opened starts the file afresh;
// a FIFO capture sees every stream).
inline QString FilePlayback(const QString& capture)
{
    return QStringLiteral(
               "pcm.null { type null }\n"
               "pcm.!default { type file slave.pcm \"null\" file \"%1\" format \"raw\" }\n")
        .arg(capture);
}

// Cards 0 to cards-1 are the test control plugin, keeping their values in "<state>.<card>";
// extra adds plugin fields ("max 87", "switch_card 1").
inline QString TestCards(int cards, const QString& state, const QString& extra = {})
{
    return QStringLiteral("ctl_type.zunaro_test { lib \"%1\" }\n"
                          "ctl.hw { @args [ CARD ] @args.CARD { type string default \"0\" }\n"
                          "  type zunaro_test card $CARD cards %2 state \"%3\" %4 }\n")
        .arg(qEnvironmentVariable("ZUNARO_ALSA_CTL_PLUGIN"))
        .arg(cards)
        .arg(state, extra);
}

inline QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool WriteFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
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

// Number of 16-bit samples in raw and their largest magnitude.
struct PcmStats
{
    qsizetype samples = 0;
    int peak = 0;
};

inline PcmStats Analyse(const QByteArray& raw)
{
    PcmStats stats{raw.size() / 2, 0};
    for (qsizetype i = 0; i + 1 < raw.size(); i += 2) {
        const auto sample = std::int16_t(std::uint8_t(raw[i]) | (std::uint8_t(raw[i + 1]) << 8));
        stats.peak = std::max(stats.peak, std::abs(int(sample)));
    }
    return stats;
}

// A FIFO as the capture file: the output blocks as soon as the pipe is full, until the test
// reads; closing it is a device that went away.
class FifoCapture
{
public:
    explicit FifoCapture(const QString& path)
    {
        std::signal(SIGPIPE, SIG_IGN);
        const QByteArray name = QFile::encodeName(path);
        ::unlink(name.constData());
        if (::mkfifo(name.constData(), 0600) == 0) {
            m_fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK);
        }
    }
    ~FifoCapture() { Close(); }
    FifoCapture(const FifoCapture&) = delete;
    FifoCapture& operator=(const FifoCapture&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    void Close()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = -1;
    }
    // Reads up to limit bytes (-1: all there is), waiting up to timeoutMs for the first. A
    // small limit keeps the writer blocked: it may refill the pipe as fast as it is read.
    QByteArray Read(int timeoutMs = 0, qsizetype limit = -1)
    {
        QByteArray data;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        pollfd p{m_fd, POLLIN, 0};
        // Between two writers a FIFO reports hang-up instead of blocking.
        while ((::poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN)) &&
               std::chrono::steady_clock::now() < deadline) {
            ::usleep(2000);
        }
        char buffer[65536];
        ssize_t n = 0;
        while ((limit < 0 || data.size() < limit) &&
               (n = ::read(m_fd, buffer,
                           limit < 0 ? sizeof buffer
                                     : std::min<qsizetype>(sizeof buffer, limit - data.size()))) >
                   0) {
            data.append(buffer, n);
        }
        return data;
    }

private:
    int m_fd = -1;
};

// Collects the zunaro.voice debug lines while it lives.
class VoiceLog
{
public:
    VoiceLog()
    {
        Lines().clear();
        QLoggingCategory::setFilterRules(QStringLiteral("zunaro.voice.debug=true"));
        m_previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext& context, const QString& line) {
                if (context.category && QByteArray(context.category) == "zunaro.voice") {
                    std::lock_guard lock(Mutex());
                    Lines().append(line);
                }
            });
    }
    ~VoiceLog()
    {
        qInstallMessageHandler(m_previous);
        QLoggingCategory::setFilterRules(QString());
    }

    // Every line so far that starts with prefix, without the prefix.
    QStringList With(const QString& prefix) const
    {
        std::lock_guard lock(Mutex());
        QStringList result;
        for (const QString& line : Lines()) {
            if (line.startsWith(prefix)) {
                result.append(line.mid(prefix.size()));
            }
        }
        return result;
    }
    // The texts the speech worker has finished speaking, in order.
    QStringList Spoken() const { return With(QStringLiteral("spoken: ")); }

private:
    static std::mutex& Mutex()
    {
        static std::mutex mutex;
        return mutex;
    }
    static QStringList& Lines()
    {
        static QStringList lines;
        return lines;
    }

    QtMessageHandler m_previous = nullptr;
};
