#include "Mpris.h"

#include "platform/NativeName.h"
#include "playback/NowPlaying.h"
#include "playback/Playback.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QUrl>

const QString Mpris::serviceName = QStringLiteral("org.mpris.MediaPlayer2.QuillonSonoret");
const QString Mpris::objectPath = QStringLiteral("/org/mpris/MediaPlayer2");

QStringList MprisRoot::mimeTypes() const
{
    return {QStringLiteral("audio/x-wav"), QStringLiteral("audio/wav"),
            QStringLiteral("audio/vnd.wave"), QStringLiteral("audio/wave")};
}

Mpris::Mpris(MediaControl control, QObject *parent) : QObject(parent), m_control(std::move(control))
{
    new MprisRoot(this);
    new MprisPlayer(this);
    m_status = playbackStatus();
    m_metadata = metadata();
    m_canGoNext = canGoNext();
    m_canPlay = canPlay();
    m_canPause = canPause();
    connect(m_control.now, &NowPlaying::started, this, &Mpris::look);
    connect(m_control.now, &NowPlaying::stopped, this, &Mpris::look);
    connect(m_control.now, &NowPlaying::pausedChanged, this, &Mpris::look);
    connect(m_control.now, &NowPlaying::lengthKnown, this, &Mpris::look);
    connect(m_control.now, &NowPlaying::moved, this, [this](qint64 position) {
        if (!m_registered)
            return;
        QDBusMessage seeked = QDBusMessage::createSignal(
            objectPath, QStringLiteral("org.mpris.MediaPlayer2.Player"), QStringLiteral("Seeked"));
        seeked << position;
        QDBusConnection::sessionBus().send(seeked);
    });
    connect(m_control.playback, &Playback::chainChanged, this, &Mpris::look);
}

bool Mpris::canGoNext() const
{
    return m_control.playback->chainRunning();
}

bool Mpris::canPause() const
{
    return !m_control.playback->chainRunning() && m_control.now->heard().has_value();
}

qint64 Mpris::positionUs() const
{
    const std::optional<HeardPosition> heard = m_control.now->heard();
    return heard && !m_control.playback->chainRunning() ? heard->microseconds() : 0;
}

void Mpris::pause()
{
    if (canPause())
        m_control.now->pause();
}

void Mpris::play()
{
    if (m_control.now->paused())
        m_control.now->resume();
    else if (playbackStatus() == QLatin1String("Stopped") && m_control.playCurrent)
        m_control.playCurrent();
}

void Mpris::playPause()
{
    if (m_control.now->paused() || playbackStatus() == QLatin1String("Stopped"))
        play();
    else
        pause();
}

void Mpris::seek(qint64 offsetUs)
{
    if (canPause())
        m_control.now->seek(positionUs() + offsetUs);
}

void Mpris::setPosition(const QDBusObjectPath &track, qint64 positionUs)
{
    // Only for the track at hand: a request meant for a track that has since ended is dropped.
    if (canPause() &&
        metadata().value(QStringLiteral("mpris:trackid")).value<QDBusObjectPath>() == track)
        m_control.now->seek(positionUs);
}

void MprisPlayer::Stop()
{
    m_mpris->control().playback->stop();
}

void MprisPlayer::Next()
{
    m_mpris->control().playback->next();
}

bool Mpris::registerOnBus()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    if (!bus.registerObject(objectPath, this, QDBusConnection::ExportAdaptors))
        return false;
    if (!bus.registerService(serviceName)) {
        bus.unregisterObject(objectPath);
        return false;
    }
    m_registered = true;
    return true;
}

QString Mpris::playbackStatus() const
{
    if (m_control.now->paused() && !m_control.playback->chainRunning())
        return QStringLiteral("Paused");
    return !m_control.now->path().isEmpty() || m_control.playback->chainRunning()
               ? QStringLiteral("Playing")
               : QStringLiteral("Stopped");
}

QVariantMap Mpris::metadata() const
{
    const QString path = m_control.now->path();
    if (path.isEmpty())
        return {};
    QVariantMap map;
    map.insert(
        QStringLiteral("mpris:trackid"),
        QVariant::fromValue(QDBusObjectPath(
            QStringLiteral("/io/github/quillon/Sonoret/track/%1").arg(m_control.now->starts()))));
    map.insert(QStringLiteral("xesam:url"), QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded));
    map.insert(QStringLiteral("xesam:title"), shownName(QFileInfo(path).fileName()));
    if (const qint64 length = m_control.lengthUs(path); length > 0)
        map.insert(QStringLiteral("mpris:length"), length);
    return map;
}

void Mpris::look()
{
    if (!m_registered)
        return;
    QVariantMap changed;
    if (const QString status = playbackStatus(); status != m_status) {
        m_status = status;
        changed.insert(QStringLiteral("PlaybackStatus"), status);
    }
    if (const QVariantMap data = metadata(); data != m_metadata) {
        m_metadata = data;
        changed.insert(QStringLiteral("Metadata"), data);
    }
    if (const bool next = canGoNext(); next != m_canGoNext) {
        m_canGoNext = next;
        changed.insert(QStringLiteral("CanGoNext"), next);
    }
    if (const bool play = canPlay(); play != m_canPlay) {
        m_canPlay = play;
        changed.insert(QStringLiteral("CanPlay"), play);
    }
    if (const bool pause = canPause(); pause != m_canPause) {
        m_canPause = pause;
        changed.insert(QStringLiteral("CanPause"), pause);
        changed.insert(QStringLiteral("CanSeek"), pause);
    }
    if (changed.isEmpty())
        return;
    QDBusMessage signal =
        QDBusMessage::createSignal(objectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << QStringLiteral("org.mpris.MediaPlayer2.Player") << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}
