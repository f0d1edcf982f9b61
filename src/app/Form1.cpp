#include "Form1.h"

#include "CommandLine.h"
#include "Mpris.h"
#include "audition/AuditionBand.h"
#include "audition/AutoPreview.h"
#include "browser/Browser.h"
#include "browser/DetailsPanel.h"
#include "browser/DirList.h"
#include "browser/DriveList.h"
#include "browser/DriveNavigator.h"
#include "browser/FileList.h"
#include "fileops/FileCommands.h"
#include "fileops/Form3.h"
#include "fileops/Form4.h"
#include "files/FileFacts.h"
#include "files/LoudnessFacts.h"
#include "platform/PathRule.h"
#include "playback/NowPlaying.h"
#include "playback/Playback.h"
#include "playlist/PlayListModel.h"
#include "playlist/PlayListView.h"
#include "ui/AboutForm.h"
#include "ui/Controls.h"
#include "ui/Form5.h"
#include "ui/MainActions.h"
#include "ui/MessageBoxes.h"
#include "ui/Pictures.h"
#include "ui/Twips.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGroupBox>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>

namespace {
const QString noDeviceText =
    QStringLiteral("Can\u00b4t find a audio device ! Unable to play .wav sounds.");
} // namespace

Form1::Form1(Services services, QWidget *parent)
    : QWidget(parent), m_now(services.sound), m_services{services.settings,   m_now,
                                                         services.waveLength, services.clock,
                                                         services.volumes,    services.desktop,
                                                         services.files},
      m_settings(services.settings),
      m_currentDrive(std::make_unique<CurrentDrive>(services.volumes)),
      m_facts(new FileFacts(this, readWaveInfo, readWavePeaks, stampOf, services.measureLoudness)),
      m_playback(m_now, services.waveLength, services.clock, m_facts),
      m_playList(new PlayListModel(this)), m_busy(new BusyState(this))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Quillon Sonoret 2.0"));
    setWindowIcon(QIcon(pictures::loudspeaker()));
    resize(twips::size(7695, 4710));
    setMinimumSize(windowFrame::minimumClient());
    createControls();
    wireBrowser();
    wirePlayList();
    wireActions();
    wireAudition();
    connect(m_busy, &BusyState::idle, this, [this] { openPaths({}); });
}

Form1::~Form1()
{
    // The controls go after the members they would tell of a new file at hand: a focus or
    // a current entry that moves while they go must not reach the sound that has gone.
    disconnect(qApp, nullptr, this, nullptr);
    for (const QAbstractItemView *list :
         {static_cast<QAbstractItemView *>(File1), static_cast<QAbstractItemView *>(List1)}) {
        disconnect(list->selectionModel(), nullptr, this, nullptr);
        disconnect(list->model(), nullptr, this, nullptr);
        for (const AutoPreview *preview : list->findChildren<AutoPreview *>())
            disconnect(preview, nullptr, this, nullptr);
    }
    delete m_band;
}

void Form1::wireBrowser()
{
    m_browser = new Browser(*Drive1, *Dir1, *File1, m_services.volumes, *m_currentDrive,
                            m_services.desktop, *this);
    connect(m_browser, &Browser::leavingFolder, this, [this] {
        Label1->clear();
        Label2->clear();
    });
    connect(m_browser, &Browser::selectionStale, this, &Form1::File1_Click);
    connect(&m_browser->panel(), &PanelReader::answered, this, [this](const PanelTexts &texts) {
        setFittingText(Label1, Frame1->font(), texts.dateTime);
        setFittingText(Label2, Frame1->font(), texts.bytes);
    });
    connect(File1, &FileList::fileClick, this, &Form1::File1_Click);
    m_browser->setHoldStill([this] { return m_fileDrag->dragging() || chainRunning(); });
    // The lists open on the process's current directory as it is when they are made.
    m_browser->openStart(m_services.volumes.currentDirectory());
}

