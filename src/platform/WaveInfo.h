#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// What a wave file's header and its side chunks say, read by libsndfile without decoding
// the sound, so a file of gigabytes answers as fast as a small one.
struct WaveInfo
{
    // Empty when the file can be played; else why not: our short reason ("not a regular
    // file", "not a wave file", "no permission to read") or libsndfile's own text.
    QString problem;
    bool playable() const { return problem.isEmpty(); }

    // "PCM 16-bit", "IEEE float 32-bit", "µ-law", …, and "WAV", "WAV (extensible)", "RF64".
    QString encoding;
    QString container;
    int sampleRate = 0;
    int channels = 0;
    qint64 frames = 0;

    // The broadcast extension (bext).
    QString description;
    QString originator;
    QString originatorReference;
    QString originationDate;
    QString originationTime;
    std::optional<quint64> timeReference;
    // LIST/INFO.
    QString title;
    QString artist;
    QString comment;
    QString software;
    // Cue markers (a label may be empty) and sampler loops, in frames; a loop's end is one
    // past its last frame, as libsndfile reports it.
    QStringList cueLabels;
    // Where each marker is, in the same order.
    QList<qint64> cueFrames;
    struct Loop
    {
        quint32 start = 0;
        quint32 end = 0;
    };
    QList<Loop> loops;
    // iXML.
    QString scene;
    QString take;
    QString note;
};

// Takes SCENE, TAKE and NOTE from an iXML chunk in one pass over its bytes, without building
// the attribute lists of other elements: a chunk can hold elements with tens of thousands of
// attributes, and a full XML reader's duplicate check on them is quadratic.
void readIxmlFields(QByteArrayView xml, WaveInfo &info);

// Reads the header and metadata of path. Never blocks on a FIFO or a device.
WaveInfo readWaveInfo(const QString &path);

// The loudness of a file over its length: for each of `columns` columns and each channel
// the largest magnitude (0 to 1) met there.
struct WavePeaks
{
    int channels = 0;
    int columns = 0;
    // columns × channels values, column after column.
    QList<float> values;
    float at(int column, int channel) const { return values[column * channels + channel]; }
};

// Reads a bounded number of short windows spread over the file, or the whole file when it is
// short, so the cost does not grow with the file. Empty (no columns) when it cannot be read.
WavePeaks readWavePeaks(const QString &path, int columns);
