#pragma once

#include "Loudness.h"
#include "platform/WaveInfo.h"
#include "platform/WorkPool.h"

#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class Asker;
class Generation;
class LoudnessFacts;

// Size and modification time: a file that changed on disk (a recording still growing, an
// edit saved from the sound editor) no longer matches what was read of it.
struct FileStamp
{
    qint64 size = -1;
    qint64 modifiedMs = 0;
    bool operator==(const FileStamp &other) const = default;
};
FileStamp stampOf(const QString &path);

// What is known of the files the lists show: their details and their waveform, read by
// tasks of the scheduler and kept in bounded caches (least recently used out) by
// path, size and modification time. The window's thread only ever reads the caches: a file
// on a stalled mount, or one whose header takes long, holds up a worker, never the window.
class FileFacts final : public QObject
{
    Q_OBJECT
public:
    using InfoReader = std::function<WaveInfo(const QString &)>;
    using PeaksReader = std::function<WavePeaks(const QString &, int)>;
    using StampReader = std::function<FileStamp(const QString &)>;
    explicit FileFacts(QObject *parent, InfoReader readInfo = readWaveInfo,
                       PeaksReader readPeaks = readWavePeaks, StampReader readStamp = stampOf,
                       LoudnessMeasure measure = measureLoudness);
    // Drops the files still waiting, and the news of those being read.
    ~FileFacts() override;

    static constexpr int pictureColumns = 240;
    // The details kept (a few hundred bytes each); the least recently used go first.
    static constexpr int keptFiles = 20000;

    struct Facts
    {
        FileStamp stamp;
        WaveInfo info;
        // No file was there when it was last looked at.
        bool missing() const { return stamp.size < 0; }
    };
    // The loudness of the same files, measured apart: it reads each file whole.
    LoudnessFacts &loudness() const { return *m_loudness; }

    // What was last read of path, however old; nothing when it never was.
    std::optional<Facts> known(const QString &path) const;
    // The waveform made of path as it was last read; nothing while none is.
    std::optional<WavePeaks> peaks(const QString &path) const;

    // Reads the files whose details are missing or stale, in the order given, in lane: the
    // rows in view in Lane::now, the rest of a folder in Lane::folder. A new request of the
    // same rows replaces the paths still waiting from the one before (the rows scrolled
    // past); those of other rows (another list's) go on.
    void requestInfo(Generation &rows, const QStringList &paths, Lane lane = Lane::now);
    // Reads the details and then the waveform of one file (the one under the pointer), before
    // any waiting mark; the newest request is served first.
    void requestDetails(const QString &path);

signals:
    // New details of path: it was read for the first time, or it changed on disk.
    void infoReady(const QString &path);
    void peaksReady(const QString &path);

private:
    // What the tasks share with the window; a task holds it, so it may outlive this object.
    struct Shared;
    std::shared_ptr<Shared> m_shared;
    std::unique_ptr<Asker> m_asker;
    LoudnessFacts *m_loudness;
};
