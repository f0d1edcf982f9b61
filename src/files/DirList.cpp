#include "DirList.h"

#include "FolderWatch.h"
#include "WaveListing.h"
#include "platform/NativeName.h"
#include "platform/PathRule.h"

#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
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

DirList::Reading DirList::readFolder(const QString &path, bool followGone)
{
    Reading reading;
    reading.opened = openDirectory(path);
    if (reading.opened.ok())
        reading.names = listSubdirectories(path);
    else if (followGone && !isDirectoryPath(path))
        reading.nearest = FolderWatch::nearestExistingFolder(path);
    return reading;
}

std::optional<DirList::Reading> DirList::read(const QString &path, Follow follow, Report report,
                                              const QString &before)
{
    // The read that shows next; the caller makes it the current one when it shows.
    const quint64 read = m_read + 1;
    const bool followGone = follow == Follow::Yes;
    std::function<Reading(const QString &, bool)> reader =
        m_readFolder ? m_readFolder : &DirList::readFolder;
    return waitBriefly<Reading>(
        this, [reader, path, followGone] { return reader(path, followGone); },
        [this, read, path, follow, report, before](const Reading &reading) {
            if (read == m_read)
                lateAnswer(path, follow, report, before, reading);
        },
        m_wait);
}

Result<> DirList::setPath(const QString &path, Report report)
{
    const QString clean = cleanDirectory(path);
    if (clean == m_path)
        return {};
    const QString before = m_path;
    const std::optional<Reading> reading = read(clean, Follow::No, report, before);
    if (reading && !reading->opened.ok())
        return reading->opened;
    ++m_read;
    m_path = clean;
    showChain();
    if (reading)
        showSubdirectories(reading->names);
    emit pathChanged(report);
    return {};
}

void DirList::lateAnswer(const QString &path, Follow follow, Report report, const QString &before,
                         const Reading &reading)
{
    if (reading.opened.ok()) {
        showSubdirectories(reading.names);
        return;
    }
    if (follow == Follow::Yes && !reading.nearest.isEmpty()) {
        if (!setPath(reading.nearest, Report::Quiet).ok())
            showUnreadable(reading.nearest);
        return;
    }
    // The first folder shown has none to go back to: it stays, with the way up out of it.
    const Report told = before.isEmpty() || follow == Follow::Yes ? Report::Quiet : report;
    if (told == Report::Tell) {
        if (!setPath(before, Report::Quiet).ok())
            showUnreadable(before);
    } else {
        showChain();
    }
    emit unreadable(path, reading.opened.error(), told);
}

void DirList::reread()
{
    const std::optional<Reading> reading = read(m_path, Follow::No);
    ++m_read;
    // Late, what shows stays until the answer comes.
    if (!reading)
        return;
    showChain();
    showSubdirectories(reading->names);
}

void DirList::showUnreadable(const QString &path)
{
    const QString clean = cleanDirectory(path);
    if (clean == m_path)
        return;
    ++m_read;
    m_path = clean;
    showChain();
    emit pathChanged(Report::Quiet);
}

QTreeWidgetItem *DirList::showChain()
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
    expandAll();
    setCurrentItem(parent);
    scrollToItem(parent, QAbstractItemView::PositionAtTop);
    return parent;
}

void DirList::showSubdirectories(const QStringList &names)
{
    // The deepest folder of the chain, which the subfolders go under.
    QTreeWidgetItem *home = topLevelItem(0);
    while (home && home->data(0, pathRole).toString() != m_path)
        home = home->child(0);
    if (!home)
        return;
    const QTreeWidgetItem *current = currentItem();
    const QString wasCurrent = current ? current->data(0, pathRole).toString() : QString();
    qDeleteAll(home->takeChildren());
    const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
    QTreeWidgetItem *again = nullptr;
    for (const QString &name : names) {
        auto *item = new QTreeWidgetItem(home);
        item->setText(0, name);
        item->setIcon(0, closed);
        const QString path = fullPath(m_path, name);
        item->setData(0, pathRole, path);
        if (path == wasCurrent)
            again = item;
    }
    expandAll();
    if (!currentItem())
        setCurrentItem(again ? again : home);
}

void DirList::openItem(QTreeWidgetItem *item)
{
    if (item)
        emit openRequested(item->data(0, pathRole).toString());
}

bool DirList::followDisk()
{
    const std::optional<Reading> reading = read(m_path, Follow::Yes);
    ++m_read;
    // Late, the answer is followed when it comes; until then the folder shows as it was.
    if (!reading)
        return true;
    if (!reading->nearest.isEmpty()) {
        if (!setPath(reading->nearest, Report::Quiet).ok())
            showUnreadable(reading->nearest);
        return false;
    }
    showChain();
    showSubdirectories(reading->names);
    return true;
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
