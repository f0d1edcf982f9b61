#include "RowDrags.h"
#include "WaveWriter.h"
#include "browser/DetailsPanel.h"
#include "browser/WaveFolderModel.h"
#include "files/WaveListing.h"
#include "platform/NativeName.h"
#include "platform/PathRule.h"
#include "platform/Volumes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace {

void setModified(const QString &path, const QDateTime &when)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.setFileTime(when, QFileDevice::FileModificationTime));
}
} // namespace

class TestBrowserLogic : public QObject
{
    Q_OBJECT
private slots:
    void fullPathRule_data();
    void fullPathRule();
    void listsWaveFilesOnly();
    void sortsAsAFileManager();
    void namesThatAreNotUtf8_data();
    void namesThatAreNotUtf8();
    void unreadableDirectoryGivesTheSystemText();
    void panel_data();
    void panel();
    void panelSkipsVanishedFiles();
    void groupingIsAlwaysThreesAndSixtyFourBit();
    void everyFileDragsOutAsItsPath();
    void theVolumesAreReadOffTheCallersThread();
};

void TestBrowserLogic::fullPathRule_data()
{
    QTest::addColumn<QString>("dir");
    QTest::addColumn<QString>("expected");
    QTest::newRow("root") << "/"
                          << "/ding.wav";
    QTest::newRow("folder") << "/home/anna/Sounds"
                            << "/home/anna/Sounds/ding.wav";
    QTest::newRow("with space") << "/my wavs"
                                << "/my wavs/ding.wav";
}

void TestBrowserLogic::fullPathRule()
{
    QFETCH(QString, dir);
    QFETCH(QString, expected);
    QCOMPARE(fullPath(dir, "ding.wav"), expected);
}

void TestBrowserLogic::listsWaveFilesOnly()
{
    QTemporaryDir dir;
    for (const char *name : {"a.wav", "B.WAV", "c.Wav", ".hidden.wav", "notes.txt", "wav", ".wav",
                             "x.wave", "a.wav.bak"})
        touch(dir.filePath(name));
    QVERIFY(QDir(dir.path()).mkdir("folder.wav"));
    QVERIFY(QFile::link(dir.filePath("a.wav"), dir.filePath("link.wav")));
    QVERIFY(QFile::link(dir.filePath("missing"), dir.filePath("dangling.wav")));
    const Result<QStringList> listing = listWaveFiles(dir.path());
    QVERIFY(listing.ok());
    QCOMPARE(listing.value(), QStringList({"a.wav", "B.WAV", "c.Wav", "link.wav"}));
    QCOMPARE(listSubdirectories(dir.path()), QStringList({"folder.wav"}));
}

void TestBrowserLogic::sortsAsAFileManager()
{
    QStringList names = {"alarm10.wav", "Chime.wav",  "alarm2.wav",
                         "ding.wav",    "Alarm2.wav", "alarm02.wav"};
    sortLikeFileManager(names);
    QCOMPARE(names, QStringList({"Alarm2.wav", "alarm02.wav", "alarm2.wav", "alarm10.wav",
                                 "Chime.wav", "ding.wav"}));

    // Names alike past their first sixteen bytes, numbers deep inside, names that are not
    // ASCII among those that are, and a name that is another's beginning.
    const QStringList sorted = {"field recording take 2 a.wav",
                                "field recording take 2 b.wav",
                                "field recording take 10.wav",
                                "field recording take 10b.wav",
                                "ÉCHO 1.wav",
                                "écho 2.wav",
                                "zz.wav",
                                "zz.wav.wav"};
    QStringList shuffled = sorted;
    std::reverse(shuffled.begin(), shuffled.end());
    std::swap(shuffled[1], shuffled[5]);
    sortLikeFileManager(shuffled);
    QCOMPARE(shuffled, (QStringList{"field recording take 2 a.wav", "field recording take 2 b.wav",
                                    "field recording take 10.wav", "field recording take 10b.wav",
                                    "zz.wav", "zz.wav.wav", "ÉCHO 1.wav", "écho 2.wav"}));
}

void TestBrowserLogic::namesThatAreNotUtf8_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");
    QTest::newRow("Latin-1, as old archives unpack")
        << QByteArray("caf\xe9.wav") << "caf\uFFFD.wav";
    QTest::newRow("UTF-8, untouched")
        << QByteArray("caf\xc3\xa9 \xf0\x9f\x8e\xb5.wav") << QString::fromUtf8("café 🎵.wav");
    QTest::newRow("overlong slash, encoded surrogate, past U+10FFFF")
        << QByteArray("a\xc0\xaf\xed\xa0\x80\xf4\x90\x80\x80.wav")
        << QString("a") + QString(9, QChar::ReplacementCharacter) + ".wav";
    QTest::newRow("a sequence cut short, then a real character")
        << QByteArray("\xe2\x82\xc3\xa9.wav") << QString::fromUtf8("\uFFFD\uFFFDé.wav");
}

