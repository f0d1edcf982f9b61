#pragma once

#include <QString>
#include <optional>
#include <utility>

// What a call that may fail gives back: done, with its value, or why not, in the system's
// words; work the user can stop may also end as cancelled, which is no failure to report.
// Dropping one unread is a mistake the compiler points out.
template <typename T = void> class [[nodiscard]] Result
{
public:
    Result(T value) : m_value(std::move(value)) {}
    static Result failure(QString text) { return Result(std::move(text), false); }
    static Result cancel() { return Result(QString(), true); }

    bool ok() const { return m_value.has_value(); }
    bool cancelled() const { return m_cancelled; }
    // Empty when done or cancelled.
    const QString &error() const { return m_error; }
    T &value() { return *m_value; }
    const T &value() const { return *m_value; }
    T *operator->() { return &*m_value; }
    const T *operator->() const { return &*m_value; }

private:
    Result(QString text, bool cancelled) : m_error(std::move(text)), m_cancelled(cancelled) {}
    std::optional<T> m_value;
    QString m_error;
    bool m_cancelled = false;
};

template <> class [[nodiscard]] Result<void>
{
public:
    Result() = default;
    static Result failure(QString text) { return Result(std::move(text), false); }
    static Result cancel() { return Result(QString(), true); }

    bool ok() const { return m_ok; }
    bool cancelled() const { return m_cancelled; }
    const QString &error() const { return m_error; }

private:
    Result(QString text, bool cancelled)
        : m_ok(false), m_error(std::move(text)), m_cancelled(cancelled)
    {
    }
    bool m_ok = true;
    QString m_error;
    bool m_cancelled = false;
};
