#pragma once

#include "library/LibraryStore.h"

#include <QByteArray>
#include <QString>
#include <cstdlib>
#include <grp.h>
#include <unistd.h>

// Folders a test makes unreadable or read-only mean nothing to root, who reads and writes
// them all the same: run as root (in a container, in CI), the library's tests give up root
// for an ordinary user first, so that those cases test what a user meets.
inline void runAsOrdinaryUser()
{
    if (::geteuid() != 0)
        return;
    constexpr uid_t nobody = 65534;
    if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0)
        std::abort();
    // Root's own folders are closed to that user; the temporary folder is not.
    ::setenv("HOME", "/tmp", 1);
}

// A file as the indexer would hand it over.
inline LibraryEntry entryOf(const QByteArray &folder, const QByteArray &name, qint64 size = 1000,
                            qint64 modifiedNs = 1'700'000'000'000'000'000)
{
    LibraryEntry entry;
    entry.folder = folder;
    entry.name = name;
    entry.size = size;
    entry.modifiedNs = modifiedNs;
    entry.info.encoding = QStringLiteral("PCM 16-bit");
    entry.info.container = QStringLiteral("WAV");
    entry.info.sampleRate = 48000;
    entry.info.channels = 2;
    entry.info.frames = 96000;
    return entry;
}

inline QStringList namesOf(const QList<LibraryHit> &hits)
{
    QStringList names;
    for (const LibraryHit &hit : hits)
        names.append(hit.name);
    return names;
}
