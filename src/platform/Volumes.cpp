#include "Volumes.h"

#include "NativeName.h"
#include "PathRule.h"
#include "WorkPool.h"

#include <QDir>
#include <QStorageInfo>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <mutex>

namespace {

// A network mount that went away can block opendir() for minutes; the window must not.
constexpr auto probeTimeLimit = std::chrono::seconds(3);

bool isUserMountPoint(const QString &root)
{
    static const QStringList parents = {QStringLiteral("/media/"), QStringLiteral("/run/media/"),
                                        QStringLiteral("/mnt/")};
    for (const QString &parent : parents) {
        if (root.startsWith(parent))
            return true;
    }
    return root == QLatin1String("/mnt");
}

QString openRoot(const QString &root)
{
    DIR *dir = ::opendir(nativePath(root).constData());
    if (!dir)
        return QString::fromLocal8Bit(std::strerror(errno));
    errno = 0;
    ::readdir(dir);
    const int readError = errno;
    ::closedir(dir);
    return readError ? QString::fromLocal8Bit(std::strerror(readError)) : QString();
}

} // namespace

QList<Volume> SystemVolumes::mounted() const
{
    QList<Volume> result;
    result.append({QStringLiteral("/"), QStorageInfo::root().name()});
    const QString home = QDir::homePath();
    if (home != QLatin1String("/"))
        result.append({home, QDir(home).dirName()});
    for (const QStorageInfo &storage : QStorageInfo::mountedVolumes()) {
        const QString root = storage.rootPath();
        if (!isUserMountPoint(root))
            continue;
        bool known = false;
        for (const Volume &v : result)
            known = known || v.root == root;
        if (!known)
            result.append({root, storage.name()});
    }
    return result;
}

Result<> SystemVolumes::probe(const QString &root) const
{
    struct Shared
    {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        QString error;
    };
    auto shared = std::make_shared<Shared>();
    // A stalled mount keeps its task, which holds what it uses, not the window.
    workPool().start(Lane::now, [shared, root] {
        QString error = openRoot(root);
        std::lock_guard lock(shared->mutex);
        shared->error = error;
        shared->finished = true;
        shared->done.notify_all();
    });
    std::unique_lock lock(shared->mutex);
    if (!shared->done.wait_for(lock, probeTimeLimit, [&] { return shared->finished; }))
        return Result<>::failure(QString::fromLocal8Bit(std::strerror(ETIMEDOUT)));
    if (!shared->error.isEmpty())
        return Result<>::failure(shared->error);
    return {};
}

QString SystemVolumes::currentDirectory() const
{
    return QDir::currentPath();
}

bool SystemVolumes::setCurrentDirectory(const QString &dir)
{
    return QDir::setCurrent(dir);
}

QString volumeRootOf(const QList<Volume> &volumes, const QString &path)
{
    QString best = QStringLiteral("/");
    for (const Volume &v : volumes) {
        const bool inside = path == v.root || path.startsWith(withTrailingSlash(v.root));
        if (inside && v.root.size() > best.size())
            best = v.root;
    }
    return best;
}
