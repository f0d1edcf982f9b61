#include "FormFixture.h"
#include "ModalAnswerer.h"
#include "TestFiles.h"
#include "WaveWriter.h"
#include "app/Form1.h"
#include "app/Mpris.h"
#include "browser/FileList.h"
#include "browser/WaveFolderModel.h"
#include "platform/NativeName.h"
#include "playback/Form2.h"
#include "playback/NowPlaying.h"
#include "playlist/PlayListModel.h"

#include <QAction>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

namespace {
const QString root = "org.mpris.MediaPlayer2";
const QString player = "org.mpris.MediaPlayer2.Player";
constexpr qint64 int64Max = std::numeric_limits<qint64>::max();
constexpr qint64 int64Min = std::numeric_limits<qint64>::min();
// The fake output plays at 48 kHz, and so are the takes written here.
constexpr int rate = 48000;
// Where a seek that cannot be held by the file's length stops: the last frame whose time
// in microseconds a qint64 holds.
constexpr qint64 lastFrame = int64Max / 1000000;
// Outcomes of a move other than a frame to go on from.
constexpr qint64 stays = -1;
constexpr qint64 ends = -2;
} // namespace

// Run under its own session bus (dbus-run-session); a second connection plays the desktop's
// media applet.
class TestMpris final : public QObject, protected FormFixture
{
    Q_OBJECT

public slots:
    void propertiesChanged(const QString &interface, const QVariantMap &changed,
                           const QStringList &)
    {
        if (interface == player)
            m_changes.append(changed);
    }
    void seeked(qlonglong position) { m_seeked.append(position); }

private slots:
    void cleanup();
    void theDesktopSeesWhatPlays();
    void theUrlIsTheFilesOwnBytes_data();
    void theUrlIsTheFilesOwnBytes();
    void playNeedsAnEntryInAList();
    void playTakesTheListTheUserIsIn_data();
    void playTakesTheListTheUserIsIn();
    void stopAndNextActOnTheChain();
    void aSingleSoundPausesResumesAndSeeks();
    void movesStayInsideTheSound_data();
    void movesStayInsideTheSound();
    void aBurstOfMovesRestartsTheOutputOnce();
    void aLoopGoingRoundIsTold();

private:
    // The folder's takes (seconds each; 0 leaves the file a broken one, which the fake
    // output plays all the same but whose length nobody knows), the window over it, and
    // the applet listening.
    void open(const QList<std::pair<QString, double>> &takes);
    // Calls without blocking this thread, which also serves the calls.
    QDBusMessage call(const QString &interface, const QString &method,
                      const QVariantList &arguments = {});
    QVariant property(const QString &interface, const QString &name);
    // Plays File1's row with the play button, and waits until its length is known.
    void playRow(int row, bool lengthKnown = true);
    QDBusObjectPath track() { return metadata().value("mpris:trackid").value<QDBusObjectPath>(); }
    QVariantMap metadata() { return property(player, "Metadata").toMap(); }

    std::unique_ptr<Mpris> m_mpris;
    int m_quits = 0;
    QList<QVariantMap> m_changes;
    QList<qlonglong> m_seeked;
};

void TestMpris::open(const QList<std::pair<QString, double>> &takes)
{
    QStringList names;
    QStringList foreign;
    for (const auto &[name, seconds] : takes)
        (hasForeignBytes(name) ? foreign : names).append(name);
    makeFolder(names);
    // Qt's file classes would change the bytes of a name that is not UTF-8: made from them.
    for (const QString &name : std::as_const(foreign)) {
        const int fd =
            ::open(nativePath(m_dir->filePath(name)).constData(), O_CREAT | O_WRONLY, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, "RIFF", 4), 4);
        ::close(fd);
    }
    for (const auto &[name, seconds] : takes)
        if (seconds > 0)
            QVERIFY(writeTone(m_dir->filePath(name), seconds, rate));
    // Lengths come from what is known of the files, never from opening one here.
    m_fakes->waveLength.fallback = std::nullopt;
    makeForm();
    m_mpris = std::make_unique<Mpris>(m_form->mediaControl([this] { ++m_quits; }), nullptr);
    QVERIFY2(m_mpris->registerOnBus(), "no session bus: run the test under dbus-run-session");
    QDBusConnection client = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "applet");
    QVERIFY(client.connect(Mpris::serviceName, Mpris::objectPath, "org.freedesktop.DBus.Properties",
                           "PropertiesChanged", this,
                           SLOT(propertiesChanged(QString, QVariantMap, QStringList))));
    QVERIFY(client.connect(Mpris::serviceName, Mpris::objectPath, player, "Seeked", this,
                           SLOT(seeked(qlonglong))));
    m_changes.clear();
    m_seeked.clear();
}

