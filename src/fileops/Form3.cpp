#include "Form3.h"

#include "files/DirList.h"
#include "files/DriveList.h"
#include "files/DriveNavigator.h"
#include "files/FolderWatch.h"
#include "platform/Volumes.h"
#include "ui/Controls.h"
#include "ui/MessageBoxes.h"
#include "ui/Twips.h"

#include <QCheckBox>
#include <QPushButton>

Form3::Form3(Volumes &volumes, CurrentDrive &currentDrive, Desktop &desktop, QWidget *parent)
    : ModalWindow(parent, "Form3", QStringLiteral("Copy selected file(s) to where ?"), 3735, 4095)
{
    Drive1 = placed<DriveList>(this, "Drive1", twips::rect(120, 2760, 3495, 315), volumes);
    Drive1->setAccessibleName(QStringLiteral("Drives"));

    Dir1 = placed<DirList>(this, "Dir1", twips::rect(120, 120, 3495, 2565));
    Dir1->setAccessibleName(QStringLiteral("Directories"));
    if (!Dir1->setPath(volumes.currentDirectory()).ok())
        Dir1->showUnreadable(volumes.currentDirectory());

    Check1 = placed<QCheckBox>(this, "Check1", twips::rect(120, 3120, 3495, 255),
                               QStringLiteral("Delete origin after copying"));

    Command1 = placed<QPushButton>(this, "Command1", twips::rect(1320, 3600, 1095, 375),
                                   QStringLiteral("&Copy"));
    Command2 = placed<QPushButton>(this, "Command2", twips::rect(2520, 3600, 1095, 375),
                                   QStringLiteral("C&ancel"));
    finishControls({Drive1, Dir1, Command1, Command2, Check1}, Dir1);

    new DriveNavigator(
        *Drive1, *Dir1, volumes, currentDrive, desktop, DriveNavigator::Beep::Never,
        [this](const QString &text) { messages::stop(this, text); }, this);
    // Folders made or removed meanwhile by another program show as they are.
    auto *watch = new FolderWatch(this);
    watch->setFolder(Dir1->path());
    connect(Dir1, &DirList::pathChanged, watch, [this, watch] { watch->setFolder(Dir1->path()); });
    connect(watch, &FolderWatch::folderChanged, Dir1, &DirList::followDisk);
    connect(Command1, &QPushButton::clicked, this, &Form3::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form3::Command2_Click);
}

std::optional<CopyChoice> Form3::ask()
{
    m_choice.reset();
    exec();
    return m_choice;
}

void Form3::Command1_Click()
{
    m_choice = CopyChoice{Dir1->path(), Check1->isChecked()};
    accept();
}

void Form3::Command2_Click()
{
    m_choice.reset();
    reject();
}
