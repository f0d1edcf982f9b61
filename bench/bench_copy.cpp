// Copying 1 GiB in 200 files to another folder as the window does it (a worker, the
// progress window showing), against cp --preserve=timestamps and a sync, with the longest
// time the window went without painting; then moving them on the same volume.
#include "BenchCommon.h"
#include "fileops/FileCommands.h"
#include "fileops/FileTransfers.h"
#include "platform/FileOperations.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.resize(500, 300);
    window.show();
    // The desktop asks the window for a paint every 20 ms (as while another window moves over
    // it); the longest stretch without one is how long the window looked frozen.
    QTimer exposures;
    QObject::connect(&exposures, &QTimer::timeout, &window, qOverload<>(&QWidget::update));
    exposures.start(20);
    QElapsedTimer sincePaint;
    double longestGap = 0;
    struct PaintClock : QObject
    {
        std::function<void()> painted;
        QObject *watched = nullptr;
        bool eventFilter(QObject *object, QEvent *event) override
        {
            if (object == watched && event->type() == QEvent::Paint)
                painted();
            return false;
        }
    } paints;
    paints.watched = &window;
    paints.painted = [&] {
        if (sincePaint.isValid())
            longestGap = std::max(longestGap, sincePaint.nsecsElapsed() / 1e6);
        sincePaint.start();
    };
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
    app.installEventFilter(&paints);
    fileCommands::copyWithProgress(&window, ops, sources, all, {root.filePath("ours"), false});
    app.removeEventFilter(&paints);
    // Both sides end with a sync, so both have their data on the disk.
    QProcess::execute(QStringLiteral("sync"), {});
    const double ours = t.nsecsElapsed() / 1e9;

    t.restart();
    QProcess::execute(QStringLiteral("cp"), QStringList{QStringLiteral("--preserve=timestamps")}
                                                << sources << root.filePath("cp"));
    QProcess::execute(QStringLiteral("sync"), {});
    const double cp = t.nsecsElapsed() / 1e9;

    report("copy 1 GiB in 200 files + sync", ours, "s", QStringLiteral("with the progress window"));
    report("longest time without a paint", longestGap, "ms", QStringLiteral("goal < 100 ms"));
    report("cp --preserve=timestamps + sync", cp, "s",
           QStringLiteral("ratio %1 (goal < 1.25)").arg(ours / cp, 0, 'f', 2));

    t.restart();
    copyFiles(ops, sources, all, root.filePath("moved"), true, [] {});
    QProcess::execute(QStringLiteral("sync"), {});
    report("move 1 GiB in 200 files, same volume", t.nsecsElapsed() / 1e9, "s",
           QStringLiteral("each copy on the disk before its source is deleted"));
    return 0;
}
