#pragma once

#include "platform/WaveInfo.h"

#include <QCache>
#include <QMutex>
#include <QObject>
#include <QStringList>
#include <QThreadPool>
#include <atomic>
#include <functional>
#include <optional>

// Size and modification time: a file that changed on disk (a recording still growing, an
// edit saved from the sound editor) no longer matches what was read of it.
struct FileStamp
{
    qint64 size = -1;
    qint64 modifiedMs = 0;
    bool operator==(const FileStamp &other) const = default;
};
FileStamp stampOf(const QString &path);

// What is known of the files the lists show: their details and their waveform, read in
// worker threads and kept in bounded caches (least recently used out) by path, size and
// modification time. The window's thread only ever reads the caches: a file on a stalled
// mount, or one whose header takes long, holds up a worker, never the window.
class FileFacts final : public QObject
{
    Q_OBJECT
public:
    using InfoReader = std::function<WaveInfo(const QString &)>;
    using PeaksReader = std::function<WavePeaks(const QString &, int)>;
    using StampReader = std::function<FileStamp(const QString &)>;
    explicit FileFacts(QObject *parent, InfoReader readInfo = readWaveInfo,
                       PeaksReader readPeaks = readWavePeaks, StampReader readStamp = stampOf);
    // Waits for the file a worker is reading, then drops the rest.
    ~FileFacts() override;

    static constexpr int pictureColumns = 240;

    struct Facts
    {
        FileStamp stamp;
        WaveInfo info;
        // No file was there when it was last looked at.
        bool missing() const { return stamp.size < 0; }
    };
    // What was last read of path, however old; nothing when it never was.
    std::optional<Facts> known(const QString &path) const;
    // The waveform made of path as it was last read; nothing while none is.
    std::optional<WavePeaks> peaks(const QString &path) const;

    // Reads in a worker the files whose details are missing or stale; a new request replaces
    // the paths still waiting from the one before (the rows scrolled past).
    void requestInfo(const QStringList &paths);
    // Reads in the other worker the details and then the waveform of one file (the one under
    // the pointer); the newest request is served first.
    void requestDetails(const QString &path);

signals:
    // New details of path: it was read for the first time, or it changed on disk.
    void infoReady(const QString &path);
    void peaksReady(const QString &path);

private:
    struct Picture
    {
        FileStamp stamp;
        WavePeaks peaks;
    };
    // Paths waiting for one worker; it takes them in turn and ends when none are left.
    struct Queue
    {
        QMutex mutex;
        QStringList waiting;
        bool running = false;
        // A tooltip wants its newest file first; the marks come in the order the rows show.
        bool newestFirst = false;
    };
    // Replace: the paths still waiting go (the rows scrolled past); Add: they stay.
    enum class Waiting
    {
        Replace,
        Add,
    };
    void feed(Queue &queue, const QStringList &paths, Waiting earlier,
              const std::function<void(const QString &)> &work);
    // In a worker: reads path again unless its stamp still matches what is known.
    void refresh(const QString &path);
    void makePicture(const QString &path);
    void post(void (FileFacts::*signal)(const QString &), const QString &path);

    InfoReader m_readInfo;
    PeaksReader m_readPeaks;
    StampReader m_readStamp;
    // The caches are filled by the workers and read by the window.
    mutable QMutex m_cacheMutex;
    QCache<QString, Facts> m_known;
    QCache<QString, Picture> m_pictures;
    Queue m_infoQueue;
    Queue m_detailsQueue;
    std::atomic_bool m_closing = false;
    QThreadPool m_pool;
};
