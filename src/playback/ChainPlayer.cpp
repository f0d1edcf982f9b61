#include "ChainPlayer.h"

#include "platform/Clock.h"
#include "platform/SoundOutput.h"
#include "platform/WaveFile.h"
#include "platform/WorkPool.h"

#include <QCoreApplication>
#include <QItemSelectionModel>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>

ChainPlayer::ChainPlayer(SoundOutput &sound, WaveLength &waveLength, Clock &clock)
    : m_sound(sound), m_waveLength(waveLength), m_clock(clock)
{
}

qint64 ChainPlayer::chainSecondsFor(std::optional<qint64> lengthMs)
{
    if (!lengthMs)
        return 1;
    const double seconds = std::nearbyint(static_cast<double>(*lengthMs) / 1000.0);
    return seconds < 1 ? 1 : static_cast<qint64>(seconds);
}

qint64 ChainPlayer::barTenthsFor(std::optional<qint64> lengthMs)
{
    if (!lengthMs)
        return chainSecondsFor(lengthMs) * 10;
    return std::max<qint64>(1, (*lengthMs + 99) / 100);
}

qint64 ChainPlayer::elapsedTenths(double now, double start, qint64 fullTenths)
{
    const double tenths = std::nearbyint((now - start) * 10.0);
    if (tenths >= static_cast<double>(fullTenths))
        return fullTenths;
    return tenths < 0 ? 0 : static_cast<qint64>(tenths);
}

namespace {
// A length asked of a worker; the task holds it, so that one stuck on a dead mount after the
// chain has gone on or ended writes into nothing that is gone.
struct LengthAnswer
{
    std::mutex lock;
    std::condition_variable told;
    bool done = false;
    std::optional<qint64> lengthMs;
};
// A local disk answers in well under a millisecond: the chain waits this long before it lets
// the window go on answering while it waits.
constexpr auto quickAnswer = std::chrono::milliseconds(20);
} // namespace

std::optional<std::optional<qint64>> ChainPlayer::lengthOf(const QString &path, ChainView &view)
{
    auto answer = std::make_shared<LengthAnswer>();
    workPool().start(Lane::now, [answer, &waveLength = m_waveLength, path] {
        const std::optional<qint64> lengthMs = waveLength.lengthMs(path);
        {
            const std::lock_guard<std::mutex> hold(answer->lock);
            answer->lengthMs = lengthMs;
            answer->done = true;
        }
        answer->told.notify_all();
        // Wakes the window's wait for events, which would otherwise sleep until its timer.
        if (QCoreApplication *app = QCoreApplication::instance())
            QMetaObject::invokeMethod(
                app, [] {}, Qt::QueuedConnection);
    });
    std::unique_lock<std::mutex> hold(answer->lock);
    answer->told.wait_for(hold, quickAnswer, [&] { return answer->done; });
    while (!answer->done) {
        hold.unlock();
        view.waitPass();
        if (AbortRequest)
            return std::nullopt;
        hold.lock();
    }
    return answer->lengthMs;
}

ChainEntry chainEntryOf(const QModelIndex &index, int pathRole)
{
    return ChainEntry{index.data(pathRole).toString(), index.data(Qt::EditRole).toString()};
}

ChainSource chainSourceOf(const QItemSelectionModel &selection, int pathRole)
{
    const QAbstractItemModel *model = selection.model();
    // A list view selects its entries in column 0 alone, whatever columns the model has.
    return {[model] { return model->rowCount(); },
            [&selection, model](int row) { return selection.isSelected(model->index(row, 0)); },
            [model, pathRole](int row) { return chainEntryOf(model->index(row, 0), pathRole); }};
}

ChainPlayer::Outcome ChainPlayer::run(const ChainSource &source, ChainView &view,
                                      const std::function<void(const ChainEntry &)> &addEntry)
{
    view.setAddEnabled(bool(addEntry));
    const int count = source.count();
    NextRequest = false;
    AddRequest = false;
    AbortRequest = false;
    for (int i = 0; i < count; ++i) {
        if (!source.isSelected(i))
            continue;
        const ChainEntry entry = source.entry(i);
        const std::optional<std::optional<qint64>> asked = lengthOf(entry.path, view);
        if (!asked)
            return Outcome::Aborted;
        const std::optional<qint64> lengthMs = *asked;
        ChainSeconds = static_cast<double>(chainSecondsFor(lengthMs));
        view.showName(entry.name.toUpper(), entry.path);
        view.clearBar();
        NextRequest = false;
        AddRequest = false;
        if (!m_sound.play(entry.path)) {
            view.showFailure();
            return Outcome::Failed;
        }
        const EntryEnd end = wait(entry, lengthMs, view, addEntry);
        if (end == EntryEnd::Refused) {
            view.showFailure();
            return Outcome::Failed;
        }
        if (end == EntryEnd::Aborted)
            return Outcome::Aborted;
    }
    return Outcome::Finished;
}

ChainPlayer::EntryEnd ChainPlayer::wait(const ChainEntry &entry, std::optional<qint64> lengthMs,
                                        ChainView &view,
                                        const std::function<void(const ChainEntry &)> &addEntry)
{
    const double start = m_clock.seconds();
    const double lengthSeconds = lengthMs ? static_cast<double>(*lengthMs) / 1000.0 : ChainSeconds;
    const double deadline = start + lengthSeconds + fallbackMarginSeconds;
    const qint64 fullTenths = barTenthsFor(lengthMs);
    const double scale = view.barWidth() / static_cast<double>(fullTenths);
    for (;;) {
        // The output opens the file on a worker and may find only now that it cannot play it.
        if (m_sound.refused())
            return EntryEnd::Refused;
        // The queued audio and the device's buffer still play after the clock says the
        // length is over: only the output knows when the last sample has gone out.
        if (m_sound.drained() || m_clock.seconds() > deadline) {
            view.fillBar(view.barWidth());
            return EntryEnd::TimeUp;
        }
        const qint64 tenths = elapsedTenths(m_clock.seconds(), start, fullTenths);
        view.fillBar(static_cast<double>(tenths) * scale);
        view.waitPass();
        if (AbortRequest)
            return EntryEnd::Aborted;
        if (NextRequest)
            return EntryEnd::Next;
        if (addEntry && AddRequest) {
            addEntry(entry);
            return EntryEnd::Added;
        }
    }
}
