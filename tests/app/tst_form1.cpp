#include "FormFixture.h"
#include "ModalAnswerer.h"
#include "app/Form1.h"
#include "app/Layout.h"
#include "app/WindowFrame.h"
#include "browser/FileList.h"
#include "files/DirList.h"
#include "files/DriveList.h"
#include "ui/AboutForm.h"

#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <cmath>

class TestForm1 : public QObject, protected FormFixture
{
    Q_OBJECT
private slots:
    void init();
    void controlsWithTheirCaptions();
    void windowFollowsTheLayout_data();
    void windowFollowsTheLayout();
    void tabOrderAndMnemonics();
    void layoutFollowsResize();
    void splashClosesItselfThenWarnsOfMissingDevice();
    void storedStyleHidesTheButtonColumn();
    void aboutBoxStaysUntilOk();
    void closeBoxAndExitWriteTheSameSettings();
    void storedGeometryIsRestoredOrCentredWhenOffScreen();
    void maximisedWindowStoresItsNormalGeometry();

private:
    // Form_Load shows the splash and answers boxes: record the boxes, leave windows alone.
    static void leaveWindowsAlone(ModalAnswerer &answerer)
    {
        answerer.onOther = [](QWidget *) {};
    }
};

void TestForm1::init()
{
    makeFolder({});
}

void TestForm1::controlsWithTheirCaptions()
{
    Form1 form(m_fakes->services());
    QCOMPARE(form.windowTitle(), QString("Quillon Sonoret 2.0"));
    const QList<std::pair<QPushButton *, QString>> buttons = {
        {Command1(form), "Chain &Play"},
        {Command5(form), "&Copy files"},
        {Command2(form), "&Delete file"},
        {Command3(form), "&Add to list"},
        {Command4(form), "R&emove from list"},
        {Command6(form), "Edit &wav"},
        {Command9(form), "&New"},
        {Command7(form), "Ab&out"},
    };
    for (const auto &[button, caption] : buttons)
        QCOMPARE(button->text(), caption);
    QCOMPARE(Frame1(form)->title(), QString("File"));
    QCOMPARE(Label3(form)->text(), QString("Date    Time"));
    QCOMPARE(Label4(form)->text(), QString("Bytes"));
    QVERIFY(Label1(form)->alignment() & Qt::AlignRight);
    QVERIFY(Label2(form)->alignment() & Qt::AlignRight);
    QTRY_VERIFY(Label1(form)->text().isEmpty() && Label2(form)->text().isEmpty());

    QCOMPARE(Drive1(form)->accessibleName(), QString("Drives"));
    QCOMPARE(Dir1(form)->accessibleName(), QString("Directories"));
    QCOMPARE(File1(form)->accessibleName(), QString("Wave files"));
    QCOMPARE(List1(form)->accessibleName(), QString("Play list"));
    for (QWidget *hidden : std::initializer_list<QWidget *>{List2(form), List3(form), Image1(form),
                                                            Image2(form), Image3(form)})
        QVERIFY(!hidden->isVisibleTo(&form));
    for (QLabel *image : {Image1(form), Image2(form), Image3(form)})
        QCOMPARE(image->pixmap().size(), QSize(32, 32));
    QCOMPARE(form.File1DragIcon(), Image1(form));
    // The lists open on the current directory.
    QCOMPARE(Dir1(form)->path(), m_dir->path());
    QCOMPARE(File1(form)->path(), m_dir->path());
}

void TestForm1::windowFollowsTheLayout_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("buttons");
    QTest::addColumn<bool>("file2Dir");
    QTest::newRow("designed") << QSize(513, 314) << true << false;
    QTest::newRow("under the frame's height") << QSize(700, 313) << true << false;
    QTest::newRow("tall") << QSize(700, 400) << true << false;
    QTest::newRow("large file list") << QSize(700, 400) << true << true;
    QTest::newRow("no buttons") << QSize(640, 360) << false << false;
    QTest::newRow("no buttons, large file list") << QSize(900, 500) << false << true;
}

