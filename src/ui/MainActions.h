#pragma once

#include <QList>
#include <QObject>

class QAction;
class QWidget;

// Every command of the main window, made once as an action named after it: the window
// connects each to the slot that runs it, the buttons trigger these, the popup menus hold
// them, and the keys are their shortcuts. The switches are checkable; their check marks are
// the settings, set again before a menu shows them.
class MainActions final : public QObject
{
    Q_OBJECT
public:
    explicit MainActions(QObject *parent);

    QAction *Add = nullptr;
    QAction *Delete = nullptr;
    QAction *Edit = nullptr;
    QAction *Play = nullptr;
    QAction *ListPlay = nullptr;
    QAction *Copy = nullptr;
    QAction *Remove = nullptr;
    QAction *About = nullptr;
    QAction *NewEditor = nullptr;
    QAction *Ende = nullptr;

    QAction *Buttons = nullptr;
    QAction *LargeFileList = nullptr;
    QAction *SaveStyle = nullptr;
    QAction *SaveCond = nullptr;
    QAction *Waveform = nullptr;
    QAction *AutoPreview = nullptr;
    // The library of every wave file under the folders the user gives it.
    QAction *LibraryFolders = nullptr;
    QAction *Find = nullptr;

    // Keys of a file browser and player that are no menu's command.
    QAction *Up = nullptr;
    QAction *UpFromFolders = nullptr;
    QAction *Reread = nullptr;
    QAction *Silence = nullptr;
    QAction *PlayOrStop = nullptr;
    QAction *SkipBack = nullptr;
    QAction *SkipForward = nullptr;
    QAction *Loop = nullptr;

    // How far the playhead keys move it.
    static constexpr int skipSeconds = 5;

    struct Switches
    {
        bool buttons, largeFileList, saveStyle, saveCond, waveform, autoPreview;
    };
    void showSwitches(const Switches &switches);

    // The keys act where the focus is: Enter, Delete and Insert in the list they belong to,
    // Space and Alt+Left/Right in either list, F5, Escape, Ctrl+L and Ctrl+F anywhere in the
    // window.
    void attachKeys(QWidget *fileList, QWidget *playList, QWidget *folderList, QWidget *window);

    // Runs an item chosen in a popup menu. A menu's "&Play" tells menuPlayChosen() first,
    // for the 0.3 s it waits before it plays, as the double click and Enter do not.
    void runChosen(QAction *item);

signals:
    void menuPlayChosen();

private:
    QAction *make(const char *name, const QString &caption);
};
