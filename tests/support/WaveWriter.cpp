#include "WaveWriter.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <sndfile.h>
#include <vector>

bool writeTone(const QString &path, double seconds, int sampleRate, int channels, int format)
{
    return writeSignal(path, format, sampleRate, channels, std::llround(seconds * sampleRate),
                       [sampleRate](qint64 f) {
                           return 0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * 440.0 *
                                                                     f / sampleRate));
                       });
}

bool writeSignal(const QString &path, int format, int sampleRate, int channels, qint64 frames,
                 const std::function<float(qint64)> &sample,
                 const std::function<void(sf_private_tag *)> &before)
{
    return writeChannels(
        path, format, sampleRate, channels, frames,
        [&sample](qint64 frame, int) { return sample(frame); }, before);
}

bool writeChannels(const QString &path, int format, int sampleRate, int channels, qint64 frames,
                   const std::function<float(qint64, int)> &sample,
                   const std::function<void(sf_private_tag *)> &before)
{
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = format;
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file)
        return false;
    if (before)
        before(file);
    constexpr qint64 block = 4096;
    std::vector<float> samples(static_cast<size_t>(block * channels));
    qint64 written = 0;
    while (written < frames) {
        const qint64 count = std::min(block, frames - written);
        for (qint64 f = 0; f < count; ++f)
            for (int c = 0; c < channels; ++c)
                samples[size_t(f * channels + c)] = sample(written + f, c);
        if (sf_writef_float(file, samples.data(), count) != count)
            break;
        written += count;
    }
    return sf_close(file) == 0 && written == frames;
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
