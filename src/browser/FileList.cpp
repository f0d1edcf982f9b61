#include "FileList.h"

#include "WaveListing.h"
#include "files/FileFacts.h"
#include "files/LoudnessFacts.h"
#include "files/WaveToolTip.h"
#include "platform/NativeName.h"
#include "platform/PathRule.h"
#include "ui/ListEntryDelegate.h"
#include "ui/ListSelection.h"

#include <QMouseEvent>
#include <QScrollBar>
#include <algorithm>

FileList::FileList(QWidget *parent) : MenuListView(parent), m_model(new WaveFolderModel(this))
{
    setModel(m_model);
    // A file a worker found unplayable is drawn in the disabled text colour.
    setItemDelegate(new ListEntryDelegate(
        this,
        [](const QModelIndex &index) {
            const QVariant playable = index.data(WaveFolderModel::PlayableRole);
            return playable.isValid() && !playable.toBool();
        },
        [](const QModelIndex &index) {
            return index.data(WaveFolderModel::DamagedRole).toBool();
        }));
    m_marksTimer.setSingleShot(true);
    connect(&m_marksTimer, &QTimer::timeout, this, &FileList::requestMarks);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, &m_marksTimer,
            qOverload<>(&QTimer::start));
    // Lets a press on an already selected entry keep the selection, so it can be dragged.
    setDragEnabled(true);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &FileList::fileClick);
}

Result<> FileList::setPath(const QString &path)
{
    const Result<QStringList> listing = listWaveFiles(path);
    if (!listing.ok())
        return Result<>::failure(listing.error());
    showEntries(path, listing.value());
    return {};
}

void FileList::showUnreadable(const QString &path)
{
    showEntries(path, {});
}

void FileList::refresh()
{
    // A directory that vanished shows as empty rather than as stale names.
    const Result<QStringList> listing = listWaveFiles(path());
    showEntries(path(), listing.ok() ? listing.value() : QStringList());
}

void FileList::rereadKeepingSelection()
{
    const QStringList selected = selectedNames();
    const QString current = fileName();
    const int scrolled = verticalScrollBar()->value();
    refresh();
    QItemSelection selection;
    for (const QString &name : selected) {
        if (const int row = m_model->rowOf(name); row >= 0)
            selection.select(m_model->index(row), m_model->index(row));
    }
    if (const int row = m_model->rowOf(current); row >= 0)
        selectionModel()->setCurrentIndex(m_model->index(row), QItemSelectionModel::NoUpdate);
    selectionModel()->select(selection, QItemSelectionModel::Select);
    verticalScrollBar()->setValue(scrolled);
}

void FileList::setFacts(FileFacts *facts)
{
    m_facts = facts;
    m_model->setFacts(facts);
    WaveToolTip::forList(
        *facts, this, [this](int row) { return m_model->path(row); },
        WaveToolTip::GoneFile::Unreadable);
    m_marksTimer.start();
}

void FileList::requestMarks()
{
    if (!m_facts || m_model->rowCount() == 0)
        return;
    const QModelIndex first = indexAt(QPoint(1, 1));
    if (!first.isValid())
        return;
    const QModelIndex last = indexAt(QPoint(1, viewport()->height() - 1));
    const int end = last.isValid() ? last.row() : m_model->rowCount() - 1;
    QStringList paths;
    for (int row = first.row(); row <= end; ++row)
        paths.append(m_model->path(row));
    m_facts->requestInfo(paths);
    // Loudness: the rows in view first, then, once for each listing, the folder in order.
    LoudnessFacts &loudness = m_facts->loudness();
    loudness.requestFirst(paths);
    if (!std::exchange(m_folderMeasured, true)) {
        QStringList all;
        all.reserve(m_model->rowCount());
        for (int row = 0; row < m_model->rowCount(); ++row)
            all.append(m_model->path(row));
        loudness.requestFolder(all);
    }
}

void FileList::resizeEvent(QResizeEvent *event)
{
    MenuListView::resizeEvent(event);
    m_marksTimer.start();
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

void FileList::showEntries(const QString &folder, const QStringList &names)
{
    m_model->setEntries(folder, names);
    m_folderMeasured = false;
    m_marksTimer.start();
    // Nothing is current after a listing: "Edit wav" acts on a file someone chose, never on
    // the first one by default.
    selectionModel()->clear();
}

int FileList::listCount() const
{
    return m_model->rowCount();
}

QString FileList::entry(int index) const
{
    return m_model->name(index);
}

bool FileList::isSelected(int index) const
{
    return selectionModel()->isRowSelected(index, QModelIndex());
}

QList<int> FileList::selectedRows() const
{
    return selectedRowsOf(selectionModel());
}

QStringList FileList::selectedNames() const
{
    QStringList names;
    for (int row : selectedRows())
        names.append(entry(row));
    return names;
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
