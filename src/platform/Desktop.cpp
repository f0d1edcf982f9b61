#include "Desktop.h"

#include "NativeName.h"

#include <QApplication>
#include <cerrno>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

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
