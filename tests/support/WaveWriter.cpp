#include "WaveWriter.h"

#include <QFile>
#include <cmath>
#include <numbers>
#include <sndfile.h>
#include <vector>

bool writeTone(const QString &path, double seconds, int sampleRate, int channels, int format)
{
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = format;
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file)
        return false;
    const sf_count_t frames = static_cast<sf_count_t>(std::llround(seconds * sampleRate));
    std::vector<float> samples(static_cast<size_t>(frames) * channels);
    for (sf_count_t f = 0; f < frames; ++f) {
        const float v =
            0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * 440.0 * f / sampleRate));
        for (int c = 0; c < channels; ++c)
            samples[static_cast<size_t>(f * channels + c)] = v;
    }
    const sf_count_t written = sf_writef_float(file, samples.data(), frames);
    sf_close(file);
    return written == frames;
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
