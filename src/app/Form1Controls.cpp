// The main window's controls with their design names, captions and places, as a form
// designer would write them, and the switches that show or hide them; what they do is wired
// in Form1.cpp.
#include "Form1.h"
#include "browser/FileList.h"
#include "files/DirList.h"
#include "files/DriveList.h"
#include "playlist/PlayListModel.h"
#include "playlist/PlayListView.h"
#include "ui/Controls.h"
#include "ui/MessageBoxes.h"
#include "ui/Pictures.h"
#include "ui/Twips.h"

#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <cmath>

namespace {

QLabel *makeImage(QWidget *parent, const char *name, const QPixmap &picture, QRect designed)
{
    auto *image = placed<QLabel>(parent, name, designed);
    image->setPixmap(picture);
    image->setVisible(false);
    return image;
}

} // namespace

void Form1::createControls()
{
    Drive1 =
        placed<DriveList>(this, "Drive1", twips::rect(2760, 4200, 2535, 315), m_services.volumes);
    Drive1->setAccessibleName(QStringLiteral("Drives"));
    Dir1 = placed<DirList>(this, "Dir1", twips::rect(2760, 120, 2535, 3915));
    Dir1->setAccessibleName(QStringLiteral("Directories"));
    File1 = placed<FileList>(this, "File1", twips::rect(120, 120, 2535, 3210));
    File1->setAccessibleName(QStringLiteral("Wave files"));
    File1->setFacts(m_facts);

    List1 = placed<PlayListView>(this, "List1", twips::rect(120, 3480, 2535, 1035), *m_playList);
    List1->setAccessibleName(QStringLiteral("Play list"));
    List1->setFacts(m_facts);

    List3 = placed<QListView>(this, "List3", twips::rect(120, 5280, 2535, 1035));
    List3->setModel(m_playList->pathsModel());
    List3->setVisible(false);

    List2 = placed<QListWidget>(this, "List2", twips::rect(2760, 5280, 2535, 1035));
    List2->setVisible(false);

    Command1 = placed<QPushButton>(this, "Command1", twips::rect(5400, 120, 2175, 375),
                                   QStringLiteral("Chain &Play"));
    Command5 = placed<QPushButton>(this, "Command5", twips::rect(5400, 600, 2175, 375),
                                   QStringLiteral("&Copy files"));
    Command2 = placed<QPushButton>(this, "Command2", twips::rect(5400, 1080, 2175, 375),
                                   QStringLiteral("&Delete file"));
    Command3 = placed<QPushButton>(this, "Command3", twips::rect(5400, 1560, 2175, 375),
                                   QStringLiteral("&Add to list"));
    Command4 = placed<QPushButton>(this, "Command4", twips::rect(5400, 2040, 2175, 375),
                                   QStringLiteral("R&emove from list"));
    Command6 = placed<QPushButton>(this, "Command6", twips::rect(5400, 2520, 1455, 375),
                                   QStringLiteral("Edit &wav"));
    Command9 = placed<QPushButton>(this, "Command9", twips::rect(6960, 2520, 615, 375),
                                   QStringLiteral("&New"));
    Command7 = placed<QPushButton>(this, "Command7", twips::rect(5400, 3000, 2175, 375),
                                   QStringLiteral("Ab&out"));

    Frame1 = placed<QGroupBox>(this, "Frame1", twips::rect(5400, 3480, 2175, 1095),
                               QStringLiteral("File"));
    Label3 = placed<QLabel>(Frame1, "Label3", twips::rect(120, 240, 615, 495),
                            QStringLiteral("Date    Time"));
    Label3->setWordWrap(true);
    Label3->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label1 = placed<QLabel>(Frame1, "Label1", twips::rect(1080, 240, 975, 495));
    Label1->setAlignment(Qt::AlignRight | Qt::AlignTop);
    Label4 =
        placed<QLabel>(Frame1, "Label4", twips::rect(120, 720, 495, 255), QStringLiteral("Bytes"));
    Label2 = placed<QLabel>(Frame1, "Label2", twips::rect(600, 720, 1455, 255));
    Label2->setAlignment(Qt::AlignRight | Qt::AlignTop);
    Label1->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Label2->setTextInteractionFlags(Qt::TextSelectableByMouse);

    Image1 = makeImage(this, "Image1", pictures::loudspeaker(), twips::rect(5400, 5280, 480, 480));
    Image2 = makeImage(this, "Image2", pictures::banana(), twips::rect(6000, 5280, 480, 480));
    Image3 = makeImage(this, "Image3", pictures::funnel(), twips::rect(6600, 5280, 480, 480));
    m_dragIcon = Image1;

    const QList<QWidget *> tabOrder = {Command6, Dir1,     Drive1,   Command5, Command4, Command3,
                                       Command2, Command1, Command9, Command7, List1,    File1};
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
}

void Form1::setButtonColumnVisible(bool visible)
{
    for (QWidget *w :
         std::initializer_list<QWidget *>{Command1, Command2, Command3, Command4, Command5,
                                          Command6, Command7, Command9, Frame1})
        w->setVisible(visible);
}

void Form1::placeControls(const MainLayout &l)
{
    const auto px = [](double value) { return static_cast<int>(std::nearbyint(value)); };
    File1->resize(File1->width(), px(l.file1Height));
    List1->move(List1->x(), px(l.list1Top));
    Dir1->resize(Dir1->width(), px(l.dir1Height));
    Drive1->move(Drive1->x(), px(l.drive1Top));
    if (l.buttonsPlaced) {
        for (QPushButton *button :
             {Command1, Command2, Command3, Command4, Command5, Command6, Command7})
            button->move(px(l.buttonLeft), button->y());
        Command9->move(px(l.command9Left), Command9->y());
        Frame1->setVisible(l.frameVisible);
        Frame1->move(px(l.frameLeft), px(l.frameTop));
    }
    File1->resize(px(l.file1Width), File1->height());
    List1->resize(px(l.list1Width), List1->height());
    // Read back: the columns start where the file list really ends.
    Dir1->move(File1->width() + static_cast<int>(layout::columnGap), Dir1->y());
    Drive1->move(File1->width() + static_cast<int>(layout::columnGap), Drive1->y());
    Dir1->resize(px(l.dir1Width), Dir1->height());
    Drive1->resize(px(l.drive1Width), Drive1->height());
}

// The switches of the common menu: the button column, the large file list and the two
// stored settings.
void Form1::toggleButtons()
{
    state.buttons = !state.buttons;
    showSwitches();
    setButtonColumnVisible(state.buttons);
    Redraw();
}

void Form1::toggleSaveStyle()
{
    state.autosave = !state.autosave;
    showSwitches();
    if (!m_settings.writeAutosave(state.autosave))
        messages::settingsNotSaved(this, m_settings.location());
}

void Form1::toggleSaveCond()
{
    state.autoCondition = !state.autoCondition;
    showSwitches();
    if (!m_settings.writeAutoCondition(state.autoCondition))
        messages::settingsNotSaved(this, m_settings.location());
}

void Form1::toggleLargeFileList()
{
    state.file2Dir = !state.file2Dir;
    showSwitches();
    Redraw();
}

// The switches of auditioning.
void Form1::toggleWaveform()
{
    state.waveform = !state.waveform;
    showSwitches();
    showBand();
    Redraw();
}

void Form1::toggleAutoPreview()
{
    state.autoPreview = !state.autoPreview;
    showSwitches();
}
