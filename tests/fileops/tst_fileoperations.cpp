#include "fileops/EditorCommand.h"
#include "platform/FileOperations.h"
#include "platform/NativeName.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {
// By the file's bytes, as Qt's file classes would miss a name that is not UTF-8.
void write(const QString &path, const QByteArray &bytes)
{
    const int fd = ::open(nativePath(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    ::close(fd);
}

QByteArray read(const QString &path)
{
    const int fd = ::open(nativePath(path).constData(), O_RDONLY);
    QByteArray bytes;
    char buffer[65536];
    for (ssize_t got; fd >= 0 && (got = ::read(fd, buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, got);
    if (fd >= 0)
        ::close(fd);
    return bytes;
}

bool exists(const QString &path)
{
    return lstatPath(path).has_value();
}

QStringList entries(const QString &dir)
{
    QStringList names;
    DIR *listing = ::opendir(nativePath(dir).constData());
    while (const dirent *entry = listing ? ::readdir(listing) : nullptr)
        if (entry->d_type != DT_DIR)
            names.append(pathFromNative(entry->d_name));
    if (listing)
        ::closedir(listing);
    names.sort();
    return names;
}
} // namespace

// The file system's write calls, on real temporary folders.
class TestFileOperations : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void copyKeepsContentAndTime_data();
    void copyKeepsContentAndTime();
    void copyNeverReplacesNorCopiesOntoItself();
    void aFullDiskLeavesNoPartialFile();
    void leftoversOfAKilledCopyGoWithTheNextCopy();
    void deleteRefusesReadOnlyFilesAndFolders();
    void deleteGoesToTheTrash();
    void editorCommandLines_data();
    void editorCommandLines();

private:
    QTemporaryDir m_home;
    SystemFileOperations m_files;
};

void TestFileOperations::initTestCase()
{
    // Keep the trash of these tests out of the real one: on the volume of the temporary
    // folders, so it is the home trash that takes their files.
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath("data")));
}

void TestFileOperations::copyKeepsContentAndTime_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("a.wav") << "a.wav";
    QTest::newRow("Latin-1, not UTF-8") << pathFromNative("caf\xe9.wav");
}

void TestFileOperations::copyKeepsContentAndTime()
{
    QFETCH(QString, name);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("to"));
    const QByteArray bytes = QByteArray("RIFF") + QByteArray(300000, 'x');
    write(dir.filePath(name), bytes);
    const timespec when[2] = {{0, UTIME_OMIT}, {1714979289, 123456789}};
    QCOMPARE(::utimensat(AT_FDCWD, nativePath(dir.filePath(name)).constData(), when, 0), 0);
    QVERIFY(m_files.copy(dir.filePath(name), dir.filePath("to/" + name)).ok());
    QCOMPARE(read(dir.filePath("to/" + name)), bytes);
    const auto copied = statPath(dir.filePath("to/" + name));
    QVERIFY(copied);
    QCOMPARE(copied->st_mtim.tv_sec, when[1].tv_sec);
    QCOMPARE(copied->st_mtim.tv_nsec, when[1].tv_nsec);
    QCOMPARE(entries(dir.filePath("to")), QStringList({name})); // no temporary left
    // Qt's own clean-up of the folders would not see such a name.
    QVERIFY(m_files.removeFile(dir.filePath("to/" + name)).ok());
    QVERIFY(m_files.removeFile(dir.filePath(name)).ok());
    QVERIFY(!exists(dir.filePath(name)));
}

void TestFileOperations::copyNeverReplacesNorCopiesOntoItself()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("to"));
    write(dir.filePath("a.wav"), "new");
    write(dir.filePath("to/a.wav"), "keep me");
    const Result<> exists = m_files.copy(dir.filePath("a.wav"), dir.filePath("to/a.wav"));
    QVERIFY(!exists.ok());
    QVERIFY(!exists.error().isEmpty());
    QCOMPARE(read(dir.filePath("to/a.wav")), QByteArray("keep me"));
    QVERIFY(!m_files.copy(dir.filePath("a.wav"), dir.filePath("a.wav")).ok());
    QCOMPARE(read(dir.filePath("a.wav")), QByteArray("new"));
    QVERIFY(!m_files.copy(dir.filePath("gone.wav"), dir.filePath("to/gone.wav")).ok());
    QVERIFY(!m_files.copy(dir.filePath("a.wav"), dir.filePath("nowhere/a.wav")).ok());
    QCOMPARE(entries(dir.filePath("to")), QStringList({"a.wav"}));
}

