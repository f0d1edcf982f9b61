#include "WaveWriter.h"
#include "app/CommandLine.h"
#include "app/SingleInstance.h"

#include <QDir>
#include <QFileSystemWatcher>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
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
    void whatIsNotAHandoverIsDropped_data();
    void whatIsNotAHandoverIsDropped();
    void floodsAndIdleConnectionsLeaveTheHandoverWorking();
    void skippedPathsAreNamedAFewAtATime();

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

namespace {
// A local client that speaks no protocol of ours: a raw socket connected to path.
int rawClient(const QString &path, bool wait = true)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | (wait ? 0 : SOCK_NONBLOCK), 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, native.constData(), native.size());
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Writes bytes until all are sent or the server drops the connection; then waits for the
// server to close. True when the server closed it.
bool sendUntilDropped(int fd, const QByteArray &bytes)
{
    for (qsizetype sent = 0; sent < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.constData() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += n;
    }
    char c;
    timeval limit{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    const bool closed = ::recv(fd, &c, 1, 0) <= 0 && errno != EAGAIN;
    ::close(fd);
    return closed;
}
} // namespace

void TestCommandLine::whatIsNotAHandoverIsDropped_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray mark = SingleInstance::mark();
    QTest::newRow("garbage ending in NULs") << QByteArray(20 * 1024 * 1024, 'x') + '\0' + '\0';
    QTest::newRow("garbage, 100 MB") << QByteArray(100 * 1024 * 1024, '\xff');
    QTest::newRow("our mark, then more than a handover may hold")
        << mark + QByteArray(SingleInstance::maxBytes, 'a') + '\0' + '\0';
    QByteArray many = mark;
    for (int i = 0; i <= SingleInstance::maxPaths; ++i)
        many += "/a.wav" + QByteArray(1, '\0');
    QTest::newRow("too many paths") << many + '\0';
    QTest::newRow("an older program's message, without the mark")
        << QByteArray("/rec/a.wav\0\0", 12);
}

void TestCommandLine::whatIsNotAHandoverIsDropped()
{
    QFETCH(QByteArray, bytes);
    const QString socket = m_dir.filePath("hostile.socket");
    SingleInstance running(nullptr, socket);
    QVERIFY(running.listen());
    QSignalSpy received(&running, &SingleInstance::pathsReceived);
    std::atomic_bool done = false;
    std::atomic_bool dropped = false;
    std::thread client([&] {
        dropped = sendUntilDropped(rawClient(socket), bytes);
        done = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(done, 20000);
    client.join();
    QVERIFY(dropped);
    QCOMPARE(received.size(), 0);

    // And a real handover still goes through.
    std::thread later([&] { SingleInstance::handOver({"/rec/a.wav"}, socket); });
    QVERIFY(received.wait(2000));
    later.join();
    QCOMPARE(received.first().first().toStringList(), QStringList({"/rec/a.wav"}));
}

void TestCommandLine::floodsAndIdleConnectionsLeaveTheHandoverWorking()
{
    const QString socket = m_dir.filePath("flood.socket");
    SingleInstance running(nullptr, socket);
    QVERIFY(running.listen());
    QSignalSpy received(&running, &SingleInstance::pathsReceived);

    // A thousand connections that say nothing: they are refused or time out.
    QList<int> idle;
    for (int i = 0; i < 1000; ++i) {
        const int fd = rawClient(socket, false);
        if (fd >= 0)
            idle.append(fd);
        QCoreApplication::processEvents();
    }
    QVERIFY(idle.size() > SingleInstance::maxConnections);
    std::atomic_bool handed = false;
    std::thread later([&] { handed = SingleInstance::handOver({"/rec/b.wav"}, socket); });
    // Within the idle limit, with room again.
    QVERIFY(received.wait(SingleInstance::idleMs + 3000));
    later.join();
    for (int fd : idle)
        ::close(fd);

    // No descriptor left: Qt's server stops and removes its socket. It listens again, on a
    // socket made anew.
    QFileSystemWatcher folder({QFileInfo(socket).absolutePath()});
    QSignalSpy remade(&folder, &QFileSystemWatcher::directoryChanged);
    rlimit before{};
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &before), 0);
    QList<int> hogs;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY)) >= 0 && hogs.size() < 100000;)
        hogs.append(fd);
    rlimit low = before;
    low.rlim_cur = hogs.last() + 1;
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &low), 0);
    ::close(hogs.takeLast()); // one for a client, none for the server to accept with
    const int client = rawClient(socket, false);
    QTRY_VERIFY_WITH_TIMEOUT(!remade.isEmpty(), 3000);
    if (client >= 0)
        ::close(client);
    for (int fd : hogs)
        ::close(fd);
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &before), 0);
    QTRY_VERIFY_WITH_TIMEOUT(running.isListening(), 5000);
    std::thread again([&] { SingleInstance::handOver({"/rec/c.wav"}, socket); });
    QVERIFY(received.wait(2000));
    again.join();
    QCOMPARE(received.last().first().toStringList(), QStringList({"/rec/c.wav"}));

    // The socket removed by someone else: it is made again.
    QVERIFY(QFile::remove(socket));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(socket), 5000);
    QVERIFY(SingleInstance::handOver({"/rec/d.wav"}, socket) || received.wait(2000));
}

void TestCommandLine::skippedPathsAreNamedAFewAtATime()
{
    QStringList skipped;
    for (int i = 0; i < 317; ++i)
        skipped.append(QString("/rec/%1.wav").arg(i));
    skipped[1] = "/rec/" + QString(5000, 'x');
    const QString text = skippedMessage(skipped);
    const QStringList lines = text.split('\n');
    QCOMPARE(lines.size(), 7);
    QCOMPARE(lines.first(), QString("Not found, or not a wave file:"));
    QCOMPARE(lines[1], QString("/rec/0.wav"));
    QVERIFY(lines[2].size() < 300);
    QCOMPARE(lines.last(), QString("and 312 more"));
    QCOMPARE(skippedMessage({"/rec/a.wav"}), QString("Not found, or not a wave file:\n/rec/a.wav"));
    // A relative path, as no later start sends, is not looked up.
    QCOMPARE(sortPaths({"a.wav"}).skipped, QStringList({"a.wav"}));
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
