#include "LibraryTesting.h"
#include "library/LibraryIndexer.h"
#include "library/LibraryQuery.h"
#include "library/SqliteLibraryStore.h"
#include "platform/NativeName.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <ctime>
#include <functional>
#include <tuple>

class TestLibraryQuery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void parse_data();
    void parse();
    void matches_data();
    void matches();
    void hostileQueries_data();
    void hostileQueries();
    void pagesInEveryOrder_data();
    void pagesInEveryOrder();
    void changesLeaveTheIndex_data();
    void changesLeaveTheIndex();
    void manyFilesAreScannedInTwoHalves();

private:
    // Answers from the statements, or from the index in memory, as the row asks.
    void answerFrom(bool memory);

    QTemporaryDir m_dir;
    std::unique_ptr<SqliteLibraryStore> m_store;
};

void TestLibraryQuery::initTestCase()
{
    m_store = std::make_unique<SqliteLibraryStore>(m_dir.filePath("library.sqlite"));
    QVERIFY(m_store->open().ok());
    const qint64 root = m_store->addRoot(QStringLiteral("/lib"), 1)->id;
    LibraryBatch batch;
    batch.root = root;
    const auto add = [&batch](const QByteArray &folder, const QByteArray &name, int rate,
                              int channels, const QString &encoding, qint64 frames,
                              std::optional<double> lufs = {}, const QString &note = {}) {
        LibraryEntry entry = entryOf(folder, name);
        entry.info.sampleRate = rate;
        entry.info.channels = channels;
        entry.info.encoding = encoding;
        entry.info.frames = frames;
        entry.info.note = note;
        if (lufs) {
            Loudness loudness;
            loudness.integratedLufs = *lufs;
            loudness.truePeakDbtp = *lufs + 10;
            loudness.samplePeakDbfs = *lufs + 9.5;
            entry.loudness = loudness;
        }
        batch.entries.append(entry);
    };
    // 48 kHz: 48,000 frames a second.
    add("/lib/Drums/Kicks", "Kick Deep 01.wav", 48000, 2, "PCM 24-bit", 48000, -12);
    add("/lib/Drums/Kicks", "kick_room_02.WAV", 44100, 1, "PCM 16-bit", 44100 * 3, -20);
    add("/lib/Drums/Snares", "Snare Tight.wav", 48000, 2, "IEEE float 32-bit", 24000, -8.5);
    add("/lib/Field", "Forêt à l'aube.wav", 96000, 2, "PCM 24-bit", 96000 * 95, {},
        QStringLiteral("birds, wind noise"));
    add("/lib/Field", "Rain on roof.wav", 48000, 2, "PCM 16-bit", 48000 * 200, -30,
        QStringLiteral("kick drum of a neighbour"));
    add("/lib/Odd", "100% kick.wav", 8000, 1, QString::fromUtf8("µ-law"), 8000);
    add("/lib/Odd", "under_score.wav", 8000, 1, QStringLiteral("A-law"), 8000);
    add("/lib/Odd", "it's; drop.wav", 8000, 1, QStringLiteral("PCM 8-bit"), 8000);
    add("/lib/Odd", "caf\xe9 noir.wav", 8000, 1, QStringLiteral("PCM 8-bit"), 8000);
    add("/lib/Odd", "a\"quote\".wav", 8000, 1, QStringLiteral("PCM 8-bit"), 8000);
    // Random bytes named .wav: no format, rate, channels, bits nor length, but a date; and
    // one that changed while it was read, with no date until it is read again.
    for (const auto &[name, modifiedNs] :
         {std::pair{"hum.wav", qint64(1'700'000'000'000'000'000)}, std::pair{"buzz.wav", 0LL}}) {
        LibraryEntry broken = entryOf("/lib/Odd", name, 1000, modifiedNs);
        broken.info = WaveInfo();
        broken.info.problem = QStringLiteral("not a wave file");
        batch.entries.append(broken);
    }
    QVERIFY(m_store->write(batch).ok());
}

void TestLibraryQuery::answerFrom(bool memory)
{
    if (!memory) {
        m_store->dropSearchIndex();
        QVERIFY(!m_store->searchIndexIsCurrent().value());
        return;
    }
    QVERIFY(m_store->loadSearchIndex().value() > 0);
    QVERIFY(m_store->searchIndexIsCurrent().value());
}

// Each row twice: the statements and the index in memory must give the same answers.
void addBothWays(const std::function<void(bool memory, const char *way)> &rows)
{
    QTest::addColumn<bool>("memory");
    rows(false, "statements");
    rows(true, "memory");
}

