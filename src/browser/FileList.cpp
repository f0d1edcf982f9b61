#include "FileList.h"

#include "WaveRolesUpdater.h"
#include "files/FileFacts.h"
#include "files/WaveLooks.h"
#include "files/WaveToolTip.h"
#include "platform/NativeName.h"
#include "platform/PathRule.h"
#include "ui/ListEntryDelegate.h"
#include "ui/ListSelection.h"
#include "ui/OneColumnProxy.h"

#include <QAbstractProxyModel>
#include <QMouseEvent>
#include <QScrollBar>
#include <algorithm>

namespace {
// The entry `source` of the folder as `shown` shows it, through the proxies between them.
QModelIndex shownThrough(const QAbstractItemModel *shown, const QModelIndex &source)
{
    if (!source.isValid() || source.model() == shown)
        return source;
    if (const auto *proxy = qobject_cast<const QAbstractProxyModel *>(shown))
        return proxy->mapFromSource(shownThrough(proxy->sourceModel(), source));
    return {};
}
} // namespace

FileList::FileList(QWidget *parent)
    : MenuListView(parent), m_model(new WaveFolderModel(this)), m_shown(new OneColumnProxy(this))
{
    m_shown->setSourceModel(m_model);
    setModel(m_shown);
    setItemDelegate(new ListEntryDelegate(this, EntryLooks::markRole));
    // Lets a press on an already selected entry keep the selection, so it can be dragged.
    setDragEnabled(true);
    // The names of a selection are asked for by each listener of a click (the panel, the
    // watch): made once for all of them, before they are told, and made again after any
    // change of the selection or of the entries shown.
    const auto forget = [this] { m_selectedNames.reset(); };
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, forget);
    connect(m_shown, &QAbstractItemModel::modelAboutToBeReset, this, forget);
    connect(m_shown, &QAbstractItemModel::modelReset, this, forget);
    connect(m_shown, &QAbstractItemModel::layoutChanged, this, forget);
    connect(m_shown, &QAbstractItemModel::rowsInserted, this, forget);
    connect(m_shown, &QAbstractItemModel::rowsRemoved, this, forget);
    connect(m_shown, &QAbstractItemModel::rowsMoved, this, forget);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &FileList::fileClick);
    // Nothing is current after a listing: "Edit wav" acts on a file someone chose, never on
    // the first one by default.
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        if (selectionModel())
            selectionModel()->clear();
    });
}

void FileList::showThrough(QAbstractProxyModel *between)
{
    between->setSourceModel(m_model);
    m_shown->setSourceModel(between);
}

Result<> FileList::setPath(const QString &path)
{
    return m_model->list(path);
}

void FileList::showUnreadable(const QString &path)
{
    m_model->showUnreadable(path);
}

void FileList::refresh()
{
    m_model->relist();
}

void FileList::rereadKeepingSelection()
{
    const QStringList selected = selectedNames();
    const QString current = fileName();
    const int scrolled = verticalScrollBar()->value();
    // Late, the names stay as they are until the new ones come; then the selection comes back.
    m_model->relist([this, selected, current, scrolled] {
        restoreSelection(selected, current, scrolled);
    });
}

void FileList::restoreSelection(const QStringList &selected, const QString &current, int scrolled)
{
    QList<int> rows;
    rows.reserve(selected.size());
    for (const QString &name : selected) {
        if (const QModelIndex entry = shownIndexOf(name); entry.isValid())
            rows.append(entry.row());
    }
    std::sort(rows.begin(), rows.end());
    // One range a run of rows: a view repaints a selection range by range, each looked up
    // through the proxies, and all of a folder selected is one run rather than 32,767.
    QItemSelection selection;
    for (qsizetype first = 0; first < rows.size();) {
        qsizetype last = first;
        while (last + 1 < rows.size() && rows[last + 1] <= rows[last] + 1)
            ++last;
        selection.select(model()->index(rows[first], 0), model()->index(rows[last], 0));
        first = last + 1;
    }
    if (const QModelIndex entry = shownIndexOf(current); entry.isValid())
        selectionModel()->setCurrentIndex(entry, QItemSelectionModel::NoUpdate);
    selectionModel()->select(selection, QItemSelectionModel::Select);
    verticalScrollBar()->setValue(scrolled);
}

void FileList::setFacts(FileFacts *facts)
{
    m_model->setFacts(facts);
    // A file a worker found unplayable is drawn in the disabled text colour; a take that
    // clips gets its mark.
    m_model->setLooks(std::make_shared<WaveLooks>(
        *facts, *this,
        WaveLooks::Roles{WaveFolderModel::PathRole, WaveFolderModel::PlayableRole, false,
                         WaveFolderModel::DamagedRole},
        WaveToolTip::GoneFile::Unreadable));
    new WaveRolesUpdater(*m_model, *this, *facts);
    WaveToolTip::forList(*facts, this, WaveFolderModel::PathRole,
                         WaveToolTip::GoneFile::Unreadable);
}

void FileList::focusInEvent(QFocusEvent *event)
{
    // A view given the focus by the keyboard makes its first row current; here nothing is
    // current until someone chooses, so "Edit wav" never opens a file nobody chose. The
    // arrow keys still start from the first row.
    const bool hadCurrent = currentIndex().isValid();
    MenuListView::focusInEvent(event);
    if (!hadCurrent && currentIndex().isValid() && !selectionModel()->hasSelection())
        selectionModel()->setCurrentIndex({}, QItemSelectionModel::NoUpdate);
}

int FileList::listCount() const
{
    return model()->rowCount();
}

QModelIndexList FileList::selection() const
{
    QModelIndexList entries;
    for (int row : selectedRowsOf(selectionModel()))
        entries.append(model()->index(row, 0));
    return entries;
}

QList<int> FileList::selectedFolderRows() const
{
    const QList<int> shown = selectedRowsOf(selectionModel());
    // Shown as they are in the folder (no sort between): the rows are the folder's. A
    // selection of tens of thousands is read on each click, so it is not mapped entry by
    // entry through the proxies then.
    if (m_shown->sourceModel() == m_model)
        return shown;
    QList<int> rows;
    rows.reserve(shown.size());
    for (int row : shown) {
        QModelIndex entry = model()->index(row, 0);
        while (const auto *proxy = qobject_cast<const QAbstractProxyModel *>(entry.model()))
            entry = proxy->mapToSource(entry);
        rows.append(entry.row());
    }
    return rows;
}

QStringList FileList::selectedNames() const
{
    if (!m_selectedNames)
        m_selectedNames = m_model->namesOf(selectedFolderRows());
    return *m_selectedNames;
}

QStringList FileList::selectedPaths() const
{
    return m_model->pathsOf(selectedFolderRows());
}

QModelIndex FileList::shownIndexOf(const QString &name) const
{
    return shownThrough(model(), m_model->indexOf(name));
}

QString FileList::fileName() const
{
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.data(Qt::EditRole).toString() : QString();
}

void FileList::mousePressEvent(QMouseEvent *event)
{
    emit pressed(event->button());
    MenuListView::mousePressEvent(event);
}

void FileList::startDrag(Qt::DropActions)
{
    emit dragRequested();
}
