#include "WaveWriter.h"
#include "files/FileFacts.h"
#include "files/Scheduler.h"
#include "files/WaveDetails.h"
#include "platform/WaveInfo.h"

#include <QDir>
#include <QMutex>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QtEndian>
#include <atomic>
#include <cstring>
#include <sndfile.h>
#include <vector>

namespace {

const QLocale english(QLocale::English, QLocale::UnitedStates);

QByteArray chunk(const QByteArray &id, QByteArray body)
{
    QByteArray size(4, '\0');
    qToLittleEndian<quint32>(quint32(body.size()), size.data());
    if (body.size() % 2)
        body.append('\0');
    return id + size + body;
}

// Rewrites a RIFF file with its chunks in a new order: fmt and data first when dataFirst,
// everything else after them; extra chunks go at the end.
bool reorderChunks(const QString &path, bool dataFirst, const QByteArray &extra = {})
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray all = file.readAll();
    file.close();
    QByteArray head, rest;
    for (qsizetype at = 12; at + 8 <= all.size();) {
        const quint32 size = qFromLittleEndian<quint32>(all.constData() + at + 4);
        const QByteArray id = all.mid(at, 4);
        const QByteArray whole = all.mid(at, 8 + size + (size % 2));
        (dataFirst && (id == "fmt " || id == "data") ? head : rest) += whole;
        at += whole.size();
    }
    return writeBytes(path, chunk("RIFF", "WAVE" + head + rest + extra));
}

// Cue labels travel in a LIST/adtl chunk, which libsndfile reads but does not write.
QByteArray labels(const QStringList &names)
{
    QByteArray adtl = "adtl";
    for (int i = 0; i < names.size(); ++i) {
        QByteArray body(4, '\0');
        qToLittleEndian<quint32>(quint32(i + 1), body.data());
        adtl += chunk("labl", body + names[i].toUtf8() + '\0');
    }
    return chunk("LIST", adtl);
}

void addRecorderMetadata(SNDFILE *file)
{
    SF_BROADCAST_INFO bext{};
    std::strcpy(bext.description, "Dawn chorus");
    std::strcpy(bext.originator, "Field recorder");
    std::memcpy(bext.origination_date, "2026-12-07", 10);
    std::memcpy(bext.origination_time, "05:42:10", 8);
    bext.time_reference_low = 48000u * 36000u; // 10 h after midnight
    sf_command(file, SFC_SET_BROADCAST_INFO, &bext, sizeof bext);
    sf_set_string(file, SF_STR_TITLE, "Morning <birds>");
    sf_set_string(file, SF_STR_ARTIST, "Ana");
    sf_set_string(file, SF_STR_COMMENT, "wind from the east");
    sf_set_string(file, SF_STR_SOFTWARE, "Recorder 2");
    auto cues = std::make_unique<SF_CUES>();
    cues->cue_count = 3;
    for (quint32 i = 0; i < 3; ++i) {
        cues->cue_points[i].indx = i + 1;
        cues->cue_points[i].position = i * 1000;
        cues->cue_points[i].sample_offset = i * 1000;
        cues->cue_points[i].fcc_chunk = 0x61746164; // "data"
    }
    sf_command(file, SFC_SET_CUE, cues.get(), sizeof(SF_CUES));
    SF_INSTRUMENT instrument{};
    instrument.basenote = 60;
    instrument.key_hi = instrument.velocity_hi = 127;
    instrument.loop_count = 1;
    instrument.loops[0] = {SF_LOOP_FORWARD, 100, 2000, 0};
    sf_command(file, SFC_SET_INSTRUMENT, &instrument, sizeof instrument);
    const QByteArray ixml = "<BWFXML><SCENE>12A</SCENE><TAKE>3</TAKE><NOTE>good</NOTE></BWFXML>";
    SF_CHUNK_INFO info{};
    std::memcpy(info.id, "iXML", 4);
    info.id_size = 4;
    info.datalen = unsigned(ixml.size());
    info.data = const_cast<char *>(ixml.constData());
    sf_set_chunk(file, &info);
}

