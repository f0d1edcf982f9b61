#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusObjectPath>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>
#include <functional>
#include <optional>

class NowPlaying;
class Playback;
class QAbstractItemModel;

// What the desktop's media controls may see and do of the program.
struct MediaControl
{
    // What sounds: told by its signals as it starts and ends.
    NowPlaying *now = nullptr;
    // The chain, and the stop and next that act on it.
    Playback *playback = nullptr;
    // The lists Play with nothing at hand plays from: while one holds an entry, there is
    // something to play.
    QList<const QAbstractItemModel *> lists;
    std::function<void()> raise;
    // Play with nothing at hand: the current entry of the lists plays.
    std::function<void()> playCurrent;
    // Closes as the close box does.
    std::function<void()> quit;
};

// MPRIS 2 on the session bus (org.mpris.MediaPlayer2.QuillonSonoret): media keys, the
// desktop's sound menu and playerctl see what plays and can stop it or skip in a chain.
class Mpris final : public QObject
{
    Q_OBJECT
public:
    Mpris(MediaControl control, QObject *parent);
    // False when there is no session bus or the name is taken; the program runs on without.
    bool registerOnBus();

    static const QString serviceName;
    static const QString objectPath;

    const MediaControl &control() const { return m_control; }
    QString playbackStatus() const;
    QVariantMap metadata() const;
    bool canGoNext() const;
    // Something sounds, or a list holds an entry that Play can play. Clients such as
    // playerctl send Play, PlayPause and Stop only to a player that says so.
    bool canPlay() const;
    // A single sound (not the chain, whose timing is its own) can pause and move.
    bool canPause() const;
    qint64 positionUs() const;
    // The length of the sound at hand, as far as it is known.
    std::optional<qint64> lengthUs() const;
    void playPause();
    void play();
    void pause();
    // From where the sound is: before its start goes to its start, past its end ends it
    // (as Next does with nothing to go on to).
    void seek(qint64 offsetUs);
    // Only for the track at hand, and only to a place inside it.
    void setPosition(const QDBusObjectPath &track, qint64 positionUs);

private:
    // Every start is a new track, the same file started again too.
    QDBusObjectPath trackId() const;
    // Looks what changed since the last look and tells the bus. Changes that come together
    // (a burst of PlayPause calls) are looked at once.
    void lookSoon();
    void look();
    MediaControl m_control;
    QTimer m_look;
    bool m_registered = false;
    QString m_status;
    QVariantMap m_metadata;
    bool m_canGoNext = false;
    bool m_canPlay = false;
    bool m_canPause = false;
};

// org.mpris.MediaPlayer2
class MprisRoot final : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(QString Identity READ identity CONSTANT)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry CONSTANT)
    Q_PROPERTY(bool CanQuit READ yes CONSTANT)
    Q_PROPERTY(bool CanRaise READ yes CONSTANT)
    Q_PROPERTY(bool HasTrackList READ no CONSTANT)
    Q_PROPERTY(bool CanSetFullscreen READ no CONSTANT)
    Q_PROPERTY(bool Fullscreen READ no CONSTANT)
    Q_PROPERTY(QStringList SupportedUriSchemes READ uriSchemes CONSTANT)
    Q_PROPERTY(QStringList SupportedMimeTypes READ mimeTypes CONSTANT)
public:
    explicit MprisRoot(Mpris *mpris) : QDBusAbstractAdaptor(mpris), m_mpris(mpris) {}
    QString identity() const { return QStringLiteral("Quillon Sonoret 2.0"); }
    QString desktopEntry() const { return QStringLiteral("io.github.quillon.Sonoret"); }
    bool yes() const { return true; }
    bool no() const { return false; }
    QStringList uriSchemes() const { return {QStringLiteral("file")}; }
    QStringList mimeTypes() const;

public slots:
    void Raise() { m_mpris->control().raise(); }
    void Quit() { m_mpris->control().quit(); }

private:
    Mpris *m_mpris;
};

// org.mpris.MediaPlayer2.Player: Stop; Next within a chain; for a single sound, pause,
// resume and seek; Play with nothing at hand plays the current entry of the lists.
class MprisPlayer final : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(double Rate READ rate)
    Q_PROPERTY(double MinimumRate READ rate)
    Q_PROPERTY(double MaximumRate READ rate)
    Q_PROPERTY(double Volume READ rate)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(bool CanGoNext READ canGoNext)
    Q_PROPERTY(bool CanGoPrevious READ no)
    Q_PROPERTY(bool CanPlay READ canPlay)
    Q_PROPERTY(bool CanPause READ canPause)
    Q_PROPERTY(bool CanSeek READ canPause)
    Q_PROPERTY(bool CanControl READ yes)
public:
    explicit MprisPlayer(Mpris *mpris) : QDBusAbstractAdaptor(mpris), m_mpris(mpris) {}
    QString playbackStatus() const { return m_mpris->playbackStatus(); }
    QVariantMap metadata() const { return m_mpris->metadata(); }
    double rate() const { return 1.0; }
    qlonglong position() const { return m_mpris->positionUs(); }
    bool canGoNext() const { return m_mpris->canGoNext(); }
    bool canPlay() const { return m_mpris->canPlay(); }
    bool canPause() const { return m_mpris->canPause(); }
    bool yes() const { return true; }
    bool no() const { return false; }

public slots:
    void Stop();
    void Next();
    void Pause() { m_mpris->pause(); }
    void PlayPause() { m_mpris->playPause(); }
    void Play() { m_mpris->play(); }
    void Seek(qlonglong offset) { m_mpris->seek(offset); }
    void SetPosition(const QDBusObjectPath &track, qlonglong position)
    {
        m_mpris->setPosition(track, position);
    }
    // Advertised as not possible: they do nothing.
    void Previous() {}
    void OpenUri(const QString &) {}

signals:
    void Seeked(qlonglong position);

private:
    Mpris *m_mpris;
};
