#pragma once

#include <QFile>
#include <QString>
#include <QTest>
#include <functional>

struct sf_private_tag; // libsndfile's SNDFILE

// Writes a short sine tone as a wave file with libsndfile; format is a libsndfile
// subtype (SF_FORMAT_PCM_16 and so on) combined with the container.
bool writeTone(const QString &path, double seconds, int sampleRate = 8000, int channels = 1,
               int format = 0x010000 | 0x0002 /* SF_FORMAT_WAV | SF_FORMAT_PCM_16 */);
// Writes frames of sample(frame) on every channel with libsndfile; before() may add
// metadata (broadcast extension, strings, markers, chunks) to the open file first.
bool writeSignal(const QString &path, int format, int sampleRate, int channels, qint64 frames,
                 const std::function<float(qint64 frame)> &sample,
                 const std::function<void(sf_private_tag *)> &before = {});
// The same with a sample of its own for each channel: sample(frame, channel).
bool writeChannels(const QString &path, int format, int sampleRate, int channels, qint64 frames,
                   const std::function<float(qint64 frame, int channel)> &sample,
                   const std::function<void(sf_private_tag *)> &before = {});
// Writes any bytes to a file (broken headers, text named .wav).
bool writeBytes(const QString &path, const QByteArray &bytes);

// Makes a file of `size` bytes (sparse where the file system allows).
inline void touch(const QString &path, qint64 size = 0)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    if (size > 0)
        QVERIFY(f.resize(size));
}