QStringList linesOf(const QString &html)
{
    return html.split(QStringLiteral("<br>"));
}

} // namespace

class TestWaveDetails final : public QObject
{
    Q_OBJECT

private slots:
    void formats_data();
    void formats();
    void brokenAndCutShortFiles();
    void metadata_data();
    void metadata();
    void ixmlFields_data();
    void ixmlFields();
    void waveformHasItsLoudColumnsWhereTheSoundIs_data();
    void waveformHasItsLoudColumnsWhereTheSoundIs();
    void factsFollowTheFileOnDisk();
    void factsGoWithoutWaitingForAStuckRead_data();
    void factsGoWithoutWaitingForAStuckRead();
    void rowsScrolledPastAreNotRead();

private:
    QTemporaryDir m_dir;
};

void TestWaveDetails::formats_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<qint64>("frames");
    QTest::addColumn<QString>("format_line");
    QTest::addColumn<QString>("length_line"); // empty where blocks round the length

    const int wav = SF_FORMAT_WAV;
    const auto row = [](const char *name, int format, int rate, int channels, qint64 frames,
                        const char *formatLine, const char *lengthLine) {
        QTest::newRow(name) << format << rate << channels << frames << QString(formatLine)
                            << QString(lengthLine);
    };
    row("PCM 8", wav | SF_FORMAT_PCM_U8, 44100, 1, 4410, "PCM 8-bit, 44,100 Hz, mono",
        "0:00.1, WAV");
    row("PCM 16", wav | SF_FORMAT_PCM_16, 48000, 2, 96000, "PCM 16-bit, 48,000 Hz, stereo",
        "0:02.0, WAV");
    row("PCM 24", wav | SF_FORMAT_PCM_24, 96000, 2, 9600, "PCM 24-bit, 96,000 Hz, stereo",
        "0:00.1, WAV");
    row("PCM 32", wav | SF_FORMAT_PCM_32, 8000, 1, 800, "PCM 32-bit, 8,000 Hz, mono",
        "0:00.1, WAV");
    row("float", wav | SF_FORMAT_FLOAT, 44100, 1, 4410, "IEEE float 32-bit, 44,100 Hz, mono",
        "0:00.1, WAV");
    row("double", wav | SF_FORMAT_DOUBLE, 44100, 1, 4410, "IEEE float 64-bit, 44,100 Hz, mono",
        "0:00.1, WAV");
    row("mu-law", wav | SF_FORMAT_ULAW, 8000, 1, 8000, "µ-law, 8,000 Hz, mono", "0:01.0, WAV");
    row("A-law", wav | SF_FORMAT_ALAW, 8000, 1, 8000, "A-law, 8,000 Hz, mono", "0:01.0, WAV");
    row("IMA ADPCM", wav | SF_FORMAT_IMA_ADPCM, 22050, 2, 22050, "IMA ADPCM, 22,050 Hz, stereo",
        "");
    row("MS ADPCM", wav | SF_FORMAT_MS_ADPCM, 22050, 1, 22050, "MS ADPCM, 22,050 Hz, mono", "");
    row("GSM 6.10", wav | SF_FORMAT_GSM610, 8000, 1, 8000, "GSM 6.10, 8,000 Hz, mono", "");
    row("WAVEX, 6 channels", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, 48000, 6, 4800,
        "PCM 16-bit, 48,000 Hz, 6 channels", "0:00.1, WAV (extensible)");
    row("RF64", SF_FORMAT_RF64 | SF_FORMAT_PCM_24, 48000, 2, 4800, "PCM 24-bit, 48,000 Hz, stereo",
        "0:00.1, RF64");
    // Lengths round to the tenth first, then carry into minutes and hours.
    row("0.04 s", wav | SF_FORMAT_PCM_16, 1000, 1, 40, "PCM 16-bit, 1,000 Hz, mono", "0:00.0, WAV");
    row("0.05 s", wav | SF_FORMAT_PCM_16, 1000, 1, 50, "PCM 16-bit, 1,000 Hz, mono", "0:00.1, WAV");
    row("59.95 s", wav | SF_FORMAT_PCM_16, 1000, 1, 59950, "PCM 16-bit, 1,000 Hz, mono",
        "1:00.0, WAV");
    row("3,599.94 s", wav | SF_FORMAT_PCM_16, 100, 1, 359994, "PCM 16-bit, 100 Hz, mono",
        "59:59.9, WAV");
    row("3,600 s", wav | SF_FORMAT_PCM_16, 100, 1, 360000, "PCM 16-bit, 100 Hz, mono",
        "1:00:00.0, WAV");
}

