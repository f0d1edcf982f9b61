#include "Playback.h"

#include "Form2.h"
#include "platform/Clock.h"
#include "platform/SoundOutput.h"
#include "ui/MessageBoxes.h"

#include <QThread>

namespace {
constexpr double menuPlayPauseSeconds = 0.3;
} // namespace

Playback::Playback(NowPlaying &sound, WaveLength &waveLength, Clock &clock, FileFacts *facts,
                   QObject *parent)
    : QObject(parent), m_sound(sound), m_clock(clock), m_chain(sound, waveLength, clock),
      m_facts(facts)
{
    // The file is opened on a worker: one that cannot be played is told when it answers,
    // unless another sound was started meanwhile.
    connect(&m_sound, &NowPlaying::startRefused, this, [this](quint64 start) {
        if (start != m_singleStart || !m_singleParent)
            return;
        if (m_singleRefused)
            m_singleRefused(m_singlePath);
        else
            messages::stop(m_singleParent, unplayableText());
    });
}

QString Playback::unplayableText()
{
    return QStringLiteral("Sound file cannot be played !!!");
}

bool Playback::play(const QModelIndexList &selected, int pathRole, const ChainSource &source,
                    const std::function<void(const ChainEntry &)> &addEntry, QWidget *parent,
                    std::function<void(const QString &path)> refused)
{
    if (selected.size() == 1) {
        const QString path = chainEntryOf(selected.first(), pathRole).path;
        if (!m_sound.start(m_single ? m_single(path) : PlayRequest::whole(path))) {
            if (refused)
                refused(path);
            else
                messages::stop(parent, unplayableText());
        } else {
            m_singleStart = m_sound.starts();
            m_singleParent = parent;
            m_singlePath = path;
            m_singleRefused = std::move(refused);
        }
    }
    if (selected.size() < 2)
        return false;
    Form2 window(m_chain, source, addEntry, parent);
    if (m_facts)
        window.setFacts(m_facts);
    m_chainWindow = &window;
    emit chainChanged(true);
    window.exec();
    m_chainWindow.clear();
    emit chainChanged(false);
    return true;
}

void Playback::stop()
{
    m_sound.stop();
    if (chainRunning())
        m_chain.AbortRequest = true;
}

void Playback::next()
{
    if (chainRunning())
        m_chain.NextRequest = true;
}

void Playback::pauseBeforeMenuPlay()
{
    const double start = m_clock.seconds();
    while (m_clock.seconds() < start + menuPlayPauseSeconds)
        QThread::msleep(1);
}
