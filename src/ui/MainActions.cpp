#include "MainActions.h"

#include "MainCommands.h"

#include <QAction>
#include <QKeySequence>
#include <QWidget>

MainActions::MainActions(MainCommands &commands, QObject *parent) : QObject(parent)
{
    const auto run = [this, &commands](QAction *action, void (MainCommands::*command)()) {
        connect(action, &QAction::triggered, this, [&commands, command] { (commands.*command)(); });
    };
    run(Add = make("Add", QStringLiteral("&Add to list")), &MainCommands::Add);
    run(Delete = make("Delete", QStringLiteral("&Delete")), &MainCommands::Delete);
    run(Edit = make("Edit", QStringLiteral("&Edit")), &MainCommands::Edit);
    run(Play = make("Play", QStringLiteral("&Play")), &MainCommands::playFileSelection);
    run(ListPlay = make("ListPlay", QStringLiteral("&Play")), &MainCommands::ListPlay);
    run(Copy = make("Copy", QStringLiteral("&Copy to ...")), &MainCommands::Copy);
    run(Remove = make("Remove", QStringLiteral("&Remove")), &MainCommands::Remove);
    run(About = make("About", QStringLiteral("&About")), &MainCommands::About);
    run(NewEditor = make("NewEditor", QStringLiteral("&New editor")), &MainCommands::NewEditor);
    run(Ende = make("Ende", QStringLiteral("E&xit")), &MainCommands::Ende);

    run(Buttons = make("Buttons", QStringLiteral("&Buttons")), &MainCommands::toggleButtons);
    run(LargeFileList = make("LargeFileList", QStringLiteral("Large filelist")),
        &MainCommands::toggleLargeFileList);
    run(SaveStyle = make("SaveStyle", QStringLiteral("Save &style")),
        &MainCommands::toggleSaveStyle);
    run(SaveCond = make("SaveCond", QStringLiteral("Save &cond")), &MainCommands::toggleSaveCond);
    run(Waveform = make("Waveform", QStringLiteral("&Waveform")), &MainCommands::toggleWaveform);
    run(AutoPreview = make("AutoPreview", QStringLiteral("Auto &preview")),
        &MainCommands::toggleAutoPreview);
    for (QAction *toggle : {Buttons, LargeFileList, SaveStyle, SaveCond, Waveform, AutoPreview})
        toggle->setCheckable(true);

    run(Up = make("Up", QString()), &MainCommands::openParentFolder);
    run(UpFromFolders = make("UpFromFolders", QString()), &MainCommands::openParentFolder);
    run(Reread = make("Reread", QString()), &MainCommands::reread);
    run(Silence = make("Silence", QString()), &MainCommands::stopSound);
    run(PlayOrStop = make("PlayOrStop", QString()), &MainCommands::playOrStop);
    run(Loop = make("Loop", QString()), &MainCommands::toggleLoop);
    SkipBack = make("SkipBack", QString());
    connect(SkipBack, &QAction::triggered, this, [&commands] { commands.skip(-skipSeconds); });
    SkipForward = make("SkipForward", QString());
    connect(SkipForward, &QAction::triggered, this, [&commands] { commands.skip(skipSeconds); });
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
}
