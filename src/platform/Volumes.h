#pragma once

#include "Result.h"

#include <QList>
#include <QString>

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
    virtual QList<Volume> mounted() const = 0;
    // Empty when the volume is ready and its root can be read, else the system's text.
    virtual Result<> probe(const QString &root) const = 0;
    virtual QString currentDirectory() const = 0;
    virtual bool setCurrentDirectory(const QString &dir) = 0;
};

// The mounted volumes worth offering, probed in a worker with a time limit.
class SystemVolumes final : public Volumes
{
public:
    QList<Volume> mounted() const override;
    Result<> probe(const QString &root) const override;
    QString currentDirectory() const override;
    bool setCurrentDirectory(const QString &dir) override;
};

// The volume root of the list that holds path (the longest matching root), or "/".
QString volumeRootOf(const QList<Volume> &volumes, const QString &path);
