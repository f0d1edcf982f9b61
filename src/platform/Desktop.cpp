#include "Desktop.h"

#include "NativeName.h"
#include "WorkPool.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QPointer>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {
// gio opens the file manager and ends; one that has not ended by then (a folder on a dead
// mount) is left to itself, and nothing is told.
constexpr int openFolderWaitMs = 5000;
constexpr int openFolderPollMs = 20;

// What the child tells when the folder itself is not there: its errno follows.
constexpr int folderMissingStatus = 126;
// Neither opener is installed.
constexpr int noOpenerStatus = 127;

// In a worker: runs `gio open folder` (or, without gio, `xdg-open folder`) and waits for it,
// with its error output in a file in memory (a pipe would be inherited by the file manager,
// and end it on its first write once closed here). "" when it went well, else why, in one
// line: the folder is not there, or no file manager could be started (and what the opener
// said of it).
QString runGioOpen(const QByteArray &folder)
{
    const int output = ::memfd_create("gio-open", MFD_CLOEXEC);
    if (output < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    QByteArray program("gio");
    QByteArray open("open");
    QByteArray other("xdg-open");
    QByteArray target(folder);
    char *argv[] = {program.data(), open.data(), target.data(), nullptr};
    char *otherArgv[] = {other.data(), target.data(), nullptr};
    const pid_t child = ::fork();
    if (child < 0) {
        const int error = errno;
        ::close(output);
        return QString::fromLocal8Bit(std::strerror(error));
    }
    if (child == 0) {
        // Only async-signal-safe calls from here: the parent has threads.
        ::setsid();
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, STDIN_FILENO);
            ::dup2(null, STDOUT_FILENO);
        }
        ::dup2(output, STDERR_FILENO);
        // Looked at here rather than in the worker: on a dead mount it is this child that
        // waits, and the worker gives up on it as on a file manager that does not answer.
        struct stat status
        {
        };
        if (::stat(target.constData(), &status) != 0) {
            const int error = errno;
            [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, &error, sizeof error);
            ::_exit(folderMissingStatus);
        }
        ::execvp(argv[0], argv);
        ::execvp(otherArgv[0], otherArgv);
        ::_exit(noOpenerStatus);
    }
    int status = 0;
    pid_t ended = 0;
    const QDeadlineTimer deadline(openFolderWaitMs);
    while ((ended = ::waitpid(child, &status, WNOHANG)) == 0 && !deadline.hasExpired())
        QThread::msleep(openFolderPollMs);
    if (ended == 0) {
        // Reaped by no one: it ends as init's child once it is done.
        ::close(output);
        return QString();
    }
    QByteArray said(4096, Qt::Uninitialized);
    const ssize_t got = ::pread(output, said.data(), std::size_t(said.size()), 0);
    ::close(output);
    said.truncate(got > 0 ? qsizetype(got) : 0);
    if (ended != child || !WIFEXITED(status))
        return QStringLiteral("no file manager could be started");
    const int exitStatus = WEXITSTATUS(status);
    if (exitStatus == 0)
        return QString();
    if (exitStatus == folderMissingStatus && said.size() == qsizetype(sizeof(int))) {
        int error = 0;
        std::memcpy(&error, said.constData(), sizeof error);
        QString why = QString::fromLocal8Bit(std::strerror(error));
        if (!why.isEmpty())
            why[0] = why[0].toLower();
        return why;
    }
    const QString noFileManager = QStringLiteral("no file manager could be started");
    if (exitStatus == noOpenerStatus && said.isEmpty())
        return noFileManager + QStringLiteral(": neither gio nor xdg-open is installed");
    // gio's line names the folder as a URI and then says why: the why is what the user needs.
    QString line = QString::fromLocal8Bit(said).trimmed().section(u'\n', 0, 0);
    if (const qsizetype colon = line.lastIndexOf(QStringLiteral(": ")); colon >= 0)
        line = line.mid(colon + 2);
    // Quotes gio drew in the locale's characters, or '?' where the locale has none.
    line.replace(u'?', u'"');
    if (!line.isEmpty())
        line[0] = line[0].toLower();
    return line.isEmpty() ? noFileManager : QStringLiteral("%1 (%2)").arg(noFileManager, line);
}
} // namespace

void SystemDesktop::beep()
{
    QApplication::beep();
}

bool SystemDesktop::startDetached(const QString &program, const QStringList &arguments)
{
    if (program.isEmpty())
        return false;
    // By hand rather than with QProcess: its arguments are Qt's text, and a file whose name
    // is not UTF-8 would reach the editor as another, missing, name.
    std::vector<QByteArray> bytes{nativePath(program)};
    for (const QString &argument : arguments)
        bytes.push_back(nativePath(argument));
    std::vector<char *> argv;
    for (QByteArray &argument : bytes)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    // The grandchild reports a failed exec through the pipe; a successful one closes it.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return false;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(report[0]);
        ::close(report[1]);
        return false;
    }
    if (child == 0) {
        // Only async-signal-safe calls from here: the parent has threads.
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            ::execvp(argv[0], argv.data());
            const int error = errno;
            [[maybe_unused]] const ssize_t written = ::write(report[1], &error, sizeof error);
            ::_exit(127);
        }
        ::_exit(grandchild < 0 ? 1 : 0);
    }
    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t got;
    while ((got = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    // The program now belongs to init, as a program the desktop started would.
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && got == 0;
}

void SystemDesktop::openFolder(const QString &folder, QObject *context,
                               std::function<void(const QString &why)> done)
{
    workPool().start(Lane::now, [folder = nativePath(folder), context = QPointer<QObject>(context),
                                 done = std::move(done)] {
        const QString why = runGioOpen(folder);
        if (context)
            QMetaObject::invokeMethod(
                context.data(),
                [context, done, why] {
                    if (context)
                        done(why);
                },
                Qt::QueuedConnection);
    });
}
