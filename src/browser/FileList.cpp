#include "FileList.h"

#include "PathRule.h"
#include "WaveListing.h"
#include "ui/ListSelection.h"

#include <QMouseEvent>
#include <algorithm>

FileList::FileList(QWidget *parent) : MenuListView(parent), m_model(new QStringListModel(this))
{
    setModel(m_model);
    // Lets a press on an already selected entry keep the selection, so it can be dragged.
    setDragEnabled(true);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &FileList::fileClick);
}

QString FileList::setPath(const QString &path)
{
    WaveListing listing = listWaveFiles(path);
    if (!listing.ok())
        return listing.error;
    m_path = path;
    showEntries(listing.names);
    return {};
}

void FileList::showUnreadable(const QString &path)
{
    m_path = path;
    showEntries({});
}

void FileList::refresh()
{
    // A directory that vanished shows as empty rather than as stale names.
    showEntries(listWaveFiles(m_path).names);
}

void FileList::rereadKeepingSelection()
{
    const QStringList selected = selectedNames();
    const QString current = fileName();
    refresh();
    const QStringList names = m_model->stringList();
    QItemSelection selection;
    for (const QString &name : selected) {
        if (const qsizetype row = names.indexOf(name); row >= 0)
            selection.select(m_model->index(static_cast<int>(row)),
                             m_model->index(static_cast<int>(row)));
    }
    if (const qsizetype row = names.indexOf(current); row >= 0)
        selectionModel()->setCurrentIndex(m_model->index(static_cast<int>(row)),
                                          QItemSelectionModel::NoUpdate);
    selectionModel()->select(selection, QItemSelectionModel::Select);
}

void FileList::showEntries(const QStringList &names)
{
    m_model->setStringList(names);
    selectionModel()->clearSelection();
    if (m_model->rowCount() > 0)
        selectionModel()->setCurrentIndex(m_model->index(0), QItemSelectionModel::NoUpdate);
}

int FileList::listCount() const
{
    return m_model->rowCount();
}

QString FileList::entry(int index) const
{
    return m_model->index(index).data().toString();
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
    return current.isValid() ? current.data().toString() : QString();
}

ChainSource FileList::chainSource() const
{
    return {[this] { return listCount(); }, [this](int i) { return isSelected(i); },
            [this](int i) {
                return ChainEntry{fullPath(m_path, entry(i)), entry(i)};
            }};
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
