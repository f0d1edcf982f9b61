#include "NowPlaying.h"

#include <algorithm>
#include <limits>

namespace {
constexpr qint64 microsecondsPerSecond = 1000000;
// The last frame whose time in microseconds a qint64 still holds.
constexpr qint64 lastFrame = std::numeric_limits<qint64>::max() / microsecondsPerSecond;
// A loop's round is looked for this long after it should have ended: the device takes its
// samples in blocks of about 10 ms.
constexpr int roundLookMarginMs = 30;
// Rounds shorter than twice this are not each told: a client would be flooded.
constexpr int shortestRoundLookMs = 50;
// How often a loop whose end is not known yet is looked at, and the longest wait between
// two looks at one whose end is far.
constexpr int roundLookMs = 250;
constexpr int longestRoundLookMs = 10000;
} // namespace

NowPlaying::NowPlaying(SoundOutput &output, QObject *parent) : QObject(parent), m_output(output)
{
    m_output.setDrainedHandler([this] {
        QMetaObject::invokeMethod(this, &NowPlaying::endedByItself, Qt::QueuedConnection);
    });
    m_output.setAnsweredHandler(
        [this] { QMetaObject::invokeMethod(this, &NowPlaying::answered, Qt::QueuedConnection); });
    m_restart.setSingleShot(true);
    connect(&m_restart, &QTimer::timeout, this, &NowPlaying::restartHeld);
    m_loopWatch.setSingleShot(true);
    connect(&m_loopWatch, &QTimer::timeout, this, &NowPlaying::lookForRound);
}

NowPlaying::~NowPlaying()
{
    // Under the output's lock: no call of the handlers is running or will come.
    m_output.setDrainedHandler({});
    m_output.setAnsweredHandler({});
}

qint64 NowPlaying::frameAt(qint64 microseconds, int sampleRate)
{
    if (microseconds <= 0 || sampleRate <= 0)
        return 0;
    // Whole seconds and the rest apart: microseconds times the rate overflows from about
    // 10^15 us (a month) on, long before the frames themselves would.
    const qint64 seconds = microseconds / microsecondsPerSecond;
    const qint64 rest = microseconds % microsecondsPerSecond;
    if (seconds > lastFrame / sampleRate)
        return lastFrame;
    return std::min(lastFrame, seconds * sampleRate + rest * sampleRate / microsecondsPerSecond);
}

bool NowPlaying::start(const PlayRequest &request)
{
    const QString path = request.path;
    const bool wasPlaying = !m_path.isEmpty();
    m_held = false;
    m_outputQuiet = false;
    m_moveToTell = false;
    const bool started = m_output.start(request);
    m_sinceRestart.start();
    m_path = started ? path : QString();
    // The file may have changed since it last played: its length is told again.
    m_lengthPath.clear();
    m_request = request;
    m_fresh = true;
    m_lastLookedFrame = request.startFrame;
    ++m_starts;
    if (std::exchange(m_paused, false))
        emit pausedChanged(false);
    if (started) {
        watchLoop();
        emit this->started(path);
    } else {
        m_loopWatch.stop();
        if (wasPlaying)
            emit stopped();
    }
    return started;
}

void NowPlaying::stop()
{
    m_output.stop();
    dropHeld();
    m_outputQuiet = false;
    m_loopWatch.stop();
    if (std::exchange(m_paused, false))
        emit pausedChanged(false);
    if (!std::exchange(m_path, QString()).isEmpty())
        emit stopped();
}

std::optional<HeardPosition> NowPlaying::heard() const
{
    if (m_paused)
        return m_pausedAt;
    if (m_held)
        return m_heldAt;
    return m_output.heard();
}

void NowPlaying::setLength(const QString &path, qint64 frames, int sampleRate)
{
    if (path.isEmpty() || path != m_path || frames < 0 || sampleRate <= 0)
        return;
    const HeardPosition end{std::min(frames, lastFrame), sampleRate};
    if (m_lengthPath == path && m_length.frame == end.frame && m_length.sampleRate == sampleRate)
        return;
    m_lengthPath = path;
    m_length = end;
    if (m_loopWatch.isActive())
        watchLoop();
    emit lengthKnown();
}

std::optional<HeardPosition> NowPlaying::length() const
{
    if (m_lengthPath.isEmpty() || m_lengthPath != m_path)
        return std::nullopt;
    return m_length;
}

void NowPlaying::answered()
{
    // Asked again rather than carried: an answer told late, after a newer start, finds that
    // one still opening and changes nothing.
    if (m_paused || m_path.isEmpty())
        return;
    if (m_output.refused()) {
        m_path.clear();
        dropHeld();
        m_loopWatch.stop();
        if (m_fresh)
            emit startRefused(m_starts);
        emit stopped();
    } else if (const std::optional<HeardPosition> end = m_output.length()) {
        setLength(m_path, end->frame, end->sampleRate);
    }
}

void NowPlaying::pause()
{
    const std::optional<HeardPosition> at = heard();
    if (m_paused || m_path.isEmpty() || !at)
        return;
    m_pausedAt = *at;
    dropHeld();
    // A resume still held has not started the output again: it is quiet already.
    if (!std::exchange(m_outputQuiet, true))
        m_output.stop();
    m_loopWatch.stop();
    m_paused = true;
    emit pausedChanged(true);
}