void TestLibraryQuery::parse_data()
{
    QTest::addColumn<QString>("text");
    // The terms' forms, or "error" for a query that must not be read.
    QTest::addColumn<QString>("expected");
    const auto row = [](const char *name, const QString &text, const QString &expected) {
        QTest::newRow(name) << text << expected;
    };
    row("word", "kick", "text\"kick\"");
    row("words folded", "Kick SNARE", "text\"kick\" text\"snare\"");
    row("accents folded", "Café Forêt", "text\"cafe\" text\"foret\"");
    row("ligature", QString::fromUtf8("\xef\xac\x81le"), "text\"file\"");
    row("excluded", "-noise kick", "-text\"noise\" text\"kick\"");
    row("phrase", "\"two words\"", "text\"two words\"");
    row("excluded phrase", "-\"room tone\" x", "-text\"room tone\" text\"x\"");
    row("open quote runs to the end", "kick \"room to", "text\"kick\" text\"room to\"");
    row("empty phrase", "\"\" kick", "text\"kick\"");
    row("nothing", "   ", "");
    row("rate", "rate:48000", "rate[48000,48000]");
    row("rate in k", "rate:48k", "rate[48000,48000]");
    row("rate in fractional k", "rate:44.1kHz", "rate[44100,44100]");
    row("rate range", "rate:44100-48000", "rate[44100,48000]");
    row("channels", "ch:2", "ch[2,2]");
    row("channels at least", "channels:>=2", "ch[2,]");
    row("bits", "bits:24", "bits[24,24]");
    row("bits below", "bits:<16", "bits[,16)");
    row("format", "format:Float", "format\"float\"");
    row("length under", "length:<2s", "length[,2000)");
    row("length range", "length:1m-3m", "length[60000,180000]");
    row("length reversed range", "length:3m..1m", "length[60000,180000]");
    row("length rounded", "length:1m35s", "length[94500,95500)");
    row("length in ms", "length:500ms", "length[499.5,500.5)");
    row("length over tenths", "length:>1.5s", "length(1500,]");
    row("bare length is seconds", "length:2", "length[1500,2500)");
    row("length of hours", "duration:<=1h", "length[,3600000]");
    row("loudness over", "lufs:>-16", "lufs(-16,]");
    row("loudness range", "lufs:-20..-10", "lufs[-20,-10]");
    row("loudness range of dashes", "lufs:-20--10", "lufs[-20,-10]");
    row("loudness with unit", "loudness:-23LUFS", "lufs[-23.5,-22.5)");
    row("loudness tenths", "lufs:-23.0", "lufs[-23.05,-22.95)");
    row("peak", "peak:>-1", "peak(-1,]");
    row("peak with unit", "peak:>=-1dBTP", "peak[-1,]");
    row("clip", "clip:yes", "clip:yes");
    row("no clip", "clip:No", "clip:no");
    row("excluded field", "-clip:yes", "-clip:yes");
    // TZ is UTC here (main()).
    row("year", "date:2024", "date[1704067200,1735689600)");
    row("month", "date:2024-05", "date[1714521600,1717200000)");
    row("day", "date:2024-05-03", "date[1714694400,1714780800)");
    row("years", "date:2023-2024", "date[1672531200,1735689600)");
    row("after a year", "date:>2023", "date[1704067200,]");
    row("up to a day", "date:<=2023-06-30", "date[,1688169600)");
    row("before a month", "date:<2023-06", "date[,1685577600)");
    row("folder", "folder:Drums", "folder\"drums\"");
    row("name", "NAME:Kick", "name\"kick\"");
    row("quoted field", "name:\"kick deep\"", "name\"kick deep\"");
    row("short word", "ki", "text\"ki\"");
    row("unknown field is text", "foo:bar", "text\"foo:bar\"");
    row("time of day is text", "12:30", "text\"12:30\"");
    row("dash inside a word", "a-b", "text\"a-b\"");
    // Operators with no field before them would find nothing anyone meant: said so.
    row("only operators", "<>= <", "error");
    row("a sign searched for", "%", "text\"%\"");
    row("sql", "'; drop table files; --",
        "text\"';\" text\"drop\" text\"table\" text\"files;\" -text\"-\"");
    row("wildcards", "* % _ kick*", "text\"*\" text\"%\" text\"_\" text\"kick*\"");
    row("regex", ".*[a-z]+$ (a|b)", "text\".*[a-z]+$\" text\"(a|b)\"");
    row("fts syntax", "NEAR(a b) {name_key}:x", "text\"near(a\" text\"b)\" text\"{name_key}:x\"");

    row("field without value", "rate:", "error");
    row("field with an empty phrase", "name:\"\"", "error");
    row("rate not a number", "rate:fast", "error");
    row("channels not whole", "ch:1.5", "error");
    row("length without unit", "length:1m30", "error");
    row("length of nothing", "length:<", "error");
    row("length unit unknown", "length:3parsecs", "error");
    row("loudness not a number", "lufs:loud", "error");
    row("operators alone", "rate:<>=", "error");
    row("clip maybe", "clip:maybe", "error");
    row("no such month", "date:2024-13", "error");
    row("no such day", "date:2023-02-29", "error");
    row("dash alone", "-", "error");
    // Signs with no word would find everything, or everything but a sign.
    row("two dashes", "--", "error");
    row("signs alone", "< > = .. >=", "error");
    row("a sign left out", "-* -%", "error");
    row("a phrase of operators", "\"-- ..\"", "error");
    row("signs beside a word", "kick --", "text\"kick\" -text\"-\"");
    row("signs beside a field", "<> rate:48000", "text\"<>\" rate[48000,48000]");
    // Wildcards and the signs of patterns alone find nothing meant: no sign is special.
    row("a star alone", "*", "error");
    row("a question mark alone", "?", "error");
    row("stars and a question mark", "** ?", "error");
    row("a pattern of signs", ".* ^$ [] () {} | \\ +", "error");
    row("a quoted star", "\"*\"", "error");
    row("a star left out beside one", "* -*", "error");
    row("a sign names hold", "#", "text\"#\"");
    row("a star beside a sign names hold", "% *", "text\"%\" text\"*\"");
    row("dash at the end", "kick -", "error");
    row("too long", QString(10000, u'a'), "error");
    row("too many terms", QString("w ").repeated(LibraryQuery::maxTerms + 1), "error");
}

