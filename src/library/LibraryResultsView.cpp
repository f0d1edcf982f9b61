#include "LibraryResultsView.h"

#include "LibraryResultsModel.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyledItemDelegate>
#include <algorithm>

namespace {
// A hit whose file has gone, whose folder is not mounted now, or whose header could not be
// read, is greyed as a file that cannot be played is in the file list.
class HitDelegate final : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.data(LibraryResultsModel::UnavailableRole).toBool() ||
            index.data(LibraryResultsModel::DamagedRole).toBool())
            option->palette.setColor(QPalette::Text,
                                     option->palette.color(QPalette::Disabled, QPalette::Text));
    }
};
} // namespace

LibraryResultsView::LibraryResultsView(QWidget *parent) : QTableView(parent)
{
    setItemDelegate(new HitDelegate(this));
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    setSortingEnabled(true);
    setWordWrap(false);
    setShowGrid(false);
    setCornerButtonEnabled(false);
    verticalHeader()->hide();
    // One height for every row: a million hits scroll without measuring each.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(true);
    horizontalHeader()->setSortIndicator(0, Qt::AscendingOrder);
}

QModelIndexList LibraryResultsView::chosen() const
{
    QModelIndexList rows = selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex &a, const QModelIndex &b) { return a.row() < b.row(); });
    if (rows.isEmpty() && currentIndex().isValid())
        rows.append(currentIndex().siblingAtColumn(0));
    return rows;
}

void LibraryResultsView::keyPressEvent(QKeyEvent *event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (modifiers == Qt::NoModifier) {
        switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            // With nothing selected, the entry with the focus frame, selected as a click would.
            if (!selectionModel()->hasSelection() && currentIndex().isValid())
                selectionModel()->select(currentIndex(),
                                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
            emit playRequested();
            return;
        case Qt::Key_Space:
            emit playOrStopRequested();
            return;
        case Qt::Key_Insert:
            emit addRequested();
            return;
        default:
            break;
        }
    }
    QTableView::keyPressEvent(event);
}

void LibraryResultsView::mousePressEvent(QMouseEvent *event)
{
    // The right button acts on the selection as it stands.
    if (event->button() == Qt::RightButton)
        event->accept();
    else
        QTableView::mousePressEvent(event);
}

void LibraryResultsView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::RightButton) {
        QTableView::mouseReleaseEvent(event);
        return;
    }
    event->accept();
    const QModelIndex under = indexAt(event->position().toPoint());
    if (!under.isValid())
        return;
    // A hit outside the selection is taken alone, as a file manager takes it: the menu acts
    // on what the pointer is on. Inside it, the selection stays as it is.
    if (!selectionModel()->isSelected(under.siblingAtColumn(0)))
        selectionModel()->setCurrentIndex(under, QItemSelectionModel::ClearAndSelect |
                                                     QItemSelectionModel::Rows);
    emit menuRequested(event->globalPosition().toPoint());
}

void LibraryResultsView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && indexAt(event->position().toPoint()).isValid()) {
        event->accept();
        emit playRequested();
        return;
    }
    event->accept();
}

void LibraryResultsView::contextMenuEvent(QContextMenuEvent *event)
{
    // The mouse's menu opens on the release; the Menu key's at the entry with the frame.
    event->accept();
    if (event->reason() != QContextMenuEvent::Keyboard || chosen().isEmpty())
        return;
    const QRect at = visualRect(currentIndex().isValid() ? currentIndex() : chosen().first());
    emit menuRequested(viewport()->mapToGlobal(at.center()));
}

void LibraryResultsView::startDrag(Qt::DropActions)
{
    // The window knows what other programs and its own lists take; the view only asks.
    if (selectionModel()->hasSelection())
        emit dragRequested();
}
