#pragma once

// Wave files the benchmarks make: a tone through libsndfile, and headers written by hand
// over sparse silence for files of gigabytes.
#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <sndfile.h>
#include <vector>

inline void writeTone(const QString &path, int frames, int rate, int channels)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    std::vector<float> samples(std::size_t(frames) * channels);
    for (int f = 0; f < frames; ++f)
        std::fill_n(samples.begin() + f * channels, channels, float(0.5 * std::sin(f * 0.06)));
    sf_writef_float(file, samples.data(), frames);
    sf_close(file);
}

inline QByteArray le32(quint32 v)
{
    QByteArray b(4, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

inline QByteArray le64(quint64 v)
{
    QByteArray b(8, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

inline QByteArray pcmFormat()
{
    // 44.1 kHz stereo 16-bit.
    QByteArray fmt = "fmt " + le32(16);
    fmt += QByteArray::fromHex("01000200") + le32(44100) + le32(44100 * 4) +
           QByteArray::fromHex("04001000");
    return fmt;
}

// A real header and then silence the file system keeps sparse.
inline void writeHuge(const QString &path, quint64 dataBytes, bool rf64)
{
    QByteArray head;
    if (rf64) {
        head = "RF64" + le32(0xffffffff) + "WAVE" + "ds64" + le32(28) +
               le64(dataBytes + 4 + 36 + 24 + 8) + le64(dataBytes) + le64(dataBytes / 4) + le32(0) +
               pcmFormat() + "data" + le32(0xffffffff);
    } else {
        head = "RIFF" + le32(quint32(dataBytes + 36)) + "WAVE" + pcmFormat() + "data" +
               le32(quint32(dataBytes));
    }
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(head);
    file.resize(head.size() + qint64(dataBytes));
}

// The median of runs: single runs of a tenth of a millisecond are mostly scheduler noise.
template <typename Work> double medianOf(int runs, Work work)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        times.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}
