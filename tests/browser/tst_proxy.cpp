// A sort between the folder's model and the file list: every command acts on the entries
// as the user sees them, whatever row each has in the folder.
#include "FormFixture.h"
#include "ModalAnswerer.h"
#include "TestFiles.h"
#include "WaveWriter.h"
#include "browser/FileList.h"
#include "browser/WaveFolderModel.h"
#include "files/Loudness.h"
#include "playback/Form2.h"
#include "playlist/PlayListModel.h"
#include "ui/OneColumnProxy.h"

#include <QHelpEvent>
#include <QMimeData>
#include <QSortFilterProxyModel>
#include <QTest>
#include <QToolTip>
#include <QUrl>

namespace {
// Each file its own loudness and rate: the loudest last once sorted, and the rate tells the
// tooltips apart.
struct Take
{
    const char *name;
    double lufs;
    int rate;
};
constexpr Take takes[] = {
    {"a.wav", -10, 11025}, {"b.wav", -30, 16000}, {"c.wav", -20, 22050}, {"d.wav", -40, 8000}};
// Sorted by loudness, quietest first.
const QStringList byLoudness = {"d.wav", "b.wav", "c.wav", "a.wav"};
} // namespace

class TestProxy : public QObject, protected FormFixture
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void theListShowsTheFolderInTheProxysOrder();
    void theListsOneColumnIsTheEntryOfEachRow_data();
    void theListsOneColumnIsTheEntryOfEachRow();
    void aSinglePlayPlaysTheEntryShown_data();
    void aSinglePlayPlaysTheEntryShown();
    void theChainPlaysAndAddsInTheOrderShown();
    void addToListAndDragTakeTheEntriesShown_data();
    void addToListAndDragTakeTheEntriesShown();
    void deleteTakesTheEntryShown();
    void theTooltipDescribesTheEntryUnderThePointer_data();
    void theTooltipDescribesTheEntryUnderThePointer();

private:
    QStringList shownNames() const;
    QString pathOf(const QString &name) const { return m_dir->filePath(name); }
    QStringList pathsOf(const QStringList &names) const;
    TrashRecordingFiles m_files;
    QSortFilterProxyModel *m_proxy = nullptr;
};

void TestProxy::init()
{
    makeFolder({});
    for (const Take &take : takes)
        QVERIFY(writeTone(m_dir->filePath(take.name), 0.5, take.rate));
    m_fakes->measureLoudness = [](const QString &path, const std::function<bool()> &) {
        Loudness loudness;
        for (const Take &take : takes) {
            if (path.endsWith(QLatin1String(take.name))) {
                loudness.integratedLufs = take.lufs;
                loudness.rangeLu = 1;
                loudness.truePeakDbtp = take.lufs + 6;
                loudness.samplePeakDbfs = take.lufs + 5;
            }
        }
        return std::optional<Loudness>(loudness);
    };
    m_files.trashed.clear();
    Form1 &form =
        makeForm(Services{m_fakes->settings, m_fakes->sound, m_fakes->waveLength, m_fakes->clock,
                          m_fakes->volumes, m_fakes->desktop, m_files, m_fakes->measureLoudness});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    FileList *list = File1(form);
    m_proxy = new QSortFilterProxyModel(list);
    m_proxy->setSourceModel(&list->folderModel());
    m_proxy->setSortRole(WaveFolderModel::SortRole);
    m_proxy->sort(WaveFolderModel::LoudnessColumn);
    list->showThrough(m_proxy);
    // The folder's order until the figures come, then the proxy's as each arrives.
    QTRY_COMPARE_WITH_TIMEOUT(shownNames(), byLoudness, 10000);
}

void TestProxy::cleanup()
{
    m_form.reset();
}

QStringList TestProxy::shownNames() const
{
    QStringList names;
    for (int row = 0; row < File1(*m_form)->listCount(); ++row)
        names.append(nameAt(File1(*m_form), row));
    return names;
}

QStringList TestProxy::pathsOf(const QStringList &names) const
{
    QStringList paths;
    for (const QString &name : names)
        paths.append(pathOf(name));
    return paths;
}

void TestProxy::theListShowsTheFolderInTheProxysOrder()
{
    const QAbstractItemModel &folder = File1(*m_form)->folderModel();
    // The folder itself keeps its order; the columns say what the proxy sorts by.
    QCOMPARE(folder.index(0, WaveFolderModel::Name).data(Qt::DisplayRole).toString(),
             QString("a.wav"));
    QCOMPARE(folder.headerData(WaveFolderModel::LoudnessColumn, Qt::Horizontal).toString(),
             QString("Loudness"));
    QCOMPARE(m_proxy->index(0, WaveFolderModel::LoudnessColumn).data().toString(),
             QString("-40.0 LUFS"));
    QCOMPARE(m_proxy->index(0, 0).data(WaveFolderModel::LoudnessRole).toDouble(), -40.0);
    QTRY_COMPARE(m_proxy->index(0, WaveFolderModel::Rate).data().toString(), QString("8000 Hz"));
    QCOMPARE(m_proxy->index(3, WaveFolderModel::TruePeak).data().toString(), QString("-4.0 dBTP"));
    // The list still shows the names alone, one column.
    QCOMPARE(File1(*m_form)->model()->columnCount(), 1);
}

void TestProxy::theListsOneColumnIsTheEntryOfEachRow_data()
{
    QTest::addColumn<bool>("sorted");
    QTest::newRow("the folder's model") << false;
    QTest::newRow("a sort between") << true;
}

