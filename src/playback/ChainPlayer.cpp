#include "ChainPlayer.h"

#include "platform/Clock.h"
#include "platform/SoundOutput.h"
#include "platform/WaveFile.h"

#include <cmath>

ChainPlayer::ChainPlayer(SoundOutput &sound, WaveLength &waveLength, Clock &clock)
    : m_sound(sound), m_waveLength(waveLength), m_clock(clock)
{
}

int ChainPlayer::chainSecondsFor(std::optional<qint64> lengthMs)
{
    if (!lengthMs)
        return 1;
    const double seconds = std::nearbyint(static_cast<double>(*lengthMs) / 1000.0);
    return seconds < 1 ? 1 : static_cast<int>(seconds);
}

qint64 ChainPlayer::elapsedTenths(double now, qint64 startSecond, int chainSeconds)
{
    qint64 tenths = static_cast<qint64>(std::nearbyint((now - startSecond) * 10.0));
    const qint64 full = static_cast<qint64>(chainSeconds) * 10;
    if (tenths > full)
        tenths = full;
    if (tenths < 0)
        tenths = 0;
    return tenths;
}

ChainPlayer::Outcome ChainPlayer::run(const ChainSource &source, ChainView &view, bool fromFileList,
                                      const std::function<void(const ChainEntry &)> &addEntry)
{
    view.setAddEnabled(fromFileList);
    const int count = source.count();
    NextRequest = false;
    AddRequest = false;
    AbortRequest = false;
    for (int i = 0; i < count; ++i) {
        if (!source.isSelected(i))
            continue;
        const ChainEntry entry = source.entry(i);
        ChainSeconds = chainSecondsFor(m_waveLength.lengthMs(entry.path));
        view.showName(entry.name.toUpper());
        view.clearBar();
        NextRequest = false;
        AddRequest = false;
        if (!m_sound.play(entry.path)) {
            view.showFailure();
            return Outcome::Failed;
        }
        if (wait(entry, view, fromFileList, addEntry) == EntryEnd::Aborted)
            return Outcome::Aborted;
    }
    return Outcome::Finished;
}

ChainPlayer::EntryEnd ChainPlayer::wait(const ChainEntry &entry, ChainView &view, bool fromFileList,
                                        const std::function<void(const ChainEntry &)> &addEntry)
{
    const qint64 start = static_cast<qint64>(std::nearbyint(m_clock.seconds()));
    const int seconds = static_cast<int>(ChainSeconds);
    const float scale = static_cast<float>(view.barWidth() / (ChainSeconds * 10));
    for (;;) {
        if (m_clock.seconds() > start + ChainSeconds) {
            view.fillBar(view.barWidth());
            return EntryEnd::TimeUp;
        }
        const qint64 tenths = elapsedTenths(m_clock.seconds(), start, seconds);
        view.fillBar(static_cast<double>(tenths * scale));
        view.waitPass();
        if (AbortRequest)
            return EntryEnd::Aborted;
        if (NextRequest)
            return EntryEnd::Next;
        if (fromFileList && AddRequest) {
            addEntry(entry);
            return EntryEnd::Added;
        }
    }
}
