#pragma once

#include <QDialog>

class CurrentDrive;
class Desktop;
class DirList;
class DriveList;
class DriveNavigator;
class QCheckBox;
class QPushButton;
class Volumes;

// "Copy selected file(s) to where ?": a folder with its own volume and directory lists, and
// whether to delete each source after its copy.
class Form3 final : public QDialog
{
    Q_OBJECT
public:
    Form3(Volumes &volumes, CurrentDrive &currentDrive, Desktop &desktop, QWidget *parent);

    DirList *Dir1 = nullptr;
    DriveList *Drive1 = nullptr;
    QCheckBox *Check1 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;

    // The chosen folder; the ESC character after "C&ancel"; empty when closed otherwise.
    QString CopyDestination;
    bool DeleteOrigin = false;

    static QString escape() { return QString(QChar(27)); }

    void Form_Activate();

protected:
    bool event(QEvent *event) override;

private:
    void Command1_Click();
    void Command2_Click();
    void openDirectory(const QString &path);
    DriveNavigator *m_navigator = nullptr;
};
