#include "LibraryResultsView.h"

#include "LibraryResultsModel.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <algorithm>

namespace {
// A take's name and folder as long as they usually are, in letters: wider ones are cut.
constexpr int nameLetters = 26;
constexpr int folderLetters = 26;

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
        // A folder cut at its end would hide its own name, the part that tells takes apart;
        // the tooltip holds it whole.
        if (index.column() == LibraryResultsModel::Folder)
            option->textElideMode = Qt::ElideMiddle;
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
    horizontalHeader()->setSortIndicator(0, Qt::AscendingOrder);
}

void LibraryResultsView::setModel(QAbstractItemModel *model)
{
    QTableView::setModel(model);
    fitColumns();
}

int LibraryResultsView::startWidth(int column) const
{
    const QFontMetrics metrics = fontMetrics();
    // The widest each figure usually shows: a ten-hour take, 192 kHz, a quiet take's loudness.
    QString widest;
    switch (column) {
    case LibraryResultsModel::Name:
        return metrics.averageCharWidth() * nameLetters;
    case LibraryResultsModel::Folder:
        return metrics.averageCharWidth() * folderLetters;
    case LibraryResultsModel::Length:
        widest = LibraryResultsModel::lengthShown(10 * 3600 * 1000 - 100);
        break;
    case LibraryResultsModel::Rate:
        widest = QStringLiteral("192000");
        break;
    case LibraryResultsModel::Channels:
    case LibraryResultsModel::Bits:
        widest = QStringLiteral("32");
        break;
    case LibraryResultsModel::Loudness:
        widest = LibraryResultsModel::decibelsShown(-70.5, "LUFS");
        break;
    case LibraryResultsModel::TruePeak:
        widest = LibraryResultsModel::decibelsShown(-70.5, "dBTP");
        break;
    case LibraryResultsModel::Date:
        widest = QStringLiteral("2024-12-31 23:59");
        break;
    default:
        break;
    }
    // The text's margins in a cell, as the style draws them, and a little air.
    const int margins = 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1);
    return std::max(horizontalHeader()->sectionSizeHint(column),
                    metrics.horizontalAdvance(widest) + margins + metrics.averageCharWidth());
}

void LibraryResultsView::fitColumns()
{
    QHeaderView *header = horizontalHeader();
    if (!model() || header->count() != LibraryResultsModel::ColumnCount)
        return;
    for (int column = 0; column < LibraryResultsModel::ColumnCount; ++column)
        header->resizeSection(column, startWidth(column));
    // The folder takes what the window's width leaves; the others keep theirs, or the user's.
    header->setStretchLastSection(false);
    header->setSectionResizeMode(LibraryResultsModel::Folder, QHeaderView::Stretch);
    m_nameFitted = false;
}

void LibraryResultsView::showEvent(QShowEvent *event)
{
    QTableView::showEvent(event);
    // Once the view has the width it opens at: the name shares with the folder what the
    // figures leave, so that every column shows on a narrow screen too. Later widths are the
    // user's.
    if (m_nameFitted || !model())
        return;
    m_nameFitted = true;
    QHeaderView *header = horizontalHeader();
    int figures = 0;
    for (int column = 0; column < LibraryResultsModel::ColumnCount; ++column)
        if (column != LibraryResultsModel::Name && column != LibraryResultsModel::Folder)
            figures += header->sectionSize(column);
    const int left = viewport()->width() - figures;
    header->resizeSection(LibraryResultsModel::Name,
                          std::max(header->minimumSectionSize(),
                                   std::min(left / 2, startWidth(LibraryResultsModel::Name))));
}

QSize LibraryResultsView::sizeHint() const
{
    QSize hint = QTableView::sizeHint();
    if (!model())
        return hint;
    int width = 2 * frameWidth() + verticalScrollBar()->sizeHint().width();
    for (int column = 0; column < LibraryResultsModel::ColumnCount; ++column)
        width += startWidth(column);
    hint.setWidth(width);
    return hint;
}

void LibraryResultsView::changeEvent(QEvent *event)
{
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        fitColumns();
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
