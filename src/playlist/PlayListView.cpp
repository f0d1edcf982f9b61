#include "PlayListView.h"

#include "FileDrag.h"
#include "PlayListModel.h"
#include "files/RolesUpdater.h"
#include "files/WaveLooks.h"
#include "files/WaveToolTip.h"
#include "platform/NativeName.h"
#include "ui/ListEntryDelegate.h"
#include "ui/ListSelection.h"

#include <QDrag>

PlayListView::PlayListView(PlayListModel &list, QWidget *parent)
    : MenuListView(parent), m_list(list)
{
    setModel(&list);
    setItemDelegate(new ListEntryDelegate(this));
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
}

void PlayListView::startDrag(Qt::DropActions)
{
    QStringList paths;
    for (const QModelIndex &entry : selection())
        paths.append(entry.data(PlayListModel::PathRole).toString());
    if (paths.isEmpty())
        return;
    auto *drag = new QDrag(this);
    drag->setMimeData(FileDrag::mimeDataFor(paths, FileDrag::Origin::Elsewhere));
    emit dragStarted();
    drag->exec(Qt::CopyAction, Qt::CopyAction);
    emit dragEnded();
}

void PlayListView::recheckMissing()
{
    m_list.recheckMissing();
}

void PlayListView::setFacts(FileFacts *facts)
{
    // An entry whose file has gone is drawn in the disabled text colour.
    m_list.setLooks(std::make_shared<WaveLooks>(
        *facts, *this, WaveLooks::Roles{PlayListModel::PathRole, PlayListModel::MissingRole, true},
        WaveToolTip::GoneFile::Missing));
    // The files of the rows in view are read as the file list's are, and what is found of
    // any entry's file changes its tooltip.
    m_list.setFacts(facts);
    const auto changed = [list = &m_list](const QString &path) { list->factsChanged(path); };
    new RolesUpdater(
        *this, PlayListModel::PathRole, m_list, *facts,
        {changed, changed, [list = &m_list](const QString &path) { list->loudnessChanged(path); }});
    WaveToolTip::forList(*facts, this, PlayListModel::PathRole, WaveToolTip::GoneFile::Missing);
}

QModelIndexList PlayListView::selection() const
{
    QModelIndexList entries;
    for (int row : selectedRowsOf(selectionModel()))
        entries.append(model()->index(row, 0));
    return entries;
}

void PlayListView::removeEntries(const QModelIndexList &gone, const QModelIndexList &selectAfter)
{
    const QList<int> rows = rowsOf(gone);
    if (rows.isEmpty() && selectAfter.isEmpty())
        return;
    // The list is made anew by the removal: what stays selected is worked out by row first.
    const QList<int> keep =
        rowsAfterRemoval(selectAfter.isEmpty() ? rowsOf(selection()) : rowsOf(selectAfter), rows);
    const QList<int> current = rowsAfterRemoval(
        currentIndex().isValid() ? QList<int>{currentIndex().row()} : QList<int>{}, rows);
    if (!rows.isEmpty())
        m_list.removeEntries(rows);
    QItemSelection selection;
    for (int row : keep)
        selection.select(m_list.index(row), m_list.index(row));
    if (!current.isEmpty())
        selectionModel()->setCurrentIndex(m_list.index(current.first()),
                                          QItemSelectionModel::NoUpdate);
    selectionModel()->select(selection, selectAfter.isEmpty()
                                            ? QItemSelectionModel::Select
                                            : QItemSelectionModel::ClearAndSelect);
}