void TestWaveDetails::formats()
{
    QFETCH(int, format);
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(qint64, frames);
    QFETCH(QString, format_line);
    QFETCH(QString, length_line);
    const QString path = m_dir.filePath(QTest::currentDataTag() + QStringLiteral(".wav"));
    QVERIFY(writeSignal(path, format, rate, channels, frames, [](qint64) { return 0.25f; }));
    const WaveInfo info = readWaveInfo(path);
    QVERIFY2(info.playable(), qPrintable(info.problem));
    const QStringList lines = linesOf(detailsHtml(info, english));
    QCOMPARE(lines.value(0), format_line);
    if (!length_line.isEmpty())
        QCOMPARE(lines.value(1), length_line);
}

void TestWaveDetails::brokenAndCutShortFiles()
{
    const QString junk = m_dir.filePath("junk.wav");
    QVERIFY(writeBytes(junk, "RIFF\x10\0\0\0WAVEjunk but no format"));
    const QString empty = m_dir.filePath("empty.wav");
    touch(empty);
    const QString aiff = m_dir.filePath("aiff.wav");
    QVERIFY(writeSignal(aiff, SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 8000, 1, 800,
                        [](qint64) { return 0.f; }));
    // libsndfile's own words, as it says them; what we refuse, in ours.
    for (const QString &path : {junk, empty}) {
        const WaveInfo info = readWaveInfo(path);
        QVERIFY(!info.problem.isEmpty());
        QCOMPARE(detailsHtml(info), "Cannot be played: " + info.problem.toHtmlEscaped());
    }
    QCOMPARE(readWaveInfo(aiff).problem, "not a wave file");
    QVERIFY(readWaveInfo(m_dir.filePath("gone.wav")).problem.contains("No such file"));

    // A recording cut off mid-data still plays what it holds.
    const QString cut = m_dir.filePath("cut.wav");
    QVERIFY(writeSignal(cut, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, 8000,
                        [](qint64) { return 0.5f; }));
    QVERIFY(QFile::resize(cut, QFileInfo(cut).size() - 8000));
    const WaveInfo info = readWaveInfo(cut);
    QVERIFY(info.playable());
    QCOMPARE(linesOf(detailsHtml(info, english)).value(1), "0:00.5, WAV");
    QCOMPARE(readWavePeaks(cut, 10).columns, 10);

    // No descriptor stays open, whatever the file was (a folder shows thousands of them).
    const auto openDescriptors = [] {
        return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size();
    };
    const qsizetype before = openDescriptors();
    for (int i = 0; i < 50; ++i)
        for (const QString &path : {junk, empty, aiff, cut, m_dir.filePath("gone.wav")}) {
            readWaveInfo(path);
            readWavePeaks(path, 4);
        }
    QCOMPARE(openDescriptors(), before);
}

void TestWaveDetails::metadata_data()
{
    QTest::addColumn<bool>("afterData");
    QTest::newRow("chunks before the sound") << false;
    QTest::newRow("chunks after the sound") << true;
}

