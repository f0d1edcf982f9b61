#include "FormFixture.h"
#include "ModalAnswerer.h"
#include "TestFiles.h"
#include "app/Form1.h"
#include "app/Mpris.h"
#include "browser/FileList.h"
#include "playback/Form2.h"
#include "playback/NowPlaying.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QPushButton>
#include <QTest>

// Run under its own session bus (dbus-run-session); a second connection plays the desktop's
// media applet.
class TestMpris final : public QObject, protected FormFixture
{
    Q_OBJECT

public slots:
    void propertiesChanged(const QString &interface, const QVariantMap &changed,
                           const QStringList &)
    {
        if (interface == "org.mpris.MediaPlayer2.Player")
            m_changes.append(changed);
    }

private slots:
    void init();
    void cleanup();
    void theDesktopSeesWhatPlays();
    void stopAndNextActOnTheChain();
    void aSingleSoundPausesResumesAndSeeks();

private:
    // Calls without blocking this thread, which also serves the calls.
    QDBusMessage call(const QString &interface, const QString &method,
                      const QVariantList &arguments = {});
    QVariant property(const QString &interface, const QString &name);

    std::unique_ptr<Mpris> m_mpris;
    int m_quits = 0;
    QList<QVariantMap> m_changes;
};

void TestMpris::init()
{
    makeFolder({"a.wav", "b.wav", "c.wav"});
    makeForm();
    m_mpris = std::make_unique<Mpris>(m_form->mediaControl([this] { ++m_quits; }), nullptr);
    QVERIFY2(m_mpris->registerOnBus(), "no session bus: run the test under dbus-run-session");
    QDBusConnection client = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "applet");
    QVERIFY(client.connect(Mpris::serviceName, Mpris::objectPath, "org.freedesktop.DBus.Properties",
                           "PropertiesChanged", this,
                           SLOT(propertiesChanged(QString, QVariantMap, QStringList))));
    m_changes.clear();
}

void TestMpris::cleanup()
{
    QDBusConnection(QStringLiteral("applet"))
        .disconnect(Mpris::serviceName, Mpris::objectPath, "org.freedesktop.DBus.Properties",
                    "PropertiesChanged", this,
                    SLOT(propertiesChanged(QString, QVariantMap, QStringList)));
    QDBusConnection::sessionBus().unregisterService(Mpris::serviceName);
    QDBusConnection::sessionBus().unregisterObject(Mpris::objectPath);
    m_mpris.reset();
    m_form.reset();
}

QDBusMessage TestMpris::call(const QString &interface, const QString &method,
                             const QVariantList &arguments)
{
    QDBusMessage message =
        QDBusMessage::createMethodCall(Mpris::serviceName, Mpris::objectPath, interface, method);
    message.setArguments(arguments);
    QDBusPendingCall pending = QDBusConnection(QStringLiteral("applet")).asyncCall(message);
    if (!QTest::qWaitFor([&] { return pending.isFinished(); }, 5000))
        return {};
    return pending.reply();
}

QVariant TestMpris::property(const QString &interface, const QString &name)
{
    const QDBusMessage reply = call("org.freedesktop.DBus.Properties", "Get", {interface, name});
    if (reply.type() != QDBusMessage::ReplyMessage)
        return {};
    QVariant value = reply.arguments().value(0).value<QDBusVariant>().variant();
    if (value.canConvert<QDBusArgument>())
        return qdbus_cast<QVariantMap>(value.value<QDBusArgument>());
    return value;
}

void TestMpris::theDesktopSeesWhatPlays()
{
    const QString root = "org.mpris.MediaPlayer2";
    const QString player = "org.mpris.MediaPlayer2.Player";
    QCOMPARE(property(root, "Identity").toString(), QString("Quillon Sonoret 2.0"));
    QCOMPARE(property(root, "DesktopEntry").toString(), QString("io.github.quillon.Sonoret"));
    QCOMPARE(property(root, "CanQuit").toBool(), true);
    QCOMPARE(property(root, "CanRaise").toBool(), true);
    QVERIFY(property(root, "SupportedMimeTypes").toStringList().contains("audio/x-wav"));
    QCOMPARE(property(player, "PlaybackStatus").toString(), QString("Stopped"));
    for (const char *cannot : {"CanPlay", "CanPause", "CanSeek", "CanGoPrevious", "CanGoNext"})
        QCOMPARE(property(player, cannot).toBool(), false);

    // One file plays: the applet is told, and sees which.
    m_fakes->sound.lengthsMs[m_dir->filePath("b.wav")] = 2500;
    m_fakes->sound.drainSeconds[m_dir->filePath("b.wav")] = 2.5;
    selectRows(File1(*m_form), {1});
    Command1(*m_form)->click();
    QTRY_VERIFY_WITH_TIMEOUT(!m_changes.isEmpty(), 5000);
    QCOMPARE(m_changes.last().value("PlaybackStatus").toString(), QString("Playing"));
    QCOMPARE(property(player, "PlaybackStatus").toString(), QString("Playing"));
    // Clients (playerctl) send Stop and read the metadata only while CanPlay holds.
    QCOMPARE(m_changes.last().value("CanPlay").toBool(), true);
    QCOMPARE(property(player, "CanPlay").toBool(), true);
    const QVariantMap metadata = property(player, "Metadata").toMap();
    QCOMPARE(metadata.value("xesam:url").toString(),
             QUrl::fromLocalFile(m_dir->filePath("b.wav")).toString());
    QCOMPARE(metadata.value("xesam:title").toString(), QString("b.wav"));
    QCOMPARE(metadata.value("mpris:length").toLongLong(), 2500000);
    QVERIFY(metadata.contains("mpris:trackid"));

    // Its end, and Stop on a single sound.
    m_changes.clear();
    m_fakes->clock.now += 3;
    m_fakes->sound.tellDrained();
    QTRY_VERIFY_WITH_TIMEOUT(!m_changes.isEmpty(), 5000);
    QCOMPARE(m_changes.last().value("PlaybackStatus").toString(), QString("Stopped"));
    QCOMPARE(property(player, "CanPlay").toBool(), false);
    call(player, "Stop");
    QCOMPARE(m_fakes->sound.stops, 1);
    // What cannot be done does nothing; Quit closes as the close box does.
    call(player, "PlayPause");
    call(player, "Previous");
    QCOMPARE(m_fakes->sound.played.size(), 1);
    call(root, "Quit");
    QCOMPARE(m_quits, 1);
}

