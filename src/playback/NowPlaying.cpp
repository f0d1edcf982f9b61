#include "NowPlaying.h"

NowPlaying::NowPlaying(SoundOutput &output, QObject *parent) : QObject(parent), m_output(output)
{
    m_output.setDrainedHandler([this] {
        QMetaObject::invokeMethod(this, &NowPlaying::endedByItself, Qt::QueuedConnection);
    });
}

NowPlaying::~NowPlaying()
{
    // Under the output's lock: no call of the handler is running or will come.
    m_output.setDrainedHandler({});
}

bool NowPlaying::start(const PlayRequest &request)
{
    const QString &path = request.path;
    const bool wasPlaying = !m_path.isEmpty();
    const bool started = m_output.start(request);
    m_path = started ? path : QString();
    ++m_starts;
    if (started)
        emit this->started(path);
    else if (wasPlaying)
        emit stopped();
    return started;
}

void NowPlaying::stop()
{
    m_output.stop();
    if (!std::exchange(m_path, QString()).isEmpty())
        emit stopped();
}

void NowPlaying::endedByItself()
{
    // A drain told late, after a newer sound started, is that one's business.
    if (!m_path.isEmpty() && m_output.drained()) {
        m_path.clear();
        emit stopped();
    }
}