void TestForm1::windowFollowsTheLayout()
{
    // Whatever the size and the switches, each control stands where the layout function
    // puts it (to the pixel the rounding of twips allows).
    QFETCH(QSize, size);
    QFETCH(bool, buttons);
    QFETCH(bool, file2Dir);
    Form1 form(m_fakes->services());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    if (!buttons)
        form.toggleButtons();
    form.state.file2Dir = file2Dir;
    form.resize(size);
    QTRY_COMPARE(form.size(), size);
    form.Redraw();
    const MainLayout l = layoutMainWindow(
        size.width(), size.height(), windowFrame::outerTwips(size).height(), buttons, file2Dir);
    const auto near = [](int pixels, double wanted) { return qAbs(pixels - wanted) <= 1.0; };
    QVERIFY(near(File1(form)->width(), l.file1Width));
    QVERIFY(near(File1(form)->height(), l.file1Height));
    QVERIFY(near(List1(form)->y(), l.list1Top));
    QVERIFY(near(List1(form)->width(), l.list1Width));
    QVERIFY(near(Dir1(form)->x(), l.dir1Left));
    QVERIFY(near(Dir1(form)->width(), l.dir1Width));
    QVERIFY(near(Dir1(form)->height(), l.dir1Height));
    QVERIFY(near(Drive1(form)->x(), l.drive1Left));
    QVERIFY(near(Drive1(form)->y(), l.drive1Top));
    QVERIFY(near(Drive1(form)->width(), l.drive1Width));
    for (QPushButton *button : {Command1(form), Command2(form), Command3(form), Command4(form),
                                Command5(form), Command6(form), Command7(form), Command9(form)})
        QCOMPARE(button->isVisible(), buttons);
    QCOMPARE(Frame1(form)->isVisible(), buttons && l.frameVisible);
    if (buttons) {
        QVERIFY(near(Command1(form)->x(), l.buttonLeft));
        QVERIFY(near(Command9(form)->x(), l.command9Left));
        QVERIFY(near(Frame1(form)->x(), l.frameLeft));
        QVERIFY(near(Frame1(form)->y(), l.frameTop));
    }
}

void TestForm1::tabOrderAndMnemonics()
{
    Form1 form(m_fakes->services());
    const QList<QWidget *> expected = {Command6(form), Dir1(form),     Drive1(form),
                                       Command5(form), Command4(form), Command3(form),
                                       Command2(form), Command1(form), Command9(form),
                                       Command7(form), List1(form),    File1(form)};
    QList<QWidget *> chain;
    QWidget *w = Command6(form);
    for (int guard = 0; guard < 200 && chain.size() < expected.size(); ++guard) {
        if (expected.contains(w) && !chain.contains(w))
            chain.append(w);
        w = w->nextInFocusChain();
    }
    QCOMPARE(chain, expected);

    // (The mnemonics themselves are pressed in the whole-program test, in a real X server.)
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    // Activation puts the focus in the file list.
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(File1(form)));
}

void TestForm1::layoutFollowsResize()
{
    Form1 form(m_fakes->services());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.size(), QSize(513, 314));
    // The columns start where the file list really ends, whatever its rounding.
    QCOMPARE(Dir1(form)->x(), File1(form)->width() + 16);
    QCOMPARE(Drive1(form)->x(), File1(form)->width() + 16);

    form.resize(50, 50); // snaps back to 4000 x 3940 twips outside
    QTRY_VERIFY(form.width() < 700);
    QVERIFY((form.width() + Form1::decoration().width()) * 15 >= 4000);
    QVERIFY((form.height() + Form1::decoration().height()) * 15 >= 3940);

    const QRect before = File1(form)->geometry();
    form.showMinimized();
    form.Form_Resize();
    QCOMPARE(File1(form)->geometry(), before);
}

void TestForm1::splashClosesItselfThenWarnsOfMissingDevice()
{
    m_fakes->sound.devices = 0;
    Form1 form(m_fakes->services());
    ModalAnswerer answerer;
    leaveWindowsAlone(answerer);
    bool splashSeenWithoutButton = false;
    answerer.onOther = [&](QWidget *w) {
        if (auto *about = qobject_cast<AboutForm *>(w)) {
            splashSeenWithoutButton = !about->Command1->isVisible();
            // Escape does not cut the splash short: only its timer closes it.
            QTest::keyClick(about, Qt::Key_Escape);
        }
    };
    QElapsedTimer timer;
    timer.start();
    form.Form_Load();
    QVERIFY(splashSeenWithoutButton);
    QVERIFY2(timer.elapsed() >= 1400, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen[0].text,
             QString::fromUtf8("Can\u00b4t find a audio device ! Unable to play .wav sounds."));
    QCOMPARE(answerer.seen[0].title, QString("Error"));
    QCOMPARE(answerer.seen[0].icon, QMessageBox::Critical);
    QVERIFY(!form.isVisible()); // the warning comes before the window shows
    // Start-up went on: the program's folder became current and the defaults hold.
    QCOMPARE(m_fakes->volumes.current, QCoreApplication::applicationDirPath());
    QVERIFY(form.state.buttons);
    QCOMPARE(form.state.soundEditor, Settings::defaultSoundEditor());
}

void TestForm1::storedStyleHidesTheButtonColumn()
{
    m_fakes->settings.values["Startup/Autosave"] = "True";
    m_fakes->settings.values["Startup/Buttons"] = "False";
    Form1 form(m_fakes->services());
    ModalAnswerer answerer;
    leaveWindowsAlone(answerer);
    form.Form_Load();
    QVERIFY(answerer.seen.isEmpty()); // a device exists: no warning
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    for (QWidget *w : std::initializer_list<QWidget *>{
             Command1(form), Command2(form), Command3(form), Command4(form), Command5(form),
             Command6(form), Command7(form), Command9(form), Frame1(form)})
        QVERIFY(!w->isVisible());
    // The lists stretch to 8 pixels from the right edge; the large list is on (no key stored).
    QVERIFY(form.state.file2Dir);
    QCOMPARE(Dir1(form)->x() + Dir1(form)->width(), form.width() - 8);
}