void TestWaveDetails::metadata()
{
    QFETCH(bool, afterData);
    const QString path = m_dir.filePath(QTest::currentDataTag() + QStringLiteral(".wav"));
    QVERIFY(writeSignal(
        path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 4800, [](qint64) { return 0.1f; },
        addRecorderMetadata));
    QVERIFY(reorderChunks(path, afterData, labels({"Intro", "Verse", "Outro"})));
    const QString html = detailsHtml(readWaveInfo(path), english);
    for (const char *shown :
         {"<b>Title:</b> Morning &lt;birds&gt;", "<b>Artist:</b> Ana",
          "<b>Description:</b> Dawn chorus", "<b>Comment:</b> wind from the east",
          "<b>Originator:</b> Field recorder", "<b>Recorded:</b> 2026-12-07 05:42:10",
          "<b>Time reference:</b> 10:00:00.000", "<b>Software:</b> Recorder 2", "<b>Scene:</b> 12A",
          "<b>Take:</b> 3", "<b>Note:</b> good", "<b>Markers:</b> 3 (Intro, Verse, Outro)",
          "<b>Loop:</b> 100 to 1,999"})
        QVERIFY2(html.contains(QString::fromUtf8(shown)), qPrintable(shown + ("\n" + html)));
}

void TestWaveDetails::ixmlFields_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QStringList>("fields"); // scene, take, note

    QByteArray crowded = "<BWFXML><TRACK_LIST";
    for (int i = 0; i < 70000; ++i)
        crowded += " a" + QByteArray::number(i) + "=\"" + QByteArray::number(i) + "\"";
    crowded += "/><SCENE>7</SCENE><TAKE>2</TAKE><NOTE>after the crowd</NOTE></BWFXML>";
    QTest::newRow("70,000 attributes before the fields")
        << crowded << QStringList{"7", "2", "after the crowd"};
    QTest::newRow("entities, CDATA, attributes, spaces")
        << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?><BWFXML>"
                      "<SCENE id=\"a>b\"> 12&amp;B </SCENE><TAKE><![CDATA[<3>]]></TAKE>"
                      "<NOTE>caf\xc3\xa9 <b>loud</b>!</NOTE></BWFXML>")
        << QStringList{"12&B", "<3>", "café !"};
    QTest::newRow("comments, look-alike names, an empty note, the first of two")
        << QByteArray("<BWFXML><!-- <SCENE>no</SCENE> --><SCENES>no</SCENES><NOTE/>"
                      "<SCENE>yes</SCENE><SCENE>second</SCENE></BWFXML>")
        << QStringList{"yes", "", ""};
    QTest::newRow("broken: unclosed, bad entity, cut off")
        << QByteArray("<BWFXML><SCENE>a &bogus; b</SCENE><TAKE>4</TAKE><NOTE>never closed")
        << QStringList{"", "4", ""};
}

void TestWaveDetails::ixmlFields()
{
    QFETCH(QByteArray, xml);
    QFETCH(QStringList, fields);
    WaveInfo info;
    readIxmlFields(xml, info);
    QCOMPARE((QStringList{info.scene, info.take, info.note}), fields);
}

void TestWaveDetails::waveformHasItsLoudColumnsWhereTheSoundIs_data()
{
    QTest::addColumn<qint64>("frames");
    QTest::newRow("2 s, read whole") << qint64(16000);
    QTest::newRow("200 s, read in windows") << qint64(1600000);
}

void TestWaveDetails::waveformHasItsLoudColumnsWhereTheSoundIs()
{
    QFETCH(qint64, frames);
    const QString path = m_dir.filePath(QTest::currentDataTag() + QStringLiteral(".wav"));
    // Silence, then a full-scale square from the middle on.
    QVERIFY(
        writeSignal(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, frames, [frames](qint64 f) {
            return f < frames / 2 ? 0.f : (f / 10 % 2 ? 1.f : -1.f);
        }));
    const WavePeaks peaks = readWavePeaks(path, 100);
    QCOMPARE(peaks.columns, 100);
    QCOMPARE(peaks.channels, 1);
    for (int column = 0; column < 100; ++column) {
        if (column < 49)
            QVERIFY2(peaks.at(column, 0) < 0.01f, qPrintable(QString::number(column)));
        else if (column > 50)
            QVERIFY2(peaks.at(column, 0) > 0.99f, qPrintable(QString::number(column)));
    }
}