void TestMpris::cleanup()
{
    QDBusConnection applet(QStringLiteral("applet"));
    applet.disconnect(Mpris::serviceName, Mpris::objectPath, "org.freedesktop.DBus.Properties",
                      "PropertiesChanged", this,
                      SLOT(propertiesChanged(QString, QVariantMap, QStringList)));
    applet.disconnect(Mpris::serviceName, Mpris::objectPath, player, "Seeked", this,
                      SLOT(seeked(qlonglong)));
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

void TestMpris::playRow(int row, bool lengthKnown)
{
    selectRows(File1(*m_form), {row});
    Command1(*m_form)->click();
    QTRY_COMPARE(property(player, "PlaybackStatus").toString(), QString("Playing"));
    if (lengthKnown)
        QTRY_VERIFY_WITH_TIMEOUT(metadata().contains("mpris:length"), 10000);
}

void TestMpris::theDesktopSeesWhatPlays()
{
    open({{"a.wav", 1}, {"b.wav", 2.5}, {"c.wav", 1}});
    QCOMPARE(property(root, "Identity").toString(), QString("Quillon Sonoret 2.0"));
    QCOMPARE(property(root, "DesktopEntry").toString(), QString("io.github.quillon.Sonoret"));
    QCOMPARE(property(root, "CanQuit").toBool(), true);
    QCOMPARE(property(root, "CanRaise").toBool(), true);
    QVERIFY(property(root, "SupportedMimeTypes").toStringList().contains("audio/x-wav"));
    QCOMPARE(property(player, "PlaybackStatus").toString(), QString("Stopped"));
    // The file list holds entries: Play has something to play.
    QCOMPARE(property(player, "CanPlay").toBool(), true);
    for (const char *cannot : {"CanPause", "CanSeek", "CanGoPrevious", "CanGoNext"})
        QCOMPARE(property(player, cannot).toBool(), false);

    // One file plays: the applet is told, and sees which, and how long it is once its
    // facts are read.
    const QString b = m_dir->filePath("b.wav");
    m_fakes->sound.drainSeconds[b] = 2.5;
    selectRows(File1(*m_form), {1});
    Command1(*m_form)->click();
    QTRY_VERIFY_WITH_TIMEOUT(!m_changes.isEmpty(), 5000);
    QCOMPARE(m_changes.first().value("PlaybackStatus").toString(), QString("Playing"));
    QCOMPARE(property(player, "PlaybackStatus").toString(), QString("Playing"));
    QCOMPARE(property(player, "CanPlay").toBool(), true);
    QTRY_VERIFY_WITH_TIMEOUT(metadata().contains("mpris:length"), 10000);
    const QVariantMap data = metadata();
    QCOMPARE(data.value("xesam:url").toString(), QUrl::fromLocalFile(b).toString());
    QCOMPARE(data.value("xesam:title").toString(), QString("b.wav"));
    QCOMPARE(data.value("mpris:length").toLongLong(), 2500000);
    QVERIFY(data.contains("mpris:trackid"));
    QVERIFY(std::any_of(m_changes.cbegin(), m_changes.cend(), [](const QVariantMap &changed) {
        const QVariant data = changed.value("Metadata");
        return data.canConvert<QDBusArgument>() &&
               qdbus_cast<QVariantMap>(data.value<QDBusArgument>()).value("mpris:length") ==
                   2500000;
    }));

    // Its end, and Stop on a single sound.
    m_changes.clear();
    m_fakes->clock.now += 3;
    m_fakes->sound.tellDrained();
    QTRY_VERIFY_WITH_TIMEOUT(!m_changes.isEmpty(), 5000);
    QCOMPARE(m_changes.last().value("PlaybackStatus").toString(), QString("Stopped"));
    QCOMPARE(property(player, "CanPlay").toBool(), true);
    call(player, "Stop");
    QCOMPARE(m_fakes->sound.stops, 1);
    // Stopped, PlayPause plays the entry with the focus frame; what cannot be done does
    // nothing; Quit closes as the close box does.
    File1(*m_form)->setCurrentIndex(File1(*m_form)->model()->index(2, 0));
    call(player, "PlayPause");
    QCOMPARE(m_fakes->sound.played.last(), m_dir->filePath("c.wav"));
    call(player, "Previous");
    QCOMPARE(m_fakes->sound.played.size(), 2);
    call(root, "Quit");
    QCOMPARE(m_quits, 1);
}

void TestMpris::theUrlIsTheFilesOwnBytes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("encoded");
    QTest::newRow("plain") << QString("take.wav") << QString("take.wav");
    QTest::newRow("UTF-8") << QString("caf\u00e9.wav") << QString("caf%C3%A9.wav");
    QTest::newRow("Latin-1, not UTF-8") << pathFromNative("caf\xe9.wav") << QString("caf%E9.wav");
    QTest::newRow("Latin-1 and UTF-8")
        << pathFromNative("\xe9t\xc3\xa9.wav") << QString("%E9t%C3%A9.wav");
    QTest::newRow("space, hash, percent") << QString("a b#1%.wav") << QString("a%20b%231%25.wav");
}

