#pragma once

#include "ui/ModalWindow.h"

#include <QString>

class Desktop;
class DirList;
class DriveList;
class QPushButton;
class Volumes;

// "Add a folder to the library": the drive and folder lists of the copy dialog, opening on a
// given folder, so that "&Add" (or Enter) at once takes that one. Modal to the window that asks
// and those below it only, so that Find, beside them, stays usable meanwhile.
class LibraryFolderChooser final : public ModalWindow
{
    Q_OBJECT
public:
    LibraryFolderChooser(Volumes &volumes, Desktop &desktop, const QString &start, QWidget *parent);

    DriveList *Drive1 = nullptr;
    DirList *Dir1 = nullptr;
    QPushButton *Add = nullptr;
    QPushButton *Cancel = nullptr;

    // The folder taken: the one selected in the list, else the one it shows.
    QString chosen() const;

    // Asks for a folder, starting at start; empty when cancelled, or when a chooser is open
    // already (that one comes to the front instead). The process's current directory is the
    // same afterwards as before, whatever drive was chosen in it.
    static QString choose(Volumes &volumes, Desktop &desktop, QWidget *parent,
                          const QString &start);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};