void TestFileOperations::aFullDiskLeavesNoPartialFile()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("to"));
    write(dir.filePath("big.wav"), QByteArray(1 << 20, 'x'));
    // A file size limit fails writes past it, as a full disk does.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 64 * 1024;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    const Result<> result = m_files.copy(dir.filePath("big.wav"), dir.filePath("to/big.wav"));
    setrlimit(RLIMIT_FSIZE, &old);
    QVERIFY(!result.ok());
    QVERIFY(entries(dir.filePath("to")).isEmpty());
}

void TestFileOperations::leftoversOfAKilledCopyGoWithTheNextCopy()
{
    // What a copy killed midway leaves on a card without anonymous temporary files, another
    // copy's file in the making, and files of the user's that only look alike.
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("to"));
    write(dir.filePath("a.wav"), "RIFF");
    const QDateTime old = QDateTime::currentDateTime().addSecs(-3600);
    const QStringList stale = {".quillon-sonoret-Ab12cD.part"};
    const QStringList kept = {".quillon-sonoret-Zz99zz.part.keep", ".take.wav.Ab12cD.part",
                              "quillon-sonoret-Ab12cD.part", ".quillon-sonoret-long-name.part"};
    for (const QString &name : stale + kept) {
        write(dir.filePath("to/" + name), "half");
        QFile f(dir.filePath("to/" + name));
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(old, QFileDevice::FileModificationTime));
    }
    write(dir.filePath("to/.quillon-sonoret-Nw0000.part"), "being written");
    QVERIFY(m_files.copy(dir.filePath("a.wav"), dir.filePath("to/a.wav")).ok());
    QStringList expected = kept + QStringList{".quillon-sonoret-Nw0000.part", "a.wav"};
    expected.sort();
    QStringList found = entries(dir.filePath("to"));
    found.sort();
    QCOMPARE(found, expected);

    // A rename that fails says why, not always "File exists".
    const QString tooLong = dir.filePath("to/" + QString(300, 'n') + ".wav");
    const Result<> result = m_files.copy(dir.filePath("a.wav"), tooLong);
    QVERIFY(!result.ok());
    QVERIFY2(result.error().contains(QString::fromLocal8Bit(strerror(ENAMETOOLONG))),
             qPrintable(result.error()));
}

void TestFileOperations::deleteRefusesReadOnlyFilesAndFolders()
{
    QTemporaryDir dir;
    write(dir.filePath("locked.wav"), "x");
    QVERIFY(QFile::setPermissions(dir.filePath("locked.wav"), QFileDevice::ReadOwner));
    QVERIFY(!m_files.moveToTrash(dir.filePath("locked.wav")).ok());
    QVERIFY(!m_files.removeFile(dir.filePath("locked.wav")).ok());
    QVERIFY(QFile::exists(dir.filePath("locked.wav")));
    QVERIFY(QDir(dir.path()).mkdir("folder.wav"));
    QVERIFY(!m_files.moveToTrash(dir.filePath("folder.wav")).ok());
    QVERIFY(!m_files.moveToTrash(dir.filePath("missing.wav")).ok());
}