void TestLibraryQuery::parse()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    const LibraryQuery query = LibraryQuery::parse(text);
    if (expected == "error") {
        QVERIFY2(!query.ok(), qPrintable(query.describe()));
        QVERIFY(query.terms.isEmpty());
        // One line, never empty.
        QVERIFY(!query.error.isEmpty());
        QVERIFY(!query.error.contains(u'\n'));
        QVERIFY(query.error.size() < 200);
    } else {
        QVERIFY2(query.ok(), qPrintable(query.error));
        QCOMPARE(query.describe(), expected);
    }
}

void TestLibraryQuery::matches_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("names");
    addBothWays([](bool memory, const char *way) {
        const auto row = [memory, way](const char *name, const char *text,
                                       const QStringList &names) {
            QTest::addRow("%s, %s", name, way) << QString::fromUtf8(text) << names << memory;
        };
        const QString cafe = pathFromNative("caf\xe9 noir.wav");
        row("a word in names and texts", "kick",
            {"100% kick.wav", "Kick Deep 01.wav", "kick_room_02.WAV", "Rain on roof.wav"});
        row("a word in a folder", "snares", {"Snare Tight.wav"});
        row("a part of a word", "ick",
            {"100% kick.wav", "Kick Deep 01.wav", "kick_room_02.WAV", "Rain on roof.wav"});
        row("every word", "kick roo", {"kick_room_02.WAV", "Rain on roof.wav"});
        row("name only", "name:kick roo", {"kick_room_02.WAV"});
        row("name only, both", "name:kick name:room", {"kick_room_02.WAV"});
        row("folder", "folder:kicks", {"Kick Deep 01.wav", "kick_room_02.WAV"});
        row("short word in a folder", "folder:ki", {"Kick Deep 01.wav", "kick_room_02.WAV"});
        row("excluded", "kick -room", {"100% kick.wav", "Kick Deep 01.wav", "Rain on roof.wav"});
        row("excluded text", "kick -neighbour",
            {"100% kick.wav", "Kick Deep 01.wav", "kick_room_02.WAV"});
        row("phrase", "\"kick drum\"", {"Rain on roof.wav"});
        row("phrase in order only", "\"drum kick\"", {});
        row("accents either way", "FORET", {"Forêt à l'aube.wav"});
        row("accented word", "aubé", {"Forêt à l'aube.wav"});
        row("short words", "on ro", {"Rain on roof.wav"});
        row("a name not UTF-8", "noir", {cafe});
        row("rate", "rate:48000", {"Kick Deep 01.wav", "Rain on roof.wav", "Snare Tight.wav"});
        row("rate and word", "rate:48k kick", {"Kick Deep 01.wav", "Rain on roof.wav"});
        row("two words and a field", "drums kick ch:1", {"kick_room_02.WAV"});
        // The longer word is matched first, the rest tested on its hits: the same answer in
        // whatever order the terms come.
        row("the longer word last", "ro kick", {"kick_room_02.WAV", "Rain on roof.wav"});
        row("a field before the words", "ch:1 kick drums", {"kick_room_02.WAV"});
        row("excluded before the word", "-ro kick", {"100% kick.wav", "Kick Deep 01.wav"});
        row("channels", "ch:>1 -rate:48000", {"Forêt à l'aube.wav"});
        row("bits", "bits:24", {"Forêt à l'aube.wav", "Kick Deep 01.wav"});
        row("law bits", "bits:8 format:ulaw", {"100% kick.wav"});
        row("format", "format:float", {"Snare Tight.wav"});
        row("format by encoding", "format:a-law", {"under_score.wav"});
        row("length under", "length:<1s", {"Snare Tight.wav"});
        row("length rounded", "length:1s -ch:1", {"Kick Deep 01.wav", "Snare Tight.wav"});
        row("length rounded to tenths", "length:1.0s -ch:1", {"Kick Deep 01.wav"});
        row("length range", "length:1m-3m", {"Forêt à l'aube.wav"});
        row("length over", "length:>1m35s", {"Rain on roof.wav"});
        row("loudness over", "lufs:>-16", {"Kick Deep 01.wav", "Snare Tight.wav"});
        row("loudness range", "lufs:-25..-15", {"kick_room_02.WAV"});
        row("peak", "peak:>1", {"Snare Tight.wav"});
        row("peak range", "peak:-15..-1", {"Kick Deep 01.wav", "kick_room_02.WAV"});
        row("clip", "clip:yes", {"Snare Tight.wav"});
        row("no clip", "clip:no", {"Kick Deep 01.wav", "kick_room_02.WAV", "Rain on roof.wav"});
        row("nothing at all", "zzzz", {});
        row("percent is a letter", "%", {"100% kick.wav"});
        row("underscore is a letter", "_", {"kick_room_02.WAV", "under_score.wav"});
        row("quote and semicolon", "'s; drop", {"it's; drop.wav"});
        row("a quote ends a word", "name:a\"quote", {"a\"quote\".wav"});
        row("phrases side by side", "\"a\"\"quote\"", {"a\"quote\".wav"});
        row("star is a letter", "kick*", {});
        row("a word in the texts only", "neighbour", {"Rain on roof.wav"});
        row("a short word in the texts", "bi", {"Forêt à l'aube.wav"});
        row("excluded short word", "kick -ro", {"100% kick.wav", "Kick Deep 01.wav"});
        row("excluded field", "-clip:yes rate:48000", {"Kick Deep 01.wav", "Rain on roof.wav"});
        row("excluded loudness keeps the unmeasured", "-lufs:<-10 ch:2",
            {"Forêt à l'aube.wav", "Snare Tight.wav"});
        row("name only, not in a folder", "name:drums", {});
        row("folder and name", "folder:odd name:kick", {"100% kick.wav"});
        // A figure a file lacks is none to compare: no range holds it, and leaving a range
        // out keeps it.
        row("no length is not a short one", "length:<2s",
            {"Kick Deep 01.wav", "Snare Tight.wav", "100% kick.wav", "under_score.wav",
             "it's; drop.wav", cafe, "a\"quote\".wav"});
        row("no rate is not a low one", "rate:<9000",
            {"100% kick.wav", "under_score.wav", "it's; drop.wav", cafe, "a\"quote\".wav"});
        row("no channels are not few", "ch:<2",
            {"kick_room_02.WAV", "100% kick.wav", "under_score.wav", "it's; drop.wav", cafe,
             "a\"quote\".wav"});
        row("no bits are not few", "bits:<=8",
            {"100% kick.wav", "under_score.wav", "it's; drop.wav", cafe, "a\"quote\".wav"});
        row("no length left out of a range", "-length:>2s -rate:8000",
            {"Kick Deep 01.wav", "Snare Tight.wav", "hum.wav", "buzz.wav"});
        row("a file of no format still has its date", "date:2023 -rate:>0 -ch:2", {"hum.wav"});
        row("no date is not an early one", "date:<2000", {});
        row("no date left out of a range", "-date:>=2000", {"buzz.wav"});
        // A letter or two is looked for where a word or a number begins, in every file alike:
        // anywhere, it is in nearly every name and folder.
        row("a letter where a word begins only", "é", {});
        row("two letters inside a word", "ee", {});
        row("two letters after a sign", "sc", {"under_score.wav"});
        row("a digit where a number begins", "0", {"Kick Deep 01.wav", "kick_room_02.WAV"});
        row("a digit inside a number", "2", {});
        row("a file of no format by its name", "hu", {"hum.wav"});
        row("a letter where a folder's name begins", "folder:k",
            {"Kick Deep 01.wav", "kick_room_02.WAV"});
        row("a letter inside a folder's name", "folder:i", {});
        row("two letters inside a word left out", "kick -ee",
            {"100% kick.wav", "Kick Deep 01.wav", "kick_room_02.WAV", "Rain on roof.wav"});
        row("a letter of a format", "format:f", {"Snare Tight.wav"});
    });
}