void TestMpris::theUrlIsTheFilesOwnBytes()
{
    QFETCH(QString, name);
    QFETCH(QString, encoded);
    open({{name, 0}});
    playRow(0, false);
    const QString url = metadata().value("xesam:url").toString();
    QCOMPARE(url, QUrl::fromLocalFile(m_dir->path()).toString(QUrl::FullyEncoded) + '/' + encoded);
    // Another program that decodes it finds the file.
    const QByteArray bytes = QByteArray::fromPercentEncoding(url.toLatin1().mid(7));
    QCOMPARE(bytes, nativePath(m_dir->filePath(name)));
    struct stat found
    {
    };
    QCOMPARE(::stat(bytes.constData(), &found), 0);
}

void TestMpris::playNeedsAnEntryInAList()
{
    // A folder whose only take is in a folder below it: the file list is empty.
    open({{"sub/x.wav", 0.5}});
    const QString x = m_dir->filePath("sub/x.wav");
    QCOMPARE(File1(*m_form)->model()->rowCount(), 0);
    QCOMPARE(property(player, "CanPlay").toBool(), false);
    call(player, "Play");
    call(player, "PlayPause");
    QVERIFY(m_fakes->sound.attempts.isEmpty());

    // On the play list, it is something to play, and Play plays it though no entry has the
    // focus frame yet.
    m_form->playList().addFiles({x});
    QTRY_VERIFY(std::any_of(m_changes.cbegin(), m_changes.cend(), [](const QVariantMap &changed) {
        return changed.value("CanPlay").toBool();
    }));
    QCOMPARE(property(player, "CanPlay").toBool(), true);
    call(player, "Play");
    QCOMPARE(m_fakes->sound.played, QStringList({x}));
    // Playing already, Play does nothing more.
    call(player, "Play");
    QCOMPARE(m_fakes->sound.played.size(), 1);

    // Taken off the list and stopped, there is nothing to play again.
    m_form->playList().clear();
    call(player, "Stop");
    QTRY_COMPARE(m_changes.last().value("CanPlay", true).toBool(), false);
    QCOMPARE(property(player, "CanPlay").toBool(), false);
    call(player, "Play");
    QCOMPARE(m_fakes->sound.played.size(), 1);
}

