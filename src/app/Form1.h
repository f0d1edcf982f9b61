#pragma once

#include "Layout.h"
#include "Services.h"
#include "Settings.h"
#include "WindowFrame.h"
#include "browser/Browser.h"
#include "browser/FileList.h"
#include "files/DirList.h"
#include "playback/NowPlaying.h"
#include "playback/Playback.h"
#include "playlist/FileDrag.h"
#include "playlist/PlayListView.h"
#include "ui/BusyState.h"

#include <QLabel>
#include <QModelIndexList>
#include <QMouseEvent>
#include <QPointer>
#include <QWidget>
#include <memory>

struct MediaControl;

class Audition;
class FindWindow;
class Library;
class LibraryFoldersWindow;
class LibraryResultsModel;
class MainActions;
class CurrentDrive;
class DriveList;
class PlayListModel;
class QGroupBox;
class QListView;
class QListWidget;
class QPushButton;

// The main window: the browser, the details panel, the play list and the command column.
// It owns the process-wide state and wires the controls to the logic of each subsystem.
class Form1 final : public QWidget
{
    Q_OBJECT
public:
    explicit Form1(Services services, QWidget *parent = nullptr);
    ~Form1() override;

    // Process-wide state.
    SettingsState state;

    PlayListModel &playList() const { return *m_playList; }

    // Lifecycle.
    void Form_Load();
    // The program's own run takes in the loudness that earlier versions kept in their cache
    // file, once, into the library's store (tests keep the user's file out of theirs).
    void takeInOldLoudnessCache();
    // Paths from the command line or from a later start: a folder opens in
    // the browser; wave files go on the play list, alone selected, and play. While the
    // window is busy, they wait until it is not.
    void openPaths(const QStringList &paths);
    // The user is in the middle of something that acts on the lists as they are: the splash,
    // a modal window, the chain, a copy or delete, a popup menu, a drag.
    bool busy() const { return m_busy->busy(); }
    // Brings the window to the front, for paths handed over by a later start.
    void raiseWindow();
    // What the desktop's media controls see and do here: now tells what sounds (it must be
    // the sound output this window was given), quit closes as the close box does.
    MediaControl mediaControl(std::function<void()> quit);
    void Form_Activate() { File1->setFocus(Qt::ActiveWindowFocusReason); }
    void Form_QueryUnload();
    void Form_Unload();
    void Ende() { Form_Unload(); }
    // The window has been closed for good (close box, "E&xit" or the session's end).
    bool ended() const { return m_stage == Stage::Closed || m_stage == Stage::EndedWhileLoading; }
    void Form_Resize();
    void Redraw()
    {
        Form_Resize();
        update();
    }

    // The outer size and position in twips, as stored; the normal geometry while maximised.
    // The audition band is not counted: a stored size is that of the designed window.
    OuterGeometry outerGeometry() const;
    static QSize decoration() { return windowFrame::decoration(); }

    // Browser.
    void Dir1_Change() { m_browser->listFiles(DirList::Report::Tell); }
    Browser &browser() { return *m_browser; }
    void File1_Click();

    // The commands, by their buttons' handlers: each command's action runs its handler, and
    // the button, the menus and the keys trigger the action (Form1Commands.cpp).
    // Play list.
    void Command3_Click();
    void Command4_Click() { List1->removeEntries(List1->selection()); }
    void File1_MouseDown(Qt::MouseButton button)
    {
        m_dragArmed = button == Qt::LeftButton && File1->listCount() > 0;
    }
    bool dragArmed() const { return m_dragArmed; }
    void File1_DragOver() { setDragIcon(Image1); }
    void List1_DragOver() { setDragIcon(Image3); }
    void Dir1_DragOver() { setDragIcon(Image2); }
    void Drive1_DragOver() { setDragIcon(Image2); }
    void Form_DragOver() { setDragIcon(Image2); }
    void List1_DragDrop() { Command3_Click(); }
    // The picture the drag shows now.
    const QLabel *File1DragIcon() const { return m_dragIcon; }

    // Playback.
    void Command1_Click() { playSelection(File1->selection(), Source::FileList); }
    void File1_DblClick() { Command1_Click(); }
    void ListPlay() { playSelection(List1->selection(), Source::PlayList); }
    void List1_DblClick() { ListPlay(); }

    // File operations.
    void Command2_Click();
    void Command5_Click();
    void Command6_Click();
    void Command9_Click() { showEditorChooser(); }

    // About.
    void Command7_Click();

    // The switches of the common menu.
    void toggleButtons();
    void toggleLargeFileList();
    void toggleSaveStyle();
    void toggleSaveCond();
    void toggleWaveform();
    void toggleAutoPreview();

