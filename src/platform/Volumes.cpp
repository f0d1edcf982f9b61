#include "Volumes.h"

#include "NativeName.h"
#include "PathRule.h"
#include "WorkPool.h"

#include <QDir>
#include <QObject>
#include <QPointer>
#include <QStorageInfo>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <mutex>
#include <utility>

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

QList<Volume> readMountedVolumes()
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

// What the volumes share with the reads that outlive them.
struct SystemVolumes::Shared
{
    std::function<QList<Volume>()> read;
    std::mutex mutex;
    QList<Volume> known;
    bool reading = false;
    // Asked for again while a read was out: one more once it is back.
    bool again = false;
    // Lives on the thread the volumes were made on, where the followers hear of a change;
    // none once the volumes are gone, and a read that comes back then tells no one.
    QObject *home = nullptr;
    // Touched on the home thread only.
    QList<std::pair<QPointer<QObject>, std::function<void()>>> followers;

    void tellFollowers()
    {
        const auto now = followers;
        for (const auto &[receiver, changed] : now)
            if (receiver)
                changed();
        followers.removeIf([](const auto &follower) { return follower.first.isNull(); });
    }

    static void readOn(const std::shared_ptr<Shared> &shared)
    {
        for (;;) {
            QList<Volume> found = shared->read();
            std::lock_guard lock(shared->mutex);
            if (found != shared->known) {
                shared->known = std::move(found);
                if (shared->home)
                    QMetaObject::invokeMethod(
                        shared->home, [shared] { shared->tellFollowers(); }, Qt::QueuedConnection);
            }
            if (!shared->home || !std::exchange(shared->again, false)) {
                shared->reading = false;
                return;
            }
        }
    }
};

SystemVolumes::SystemVolumes(std::function<QList<Volume>()> read)
    : m_shared(std::make_shared<Shared>())
{
    m_shared->read = std::move(read);
    m_shared->home = new QObject;
    // Until a read answers: the places that are always there, found without asking a mount.
    m_shared->known.append({QStringLiteral("/"), QString()});
    if (const QString home = QDir::homePath(); home != QLatin1String("/"))
        m_shared->known.append({home, QDir(home).dirName()});
    readAgain();
}

SystemVolumes::~SystemVolumes()
{
    QObject *home = nullptr;
    {
        std::lock_guard lock(m_shared->mutex);
        home = std::exchange(m_shared->home, nullptr);
    }
    // What a read posted to it goes with it.
    delete home;
    m_shared->followers.clear();
}

void SystemVolumes::readAgain() const
{
    {
        std::lock_guard lock(m_shared->mutex);
        if (m_shared->reading) {
            m_shared->again = true;
            return;
        }
        m_shared->reading = true;
    }
    workPool().start(Lane::now, [shared = m_shared] { Shared::readOn(shared); });
}

QList<Volume> SystemVolumes::mounted() const
{
    // Volumes come and go (a stick plugged in): each look has them read again, and what that
    // finds reaches the followers.
    readAgain();
    std::lock_guard lock(m_shared->mutex);
    return m_shared->known;
}

void SystemVolumes::followChanges(QObject *receiver, std::function<void()> changed)
{
    // A copy dialog's list follows them while it is open, each time it opens.
    m_shared->followers.removeIf([](const auto &follower) { return follower.first.isNull(); });
    m_shared->followers.append({receiver, std::move(changed)});
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
