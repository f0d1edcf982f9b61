#include "FormFixture.h"
#include "ModalAnswerer.h"
#include "TestFiles.h"
#include "app/Form1.h"
#include "browser/FileList.h"
#include "files/DirList.h"
#include "playlist/PlayListModel.h"
#include "ui/AboutForm.h"
#include "ui/Form5.h"

#include <QAction>
#include <QGroupBox>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

QStringList captionsOf(const QMenu *menu)
{
    QStringList captions;
    for (const QAction *a : menu->actions())
        captions.append(a->isSeparator() ? QStringLiteral("-") : a->text());
    return captions;
}

} // namespace

class TestMenus : public QObject, protected FormFixture
{
    Q_OBJECT
private slots:
    void init();
    void menusHoldTheirItemsInOrder();
    void onlyTheRightButtonOpensAMenu();
    void emptyListsOpenNothing();
    void commonMenuChecksFollowTheSwitches();
    void saveStyleIsWrittenAtOnce();
    void buttonsTwiceHidesThenShows();
    void itemsRunTheirCommands();
    void aHandoverWaitsForTheOpenMenu();
    void theListsHoldStillUnderTheOpenMenu();
    void exitWritesWhatTheCloseBoxWrites();
    void keyboardOpensTheMenuOfTheFocusedList();
    void usualKeysRunTheirCommands();
    void auditionKeys();

private:
    void rightClick(QWidget *target, QPoint at = QPoint(5, 5),
                    Qt::MouseButton button = Qt::RightButton);
};

void TestMenus::init()
{
    makeFolder({"a.wav", "b.wav"});
    m_fakes->clock.step = 0.05;
    makeForm().show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
}

void TestMenus::rightClick(QWidget *target, QPoint at, Qt::MouseButton button)
{
    QTest::mousePress(target, button, {}, at);
    QTest::mouseRelease(target, button, {}, at);
}

void TestMenus::menusHoldTheirItemsInOrder()
{
    // Each command is one action, named after it: the menus hold those very actions, with
    // their captions, and the buttons and keys trigger them.
    Form5 &menus = m_form->menus();
    QVERIFY(!menus.isVisible());
    const auto namesOf = [](const QMenu *menu) {
        QStringList names;
        for (const QAction *a : menu->actions())
            names.append(a->isSeparator() ? QStringLiteral("-") : a->objectName());
        return names;
    };
    QCOMPARE(namesOf(menus.mnuFile), QStringList({"Add", "Delete", "Edit", "-", "Play"}));
    QCOMPARE(namesOf(menus.mnuList), QStringList({"Remove", "Copy", "-", "ListPlay"}));
    QCOMPARE(
        namesOf(menus.mnuCommon),
        QStringList({"Buttons", "LargeFileList", "SaveStyle", "SaveCond", "Waveform", "AutoPreview",
                     "LibraryFolders", "Find", "-", "About", "NewEditor", "Ende"}));
    QCOMPARE(captionsOf(menus.mnuFile),
             QStringList({"&Add to list", "&Delete", "&Edit", "-", "&Play"}));
    QCOMPARE(captionsOf(menus.mnuList), QStringList({"&Remove", "&Copy to ...", "-", "&Play"}));
    QCOMPARE(captionsOf(menus.mnuCommon),
             QStringList({"&Buttons", "Large filelist", "Save &style", "Save &cond", "&Waveform",
                          "Auto &preview", "&Library folders\u2026", "&Find\u2026", "-", "&About",
                          "&New editor", "E&xit"}));
    for (QMenu *menu : {menus.mnuFile, menus.mnuList, menus.mnuCommon}) {
        for (QAction *a : menu->actions()) {
            if (a->isSeparator())
                continue;
            QCOMPARE(m_form->findChildren<QAction *>(a->objectName()), QList<QAction *>({a}));
            QCOMPARE(a->isCheckable(), menu == menus.mnuCommon && menu->actions().indexOf(a) < 6);
        }
    }
    // A button runs its command's action.
    const std::pair<const char *, const char *> buttons[] = {
        {"Command1", "Play"},   {"Command2", "Delete"},   {"Command3", "Add"},
        {"Command4", "Remove"}, {"Command5", "Copy"},     {"Command6", "Edit"},
        {"Command7", "About"},  {"Command9", "NewEditor"}};
    ModalAnswerer answerer; // closes the about box and the editor chooser
    for (const auto &[button, action] : buttons) {
        QSignalSpy triggered(m_form->findChild<QAction *>(action), &QAction::triggered);
        m_form->findChild<QPushButton *>(button)->click();
        QCOMPARE(triggered.size(), 1);
    }
}

