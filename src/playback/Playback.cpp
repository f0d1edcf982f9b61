#include "Playback.h"

#include "Form2.h"
#include "platform/Clock.h"
#include "platform/SoundOutput.h"
#include "ui/MessageBoxes.h"

#include <QThread>

namespace {
constexpr double menuPlayPauseSeconds = 0.3;
} // namespace

Playback::Playback(SoundOutput &sound, WaveLength &waveLength, Clock &clock, FileFacts *facts)
    : m_sound(sound), m_clock(clock), m_chain(sound, waveLength, clock), m_facts(facts)
{
}

QString Playback::unplayableText()
{
    return QStringLiteral("Sound file cannot be played !!!");
}

bool Playback::play(const QList<int> &selected, const ChainSource &source, bool fromFileList,
                    const std::function<void(const ChainEntry &)> &addEntry, QWidget *parent,
                    QPointer<QWidget> &chainWindow)
{
    if (selected.size() == 1 && !m_sound.play(source.entry(selected.first()).path))
        messages::stop(parent, unplayableText());
    if (selected.size() < 2)
        return false;
    Form2 window(m_chain, source, fromFileList, addEntry, parent);
    if (m_facts)
        window.setFacts(m_facts);
    chainWindow = &window;
    window.exec();
    return true;
}

void Playback::pauseBeforeMenuPlay()
{
    const double start = m_clock.seconds();
    while (m_clock.seconds() < start + menuPlayPauseSeconds)
        QThread::msleep(1);
}