void TestMpris::playTakesTheListTheUserIsIn_data()
{
    // Rows of the entries with the focus frame (-1: none), and which list has or last had
    // the focus; what Play plays, as list:row.
    QTest::addColumn<int>("fileRow");
    QTest::addColumn<int>("listRow");
    QTest::addColumn<QString>("focus");
    QTest::addColumn<QString>("played");
    QTest::newRow("in the play list") << 0 << 1 << "List1"
                                      << "List1:1";
    QTest::newRow("in the file list") << 0 << 1 << "File1"
                                      << "File1:0";
    QTest::newRow("the play list, then a button") << 0 << 1 << "List1 Command1"
                                                  << "List1:1";
    QTest::newRow("the file list, then a button") << 1 << 0 << "File1 Command1"
                                                  << "File1:1";
    QTest::newRow("in the play list, no frame there") << 1 << -1 << "List1"
                                                      << "File1:1";
    QTest::newRow("in the file list, no frame there") << -1 << 1 << "File1"
                                                      << "List1:1";
    QTest::newRow("in the play list, no frame anywhere") << -1 << -1 << "List1"
                                                         << "List1:0";
    QTest::newRow("in the file list, no frame anywhere") << -1 << -1 << "File1"
                                                         << "File1:0";
}

void TestMpris::playTakesTheListTheUserIsIn()
{
    QFETCH(int, fileRow);
    QFETCH(int, listRow);
    QFETCH(QString, focus);
    QFETCH(QString, played);
    open({{"a.wav", 1}, {"b.wav", 1}, {"sub/x.wav", 1}, {"sub/y.wav", 1}});
    Form1 &form = *m_form;
    form.playList().addFiles({m_dir->filePath("sub/x.wav"), m_dir->filePath("sub/y.wav")});
    QTRY_COMPARE(File1(form)->listCount(), 2);
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    for (const QString &name : focus.split(' ')) {
        auto *widget = form.findChild<QWidget *>(name);
        widget->setFocus(Qt::MouseFocusReason);
        QTRY_COMPARE(QApplication::focusWidget(), widget);
    }
    const auto frameAt = [](QAbstractItemView *list, int row) {
        if (row < 0)
            list->selectionModel()->clearCurrentIndex();
        else
            list->selectionModel()->setCurrentIndex(list->model()->index(row, 0),
                                                    QItemSelectionModel::NoUpdate);
    };
    frameAt(File1(form), fileRow);
    frameAt(List1(form), listRow);
    call(player, "Play");
    const QStringList wanted = played.split(':');
    const QString path = wanted[0] == "File1" ? File1(form)
                                                    ->model()
                                                    ->index(wanted[1].toInt(), 0)
                                                    .data(WaveFolderModel::PathRole)
                                                    .toString()
                                              : form.playList().path(wanted[1].toInt());
    QVERIFY(!path.isEmpty());
    QCOMPARE(m_fakes->sound.played, QStringList({path}));
}

void TestMpris::stopAndNextActOnTheChain()
{
    open({{"a.wav", 1}, {"b.wav", 1}, {"c.wav", 1}});
    selectRows(File1(*m_form), {0, 1, 2});
    ModalAnswerer answerer;
    bool nextSeen = false;
    const auto send = [](const QString &method) {
        QDBusConnection(QStringLiteral("applet"))
            .asyncCall(QDBusMessage::createMethodCall(Mpris::serviceName, Mpris::objectPath, player,
                                                      method));
    };
    answerer.onOther = [&](QWidget *w) {
        QVERIFY(qobject_cast<Form2 *>(w));
        QTRY_COMPARE_WITH_TIMEOUT(property(player, "CanGoNext").toBool(), true, 5000);
        // The position is where the chain's sound is, and moves on with it; the chain's
        // timing being its own, it cannot be moved from here.
        const qlonglong at = property(player, "Position").toLongLong();
        m_fakes->clock.now += 0.5;
        QCOMPARE(property(player, "Position").toLongLong(), at + 500000);
        QCOMPARE(property(player, "CanSeek").toBool(), false);
        call(player, "Seek", {qlonglong(200000)});
        QCOMPARE(m_fakes->sound.requests.size(), 1);
        nextSeen = true;
        // The chain goes on only once this returns: the requests are sent, not awaited.
        send("Next");                                         // a.wav to b.wav
        QTimer::singleShot(300, w, [send] { send("Stop"); }); // and the chain is over
    };
    m_form->Command1_Click();
    QVERIFY(nextSeen);
    QVERIFY(!m_form->findChild<Form2 *>()); // the chain window has gone
    QCOMPARE(m_fakes->sound.played,
             QStringList({m_dir->filePath("a.wav"), m_dir->filePath("b.wav")}));
    QCOMPARE(m_fakes->sound.stops, 1);
}

