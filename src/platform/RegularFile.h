#pragma once

#include "Result.h"

#include <QString>
#include <utility>

// Opens a file the user named for reading, without ever blocking: a FIFO named "b.wav" would
// otherwise hold the open until some writer appears, and with it the window. Only regular
// files are opened; everything else is refused at once. Owns its descriptor: it is closed
// with the object unless released.
class RegularFile final
{
public:
    // Why it could not be opened: "not a regular file", "no permission to read", or the
    // system's text.
    static Result<RegularFile> open(const QString &path);
    ~RegularFile();
    RegularFile(RegularFile &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    RegularFile &operator=(RegularFile &&) = delete;
    RegularFile(const RegularFile &) = delete;

    int fd() const { return m_fd; }
    // Hands the descriptor over (to libsndfile, which closes it with its file).
    int release() { return std::exchange(m_fd, -1); }

private:
    explicit RegularFile(int fd) : m_fd(fd) {}
    int m_fd = -1;
};

// True when path names a regular file that can be opened for reading.
bool isReadableRegularFile(const QString &path);
