#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <cstdio>
#include <ctime>

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

// Processor time of the calling thread alone: what the window's thread spends, without the
// workers beside it.
inline double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// The load of the machine when a figure was taken (a shared machine's other work shows here).
inline QString machineLoad()
{
    QFile loadavg(QStringLiteral("/proc/loadavg"));
    if (!loadavg.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    return QString::fromLatin1(loadavg.readAll().split(' ').mid(0, 3).join(' '));
}
