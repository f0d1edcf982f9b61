#pragma once

#include "ChainPlayer.h"

#include <QPointer>

class FileFacts;
class QWidget;

// Playing what the user selected in a list: nothing for no entry, one entry at once with the
// asynchronous sound, two or more one after another in the chain window.
class Playback final
{
public:
    // facts gives the chain window the tooltip of the playing file; none without it.
    Playback(SoundOutput &sound, WaveLength &waveLength, Clock &clock, FileFacts *facts = nullptr);

    ChainPlayer &chain() { return m_chain; }

    // Plays the selected entries (in ascending order) of source. A single file that cannot be
    // played is reported over parent; a chain runs in a modal chain window, kept in
    // chainWindow while it is up. True when the chain window was shown.
    bool play(const QList<int> &selected, const ChainSource &source, bool fromFileList,
              const std::function<void(const ChainEntry &)> &addEntry, QWidget *parent,
              QPointer<QWidget> &chainWindow);

    // Blocks for 0.3 s without yielding, as a play started from a menu does first.
    void pauseBeforeMenuPlay();

    static QString unplayableText();

private:
    SoundOutput &m_sound;
    Clock &m_clock;
    ChainPlayer m_chain;
    FileFacts *m_facts;
};
