#include "MainActions.h"

#include <QAction>
#include <QKeySequence>
#include <QWidget>

MainActions::MainActions(QObject *parent) : QObject(parent)
{
    Add = make("Add", QStringLiteral("&Add to list"));
    Delete = make("Delete", QStringLiteral("&Delete"));
    Edit = make("Edit", QStringLiteral("&Edit"));
    Play = make("Play", QStringLiteral("&Play"));
    ListPlay = make("ListPlay", QStringLiteral("&Play"));
    Copy = make("Copy", QStringLiteral("&Copy to ..."));
    Remove = make("Remove", QStringLiteral("&Remove"));
    About = make("About", QStringLiteral("&About"));
    NewEditor = make("NewEditor", QStringLiteral("&New editor"));
    Ende = make("Ende", QStringLiteral("E&xit"));

    Buttons = make("Buttons", QStringLiteral("&Buttons"));
    LargeFileList = make("LargeFileList", QStringLiteral("Large filelist"));
    SaveStyle = make("SaveStyle", QStringLiteral("Save &style"));
    SaveCond = make("SaveCond", QStringLiteral("Save &cond"));
    Waveform = make("Waveform", QStringLiteral("&Waveform"));
    AutoPreview = make("AutoPreview", QStringLiteral("Auto &preview"));
    LibraryFolders = make("LibraryFolders", QStringLiteral("&Library folders\u2026"));
    Find = make("Find", QStringLiteral("&Find\u2026"));
    for (QAction *toggle : {Buttons, LargeFileList, SaveStyle, SaveCond, Waveform, AutoPreview})
        toggle->setCheckable(true);

    Up = make("Up", QString());
    UpFromFolders = make("UpFromFolders", QString());
    Reread = make("Reread", QString());
    Silence = make("Silence", QString());
    PlayOrStop = make("PlayOrStop", QString());
    Loop = make("Loop", QString());
    SkipBack = make("SkipBack", QString());
    SkipForward = make("SkipForward", QString());
}

void MainActions::runChosen(QAction *item)
{
    if (!item || item->isSeparator())
        return;
    if (item == Play || item == ListPlay)
        emit menuPlayChosen();
    item->trigger();
}

QAction *MainActions::make(const char *name, const QString &caption)
{
    auto *action = new QAction(caption, this);
    action->setObjectName(QString::fromLatin1(name));
    // The popup menus show their captions alone, as they always have.
    action->setShortcutVisibleInContextMenu(false);
    return action;
}

void MainActions::showSwitches(const Switches &switches)
{
    Buttons->setChecked(switches.buttons);
    LargeFileList->setChecked(switches.largeFileList);
    SaveStyle->setChecked(switches.saveStyle);
    SaveCond->setChecked(switches.saveCond);
    Waveform->setChecked(switches.waveform);
    AutoPreview->setChecked(switches.autoPreview);
}

void MainActions::attachKeys(QWidget *fileList, QWidget *playList, QWidget *folderList,
                             QWidget *window)
{
    const auto keys = [](QAction *action, QWidget *on, const QList<QKeySequence> &shortcuts) {
        action->setShortcuts(shortcuts);
        action->setShortcutContext(on->isWindow() ? Qt::WindowShortcut : Qt::WidgetShortcut);
        on->addAction(action);
    };
    const QList<QKeySequence> enter = {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)};
    keys(Play, fileList, enter);
    keys(ListPlay, playList, enter);
    keys(Delete, fileList, {QKeySequence::Delete});
    keys(Remove, playList, {QKeySequence::Delete});
    keys(Add, fileList, {QKeySequence(Qt::Key_Insert)});
    keys(Up, fileList, {QKeySequence(Qt::Key_Backspace), QKeySequence(Qt::ALT | Qt::Key_Up)});
    keys(UpFromFolders, folderList, {QKeySequence(Qt::ALT | Qt::Key_Up)});
    keys(Reread, window, {QKeySequence(Qt::Key_F5)});
    keys(Silence, window, {QKeySequence(Qt::Key_Escape)});
    for (QWidget *list : {fileList, playList}) {
        keys(PlayOrStop, list, {QKeySequence(Qt::Key_Space)});
        keys(SkipBack, list, {QKeySequence(Qt::ALT | Qt::Key_Left)});
        keys(SkipForward, list, {QKeySequence(Qt::ALT | Qt::Key_Right)});
    }
    keys(Loop, window, {QKeySequence(Qt::CTRL | Qt::Key_L)});
    keys(Find, window, {QKeySequence::Find});
}
