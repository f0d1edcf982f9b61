#include "FileList.h"

#include "FileFacts.h"
#include "PathRule.h"
#include "WaveListing.h"
#include "platform/NativeName.h"
#include "ui/ListSelection.h"
#include "ui/WaveToolTip.h"

#include <QMouseEvent>
#include <QScrollBar>
#include <algorithm>

WaveNamesModel::WaveNamesModel(QObject *parent, IsUnplayable isUnplayable, QColor disabledText)
    : QStringListModel(parent), m_isUnplayable(std::move(isUnplayable)),
      m_disabledText(disabledText)
{
}

QVariant WaveNamesModel::data(const QModelIndex &index, int role) const
{
    if (role == Qt::ForegroundRole && index.isValid() && m_isUnplayable(index.row()))
        return m_disabledText;
    // The name as stored keeps bytes that are not UTF-8; people see them replaced.
    if (role == Qt::DisplayRole)
        return shownName(QStringListModel::data(index, Qt::EditRole).toString());
    return QStringListModel::data(index, role);
}

FileList::FileList(QWidget *parent)
    : MenuListView(parent), m_model(new WaveNamesModel(
                                this,
                                [this](int row) {
                                    if (!m_facts)
                                        return false;
                                    const auto facts = m_facts->known(fullPath(m_path, entry(row)));
                                    return facts && !facts->info.playable();
                                },
                                palette().color(QPalette::Disabled, QPalette::Text)))
{
    setModel(m_model);
    m_marksTimer.setSingleShot(true);
    connect(&m_marksTimer, &QTimer::timeout, this, &FileList::requestMarks);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, &m_marksTimer,
            qOverload<>(&QTimer::start));
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
    const int scrolled = verticalScrollBar()->value();
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
    verticalScrollBar()->setValue(scrolled);
}

void FileList::setFacts(FileFacts *facts)
{
    m_facts = facts;
    connect(facts, &FileFacts::infoReady, this, [this] {
        if (m_model->rowCount() > 0)
            emit m_model->dataChanged(m_model->index(0), m_model->index(m_model->rowCount() - 1),
                                      {Qt::ForegroundRole});
    });
    WaveToolTip::forList(
        *facts, this, [this](int row) { return fullPath(m_path, entry(row)); }, false);
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
        paths.append(fullPath(m_path, entry(row)));
    m_facts->requestInfo(paths);
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

void FileList::showEntries(const QStringList &names)
{
    m_model->setStringList(names);
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
    return m_model->index(index).data(Qt::EditRole).toString();
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