void TestMenus::onlyTheRightButtonOpensAMenu()
{
    ModalAnswerer answerer;
    for (Qt::MouseButton button : {Qt::LeftButton, Qt::MiddleButton}) {
        rightClick(File1(*m_form)->viewport(), {5, 5}, button);
        rightClick(m_form.get(), {m_form->width() - 3, m_form->height() - 3}, button);
    }
    QTest::qWait(60); // nothing to wait for: a menu that opened would be seen by now
    QCOMPARE(answerer.menusSeen, 0);
    rightClick(File1(*m_form)->viewport());
    QCOMPARE(answerer.menusSeen, 1);
    // Over a button or the panel: not the window's own background.
    rightClick(Command7(*m_form), {3, 3});
    rightClick(Frame1(*m_form), {3, 3});
    QCOMPARE(answerer.menusSeen, 1);
    rightClick(m_form.get(), {m_form->width() - 3, m_form->height() - 3});
    QCOMPARE(answerer.menusSeen, 2);

    // The right button over an unselected entry leaves each list's selection and current
    // entry as they were: the menu's commands act on that selection.
    m_form->playList().AddEntry("a.wav", m_dir->filePath("a.wav"));
    m_form->playList().AddEntry("b.wav", m_dir->filePath("b.wav"));
    for (QAbstractItemView *list : {static_cast<QAbstractItemView *>(File1(*m_form)),
                                    static_cast<QAbstractItemView *>(List1(*m_form))}) {
        selectRows(list, {1});
        list->setCurrentIndex(list->model()->index(1, 0));
        const QPoint onFirst = list->visualRect(list->model()->index(0, 0)).center();
        const int before = answerer.menusSeen;
        rightClick(list->viewport(), onFirst);
        QTest::mouseDClick(list->viewport(), Qt::RightButton, {}, onFirst);
        QVERIFY(answerer.menusSeen > before);
        QCOMPARE(selectedRowsOf(list->selectionModel()), QList<int>({1}));
        QCOMPARE(list->currentIndex().row(), 1);
    }
}

void TestMenus::emptyListsOpenNothing()
{
    ModalAnswerer answerer;
    rightClick(List1(*m_form)->viewport());
    QVERIFY(QDir(m_dir->filePath("empty")).mkpath("."));
    QVERIFY(Dir1(*m_form)->setPath(m_dir->filePath("empty")).ok());
    rightClick(File1(*m_form)->viewport());
    QTest::qWait(60); // nothing to wait for: a menu that opened would be seen by now
    QCOMPARE(answerer.menusSeen, 0);
    m_form->playList().AddEntry("a.wav", m_dir->filePath("a.wav"));
    rightClick(List1(*m_form)->viewport());
    QCOMPARE(answerer.menusSeen, 1);
}

void TestMenus::commonMenuChecksFollowTheSwitches()
{
    m_form->state = {true, false, "x", false, true, false, true};
    ModalAnswerer answerer;
    QList<bool> checks;
    answerer.onMenu = [&](QMenu *menu) {
        for (int i = 0; i < 6; ++i)
            checks.append(menu->actions()[i]->isChecked());
        menu->close();
    };
    rightClick(m_form.get(), {m_form->width() - 3, m_form->height() - 3});
    QCOMPARE(checks, QList<bool>({false, true, true, false, false, true}));
}

void TestMenus::saveStyleIsWrittenAtOnce()
{
    ModalAnswerer answerer;
    answerer.onMenu = choose("Save &style");
    rightClick(m_form.get(), {m_form->width() - 3, m_form->height() - 3});
    QVERIFY(m_form->state.autosave);
    QCOMPARE(m_fakes->settings.writes, QStringList({"Startup/Autosave=True"}));
    answerer.onMenu = choose("Save &cond");
    rightClick(m_form.get(), {m_form->width() - 3, m_form->height() - 3});
    QCOMPARE(m_fakes->settings.writes.last(), QString("Startup/AutoCondition=True"));
    bool styleChecked = false;
    answerer.onMenu = [&](QMenu *menu) {
        styleChecked = menu->actions()[2]->isChecked();
        menu->close();
    };
    rightClick(m_form.get(), {m_form->width() - 3, m_form->height() - 3});
    QVERIFY(styleChecked);
    QVERIFY(answerer.seen.isEmpty());

    // A settings file that cannot be written: each choice is reported once, naming the file.
    m_fakes->settings.failing = true;
    for (const QString &item : {QString("Save &style"), QString("Save &cond")}) {
        answerer.onMenu = choose(item);
        rightClick(m_form.get(), {m_form->width() - 3, m_form->height() - 3});
    }
    QCOMPARE(answerer.seen.size(), 2);
    for (const ModalAnswerer::Seen &box : answerer.seen) {
        QCOMPARE(box.title, QString("Error"));
        QCOMPARE(box.icon, QMessageBox::Critical);
        QCOMPARE(box.text, QString("The settings could not be saved in /fake/QuillonSonoret.ini"));
    }
}

