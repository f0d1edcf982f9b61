#pragma once

#include <QString>

// Writes a short sine tone as a wave file with libsndfile; format is a libsndfile
// subtype (SF_FORMAT_PCM_16 and so on) combined with the container.
bool writeTone(const QString &path, double seconds, int sampleRate = 8000, int channels = 1,
               int format = 0x010000 | 0x0002 /* SF_FORMAT_WAV | SF_FORMAT_PCM_16 */);
// Writes any bytes to a file (broken headers, text named .wav).
bool writeBytes(const QString &path, const QByteArray &bytes);