void Form1::wireActions()
{
    m_actions = new MainActions(*this, this);
    const std::pair<QPushButton *, QAction *> buttons[] = {
        {Command1, m_actions->Play},   {Command2, m_actions->Delete},   {Command3, m_actions->Add},
        {Command4, m_actions->Remove}, {Command5, m_actions->Copy},     {Command6, m_actions->Edit},
        {Command7, m_actions->About},  {Command9, m_actions->NewEditor}};
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

void Form1::wirePlayList()
{
    connect(File1, &QAbstractItemView::doubleClicked, this, &Form1::File1_DblClick);
    connect(List1, &QAbstractItemView::doubleClicked, this, &Form1::List1_DblClick);
    connect(File1, &FileList::pressed, this, &Form1::File1_MouseDown);
    connect(File1, &FileList::dragRequested, this, &Form1::startFileDrag);
    m_fileDrag = new FileDrag(*File1->viewport(), *List1->viewport(), *Dir1->viewport(), *Drive1,
                              *this, this);
    connect(m_fileDrag, &FileDrag::overFileList, this, &Form1::File1_DragOver);
    connect(m_fileDrag, &FileDrag::overPlayList, this, &Form1::List1_DragOver);
    connect(m_fileDrag, &FileDrag::overDirList, this, &Form1::Dir1_DragOver);
    connect(m_fileDrag, &FileDrag::overDriveList, this, &Form1::Drive1_DragOver);
    connect(m_fileDrag, &FileDrag::overBackground, this, &Form1::Form_DragOver);
    connect(m_fileDrag, &FileDrag::droppedOnPlayList, this, &Form1::List1_DragDrop);
    connect(m_fileDrag, &FileDrag::filesDropped, m_playList, &PlayListModel::addFiles);
    connect(List1, &PlayListView::dragStarted, m_busy, &BusyState::enter);
    connect(List1, &PlayListView::dragEnded, m_busy, &BusyState::leave);
    connect(File1, &FileList::mouseUp, this, &Form1::File1_MouseUp);
    connect(List1, &PlayListView::mouseUp, this, &Form1::List1_MouseUp);
    connect(File1, &FileList::menuKey, this, [this] {
        if (File1->listCount() > 0)
            menus().popUp(menus().mnuFile, ::Form5::atCurrentEntry(File1));
    });
    connect(List1, &PlayListView::menuKey, this, [this] {
        if (m_playList->count() > 0)
            menus().popUp(menus().mnuList, ::Form5::atCurrentEntry(List1));
    });
}

// ---- Lifecycle ------------------------------------------------------------------------

void Form1::Form_Load()
{
    m_stage = Stage::Loading;
    const BusyState::Hold loading(*m_busy);
    {
        AboutForm splash(this);
        splash.exec();
    }
    // The splash made the native window, as its parent; made again at show, it places the
    // stored position as the frame's corner, where the window manager reported it.
    if (!isVisible())
        destroy();
    resize(twips::size(7695, 4710));
    // The outer window is centred, frame included, as a stored size is.
    windowFrame::centre(this);
    m_dragIcon = Image1;
    m_currentDrive->changeDirectory(QCoreApplication::applicationDirPath());
    // The button column shown and the small file list, unless Autosave keeps a stored style.
    state = m_settings.readStyle();
    showSwitches();
    if (state.waveform) {
        showBand();
        windowFrame::centre(this);
    }
    if (state.autoCondition) {
        OuterGeometry stored =
            m_settings.readGeometry(windowFrame::screenTwips(this),
                                    {layout::minimumOuterWidth, layout::minimumOuterHeight});
        stored.height += twips::fromPixels(m_bandAdded);
        m_placed.restore(this, stored);
    }
    if (!state.buttons)
        setButtonColumnVisible(false);
    if (m_stage == Stage::Loading)
        m_stage = Stage::Open;
    if (m_services.sound.deviceCount() == 0)
        messages::stop(this, noDeviceText);
}

void Form1::keepLoudnessOnDisk()
{
    m_facts->loudness().keepOnDisk(LoudnessFacts::defaultCacheFile());
}

void Form1::Form_QueryUnload()
{
    if (!m_settings.writeAtClosing(state, outerGeometry()))
        messages::settingsNotSavedAtClosing(m_settings.location());
}

void Form1::Form_Unload()
{
    close();
    for (QWidget *window : std::initializer_list<QWidget *>{
             m_playback.chainWindow(), m_destinationWindow, m_editorWindow, m_menus}) {
        if (window)
            window->close();
    }
}

void Form1::closeEvent(QCloseEvent *event)
{
    if (m_stage == Stage::Loading)
        m_stage = Stage::EndedWhileLoading;
    else if (m_stage == Stage::Open) {
        m_stage = Stage::Closed;
        Form_QueryUnload();
    }
    event->accept();
}

bool Form1::event(QEvent *event)
{
    // A message box is not one of the program's windows: back from one, the focus stays where
    // it was (the play list, say, after a file there could not be played, whether the box came
    // at once or when the sound's worker answered). Back from the chain, a dialog or another
    // program, it goes to the file list.
    if (event->type() == QEvent::WindowDeactivate)
        m_awayInMessageBox =
            qobject_cast<QMessageBox *>(QApplication::activeModalWidget()) != nullptr;
    if (event->type() == QEvent::WindowActivate && !std::exchange(m_awayInMessageBox, false))
        Form_Activate();
    if (event->type() == QEvent::Move || event->type() == QEvent::Resize ||
        event->type() == QEvent::Show || event->type() == QEvent::WindowActivate)
        m_placed.fitToFrame(this);
    return QWidget::event(event);
}

void Form1::changeEvent(QEvent *event)
{
    // Restoring from the task bar lays the window out again.
    if (event->type() == QEvent::WindowStateChange && !isMinimized())
        Form_Resize();
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        m_browser->lookAgain();
        List1->recheckMissing();
    }
    QWidget::changeEvent(event);
}