    // Popup menus.
    void File1_MouseUp(Qt::MouseButton button);
    void List1_MouseUp(Qt::MouseButton button);
    void Form_MouseUp(Qt::MouseButton button, const QPoint &position);
    // The hidden holder of the menus, made on first use.
    class Form5 &menus();

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QWidget::resizeEvent(event);
        Form_Resize();
    }
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool event(QEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        Form_MouseUp(event->button(), event->position().toPoint());
        QWidget::mouseReleaseEvent(event);
    }
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    // Controls, by their design names.
    DriveList *Drive1 = nullptr;
    DirList *Dir1 = nullptr;
    FileList *File1 = nullptr;
    PlayListView *List1 = nullptr;
    QListView *List3 = nullptr;
    QListWidget *List2 = nullptr;
    QGroupBox *Frame1 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label4 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;
    QPushButton *Command3 = nullptr;
    QPushButton *Command4 = nullptr;
    QPushButton *Command5 = nullptr;
    QPushButton *Command6 = nullptr;
    QPushButton *Command7 = nullptr;
    QPushButton *Command9 = nullptr;
    QLabel *Image1 = nullptr;
    QLabel *Image2 = nullptr;
    QLabel *Image3 = nullptr;

    void createControls();
    void wireBrowser();
    void wirePlayList();
    // Each action runs its command; the buttons and the usual keys of a browser and player
    // trigger the actions (Form1Commands.cpp).
    void wireActions();
    // The check marks of the switches are the settings.
    void showSwitches();
    void setButtonColumnVisible(bool visible);
    // Moves and sizes the controls as the layout says (Form1Controls.cpp).
    void placeControls(const MainLayout &layout);
    // The audition band below the designed window, shown as the switch says: the window
    // grows or shrinks by its height, and the designed layout keeps the rest.
    void showBand();
    void startFileDrag();
    void setDragIcon(QLabel *image)
    {
        m_dragIcon = image;
        m_fileDrag->showPicture(image->pixmap());
    }
    // Plays the selected rows of the file list or the play list.
    enum class Source
    {
        FileList,
        PlayList
    };
    void playSelection(const QModelIndexList &selected, Source from);
    // The media controls' Play with nothing at hand (Form1Desktop.cpp).
    void playCurrentEntry();
    // Space: plays the entry at hand of the list it came from, or ends the sound.
    void playOrStop();
    void openCommonMenu(const QPoint &globalPosition);
    // The library: its windows, and a hit played, shown or dragged as a file of the file
    // list would be (Form1Library.cpp).
    void wireLibrary();
    void followLibraryFolders();
    static constexpr int libraryPassMs = 60 * 1000;
    void openLibrary();
    void showLibraryFolders();
    void showFind();
    void makeFindWindow();
    void playHits(const QModelIndexList &hits);
    void showInFolder(const QString &path);
    // Shows the editor chooser; true when it was closed with "&Accept".
    bool showEditorChooser();

    // What sounds, for the keys and the media controls: every play of the window goes
    // through it.
    NowPlaying m_now;
    Services m_services;
    Settings m_settings;
    std::unique_ptr<CurrentDrive> m_currentDrive;
    FileFacts *m_facts;
    Playback m_playback;
    MainActions *m_actions = nullptr;
    // The height the audition band adds below the designed window; 0 while it is hidden.
    int m_bandAdded = 0;
    PlayListModel *m_playList = nullptr;
    Browser *m_browser = nullptr;
    QLabel *m_dragIcon = nullptr;
    FileDrag *m_fileDrag = nullptr;
    PlacedGeometry m_placed;
    BusyState *m_busy;
    // The windows the closing sequence closes after the main window: Form2, Form3, Form4,
    // Form5.
    QPointer<QWidget> m_destinationWindow;
    QPointer<QWidget> m_editorWindow;
    QPointer<class Form5> m_menus;
    // Paths handed over while the window was busy, opened once it is idle.
    QStringList m_pathsWaiting;
    bool m_dragArmed = false;
    // The window was left for one of its message boxes.
    bool m_awayInMessageBox = false;
    // Closed while the stored settings were being read (the session ended during the
    // splash): writing the defaults then would overwrite what the user saved.
    enum class Stage
    {
        Open,
        Loading,
        EndedWhileLoading,
        Closed
    };
    Stage m_stage = Stage::Open;
    // None in tests that give no store.
    Library *m_library = nullptr;
    LibraryResultsModel *m_results = nullptr;
    QPointer<FindWindow> m_find;
    QPointer<LibraryFoldersWindow> m_libraryFolders;
    QList<class FolderWatch *> m_rootWatches;
    // Goes first: it hears the lists and the sound, which go after it.
    std::unique_ptr<Audition> m_audition;
};
