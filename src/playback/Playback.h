#pragma once

#include "ChainPlayer.h"
#include "NowPlaying.h"
#include "platform/SoundOutput.h"

#include <QModelIndex>
#include <QObject>
#include <QPointer>
#include <QWidget>

class FileFacts;

// Playing what the user selected in a list: nothing for no entry, one entry at once with the
// asynchronous sound, two or more one after another in the chain window.
class Playback final : public QObject
{
    Q_OBJECT
public:
    // facts gives the chain window the tooltip of the playing file; none without it.
    Playback(NowPlaying &sound, WaveLength &waveLength, Clock &clock, FileFacts *facts = nullptr,
             QObject *parent = nullptr);

    ChainPlayer &chain() { return m_chain; }

    // Plays the selected entries (in the order shown) of source; a single one is the file under
    // its pathRole. A single file that cannot be played is reported over parent, when the
    // output finds it; a chain runs in a modal chain window. True when the chain window was
    // shown. addEntry lets the chain of the file list add its files to the play list. With
    // refused, a single file that cannot be played is handed to it rather than told in a box.
    bool play(const QModelIndexList &selected, int pathRole, const ChainSource &source,
              const std::function<void(const ChainEntry &)> &addEntry, QWidget *parent,
              std::function<void(const QString &path)> refused = {});

    // What a single play plays of its file (the window's preview level, say); the whole
    // file as it is without one. The chain plays its files as they are.
    void setSinglePlay(std::function<PlayRequest(const QString &path)> single)
    {
        m_single = std::move(single);
    }

    bool chainRunning() const { return !m_chainWindow.isNull(); }
    QWidget *chainWindow() const { return m_chainWindow; }
    // Ends the sound, and the chain when one runs.
    void stop();
    // Goes on to the next file of a running chain, as "&Next wav" does.
    void next();

    // Blocks for 0.3 s without yielding, as a play started from a menu does first.
    void pauseBeforeMenuPlay();

    static QString unplayableText();

signals:
    void chainChanged(bool running);

private:
    NowPlaying &m_sound;
    // The single play whose refusal is to be told, and over which window.
    quint64 m_singleStart = 0;
    QPointer<QWidget> m_singleParent;
    QString m_singlePath;
    std::function<void(const QString &)> m_singleRefused;
    Clock &m_clock;
    ChainPlayer m_chain;
    FileFacts *m_facts;
    QPointer<QWidget> m_chainWindow;
    std::function<PlayRequest(const QString &)> m_single;
};
