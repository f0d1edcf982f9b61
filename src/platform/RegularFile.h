#pragma once

#include <QString>
#include <utility>

// Opens a file the user named for reading, without ever blocking: a FIFO named "b.wav" would
// otherwise hold the open until some writer appears, and with it the window. Only regular
// files are opened; everything else is refused at once. Owns its descriptor: it is closed
// with the object unless released.
class [[nodiscard]] RegularFile final
{
public:
    static RegularFile open(const QString &path);
    ~RegularFile();
    RegularFile(RegularFile &&other) noexcept
        : m_fd(std::exchange(other.m_fd, -1)), m_reason(std::move(other.m_reason))
    {
    }
    RegularFile &operator=(RegularFile &&) = delete;
    RegularFile(const RegularFile &) = delete;

    bool ok() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    // Hands the descriptor over (to libsndfile, which closes it with its file).
    int release() { return std::exchange(m_fd, -1); }
    // Why it could not be opened: "not a regular file", "no permission to read", or the
    // system's text.
    const QString &reason() const { return m_reason; }

private:
    RegularFile() = default;
    int m_fd = -1;
    QString m_reason;
};

// True when path names a regular file that can be opened for reading.
bool isReadableRegularFile(const QString &path);