void TestFileOperations::deleteGoesToTheTrash()
{
    QTemporaryDir dir;
    const QString trash = m_home.filePath("data/Trash");
    // Names a file manager must read back from the entry exactly: a newline, a per cent
    // sign, spaces, non-ASCII letters; and the same name twice.
    const QStringList names = {"a.wav", "two\nlines.wav", "100% sure.wav", "Grüße aus Köln.wav",
                               pathFromNative("caf\xe9.wav")};
    for (const QString &name : names) {
        write(dir.filePath(name), nativePath(name));
        QVERIFY2(m_files.moveToTrash(dir.filePath(name)).ok(), qPrintable(name));
        QVERIFY(!exists(dir.filePath(name)));
    }
    write(dir.filePath("a.wav"), "second");
    QVERIFY(m_files.moveToTrash(dir.filePath("a.wav")).ok());

    const QStringList trashed = names + QStringList{"a.2.wav"};
    QStringList expected = trashed;
    expected.sort();
    QCOMPARE(entries(trash + "/files"), expected);
    for (const QString &name : trashed) {
        const QString original = dir.filePath(name == "a.2.wav" ? "a.wav" : name);
        QCOMPARE(read(trash + "/files/" + name),
                 name == "a.2.wav" ? QByteArray("second") : nativePath(name));
        const QList<QByteArray> lines = read(trash + "/info/" + name + ".trashinfo").split('\n');
        QCOMPARE(lines.size(), 4); // three lines and the final newline
        QCOMPARE(lines[0], QByteArray("[Trash Info]"));
        QVERIFY(lines[1].startsWith("Path="));
        QCOMPARE(pathFromNative(QByteArray::fromPercentEncoding(lines[1].mid(5))), original);
        QVERIFY(!lines[1].contains(' ') && !lines[1].mid(5).contains("% "));
        QVERIFY(QRegularExpression("^DeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d$")
                    .match(QString::fromLatin1(lines[2]))
                    .hasMatch());
    }
    // Nothing lands in the current folder, whatever the trash does.
    QVERIFY(!QFileInfo::exists("files") && !QFileInfo::exists("info"));

    // Qt's clean-up of the trash folder would not see this one.
    QVERIFY(m_files.removeFile(trash + "/files/" + names.last()).ok());
    QVERIFY(m_files.removeFile(trash + "/info/" + names.last() + ".trashinfo").ok());

    write(dir.filePath("b.wav"), "x");
    QVERIFY(m_files.removeFile(dir.filePath("b.wav")).ok());
    QVERIFY(!exists(dir.filePath("b.wav")));
}

void TestFileOperations::editorCommandLines_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    const QStringList file = {"/MY WAVS/a;rm -rf ~.wav"};
    QTest::newRow("a name") << "audacity"
                            << "audacity" << file;
    QTest::newRow("blank") << "   "
                           << "" << QStringList();
    QTest::newRow("empty") << ""
                           << "" << QStringList();
    QTest::newRow("spaces in a quoted path")
        << "\"/opt/My Editor/edit\" --new 'two words'"
        << "/opt/My Editor/edit" << QStringList{"--new", "two words"} + file;
    QTest::newRow("escapes") << R"(ed a\ b "c \"d\"" '$e f' "" g'h'i)"
                             << "ed" << QStringList{"a b", "c \"d\"", "$e f", "", "ghi"} + file;
    QTest::newRow("a leading -") << "-x --flag"
                                 << "-x" << QStringList{"--flag"} + file;
    QTest::newRow("; is no separator") << "sox ; rm -rf ~"
                                       << "sox" << QStringList{";", "rm", "-rf", "~"} + file;
    QTest::newRow("tabs and runs of blanks") << "\tsox \t  -V3  "
                                             << "sox" << QStringList{"-V3"} + file;
    QTest::newRow("an open quote runs to the end") << "ed 'a b"
                                                   << "ed" << QStringList{"a b"} + file;
}

void TestFileOperations::editorCommandLines()
{
    QFETCH(QString, command);
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    // The file's path is one argument whatever it holds; the command is split as a shell
    // splits words, and nothing is expanded.
    const EditorCommand c = editorCommandFor(command, "/MY WAVS/a;rm -rf ~.wav");
    QCOMPARE(c.program, program);
    QCOMPARE(c.arguments, arguments);
}

QTEST_GUILESS_MAIN(TestFileOperations)
#include "tst_fileoperations.moc"
