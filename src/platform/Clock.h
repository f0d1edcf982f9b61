#pragma once

#include <QElapsedTimer>

// Seconds on a monotonic scale; only differences and roundings of readings matter.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual double seconds() const = 0;
};

// The real clock: monotonic, in seconds, starting at the time of day.
class MonotonicClock final : public Clock
{
public:
    MonotonicClock();
    double seconds() const override;

private:
    QElapsedTimer m_timer;
    qint64 m_originMs = 0;
};
