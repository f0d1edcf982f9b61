#include "WorkPool.h"

#include <QThread>
#include <QThreadPool>
#include <algorithm>

QThreadPool &workPool()
{
    // Left to the end of the process on purpose: the global pool's destructor waits.
    static QThreadPool *const pool = [] {
        auto *made = new QThreadPool;
        // The work waits on disks more than it computes: a transfer, the marks of the rows in
        // view and a tooltip's picture each have a thread even on two cores.
        made->setMaxThreadCount(std::max(4, QThread::idealThreadCount()));
        return made;
    }();
    return *pool;
}
