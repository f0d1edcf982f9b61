#pragma once

#include <functional>

// Where work off the window's thread waits, the first lane first: what the user looks at
// (the rows in view, the tooltip's file, the band's file, the answer to a click), looks that
// must keep their order (one at a time), the rest of the folder shown, and background work
// (loudness, an index), which waits for everything else.
enum class Lane
{
    now,
    serial,
    folder,
    background,
};

// What work is, for the threads it may take: a header or a folder read (light), or a file
// read whole for seconds (whole), which runs on threads of its own at a lower priority, so a
// folder measured never holds up a tooltip, a play or the window.
enum class Weight
{
    light,
    whole,
};

// The one runner of work off the window's thread; the scheduler of files/ is the one there
// is, and defines workPool(). It is never waited for at exit: a worker stuck on a dead mount
// must not keep the program from ending, so what a task uses it holds itself.
class TaskRunner
{
public:
    virtual ~TaskRunner() = default;
    virtual void start(Lane lane, std::function<void()> task, Weight weight = Weight::light) = 0;
};

TaskRunner &workPool();