void TestLibraryQuery::matches()
{
    QFETCH(QString, text);
    QFETCH(QStringList, names);
    QFETCH(bool, memory);
    answerFrom(memory);
    const LibraryQuery query = LibraryQuery::parse(text);
    QVERIFY2(query.ok(), qPrintable(query.error));
    const Result<QList<LibraryHit>> hits = m_store->query(query, {}, {}, 100);
    QVERIFY2(hits.ok(), qPrintable(hits.error()));
    QStringList got = namesOf(hits.value());
    got.sort();
    names.sort();
    QCOMPARE(got, names);
    QCOMPARE(m_store->count(query).value(), names.size());
}

void TestLibraryQuery::hostileQueries_data()
{
    QTest::addColumn<QString>("text");
    addBothWays([](bool memory, const char *way) {
        const auto row = [memory, way](const char *name, const QString &text) {
            QTest::addRow("%s, %s", name, way) << text << memory;
        };
        row("drop table", "'; DROP TABLE files; --");
        row("or true", "\" OR 1=1 --");
        row("quote in a field", "name:\"x\" OR \"1\"=\"1\"");
        row("fts operators", "kick AND snare OR NOT hat");
        row("fts near", "NEAR(kick snare, 2)");
        row("fts column filter", "name_key:kick meta : x");
        row("fts prefix and caret", "^kick kic* +snare");
        row("braces", "{name_key meta}: kick");
        row("backslashes", "\\ \\\\ \\\"");
        row("brackets", "( ) [ ] ( (");
        row("nul and controls", QString(QChar(0)) + "kick\x01\x7f");
        row("lone surrogate", QString(QChar(0xd800)) + "kick");
        row("long word", QString(LibraryQuery::maxLength, u'x'));
        row("long phrase", u'"' + QString(LibraryQuery::maxLength - 2, u' ') + u'"');
        row("sql in every field", "name:'; folder:'; format:'; -\"'\"");
    });
}

void TestLibraryQuery::hostileQueries()
{
    QFETCH(QString, text);
    QFETCH(bool, memory);
    answerFrom(memory);
    const LibraryQuery query = LibraryQuery::parse(text);
    if (query.ok()) {
        const Result<QList<LibraryHit>> hits = m_store->query(query, {}, {}, 100);
        QVERIFY2(hits.ok(), qPrintable(hits.error()));
        const Result<qint64> count = m_store->count(query);
        QVERIFY2(count.ok(), qPrintable(count.error()));
        QCOMPARE(count.value(), hits->size());
    }
    // The tables are as they were.
    QCOMPARE(m_store->fileCount().value(), 12);
    QCOMPARE(m_store->roots()->size(), 1);
}

void TestLibraryQuery::pagesInEveryOrder_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("descending");
    const char *names[] = {"name", "folder",   "length",    "rate", "channels",
                           "bits", "loudness", "true peak", "date"};
    addBothWays([&names](bool memory, const char *way) {
        for (int column = 0; column <= int(LibrarySort::Column::Date); ++column) {
            QTest::addRow("%s up, %s", names[column], way) << column << false << memory;
            QTest::addRow("%s down, %s", names[column], way) << column << true << memory;
        }
    });
}