void NowPlaying::resume()
{
    if (!m_paused)
        return;
    m_paused = false;
    m_heldAt = m_pausedAt;
    m_held = true;
    emit pausedChanged(false);
    restartSoon();
}

void NowPlaying::seek(qint64 microseconds)
{
    const std::optional<HeardPosition> at = heard();
    if (m_path.isEmpty() || !at || at->sampleRate <= 0)
        return;
    // A place in the file; a region keeps the listener inside it, a sound started from a
    // point may go back before that point.
    qint64 frame = frameAt(microseconds, at->sampleRate);
    if (const std::optional<HeardPosition> end = length(); end && end->sampleRate == at->sampleRate)
        frame = std::min(frame, end->frame);
    if (m_request.endFrame >= 0) {
        frame = std::max(frame, regionStart());
        frame = std::min(frame, m_request.endFrame - 1);
    }
    if (m_paused) {
        m_pausedAt.frame = frame;
    } else {
        m_heldAt = HeardPosition{frame, at->sampleRate};
        m_held = true;
    }
    m_moveToTell = true;
    restartSoon();
}

void NowPlaying::setLooping(bool loop)
{
    if (m_request.loop == loop)
        return;
    PlayRequest changed = m_request;
    changed.loop = loop;
    goOnWith(changed);
}

void NowPlaying::setGainDb(double gainDb)
{
    if (m_request.gainDb == gainDb)
        return;
    PlayRequest changed = m_request;
    changed.gainDb = gainDb;
    goOnWith(changed);
}

void NowPlaying::goOnWith(const PlayRequest &changed)
{
    if (m_path.isEmpty())
        return;
    const std::optional<HeardPosition> at = heard();
    m_request = changed;
    if (m_paused || !at)
        return;
    m_heldAt = *at;
    m_held = true;
    restartSoon();
}

PlayRequest NowPlaying::goingOnAt(qint64 frame) const
{
    // The same part of the file from another frame: a loop still goes back to its start.
    PlayRequest request = m_request;
    request.loopFrom = regionStart();
    request.startFrame = frame;
    return request;
}

qint64 NowPlaying::partEnd() const
{
    qint64 end = -1;
    if (const std::optional<HeardPosition> file = length())
        end = file->frame;
    if (m_request.endFrame >= 0)
        end = end < 0 ? m_request.endFrame : std::min(end, m_request.endFrame);
    return end;
}

void NowPlaying::restartSoon()
{
    if (m_restart.isActive())
        return;
    const qint64 since =
        m_sinceRestart.isValid() ? m_sinceRestart.elapsed() : qint64(restartSpacingMs);
    m_restart.start(int(std::clamp<qint64>(restartSpacingMs - since, 0, restartSpacingMs)));
}

void NowPlaying::restartHeld()
{
    if (m_held && !m_paused && !m_path.isEmpty()) {
        const HeardPosition from = m_heldAt;
        m_held = false;
        m_outputQuiet = false;
        m_lastLookedFrame = from.frame;
        m_fresh = false;
        m_sinceRestart.start();
        if (!m_output.start(goingOnAt(from.frame))) {
            stop();
            return;
        }
        watchLoop();
    }
    if (std::exchange(m_moveToTell, false) && !m_path.isEmpty()) {
        const HeardPosition at = m_paused ? m_pausedAt : m_output.heard().value_or(m_heldAt);
        emit moved(at.microseconds());
    }
}

void NowPlaying::dropHeld()
{
    m_held = false;
    m_moveToTell = false;
    m_restart.stop();
}

void NowPlaying::watchLoop()
{
    if (!m_request.loop || m_paused || m_held || m_path.isEmpty()) {
        m_loopWatch.stop();
        return;
    }
    int wait = roundLookMs;
    const std::optional<HeardPosition> at = m_output.heard();
    const qint64 end = partEnd();
    if (at && at->sampleRate > 0 && end > at->frame && end > regionStart()) {
        const auto msOf = [rate = at->sampleRate](qint64 frames) {
            return frames / rate * 1000 + frames % rate * 1000 / rate;
        };
        // Just after the end, and never more than half a round after the last look: a
        // place behind the last one is then a round done, and nothing else is.
        const qint64 ms =
            std::min(msOf(end - at->frame) + roundLookMarginMs, msOf(end - regionStart()) / 2);
        wait = int(std::clamp<qint64>(ms, shortestRoundLookMs, longestRoundLookMs));
    }
    m_loopWatch.start(wait);
}

void NowPlaying::lookForRound()
{
    if (m_held || m_paused)
        return;
    const std::optional<HeardPosition> at = m_output.heard();
    if (!at)
        return;
    if (at->frame < m_lastLookedFrame)
        emit moved(at->microseconds());
    m_lastLookedFrame = at->frame;
    watchLoop();
}

void NowPlaying::endedByItself()
{
    // A drain told late, after a newer sound started, is that one's business; a paused
    // sound has not ended, nor has one whose restart is held.
    if (!m_paused && !m_held && !m_path.isEmpty() && m_output.drained()) {
        m_path.clear();
        m_loopWatch.stop();
        emit stopped();
    }
}
