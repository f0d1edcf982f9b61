#include "Scheduler.h"

#include <QMetaObject>
#include <QMutex>
#include <QMutexLocker>
#include <QObject>
#include <QThread>
#include <QThreadPool>
#include <QWaitCondition>
#include <algorithm>
#include <array>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <sys/resource.h>
#include <unistd.h>
#include <utility>
#include <vector>

struct Asker::Link
{
    QMutex mutex;
    QObject *to = nullptr;
};

Asker::Asker(QObject *to) : m_link(std::make_shared<Link>())
{
    m_link->to = to;
}

Asker::~Asker()
{
    QMutexLocker lock(&m_link->mutex);
    m_link->to = nullptr;
}

bool Asker::alive(const std::shared_ptr<Link> &link)
{
    QMutexLocker lock(&link->mutex);
    return link->to != nullptr;
}

void Asker::answer(const std::shared_ptr<Link> &link, const Generation::Ticket &ticket,
                   std::function<void()> answer)
{
    // Posted under the mutex, so the asker cannot go between the look and the post; an
    // answer posted before it went is dropped with it by Qt.
    QMutexLocker lock(&link->mutex);
    if (!link->to || !ticket.current())
        return;
    QMetaObject::invokeMethod(
        link->to,
        [link, ticket, answer = std::move(answer)] {
            // Cancelled while the answer was on its way.
            if (ticket.current())
                answer();
        },
        Qt::QueuedConnection);
}

namespace {
constexpr std::size_t laneCount = 4;
constexpr std::size_t weightCount = 2;
// Taken in this order; the serial lane one task at a time.
constexpr std::array<Lane, laneCount> byPriority{Lane::now, Lane::serial, Lane::folder,
                                                 Lane::background};

// Below the window and the sound's worker: the window repaints and a play starts at once
// while a folder is measured. Five steps down give the window three times a measuring
// thread's weight, which is plenty for it; ten gave it nine times, and lost the cores to the
// other programs' work: on a machine busy with builds a folder of takes was measured at half
// the speed two plain threads measure it at. Linux gives each thread a nice value of its own,
// and one that is not privileged cannot raise it again: the threads that take whole files
// keep to them.
constexpr int wholeThreadNice = 5;

void lowerThisThread()
{
    setpriority(PRIO_PROCESS, id_t(gettid()), wholeThreadNice);
}

struct Job
{
    Lane lane = Lane::now;
    Weight weight = Weight::light;
    std::shared_ptr<Asker::Link> asker;
    Generation::Ticket ticket;
    QStringList keys;
    qsizetype at = 0;
    bool keyed = false;
    std::function<void(const QString &)> task;
};

struct Taken
{
    std::shared_ptr<Job> job;
    QString key;
};
} // namespace

struct Scheduler::State
{
    QMutex mutex;
    QWaitCondition wholeWork;
    // Never deleted: its destructor waits for every thread, a stuck one too.
    QThreadPool *pool = new QThreadPool;
    std::array<int, weightCount> caps{};
    std::array<int, weightCount> workers{};
    // Threads for whole files waiting for work, and how many of them are woken already.
    int wholeIdle = 0;
    int wholeWoken = 0;
    // The askers whose serial task runs: each asker's in order, one at a time; one stuck
    // holds up its own asker only.
    std::set<const Asker::Link *> serialRunning;
    bool closing = false;
    std::array<std::array<std::deque<std::shared_ptr<Job>>, weightCount>, laneCount> queues;
    // The keys being worked on, by asker, with the requests for them that came meanwhile.
    std::map<std::pair<const Asker::Link *, QString>, std::vector<std::shared_ptr<Job>>> busy;

    static std::size_t at(Lane lane) { return std::size_t(lane); }
    static std::size_t at(Weight weight) { return std::size_t(weight); }

    bool live(const Job &job) const
    {
        return !closing && job.ticket.current() && (!job.asker || Asker::alive(job.asker));
    }

    // Under the mutex.
    void enqueue(std::shared_ptr<Job> job, bool first)
    {
        auto &queue = queues[at(job->lane)][at(job->weight)];
        if (first)
            queue.push_front(std::move(job));
        else
            queue.push_back(std::move(job));
    }