// ---- Geometry and layout --------------------------------------------------------------

void Form1::Form_Resize()
{
    if (isMinimized())
        return;
    // The designed layout runs on what lies above the band.
    const auto designed = [this] { return QSize(width(), height() - m_bandAdded); };
    const QSizeF outer = windowFrame::outerTwips(designed());
    if (const QSizeF raised = raisedToMinimum(outer); raised != outer)
        resize(windowFrame::clientFor(raised) + QSize(0, m_bandAdded));
    const QSize above = designed();
    const MainLayout l =
        layoutMainWindow(above.width(), above.height(), windowFrame::outerTwips(above).height(),
                         state.buttons, state.file2Dir);
    placeControls(l);
    constexpr int margin = AuditionBand::margin;
    m_band->setGeometry(margin, above.height(), width() - 2 * margin,
                        std::max(0, m_bandAdded - margin));
}

OuterGeometry Form1::outerGeometry() const
{
    OuterGeometry geometry = m_placed.current(this);
    geometry.height -= twips::fromPixels(m_bandAdded);
    return geometry;
}

// ---- Browser --------------------------------------------------------------------------

void Form1::File1_Click()
{
    // The figures show when a worker has read them; the texts of the last answer stay until.
    m_browser->panel().ask(Dir1->path(), File1->selectedNames());
}

// ---- Play list ------------------------------------------------------------------------

void Form1::Add()
{
    QList<std::pair<QString, QString>> entries;
    for (int i : File1->selectedRows())
        entries.append({File1->entry(i), fullPathOf(i)});
    m_playList->addEntries(entries);
}

void Form1::startFileDrag()
{
    if (!m_dragArmed)
        return;
    m_dragArmed = false;
    m_dragIcon = Image1;
    QStringList paths;
    for (const QString &name : File1->selectedNames())
        paths.append(fullPath(File1->path(), name));
    const BusyState::Hold drag(*m_busy);
    m_fileDrag->start(Image1->pixmap(), paths);
}

// ---- Playback -------------------------------------------------------------------------

void Form1::playSelection(const QList<int> &selected, Source from)
{
    const bool fromFileList = from == Source::FileList;
    if (selected.size() > 1)
        ChainFromFileList = fromFileList;
    // Only the file list's chain adds to the play list.
    std::function<void(const ChainEntry &)> addEntry;
    if (fromFileList)
        addEntry = [this](const ChainEntry &e) { m_playList->AddEntry(e.name, e.path); };
    const ChainSource source =
        fromFileList ? chainSourceOf(*File1->selectionModel(), WaveFolderModel::PathRole)
                     : chainSourceOf(*List1->selectionModel(), PlayListModel::PathRole);
    const BusyState::Hold chain(*m_busy);
    // Back from the chain window, the focus returns to the file list.
    if (m_playback.play(selected, source, addEntry, this))
        Form_Activate();
}

