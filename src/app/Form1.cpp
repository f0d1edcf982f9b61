#include "Form1.h"

#include "audition/Audition.h"
#include "audition/AuditionBand.h"
#include "browser/Browser.h"
#include "browser/DetailsPanel.h"
#include "browser/FileList.h"
#include "files/DirList.h"
#include "files/DriveList.h"
#include "files/DriveNavigator.h"
#include "files/FileFacts.h"
#include "files/LoudnessFacts.h"
#include "library/Library.h"
#include "platform/PathRule.h"
#include "playback/NowPlaying.h"
#include "playback/Playback.h"
#include "playlist/PlayListModel.h"
#include "playlist/PlayListView.h"
#include "ui/AboutForm.h"
#include "ui/Controls.h"
#include "ui/Form5.h"
#include "ui/MessageBoxes.h"
#include "ui/Pictures.h"
#include "ui/Twips.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QMouseEvent>
#include <QTimer>

namespace {
const QString noDeviceText =
    QStringLiteral("Can\u00b4t find a audio device ! Unable to play .wav sounds.");
} // namespace

Form1::Form1(Services services, QWidget *parent)
    : QWidget(parent),
      m_now(services.sound), m_services{services.settings,   m_now,
                                        services.waveLength, services.clock,
                                        services.volumes,    services.desktop,
                                        services.files,      services.measureLoudness,
                                        services.libraryFile},
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
    m_audition = std::make_unique<Audition>(
        *m_facts, m_now, m_playback, *m_busy,
        Audition::List{*File1, WaveFolderModel::PathRole, WaveFolderModel::LoudnessRole},
        Audition::List{*List1, PlayListModel::PathRole, PlayListModel::LoudnessRole}, *this,
        [this] { return state.autoPreview; });
    connect(m_audition.get(), &Audition::menuWanted, this, &Form1::openCommonMenu);
    wireActions();
    wireLibrary();
    connect(m_busy, &BusyState::idle, this, [this] { openPaths({}); });
}

// The audition goes first, with what it hears: the controls, which go after the members,
// would tell it of a new file at hand, and the sound has gone by then.
Form1::~Form1() = default;

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
    m_browser->holdStillWhile(*m_busy);
    // The lists open on the process's current directory as it is when they are made.
    m_browser->openStart(m_services.volumes.currentDirectory());
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
    // Once the window is up: the library's folders are looked at again in the background.
    QTimer::singleShot(0, this, &Form1::openLibrary);
    if (m_services.sound.deviceCount() == 0)
        messages::stop(this, noDeviceText);
}

void Form1::takeInOldLoudnessCache()
{
    if (m_library)
        m_library->setOldLoudnessCache(LoudnessFacts::oldCacheFile());
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
    m_audition->placeBand(
        QRect(margin, above.height(), width() - 2 * margin, std::max(0, m_bandAdded - margin)));
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
    Form_Resize();
    m_audition->showBand(band > 0);
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

void Form1::Command3_Click()
{
    QList<std::pair<QString, QString>> entries;
    for (const QModelIndex &entry : File1->selection())
        entries.append({entry.data(WaveFolderModel::NameRole).toString(),
                        entry.data(WaveFolderModel::PathRole).toString()});
    m_playList->addEntries(entries);
}

void Form1::startFileDrag()
{
    if (!m_dragArmed)
        return;
    m_dragArmed = false;
    m_dragIcon = Image1;
    const QStringList paths = File1->selectedPaths();
    const BusyState::Hold drag(*m_busy);
    m_fileDrag->start(Image1->pixmap(), paths);
}

// ---- Playback -------------------------------------------------------------------------

void Form1::playSelection(const QModelIndexList &selected, Source from)
{
    const bool fromFileList = from == Source::FileList;
    // Only the file list's chain adds to the play list.
    std::function<void(const ChainEntry &)> addEntry;
    if (fromFileList)
        addEntry = [this](const ChainEntry &e) { m_playList->AddEntry(e.name, e.path); };
    const int pathRole =
        fromFileList ? int(WaveFolderModel::PathRole) : int(PlayListModel::PathRole);
    const ChainSource source =
        chainSourceOf(fromFileList ? *File1->selectionModel() : *List1->selectionModel(), pathRole);
    const BusyState::Hold chain(*m_busy);
    // Back from the chain window, the focus returns to the file list.
    if (m_playback.play(selected, pathRole, source, addEntry, this))
        Form_Activate();
}