// The list's one column makes its indexes itself over a flat model: each must still be the
// entry of its row, and there is none beyond the rows or columns.
void TestProxy::theListsOneColumnIsTheEntryOfEachRow()
{
    QFETCH(bool, sorted);
    QAbstractItemModel *source = &File1(*m_form)->folderModel();
    if (sorted)
        source = m_proxy;
    OneColumnProxy shown;
    shown.setSourceModel(source);
    QCOMPARE(shown.rowCount(), 4);
    for (int row = 0; row < shown.rowCount(); ++row) {
        const QModelIndex index = shown.index(row, 0);
        QCOMPARE(shown.mapToSource(index), source->index(row, 0));
        QCOMPARE(shown.mapFromSource(source->index(row, 0)), index);
        QCOMPARE(index.data().toString(), source->index(row, 0).data().toString());
        QVERIFY(shown.parent(index) == QModelIndex());
    }
    QVERIFY(!shown.index(4, 0).isValid());
    QVERIFY(!shown.index(-1, 0).isValid());
    QVERIFY(!shown.index(0, 1).isValid());
    QVERIFY(!shown.index(0, 0, shown.index(0, 0)).isValid());
}

void TestProxy::aSinglePlayPlaysTheEntryShown_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("byKey");
    for (int row : {0, 3}) {
        QTest::addRow("Play, row %d", row) << row << false;
        QTest::addRow("Enter, row %d", row) << row << true;
    }
}

void TestProxy::aSinglePlayPlaysTheEntryShown()
{
    QFETCH(int, row);
    QFETCH(bool, byKey);
    Form1 &form = *m_form;
    FileList *list = File1(form);
    selectRows(list, {row});
    if (byKey) {
        list->setCurrentIndex(list->model()->index(row, 0));
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Return);
    } else {
        Command1(form)->click();
    }
    QTRY_COMPARE(m_fakes->sound.played, QStringList({pathOf(byLoudness[row])}));
}

void TestProxy::theChainPlaysAndAddsInTheOrderShown()
{
    Form1 &form = *m_form;
    // Picked in another order than shown: the chain goes down the list as it is shown.
    selectRows(File1(form), {2, 0});
    ModalAnswerer answerer;
    answerer.onOther = [&](QWidget *w) {
        auto *chain = qobject_cast<Form2 *>(w);
        QVERIFY(chain);
        chain->Command10->click(); // add the first, go on with the second
        QTimer::singleShot(50, chain, [chain] { chain->Command8->click(); });
    };
    form.Command1_Click();
    QVERIFY(!form.findChild<Form2 *>());
    QCOMPARE(m_fakes->sound.played, pathsOf({byLoudness[0], byLoudness[2]}));
    QCOMPARE(form.playList().names(), QStringList({byLoudness[0]}));
    QCOMPARE(form.playList().paths(), pathsOf({byLoudness[0]}));
}

void TestProxy::addToListAndDragTakeTheEntriesShown_data()
{
    QTest::addColumn<QList<int>>("rows");
    QTest::addRow("one") << QList<int>{1};
    QTest::addRow("two, picked upwards") << QList<int>{3, 1};
    QTest::addRow("all") << QList<int>{0, 1, 2, 3};
}

void TestProxy::addToListAndDragTakeTheEntriesShown()
{
    QFETCH(QList<int>, rows);
    Form1 &form = *m_form;
    selectRows(File1(form), rows);
    std::sort(rows.begin(), rows.end());
    QStringList names;
    for (int row : rows)
        names.append(byLoudness[row]);
    // What the window's drag carries: the files of the entries shown, in the order shown.
    QCOMPARE(File1(form)->selectedPaths(), pathsOf(names));
    // The mime data Qt's own drag would take from the model through the proxies: the same
    // files, in the folder's order.
    const std::unique_ptr<QMimeData> mime(
        File1(form)->model()->mimeData(File1(form)->selectionModel()->selectedIndexes()));
    QStringList dragged;
    for (const QUrl &url : mime->urls())
        dragged.append(url.toLocalFile());
    QStringList inFolderOrder = pathsOf(names);
    inFolderOrder.sort();
    QCOMPARE(dragged, inFolderOrder);
    form.Command3_Click();
    QCOMPARE(form.playList().names(), names);
    QCOMPARE(form.playList().paths(), pathsOf(names));
}

void TestProxy::deleteTakesTheEntryShown()
{
    Form1 &form = *m_form;
    ModalAnswerer answerer(QMessageBox::Ok);
    selectRows(File1(form), {1});
    form.Command2_Click();
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen[0].text, QString("Delete file %1 ?").arg(byLoudness[1]));
    QCOMPARE(m_files.trashed, pathsOf({byLoudness[1]}));
    QVERIFY(!QFile::exists(pathOf(byLoudness[1])));
    // The folder read again, still in the proxy's order.
    QStringList left = byLoudness;
    left.removeAt(1);
    QTRY_COMPARE(shownNames(), left);
}

void TestProxy::theTooltipDescribesTheEntryUnderThePointer_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("rate");
    QTest::addRow("first") << 0 << "8,000 Hz";
    QTest::addRow("last") << 3 << "11,025 Hz";
}

void TestProxy::theTooltipDescribesTheEntryUnderThePointer()
{
    QFETCH(int, row);
    QFETCH(QString, rate);
    FileList *list = File1(*m_form);
    const QPoint at = list->visualRect(list->model()->index(row, 0)).center();
    const auto hover = [&] {
        QHelpEvent help(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(list->viewport(), &help);
        return QToolTip::text();
    };
    QTRY_VERIFY_WITH_TIMEOUT(hover().contains(rate), 5000);
    QToolTip::hideText();
}

QTEST_MAIN(TestProxy)
#include "tst_proxy.moc"
