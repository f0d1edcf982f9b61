#include "LibraryFolderChooser.h"

#include "files/DirList.h"
#include "files/DriveList.h"
#include "files/DriveNavigator.h"
#include "platform/Volumes.h"
#include "ui/Controls.h"
#include "ui/MessageBoxes.h"
#include "ui/Twips.h"

#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>

LibraryFolderChooser::LibraryFolderChooser(Volumes &volumes, Desktop &desktop, const QString &start,
                                           QWidget *parent)
    : ModalWindow(parent, "LibraryFolderChooser", QStringLiteral("Add a folder to the library"),
                  3735, 3735)
{
    Dir1 = placed<DirList>(this, "Dir1", twips::rect(120, 120, 3495, 2565));
    Dir1->setAccessibleName(QStringLiteral("Directories"));
    // The browser's folder may be on a disk that stopped answering: nothing of the chooser
    // waits for it on the window's thread.
    Dir1->readOnWorker();
    (void)Dir1->setPath(start);

    Drive1 = placed<DriveList>(this, "Drive1", twips::rect(120, 2760, 3495, 315), volumes);
    Drive1->setAccessibleName(QStringLiteral("Drives"));
    // The volume of the folder it opens on, which need not be the process's current one.
    Drive1->showDrive(volumeRootOf(volumes.mounted(), Dir1->path()));

    Add = placed<QPushButton>(this, "Add", twips::rect(1320, 3240, 1095, 375),
                              QStringLiteral("&Add"));
    Cancel = placed<QPushButton>(this, "Cancel", twips::rect(2520, 3240, 1095, 375),
                                 QStringLiteral("&Cancel"));
    finishControls({Dir1, Drive1, Add, Cancel}, Dir1);

    // A drive chosen here moves the process's current directory, as in the copy dialog; the
    // chooser's own record of where it has been keeps the main window's record as it was.
    auto *current = new CurrentDrive(volumes);
    connect(this, &QObject::destroyed, [current] { delete current; });
    new DriveNavigator(
        *Drive1, *Dir1, volumes, *current, desktop, DriveNavigator::Beep::Never,
        [this](const QString &text) { messages::stop(this, text); }, this);
    connect(Add, &QPushButton::clicked, this, &QDialog::accept);
    connect(Cancel, &QPushButton::clicked, this, &QDialog::reject);
    // Enter in the list takes the folder there rather than opening it: the list opens on the
    // browser's folder, and Enter at once is to add that one. A double click still opens.
    Dir1->installEventFilter(this);
    // Modal to Library folders and the main window below it, not to Find beside them: a pass
    // that runs meanwhile can still be stopped there.
    setWindowModality(Qt::WindowModal);
}

QString LibraryFolderChooser::chosen() const
{
    const QTreeWidgetItem *item = Dir1->currentItem();
    const QString selected = item ? item->data(0, Qt::UserRole).toString() : QString();
    return selected.isEmpty() ? Dir1->path() : selected;
}

bool LibraryFolderChooser::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Dir1 && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            accept();
            return true;
        }
    }
    return ModalWindow::eventFilter(watched, event);
}

QString LibraryFolderChooser::choose(Volumes &volumes, Desktop &desktop, QWidget *parent,
                                     const QString &start)
{
    // Asked again while it is open (a second Alt+A reaches the window before the chooser has
    // taken the keys): the one open is the one to answer.
    static QPointer<LibraryFolderChooser> open;
    if (open) {
        open->raise();
        open->activateWindow();
        return QString();
    }
    const QString before = volumes.currentDirectory();
    // Made on the heap: it is a child of the window that asked, which may close with the
    // program while it is open.
    auto *chooser = new LibraryFolderChooser(volumes, desktop, start, parent);
    open = chooser;
    const bool taken = chooser->exec() == QDialog::Accepted;
    if (!open)
        return QString();
    const QString folder = taken ? chooser->chosen() : QString();
    delete chooser;
    if (volumes.currentDirectory() != before)
        volumes.setCurrentDirectory(before);
    return folder;
}