    // Under the mutex: the next key to work on for a thread of `weight`.
    std::optional<Taken> take(Weight weight)
    {
        for (const Lane lane : byPriority) {
            auto &queue = queues[at(lane)][at(weight)];
            if (lane == Lane::serial) {
                if (std::optional<Taken> taken = takeSerial(queue))
                    return taken;
                continue;
            }
            while (!queue.empty()) {
                const std::shared_ptr<Job> job = queue.front();
                if (!live(*job) || job->at >= job->keys.size()) {
                    queue.pop_front();
                    continue;
                }
                QString key = job->keys[job->at++];
                if (job->at >= job->keys.size())
                    queue.pop_front();
                if (job->keyed) {
                    const auto [where, added] = busy.try_emplace({job->asker.get(), key});
                    if (!added) {
                        // Waits for the one at work on it, to find what it leaves.
                        auto alone = std::make_shared<Job>(*job);
                        alone->keys = QStringList{key};
                        alone->at = 0;
                        where->second.push_back(std::move(alone));
                        continue;
                    }
                }
                return Taken{job, std::move(key)};
            }
        }
        return std::nullopt;
    }

    // Under the mutex: the first serial task of an asker that has none running.
    std::optional<Taken> takeSerial(std::deque<std::shared_ptr<Job>> &queue)
    {
        for (auto it = queue.begin(); it != queue.end();) {
            const std::shared_ptr<Job> job = *it;
            if (!live(*job)) {
                it = queue.erase(it);
                continue;
            }
            if (serialRunning.insert(job->asker.get()).second) {
                QString key = job->keys[job->at++];
                if (job->at >= job->keys.size())
                    queue.erase(it);
                return Taken{job, std::move(key)};
            }
            ++it;
        }
        return std::nullopt;
    }

    // Under the mutex: what `taken` held back can go.
    void finish(const Taken &taken)
    {
        if (taken.job->lane == Lane::serial)
            serialRunning.erase(taken.job->asker.get());
        if (!taken.job->keyed)
            return;
        const auto where = busy.find({taken.job->asker.get(), taken.key});
        if (where == busy.end())
            return;
        std::vector<std::shared_ptr<Job>> waited = std::move(where->second);
        busy.erase(where);
        for (auto it = waited.rbegin(); it != waited.rend(); ++it) {
            const Weight weight = (*it)->weight;
            enqueue(std::move(*it), true);
            wake(weight, 1);
        }
    }

    // Under the mutex: enough threads for `count` more keys of `weight`.
    void wake(Weight weight, qsizetype count)
    {
        const std::size_t w = at(weight);
        if (weight == Weight::whole) {
            const qsizetype idle = std::min<qsizetype>(count, wholeIdle - wholeWoken);
            for (qsizetype i = 0; i < idle; ++i) {
                ++wholeWoken;
                wholeWork.wakeOne();
            }
            count -= idle;
        }
        for (; count > 0 && workers[w] < caps[w]; --count) {
            ++workers[w];
            pool->start([self = self.lock(), weight] { self->work(weight); });
        }
    }

    // A thread's loop. A light one ends when nothing waits, giving its thread back; one for
    // whole files waits for more, so that its lowered thread never takes light work.
    void work(Weight weight)
    {
        if (weight == Weight::whole)
            lowerThisThread();
        QMutexLocker lock(&mutex);
        for (;;) {
            std::optional<Taken> taken = take(weight);
            if (!taken) {
                if (weight == Weight::light || closing)
                    break;
                ++wholeIdle;
                wholeWork.wait(&mutex);
                --wholeIdle;
                wholeWoken = std::max(0, wholeWoken - 1);
                continue;
            }
            lock.unlock();
            current = Current{this, taken->job->lane, weight};
            taken->job->task(taken->key);
            current = {};
            lock.relock();
            finish(*taken);
        }
        --workers[at(weight)];
    }

    // What the calling thread is working at: a Split's other half goes beside it.
    struct Current
    {
        State *state = nullptr;
        Lane lane = Lane::background;
        Weight weight = Weight::whole;
    };
    static thread_local Current current;

    std::weak_ptr<State> self;
};

