#include "Desktop.h"

#include <QApplication>
#include <QProcess>

void SystemDesktop::beep()
{
    QApplication::beep();
}

bool SystemDesktop::startDetached(const QString &program, const QStringList &arguments)
{
    if (program.isEmpty())
        return false;
    return QProcess::startDetached(program, arguments);
}
