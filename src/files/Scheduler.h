#pragma once

#include "platform/WorkPool.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>

class QObject;

// What a request belongs to: the rows in view, the folder shown, the file at hand. Renewed
// when that changes, which cancels every request made before: what of them waits is never
// run, and what of them runs has its answer dropped.
class Generation final
{
public:
    struct Ticket
    {
        std::shared_ptr<const std::atomic<quint64>> counter;
        quint64 value = 0;
        // A ticket of no generation is never cancelled.
        bool current() const { return !counter || counter->load() == value; }
    };
    Ticket ticket() const { return {m_counter, m_counter->load()}; }
    void renew() { ++*m_counter; }

private:
    std::shared_ptr<std::atomic<quint64>> m_counter = std::make_shared<std::atomic<quint64>>(0);
};

// Who asks: the object answers go to, on its own thread. Once it is gone nothing it asked for
// that still waits runs, and no answer reaches it.
class Asker final
{
public:
    explicit Asker(QObject *to);
    ~Asker();
    Asker(const Asker &) = delete;
    Asker &operator=(const Asker &) = delete;

    // What a task holds of the asker: it may outlive it.
    struct Link;
    const std::shared_ptr<Link> &link() const { return m_link; }
    // Whether the asker is still there (any thread); a task may stop early once it is not.
    static bool alive(const std::shared_ptr<Link> &link);
    // From a worker: runs `answer` on the asker's thread, unless by then the asker has gone
    // or `ticket` was cancelled.
    static void answer(const std::shared_ptr<Link> &link, const Generation::Ticket &ticket,
                       std::function<void()> answer);

private:
    std::shared_ptr<Link> m_link;
};

// The one owner of threads for work off the window's thread. Lanes wait by priority (see
// Lane); in a lane the newest request of "now" goes first (the file just pointed at), the
// others in the order asked; the keys of one request in their order. A key (a file) is never
// worked on twice at once for one asker: a second request waits until the first is done, and
// then finds its result where the first left it. The threads are never joined: a task stuck
// on a dead mount keeps its thread, never the window, the exit or the other threads.
class Scheduler final : public TaskRunner
{
public:
    // Threads for light work and for whole files; a second thread of either is there even
    // on one core: a stalled mount must not stop all of it.
    explicit Scheduler(int lightThreads = defaultLightThreads(),
                       int wholeThreads = defaultWholeThreads());
    // Drops what waits and returns at once; what runs ends on its own.
    ~Scheduler() override;
    Scheduler(const Scheduler &) = delete;
    Scheduler &operator=(const Scheduler &) = delete;

    // The program's one.
    static Scheduler &instance();
    static int defaultLightThreads();
    static int defaultWholeThreads();
    int wholeThreads() const;

    struct Request
    {
        Lane lane = Lane::now;
        Weight weight = Weight::light;
        // One task a key, in order; none runs the task once, with no key and none kept out.
        QStringList keys;
        Generation::Ticket ticket;
    };
    // Runs `task` for each key on a worker, for as long as the asker is there and the ticket
    // current; the task answers through Asker::answer.
    void start(const Asker &asker, Request request, std::function<void(const QString &)> task)
    {
        start(asker.link(), std::move(request), std::move(task));
    }
    // The same from a task, which holds the asker's link.
    void start(const std::shared_ptr<Asker::Link> &asker, Request request,
               std::function<void(const QString &)> task);
    void start(Lane lane, std::function<void()> task, Weight weight = Weight::light) override;

    // Work split in two by a task: `beside` may run on another thread of the lane and
    // weight the calling task runs in, while the caller does its own half; finish() returns
    // when both are done, running `beside` itself if no thread had taken it, so no thread
    // ever waits for work that has not begun.
    class Split final
    {
    public:
        Split(Scheduler &scheduler, std::function<void()> beside);
        ~Split();
        Split(const Split &) = delete;
        Split &operator=(const Split &) = delete;
        void finish();

    private:
        struct State;
        std::shared_ptr<State> m_state;
    };

private:
    struct State;
    std::shared_ptr<State> m_state;
};
