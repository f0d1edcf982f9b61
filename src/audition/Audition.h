#pragma once

#include "platform/SoundOutput.h"

#include <QList>
#include <QObject>
#include <QPoint>
#include <functional>

class AuditionBand;
class BusyState;
class FileFacts;
class NowPlaying;
class Playback;
class QAbstractItemView;
class QModelIndex;
class QRect;
class QWidget;

// What the main window does to let the user hear its files before choosing them: the band
// below the lists and what it plays, the band's level, loop and "Match loudness" applied to
// every single play, the auto preview of the entry reached, the keys that move in the sound
// at hand, and the length of that sound as its file's facts tell it. The window owns it and
// shows the band; the chain plays its files as they are.
class Audition final : public QObject
{
    Q_OBJECT
public:
    // A list of the window, with the roles of its model that hold an entry's path and its
    // loudness.
    struct List
    {
        QAbstractItemView &view;
        int pathRole;
        int loudnessRole;
    };
    // The lists are the file list and the play list of window, which the band goes into;
    // autoPreviewOn tells whether "Auto &preview" is on now.
    Audition(FileFacts &facts, NowPlaying &now, Playback &playback, const BusyState &busy,
             List fileList, List playList, QWidget &window, std::function<bool()> autoPreviewOn);
    ~Audition() override;

    // Another list whose entries are heard as the file list's are (the library's hits): the
    // band shows its entry at hand, the auto preview follows its arrows.
    void follow(List list);

    // The band shows while "&Waveform" is on; the window gives it its place.
    void showBand(bool shown);
    void placeBand(const QRect &geometry);
    // The list the user is in: the one that has or last had the focus; none before either
    // had it.
    const QAbstractItemView *listAtHand() const { return m_listAtHand; }

    // Ctrl+L: the sound at hand repeats or not; with the band shown, its box is the switch.
    void toggleLoop();
    // The playhead keys: the sound at hand goes on that many seconds later (or earlier).
    void skip(int seconds);

signals:
    // The right button on the band: the window's own menu.
    void menuWanted(const QPoint &globalPosition);

private:
    // The file the band shows: the sound at hand, else the current entry of the list that
    // had the focus last.
    void showFileAtHand();
    // A list followed, with the roles of its model.
    struct Followed
    {
        const QAbstractItemView *view;
        int pathRole;
        int loudnessRole;
    };
    Followed followedOf(const QAbstractItemView *list) const;
    QString pathOf(const QAbstractItemView *list, const QModelIndex &entry) const;
    void hear(QAbstractItemView &list);
    // A single play of a file, at the preview level.
    PlayRequest singlePlay(const QString &path) const;
    // The band's level, and with "Match loudness" the gain that brings path to one loudness
    // (none until it is measured).
    double previewGainDb(const QString &path) const;
    // The sound at hand goes on at the level and loudness the band says now.
    void regain();
    void playPart(PlayRequest request);
    void preview(const QAbstractItemView *list, const QModelIndex &entry);
    // Gives the sound at hand its length, from what is known of its file; false when
    // nothing is.
    bool tellLength(const QString &path);

    FileFacts &m_facts;
    NowPlaying &m_now;
    Playback &m_playback;
    const BusyState &m_busy;
    List m_fileList;
    List m_playList;
    QWidget &m_window;
    std::function<bool()> m_autoPreviewOn;
    // The lists followed besides the two.
    QList<Followed> m_others;
    AuditionBand *m_band;
    bool m_bandShown = false;
    const QAbstractItemView *m_listAtHand = nullptr;
    // The band's last start, told when its file turns out unplayable.
    quint64 m_bandStart = 0;
};