void TestWaveDetails::factsGoWithoutWaitingForAStuckRead_data()
{
    QTest::addColumn<bool>("details");
    QTest::newRow("a mark of a row in view") << false;
    QTest::newRow("the tooltip's file") << true;
}

// A file on a dead mount: the lists close at once, and its news goes nowhere.
void TestWaveDetails::factsGoWithoutWaitingForAStuckRead()
{
    QFETCH(bool, details);
    // Held by the read itself, which outlives the facts.
    const auto mount = std::make_shared<QSemaphore>();
    const auto entered = std::make_shared<QSemaphore>();
    auto facts = std::make_unique<FileFacts>(
        nullptr,
        [mount, entered](const QString &) {
            entered->release();
            mount->tryAcquire(1, 20000);
            return WaveInfo{};
        },
        readWavePeaks,
        [](const QString &) {
            return FileStamp{1, 1};
        });
    Generation rows;
    if (details)
        facts->requestDetails("/dead/a.wav");
    else
        facts->requestInfo(rows, {"/dead/a.wav"});
    QVERIFY(entered->tryAcquire(1, 5000));
    facts.reset();
    QVERIFY(!mount->available());
    // Another list's facts are read meanwhile.
    const QString path = m_dir.filePath("beside.wav");
    QVERIFY(writeTone(path, 0.5));
    FileFacts beside(nullptr);
    QSignalSpy ready(&beside, &FileFacts::infoReady);
    beside.requestInfo(rows, {path});
    QVERIFY(ready.wait(5000));
    mount->release();
}

// Scrolled on while the disk is slow: the rows that went out of view are not read, those of
// another list in view are, and a folder's rest waits for both.
void TestWaveDetails::rowsScrolledPastAreNotRead()
{
    const auto disk = std::make_shared<QSemaphore>();
    // Noted as a read begins, not as it ends, and without a lock: the order the workers took
    // the files in, which a worker slowed down at the end of its read or kept waiting for a
    // lock by the others would blur.
    const auto taken = std::make_shared<std::atomic<int>>(0);
    const auto takenOrder = std::make_shared<std::vector<QString>>(1000);
    const auto slowly = [disk, taken, takenOrder](const QString &path) {
        if (const int at = (*taken)++; at < int(takenOrder->size()))
            (*takenOrder)[size_t(at)] = path;
        disk->tryAcquire(1, 20000);
        // A read that takes a moment, as one does: workers that all finish at once would
        // queue on the facts' lock, and the one left waiting longest takes its file late.
        QThread::msleep(1);
        return WaveInfo{};
    };
    FileFacts facts(nullptr, slowly, readWavePeaks, [](const QString &) {
        return FileStamp{1, 1};
    });
    QSignalSpy ready(&facts, &FileFacts::infoReady);
    QStringList before, after, rest, other;
    for (int i = 0; i < 40; ++i) {
        before.append(QStringLiteral("/a/%1.wav").arg(i));
        after.append(QStringLiteral("/b/%1.wav").arg(i));
        rest.append(QStringLiteral("/r/%1.wav").arg(i));
    }
    for (int i = 0; i < 5; ++i)
        other.append(QStringLiteral("/p/%1.wav").arg(i));
    Generation rows, folder, otherList;
    facts.requestInfo(folder, rest, Lane::folder);
    facts.requestInfo(rows, before);
    facts.requestInfo(otherList, other);
    facts.requestInfo(rows, after);
    disk->release(200);
    QTRY_COMPARE_WITH_TIMEOUT(ready.size(), 85, 5000);
    QTest::qWait(50);
    const QStringList read(takenOrder->cbegin(),
                           takenOrder->cbegin() + std::min<qsizetype>(*taken, 1000));
    // Those of the first rows a worker had already taken are read; no more.
    const auto countOf = [&read](const char *folder) {
        return std::count_if(read.cbegin(), read.cend(),
                             [folder](const QString &p) { return p.startsWith(folder); });
    };
    const int threads = Scheduler::defaultLightThreads();
    QVERIFY2(countOf("/a/") <= threads, qPrintable(read.join(' ')));
    for (const QStringList &list : {after, other, rest})
        for (const QString &path : list)
            QVERIFY2(facts.known(path), qPrintable(path));
    for (const QList<QVariant> &signal : std::as_const(ready))
        QVERIFY2(!signal[0].toString().startsWith("/a/"), qPrintable(signal[0].toString()));
    // The folder's rest after the rows in view of both lists, but for those a worker had
    // taken before they were asked for.
    const qsizetype firstOfAfter = read.indexOf(after.first());
    const qsizetype lastInView = std::max(read.indexOf(after.last()), read.indexOf(other.last()));
    QVERIFY(firstOfAfter >= 0);
    QVERIFY2(std::count_if(read.cbegin(), read.cbegin() + lastInView,
                           [](const QString &p) { return p.startsWith("/r/"); }) <= threads,
             qPrintable(read.join(' ')));
}

