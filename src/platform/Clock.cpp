#include "Clock.h"

#include <QTime>

MonotonicClock::MonotonicClock()
{
    m_timer.start();
    // Start the scale at the time of day, so readings read as seconds since midnight, but
    // count on monotonically: a chain that spans midnight does not jump back.
    m_originMs = QTime::currentTime().msecsSinceStartOfDay();
}

double MonotonicClock::seconds() const
{
    return (m_originMs + m_timer.nsecsElapsed() / 1.0e6) / 1000.0;
}
