#include "app/Layout.h"

#include <QTest>

class TestLayout : public QObject
{
    Q_OBJECT
private slots:
    void columns_data();
    void columns();
    void followsClientHeight();
    void frameThreshold_data();
    void frameThreshold();
    void withoutButtonsLeavesColumnAlone();
    void minimumSize();
};

void TestLayout::columns_data()
{
    QTest::addColumn<double>("sw");
    QTest::addColumn<bool>("buttons");
    QTest::addColumn<bool>("file2Dir");
    QTest::addColumn<double>("fileWidth");
    QTest::addColumn<double>("dirWidth");
    QTest::newRow("large list, buttons") << 513.0 << true << true << 224.6667 << 112.3333;
    QTest::newRow("normal, buttons") << 513.0 << true << false << 168.5 << 168.5;
    QTest::newRow("normal, no buttons") << 513.0 << false << false << 244.5 << 244.5;
    QTest::newRow("large, no buttons") << 513.0 << false << true << 326.0 << 163.0;
}

void TestLayout::columns()
{
    QFETCH(double, sw);
    QFETCH(bool, buttons);
    QFETCH(bool, file2Dir);
    QFETCH(double, fileWidth);
    QFETCH(double, dirWidth);
    const MainLayout l = layoutMainWindow(sw, 314, 5100, buttons, file2Dir);
    QVERIFY(qAbs(l.file1Width - fileWidth) < 0.001);
    QCOMPARE(l.list1Width, l.file1Width);
    QVERIFY(qAbs(l.dir1Width - dirWidth) < 0.001);
    QCOMPARE(l.drive1Width, l.dir1Width);
    // The directory column starts 16 pixels after the file list's width; its left margin
    // is not added.
    QCOMPARE(l.dir1Left, l.file1Width + 16);
    QCOMPARE(l.drive1Left, l.file1Width + 16);
    // and ends 8 pixels short of the button column, or of the window's edge.
    if (!file2Dir) {
        const double right = l.dir1Left + l.dir1Width;
        QVERIFY(qAbs(right - (buttons ? sw - 152 - 8 : sw - 8)) < 0.001);
    }
}

void TestLayout::followsClientHeight()
{
    const MainLayout l = layoutMainWindow(513, 314, 5100, true, false);
    QCOMPARE(l.file1Height, 218.0);
    QCOMPARE(l.list1Top, 234.0);
    QCOMPARE(l.dir1Height, 266.0);
    QCOMPARE(l.drive1Top, 282.0);
    QCOMPARE(l.buttonLeft, 361.0);
    QCOMPARE(l.command9Left, 465.0);
    QCOMPARE(l.frameLeft, 361.0);
    QCOMPARE(l.frameTop, 234.0);
}

void TestLayout::frameThreshold_data()
{
    QTest::addColumn<double>("outerHeight");
    QTest::addColumn<bool>("visible");
    QTest::newRow("designed") << 5100.0 << true;
    QTest::newRow("one pixel lower") << 5085.0 << false;
    QTest::newRow("minimum") << 3940.0 << false;
    QTest::newRow("taller") << 9000.0 << true;
}

void TestLayout::frameThreshold()
{
    QFETCH(double, outerHeight);
    QFETCH(bool, visible);
    QCOMPARE(layoutMainWindow(513, outerHeight / 15 - 26, outerHeight, true, false).frameVisible,
             visible);
}

void TestLayout::withoutButtonsLeavesColumnAlone()
{
    const MainLayout l = layoutMainWindow(513, 314, 5100, false, false);
    QVERIFY(!l.buttonsPlaced);
    QVERIFY(!l.frameVisible);
}

void TestLayout::minimumSize()
{
    QCOMPARE(raisedToMinimum({100, 100}), QSizeF(4000, 3940));
    QCOMPARE(raisedToMinimum({3999, 6000}), QSizeF(4000, 6000));
    QCOMPARE(raisedToMinimum({7815, 5100}), QSizeF(7815, 5100));
}

QTEST_GUILESS_MAIN(TestLayout)
#include "tst_layout.moc"