void TestWaveDetails::factsFollowTheFileOnDisk()
{
    const QString path = m_dir.filePath("growing.wav");
    const QString other = m_dir.filePath("other.wav");
    QVERIFY(writeTone(path, 1.0));
    QVERIFY(writeTone(other, 0.5));
    int reads = 0;
    FileFacts facts(nullptr, [&reads](const QString &p) {
        ++reads;
        return readWaveInfo(p);
    });
    QSignalSpy details(&facts, &FileFacts::infoReady);
    QSignalSpy pictures(&facts, &FileFacts::peaksReady);
    QVERIFY(!facts.known(path));
    facts.requestDetails(path);
    QVERIFY(pictures.wait(5000));
    QCOMPARE(details.size(), 1);
    QCOMPARE(facts.known(path)->info.frames, 8000);
    QCOMPARE(facts.peaks(path)->columns, FileFacts::pictureColumns);
    facts.requestDetails(path);
    QVERIFY(!pictures.wait(100));
    QCOMPARE(reads, 1);

    // The recording grew: new details, a new picture; the old picture is not offered meanwhile.
    QVERIFY(writeTone(path, 2.0));
    facts.requestDetails(path);
    QTRY_COMPARE_WITH_TIMEOUT(details.size(), 2, 5000);
    QCOMPARE(facts.known(path)->info.frames, 16000);
    QVERIFY(pictures.size() == 2 || !facts.peaks(path));
    QTRY_COMPARE_WITH_TIMEOUT(pictures.size(), 2, 5000);
    QVERIFY(facts.peaks(path));

    // The workers read only what is missing or changed.
    reads = 0;
    Generation rows;
    facts.requestInfo(rows, {path, other});
    QTRY_COMPARE_WITH_TIMEOUT(details.size(), 3, 5000);
    QCOMPARE(details.last().first().toString(), other);
    QCOMPARE(reads, 1);
    QCOMPARE(facts.known(other)->info.frames, 4000);
    facts.requestInfo(rows, {path, other});
    QTest::qWait(50);
    QCOMPARE(reads, 1);

    // A file that went is known as missing, with the reason the header reader gave.
    QVERIFY(QFile::remove(other));
    facts.requestInfo(rows, {other});
    QTRY_COMPARE_WITH_TIMEOUT(details.size(), 4, 5000);
    QVERIFY(facts.known(other)->missing());
    QVERIFY(!facts.known(other)->info.playable());
}

QTEST_GUILESS_MAIN(TestWaveDetails)
#include "tst_wavedetails.moc"
