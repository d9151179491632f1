#include "platform/SoundFile.h"

#include <cstdint>
#include <mutex>
#include <vector>

#include <sndfile.h>

#include <QFile>
#include <QScopeGuard>

#include "platform/AudioOutput.h"
#include "platform/Logging.h"

namespace {

// Frames read from the file and handed to the output at a time.
constexpr sf_count_t kBlockFrames = 4096;
// A file with more channels than this is not a sound we play.
constexpr int kMaxChannels = 8;

std::mutex g_playing; // held while a sound file plays

bool Fail(QString* error, const QString& text)
{
    qCDebug(lcVoice) << "sound file:" << text;
    if (error) {
        *error = text;
    }
    return false;
}

} // namespace

bool PlaySoundFile(const QString& path, QString* error)
{
    std::unique_lock playing(g_playing, std::try_to_lock);
    if (!playing.owns_lock()) {
        return Fail(error, QStringLiteral("another sound is playing"));
    }
    SF_INFO info{};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file) {
        return Fail(error, QStringLiteral("%1: %2").arg(
                               path, QString::fromLocal8Bit(sf_strerror(nullptr))));
    }
    const auto close = qScopeGuard([file] { sf_close(file); });
    if (info.channels < 1 || info.channels > kMaxChannels || info.samplerate <= 0) {
        return Fail(error, QStringLiteral("%1: unsupported format").arg(path));
    }
    AudioOutput output;
    if (!output.Open(static_cast<unsigned>(info.samplerate), static_cast<unsigned>(info.channels),
                     error)) {
        return false;
    }
    std::vector<std::int16_t> block(static_cast<std::size_t>(kBlockFrames * info.channels));
    for (;;) {
        const sf_count_t frames = sf_readf_short(file, block.data(), kBlockFrames);
        if (frames <= 0) {
            break;
        }
        if (!output.Write(block.data(), static_cast<std::size_t>(frames), nullptr, error)) {
            output.Abort();
            return false;
        }
    }
    return output.Finish(nullptr, error);
}
