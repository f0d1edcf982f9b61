#include "Form3.h"

#include "browser/DirList.h"
#include "browser/DriveList.h"
#include "browser/DriveNavigator.h"
#include "platform/Volumes.h"
#include "ui/Controls.h"
#include "ui/DialogKeys.h"
#include "ui/MessageBoxes.h"
#include "ui/Twips.h"
#include "ui/WindowPlacement.h"

#include <QCheckBox>
#include <QEvent>
#include <QPushButton>

Form3::Form3(Volumes &volumes, CurrentDrive &currentDrive, Desktop &desktop, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("Copy selected file(s) to where ?"));
    setFixedSize(twips::size(3735, 4095));

    Drive1 = placed<DriveList>(this, "Drive1", twips::rect(120, 2760, 3495, 315), volumes);
    Drive1->setAccessibleName(QStringLiteral("Drives"));

    Dir1 = placed<DirList>(this, "Dir1", twips::rect(120, 120, 3495, 2565));
    Dir1->setAccessibleName(QStringLiteral("Directories"));
    if (!Dir1->setPath(volumes.currentDirectory()).isEmpty())
        Dir1->showUnreadable(volumes.currentDirectory());

    Check1 = placed<QCheckBox>(this, "Check1", twips::rect(120, 3120, 3495, 255),
                               QStringLiteral("Delete origin after copying"));

    Command1 = placed<QPushButton>(this, "Command1", twips::rect(1320, 3600, 1095, 375),
                                   QStringLiteral("&Copy"));
    Command2 = placed<QPushButton>(this, "Command2", twips::rect(2520, 3600, 1095, 375),
                                   QStringLiteral("C&ancel"));

    enterPressesOnlyTheFocusedButton(this);
    setTabOrder(Drive1, Dir1);
    setTabOrder(Dir1, Command1);
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Check1);

    m_navigator = new DriveNavigator(
        *Drive1, *Dir1, volumes, currentDrive, desktop, DriveNavigator::Beep::Never,
        [this](const QString &text) { messages::stop(this, text); }, this);
    connect(Dir1, &DirList::openRequested, this, &Form3::openDirectory);
    connect(Command1, &QPushButton::clicked, this, &Form3::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form3::Command2_Click);
    DeleteOrigin = false;
    centreOnScreen(this);
}

bool Form3::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate || event->type() == QEvent::Show)
        Form_Activate();
    return QDialog::event(event);
}

void Form3::Form_Activate()
{
    Dir1->setFocus(Qt::ActiveWindowFocusReason);
}

void Form3::openDirectory(const QString &path)
{
    if (const QString error = Dir1->setPath(path); !error.isEmpty())
        messages::stop(this, error);
}

void Form3::Command1_Click()
{
    CopyDestination = Dir1->path();
    DeleteOrigin = Check1->isChecked();
    accept();
}

void Form3::Command2_Click()
{
    CopyDestination = escape();
    reject();
}
