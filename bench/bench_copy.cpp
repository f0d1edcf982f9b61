// Copying 1 GiB in 200 files to another folder, against cp --preserve=timestamps and a
// sync; then moving them on the same volume.
#include "BenchCommon.h"
#include "fileops/FileTransfers.h"
#include "platform/FileOperations.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    constexpr int files = 200;
    constexpr qint64 size = (1LL << 30) / files;
    QTemporaryDir root(QDir::currentPath() + QStringLiteral("/bench-copy-XXXXXX"));
    QDir(root.path()).mkpath("source");
    QDir(root.path()).mkpath("ours");
    QDir(root.path()).mkpath("cp");
    QDir(root.path()).mkpath("moved");
    QStringList sources;
    QByteArray block(static_cast<qsizetype>(size), Qt::Uninitialized);
    for (int i = 0; i < files; ++i) {
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(block.data()),
                                              block.size() / 4);
        const QString path = root.filePath(QStringLiteral("source/take%1.wav").arg(i));
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(block);
        sources.append(path);
    }
    QProcess::execute(QStringLiteral("sync"), {});
    QList<int> all;
    for (int i = 0; i < files; ++i)
        all.append(i);

    SystemFileOperations ops;
    QElapsedTimer t;
    t.start();
    copyFiles(ops, sources, all, root.filePath("ours"), false, [] {});
    // Both sides end with a sync, so both have their data on the disk.
    QProcess::execute(QStringLiteral("sync"), {});
    const double ours = t.nsecsElapsed() / 1e9;

    t.restart();
    QProcess::execute(QStringLiteral("cp"), QStringList{QStringLiteral("--preserve=timestamps")}
                                                << sources << root.filePath("cp"));
    QProcess::execute(QStringLiteral("sync"), {});
    const double cp = t.nsecsElapsed() / 1e9;

    report("copy 1 GiB in 200 files + sync", ours, "s", QStringLiteral("reference below"));
    report("cp --preserve=timestamps + sync", cp, "s",
           QStringLiteral("ratio %1 (goal < 1.25)").arg(ours / cp, 0, 'f', 2));

    t.restart();
    copyFiles(ops, sources, all, root.filePath("moved"), true, [] {});
    QProcess::execute(QStringLiteral("sync"), {});
    report("move 1 GiB in 200 files, same volume", t.nsecsElapsed() / 1e9, "s",
           QStringLiteral("each copy on the disk before its source is deleted"));
    return 0;
}