void TestMpris::aSingleSoundPausesResumesAndSeeks()
{
    open({{"a.wav", 1}, {"b.wav", 2.5}, {"c.wav", 1}});
    const QString b = m_dir->filePath("b.wav");
    m_fakes->clock.step = 0;
    playRow(1);
    QCOMPARE(property(player, "CanPause").toBool(), true);
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
    QTRY_COMPARE(m_seeked, QList<qlonglong>({1500000}));
    QCOMPARE(m_fakes->sound.played.size(), 1);

    // Going on starts from there; SetPosition on the track at hand moves it, a stale one not.
    call(player, "PlayPause");
    QCOMPARE(property(player, "PlaybackStatus").toString(), QString("Playing"));
    QTRY_COMPARE(m_fakes->sound.requests.size(), 2);
    QCOMPARE(m_fakes->sound.requests.last().path, b);
    QCOMPARE(m_fakes->sound.requests.last().startFrame, 72000);
    const QDBusObjectPath atHand = track();
    call(player, "SetPosition",
         {QVariant::fromValue(QDBusObjectPath("/io/github/quillon/Sonoret/track/0")),
          qlonglong(100000)});
    QCOMPARE(property(player, "Position").toLongLong(), 1500000);
    call(player, "SetPosition", {QVariant::fromValue(atHand), qlonglong(250000)});
    QTRY_COMPARE(m_fakes->sound.requests.last().startFrame, 12000);
    QCOMPARE(atHand, track());

    // Stopped, Play plays the entry with the focus frame.
    call(player, "Stop");
    QCOMPARE(property(player, "PlaybackStatus").toString(), QString("Stopped"));
    File1(*m_form)->setCurrentIndex(File1(*m_form)->model()->index(2, 0));
    call(player, "Play");
    QCOMPARE(m_fakes->sound.played.last(), m_dir->filePath("c.wav"));
}