// ---- File operations ----------------------------------------------------------------

void Form1::Delete()
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

void Form1::Copy()
{
    QList<int> indices = List1->selectedRows();
    if (m_playList->count() == 0)
        return;
    const std::optional<CopyChoice> choice = fileCommands::askDestination(
        this, m_services.volumes, *m_currentDrive, m_services.desktop, m_destinationWindow);
    CopyDestination = choice ? choice->folder : QString();
    DeleteOrigin = choice && choice->deleteOrigin;
    Form_Activate();
    if (!choice)
        return;
    // Nothing selected: the whole play list.
    if (indices.isEmpty()) {
        for (int i = 0; i < m_playList->count(); ++i)
            indices.append(i);
    }
    // Only what was done leaves the play list; what failed or was not reached stays, selected.
    QList<int> done;
    {
        const BusyState::Hold transfer(*m_busy);
        done = fileCommands::copyWithProgress(this, m_services.files, m_playList->paths(), indices,
                                              *choice);
    }
    List1->removeRows(done);
    List1->selectRowsLeft(indices, done);
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

void Form1::Edit()
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

// ---- Popup menus and the command layer ------------------------------------------------

Form5 &Form1::menus()
{
    if (!m_menus)
        m_menus = new ::Form5(*m_actions, *this, this);
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

void Form1::About()
{
    AboutForm about(this);
    about.showAboutBox();
}

// ---- The way in from the desktop ------------------------------------------------------
// The paths the program was started with or that a later start handed over ("Open with"),
// and the media controls.

void Form1::raiseWindow()
{
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
}

void Form1::openPaths(const QStringList &paths)
{
    m_pathsWaiting += paths;
    // Busy: the paths are opened when it is idle.
    if (m_pathsWaiting.isEmpty() || ended() || busy())
        return;
    const PathsToOpen sorted = sortPaths(std::exchange(m_pathsWaiting, {}));
    if (!sorted.skipped.isEmpty())
        messages::stop(this, skippedMessage(sorted.skipped));
    // A folder given is shown, the last one if several; else the first file's folder, with
    // that file selected.
    if (!sorted.folder.isEmpty())
        // One that cannot be opened leaves the lists where they are, without a message.
        (void)Dir1->setPath(sorted.folder);
    if (sorted.files.isEmpty())
        return;
    const QFileInfo first(sorted.files.first());
    if (sorted.folder.isEmpty() && Dir1->setPath(first.absolutePath()).ok()) {
        for (int row = 0; row < File1->listCount(); ++row) {
            if (File1->entry(row) == first.fileName()) {
                const QModelIndex index = File1->model()->index(row, 0);
                File1->selectionModel()->setCurrentIndex(index,
                                                         QItemSelectionModel::ClearAndSelect);
                File1->scrollTo(index);
            }
        }
    }
    // The files alone selected on the play list (where they were already, they stay), and
    // played as from there.
    m_playList->addFiles(sorted.files);
    QSet<QString> wanted;
    for (const QString &file : sorted.files)
        wanted.insert(PlayListModel::keyOf(file));
    QItemSelection selection;
    QList<int> rows;
    for (int row = 0; row < m_playList->count(); ++row) {
        if (wanted.contains(PlayListModel::keyOf(m_playList->path(row)))) {
            rows.append(row);
            selection.select(m_playList->index(row), m_playList->index(row));
        }
    }
    List1->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    playSelection(rows, Source::PlayList);
}

MediaControl Form1::mediaControl(std::function<void()> quit)
{
    MediaControl control;
    control.now = &m_now;
    control.playback = &m_playback;
    control.lists = {File1->model(), List1->model()};
    control.raise = [this] { raiseWindow(); };
    control.playCurrent = [this] { playCurrentEntry(); };
    control.quit = std::move(quit);
    return control;
}

void Form1::playCurrentEntry()
{
    // As Enter would in the list the user is in (the one that has or last had the focus), on
    // its entry with the focus frame; else on the other list's.
    if (busy())
        return;
    const QAbstractItemView *atHand = m_listAtHand == List1
                                          ? static_cast<QAbstractItemView *>(List1)
                                          : static_cast<QAbstractItemView *>(File1);
    const QAbstractItemView *other = atHand == File1 ? static_cast<QAbstractItemView *>(List1)
                                                     : static_cast<QAbstractItemView *>(File1);
    const auto sourceOf = [this](const QAbstractItemView *list) {
        return list == File1 ? Source::FileList : Source::PlayList;
    };
    for (const QAbstractItemView *list : {atHand, other}) {
        if (const QModelIndex current = list->currentIndex(); current.isValid()) {
            playSelection({current.row()}, sourceOf(list));
            return;
        }
    }
    // No focus frame yet (the lists were never focused): the first entry, as the frame
    // would first stand there.
    for (const QAbstractItemView *list : {atHand, other}) {
        if (list->model()->rowCount() > 0) {
            playSelection({0}, sourceOf(list));
            return;
        }
    }
}

bool Form1::tellLength(const QString &path)
{
    // What the facts already hold; the window's thread never opens the file for it.
    if (path.isEmpty() || path != m_now.path())
        return false;
    const std::optional<FileFacts::Facts> known = m_facts->known(path);
    if (!known || known->missing() || known->info.sampleRate <= 0)
        return false;
    m_now.setLength(path, known->info.frames, known->info.sampleRate);
    return true;
}

// ---- Auditioning keys -----------------------------------------------------------------

void Form1::playOrStop()
{
    // A sound still being opened (its disk slow to answer) is ended too.
    if (!m_now.path().isEmpty()) {
        m_now.stop();
        return;
    }
    // The entry with the focus frame of the list the key came from, from its start; it is
    // selected too, as Space selects in a list.
    QAbstractItemView *list = List1->hasFocus() ? static_cast<QAbstractItemView *>(List1)
                                                : static_cast<QAbstractItemView *>(File1);
    const QModelIndex current = list->currentIndex();
    if (!current.isValid() || busy())
        return;
    list->selectionModel()->select(current, QItemSelectionModel::Select);
    playSelection({current.row()}, list == File1 ? Source::FileList : Source::PlayList);
}

void Form1::skip(int seconds)
{
    if (const std::optional<HeardPosition> at = m_now.heard())
        m_now.seek(std::max<qint64>(0, at->microseconds() + qint64(seconds) * 1000000));
}

void Form1::toggleLoop()
{
    // With the band shown, its box is the switch, whether a sound is at hand or not.
    const bool on = m_bandAdded > 0 ? !m_band->loopOn() : !m_now.looping();
    m_now.setLooping(on);
    m_band->showLoop(on);
}

// ---- The audition band and the preview ------------------------------------------------

void Form1::wireAudition()
{
    m_band = new AuditionBand(*m_facts, m_now, this);
    m_band->setVisible(false);
    m_playback.setSinglePlay([this](const QString &path) { return singlePlay(path); });
    connect(m_band, &AuditionBand::playRequested, this, &Form1::playPart);
    connect(m_band, &AuditionBand::menuWanted, this, &Form1::openCommonMenu);
    connect(m_band, &AuditionBand::loopToggled, this, [this](bool on) { m_now.setLooping(on); });
    // The sound at hand goes on at the new level or loudness; a measurement that comes
    // while it plays brings it to its loudness.
    const auto regain = [this] {
        if (!m_now.path().isEmpty() && !chainRunning())
            m_now.setGainDb(previewGainDb(m_now.path()));
    };
    connect(m_band, &AuditionBand::levelChanged, this, regain);
    connect(m_band, &AuditionBand::matchToggled, this, regain);
    connect(&m_facts->loudness(), &LoudnessFacts::measured, this,
            [this, regain](const QString &path) {
                if (m_bandAdded > 0 && m_band->matchOn() && path == m_now.path())
                    regain();
            });
    connect(&m_now, &NowPlaying::started, this, &Form1::showFileAtHand);
    connect(&m_now, &NowPlaying::stopped, this, &Form1::showFileAtHand);
    // A file not read yet is read by the facts' worker, and its length told once it is.
    connect(&m_now, &NowPlaying::started, this, [this](const QString &path) {
        if (!tellLength(path))
            m_facts->requestDetails(path);
    });
    connect(m_facts, &FileFacts::infoReady, this, &Form1::tellLength);
    // A band click on a file that turns out unplayable once a worker opened it.
    connect(&m_now, &NowPlaying::startRefused, this, [this](quint64 start) {
        if (start == m_bandStart)
            messages::stop(this, Playback::unplayableText());
    });
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) {
        if (now == File1 || now == List1) {
            m_listAtHand = static_cast<QAbstractItemView *>(now);
            showFileAtHand();
        }
    });
    for (QAbstractItemView *list :
         {static_cast<QAbstractItemView *>(File1), static_cast<QAbstractItemView *>(List1)}) {
        connect(list->selectionModel(), &QItemSelectionModel::currentChanged, this,
                &Form1::showFileAtHand);
        // A list made anew (entries removed from the play list, a folder read) loses its
        // current entry without telling: looked at once the list has set the one it keeps.
        connect(list->model(), &QAbstractItemModel::modelReset, this, &Form1::showFileAtHand,
                Qt::QueuedConnection);
        auto *preview = new AutoPreview(list);
        connect(preview, &AutoPreview::wanted, this,
                [this, list](const QModelIndex &entry) { this->preview(list, entry); });
        connect(preview, &AutoPreview::held, this, [this] {
            if (state.autoPreview && !busy())
                m_now.stop();
        });
    }
}

