#include "NowPlaying.h"

NowPlaying::NowPlaying(SoundOutput &output, QObject *parent) : QObject(parent), m_output(output)
{
    m_output.setDrainedHandler([this] {
        QMetaObject::invokeMethod(this, &NowPlaying::endedByItself, Qt::QueuedConnection);
    });
    m_output.setAnsweredHandler(
        [this] { QMetaObject::invokeMethod(this, &NowPlaying::answered, Qt::QueuedConnection); });
}

NowPlaying::~NowPlaying()
{
    // Under the output's lock: no call of the handlers is running or will come.
    m_output.setDrainedHandler({});
    m_output.setAnsweredHandler({});
}

bool NowPlaying::start(const PlayRequest &request)
{
    const QString path = request.path;
    const bool wasPlaying = !m_path.isEmpty();
    const bool started = m_output.start(request);
    m_path = started ? path : QString();
    m_request = request;
    m_fresh = true;
    m_lengthUs = 0;
    if (const std::optional<HeardPosition> length = m_output.length(); started && length)
        m_lengthUs = length->microseconds();
    ++m_starts;
    if (std::exchange(m_paused, false))
        emit pausedChanged(false);
    if (started)
        emit this->started(path);
    else if (wasPlaying)
        emit stopped();
    return started;
}

void NowPlaying::stop()
{
    m_output.stop();
    if (std::exchange(m_paused, false))
        emit pausedChanged(false);
    if (!std::exchange(m_path, QString()).isEmpty())
        emit stopped();
}

std::optional<HeardPosition> NowPlaying::heard() const
{
    if (m_paused)
        return m_pausedAt;
    return m_output.heard();
}

void NowPlaying::pause()
{
    const std::optional<HeardPosition> at = m_output.heard();
    if (m_paused || m_path.isEmpty() || !at)
        return;
    m_pausedAt = *at;
    m_output.stop();
    m_paused = true;
    emit pausedChanged(true);
}

void NowPlaying::resume()
{
    if (!m_paused)
        return;
    m_fresh = false;
    if (m_output.start(goingOnAt(m_pausedAt.frame))) {
        m_paused = false;
        emit pausedChanged(false);
    } else {
        stop();
    }
}

void NowPlaying::seek(qint64 microseconds)
{
    const std::optional<HeardPosition> at = heard();
    if (m_path.isEmpty() || !at || at->sampleRate <= 0)
        return;
    // A place in the file; a region keeps the listener inside it, a sound started from a
    // point may go back before that point.
    qint64 frame = std::max<qint64>(0, microseconds) * at->sampleRate / 1000000;
    if (m_request.endFrame >= 0) {
        frame = std::max(frame, regionStart());
        frame = std::min(frame, m_request.endFrame - 1);
    }
    if (m_paused) {
        m_pausedAt.frame = frame;
    } else {
        m_fresh = false;
        if (!m_output.start(goingOnAt(frame))) {
            stop();
            return;
        }
    }
    emit moved(HeardPosition{frame, at->sampleRate}.microseconds());
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
    m_fresh = false;
    if (!m_output.start(goingOnAt(at->frame)))
        stop();
}

PlayRequest NowPlaying::goingOnAt(qint64 frame) const
{
    // The same part of the file from another frame: a loop still goes back to its start.
    PlayRequest request = m_request;
    request.loopFrom = regionStart();
    request.startFrame = frame;
    return request;
}

void NowPlaying::endedByItself()
{
    // A drain told late, after a newer sound started, is that one's business; a paused
    // sound has not ended.
    if (!m_paused && !m_path.isEmpty() && m_output.drained()) {
        m_path.clear();
        emit stopped();
    }
}

void NowPlaying::answered()
{
    // Asked again rather than carried: an answer told late, after a newer start, finds that
    // one still opening and changes nothing.
    if (m_paused || m_path.isEmpty())
        return;
    if (m_output.refused()) {
        m_path.clear();
        if (m_fresh)
            emit startRefused(m_starts);
        emit stopped();
    } else if (const std::optional<HeardPosition> length = m_output.length();
               length && length->microseconds() != m_lengthUs) {
        m_lengthUs = length->microseconds();
        emit lengthKnown();
    }
}
