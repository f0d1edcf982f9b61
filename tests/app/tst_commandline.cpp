#include "WaveWriter.h"
#include "app/CommandLine.h"
#include "app/SingleInstance.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

class TestCommandLine final : public QObject
{
    Q_OBJECT

private slots:
    void arguments_data();
    void arguments();
    void pathsAreSortedIntoFolderFilesAndSkipped();
    void aLaterStartHandsItsPathsOver();
    void aStaleSocketNeverBlocksTheStart();

private:
    QTemporaryDir m_dir;
};

void TestCommandLine::arguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("text"); // a part of what is printed
    QTest::addColumn<QStringList>("paths");
    using A = StartRequest::Action;
    QTest::newRow("nothing") << QStringList() << int(A::Start) << "" << QStringList();
    QTest::newRow("--help") << QStringList({"--help"}) << int(A::Help)
                            << "Usage: quillon-sonoret [options] [PATH...]" << QStringList();
    QTest::newRow("-h") << QStringList({"-h"}) << int(A::Help) << "--version" << QStringList();
    QTest::newRow("--version") << QStringList({"--version"}) << int(A::Version)
                               << "quillon-sonoret 2.0" << QStringList();
    QTest::newRow("unknown option") << QStringList({"--loud", "a.wav"}) << int(A::Error)
                                    << "Unknown option 'loud'." << QStringList({"/w/a.wav"});
    QTest::newRow("relative and absolute paths")
        << QStringList({"take 1.wav", "../b.wav", "/rec/c.WAV", "."}) << int(A::Start) << ""
        << QStringList({"/w/take 1.wav", "/b.wav", "/rec/c.WAV", "/w"});
    QTest::newRow("a path that looks like an option, after --")
        << QStringList({"--", "-x.wav"}) << int(A::Start) << "" << QStringList({"/w/-x.wav"});
}

void TestCommandLine::arguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, action);
    QFETCH(QString, text);
    QFETCH(QStringList, paths);
    const StartRequest request =
        parseCommandLine(QStringList({"quillon-sonoret"}) + arguments, "/w");
    QCOMPARE(int(request.action), action);
    QVERIFY2(request.text.contains(text), qPrintable(request.text));
    if (request.action == StartRequest::Action::Error)
        QVERIFY(request.text.contains("Usage:")); // the error, then the usage
    if (request.action != StartRequest::Action::Error)
        QCOMPARE(request.paths, paths);
}

void TestCommandLine::pathsAreSortedIntoFolderFilesAndSkipped()
{
    const QString folder = m_dir.filePath("recordings");
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(writeTone(folder + "/b.wav", 0.1));
    QVERIFY(writeTone(folder + "/A.WAV", 0.1));
    QVERIFY(writeBytes(folder + "/notes.txt", "x"));
    const QString fifo = folder + "/pipe.wav";
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const PathsToOpen sorted = sortPaths({folder + "/b.wav", folder, folder + "/gone.wav",
                                          folder + "/notes.txt", fifo, folder + "/A.WAV"});
    QCOMPARE(sorted.folder, folder);
    QCOMPARE(sorted.files, QStringList({folder + "/b.wav", folder + "/A.WAV"}));
    QCOMPARE(sorted.skipped, QStringList({folder + "/gone.wav", folder + "/notes.txt", fifo}));
}

void TestCommandLine::aLaterStartHandsItsPathsOver()
{
    const QString socket = m_dir.filePath("handover.socket");
    SingleInstance running(nullptr, socket);
    QVERIFY(running.listen());
    // A second window started meanwhile does not take "Open with" from the first.
    SingleInstance second(nullptr, socket);
    QVERIFY(!second.listen());

    QSignalSpy received(&running, &SingleInstance::pathsReceived);
    const QStringList paths({"/rec/take 1.wav", "/rec/new\nline.wav", "/rec/Café.wav"});
    std::atomic_bool handed = false;
    std::thread later([&] { handed = SingleInstance::handOver(paths, socket); });
    QVERIFY(received.wait(2000));
    later.join();
    QVERIFY(handed);
    QCOMPARE(received.first().first().toStringList(), paths);

    // With nobody listening, a start keeps its paths for its own window.
    QVERIFY(!SingleInstance::handOver(paths, m_dir.filePath("nobody.socket")));
}

void TestCommandLine::aStaleSocketNeverBlocksTheStart()
{
    // What a program killed mid-run leaves: a socket file nobody listens on.
    const QString socket = m_dir.filePath("stale.socket");
    const QByteArray native = QFile::encodeName(socket);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, native.constData(), native.size());
    QCOMPARE(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)), 0);
    ::close(fd);
    QVERIFY(QFileInfo::exists(socket));

    QVERIFY(!SingleInstance::handOver({"/rec/a.wav"}, socket));
    SingleInstance instance(nullptr, socket);
    QVERIFY(instance.listen());
    QSignalSpy received(&instance, &SingleInstance::pathsReceived);
    std::thread later([&] { SingleInstance::handOver({"/rec/a.wav"}, socket); });
    QVERIFY(received.wait(2000));
    later.join();
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
