#pragma once

#include <QString>

// Opens a file the user named for reading, without ever blocking: a FIFO named "b.wav" would
// otherwise hold the open until some writer appears, and with it the window. Only regular
// files are opened; everything else is refused at once.
struct RegularFile
{
    // The descriptor (the caller owns it), or -1 with the reason in `reason`.
    int fd = -1;
    // "not a regular file", "no permission to read", or the system's text.
    QString reason;

    static RegularFile open(const QString &path);
    bool ok() const { return fd >= 0; }
};

// True when path names a regular file that can be opened for reading.
bool isReadableRegularFile(const QString &path);