void TestMenus::buttonsTwiceHidesThenShows()
{
    Form1 &form = *m_form;
    ModalAnswerer answerer;
    answerer.onMenu = choose("&Buttons");
    const QPoint corner(form.width() - 3, form.height() - 3);
    rightClick(&form, corner);
    QVERIFY(!form.state.buttons);
    for (QWidget *w :
         std::initializer_list<QWidget *>{Command1(form), Command9(form), Frame1(form)})
        QVERIFY(!w->isVisible());
    QVERIFY(qAbs(Dir1(form)->x() + Dir1(form)->width() - (form.width() - 8)) <= 1); // whole pixels
    rightClick(&form, corner);
    QVERIFY(form.state.buttons);
    QVERIFY(Command1(form)->isVisible() && Command9(form)->isVisible() &&
            Frame1(form)->isVisible());

    form.resize(form.width(), 300); // lower than the designed height
    QTRY_COMPARE(form.height(), 300);
    QVERIFY(!Frame1(form)->isVisible());
    const QPoint lowCorner(form.width() - 3, form.height() - 3);
    rightClick(&form, lowCorner);
    rightClick(&form, lowCorner);
    QVERIFY(Command1(form)->isVisible());
    QVERIFY(!Frame1(form)->isVisible());

    answerer.onMenu = choose("Large filelist");
    rightClick(&form, lowCorner);
    QVERIFY(form.state.file2Dir);
    QCOMPARE(File1(form)->width(), static_cast<int>(std::nearbyint((form.width() - 176) / 1.5)));
}

void TestMenus::itemsRunTheirCommands()
{
    Form1 &form = *m_form;
    ModalAnswerer answerer;
    File1(form)->selectAll();
    answerer.onMenu = choose("&Add to list");
    rightClick(File1(form)->viewport());
    QCOMPARE(form.playList().count(), 2);

    List1(form)->selectionModel()->select(form.playList().index(0), QItemSelectionModel::Select);
    answerer.onMenu = choose("&Remove");
    rightClick(List1(form)->viewport());
    QCOMPARE(form.playList().names(), QStringList({"b.wav"}));

    List1(form)->selectionModel()->select(form.playList().index(0), QItemSelectionModel::Select);
    const double before = m_fakes->clock.now;
    answerer.onMenu = choose("&Play");
    rightClick(List1(form)->viewport());
    QCOMPARE(m_fakes->sound.played, QStringList({m_dir->filePath("b.wav")}));
    QVERIFY(m_fakes->clock.now - before >= 0.3); // after the pause

    File1(form)->selectionModel()->clearSelection();
    File1(form)->selectionModel()->select(File1(form)->model()->index(0, 0),
                                          QItemSelectionModel::Select);
    rightClick(File1(form)->viewport());
    QCOMPARE(m_fakes->sound.played.last(), m_dir->filePath("a.wav"));

    answerer.onMenu = choose("&Edit");
    rightClick(File1(form)->viewport());
    QCOMPARE(m_fakes->desktop.started.size(), 1);

    int abouts = 0;
    answerer.onOther = [&](QWidget *w) {
        if (auto *about = qobject_cast<AboutForm *>(w)) {
            ++abouts;
            about->Command1->click();
        }
    };
    answerer.onMenu = choose("&About");
    rightClick(&form, {form.width() - 3, form.height() - 3});
    QCOMPARE(abouts, 1);

    answerer.onBox = [](const ModalAnswerer::Seen &) {};
    answerer.button = QMessageBox::Cancel;
    answerer.onMenu = choose("&Delete");
    rightClick(File1(form)->viewport());
    QCOMPARE(answerer.seen.last().text, QString("Delete file a.wav ?"));
}

