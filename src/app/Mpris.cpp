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
    connect(m_control.now, &NowPlaying::started, this, &Mpris::look);
    connect(m_control.now, &NowPlaying::stopped, this, &Mpris::look);
    connect(m_control.playback, &Playback::chainChanged, this, &Mpris::look);
}

bool Mpris::canGoNext() const
{
    return m_control.playback->chainRunning();
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
    if (changed.isEmpty())
        return;
    QDBusMessage signal =
        QDBusMessage::createSignal(objectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << QStringLiteral("org.mpris.MediaPlayer2.Player") << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}
