#include "Mpris.h"

#include "platform/FileUris.h"
#include "platform/NativeName.h"
#include "playback/NowPlaying.h"
#include "playback/Playback.h"

#include <QAbstractItemModel>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <algorithm>
#include <limits>

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
    m_look.setSingleShot(true);
    m_look.setInterval(0);
    connect(&m_look, &QTimer::timeout, this, &Mpris::look);
    connect(m_control.now, &NowPlaying::started, this, &Mpris::lookSoon);
    connect(m_control.now, &NowPlaying::stopped, this, &Mpris::lookSoon);
    connect(m_control.now, &NowPlaying::pausedChanged, this, &Mpris::lookSoon);
    connect(m_control.now, &NowPlaying::lengthKnown, this, &Mpris::lookSoon);
    connect(m_control.now, &NowPlaying::moved, this, [this](qint64 position) {
        if (!m_registered)
            return;
        QDBusMessage seeked = QDBusMessage::createSignal(
            objectPath, QStringLiteral("org.mpris.MediaPlayer2.Player"), QStringLiteral("Seeked"));
        seeked << position;
        QDBusConnection::sessionBus().send(seeked);
    });
    connect(m_control.playback, &Playback::chainChanged, this, &Mpris::lookSoon);
    for (const QAbstractItemModel *list : std::as_const(m_control.lists)) {
        connect(list, &QAbstractItemModel::rowsInserted, this, &Mpris::lookSoon);
        connect(list, &QAbstractItemModel::rowsRemoved, this, &Mpris::lookSoon);
        connect(list, &QAbstractItemModel::modelReset, this, &Mpris::lookSoon);
    }
}

bool Mpris::canGoNext() const
{
    return m_control.playback->chainRunning();
}

bool Mpris::canPause() const
{
    return !m_control.playback->chainRunning() && m_control.now->heard().has_value();
}

bool Mpris::canPlay() const
{
    if (playbackStatus() != QLatin1String("Stopped"))
        return true;
    return std::any_of(m_control.lists.cbegin(), m_control.lists.cend(),
                       [](const QAbstractItemModel *list) { return list->rowCount() > 0; });
}

qint64 Mpris::positionUs() const
{
    // The chain plays each file through the same output: where it is in that file, though
    // the chain's timing is its own and cannot be moved from here.
    const std::optional<HeardPosition> heard = m_control.now->heard();
    return heard ? heard->microseconds() : 0;
}

std::optional<qint64> Mpris::lengthUs() const
{
    const std::optional<HeardPosition> end = m_control.now->length();
    if (!end || end->frame <= 0)
        return std::nullopt;
    return end->microseconds();
}

void Mpris::pause()
{
    if (canPause())
        m_control.now->pause();
}

void Mpris::play()
{
    if (!canPlay())
        return;
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
    if (!canPause() || offsetUs == 0)
        return;
    // Compared before they are added: any offset a client sends is taken, INT64_MIN and
    // INT64_MAX too.
    const qint64 at = std::max<qint64>(0, positionUs());
    const std::optional<qint64> length = lengthUs();
    if (offsetUs < 0 && offsetUs <= -at)
        m_control.now->seek(0);
    else if (length && offsetUs > *length - at)
        m_control.playback->stop();
    else if (offsetUs > std::numeric_limits<qint64>::max() - at)
        m_control.now->seek(std::numeric_limits<qint64>::max());
    else
        m_control.now->seek(at + offsetUs);
}

void Mpris::setPosition(const QDBusObjectPath &track, qint64 positionUs)
{
    // Only for the track at hand: a request meant for a track that has since ended is dropped.
    if (!canPause() || track != trackId())
        return;
    const std::optional<qint64> length = lengthUs();
    if (positionUs < 0 || (length && positionUs > *length))
        return;
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
    map.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(trackId()));
    map.insert(QStringLiteral("xesam:url"), QString::fromLatin1(fileUris::fileUri(path)));
    map.insert(QStringLiteral("xesam:title"), shownName(QFileInfo(path).fileName()));
    if (const std::optional<qint64> length = lengthUs())
        map.insert(QStringLiteral("mpris:length"), *length);
    return map;
}

QDBusObjectPath Mpris::trackId() const
{
    return QDBusObjectPath(
        QStringLiteral("/io/github/quillon/Sonoret/track/%1").arg(m_control.now->starts()));
}

void Mpris::lookSoon()
{
    if (m_registered && !m_look.isActive())
        m_look.start();
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