void TestLibraryQuery::pagesInEveryOrder()
{
    QFETCH(int, column);
    QFETCH(bool, descending);
    QFETCH(bool, memory);
    QTemporaryDir dir;
    SqliteLibraryStore store(dir.filePath("library.sqlite"));
    QVERIFY(store.open().ok());
    const qint64 root = store.addRoot(QStringLiteral("/p"), 1)->id;
    LibraryBatch batch;
    batch.root = root;
    // Many equal keys, so that the pages' starts must break ties; more hits than are sorted
    // whole, so that the pages by name walk the names in order. The names differ in case and
    // accents, which their order passes over, and in two numbers, which it compares by value.
    constexpr int entries = 2300;
    const QByteArray takes[] = {"take ", "TAKE ", "t\xc3\xa0ke "};
    for (int i = 0; i < entries; ++i) {
        LibraryEntry entry = entryOf("/p/" + QByteArray::number(i % 7),
                                     takes[i % 3] + QByteArray::number(i % 50) + ".wav", 1000,
                                     qint64(i % 13) * 86400'000'000'000);
        entry.name += QByteArray::number(i); // unique within the folder
        entry.info.sampleRate = 8000 * (1 + i % 3);
        entry.info.channels = 1 + i % 2;
        entry.info.encoding = i % 2 ? "PCM 16-bit" : "PCM 24-bit";
        entry.info.frames = 100 * (i % 11);
        if (i % 4) {
            Loudness loudness;
            loudness.integratedLufs = -10 - i % 9;
            loudness.truePeakDbtp = -i % 5;
            loudness.samplePeakDbfs = -i % 5 - 1;
            // Shorter than a block: no integrated loudness, and sorted with the unmeasured.
            if (i % 17 == 5)
                loudness.integratedLufs = Loudness::silence;
            entry.loudness = loudness;
        }
        batch.entries.append(entry);
    }
    QVERIFY(store.write(batch).ok());
    const LibraryQuery query = LibraryQuery::parse(u"take");
    const LibrarySort sort{LibrarySort::Column(column), descending};
    // The whole list as the statements give it; the pages from where the row says.
    const Result<QList<LibraryHit>> whole = store.query(query, sort, {}, entries + 1);
    QCOMPARE(whole->size(), entries);
    if (memory) {
        QVERIFY(store.loadSearchIndex().value() > 0);
        QVERIFY(store.searchIndexIsCurrent().value());
        QCOMPARE(store.count(query).value(), entries);
    }
    QList<qint64> paged;
    QVariantList after;
    for (int page = 0; page < 100; ++page) {
        const int size = 97;
        const Result<QList<LibraryHit>> hits = store.query(query, sort, after, size);
        QVERIFY2(hits.ok(), qPrintable(hits.error()));
        if (hits->isEmpty())
            break;
        for (const LibraryHit &hit : hits.value())
            paged.append(hit.id);
        after = hits->last().cursor;
    }
    QList<qint64> expected;
    for (const LibraryHit &hit : whole.value())
        expected.append(hit.id);
    QCOMPARE(paged, expected);
    // A page far ahead, from the start or from a page's end, as a scroll bar dragged there
    // asks for it; and one past the last hit, empty.
    const auto idsOf = [](const QList<LibraryHit> &hits) {
        QList<qint64> ids;
        for (const LibraryHit &hit : hits)
            ids.append(hit.id);
        return ids;
    };
    for (const auto &[from, skip, size] :
         {std::tuple{-1, 0, 7}, std::tuple{-1, 1500, 97}, std::tuple{199, 300, 61},
          std::tuple{2200, 40, 97}, std::tuple{-1, entries, 5}}) {
        const QVariantList start = from < 0 ? QVariantList() : whole->at(from).cursor;
        const Result<QList<LibraryHit>> hits = store.query(query, sort, start, size, skip);
        QVERIFY2(hits.ok(), qPrintable(hits.error()));
        const qsizetype first = from + 1 + skip;
        QCOMPARE(idsOf(hits.value()), expected.mid(first, size));
    }
    if (memory) {
        // Fewer hits than rows: the walk skips the others; the same rows as the statements'.
        const LibraryQuery some = LibraryQuery::parse(u"-1.wav ch:2");
        QVERIFY(some.ok());
        QList<qint64> fromMemory;
        after.clear();
        for (int page = 0; page < 100; ++page) {
            const Result<QList<LibraryHit>> hits = store.query(some, sort, after, 61);
            QVERIFY2(hits.ok(), qPrintable(hits.error()));
            if (hits->isEmpty())
                break;
            for (const LibraryHit &hit : hits.value())
                fromMemory.append(hit.id);
            after = hits->last().cursor;
        }
        const qint64 counted = store.count(some).value();
        store.dropSearchIndex();
        const Result<QList<LibraryHit>> fromStatements = store.query(some, sort, {}, entries);
        QList<qint64> ids;
        for (const LibraryHit &hit : fromStatements.value())
            ids.append(hit.id);
        QVERIFY(!ids.isEmpty() && ids.size() < entries);
        QCOMPARE(fromMemory, ids);
        QCOMPARE(counted, ids.size());
        QCOMPARE(store.count(some).value(), ids.size());
    }
    // And the order is the column's.
    const auto keyOf = [column](const LibraryHit &hit) -> double {
        switch (LibrarySort::Column(column)) {
        case LibrarySort::Column::Length:
            return double(hit.lengthMs);
        case LibrarySort::Column::Rate:
            return hit.rate;
        case LibrarySort::Column::Channels:
            return hit.channels;
        case LibrarySort::Column::Bits:
            return hit.bits;
        case LibrarySort::Column::Loudness:
            return hit.lufs && *hit.lufs > -1e308 ? *hit.lufs : -1e308;
        case LibrarySort::Column::TruePeak:
            return hit.truePeak.value_or(-1e308);
        case LibrarySort::Column::Date:
            return double(hit.date);
        default:
            return 0;
        }
    };
    // A name's two numbers: take2 before take10, and .wav9 before .wav10.
    const auto numbersOf = [](const LibraryHit &hit) {
        static const QRegularExpression numbers(QStringLiteral("^t.ke (\\d+)\\.wav(\\d+)$"),
                                                QRegularExpression::CaseInsensitiveOption);
        const QRegularExpressionMatch match = numbers.match(hit.name);
        return std::pair{match.captured(1).toInt(), match.captured(2).toInt()};
    };
    for (qsizetype i = 1; i < whole->size(); ++i) {
        const double a = keyOf(whole->at(i - 1)), b = keyOf(whole->at(i));
        QVERIFY2(descending ? a >= b : a <= b, qPrintable(QString::number(i)));
        bool tied = a == b;
        if (LibrarySort::Column(column) == LibrarySort::Column::Folder) {
            const QString f = whole->at(i - 1).folder, g = whole->at(i).folder;
            QVERIFY(descending ? f >= g : f <= g);
            tied = f == g;
        }
        // Equal keys in the names' natural order.
        if (tied) {
            const auto m = numbersOf(whole->at(i - 1)), n = numbersOf(whole->at(i));
            QVERIFY2(descending ? m > n : m < n,
                     qPrintable(whole->at(i - 1).name + u' ' + whole->at(i).name));
        }
    }
}

namespace {

// The store as the indexer writes it, telling after each batch it wrote.
class WatchedStore final : public LibraryStore
{
public:
    WatchedStore(SqliteLibraryStore &store, std::function<void()> written)
        : m_store(store), m_written(std::move(written))
    {
    }
    Result<Opening> open() override { return m_store.open(); }
    Result<void> openForReading() override { return m_store.openForReading(); }
    Result<void> openForLoudness() override { return m_store.openForLoudness(); }
    QString movedTo() const override { return m_store.movedTo(); }
    QString whyMoved() const override { return m_store.whyMoved(); }
    Result<QList<LibraryRoot>> roots() override { return m_store.roots(); }
    Result<LibraryRoot> addRoot(const QString &path, qint64 device) override
    {
        return m_store.addRoot(path, device);
    }
    Result<void> removeRoot(const QString &path) override { return m_store.removeRoot(path); }
    Result<void> setRootSeen(qint64 root, bool online, qint64 device) override
    {
        return m_store.setRootSeen(root, online, device);
    }
    Result<void> setRootWalked(qint64 root) override { return m_store.setRootWalked(root); }
    Result<QHash<QByteArray, qint64>> folders(qint64 root) override
    {
        return m_store.folders(root);
    }
    Result<QHash<QByteArray, qint64>> folderFileCounts(qint64 root) override
    {
        return m_store.folderFileCounts(root);
    }
    Result<QHash<QByteArray, KnownFile>> files(const QByteArray &folder) override
    {
        return m_store.files(folder);
    }
    Result<qint64> fileCount(std::optional<qint64> root) override
    {
        return m_store.fileCount(root);
    }
    Result<void> write(const LibraryBatch &batch) override
    {
        Result<void> written = m_store.write(batch);
        if (written.ok())
            m_written();
        return written;
    }
    Result<QList<LibraryHit>> query(const LibraryQuery &query, const LibrarySort &sort,
                                    const QVariantList &after, int limit, qint64 skip) override
    {
        return m_store.query(query, sort, after, limit, skip);
    }
    Result<qint64> count(const LibraryQuery &query) override { return m_store.count(query); }
    void interrupt() override { m_store.interrupt(); }
    Result<std::optional<Loudness>> loudness(const QString &path, qint64 size,
                                             qint64 modifiedMs) override
    {
        return m_store.loudness(path, size, modifiedMs);
    }
    Result<void> putLoudness(const QString &path, const StampedLoudness &loudness) override
    {
        return m_store.putLoudness(path, loudness);
    }
    Result<QList<UnmeasuredFile>> unmeasured(qint64 after, int limit) override
    {
        return m_store.unmeasured(after, limit);
    }
    Result<int> importLoudnessCache(const QString &file) override
    {
        return m_store.importLoudnessCache(file);
    }

private:
    SqliteLibraryStore &m_store;
    std::function<void()> m_written;
};

// What the readers would find in a file named "take N.wav" (no file is read): a figure or
// two from N, a text for some, and every seventh not a wave file at all.
WaveInfo infoOfTake(const QString &path)
{
    const QString name = path.section(u'/', -1);
    const int n = name.section(u' ', 1).section(u'.', 0, 0).toInt();
    WaveInfo info;
    if (n % 7 == 3) {
        info.problem = QStringLiteral("not a wave file");
        return info;
    }
    info.encoding = n % 3 ? QStringLiteral("PCM 16-bit") : QStringLiteral("IEEE float 32-bit");
    info.container = QStringLiteral("WAV");
    info.sampleRate = n % 2 ? 48000 : 44100;
    info.channels = 1 + n % 2;
    info.frames = qint64(info.sampleRate) * (n % 4) + name.size();
    if (n % 5 == 0)
        info.note = QStringLiteral("room %1").arg(n);
    return info;
}

QList<qint64> idsOf(const QList<LibraryHit> &hits)
{
    QList<qint64> ids;
    for (const LibraryHit &hit : hits)
        ids.append(hit.id);
    return ids;
}

// The first way the answers from memory differ from the statements', for searches in several
// orders, whole and from a page's start; empty when they do not.
QString differenceBothWays(SqliteLibraryStore &reader)
{
    using Column = LibrarySort::Column;
    const char *const texts[] = {"take",           "ta -room", "take 2", "rate:48000 ch:2",
                                 "length:<2s",     "folder:b", "room",   "format:float -1",
                                 "bits:>=16 -ch:1"};
    std::vector<LibrarySort> sorts;
    for (int column = 0; column <= int(Column::Date); ++column)
        for (const bool descending : {false, true})
            sorts.push_back({Column(column), descending});
    for (const char *text : texts) {
        const LibraryQuery query = LibraryQuery::parse(QString::fromUtf8(text));
        for (const LibrarySort &sort : sorts) {
            const auto answers = [&](bool memory) {
                reader.useSearchIndex(memory);
                const QList<LibraryHit> whole = reader.query(query, sort, {}, 1000).value();
                QList<qint64> ids = idsOf(whole);
                if (whole.size() > 3)
                    ids += idsOf(reader.query(query, sort, whole[2].cursor, 4).value());
                ids.append(reader.count(query).value());
                return ids;
            };
            if (!reader.searchIndexIsCurrent().value())
                return QStringLiteral("the index no longer holds");
            const QList<qint64> memory = answers(true);
            const QList<qint64> statements = answers(false);
            reader.useSearchIndex(true);
            const auto shown = [](const QList<qint64> &ids) {
                QStringList numbers;
                for (const qint64 id : ids)
                    numbers.append(QString::number(id));
                return numbers.join(u' ');
            };
            if (memory != statements)
                return QStringLiteral("%1, sorted by %2%3: from memory %4, from the statements %5")
                    .arg(QString::fromUtf8(text))
                    .arg(int(sort.column))
                    .arg(sort.descending ? " down" : "")
                    .arg(shown(memory), shown(statements));
        }
    }
    return {};
}

} // namespace

void TestLibraryQuery::changesLeaveTheIndex_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QStringList>("names"); // what "take" finds after the change
    // The index takes the change in place: it holds with no read again.
    QTest::addColumn<bool>("inPlace");
    QTest::newRow("a file added") << "add" << QStringList{"take 1.wav", "take 2.wav", "take 3.wav"}
                                  << true;
    QTest::newRow("a file gone") << "remove" << QStringList{"take 1.wav"} << true;
    QTest::newRow("a root gone") << "root" << QStringList{} << true;
    QTest::newRow("a file written again")
        << "rewrite" << QStringList{"take 1.wav", "take 2.wav"} << true;
    QTest::newRow("a folder gone with what is below it")
        << "folder" << QStringList{"take 1.wav", "take 2.wav"} << true;
    QTest::newRow("a loudness measured") << "loudness" << QStringList{"take 2.wav"} << true;
    QTest::newRow("a loudness, then its field")
        << "loudness, searched before" << QStringList{"take 2.wav"} << true;
    QTest::newRow("a loudness of a file changed since")
        << "loudness, stale" << QStringList{} << true;
    // The indexer's batches, each taken in as it is written: searches between them answer
    // from memory what the statements answer.
    QStringList passed{"take 1.wav", "take 2.wav"};
    for (int n = 0; n < 30; ++n)
        passed.append(QStringLiteral("take %1.wav").arg(n));
    passed.sort();
    QTest::newRow("a pass, batch by batch") << "pass" << passed << true;
    QStringList rescanned{"take 1.wav", "take 2.wav"};
    for (int n = 0; n < 36; ++n)
        if (n != 4 && (n < 20 || n >= 30))
            rescanned.append(QStringLiteral("take %1.wav").arg(n));
    rescanned.sort();
    QTest::newRow("a rescan, batch by batch") << "rescan" << rescanned << true;
}