void TestMpris::movesStayInsideTheSound_data()
{
    // Each move is made 1 s into the take (frame 48000); "frame" is where the sound goes
    // on, `stays` for where it was, `ends` for a sound that ends.
    QTest::addColumn<int>("row"); // 1: b.wav, 2.5 s (120,000 frames); 3: d.wav, length unknown
    QTest::addColumn<QString>("method");
    QTest::addColumn<qint64>("value");
    QTest::addColumn<qint64>("frame");

    QTest::newRow("Seek INT64_MIN: the start") << 1 << "Seek" << int64Min << qint64(0);
    QTest::newRow("Seek before the start: the start")
        << 1 << "Seek" << qint64(-2000000) << qint64(0);
    QTest::newRow("Seek back to the start") << 1 << "Seek" << qint64(-1000000) << qint64(0);
    QTest::newRow("Seek back") << 1 << "Seek" << qint64(-250000) << qint64(36000);
    QTest::newRow("Seek 1 us") << 1 << "Seek" << qint64(1) << qint64(48000);
    QTest::newRow("Seek on") << 1 << "Seek" << qint64(500000) << qint64(72000);
    QTest::newRow("Seek to the end") << 1 << "Seek" << qint64(1500000) << qint64(120000);
    QTest::newRow("Seek 1 us past the end: it ends") << 1 << "Seek" << qint64(1500001) << ends;
    QTest::newRow("Seek 10^15 us: it ends") << 1 << "Seek" << qint64(1000000000000000) << ends;
    QTest::newRow("Seek INT64_MAX: it ends") << 1 << "Seek" << int64Max << ends;
    QTest::newRow("Seek 0: nothing") << 1 << "Seek" << qint64(0) << stays;

    QTest::newRow("SetPosition INT64_MIN: nothing") << 1 << "SetPosition" << int64Min << stays;
    QTest::newRow("SetPosition -1: nothing") << 1 << "SetPosition" << qint64(-1) << stays;
    QTest::newRow("SetPosition 0") << 1 << "SetPosition" << qint64(0) << qint64(0);
    QTest::newRow("SetPosition 1 us") << 1 << "SetPosition" << qint64(1) << qint64(0);
    QTest::newRow("SetPosition inside") << 1 << "SetPosition" << qint64(250000) << qint64(12000);
    QTest::newRow("SetPosition the end") << 1 << "SetPosition" << qint64(2500000) << qint64(120000);
    QTest::newRow("SetPosition 1 us past the end: nothing")
        << 1 << "SetPosition" << qint64(2500001) << stays;
    QTest::newRow("SetPosition 10^15 us: nothing")
        << 1 << "SetPosition" << qint64(1000000000000000) << stays;
    QTest::newRow("SetPosition INT64_MAX: nothing") << 1 << "SetPosition" << int64Max << stays;
    QTest::newRow("SetPosition of a stale track: nothing")
        << 1 << "SetPosition stale" << qint64(250000) << stays;

    // Nothing holds these but the arithmetic.
    QTest::newRow("unknown length, Seek INT64_MIN") << 3 << "Seek" << int64Min << qint64(0);
    QTest::newRow("unknown length, Seek 10^14 us")
        << 3 << "Seek" << qint64(100000000000000) << qint64(4800000048000);
    QTest::newRow("unknown length, Seek 10^15 us")
        << 3 << "Seek" << qint64(1000000000000000) << lastFrame;
    QTest::newRow("unknown length, Seek INT64_MAX") << 3 << "Seek" << int64Max << lastFrame;
    QTest::newRow("unknown length, SetPosition INT64_MIN")
        << 3 << "SetPosition" << int64Min << stays;
    QTest::newRow("unknown length, SetPosition 10^15 us")
        << 3 << "SetPosition" << qint64(1000000000000000) << lastFrame;
    QTest::newRow("unknown length, SetPosition INT64_MAX")
        << 3 << "SetPosition" << int64Max << lastFrame;
}

void TestMpris::movesStayInsideTheSound()
{
    QFETCH(int, row);
    QFETCH(QString, method);
    QFETCH(qint64, value);
    QFETCH(qint64, frame);
    open({{"a.wav", 1}, {"b.wav", 2.5}, {"c.wav", 1}, {"d.wav", 0}});
    m_fakes->clock.step = 0;
    playRow(row, row != 3);
    m_fakes->clock.now += 1;
    QCOMPARE(property(player, "Position").toLongLong(), 1000000);
    QList<PlayRequest> &requests = m_fakes->sound.requests;
    const qsizetype before = requests.size();

    if (method == "Seek") {
        call(player, method, {qlonglong(value)});
    } else {
        const QDBusObjectPath to = method.endsWith("stale")
                                       ? QDBusObjectPath("/io/github/quillon/Sonoret/track/0")
                                       : track();
        call(player, "SetPosition", {QVariant::fromValue(to), qlonglong(value)});
    }

    if (frame == ends) {
        QTRY_COMPARE(property(player, "PlaybackStatus").toString(), QString("Stopped"));
        QCOMPARE(requests.size(), before);
        QVERIFY(m_seeked.isEmpty());
        return;
    }
    QCOMPARE(property(player, "PlaybackStatus").toString(), QString("Playing"));
    if (frame == stays) {
        QCOMPARE(property(player, "Position").toLongLong(), 1000000);
        // A seek after it goes on from where the sound was: nothing moved it meanwhile.
        call(player, "Seek", {qlonglong(250000)});
        frame = 60000;
    }
    const qint64 microseconds = HeardPosition{frame, rate}.microseconds();
    // At once where the client asked, and heard from there after one restart.
    QCOMPARE(property(player, "Position").toLongLong(), microseconds);
    QTRY_COMPARE(requests.size(), before + 1);
    QCOMPARE(requests.last().startFrame, frame);
    QTRY_COMPARE(m_seeked, QList<qlonglong>({microseconds}));
    QCOMPARE(property(player, "Position").toLongLong(), microseconds);
}

