#pragma once

#include "WorkPool.h"

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

// How long the window waits for a worker's read of a folder before it shows what it has and
// takes the answer when it comes: a disk that answers at all answers well within it, so the
// lists behave as if read on the spot, and a stalled one costs the window no more than this.
inline constexpr std::chrono::milliseconds briefWait{120};

// Runs `work` on a worker and waits for it at most `wait`. In time, its answer is returned.
// Late, nothing is returned and the answer goes to `late` on receiver's thread when it comes,
// unless receiver is gone by then; whether it still matters is for `late` to decide. What
// the work uses it holds itself: on a dead mount it may never end.
template <typename T>
std::optional<T> waitBriefly(QObject *receiver, std::function<T()> work,
                             std::function<void(T)> late,
                             std::chrono::milliseconds wait = briefWait)
{
    struct Shared
    {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<T> answer;
        bool gaveUp = false;
    };
    auto shared = std::make_shared<Shared>();
    workPool().start(Lane::now, [shared, work = std::move(work), late = std::move(late),
                                 to = QPointer<QObject>(receiver)]() mutable {
        T answer = work();
        {
            std::lock_guard lock(shared->mutex);
            if (!shared->gaveUp) {
                shared->answer = std::move(answer);
                shared->done.notify_all();
                return;
            }
        }
        if (!to)
            return;
        QMetaObject::invokeMethod(
            to.data(),
            [to, late = std::move(late), answer = std::move(answer)]() mutable {
                if (to)
                    late(std::move(answer));
            },
            Qt::QueuedConnection);
    });
    std::unique_lock lock(shared->mutex);
    if (wait.count() > 0)
        shared->done.wait_for(lock, wait, [&] { return shared->answer.has_value(); });
    if (shared->answer)
        return std::move(shared->answer);
    shared->gaveUp = true;
    return std::nullopt;
}
