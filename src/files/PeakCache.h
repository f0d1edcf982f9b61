#pragma once

#include "FileFacts.h"

#include <QObject>
#include <memory>
#include <optional>

class Asker;
class Generation;

// The waveform of the file at hand at the width it is drawn, read by a task on the work pool
// and kept for the last few files by path, size and modification time. The window asks for
// what it needs and draws what it has: a narrower width is made from the columns held, a
// wider one (or a file changed on disk) is read again.
class PeakCache final : public QObject
{
    Q_OBJECT
public:
    explicit PeakCache(QObject *parent, FileFacts::PeaksReader readPeaks = readWavePeaks,
                       FileFacts::StampReader readStamp = stampOf);
    ~PeakCache() override;

    // Columns read for a width: whole steps, so a window widened a little reads nothing new.
    static int columnsFor(int width);

    // The peaks last read of path, at however many columns; nothing while none are.
    std::optional<WavePeaks> peaks(const QString &path) const;
    // Reads path at columnsFor(width) unless as many are held of it as it is now; only the
    // newest request is served, the ones waiting before it pass.
    void request(const QString &path, int width);

signals:
    void ready(const QString &path);

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
    std::unique_ptr<Asker> m_asker;
    std::unique_ptr<Generation> m_file;
};

// Peaks drawn at fewer columns: each new column takes the largest of the ones it covers.
WavePeaks narrowed(const WavePeaks &peaks, int columns);
