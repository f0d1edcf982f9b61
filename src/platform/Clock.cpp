#include "Clock.h"

#include <QTime>

MonotonicClock::MonotonicClock()
{
    m_timer.start();
    // Start the scale at the time of day so readings look like the classic
    // seconds-since-midnight timer, but never jump back at midnight.
    m_originMs = QTime::currentTime().msecsSinceStartOfDay();
}

double MonotonicClock::seconds() const
{
    return (m_originMs + m_timer.nsecsElapsed() / 1.0e6) / 1000.0;
}