void Form1::toggleWaveform()
{
    state.waveform = !state.waveform;
    showSwitches();
    showBand();
    Redraw();
}

void Form1::showBand()
{
    const int band = state.waveform ? AuditionBand::bandHeight : 0;
    const int change = band - std::exchange(m_bandAdded, band);
    const QSize minimum = windowFrame::minimumClient() + QSize(0, band);
    // The minimum shrinks before the window does, and grows after it.
    if (change < 0)
        setMinimumSize(minimum);
    if (change != 0 && !isMaximized() && !isFullScreen())
        resize(width(), height() + change);
    setMinimumSize(minimum);
    m_band->setVisible(band > 0);
    Form_Resize();
    showFileAtHand();
}

QString Form1::pathOf(const QAbstractItemView *list, const QModelIndex &entry) const
{
    const int role = list == List1 ? int(PlayListModel::PathRole) : int(WaveFolderModel::PathRole);
    return entry.data(role).toString();
}

void Form1::showFileAtHand()
{
    if (m_bandAdded == 0)
        return;
    const QString sounding = m_now.path();
    m_band->showFile(sounding.isEmpty()
                         ? pathOf(m_listAtHand ? m_listAtHand : File1,
                                  (m_listAtHand ? m_listAtHand : File1)->currentIndex())
                         : sounding);
}