void TestMenus::aHandoverWaitsForTheOpenMenu()
{
    // A later start hands over sub/c.wav while the file menu is open on a.wav: the item
    // chosen acts on a.wav, and c.wav is opened once the menu has closed.
    Form1 &form = *m_form;
    QVERIFY(QDir(m_dir->path()).mkpath("sub"));
    QFile file(m_dir->filePath("sub/c.wav"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("RIFF") == 4);
    file.close();
    selectRows(File1(form), {0});
    ModalAnswerer answerer;
    const QString folder = Dir1(form)->path();
    QString folderUnderMenu;
    int countUnderMenu = -1;
    answerer.onMenu = [&](QMenu *menu) {
        form.openPaths({m_dir->filePath("sub/c.wav")});
        QTest::qWait(500); // longer than a waiting handover takes to look again
        folderUnderMenu = Dir1(form)->path();
        countUnderMenu = form.playList().count();
        choose("&Add to list")(menu);
    };
    rightClick(File1(form)->viewport());
    QCOMPARE(folderUnderMenu, folder);
    QCOMPARE(countUnderMenu, 0);
    QCOMPARE(form.playList().names().value(0), QString("a.wav"));
    QTRY_COMPARE(m_fakes->sound.played, QStringList({m_dir->filePath("sub/c.wav")}));
    QCOMPARE(form.playList().names(), QStringList({"a.wav", "c.wav"}));
}

void TestMenus::theListsHoldStillUnderTheOpenMenu()
{
    // Another program saves 0.wav while the file menu is open on b.wav: the rows would shift
    // under the menu, whose command acts on the selection it opened over.
    Form1 &form = *m_form;
    selectRows(File1(form), {1});
    ModalAnswerer answerer;
    int countUnderMenu = -1;
    answerer.onMenu = [&](QMenu *menu) {
        touch(m_dir->filePath("0.wav"));
        QTest::qWait(900); // longer than the watch gathers changes for
        countUnderMenu = File1(form)->listCount();
        choose("&Add to list")(menu);
    };
    rightClick(File1(form)->viewport());
    QCOMPARE(countUnderMenu, 2);
    QCOMPARE(form.playList().names(), QStringList({"b.wav"}));
    // Once the menu has gone, the list follows the folder, with the same file selected.
    QTRY_COMPARE_WITH_TIMEOUT(File1(form)->listCount(), 3, 5000);
    QCOMPARE(File1(form)->selectedNames(), QStringList({"b.wav"}));
}

void TestMenus::exitWritesWhatTheCloseBoxWrites()
{
    ModalAnswerer answerer;
    answerer.onMenu = choose("E&xit");
    m_form->state.autosave = true;
    rightClick(m_form.get(), {m_form->width() - 3, m_form->height() - 3});
    QVERIFY(!m_form->isVisible());
    const Form5 *menus = m_form->findChild<Form5 *>("Form5");
    QVERIFY(!menus || !menus->isVisible());
    QCOMPARE(m_fakes->settings.writes,
             QStringList({"Startup/Autosave=True", "Startup/AutoCondition=False",
                          "Startup/Buttons=True", "Startup/File2Dir=False",
                          "Startup/Waveform=False", "Startup/AutoPreview=False"}));
}

void TestMenus::keyboardOpensTheMenuOfTheFocusedList()
{
    ModalAnswerer answerer;
    QString opened;
    answerer.onMenu = [&](QMenu *menu) {
        opened = menu->objectName();
        menu->close();
    };
    m_form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    File1(*m_form)->setFocus();
    QContextMenuEvent fromKey(QContextMenuEvent::Keyboard, QPoint(2, 2), QPoint(2, 2));
    QApplication::sendEvent(File1(*m_form), &fromKey);
    QTRY_COMPARE(opened, QString("FileMenu"));
    opened.clear();
    QContextMenuEvent onWindow(QContextMenuEvent::Keyboard, QPoint(2, 2), QPoint(2, 2));
    QApplication::sendEvent(Command1(*m_form), &onWindow);
    QTRY_COMPARE(opened, QString("Common"));
}

void TestMenus::usualKeysRunTheirCommands()
{
    Form1 &form = *m_form;
    QVERIFY(QDir(m_dir->path()).mkdir("sub"));
    QVERIFY(Dir1(form)->setPath(m_dir->filePath("sub")).ok());
    // Backspace and Alt+Up in the file list open the parent folder.
    File1(form)->setFocus();
    QTest::keyClick(File1(form), Qt::Key_Backspace);
    QCOMPARE(Dir1(form)->path(), m_dir->path());
    QVERIFY(Dir1(form)->setPath(m_dir->filePath("sub")).ok());
    QTest::keyClick(File1(form), Qt::Key_Up, Qt::AltModifier);
    QCOMPARE(Dir1(form)->path(), m_dir->path());

    // Enter plays the selection, as a double click does; with nothing selected, the entry
    // with the focus frame. Insert adds the selection to the play list.
    File1(form)->setCurrentIndex(File1(form)->model()->index(1, 0));
    File1(form)->selectionModel()->clearSelection();
    QTest::keyClick(File1(form), Qt::Key_Return);
    QCOMPARE(m_fakes->sound.played, QStringList({m_dir->filePath("b.wav")}));
    QCOMPARE(File1(form)->selectedNames(), QStringList({"b.wav"}));
    QTest::keyClick(File1(form), Qt::Key_Insert);
    QCOMPARE(form.playList().names(), QStringList({"b.wav"}));

    // F5 reads the folder again and keeps the selection.
    touch(m_dir->filePath("c.wav"));
    QTest::keyClick(File1(form), Qt::Key_F5);
    QCOMPARE(File1(form)->listCount(), 3);
    QCOMPARE(File1(form)->selectedNames(), QStringList({"b.wav"}));

    // Delete asks first (answered Cancel here: nothing goes).
    ModalAnswerer answerer(QMessageBox::Cancel);
    QTest::keyClick(File1(form), Qt::Key_Delete);
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen[0].text, QString("Delete file b.wav ?"));
    QVERIFY(QFile::exists(m_dir->filePath("b.wav")));

    // In the play list: Enter plays the entry, Delete takes it off.
    form.activateWindow(); // the box took the window's activation with it
    QTRY_VERIFY(form.isActiveWindow());
    List1(form)->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(List1(form)));
    List1(form)->clearSelection();
    QTest::keyClick(List1(form), Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(selectedRowsIn(List1(form)), QList<int>({0}));
    QTest::keyClick(List1(form), Qt::Key_Enter);
    QCOMPARE(m_fakes->sound.played.size(), 2);
    QTest::keyClick(List1(form), Qt::Key_Delete);
    QCOMPARE(form.playList().count(), 0);
    QVERIFY(QFile::exists(m_dir->filePath("b.wav"))); // the file itself stays

    // Escape ends the sound, wherever the focus is in the window.
    QTest::keyClick(Dir1(form), Qt::Key_Escape);
    QCOMPARE(m_fakes->sound.stops, 1);
}

