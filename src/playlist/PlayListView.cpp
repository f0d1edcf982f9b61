#include "PlayListView.h"

#include "PlayList.h"
#include "ui/ListSelection.h"
#include "ui/WaveToolTip.h"

#include <QSet>

PlayListView::PlayListView(PlayList &list, QWidget *parent) : MenuListView(parent), m_list(list)
{
    setModel(list.names());
}

void PlayListView::setFacts(FileFacts *facts)
{
    new WaveToolTip(
        *facts, viewport(),
        [this](const QPoint &at, QRect &area) {
            const QModelIndex index = indexAt(at);
            if (!index.isValid())
                return QString();
            area = visualRect(index);
            return m_list.path(index.row());
        },
        true);
}

QList<int> PlayListView::selectedRows() const
{
    return selectedRowsOf(selectionModel());
}

bool PlayListView::isSelected(int row) const
{
    return selectionModel()->isRowSelected(row, QModelIndex());
}

ChainSource PlayListView::chainSource() const
{
    return {[this] { return m_list.count(); }, [this](int i) { return isSelected(i); },
            [this](int i) {
                return ChainEntry{m_list.path(i), m_list.name(i)};
            }};
}

void PlayListView::removeRows(const QList<int> &rows)
{
    if (rows.isEmpty())
        return;
    const QSet<int> gone(rows.begin(), rows.end());
    const int current = currentIndex().row();
    const QList<int> selected = selectedRows();
    QList<int> keep;
    int newCurrent = -1;
    int removedBefore = 0;
    qsizetype next = 0;
    for (int row = 0; row < m_list.count(); ++row) {
        if (gone.contains(row)) {
            ++removedBefore;
            continue;
        }
        while (next < selected.size() && selected[next] < row)
            ++next;
        if (next < selected.size() && selected[next] == row)
            keep.append(row - removedBefore);
        if (row == current)
            newCurrent = row - removedBefore;
    }
    m_list.removeRows(rows);
    QItemSelection selection;
    for (int row : keep)
        selection.select(m_list.names()->index(row), m_list.names()->index(row));
    if (newCurrent >= 0)
        selectionModel()->setCurrentIndex(m_list.names()->index(newCurrent),
                                          QItemSelectionModel::NoUpdate);
    selectionModel()->select(selection, QItemSelectionModel::Select);
}
