#pragma once

#include <QString>
#include <functional>
#include <optional>

class Clock;
class QItemSelectionModel;
class QModelIndex;
class SoundOutput;
class WaveLength;

// One entry of a chain: the file to play and the name to show.
struct ChainEntry
{
    QString path;
    QString name;
};

// Where a chain takes its entries from: the file list or the play list. The count is read
// once; whether an entry is selected is read when the chain reaches it.
struct ChainSource
{
    std::function<int()> count;
    std::function<bool(int)> isSelected;
    std::function<ChainEntry(int)> entry;
};

// An entry of a list: its file under pathRole and its name under Qt::EditRole.
ChainEntry chainEntryOf(const QModelIndex &index, int pathRole);
// The chain of a list: its model's rows as the view shows them (through any proxy),
// selected as its selection model says when the chain reaches each.
ChainSource chainSourceOf(const QItemSelectionModel &selection, int pathRole);

// What the chain window shows while the chain runs.
class ChainView
{
public:
    virtual ~ChainView() = default;
    virtual void setAddEnabled(bool enabled) = 0;
    // The entry now playing: its name as shown, and its file.
    virtual void showName(const QString &upperCasedName, const QString &path) = 0;
    virtual double barWidth() const = 0;
    virtual void clearBar() = 0;
    // Fills the bar from its left edge to width (the whole bar at the end of an entry).
    virtual void fillBar(double width) = 0;
    // One pass of the wait: lets the window handle its events (the buttons set the
    // requests here), then sleeps until the next event or a short timer.
    virtual void waitPass() = 0;
    virtual void showFailure() = 0;
};

// Plays the selected entries one after another, each to its end: the next starts when the
// output reports the sound drained (its length plus a second by the clock, should no report
// come), with the requests of the chain window's buttons.
class ChainPlayer final
{
public:
    ChainPlayer(SoundOutput &sound, WaveLength &waveLength, Clock &clock);

    enum class Outcome
    {
        Finished,
        Aborted,
        Failed
    };

    // addEntry: the chain of the file list, whose "&Add to list" adds through it; the play
    // list's chain has none.
    Outcome run(const ChainSource &source, ChainView &view,
                const std::function<void(const ChainEntry &)> &addEntry);

    // Whole seconds of a length, rounded to nearest (halves to even), at least 1; a length
    // that cannot be read counts as 1 second.
    static qint64 chainSecondsFor(std::optional<qint64> lengthMs);
    // Tenths a length fills on the bar: at least one, so a very short file still shows.
    static qint64 barTenthsFor(std::optional<qint64> lengthMs);
    // Tenths of a second since start, rounded, within 0 and fullTenths.
    static qint64 elapsedTenths(double now, double start, qint64 fullTenths);
    // Without a report from the output an entry ends this long after its length.
    static constexpr double fallbackMarginSeconds = 1.0;

    bool NextRequest = false;
    bool AddRequest = false;
    bool AbortRequest = false;
    double ChainSeconds = 0;

private:
    enum class EntryEnd
    {
        TimeUp,
        Next,
        Added,
        Aborted,
        Refused
    };
    // The file's length, read by a worker while the window goes on answering; none when the
    // chain is ended meanwhile.
    std::optional<std::optional<qint64>> lengthOf(const QString &path, ChainView &view);
    EntryEnd wait(const ChainEntry &entry, std::optional<qint64> lengthMs, ChainView &view,
                  const std::function<void(const ChainEntry &)> &addEntry);

    SoundOutput &m_sound;
    WaveLength &m_waveLength;
    Clock &m_clock;
};