void TestBrowserLogic::namesThatAreNotUtf8()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    const QString name = pathFromNative(bytes);
    QCOMPARE(nativePath(name), bytes);
    QCOMPARE(shownName(name), shown);
    QCOMPARE(hasForeignBytes(name), shown.contains(QChar::ReplacementCharacter));

    // Listed, and the name it is listed by reaches the very file.
    QTemporaryDir dir;
    touch(dir.filePath("good.wav"));
    const QByteArray path = nativePath(dir.path()) + '/' + bytes;
    const int fd = ::open(path.constData(), O_CREAT | O_WRONLY, 0644);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, "RIFF", 4), 4);
    ::close(fd);
    const QStringList names = listWaveFiles(dir.path()).value();
    QCOMPARE(names.size(), 2);
    QVERIFY(names.contains(name));
    QCOMPARE(statPath(dir.filePath(name)).value().st_size, 4);
    // Qt's own removal would not see it.
    QCOMPARE(::unlink(path.constData()), 0);
}

void TestBrowserLogic::unreadableDirectoryGivesTheSystemText()
{
    QTemporaryDir dir;
    const Result<QStringList> listing = listWaveFiles(dir.filePath("gone"));
    QVERIFY(!listing.ok());
    QCOMPARE(listing.error(), QString::fromLocal8Bit(strerror(ENOENT)));
    touch(dir.filePath("plain"));
    QCOMPARE(openDirectory(dir.filePath("plain")).error(),
             QString::fromLocal8Bit(strerror(ENOTDIR)));
    QVERIFY(openDirectory(dir.path()).ok());
}

void TestBrowserLogic::panel_data()
{
    QTest::addColumn<QList<qint64>>("sizes");
    QTest::addColumn<QTime>("time");
    QTest::addColumn<QString>("dateTime");
    QTest::addColumn<QString>("bytes");
    const QString day = QLocale(QLocale::English, QLocale::UnitedStates)
                            .toString(QDate(2026, 3, 14), QLocale::ShortFormat);
    QTest::newRow("one file") << QList<qint64>{52000} << QTime(14, 5, 9)
                              << day + "\n2:05:09\u202fPM"
                              << "52,000";
    QTest::newRow("three files") << QList<qint64>{1000, 2000, 500} << QTime(14, 5, 9) << "var"
                                 << "3,500";
    QTest::newRow("zero bytes") << QList<qint64>{0} << QTime(9, 0, 1) << day + "\n9:00:01\u202fAM"
                                << "";
    QTest::newRow("midnight") << QList<qint64>{7} << QTime(0, 0) << day << "7";
    QTest::newRow("none") << QList<qint64>{} << QTime(1, 0) << ""
                          << "";
}

void TestBrowserLogic::panel()
{
    QFETCH(QList<qint64>, sizes);
    QFETCH(QTime, time);
    QFETCH(QString, dateTime);
    QFETCH(QString, bytes);
    QTemporaryDir dir;
    QStringList names;
    for (int i = 0; i < sizes.size(); ++i) {
        const QString name = QStringLiteral("f%1.wav").arg(i);
        touch(dir.filePath(name), sizes[i]);
        setModified(dir.filePath(name), QDateTime(QDate(2026, 3, 14), time));
        names.append(name);
    }
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const PanelTexts texts = detailsOf(dir.path(), names, us);
    // Qt's locale data may put a plain or a narrow space before AM/PM.
    QCOMPARE(QString(texts.dateTime).replace(' ', u'\u202f'),
             QString(dateTime).replace(' ', u'\u202f'));
    QCOMPARE(texts.bytes, bytes);
}

void TestBrowserLogic::panelSkipsVanishedFiles()
{
    QTemporaryDir dir;
    touch(dir.filePath("a.wav"), 1000);
    touch(dir.filePath("b.wav"), 2000);
    setModified(dir.filePath("b.wav"), QDateTime(QDate(2025, 1, 2), QTime(3, 4, 5)));
    const QLocale c = QLocale::c();
    QCOMPARE(detailsOf(dir.path(), {"a.wav", "b.wav"}, c).dateTime, QString("var"));
    QVERIFY(QFile::remove(dir.filePath("a.wav")));
    const PanelTexts texts = detailsOf(dir.path(), {"a.wav", "b.wav"}, c);
    QCOMPARE(texts.bytes, QString("2,000"));
    QVERIFY(texts.dateTime.startsWith(c.toString(QDate(2025, 1, 2), QLocale::ShortFormat)));
    QVERIFY(QFile::remove(dir.filePath("b.wav")));
    QCOMPARE(detailsOf(dir.path(), {"a.wav", "b.wav"}, c).dateTime, QString());
}

