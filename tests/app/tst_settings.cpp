#include "Fakes.h"
#include "app/Settings.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestSettings : public QObject
{
    Q_OBJECT
private slots:
    void firstRunReadsDefaultsAndWritesOnlyTheTwoSwitches();
    void autosaveRestoresStyleAndDefaultsFile2DirToTrue();
    void autosaveOffIgnoresAndKeepsStoredStyle();
    void autoConditionCentresAStoredSizeWithoutPosition();
    void closingWritesGeometryInItsOrder();
    void garbledValuesFallBackToDefaults_data();
    void garbledValuesFallBackToDefaults();
    void tooSmallStoredSizeIsRaised();
    void storedEditorWins();
    void aSettingsFileThatCannotBeWrittenIsReported();

private:
    QTemporaryDir m_config;
};

void TestSettings::firstRunReadsDefaultsAndWritesOnlyTheTwoSwitches()
{
    FakeSettingsStore store;
    Settings settings(store);
    const SettingsState state = settings.readStyle();
    QCOMPARE(state.autosave, false);
    QCOMPARE(state.autoCondition, false);
    QCOMPARE(state.buttons, true);
    QCOMPARE(state.file2Dir, false);
    QCOMPARE(state.soundEditor, Settings::defaultSoundEditor());

    settings.writeAtClosing(state, {7815, 5100, 100, 200});
    QCOMPARE(store.writes, QStringList({"Startup/Autosave=False", "Startup/AutoCondition=False"}));
}

void TestSettings::autosaveRestoresStyleAndDefaultsFile2DirToTrue()
{
    FakeSettingsStore store;
    store.values["Startup/Autosave"] = "True";
    Settings settings(store);
    SettingsState state = settings.readStyle();
    QVERIFY(state.autosave);
    QCOMPARE(state.buttons, true);
    QCOMPARE(state.file2Dir, true); // missing key: the large list

    QCOMPARE(state.waveform, false); // the new switches default to off
    QCOMPARE(state.autoPreview, false);

    store.values["Startup/Buttons"] = "False";
    store.values["Startup/File2Dir"] = "False";
    store.values["Startup/Waveform"] = "True";
    store.values["Startup/AutoPreview"] = "True";
    state = settings.readStyle();
    QCOMPARE(state.buttons, false);
    QCOMPARE(state.file2Dir, false);
    QCOMPARE(state.waveform, true);
    QCOMPARE(state.autoPreview, true);
    state.waveform = state.autoPreview = false;

    state.buttons = true;
    settings.writeAtClosing(state, {});
    QCOMPARE(store.writes, QStringList({"Startup/Autosave=True", "Startup/AutoCondition=False",
                                        "Startup/Buttons=True", "Startup/File2Dir=False",
                                        "Startup/Waveform=False", "Startup/AutoPreview=False"}));
}

void TestSettings::autosaveOffIgnoresAndKeepsStoredStyle()
{
    FakeSettingsStore store;
    store.values["Startup/Buttons"] = "False";
    store.values["Startup/File2Dir"] = "True";
    store.values["Startup/Waveform"] = "True";
    Settings settings(store);
    SettingsState state = settings.readStyle();
    QCOMPARE(state.buttons, true);
    QCOMPARE(state.file2Dir, false);
    QCOMPARE(state.waveform, false);
    state.autoPreview = true;
    settings.writeAtClosing(state, {});
    QCOMPARE(store.values["Startup/Buttons"], QString("False"));
    QCOMPARE(store.values["Startup/File2Dir"], QString("True"));
    QCOMPARE(store.values["Startup/Waveform"], QString("True"));
    QVERIFY(!store.values.contains("Startup/AutoPreview"));
}