void TestMpris::stopAndNextActOnTheChain()
{
    selectRows(File1(*m_form), {0, 1, 2});
    ModalAnswerer answerer;
    bool nextSeen = false;
    const auto send = [](const QString &method) {
        QDBusConnection(QStringLiteral("applet"))
            .asyncCall(QDBusMessage::createMethodCall(Mpris::serviceName, Mpris::objectPath,
                                                      "org.mpris.MediaPlayer2.Player", method));
    };
    answerer.onOther = [&](QWidget *w) {
        QVERIFY(qobject_cast<Form2 *>(w));
        QTRY_COMPARE_WITH_TIMEOUT(property("org.mpris.MediaPlayer2.Player", "CanGoNext").toBool(),
                                  true, 5000);
        nextSeen = true;
        // The chain goes on only once this returns: the requests are sent, not awaited.
        send("Next");                                         // a.wav to b.wav
        QTimer::singleShot(300, w, [send] { send("Stop"); }); // and the chain is over
    };
    m_form->Command1_Click();
    QVERIFY(nextSeen);
    QVERIFY(!m_form->chainRunning());
    QCOMPARE(m_fakes->sound.played,
             QStringList({m_dir->filePath("a.wav"), m_dir->filePath("b.wav")}));
    QCOMPARE(m_fakes->sound.stops, 1);
}

void TestMpris::aSingleSoundPausesResumesAndSeeks()
{
    const QString player = "org.mpris.MediaPlayer2.Player";
    const QString b = m_dir->filePath("b.wav");
    m_fakes->clock.step = 0;
    selectRows(File1(*m_form), {1});
    Command1(*m_form)->click();
    QTRY_COMPARE(property(player, "CanPause").toBool(), true);
    QCOMPARE(property(player, "CanSeek").toBool(), true);
    m_fakes->clock.now += 1;
    QCOMPARE(property(player, "Position").toLongLong(), 1000000);

    // Paused, it holds its place and says so; a seek moves it without a sound.
    call(player, "Pause");
    QCOMPARE(property(player, "PlaybackStatus").toString(), QString("Paused"));
    QCOMPARE(m_fakes->sound.stops, 1);
    m_fakes->clock.now += 1;
    QCOMPARE(property(player, "Position").toLongLong(), 1000000);
    call(player, "Seek", {qlonglong(500000)});
    QCOMPARE(property(player, "Position").toLongLong(), 1500000);
    QCOMPARE(m_fakes->sound.played.size(), 1);

    // Going on starts from there; SetPosition on the track at hand moves it, a stale one not.
    call(player, "PlayPause");
    QCOMPARE(property(player, "PlaybackStatus").toString(), QString("Playing"));
    QCOMPARE(m_fakes->sound.requests.last().path, b);
    QCOMPARE(m_fakes->sound.requests.last().startFrame, 72000);
    const QVariantMap metadata = property(player, "Metadata").toMap();
    const QDBusObjectPath track = metadata.value("mpris:trackid").value<QDBusObjectPath>();
    call(player, "SetPosition",
         {QVariant::fromValue(QDBusObjectPath("/io/github/quillon/Sonoret/track/0")),
          qlonglong(100000)});
    QCOMPARE(m_fakes->sound.requests.last().startFrame, 72000);
    call(player, "SetPosition", {QVariant::fromValue(track), qlonglong(250000)});
    QCOMPARE(m_fakes->sound.requests.last().startFrame, 12000);
    QCOMPARE(metadata.value("mpris:trackid"),
             property(player, "Metadata").toMap().value("mpris:trackid"));

    // Stopped, Play plays the entry with the focus frame.
    call(player, "Stop");
    QCOMPARE(property(player, "PlaybackStatus").toString(), QString("Stopped"));
    File1(*m_form)->setCurrentIndex(File1(*m_form)->model()->index(2, 0));
    call(player, "Play");
    QCOMPARE(m_fakes->sound.played.last(), m_dir->filePath("c.wav"));
}

QTEST_MAIN(TestMpris)
#include "tst_mpris.moc"