PlayRequest Form1::singlePlay(const QString &path) const
{
    PlayRequest request = PlayRequest::whole(path);
    // The band's level and loop, while the band is there to show them.
    if (m_bandAdded > 0) {
        request.gainDb = previewGainDb(path);
        request.loop = m_band->loopOn();
        request.loopFrom = 0;
    }
    return request;
}

double Form1::previewGainDb(const QString &path) const
{
    double gain = m_band->levelDb();
    if (m_band->matchOn())
        if (const std::optional<Loudness> loudness = m_facts->loudness().known(path);
            loudness && loudness->measured())
            gain += matchingGainDb(*loudness);
    return gain;
}

void Form1::playPart(PlayRequest request)
{
    if (busy())
        return;
    request.gainDb = previewGainDb(request.path);
    if (!m_now.start(request))
        messages::stop(this, Playback::unplayableText());
    else
        m_bandStart = m_now.starts();
}

void Form1::preview(const QAbstractItemView *list, const QModelIndex &entry)
{
    if (!state.autoPreview || busy() || !entry.isValid())
        return;
    // One that cannot be played is greyed already: it is passed over without a word, and
    // what sounded of the entry before ends all the same.
    if (!m_now.start(singlePlay(pathOf(list, entry))))
        m_now.stop();
}
