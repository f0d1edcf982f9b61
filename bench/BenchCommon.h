#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <cstdio>

// One line per figure: name, value, unit, and the goal or comparison it is measured against.
inline void report(const char *name, double value, const char *unit, const QString &against)
{
    std::printf("%-40s %10.2f %-4s  %s\n", name, value, unit, qPrintable(against));
    std::fflush(stdout);
}

inline double residentMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1;
}
