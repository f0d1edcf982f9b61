#include "PlayListView.h"

#include "FileDrag.h"
#include "PlayListModel.h"
#include "files/WaveToolTip.h"
#include "platform/NativeName.h"
#include "ui/ListEntryDelegate.h"
#include "ui/ListSelection.h"

#include <QDrag>

PlayListView::PlayListView(PlayListModel &list, QWidget *parent)
    : MenuListView(parent), m_list(list)
{
    setModel(&list);
    // An entry whose file has gone is drawn in the disabled text colour.
    setItemDelegate(new ListEntryDelegate(this, [](const QModelIndex &index) {
        return index.data(PlayListModel::MissingRole).toBool();
    }));
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
}

void PlayListView::selectRowsLeft(const QList<int> &wanted, const QList<int> &done)
{
    QItemSelection selection;
    for (int row : rowsAfterRemoval(wanted, done))
        selection.select(m_list.index(row), m_list.index(row));
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

void PlayListView::startDrag(Qt::DropActions)
{
    QStringList paths;
    for (int row : selectedRows())
        paths.append(m_list.path(row));
    if (paths.isEmpty())
        return;
    auto *drag = new QDrag(this);
    drag->setMimeData(FileDrag::mimeDataFor(paths, FileDrag::Origin::Elsewhere));
    emit dragStarted();
    drag->exec(Qt::CopyAction, Qt::CopyAction);
    emit dragEnded();
}

bool PlayListView::isMissing(int row) const
{
    return m_list.index(row).data(PlayListModel::MissingRole).toBool();
}

void PlayListView::recheckMissing()
{
    m_list.recheckMissing();
}

void PlayListView::setFacts(FileFacts *facts)
{
    WaveToolTip::forList(
        *facts, this, [this](int row) { return m_list.path(row); }, WaveToolTip::GoneFile::Missing);
}

QList<int> PlayListView::selectedRows() const
{
    return selectedRowsOf(selectionModel());
}

bool PlayListView::isSelected(int row) const
{
    return selectionModel()->isRowSelected(row, QModelIndex());
}

void PlayListView::removeRows(const QList<int> &rows)
{
    if (rows.isEmpty())
        return;
    const QList<int> keep = rowsAfterRemoval(selectedRows(), rows);
    const QList<int> current = rowsAfterRemoval(
        currentIndex().isValid() ? QList<int>{currentIndex().row()} : QList<int>{}, rows);
    m_list.removeEntries(rows);
    QItemSelection selection;
    for (int row : keep)
        selection.select(m_list.index(row), m_list.index(row));
    if (!current.isEmpty())
        selectionModel()->setCurrentIndex(m_list.index(current.first()),
                                          QItemSelectionModel::NoUpdate);
    selectionModel()->select(selection, QItemSelectionModel::Select);
}
