// The main window's commands: each action connected to the handler that runs it, the
// buttons and keys that trigger the actions, the file operations, the popup menus and the
// about box.
#include "Form1.h"
#include "audition/Audition.h"
#include "browser/FileList.h"
#include "fileops/FileCommands.h"
#include "files/DirList.h"
#include "platform/PathRule.h"
#include "playlist/PlayListModel.h"
#include "playlist/PlayListView.h"
#include "ui/AboutForm.h"
#include "ui/Form5.h"
#include "ui/MainActions.h"
#include "ui/MessageBoxes.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QListWidget>
#include <QPushButton>

// ---- The actions ----------------------------------------------------------------------

void Form1::wireActions()
{
    m_actions = new MainActions(this);
    const MainActions &a = *m_actions;
    connect(a.Play, &QAction::triggered, this, &Form1::Command1_Click);
    connect(a.Delete, &QAction::triggered, this, &Form1::Command2_Click);
    connect(a.Add, &QAction::triggered, this, &Form1::Command3_Click);
    connect(a.Remove, &QAction::triggered, this, &Form1::Command4_Click);
    connect(a.Copy, &QAction::triggered, this, &Form1::Command5_Click);
    connect(a.Edit, &QAction::triggered, this, &Form1::Command6_Click);
    connect(a.About, &QAction::triggered, this, &Form1::Command7_Click);
    connect(a.NewEditor, &QAction::triggered, this, &Form1::Command9_Click);
    connect(a.ListPlay, &QAction::triggered, this, &Form1::ListPlay);
    connect(a.Ende, &QAction::triggered, this, &Form1::Ende);
    // A menu's "&Play" first waits the 0.3 s a play from a menu always waited.
    connect(m_actions, &MainActions::menuPlayChosen, &m_playback, &Playback::pauseBeforeMenuPlay);

    connect(a.Buttons, &QAction::triggered, this, &Form1::toggleButtons);
    connect(a.LargeFileList, &QAction::triggered, this, &Form1::toggleLargeFileList);
    connect(a.SaveStyle, &QAction::triggered, this, &Form1::toggleSaveStyle);
    connect(a.SaveCond, &QAction::triggered, this, &Form1::toggleSaveCond);
    connect(a.Waveform, &QAction::triggered, this, &Form1::toggleWaveform);
    connect(a.AutoPreview, &QAction::triggered, this, &Form1::toggleAutoPreview);

    connect(a.Up, &QAction::triggered, m_browser, &Browser::openParentFolder);
    connect(a.UpFromFolders, &QAction::triggered, m_browser, &Browser::openParentFolder);
    connect(a.Reread, &QAction::triggered, m_browser, &Browser::reread);
    connect(a.Silence, &QAction::triggered, &m_now, &NowPlaying::stop);
    connect(a.PlayOrStop, &QAction::triggered, this, &Form1::playOrStop);
    connect(a.SkipBack, &QAction::triggered, this,
            [this] { m_audition->skip(-MainActions::skipSeconds); });
    connect(a.SkipForward, &QAction::triggered, this,
            [this] { m_audition->skip(MainActions::skipSeconds); });
    connect(a.Loop, &QAction::triggered, m_audition.get(), &Audition::toggleLoop);

    const std::pair<QPushButton *, QAction *> buttons[] = {
        {Command1, a.Play}, {Command2, a.Delete}, {Command3, a.Add},   {Command4, a.Remove},
        {Command5, a.Copy}, {Command6, a.Edit},   {Command7, a.About}, {Command9, a.NewEditor}};
    for (const auto &[button, action] : buttons)
        connect(button, &QPushButton::clicked, action, &QAction::trigger);
    m_actions->attachKeys(File1, List1, Dir1, this);
    showSwitches();
}

void Form1::showSwitches()
{
    m_actions->showSwitches({state.buttons, state.file2Dir, state.autosave, state.autoCondition,
                             state.waveform, state.autoPreview});
}

// ---- File operations ----------------------------------------------------------------