void TestBrowserLogic::groupingIsAlwaysThreesAndSixtyFourBit()
{
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    QCOMPARE(groupedBytes(1234567, us), QString("1,234,567"));
    QCOMPARE(groupedBytes(999, us), QString("999"));
    QCOMPARE(groupedBytes(0, us), QString());
    QCOMPARE(groupedBytes(3000000000LL, us), QString("3,000,000,000"));
    QCOMPARE(groupedBytes(1234567, QLocale(QLocale::German, QLocale::Germany)),
             QString("1.234.567"));
    // Indian English groups other numbers in twos; the panel still shows threes.
    const QLocale india(QLocale::English, QLocale::India);
    QCOMPARE(groupedBytes(1234567, india),
             QString("1") + india.groupSeparator() + "234" + india.groupSeparator() + "567");
}

void TestBrowserLogic::everyFileDragsOutAsItsPath()
{
    WaveFolderModel model(nullptr);
    const QString latin = pathFromNative("caf\xe9.wav");
    model.setEntries("/rec/day one", {"a.wav", latin, "Ding.WAV"});
    verifyRowsDragAsFiles(model,
                          {"/rec/day one/a.wav", "/rec/day one/" + latin, "/rec/day one/Ding.WAV"});
    // The other programs get the foreign byte as it is on the disk.
    const std::unique_ptr<QMimeData> mime(model.mimeData({model.index(1, 0)}));
    QCOMPARE(mime->data("text/uri-list"), QByteArray("file:///rec/day%20one/caf%E9.wav\r\n"));
}

namespace {
// A read of the system's volumes that waits, as one held by a dead mount does, until let go.
struct HeldRead
{
    std::mutex mutex;
    std::condition_variable letGo;
    bool held = true;
    std::atomic<int> reads = 0;
    std::atomic<int> atOnce = 0;
    std::atomic<int> mostAtOnce = 0;
    QList<Volume> answer;

    QList<Volume> read()
    {
        ++reads;
        const int now = ++atOnce;
        mostAtOnce = std::max(mostAtOnce.load(), now);
        std::unique_lock lock(mutex);
        letGo.wait(lock, [this] { return !held; });
        --atOnce;
        return answer;
    }
    void release()
    {
        {
            std::lock_guard lock(mutex);
            held = false;
        }
        letGo.notify_all();
    }
};
} // namespace

void TestBrowserLogic::theVolumesAreReadOffTheCallersThread()
{
    const auto held = std::make_shared<HeldRead>();
    held->answer = {{"/", "system"}, {"/media/stick", "STICK"}};
    auto volumes = std::make_unique<SystemVolumes>([held] { return held->read(); });
    QObject follower;
    int changes = 0;
    volumes->followChanges(&follower, [&] { ++changes; });
    // While the read is held: the root and the home folder, at once, however often asked.
    QTRY_COMPARE(held->reads.load(), 1);
    QList<Volume> always = {{"/", QString()}};
    if (QDir::homePath() != "/")
        always.append({QDir::homePath(), QDir(QDir::homePath()).dirName()});
    for (int i = 0; i < 5; ++i)
        QCOMPARE(volumes->mounted(), always);
    QCOMPARE(changes, 0);
    // Let go: the follower hears of the answer here, once; the looks asked for meanwhile made
    // one more read, never two at once.
    held->release();
    QTRY_COMPARE(changes, 1);
    QCOMPARE(volumes->mounted(), held->answer);
    QTRY_COMPARE(held->atOnce.load(), 0);
    QCOMPARE(held->mostAtOnce.load(), 1);
    QVERIFY(held->reads >= 2);
    QCOMPARE(changes, 1);

    // Gone while a read is held: the volumes go at once, and the answer reaches no one.
    const auto stuck = std::make_shared<HeldRead>();
    stuck->answer = held->answer;
    volumes = std::make_unique<SystemVolumes>([stuck] { return stuck->read(); });
    int late = 0;
    volumes->followChanges(&follower, [&] { ++late; });
    QTRY_COMPARE(stuck->reads.load(), 1);
    volumes.reset();
    stuck->release();
    QTRY_COMPARE(stuck->atOnce.load(), 0);
    QCoreApplication::processEvents();
    QCOMPARE(late, 0);
}

QTEST_GUILESS_MAIN(TestBrowserLogic)
#include "tst_browserlogic.moc"
