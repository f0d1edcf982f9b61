#pragma once

#include "ui/ModalWindow.h"

#include <optional>

class CurrentDrive;
class Desktop;
class DirList;
class DriveList;
class QCheckBox;
class QPushButton;
class Volumes;

// What the copy dialog answers: the folder to copy into, and whether each source goes
// after its copy (a move).
struct CopyChoice
{
    QString folder;
    bool deleteOrigin = false;
};

// "Copy selected file(s) to where ?": a folder with its own volume and directory lists, and
// whether to delete each source after its copy.
class Form3 final : public ModalWindow
{
    Q_OBJECT
public:
    Form3(Volumes &volumes, CurrentDrive &currentDrive, Desktop &desktop, QWidget *parent);

    DirList *Dir1 = nullptr;
    DriveList *Drive1 = nullptr;
    QCheckBox *Check1 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;

    // Shows the window modally; nothing when it was cancelled or closed.
    std::optional<CopyChoice> ask();
    // The answer so far ("&Copy" pressed).
    const std::optional<CopyChoice> &choice() const { return m_choice; }

private:
    void Command1_Click();
    void Command2_Click();
    std::optional<CopyChoice> m_choice;
};