void TestMpris::aBurstOfMovesRestartsTheOutputOnce()
{
    FakeClock clock;
    clock.step = 0;
    FakeSoundOutput output;
    output.clock = &clock;
    NowPlaying now(output);
    QSignalSpy moved(&now, &NowPlaying::moved);
    QVERIFY(now.play("take.wav"));
    now.setLength("take.wav", 10 * rate, rate);
    clock.now += 1;

    // 10,000 seeks on end: heard at once where the last one asked, one restart from there,
    // told once.
    for (int i = 1; i <= 10000; ++i)
        now.seek(1000000 + i * 100);
    QCOMPARE(now.heard()->frame, qint64(2 * rate));
    QTRY_COMPARE(output.requests.size(), 2);
    QCOMPARE(output.requests.last().startFrame, 96000);
    QCOMPARE(moved.size(), 1);
    QCOMPARE(moved.last().first().toLongLong(), 2000000);

    // 10,001 pauses and resumes by turns end paused: the output stopped once, never started.
    for (int i = 0; i <= 10000; ++i) {
        if (i % 2 == 0)
            now.pause();
        else
            now.resume();
    }
    QVERIFY(now.paused());
    QCOMPARE(output.stops, 1);
    QCOMPARE(now.heard()->frame, 96000);
    // Once more and it goes on, with one start.
    now.resume();
    QTRY_COMPARE(output.requests.size(), 3);
    QCOMPARE(output.requests.last().startFrame, 96000);
    QCOMPARE(output.stops, 1);

    // A seek to the end of a known length goes no further than it.
    now.seek(std::numeric_limits<qint64>::max());
    QCOMPARE(now.heard()->frame, 10 * rate);
    QTRY_COMPARE(output.requests.size(), 4);
}

void TestMpris::aLoopGoingRoundIsTold()
{
    open({{"a.wav", 0.3}, {"b.wav", 1}});
    const QString a = m_dir->filePath("a.wav");
    const qint64 round = qint64(0.3 * rate);
    m_fakes->sound.frames[a] = round;
    m_fakes->clock.step = 0;
    playRow(0);
    // Ctrl+L: the sound at hand goes on, round and round.
    m_form->findChild<QAction *>("Loop")->trigger();
    QTRY_VERIFY(m_fakes->sound.requests.last().loop);
    QVERIFY(m_seeked.isEmpty());
    const double start = m_fakes->clock.now;

    // The test's clock runs about as fast as ours, until three rounds are told.
    QList<double> toldAt;
    const auto told = [&] {
        m_fakes->clock.now += 0.01;
        while (toldAt.size() < m_seeked.size())
            toldAt.append(m_fakes->clock.now - start);
        return m_seeked.size() >= 3;
    };
    QVERIFY2(QTest::qWaitFor(told, 20000), qPrintable(QString::number(m_seeked.size())));
    for (int i = 0; i < 3; ++i) {
        // Each once its round is over, from the place heard then inside the next one.
        const double roundsDone = (i + 1) * 0.3;
        QVERIFY2(toldAt[i] >= roundsDone, qPrintable(QString::number(toldAt[i])));
        QVERIFY(m_seeked[i] >= 0);
        QVERIFY(m_seeked[i] < 300000);
        QVERIFY(m_seeked[i] <= qint64((toldAt[i] - roundsDone) * 1e6) + 1);
    }
    QCOMPARE(m_seeked.size(), 3);
}

QTEST_MAIN(TestMpris)
#include "tst_mpris.moc"
