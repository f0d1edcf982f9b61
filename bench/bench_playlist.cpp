// The play list with its largest count: 32,767 files added, added again (all duplicates),
// then 16,000 selected ones removed, with the list view attached as in the window.
#include "BenchCommon.h"
#include "playlist/PlayListModel.h"
#include "ui/ListSelection.h"

#include <QApplication>
#include <QListView>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    constexpr int count = 32767;
    constexpr int removed = 16000;
    QList<std::pair<QString, QString>> files;
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("take%1.wav").arg(i);
        files.append({name, QStringLiteral("/home/anna/Sounds/session%1/").arg(i % 40) + name});
    }
    PlayListModel list(nullptr);
    QListView view;
    view.setModel(&list);
    view.setSelectionMode(QAbstractItemView::ExtendedSelection);
    view.setUniformItemSizes(true);
    view.show();
    QApplication::processEvents();

    QElapsedTimer t;
    t.start();
    list.addEntries(files);
    QApplication::processEvents();
    report("add 32,767 to an empty play list", t.nsecsElapsed() / 1e6, "ms",
           QStringLiteral("goal < 300 ms"));

    t.restart();
    list.addEntries(files);
    QApplication::processEvents();
    report("add them again (all duplicates)", t.nsecsElapsed() / 1e6, "ms",
           QStringLiteral("goal < 300 ms; count still %1").arg(list.count()));

    QItemSelection selection;
    for (int i = 0; i < removed; ++i)
        selection.select(list.index(i * 2), list.index(i * 2));
    view.selectionModel()->select(selection, QItemSelectionModel::Select);
    t.restart();
    // What "R&emove from list" does: read the selection, then remove in one pass.
    list.removeEntries(selectedRowsOf(view.selectionModel()));
    QApplication::processEvents();
    report("remove 16,000 selected", t.nsecsElapsed() / 1e6, "ms",
           QStringLiteral("goal < 300 ms; %1 left").arg(list.count()));

    PlayListModel single(nullptr);
    t.restart();
    for (const auto &[name, path] : files)
        single.AddEntry(name, path);
    report("AddEntry one by one, 32,767 (no view)", t.nsecsElapsed() / 1e6, "ms",
           QStringLiteral("reference"));
    return 0;
}