void TestLibraryQuery::changesLeaveTheIndex()
{
    QFETCH(QString, change);
    QFETCH(QStringList, names);
    QFETCH(bool, inPlace);
    QTemporaryDir dir;
    SqliteLibraryStore store(dir.filePath("library.sqlite"));
    QVERIFY(store.open().ok());
    // An empty store's index finds nothing, and holds until the first write.
    QVERIFY(store.loadSearchIndex().ok());
    QVERIFY(store.searchIndexIsCurrent().value());
    QCOMPARE(store.count(LibraryQuery::parse(u"take")).value(), 0);
    const qint64 root = store.addRoot(QStringLiteral("/c"), 1)->id;
    LibraryBatch batch;
    batch.root = root;
    for (const QByteArray name : {"take 1.wav", "take 2.wav"})
        batch.entries.append(entryOf("/c", name, 1000, 5));
    batch.entries.append(entryOf("/c/sub/deep", "deep.wav", 1000, 5));
    QVERIFY(store.write(batch).ok());
    QVERIFY(store.loadSearchIndex().value() > 0);
    // Another connection, as the results' reader is, answers from the same index.
    SqliteLibraryStore reader(dir.filePath("library.sqlite"));
    QVERIFY(reader.openForReading().ok());
    QVERIFY(reader.searchIndexIsCurrent().value());

    QString text = QStringLiteral("take");
    batch.entries.clear();
    if (change == u"add") {
        batch.entries.append(entryOf("/c", "take 3.wav", 1000, 5));
        QVERIFY(store.write(batch).ok());
    } else if (change == u"remove") {
        batch.goneFiles.append(store.files("/c")->value("take 2.wav").id);
        QVERIFY(store.write(batch).ok());
    } else if (change == u"root") {
        QVERIFY(store.removeRoot(QStringLiteral("/c")).ok());
    } else if (change == u"rewrite") {
        LibraryEntry again = entryOf("/c", "take 2.wav", 2000, 6);
        again.info.sampleRate = 8000;
        again.info.note = QStringLiteral("room tone");
        batch.entries.append(again);
        QVERIFY(store.write(batch).ok());
        QCOMPARE(namesOf(reader.query(LibraryQuery::parse(u"room rate:8000"), {}, {}, 10).value()),
                 QStringList{"take 2.wav"});
    } else if (change == u"folder") {
        batch.goneFolders.append("/c/sub");
        QVERIFY(store.write(batch).ok());
        QCOMPARE(reader.count(LibraryQuery::parse(u"deep")).value(), 0);
        QCOMPARE(reader.count(LibraryQuery::parse(u"folder:sub")).value(), 0);
    } else if (change == u"pass" || change == u"rescan") {
        const QString pass = dir.filePath("pass");
        const auto take = [&pass](const QString &folder, int n) {
            QDir().mkpath(pass + folder);
            QFile file(pass + folder + QStringLiteral("/take %1.wav").arg(n));
            return file.open(QIODevice::WriteOnly) && file.write(QByteArray(n, 'x')) == n;
        };
        for (int n = 0; n < 30; ++n)
            QVERIFY(take(n < 10 ? "/a" : n < 20 ? "/b" : "/b/deep", n));
        QVERIFY(store.addRoot(pass, 1).ok());
        QString difference;
        int batches = 0;
        WatchedStore watched(store, [&] {
            ++batches;
            if (difference.isEmpty())
                difference = differenceBothWays(reader);
        });
        LibraryIndexer indexer(watched, infoOfTake);
        indexer.setBatchSize(4);
        QVERIFY(indexer.run().problem.isEmpty());
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
        QVERIFY(batches > 5);
        if (change == u"rescan") {
            // A file written again with other figures, one gone, a folder gone, a new one.
            QVERIFY(take("/a", 1) && QFile::resize(pass + "/a/take 1.wav", 200));
            QVERIFY(QFile::remove(pass + "/a/take 4.wav"));
            QVERIFY(QDir(pass + "/b/deep").removeRecursively());
            for (int n = 30; n < 36; ++n)
                QVERIFY(take("/c", n));
            batches = 0;
            QVERIFY(indexer.run().problem.isEmpty());
            QVERIFY2(difference.isEmpty(), qPrintable(difference));
            QVERIFY(batches > 1);
        }
    } else {
        // The hits of the field kept by the reader from before must not serve after.
        if (change.contains(u"before"))
            QCOMPARE(reader.count(LibraryQuery::parse(u"take lufs:-20")).value(), 0);
        StampedLoudness stamped;
        stamped.size = change.contains(u"stale") ? 999 : 1000;
        stamped.modifiedMs = 0;
        stamped.loudness.integratedLufs = -20;
        stamped.loudness.truePeakDbtp = -3;
        QVERIFY(store.putLoudness(QStringLiteral("/c/take 2.wav"), stamped).ok());
        text = QStringLiteral("take lufs:-20");
    }
    const LibraryQuery query = LibraryQuery::parse(text);
    for (const bool reloaded : {false, true}) {
        if (reloaded)
            QVERIFY(store.loadSearchIndex().ok());
        QCOMPARE(reader.searchIndexIsCurrent().value(), reloaded || inPlace);
        QStringList got = namesOf(reader.query(query, {}, {}, 1000).value());
        got.sort();
        QCOMPARE(got, names);
        QCOMPARE(reader.count(query).value(), names.size());
        const QString difference = differenceBothWays(reader);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }
}