thread_local Scheduler::State::Current Scheduler::State::current;

Scheduler::Scheduler(int lightThreads, int wholeThreads) : m_state(std::make_shared<State>())
{
    m_state->self = m_state;
    m_state->caps = {std::max(1, lightThreads), std::max(1, wholeThreads)};
    m_state->pool->setMaxThreadCount(m_state->caps[0] + m_state->caps[1]);
}

Scheduler::~Scheduler()
{
    QMutexLocker lock(&m_state->mutex);
    m_state->closing = true;
    for (auto &lane : m_state->queues)
        for (auto &queue : lane)
            queue.clear();
    m_state->wholeWork.wakeAll();
}

Scheduler &Scheduler::instance()
{
    // Left to the end of the process on purpose, as its threads are.
    static Scheduler *const one = new Scheduler;
    return *one;
}

TaskRunner &workPool()
{
    return Scheduler::instance();
}

int Scheduler::defaultLightThreads()
{
    // The light work waits on disks more than it computes: a transfer, the marks of the rows
    // in view and a tooltip's picture each have a thread even on two cores.
    return std::max(4, QThread::idealThreadCount());
}

int Scheduler::defaultWholeThreads()
{
    // A file read whole takes seconds of a core: one a core.
    return std::max(1, QThread::idealThreadCount());
}

int Scheduler::wholeThreads() const
{
    return m_state->caps[State::at(Weight::whole)];
}

void Scheduler::start(const std::shared_ptr<Asker::Link> &asker, Request request,
                      std::function<void(const QString &)> task)
{
    auto job = std::make_shared<Job>();
    job->lane = request.lane;
    job->weight = request.weight;
    job->asker = asker;
    job->ticket = std::move(request.ticket);
    job->keyed = !request.keys.isEmpty();
    job->keys = job->keyed ? std::move(request.keys) : QStringList{QString()};
    job->task = std::move(task);
    const qsizetype count = job->keys.size();
    QMutexLocker lock(&m_state->mutex);
    if (m_state->closing)
        return;
    m_state->enqueue(std::move(job), request.lane == Lane::now);
    m_state->wake(request.weight, count);
}

void Scheduler::start(Lane lane, std::function<void()> task, Weight weight)
{
    auto job = std::make_shared<Job>();
    job->lane = lane;
    job->weight = weight;
    job->keys = QStringList{QString()};
    job->task = [task = std::move(task)](const QString &) { task(); };
    QMutexLocker lock(&m_state->mutex);
    if (m_state->closing)
        return;
    m_state->enqueue(std::move(job), lane == Lane::now);
    m_state->wake(weight, 1);
}

struct Scheduler::Split::State
{
    std::mutex mutex;
    std::condition_variable done;
    enum class Phase
    {
        waiting,
        running,
        finished,
    } phase = Phase::waiting;
    bool joined = false;
    std::function<void()> beside;
};

Scheduler::Split::Split(Scheduler &scheduler, std::function<void()> beside)
    : m_state(std::make_shared<State>())
{
    m_state->beside = std::move(beside);
    const Scheduler::State::Current here = Scheduler::State::current;
    scheduler.start(
        here.state ? here.lane : Lane::background,
        [state = m_state] {
            {
                std::lock_guard lock(state->mutex);
                if (state->phase != State::Phase::waiting)
                    return;
                state->phase = State::Phase::running;
            }
            state->beside();
            std::lock_guard lock(state->mutex);
            state->phase = State::Phase::finished;
            state->done.notify_all();
        },
        here.state ? here.weight : Weight::whole);
}

Scheduler::Split::~Split()
{
    finish();
}

void Scheduler::Split::finish()
{
    std::unique_lock lock(m_state->mutex);
    if (std::exchange(m_state->joined, true))
        return;
    if (m_state->phase == State::Phase::waiting) {
        // No thread was free: this one does it, and the task left in the lane passes.
        m_state->phase = State::Phase::running;
        lock.unlock();
        m_state->beside();
        lock.lock();
        m_state->phase = State::Phase::finished;
        return;
    }
    m_state->done.wait(lock, [this] { return m_state->phase == State::Phase::finished; });
}
