#pragma once

#include "Result.h"

#include <QList>
#include <QString>
#include <functional>
#include <memory>

class QObject;

// A place the drive list offers: a mount root and the name to show beside it.
struct Volume
{
    QString root;
    QString name;
    bool operator==(const Volume &) const = default;
};

// What stands in for drives: the mounted volumes, their readiness, and the process's
// current directory (the current drive is the volume that holds it).
class Volumes
{
public:
    virtual ~Volumes() = default;
    // The volumes as last known, at once.
    virtual QList<Volume> mounted() const = 0;
    // Runs `changed` on receiver's thread whenever the volumes known change, for as long as
    // receiver is there. A list that never changes on its own needs none.
    virtual void followChanges(QObject *receiver, std::function<void()> changed)
    {
        (void)receiver;
        (void)changed;
    }
    // Empty when the volume is ready and its root can be read, else the system's text.
    virtual Result<> probe(const QString &root) const = 0;
    virtual QString currentDirectory() const = 0;
    virtual bool setCurrentDirectory(const QString &dir) = 0;
};

// The mounted volumes worth offering: the root, the home folder, and what is mounted under
// /media, /run/media and /mnt. Reading them asks every mount of the system for its size, and
// one that went away (a network share, a file system in a process that hangs) holds the
// caller until it answers: this is a worker's call.
QList<Volume> readMountedVolumes();

// The system's volumes, read by a worker each time they are asked for (one read at a time:
// a read held by a dead mount is never joined by another), and told to the followers when
// a read finds them changed. Until the first read answers they are the root and the home
// folder. Readiness is probed in a worker with a time limit.
class SystemVolumes final : public Volumes
{
public:
    // read: readMountedVolumes, or a test's stand-in. The first read starts at once.
    explicit SystemVolumes(std::function<QList<Volume>()> read = readMountedVolumes);
    // Returns at once, whatever a read still waits for.
    ~SystemVolumes() override;
    SystemVolumes(const SystemVolumes &) = delete;
    SystemVolumes &operator=(const SystemVolumes &) = delete;

    QList<Volume> mounted() const override;
    void followChanges(QObject *receiver, std::function<void()> changed) override;
    Result<> probe(const QString &root) const override;
    QString currentDirectory() const override;
    bool setCurrentDirectory(const QString &dir) override;

private:
    struct Shared;
    void readAgain() const;
    std::shared_ptr<Shared> m_shared;
};

// The volume root of the list that holds path (the longest matching root), or "/".
QString volumeRootOf(const QList<Volume> &volumes, const QString &path);
