#include "Mpris.h"

#include "platform/NativeName.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QUrl>

namespace {
// Often enough that a media applet follows the end of a sound without a visible lag.
constexpr int lookMs = 250;
} // namespace

const QString Mpris::serviceName = QStringLiteral("org.mpris.MediaPlayer2.QuillonSonoret");
const QString Mpris::objectPath = QStringLiteral("/org/mpris/MediaPlayer2");

QStringList MprisRoot::mimeTypes() const
{
    return {QStringLiteral("audio/x-wav"), QStringLiteral("audio/wav"),
            QStringLiteral("audio/vnd.wave"), QStringLiteral("audio/wave")};
}

Mpris::Mpris(MediaControl control, QObject *parent)
    : QObject(parent), m_control(std::move(control)), m_poll(this)
{
    new MprisRoot(this);
    new MprisPlayer(this);
    m_status = playbackStatus();
    m_metadata = metadata();
    m_canGoNext = canGoNext();
    m_canPlay = canPlay();
    m_poll.setInterval(lookMs);
    connect(&m_poll, &QTimer::timeout, this, &Mpris::look);
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
    m_poll.start();
    return true;
}

QString Mpris::playbackStatus() const
{
    return !m_control.playingPath().isEmpty() || m_control.chainRunning()
               ? QStringLiteral("Playing")
               : QStringLiteral("Stopped");
}

QVariantMap Mpris::metadata() const
{
    const QString path = m_control.playingPath();
    if (path.isEmpty())
        return {};
    QVariantMap map;
    map.insert(QStringLiteral("mpris:trackid"),
               QVariant::fromValue(QDBusObjectPath(
                   QStringLiteral("/io/github/quillon/Sonoret/track/%1").arg(m_control.starts()))));
    map.insert(QStringLiteral("xesam:url"), QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded));
    map.insert(QStringLiteral("xesam:title"), shownName(QFileInfo(path).fileName()));
    if (const qint64 length = m_control.lengthUs(path); length > 0)
        map.insert(QStringLiteral("mpris:length"), length);
    return map;
}

void Mpris::look()
{
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