int main(int argc, char **argv)
{
    // The dates of the table are those of UTC.
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    QCoreApplication app(argc, argv);
    TestLibraryQuery test;
    return QTest::qExec(&test, argc, argv);
}

// Past some tens of thousands of files the index scans its texts in two halves at once: the
// hits on either side of the split, and across the word of bits it falls on, are all found.
void TestLibraryQuery::manyFilesAreScannedInTwoHalves()
{
    QTemporaryDir dir;
    SqliteLibraryStore store(dir.filePath("library.sqlite"));
    QVERIFY(store.open().ok());
    const qint64 root = store.addRoot(QStringLiteral("/p"), 1)->id;
    LibraryBatch batch;
    batch.root = root;
    constexpr int entries = 70000;
    qint64 needles = 0;
    for (int i = 0; i < entries; ++i) {
        const bool needle = i % 997 == 0 || (i >= 34990 && i < 35010) || i == entries - 1;
        needles += needle;
        batch.entries.append(
            entryOf("/p/" + QByteArray::number(i % 7),
                    (needle ? "needle " : "take ") + QByteArray::number(i) + ".wav"));
    }
    QVERIFY(store.write(batch).ok());
    const LibraryQuery query = LibraryQuery::parse(u"needle");
    const Result<qint64> bySql = store.count(query);
    QVERIFY2(bySql.ok(), qPrintable(bySql.error()));
    QCOMPARE(bySql.value(), needles);
    QVERIFY(store.loadSearchIndex().value() > 0);
    QVERIFY(store.searchIndexIsCurrent().value());
    for (int again = 0; again < 3; ++again)
        QCOMPARE(store.count(query).value(), needles);
}

#include "tst_libraryquery.moc"
