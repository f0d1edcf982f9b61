#include "DirList.h"

#include "FolderWatch.h"
#include "WaveListing.h"
#include "platform/NativeName.h"
#include "platform/PathRule.h"
#include "platform/WorkPool.h"

#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPointer>
#include <QStyle>

namespace {
constexpr int pathRole = Qt::UserRole;

QString cleanDirectory(const QString &path)
{
    QString clean = QDir::cleanPath(path);
    return clean.isEmpty() ? QStringLiteral("/") : clean;
}
} // namespace

DirList::DirList(QWidget *parent) : QTreeWidget(parent)
{
    setHeaderHidden(true);
    setRootIsDecorated(false);
    setIndentation(10);
    setUniformRowHeights(true);
    setItemsExpandable(false);
    setExpandsOnDoubleClick(false);
    connect(this, &QTreeWidget::itemActivated, this, &DirList::openItem);
}

Result<> DirList::setPath(const QString &path, Report report)
{
    const QString clean = cleanDirectory(path);
    if (clean == m_path)
        return {};
    if (Result<> opened = m_onWorker ? Result<>() : openDirectory(clean); !opened.ok())
        return opened;
    m_path = clean;
    rebuild();
    emit pathChanged(report);
    return {};
}

void DirList::showUnreadable(const QString &path)
{
    const QString clean = cleanDirectory(path);
    if (clean == m_path)
        return;
    m_path = clean;
    rebuild();
    emit pathChanged(Report::Quiet);
}

void DirList::rebuild()
{
    clear();
    const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);

    QStringList chain;
    for (QString p = m_path;; p = cleanDirectory(p + QStringLiteral("/.."))) {
        chain.prepend(p);
        if (p == QLatin1String("/"))
            break;
    }
    QTreeWidgetItem *parent = nullptr;
    for (const QString &p : chain) {
        const QString text = p == QLatin1String("/") ? p : QDir(p).dirName();
        auto *item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
        item->setText(0, text);
        item->setIcon(0, open);
        item->setData(0, pathRole, p);
        parent = item;
    }
    const quint64 read = ++m_read;
    if (!m_onWorker)
        addSubdirectories(parent, listSubdirectories(m_path));
    expandAll();
    setCurrentItem(parent);
    scrollToItem(parent, QAbstractItemView::PositionAtTop);
    if (!m_onWorker)
        return;
    workPool().start(Lane::now, [self = QPointer<DirList>(this), path = m_path, read] {
        const Result<> opened = openDirectory(path);
        const QStringList names = opened.ok() ? listSubdirectories(path) : QStringList();
        if (self)
            QMetaObject::invokeMethod(
                self.data(),
                [self, path, read, opened, names] {
                    if (!self || read != self->m_read)
                        return;
                    if (!opened.ok()) {
                        emit self->unreadable(path, opened.error());
                        return;
                    }
                    // The deepest folder of the chain, which the subfolders go under.
                    QTreeWidgetItem *home = self->topLevelItem(0);
                    while (home && home->childCount())
                        home = home->child(0);
                    if (!home)
                        return;
                    self->addSubdirectories(home, names);
                    self->expandAll();
                },
                Qt::QueuedConnection);
    });
}

void DirList::addSubdirectories(QTreeWidgetItem *parent, const QStringList &names)
{
    const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
    for (const QString &name : names) {
        auto *item = new QTreeWidgetItem(parent);
        item->setText(0, name);
        item->setIcon(0, closed);
        item->setData(0, pathRole, fullPath(m_path, name));
    }
}

void DirList::openItem(QTreeWidgetItem *item)
{
    if (item)
        emit openRequested(item->data(0, pathRole).toString());
}

bool DirList::followDisk()
{
    if (isDirectoryPath(m_path)) {
        rebuild();
        return true;
    }
    const QString parent = FolderWatch::nearestExistingFolder(m_path);
    if (!setPath(parent, Report::Quiet).ok())
        showUnreadable(parent);
    return false;
}

QString DirList::parentPath() const
{
    return cleanDirectory(m_path + QStringLiteral("/.."));
}

void DirList::keyPressEvent(QKeyEvent *event)
{
    // Backspace goes up one level, as in file managers.
    if (event->key() == Qt::Key_Backspace && m_path != QLatin1String("/")) {
        emit openRequested(parentPath());
        return;
    }
    QTreeWidget::keyPressEvent(event);
    // Enter opens the folder and is done: passed on, a dialog would press a button with it.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        event->accept();
}
