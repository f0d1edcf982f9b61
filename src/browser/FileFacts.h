#pragma once

#include "platform/WaveInfo.h"

#include <QCache>
#include <QMutex>
#include <QObject>
#include <QStringList>
#include <QThreadPool>
#include <atomic>
#include <functional>

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
// modification time. Nothing here opens a file unless asked for one.
class FileFacts final : public QObject
{
    Q_OBJECT
public:
    using InfoReader = std::function<WaveInfo(const QString &)>;
    using PeaksReader = std::function<WavePeaks(const QString &, int)>;
    explicit FileFacts(QObject *parent, InfoReader readInfo = readWaveInfo,
                       PeaksReader readPeaks = readWavePeaks);
    // Waits for the file a worker is reading, then drops the rest.
    ~FileFacts() override;

    static constexpr int pictureColumns = 240;

    // The details of the file as it is now: from the cache, else read from its header here.
    WaveInfo infoNow(const QString &path);
    // What was last read of path, however old; nullptr when nothing was.
    const WaveInfo *known(const QString &path);
    // Reads in a worker the files whose details are missing or stale; a new request replaces
    // the paths still waiting from the one before (the rows scrolled past).
    void requestInfo(const QStringList &paths);
    // The waveform of the file as it is now, or nullptr while a worker makes it.
    const WavePeaks *peaks(const QString &path);

signals:
    void infoReady();
    void peaksReady(const QString &path);

private:
    struct Known
    {
        FileStamp stamp;
        WaveInfo info;
    };
    struct Picture
    {
        FileStamp stamp;
        WavePeaks peaks;
    };
    // Paths waiting for one worker; it takes them newest first and ends when none are left.
    struct Queue
    {
        QMutex mutex;
        QStringList waiting;
        bool running = false;
        // A tooltip wants its newest file first; the marks come in the order the rows show.
        bool newestFirst = false;
    };
    void feed(Queue &queue, const QStringList &paths, bool replace,
              const std::function<void(const QString &)> &work);

    InfoReader m_readInfo;
    PeaksReader m_readPeaks;
    QCache<QString, Known> m_known;
    QCache<QString, Picture> m_pictures;
    Queue m_infoQueue;
    Queue m_peaksQueue;
    std::atomic_bool m_closing = false;
    QThreadPool m_pool;
};