void TestSettings::autoConditionCentresAStoredSizeWithoutPosition()
{
    FakeSettingsStore store;
    store.values["Startup/AutoCondition"] = "True";
    store.values["Startup/Width"] = "9000";
    store.values["Startup/Height"] = "6000";
    Settings settings(store);
    QVERIFY(settings.readStyle().autoCondition);
    const OuterGeometry g = settings.readGeometry({19200, 12000}, {4000, 3940});
    QCOMPARE(g.width, 9000.0);
    QCOMPARE(g.height, 6000.0);
    QCOMPARE(g.left, 19200 / 2.0 - 9000 / 2.0);
    QCOMPARE(g.top, 12000 / 2.0 - 6000 / 2.0);

    store.values["Startup/Left"] = "15";
    store.values["Startup/Top"] = "30";
    const OuterGeometry placed = settings.readGeometry({19200, 12000}, {4000, 3940});
    QCOMPARE(placed.left, 15.0);
    QCOMPARE(placed.top, 30.0);

    store.values.clear();
    const OuterGeometry designed = settings.readGeometry({19200, 12000}, {4000, 3940});
    QCOMPARE(designed.width, 7815.0);
    QCOMPARE(designed.height, 5100.0);
}

void TestSettings::closingWritesGeometryInItsOrder()
{
    FakeSettingsStore store;
    Settings settings(store);
    SettingsState state;
    state.autoCondition = true;
    settings.writeAtClosing(state, {7815, 5100, 1234.5, 60});
    QCOMPARE(store.writes, QStringList({"Startup/Autosave=False", "Startup/AutoCondition=True",
                                        "Startup/Width=7815", "Startup/Height=5100",
                                        "Startup/Top=60", "Startup/Left=1234.5"}));
}

void TestSettings::garbledValuesFallBackToDefaults_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("asBool");
    QTest::addColumn<double>("asNumber");
    QTest::newRow("yes") << "yes" << true << 7815.0;
    QTest::newRow("abc") << "abc" << true << 7815.0;
    QTest::newRow("empty") << "" << true << 7815.0;
    QTest::newRow("false lower") << "false" << false << 7815.0;
    QTest::newRow("TRUE upper") << "TRUE" << true << 7815.0;
    QTest::newRow("number zero") << "0" << false << 0.0;
    QTest::newRow("minus one") << "-1" << true << -1.0;
    QTest::newRow("infinite") << "inf" << true << 7815.0;
    QTest::newRow("spaces") << " 8000 " << true << 8000.0;
}

void TestSettings::garbledValuesFallBackToDefaults()
{
    QFETCH(QString, text);
    QFETCH(bool, asBool);
    QFETCH(double, asNumber);
    QCOMPARE(Settings::parseBool(text, true), asBool);
    QCOMPARE(Settings::parseSingle(text, 7815), asNumber);
}

void TestSettings::tooSmallStoredSizeIsRaised()
{
    FakeSettingsStore store;
    store.values["Startup/Width"] = "10";
    store.values["Startup/Height"] = "-500";
    const OuterGeometry g = Settings(store).readGeometry({19200, 12000}, {4000, 3940});
    QCOMPARE(g.width, 4000.0);
    QCOMPARE(g.height, 3940.0);
    QCOMPARE(g.left, 9600.0 - 2000.0);
}

void TestSettings::storedEditorWins()
{
    FakeSettingsStore store;
    Settings settings(store);
    settings.writeSoundEditor("sox --play");
    QCOMPARE(settings.readStyle().soundEditor, QString("sox --play"));
    QCOMPARE(store.writes, QStringList({"SoundEditor/Default=sox --play"}));
}

void TestSettings::aSettingsFileThatCannotBeWrittenIsReported()
{
    // Where the settings folder should be there is a file: no write can succeed, not even
    // for root, as with a read-only ~/.config or a full disk.
    QVERIFY(QFile(m_config.filePath("QuillonSonoret")).open(QIODevice::WriteOnly));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_config.path());
    IniSettingsStore store;
    Settings settings(store);
    QCOMPARE(settings.location(), m_config.filePath("QuillonSonoret/QuillonSonoret.ini"));
    QVERIFY(!settings.writeAutosave(true));
    QVERIFY(!settings.writeSoundEditor("sox --play"));
    QVERIFY(!settings.writeAtClosing({}, {7815, 5100, 0, 0}));
    // The fake answers the same way, for the windows' tests.
    FakeSettingsStore fake;
    fake.failing = true;
    QVERIFY(!Settings(fake).writeAutoCondition(true));
    QVERIFY(fake.values.isEmpty());
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
