#include "LibraryFoldersWindow.h"

#include "Library.h"
#include "LibraryProblemLine.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

LibraryFoldersWindow::LibraryFoldersWindow(Library &library, std::function<QString()> currentFolder,
                                           ChooseFolder choose, QWidget *parent)
    : QWidget(parent, Qt::Window), m_library(library), m_currentFolder(std::move(currentFolder)),
      m_choose(std::move(choose)), m_roots(new QListWidget(this)),
      m_remove(new QPushButton(QStringLiteral("&Remove"), this))
{
    setObjectName(QStringLiteral("LibraryFolders"));
    setWindowTitle(QStringLiteral("Library folders"));
    m_roots->setObjectName(QStringLiteral("Roots"));
    m_roots->setAccessibleName(QStringLiteral("Folders in the library"));
    m_roots->setSelectionMode(QAbstractItemView::ExtendedSelection);
    auto *add = new QPushButton(QStringLiteral("&Add\u2026"), this);
    auto *close = new QPushButton(QStringLiteral("&Close"), this);
    auto *buttons = new QVBoxLayout;
    buttons->addWidget(add);
    buttons->addWidget(m_remove);
    buttons->addStretch();
    buttons->addWidget(close);
    auto *row = new QHBoxLayout;
    row->addWidget(m_roots, 1);
    row->addLayout(buttons);
    // A folder that cannot be added says why here, as do the library's other problems.
    auto *problem = new LibraryProblemLine(m_library, this);
    problem->setObjectName(QStringLiteral("Problem"));
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(row, 1);
    layout->addWidget(problem);
    connect(add, &QPushButton::clicked, this, &LibraryFoldersWindow::add);
    connect(m_remove, &QPushButton::clicked, this, &LibraryFoldersWindow::remove);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this,
            &QWidget::close);
    connect(new QShortcut(QKeySequence::Delete, m_roots, nullptr, nullptr, Qt::WidgetShortcut),
            &QShortcut::activated, this, &LibraryFoldersWindow::remove);
    connect(m_roots, &QListWidget::itemSelectionChanged, this,
            [this] { m_remove->setEnabled(!m_roots->selectedItems().isEmpty()); });
    connect(&m_library, &Library::rootsChanged, this, &LibraryFoldersWindow::showRoots);
    resize(520, 260);
    showRoots();
}

void LibraryFoldersWindow::showRoots()
{
    QStringList selected;
    for (const QListWidgetItem *item : m_roots->selectedItems())
        selected.append(item->data(Qt::UserRole).toString());
    m_roots->clear();
    for (const LibraryRoot &root : m_library.roots()) {
        // A card or share not there keeps its entries; it says why nothing new comes from it.
        auto *item = new QListWidgetItem(
            root.online ? root.path : QStringLiteral("%1 (offline)").arg(root.path), m_roots);
        item->setData(Qt::UserRole, root.path);
        item->setSelected(selected.contains(root.path));
    }
    m_remove->setEnabled(!m_roots->selectedItems().isEmpty());
}

void LibraryFoldersWindow::add()
{
    // One chooser at a time, however fast "&Add…" is pressed again.
    if (m_choosing)
        return;
    m_choosing = true;
    const QPointer<LibraryFoldersWindow> self(this);
    const QString chosen = m_choose(this, m_currentFolder());
    // Closed with the program while the chooser was open.
    if (!self)
        return;
    m_choosing = false;
    if (!chosen.isEmpty())
        m_library.addRoot(chosen);
}

void LibraryFoldersWindow::remove()
{
    QStringList paths;
    for (const QListWidgetItem *item : m_roots->selectedItems())
        paths.append(item->data(Qt::UserRole).toString());
    for (const QString &path : paths)
        m_library.removeRoot(path);
}