void Form1::Command2_Click()
{
    const QStringList names = File1->selectedNames();
    // List2 is the scratch list of the names: positions past this run's count keep
    // whatever an earlier run left there, and are never read.
    for (int k = 0; k < names.size(); ++k) {
        if (k < List2->count())
            List2->item(k)->setText(names[k]);
        else
            List2->addItem(names[k]);
    }
    if (names.isEmpty())
        return;
    {
        const BusyState::Hold transfer(*m_busy);
        fileCommands::deleteAfterQuestion(this, m_services.files, Dir1->path(), names);
    }
    File1->refresh();
}

void Form1::Command5_Click()
{
    QModelIndexList chosen = List1->selection();
    if (m_playList->count() == 0)
        return;
    const std::optional<CopyChoice> choice = fileCommands::askDestination(
        this, m_services.volumes, *m_currentDrive, m_services.desktop, m_destinationWindow);
    Form_Activate();
    if (!choice)
        return;
    // Nothing selected: the whole play list.
    if (chosen.isEmpty()) {
        for (int row = 0; row < List1->model()->rowCount(); ++row)
            chosen.append(List1->model()->index(row, 0));
    }
    QStringList sources;
    QList<int> each;
    for (const QModelIndex &entry : std::as_const(chosen)) {
        each.append(int(sources.size()));
        sources.append(entry.data(PlayListModel::PathRole).toString());
    }
    // Only what was done leaves the play list; what failed or was not reached stays, selected.
    QModelIndexList done;
    {
        const BusyState::Hold transfer(*m_busy);
        for (int k : fileCommands::copyWithProgress(this, m_services.files, sources, each, *choice))
            done.append(chosen[k]);
    }
    List1->removeEntries(done, chosen);
    File1->refresh();
}

bool Form1::showEditorChooser()
{
    const std::optional<EditorChoice> choice =
        fileCommands::askEditor(this, state.soundEditor, m_services.volumes, m_editorWindow);
    Form_Activate();
    if (!choice)
        return false;
    // A blank entry changes nothing, for this run or for later ones.
    if (!choice->command.trimmed().isEmpty()) {
        state.soundEditor = choice->command;
        if (choice->storeAsDefault && !m_settings.writeSoundEditor(choice->command))
            messages::settingsNotSaved(this, m_settings.location());
    }
    return true;
}

void Form1::Command6_Click()
{
    const QString name = File1->fileName();
    if (name.trimmed().isEmpty())
        return;
    const QString path = fullPath(Dir1->path(), name);
    if (fileCommands::startEditor(m_services.desktop, state.soundEditor, path))
        return;
    fileCommands::reportEditorNotFound(this);
    const QString before = state.soundEditor;
    // One more try, only with a newly accepted editor: cancelling ends it.
    if (showEditorChooser() && state.soundEditor != before &&
        !fileCommands::startEditor(m_services.desktop, state.soundEditor, path))
        fileCommands::reportEditorNotFound(this);
}

// ---- Popup menus ----------------------------------------------------------------------

Form5 &Form1::menus()
{
    if (!m_menus)
        m_menus = new ::Form5(*m_actions, this);
    return *m_menus;
}

void Form1::File1_MouseUp(Qt::MouseButton button)
{
    if (button == Qt::RightButton && File1->listCount() > 0)
        menus().popUp(menus().mnuFile, QCursor::pos());
}

void Form1::List1_MouseUp(Qt::MouseButton button)
{
    if (m_playList->count() > 0 && button == Qt::RightButton)
        menus().popUp(menus().mnuList, QCursor::pos());
}

void Form1::Form_MouseUp(Qt::MouseButton button, const QPoint &position)
{
    if (button == Qt::RightButton && !childAt(position))
        openCommonMenu(QCursor::pos());
}

void Form1::openCommonMenu(const QPoint &globalPosition)
{
    // Set again at each opening: a stored setting may have been changed from elsewhere.
    showSwitches();
    menus().popUp(menus().mnuCommon, globalPosition);
}

void Form1::contextMenuEvent(QContextMenuEvent *event)
{
    // The Menu key or Shift+F10 with the focus elsewhere: the common menu.
    if (event->reason() == QContextMenuEvent::Keyboard)
        openCommonMenu(mapToGlobal(QPoint(width() / 2, height() / 2)));
}

// ---- About ----------------------------------------------------------------------------

void Form1::Command7_Click()
{
    AboutForm about(this);
    about.showAboutBox();
}