void TestForm1::aboutBoxStaysUntilOk()
{
    Form1 form(m_fakes->services());
    ModalAnswerer answerer;
    int shown = 0;
    answerer.onOther = [&](QWidget *w) {
        auto *about = qobject_cast<AboutForm *>(w);
        QVERIFY(about);
        ++shown;
        QVERIFY(about->Command1->isVisible());
        QTest::mouseClick(about, Qt::LeftButton, {}, QPoint(100, 100)); // the picture: nothing
        QTest::keyClick(about, Qt::Key_Escape);                         // nor Escape
        QTimer::singleShot(AboutForm::splashMilliseconds + 300, about, [about] {
            QVERIFY(about->isVisible());
            about->Command1->click();
        });
    };
    for (int round = 1; round <= 2; ++round) {
        QElapsedTimer timer;
        timer.start();
        form.Command7_Click();
        QCOMPARE(shown, round);
        QVERIFY(timer.elapsed() >= AboutForm::splashMilliseconds + 250);
    }
}

void TestForm1::closeBoxAndExitWriteTheSameSettings()
{
    QStringList writesByClose;
    for (int way = 0; way < 2; ++way) {
        FakeServices fakes;
        fakes.volumes.current = m_dir->path();
        fakes.settings.values["Startup/Autosave"] = "True";
        Form1 form(fakes.services());
        ModalAnswerer answerer;
        leaveWindowsAlone(answerer);
        form.Form_Load();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        fakes.settings.writes.clear();
        if (way == 0) {
            form.close();
            writesByClose = fakes.settings.writes;
        } else {
            form.Ende();
            QCOMPARE(fakes.settings.writes, writesByClose);
        }
        QVERIFY(!form.isVisible());
    }
    QCOMPARE(writesByClose, QStringList({"Startup/Autosave=True", "Startup/AutoCondition=False",
                                         "Startup/Buttons=True", "Startup/File2Dir=True",
                                         "Startup/Waveform=False", "Startup/AutoPreview=False"}));
}

void TestForm1::storedGeometryIsRestoredOrCentredWhenOffScreen()
{
    // The first run centres the designed outer window: the client plus the 8 x 26 frame.
    const auto centred = [](int screen, int outer) {
        return static_cast<int>(std::nearbyint((screen - outer) / 2.0));
    };
    {
        Form1 form(m_fakes->services());
        ModalAnswerer answerer;
        leaveWindowsAlone(answerer);
        form.Form_Load();
        const QRect screen = form.screen()->geometry();
        QCOMPARE(form.size(), QSize(513, 314));
        QCOMPARE(form.pos(), QPoint(centred(screen.width(), 521), centred(screen.height(), 340)));
    }
    m_fakes->settings.values["Startup/AutoCondition"] = "True";
    m_fakes->settings.values["Startup/Width"] = "9000";
    m_fakes->settings.values["Startup/Height"] = "6000";
    m_fakes->settings.values["Startup/Left"] = "150";
    m_fakes->settings.values["Startup/Top"] = "300";
    {
        Form1 form(m_fakes->services());
        ModalAnswerer answerer;
        leaveWindowsAlone(answerer);
        form.Form_Load();
        QCOMPARE(form.size(), QSize(600 - 8, 400 - 26));
        QCOMPARE(form.pos(), QPoint(10, 20));
    }
    m_fakes->settings.values["Startup/Left"] = "-90000"; // a monitor that is gone
    {
        Form1 form(m_fakes->services());
        ModalAnswerer answerer;
        leaveWindowsAlone(answerer);
        form.Form_Load();
        const QRect screen = form.screen()->geometry();
        QCOMPARE(form.pos(), QPoint(centred(screen.width(), 600), centred(screen.height(), 400)));
    }
}

void TestForm1::maximisedWindowStoresItsNormalGeometry()
{
    m_fakes->settings.values["Startup/AutoCondition"] = "True";
    Form1 form(m_fakes->services());
    form.state.autoCondition = true;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.showMaximized();
    QTRY_VERIFY(form.width() > 513);
    // The frame the platform drew around the normal client (the designed 513 x 314).
    const QMargins frame = form.windowHandle()->frameMargins();
    form.close();
    QCOMPARE(m_fakes->settings.values["Startup/Width"],
             QString::number((513 + frame.left() + frame.right()) * 15));
    QCOMPARE(m_fakes->settings.values["Startup/Height"],
             QString::number((314 + frame.top() + frame.bottom()) * 15));
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