void TestMenus::auditionKeys()
{
    Form1 &form = *m_form;
    m_fakes->clock.step = 0;
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    File1(form)->setFocus();
    const QString b = m_dir->filePath("b.wav");

    // Space plays the entry with the focus frame from its start, selected; again, it ends it.
    File1(form)->setCurrentIndex(File1(form)->model()->index(1, 0));
    File1(form)->selectionModel()->clearSelection();
    QTest::keyClick(File1(form), Qt::Key_Space);
    QCOMPARE(m_fakes->sound.played, QStringList({b}));
    QCOMPARE(File1(form)->selectedNames(), QStringList({"b.wav"}));
    QTest::keyClick(File1(form), Qt::Key_Space);
    QCOMPARE(m_fakes->sound.stops, 1);
    QCOMPARE(m_fakes->sound.played.size(), 1);

    // A space in the middle of typing a name goes to the search.
    QTest::keyClick(File1(form), Qt::Key_A);
    QTest::keyClick(File1(form), Qt::Key_Space);
    QCOMPARE(m_fakes->sound.played.size(), 1);

    // While it plays, Alt+Right and Alt+Left move by five seconds; Ctrl+L makes it repeat
    // from where it is.
    QTest::qWait(QApplication::keyboardInputInterval() + 50);
    File1(form)->setCurrentIndex(File1(form)->model()->index(1, 0));
    QTest::keyClick(File1(form), Qt::Key_Space);
    QCOMPARE(m_fakes->sound.played.last(), b);
    m_fakes->clock.now += 1;
    QTest::keyClick(File1(form), Qt::Key_Right, Qt::AltModifier);
    QTRY_COMPARE(m_fakes->sound.requests.last().startFrame, 6 * 48000);
    QTest::keyClick(File1(form), Qt::Key_Left, Qt::AltModifier);
    QTRY_COMPARE(m_fakes->sound.requests.last().startFrame, 1 * 48000);
    QTest::keyClick(File1(form), Qt::Key_Left, Qt::AltModifier);
    QTRY_COMPARE(m_fakes->sound.requests.last().startFrame, 0);
    QVERIFY(!m_fakes->sound.requests.last().loop);
    QTest::keyClick(Dir1(form), Qt::Key_L, Qt::ControlModifier);
    QTRY_VERIFY(m_fakes->sound.requests.last().loop);
    QTRY_COMPARE(m_fakes->sound.requests.last().startFrame, 0);
    QCOMPARE(m_fakes->sound.requests.last().loopFrom, 0);
}

QTEST_MAIN(TestMenus)
#include "tst_menus.moc"
