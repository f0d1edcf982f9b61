#pragma once

#include "FileFacts.h"
#include "Loudness.h"
#include "LoudnessKeeper.h"

#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class Asker;
class Generation;

// The loudness of the files the lists show, measured by the scheduler's threads for whole
// files, at a low priority (a measurement reads a file whole), and kept by path, size and
// modification time, in memory and by a keeper. The files asked for first (those in view, the one
// at hand) go before the rest of the folder, which is measured in list order; another folder drops
// what of the last one waits, the rows that were in view included, and stops the measurement of it
// that runs, but for the files a tooltip or the band still shows.
class LoudnessFacts final : public QObject
{
    Q_OBJECT
public:
    using Measure = LoudnessMeasure;
    explicit LoudnessFacts(QObject *parent, Measure measure = measureLoudness,
                           FileFacts::StampReader readStamp = stampOf);
    ~LoudnessFacts() override;

    // The figures as last measured; nothing while none are, for a file that could not be
    // decoded, and for figures no take can have (see believable()).
    std::optional<Loudness> known(const QString &path) const;
    // Asked for and not measured yet: "measuring…".
    bool waiting(const QString &path) const;
    // What a window says of path's loudness: the figures, "measuring…" while a worker is at
    // it, or nothing.
    QString line(const QString &path) const;

    // Keeps what is measured there too, and asks it before measuring, so that a file measured
    // once (here, in an earlier run, or by the library) answers at once. Without one, what is
    // measured is kept in memory only.
    void keepIn(std::shared_ptr<LoudnessKeeper> keeper);
    // Where earlier versions kept what they measured: $XDG_CACHE_HOME/QuillonSonoret/loudness.
    // The library takes it in once; nothing writes it any more.
    static QString oldCacheFile();
    // How many files are measured at once, one a thread.
    static int threads();

    // Whether figures are those of a real take, read back from disk or just measured:
    // integrated loudness between the absolute gate and +10 LUFS (or none, for silence), a
    // finite range, a finite true peak that the sample peak does not pass (none only for
    // silence, +∞ only for samples that are not numbers), no negative count of clipped
    // samples. Anything else is measured again, or taken as not measured.
    static bool believable(const Loudness &loudness);

    // Files to measure before any other; the folder's rest is kept. Of the folder shown:
    // dropped with it.
    void requestFirst(const QStringList &paths);
    // The one file `asker` shows (a tooltip, the band), measured before any other and kept
    // on through another folder until it shows another, or none (an empty path).
    void requestFor(const QObject *asker, const QString &path);
    // The folder shown, in list order: it replaces the folder before.
    void requestFolder(const QStringList &paths);

signals:
    void measured(const QString &path);

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
    std::unique_ptr<Asker> m_asker;
    std::unique_ptr<Generation> m_folder;
};
