#include "WaveWriter.h"
#include "files/Loudness.h"
#include "files/LoudnessFacts.h"
#include "files/Scheduler.h"
#include "library/LibraryLoudness.h"
#include "library/SqliteLibraryStore.h"

#include <QDir>
#include <QMutex>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWaitCondition>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <ebur128.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

using Parts = QList<std::pair<double, double>>;

namespace {
constexpr int rate = 48000;
constexpr double pi = 3.14159265358979323846;

double amplitudeOf(double dbfs)
{
    return std::pow(10.0, dbfs / 20.0);
}

// A stereo sine, the same on both channels, at levels that change over its length: each
// part is (seconds, dBFS).
bool writeSine(const QString &path, double hz, const Parts &parts, double phase = 0,
               int format = SF_FORMAT_WAV | SF_FORMAT_PCM_24)
{
    QList<std::pair<qint64, double>> ends;
    qint64 frames = 0;
    for (const auto &[seconds, dbfs] : parts)
        ends.append({frames += qint64(seconds * rate), amplitudeOf(dbfs)});
    return writeChannels(path, format, rate, 2, frames, [&](qint64 frame, int) {
        double amplitude = 0;
        for (const auto &[end, a] : ends)
            if (frame < end) {
                amplitude = a;
                break;
            }
        return float(amplitude * std::sin(2 * pi * hz * double(frame) / rate + phase));
    });
}

// A take's line in the old cache file, with the file's real size and time: figures as written
// there, "-20 0 -3 -3 0 -" (integrated, range, true peak, sample peak, clipped, marks).
QByteArray cacheLine(const QString &path, const QByteArray &figures)
{
    const FileStamp stamp = stampOf(path);
    return QFile::encodeName(path).toPercentEncoding() + ' ' + QByteArray::number(stamp.size) +
           ' ' + QByteArray::number(stamp.modifiedMs) + ' ' + figures + '\n';
}

Loudness figures(double lufs, double truePeak)
{
    Loudness loudness;
    loudness.integratedLufs = lufs;
    loudness.rangeLu = 1;
    loudness.truePeakDbtp = truePeak;
    loudness.samplePeakDbfs = truePeak - 0.2;
    return loudness;
}

// A measurement that gives the same figures for every file and counts the files it got.
LoudnessFacts::Measure counting(std::atomic<int> &count, const Loudness &loudness)
{
    return [&count, loudness](const QString &, const std::function<bool()> &) {
        ++count;
        return std::optional(loudness);
    };
}

// Keeps figures in memory, as a store would, and can stand for one that cannot be read or
// written: it then answers nothing and keeps nothing.
class MemoryKeeper final : public LoudnessKeeper
{
public:
    std::optional<Loudness> kept(const QString &path, const FileStamp &stamp) override
    {
        QMutexLocker lock(&m_mutex);
        ++m_asked;
        const auto found = m_kept.constFind(path);
        if (m_broken || found == m_kept.cend() || found->first != stamp)
            return std::nullopt;
        return found->second;
    }
    void keep(const QString &path, const FileStamp &stamp, const Loudness &loudness) override
    {
        QMutexLocker lock(&m_mutex);
        if (!m_broken)
            m_kept.insert(path, {stamp, loudness});
    }
    void setBroken(bool broken)
    {
        QMutexLocker lock(&m_mutex);
        m_broken = broken;
    }
    void put(const QString &path, const Loudness &loudness)
    {
        QMutexLocker lock(&m_mutex);
        m_kept.insert(path, {stampOf(path), loudness});
    }
    int keptCount() const
    {
        QMutexLocker lock(&m_mutex);
        return int(m_kept.size());
    }
    int asked() const
    {
        QMutexLocker lock(&m_mutex);
        return m_asked;
    }

private:
    mutable QMutex m_mutex;
    QHash<QString, std::pair<FileStamp, Loudness>> m_kept;
    bool m_broken = false;
    int m_asked = 0;
};

// A library store made in dir, with the old cache's lines taken in, and a keeper over it.
std::shared_ptr<LibraryLoudness> storeKeeper(const QTemporaryDir &dir,
                                             const QByteArray &oldCacheLines = {})
{
    const QString file = dir.filePath(QStringLiteral("data/library.sqlite"));
    SqliteLibraryStore store(file);
    if (!store.open().ok())
        return nullptr;
    if (!oldCacheLines.isEmpty()) {
        const QString cache = dir.filePath(QStringLiteral("old-loudness"));
        QFile out(cache);
        if (!out.open(QIODevice::WriteOnly) || out.write(oldCacheLines) != oldCacheLines.size())
            return nullptr;
        out.close();
        if (!store.importLoudnessCache(cache).ok())
            return nullptr;
    }
    auto keeper = std::make_shared<LibraryLoudness>(file);
    keeper->storeChanged();
    return keeper;
}

// A measurement that holds each file until the test opens the gate, and gives it up when
// told to stop.
class Gate
{
public:
    LoudnessFacts::Measure measure()
    {
        return [this](const QString &path, const std::function<bool()> &stop) {
            QMutexLocker lock(&m_mutex);
            m_started.append(path);
            while (!m_open) {
                if (stop()) {
                    m_stopped.append(path);
                    while (m_holdStopping)
                        m_go.wait(&m_mutex, 5);
                    return std::optional<Loudness>();
                }
                m_go.wait(&m_mutex, 5);
            }
            return std::optional(figures(-20, -3));
        };
    }
    void setOpen(bool open)
    {
        QMutexLocker lock(&m_mutex);
        m_open = open;
        m_go.wakeAll();
    }
    // A measurement told to stop holds on before it ends, until let go.
    void setHoldStopping(bool hold)
    {
        QMutexLocker lock(&m_mutex);
        m_holdStopping = hold;
        m_go.wakeAll();
    }
    QStringList started() const
    {
        QMutexLocker lock(&m_mutex);
        return m_started;
    }
    QStringList stopped() const
    {
        QMutexLocker lock(&m_mutex);
        return m_stopped;
    }

private:
    mutable QMutex m_mutex;
    QWaitCondition m_go;
    bool m_open = false;
    bool m_holdStopping = false;
    QStringList m_started;
    QStringList m_stopped;
};
} // namespace

class TestLoudness : public QObject
{
    Q_OBJECT
private slots:
    void measuresAsTheReferenceDoes_data();
    void measuresAsTheReferenceDoes();
    void theTruePeakIsTheLibrarysForTheWholeFile_data();
    void theTruePeakIsTheLibrarysForTheWholeFile();
    void clippedRunsSilenceAndBrokenFiles();
    void matchingGainIsLimitedByTheTruePeak_data();
    void matchingGainIsLimitedByTheTruePeak();
    // The measurement's edges: parts joined, rates, samples that are not numbers, the true
    // peak's own filter against EBU Tech 3341.
    void thePartsMeasureAsTheWholeFile_data();
    void thePartsMeasureAsTheWholeFile();
    void ratesTooLowAreRefusedAndTheRestMeasured_data();
    void ratesTooLowAreRefusedAndTheRestMeasured();
    void samplesThatAreNotNumbersMarkTheFileDamaged_data();
    void samplesThatAreNotNumbersMarkTheFileDamaged();
    void theTruePeakMeetsTech3341_data();
    void theTruePeakMeetsTech3341();
    void theFilesAskedForFirstGoFirstAndAnotherFolderStopsTheRest();
    void aChangedFileIsMeasuredAgain();
    void aFileMeasuredOnceAnswersFromItsKeeperNextTime();
    void aKeeperThatCannotKeepOnlyMeansMeasuringAgain();
    void figuresNoTakeHasAreMeasuredAgain_data();
    void figuresNoTakeHasAreMeasuredAgain();
    void notNumbersAndATooLowRateAreKeptInTheStore();
    void anotherFolderStopsWhatNoOneLooksAt();

private:
    QTemporaryDir m_dir;
};

void TestLoudness::measuresAsTheReferenceDoes_data()
{
    QTest::addColumn<double>("hz");
    QTest::addColumn<Parts>("parts");
    QTest::addColumn<double>("phase");
    QTest::addColumn<double>("lufs");
    QTest::addColumn<double>("truePeak");
    QTest::addColumn<double>("samplePeak");
    QTest::addColumn<QString>("text"); // how the loudness line begins
    // The signals of EBU Tech 3341 that a sine makes.
    QTest::newRow("1 kHz at -23 dBFS") << 1000.0 << Parts{{20, -23}} << 0.0 << -23.0 << -23.0
                                       << -23.0 << QString("\u221223.0 LUFS, range ");
    QTest::newRow("1 kHz at -33 dBFS") << 1000.0 << Parts{{20, -33}} << 0.0 << -33.0 << -33.0
                                       << -33.0 << QString("\u221233.0 LUFS, range ");
    // The quiet ends fall under the relative gate: only the middle counts.
    QTest::newRow("-36, -23, -36 dBFS: gated")
        << 1000.0 << Parts{{5, -36}, {30, -23}, {5, -36}} << 0.0 << -23.0 << -23.0 << -23.0
        << QString("\u221223.0 LUFS");
    // Past a minute, a file is measured in two halves at once and joined.
    QTest::newRow("-36, -23, -36 dBFS over 70 s, in halves")
        << 1000.0 << Parts{{10, -36}, {50, -23}, {10, -36}} << 0.0 << -23.0 << -23.0 << -23.0
        << QString("\u221223.0 LUFS");
    // A quarter of the rate at 45 degrees: every sample falls 3 dB short of the wave's
    // peak, which only the true peak sees.
    QTest::newRow("12 kHz between its samples")
        << 12000.0 << Parts{{5, -6}} << pi / 4 << qQNaN() << -6.0 << -9.03 << QString();
    // Shorter than one 400 ms block: nothing to gate, so no integrated loudness, but a peak.
    QTest::newRow("0.3 s: too short")
        << 1000.0 << Parts{{0.3, -3}} << 0.0 << Loudness::silence << -3.0 << -3.0
        << QString("too short to measure loudness, true peak "
                   "\u22123.0 dBTP");
    QTest::newRow("0.3 s, quiet") << 1000.0 << Parts{{0.3, -40}} << 0.0 << Loudness::silence
                                  << -40.0 << -40.0
                                  << QString("too short or too quiet to measure loudness, "
                                             "true peak \u221240.0 dBTP");
    // Long enough, but every block under the absolute gate of -70 LUFS.
    QTest::newRow("2 s under the gate")
        << 1000.0 << Parts{{2, -75}} << 0.0 << Loudness::silence << -75.0 << -75.0
        << QString("too short or too quiet to measure loudness");
}

void TestLoudness::measuresAsTheReferenceDoes()
{
    QFETCH(double, hz);
    QFETCH(Parts, parts);
    QFETCH(double, phase);
    QFETCH(double, lufs);
    QFETCH(double, truePeak);
    QFETCH(double, samplePeak);
    const QString path = m_dir.filePath("signal.wav");
    QVERIFY(writeSine(path, hz, parts, phase));
    const std::optional<Loudness> measured = measureLoudness(path);
    QVERIFY(measured);
    QFETCH(QString, text);
    if (std::isinf(lufs)) {
        QVERIFY(measured->silent());
        QCOMPARE(matchingGainDb(*measured), 0.0);
    } else if (!std::isnan(lufs)) {
        QVERIFY2(std::abs(measured->integratedLufs - lufs) <= 0.1,
                 qPrintable(QString::number(measured->integratedLufs)));
        QVERIFY(std::abs(matchingGainDb(*measured) - std::min(-23 - lufs, -1 - truePeak)) <= 0.1);
    }
    QVERIFY2(loudnessText(*measured).startsWith(text), qPrintable(loudnessText(*measured)));
    QVERIFY2(std::abs(measured->truePeakDbtp - truePeak) <= 0.2,
             qPrintable(QString::number(measured->truePeakDbtp)));
    QVERIFY2(std::abs(measured->samplePeakDbfs - samplePeak) <= 0.05,
             qPrintable(QString::number(measured->samplePeakDbfs)));
    QCOMPARE(measured->clipped, 0);
    QVERIFY(!measured->damaged());
}

void TestLoudness::theTruePeakIsTheLibrarysForTheWholeFile_data()
{
    QTest::addColumn<int>("sampleRate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<double>("noiseDbfs");
    // Where a short burst at a quarter of the rate, whose peaks fall between the samples,
    // starts; none when negative.
    QTest::addColumn<qint64>("burstAt");
    QTest::addColumn<int>("burstChannel");
    // A second burst, at 0.3 of full scale against the first one's 0.5, on the same channel.
    QTest::addColumn<qint64>("quieterBurstAt");
    QTest::newRow("loud noise throughout") << 48000 << 2 << 3.0 << -3.0 << -1LL << 0 << -1LL;
    QTest::newRow("a burst late in quiet noise")
        << 48000 << 2 << 5.0 << -40.0 << 200000LL << 1 << -1LL;
    QTest::newRow("a burst on the first sample") << 48000 << 2 << 2.0 << -40.0 << 0LL << 0 << -1LL;
    // The interpolator lags by six samples: the peaks of a burst that ends a stretch come
    // out in the next one.
    QTest::newRow("a burst ending a stretch") << 44100 << 1 << 2.0 << -30.0 << 4088LL << 0 << -1LL;
    // Its peaks come out in the second half, whose quieter burst would otherwise let that
    // half pass over its quiet first stretch.
    QTest::newRow("a burst ending where the second half starts")
        << 48000 << 2 << 70.0 << -30.0 << 48000LL * 35 - 8 << 1 << 48000LL * 50;
    QTest::newRow("96 kHz, six channels") << 96000 << 6 << 2.0 << -20.0 << 96001LL << 5 << -1LL;
    QTest::newRow("192 kHz: the sample peak") << 192000 << 2 << 1.0 << -20.0 << 1000LL << 0 << -1LL;
}

// The figure for a file fed whole to libebur128: every sample oversampled, within 0.01 dB.
void TestLoudness::theTruePeakIsTheLibrarysForTheWholeFile()
{
    QFETCH(int, sampleRate);
    QFETCH(int, channels);
    QFETCH(double, seconds);
    QFETCH(double, noiseDbfs);
    QFETCH(qint64, burstAt);
    QFETCH(int, burstChannel);
    QFETCH(qint64, quieterBurstAt);
    const qint64 frames = qint64(seconds * sampleRate);
    std::vector<float> samples(std::size_t(frames * channels));
    quint32 seed = 12345;
    for (float &sample : samples) {
        seed = seed * 1664525u + 1013904223u;
        sample = float(amplitudeOf(noiseDbfs) * (double(seed >> 8) / double(1 << 24) * 2 - 1));
    }
    for (const auto &[at, level] : {std::pair(burstAt, 0.5), std::pair(quieterBurstAt, 0.3)})
        for (qint64 frame = at; at >= 0 && frame < at + 8; ++frame)
            samples[std::size_t(frame * channels + burstChannel)] =
                float(level * std::sin(pi / 2 * double(frame - at) + pi / 4));
    const QString path = m_dir.filePath("peaks.wav");
    QVERIFY(writeChannels(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, sampleRate, channels, frames,
                          [&](qint64 frame, int channel) {
                              return samples[std::size_t(frame * channels + channel)];
                          }));

    ebur128_state *whole =
        ebur128_init(unsigned(channels), unsigned(sampleRate), EBUR128_MODE_TRUE_PEAK);
    QVERIFY(whole);
    QCOMPARE(ebur128_add_frames_float(whole, samples.data(), std::size_t(frames)), EBUR128_SUCCESS);
    double reference = 0;
    for (int channel = 0; channel < channels; ++channel) {
        double peak = 0;
        ebur128_true_peak(whole, unsigned(channel), &peak);
        reference = std::max(reference, peak);
    }
    ebur128_destroy(&whole);

    const std::optional<Loudness> measured = measureLoudness(path);
    QVERIFY(measured);
    // The program's own filter, on the stretches where the peak can rise, against the
    // library's on every sample.
    QVERIFY2(std::abs(measured->truePeakDbtp - 20 * std::log10(reference)) <= 0.01,
             qPrintable(QStringLiteral("%1 against %2")
                            .arg(measured->truePeakDbtp)
                            .arg(20 * std::log10(reference))));
}

void TestLoudness::clippedRunsSilenceAndBrokenFiles()
{
    // Three flattened runs of 5 samples on the left channel, and lone full-scale peaks on
    // the right, which are no clipping.
    const QString clipped = m_dir.filePath("clipped.wav");
    QVERIFY(writeChannels(clipped, SF_FORMAT_WAV | SF_FORMAT_PCM_16, rate, 2, rate,
                          [](qint64 frame, int channel) {
                              if (channel == 0)
                                  return frame % 10000 < 5 && frame < 30000 ? 1.0f : 0.3f;
                              return frame % 1000 == 0 ? -1.0f : 0.2f;
                          }));
    const std::optional<Loudness> hot = measureLoudness(clipped);
    QVERIFY(hot);
    QCOMPARE(hot->clipped, 15);
    QVERIFY(hot->damaged());
    QVERIFY(loudnessText(*hot).endsWith(", clipped: 15"));

    // Runs across the seam between two parts count once, from their first sample: five on
    // the left (two before the seam, three after), two on the right (one on either side).
    const QString seam = m_dir.filePath("seam.wav");
    const qint64 middle = rate; // two seconds, twenty tenths: the halves meet at one second
    QVERIFY(writeChannels(seam, SF_FORMAT_WAV | SF_FORMAT_PCM_16, rate, 2, 2 * rate,
                          [&](qint64 frame, int channel) {
                              const qint64 from = channel == 0 ? middle - 2 : middle - 1;
                              const qint64 to = channel == 0 ? middle + 3 : middle + 1;
                              return frame >= from && frame < to ? 1.0f : 0.1f;
                          }));
    for (const int parts : {1, 2, 3}) {
        const std::optional<Loudness> cut = measureLoudnessInParts(seam, parts);
        QVERIFY(cut);
        QCOMPARE(cut->clipped, 7);
    }

    // Digital silence: no loudness, and no division by zero on the way.
    const QString silent = m_dir.filePath("silent.wav");
    QVERIFY(writeChannels(silent, SF_FORMAT_WAV | SF_FORMAT_PCM_16, rate, 1, rate,
                          [](qint64, int) { return 0.0f; }));
    const std::optional<Loudness> nothing = measureLoudness(silent);
    QVERIFY(nothing);
    QVERIFY(nothing->silent());
    QCOMPARE(loudnessText(*nothing),
             QString("\u2212\u221e LUFS, range 0.0 LU, true peak \u2212\u221e dBTP"));
    QCOMPARE(matchingGainDb(*nothing), 0.0);

    // What cannot be decoded measures nothing.
    const QString broken = m_dir.filePath("broken.wav");
    QVERIFY(writeBytes(broken, "RIFF\x10\0\0\0WAVEfmt junk"));
    QVERIFY(!measureLoudness(broken));
    QVERIFY(!measureLoudness(m_dir.filePath("gone.wav")));
    // A measurement asked to stop gives nothing rather than a part's figures.
    QVERIFY(!measureLoudness(clipped, [] { return true; }));
    QVERIFY(!measureLoudnessInParts(clipped, 2, [] { return true; }));
    QVERIFY(!measureLoudnessInParts(broken, 2));
}

void TestLoudness::matchingGainIsLimitedByTheTruePeak_data()
{
    QTest::addColumn<double>("lufs");
    QTest::addColumn<double>("truePeak");
    QTest::addColumn<bool>("notNumbers");
    QTest::addColumn<bool>("rateTooLow");
    QTest::addColumn<double>("gain");
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("quiet, room to rise") << -33.0 << -20.0 << false << false << 10.0;
    // A dense file at -30 LUFS whose true peak is -3 dBTP may rise by 2 dB only.
    QTest::newRow("dense: the peak stops it") << -30.0 << -3.0 << false << false << 2.0;
    // A hot one comes down to the target, whatever its peak.
    QTest::newRow("hot: down to the target") << -9.0 << 0.5 << false << false << -14.0;
    // Quieter than the target but over the ceiling already: it comes down to the ceiling.
    QTest::newRow("quiet but over the ceiling") << -30.0 << 0.5 << false << false << -1.5;
    QTest::newRow("very quiet: no more than 20 dB") << -60.0 << -40.0 << false << false << 20.0;
    QTest::newRow("silent") << -inf << -inf << false << false << 0.0;
    // Figures no measurement gives, as a damaged cache line could hold them.
    QTest::newRow("forged: -150 LUFS, no peak") << -150.0 << -inf << false << false << 0.0;
    QTest::newRow("forged: -1000 LUFS") << -1000.0 << -900.0 << false << false << 20.0;
    QTest::newRow("forged: -1000 LUFS, peak over") << -1000.0 << 3.0 << false << false << -4.0;
    QTest::newRow("forged: NaN loudness") << nan << -10.0 << false << false << 0.0;
    QTest::newRow("forged: NaN peak") << -30.0 << nan << false << false << 0.0;
    QTest::newRow("forged: +inf loudness") << inf << -10.0 << false << false << 0.0;
    QTest::newRow("forged: +inf peak") << -30.0 << inf << false << false << 0.0;
    QTest::newRow("forged: -DBL_MAX peak")
        << -40.0 << -std::numeric_limits<double>::max() << false << false << 17.0;
    QTest::newRow("not numbers") << -20.0 << inf << true << false << 0.0;
    QTest::newRow("not numbers, finite figures") << -30.0 << -10.0 << true << false << 0.0;
    QTest::newRow("rate too low") << -30.0 << -10.0 << false << true << 0.0;
}

void TestLoudness::matchingGainIsLimitedByTheTruePeak()
{
    QFETCH(double, lufs);
    QFETCH(double, truePeak);
    QFETCH(bool, notNumbers);
    QFETCH(bool, rateTooLow);
    QFETCH(double, gain);
    Loudness loudness;
    loudness.integratedLufs = lufs;
    loudness.truePeakDbtp = truePeak;
    loudness.notNumbers = notNumbers;
    loudness.rateTooLow = rateTooLow;
    const double matching = matchingGainDb(loudness);
    QVERIFY2(std::isfinite(matching), qPrintable(QString::number(matching)));
    QCOMPARE(matching, gain);
    // Whatever the target and ceiling, never NaN, never over the limit.
    for (const double target : {-23.0, -14.0, std::numeric_limits<double>::quiet_NaN(),
                                std::numeric_limits<double>::infinity()}) {
        const double other = matchingGainDb(loudness, target, -1.0);
        QVERIFY(std::isfinite(other));
        QVERIFY(other <= maxGainDb);
    }
}

namespace {
// A deterministic white noise in [-1, 1).
float noiseSample(quint32 &seed)
{
    seed = seed * 1664525u + 1013904223u;
    return float(double(seed >> 8) / double(1 << 24) * 2 - 1);
}

// What libebur128 gives for samples fed to one state from first to last.
struct Reference
{
    double lufs = 0;
    double range = 0;
    double truePeakDbtp = 0;
};

Reference libraryFigures(const std::vector<float> &samples, int sampleRate, int channels)
{
    Reference figures;
    ebur128_state *state = ebur128_init(unsigned(channels), unsigned(sampleRate),
                                        EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK);
    if (!state)
        return figures;
    ebur128_add_frames_float(state, samples.data(), samples.size() / std::size_t(channels));
    ebur128_loudness_global(state, &figures.lufs);
    ebur128_loudness_range(state, &figures.range);
    double peak = 0;
    for (int channel = 0; channel < channels; ++channel) {
        double channelPeak = 0;
        ebur128_true_peak(state, unsigned(channel), &channelPeak);
        peak = std::max(peak, channelPeak);
    }
    figures.truePeakDbtp = 20 * std::log10(peak);
    ebur128_destroy(&state);
    return figures;
}

// Within `tolerance`, or the same infinity.
bool near(double value, double expected, double tolerance)
{
    return value == expected || std::abs(value - expected) <= tolerance;
}

bool writeFloats(const QString &path, const std::vector<float> &samples, int sampleRate,
                 int channels)
{
    return writeChannels(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, sampleRate, channels,
                         qint64(samples.size()) / channels, [&](qint64 frame, int channel) {
                             return samples[std::size_t(frame * channels + channel)];
                         });
}
} // namespace

void TestLoudness::thePartsMeasureAsTheWholeFile_data()
{
    QTest::addColumn<int>("sampleRate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<double>("seconds");
    // The level of the noise throughout, dBFS; -inf for digital silence.
    QTest::addColumn<double>("floorDbfs");
    // A burst of louder noise: its length, level and where it starts, the middle of the file
    // plus this many seconds (the seam between two parts is at the middle).
    QTest::addColumn<double>("burstSeconds");
    QTest::addColumn<double>("burstDbfs");
    QTest::addColumn<double>("burstFromMiddle");
    QTest::addColumn<int>("parts");
    // The scheduler's threads for whole files held by other work meanwhile: the parts that
    // find none free are measured by the caller, after its own; -1 holds them all.
    QTest::addColumn<int>("held");
    const double inf = std::numeric_limits<double>::infinity();
    // Joined as libebur128 joins states, the blocks across the seam were lost: the first read
    // -5.9 LUFS for -4.2, the second a range of 0.0 LU for 23.0.
    QTest::newRow("120 s at -40 dBFS, a 0.5 s hit across the middle")
        << 48000 << 2 << 120.0 << -40.0 << 0.5 << -3.0 << -0.25 << 2 << 0;
    QTest::newRow("70 s, a 1.2 s burst across the middle")
        << 48000 << 2 << 70.0 << -40.0 << 1.2 << -10.0 << -0.6 << 2 << 0;
    QTest::newRow("44.1 kHz mono, a burst ending on the seam")
        << 44100 << 1 << 12.0 << -35.0 << 0.4 << -6.0 << -0.4 << 2 << 0;
    QTest::newRow("44.1 kHz, three channels, a burst starting on the seam")
        << 44100 << 3 << 12.0 << -35.0 << 0.3 << -6.0 << 0.0 << 2 << 0;
    QTest::newRow("96 kHz, eight channels")
        << 96000 << 8 << 6.0 << -30.0 << 0.7 << -3.0 << -0.3 << 2 << 0;
    QTest::newRow("48 kHz, six channels, three parts")
        << 48000 << 6 << 9.0 << -30.0 << 0.2 << -3.0 << -0.1 << 3 << 0;
    QTest::newRow("silence but for the burst")
        << 48000 << 2 << 10.0 << -inf << 0.5 << -6.0 << -0.2 << 2 << 0;
    QTest::newRow("a 100 ms click at the seam, mono")
        << 48000 << 1 << 10.0 << -50.0 << 0.1 << 0.0 << -0.05 << 2 << 0;
    QTest::newRow("more parts than there are tenths")
        << 48000 << 2 << 0.35 << -20.0 << 0.1 << -6.0 << 0.0 << 8 << 0;
    QTest::newRow("a hit across the middle, every thread busy")
        << 48000 << 2 << 70.0 << -40.0 << 0.5 << -3.0 << -0.25 << 2 << -1;
    QTest::newRow("six channels, three parts, one thread free")
        << 48000 << 6 << 9.0 << -30.0 << 0.2 << -3.0 << -0.1 << 3 << 1;
}

// Whichever way the file is cut, the figures are those of the file measured in one piece:
// against libebur128 fed the whole file to one state, and against the program's own
// measurement in one part, whose true peak it gives to the bit.
void TestLoudness::thePartsMeasureAsTheWholeFile()
{
    QFETCH(int, sampleRate);
    QFETCH(int, channels);
    QFETCH(double, seconds);
    QFETCH(double, floorDbfs);
    QFETCH(double, burstSeconds);
    QFETCH(double, burstDbfs);
    QFETCH(double, burstFromMiddle);
    QFETCH(int, parts);
    QFETCH(int, held);
    const qint64 frames = qint64(seconds * sampleRate);
    const qint64 burstFrom = frames / 2 + qint64(burstFromMiddle * sampleRate);
    const qint64 burstTo = burstFrom + qint64(burstSeconds * sampleRate);
    std::vector<float> samples(std::size_t(frames * channels));
    quint32 seed = 4242;
    const float floor = float(amplitudeOf(floorDbfs));
    const float burst = float(amplitudeOf(burstDbfs));
    for (qint64 frame = 0; frame < frames; ++frame)
        for (int channel = 0; channel < channels; ++channel)
            samples[std::size_t(frame * channels + channel)] =
                noiseSample(seed) * (frame >= burstFrom && frame < burstTo ? burst : floor);
    const QString path = m_dir.filePath("parts.wav");
    QVERIFY(writeFloats(path, samples, sampleRate, channels));

    const Reference reference = libraryFigures(samples, sampleRate, channels);
    const std::optional<Loudness> whole = measureLoudnessInParts(path, 1);
    Scheduler &scheduler = Scheduler::instance();
    const int holding =
        held < 0 ? scheduler.wholeThreads() : std::min(held, scheduler.wholeThreads() - 1);
    // Held by the tasks, which may still be waking when the test has ended.
    struct Semaphores
    {
        QSemaphore entered, open;
    };
    const auto gate = std::make_shared<Semaphores>();
    for (int i = 0; i < holding; ++i)
        scheduler.start(
            Lane::now,
            [gate] {
                gate->entered.release();
                gate->open.tryAcquire(1, 20000);
            },
            Weight::whole);
    QVERIFY(gate->entered.tryAcquire(holding, 20000));
    const std::optional<Loudness> cut = measureLoudnessInParts(path, parts);
    gate->open.release(holding);
    QVERIFY(whole && cut);
    const auto figures = [](const Loudness &l) {
        return QStringLiteral("%1 LUFS, %2 LU, %3 dBTP")
            .arg(l.integratedLufs, 0, 'f', 3)
            .arg(l.rangeLu, 0, 'f', 3)
            .arg(l.truePeakDbtp, 0, 'f', 4);
    };
    const QString said = QStringLiteral("whole %1; in parts %2; libebur128 %3 LUFS, %4 LU, %5 dBTP")
                             .arg(figures(*whole), figures(*cut))
                             .arg(reference.lufs, 0, 'f', 3)
                             .arg(reference.range, 0, 'f', 3)
                             .arg(reference.truePeakDbtp, 0, 'f', 4);
    for (const Loudness &measured : {*whole, *cut}) {
        QVERIFY2(near(measured.integratedLufs, reference.lufs, 0.05), qPrintable(said));
        QVERIFY2(near(measured.rangeLu, reference.range, 0.1), qPrintable(said));
        QVERIFY2(near(measured.truePeakDbtp, reference.truePeakDbtp, 0.01), qPrintable(said));
        QVERIFY(measured.measured());
        QCOMPARE(measured.silent(), !std::isfinite(reference.lufs));
    }
    // The parts count every block once: what is left of a difference is rounding.
    QVERIFY2(near(cut->integratedLufs, whole->integratedLufs, 1e-6), qPrintable(said));
    QVERIFY2(near(cut->rangeLu, whole->rangeLu, 1e-6), qPrintable(said));
    QCOMPARE(cut->truePeakDbtp, whole->truePeakDbtp);
    QCOMPARE(cut->samplePeakDbfs, whole->samplePeakDbfs);
    // The program's own choice of parts for this length gives the same.
    if (seconds >= 60) {
        const std::optional<Loudness> chosen = measureLoudness(path);
        QVERIFY(chosen);
        QVERIFY(std::abs(chosen->integratedLufs - whole->integratedLufs) <= 1e-6);
        QCOMPARE(chosen->truePeakDbtp, whole->truePeakDbtp);
    }
}

void TestLoudness::ratesTooLowAreRefusedAndTheRestMeasured_data()
{
    QTest::addColumn<int>("sampleRate");
    for (const int sampleRate : {1, 2, 8, 15, 16, 17, 18, 100, 500, 999, 1000, 2000, 3000, 3363})
        QTest::addRow("%d Hz: refused", sampleRate) << sampleRate;
    // The library's state at all of these, and the filter's factors on either side of 96 and
    // 192 kHz.
    for (const int sampleRate : {3364, 4000, 7999, 8000, 11025, 22050, 32000, 44101, 95999, 96000,
                                 176400, 191999, 192000, 352800, 384000})
        QTest::addRow("%d Hz", sampleRate) << sampleRate;
}

void TestLoudness::ratesTooLowAreRefusedAndTheRestMeasured()
{
    QFETCH(int, sampleRate);
    const int channels = 2;
    // Two seconds of noise at -20 dBFS, and on the left a tone at -6 dBFS of a tenth of the
    // rate.
    const qint64 frames = std::max<qint64>(4, 2LL * sampleRate);
    std::vector<float> samples(std::size_t(frames * channels));
    quint32 seed = 99;
    for (qint64 frame = 0; frame < frames; ++frame) {
        samples[std::size_t(frame * channels)] =
            0.5f * float(std::sin(2 * pi * 0.1 * double(frame))) + 0.1f * noiseSample(seed);
        samples[std::size_t(frame * channels + 1)] = 0.1f * noiseSample(seed);
    }
    const QString path = m_dir.filePath("rate.wav");
    QVERIFY(writeFloats(path, samples, sampleRate, channels));
    for (const int parts : {1, 2}) {
        const std::optional<Loudness> measured = measureLoudnessInParts(path, parts);
        QVERIFY(measured);
        if (sampleRate < Loudness::minimumRate) {
            QVERIFY(measured->rateTooLow);
            QVERIFY(!measured->measured());
            QVERIFY(measured->silent());
            QVERIFY(!measured->damaged());
            QCOMPARE(loudnessText(*measured), QString("rate too low to measure loudness"));
            QCOMPARE(matchingGainDb(*measured), 0.0);
            continue;
        }
        QVERIFY(measured->measured());
        QVERIFY(!measured->rateTooLow);
        const Reference reference = libraryFigures(samples, sampleRate, channels);
        const QString said = QStringLiteral("%1 LUFS %2 dBTP; libebur128 %3 LUFS %4 dBTP")
                                 .arg(measured->integratedLufs)
                                 .arg(measured->truePeakDbtp)
                                 .arg(reference.lufs)
                                 .arg(reference.truePeakDbtp);
        QVERIFY2(std::abs(measured->integratedLufs - reference.lufs) <= 0.05, qPrintable(said));
        QVERIFY2(std::abs(measured->truePeakDbtp - reference.truePeakDbtp) <= 0.01,
                 qPrintable(said));
        QVERIFY(std::isfinite(matchingGainDb(*measured)));
    }
    // The same refusal through the program's own entry.
    const std::optional<Loudness> measured = measureLoudness(path);
    QVERIFY(measured);
    QCOMPARE(measured->rateTooLow, sampleRate < Loudness::minimumRate);
}

void TestLoudness::samplesThatAreNotNumbersMarkTheFileDamaged_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("at");
    QTest::addColumn<int>("parts");
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("+inf") << inf << 1.5 << 1;
    QTest::newRow("-inf") << -inf << 1.5 << 1;
    // Once in the weighting's memory it turned every later block to NaN: the take read as
    // silent.
    QTest::newRow("NaN in the first 0.4 s") << nan << 0.2 << 1;
    QTest::newRow("NaN on the first sample") << nan << 0.0 << 1;
    QTest::newRow("NaN in the second of two parts") << nan << 3.5 << 2;
    QTest::newRow("+inf on the last sample") << inf << -1.0 << 2;
}

void TestLoudness::samplesThatAreNotNumbersMarkTheFileDamaged()
{
    QFETCH(double, value);
    QFETCH(double, at);
    QFETCH(int, parts);
    // A stereo take at about -15 LUFS for four seconds.
    const qint64 frames = 4LL * rate;
    const qint64 bad = at < 0 ? frames - 1 : qint64(at * rate);
    const QString path = m_dir.filePath("notnumbers.wav");
    QVERIFY(writeChannels(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, rate, 2, frames,
                          [&](qint64 frame, int channel) {
                              return frame == bad && channel == 1
                                         ? float(value)
                                         : float(0.25 * std::sin(2 * pi * 1000 * frame / rate));
                          }));
    const std::optional<Loudness> measured = measureLoudnessInParts(path, parts);
    QVERIFY(measured);
    QVERIFY(measured->notNumbers);
    QCOMPARE(measured->truePeakDbtp, std::numeric_limits<double>::infinity());
    QVERIFY(measured->damaged());
    QVERIFY(!measured->measured());
    QVERIFY2(loudnessText(*measured).contains("contains samples that are not numbers"),
             qPrintable(loudnessText(*measured)));
    QCOMPARE(matchingGainDb(*measured), 0.0);
}

void TestLoudness::theTruePeakMeetsTech3341_data()
{
    // EBU Tech 3341's true-peak signals, 15 to 23, stereo at 48 kHz. 15 to 19 are a sine of a
    // fraction of the rate at a phase against the samples, faded in and out over 10 ms.
    QTest::addColumn<int>("divisor");
    QTest::addColumn<double>("amplitude");
    QTest::addColumn<double>("phaseDegrees");
    // For 20 to 23: made at four times the rate, low-pass filtered, and taken from this
    // sample of the four on; -1 for the sines.
    QTest::addColumn<int>("offset");
    QTest::addColumn<double>("expected");
    QTest::newRow("15: fs/4, 0 degrees") << 4 << 0.5 << 0.0 << -1 << -6.0;
    QTest::newRow("16: fs/4, 45 degrees") << 4 << 0.5 << 45.0 << -1 << -6.0;
    QTest::newRow("17: fs/6, 60 degrees") << 6 << 0.5 << 60.0 << -1 << -6.0;
    QTest::newRow("18: fs/8, 67.5 degrees") << 8 << 0.5 << 67.5 << -1 << -6.0;
    // Samples at full scale whose wave peaks 3 dB over it.
    QTest::newRow("19: fs/4 at 1.41, 45 degrees") << 4 << 1.41 << 45.0 << -1 << 3.0;
    // A sine of fs/6 at 0.5 holding a single period of fs/4 at 1.0, continuous in phase on
    // both sides.
    for (int offset = 0; offset < 4; ++offset)
        QTest::addRow("%d: one period at 0 dBTP, offset %d", 20 + offset, offset)
            << 6 << 0.5 << 0.0 << offset << 0.0;
}

void TestLoudness::theTruePeakMeetsTech3341()
{
    QFETCH(int, divisor);
    QFETCH(double, amplitude);
    QFETCH(double, phaseDegrees);
    QFETCH(int, offset);
    QFETCH(double, expected);
    const qint64 frames = rate / 4;
    const qint64 fade = rate / 100;
    const auto faded = [&](qint64 frame) {
        const qint64 edge = std::min(frame, frames - 1 - frame);
        return edge < fade ? 0.5 - 0.5 * std::cos(pi * double(edge) / double(fade)) : 1.0;
    };
    std::vector<double> mono(static_cast<std::size_t>(frames));
    if (offset < 0) {
        for (qint64 frame = 0; frame < frames; ++frame)
            mono[std::size_t(frame)] =
                amplitude * faded(frame) *
                std::sin(2 * pi * double(frame) / divisor + phaseDegrees * pi / 180);
    } else {
        // At four times the rate the sine of fs/6 lasts 24 samples, the period of fs/4 16:
        // the period goes in at a rising zero of the sine, which goes on from there after it.
        const qint64 fine = frames * 4;
        const qint64 burstFrom = fine / 2 - (fine / 2) % 24;
        std::vector<double> made(static_cast<std::size_t>(fine));
        for (qint64 i = 0; i < fine; ++i) {
            const qint64 sineAt = i < burstFrom ? i : i - 16;
            made[std::size_t(i)] = i >= burstFrom && i < burstFrom + 16
                                       ? std::sin(2 * pi * double(i - burstFrom) / 16)
                                       : amplitude * std::sin(2 * pi * double(sineAt) / 24);
        }
        // The anti-aliasing low-pass: a Blackman-windowed sinc whose -6 dB point is at 0.45 of
        // the target rate, flat within a few thousandths of a dB below 19 kHz.
        constexpr int taps = 255;
        const double cutoff = 0.45 / 4;
        std::vector<double> lowPass(taps);
        double sum = 0;
        for (int n = 0; n < taps; ++n) {
            const double x = n - (taps - 1) / 2.0;
            const double sinc = x == 0 ? 2 * cutoff : std::sin(2 * pi * cutoff * x) / (pi * x);
            const double window = 0.42 - 0.5 * std::cos(2 * pi * n / (taps - 1)) +
                                  0.08 * std::cos(4 * pi * n / (taps - 1));
            sum += lowPass[std::size_t(n)] = sinc * window;
        }
        for (qint64 frame = 0; frame < frames; ++frame) {
            const qint64 centre = frame * 4 + offset;
            double value = 0;
            for (int n = 0; n < taps; ++n) {
                const qint64 i = centre + n - (taps - 1) / 2;
                if (i >= 0 && i < fine)
                    value += lowPass[std::size_t(n)] / sum * made[std::size_t(i)];
            }
            mono[std::size_t(frame)] = value * faded(frame);
        }
    }
    std::vector<float> samples(std::size_t(frames * 2));
    for (qint64 frame = 0; frame < frames; ++frame)
        samples[std::size_t(frame * 2)] = samples[std::size_t(frame * 2 + 1)] =
            float(mono[std::size_t(frame)]);
    const QString path = m_dir.filePath("tech3341.wav");
    QVERIFY(writeFloats(path, samples, rate, 2));
    const std::optional<Loudness> measured = measureLoudness(path);
    QVERIFY(measured);
    const Reference reference = libraryFigures(samples, rate, 2);
    const QString said = QStringLiteral("%1 dBTP (samples %2 dBFS); libebur128 %3 dBTP")
                             .arg(measured->truePeakDbtp, 0, 'f', 4)
                             .arg(measured->samplePeakDbfs, 0, 'f', 4)
                             .arg(reference.truePeakDbtp, 0, 'f', 4);
    // The standard's tolerance: +0.2 dB, -0.4 dB.
    QVERIFY2(measured->truePeakDbtp <= expected + 0.2, qPrintable(said));
    QVERIFY2(measured->truePeakDbtp >= expected - 0.4, qPrintable(said));
    QVERIFY2(std::abs(measured->truePeakDbtp - reference.truePeakDbtp) <= 0.01, qPrintable(said));
}

void TestLoudness::theFilesAskedForFirstGoFirstAndAnotherFolderStopsTheRest()
{
    // A measurement that takes until the test lets it go: one file at a time, or all.
    QMutex mutex;
    QWaitCondition go;
    QStringList order;
    bool stopped = false;
    bool open = false;
    int permits = 0;
    // Looks whether to stop only once another has stopped.
    QString lookingLast;
    const auto measure = [&](const QString &path, const std::function<bool()> &stop) {
        QMutexLocker lock(&mutex);
        order.append(path);
        while (!open && permits == 0) {
            if ((path != lookingLast || stopped) && stop()) {
                stopped = true;
                return std::optional<Loudness>();
            }
            go.wait(&mutex, 5);
        }
        if (!open)
            --permits;
        Loudness loudness;
        loudness.integratedLufs = -20;
        loudness.truePeakDbtp = loudness.samplePeakDbfs = -3;
        return std::optional(loudness);
    };
    const auto started = [&] {
        QMutexLocker lock(&mutex);
        return order;
    };
    LoudnessFacts facts(nullptr, measure, [](const QString &) { return FileStamp{1, 1}; });
    QSignalSpy measured(&facts, &LoudnessFacts::measured);
    // Every worker holds a file of the folder, and two files wait behind them.
    const int workers = LoudnessFacts::threads();
    QStringList folder;
    for (int i = 1; i <= workers + 2; ++i)
        folder.append(QStringLiteral("/a/%1.wav").arg(i));
    facts.requestFolder(folder);
    QTRY_COMPARE(started().size(), workers);
    facts.requestFirst({folder.last()});
    QVERIFY(facts.waiting(folder.last()));
    QVERIFY(facts.waiting(folder[workers]));
    // The worker let go first takes the one asked for, not the folder's next.
    {
        QMutexLocker lock(&mutex);
        permits = 1;
        go.wakeAll();
    }
    QTRY_COMPARE(started().size(), workers + 1);
    QCOMPARE(started().last(), folder.last());
    {
        QMutexLocker lock(&mutex);
        open = true;
        go.wakeAll();
    }
    QTRY_COMPARE(measured.size(), folder.size());
    // Asked for twice, in the folder and first, a file is measured once.
    QTRY_COMPARE(facts.waiting(folder.last()), false);
    QCOMPARE(QSet<QString>(started().cbegin(), started().cend()).size(), started().size());
    QCOMPARE(facts.known("/a/3.wav")->integratedLufs, -20.0);
    QVERIFY(!facts.waiting("/a/3.wav"));

    // Another folder: what of the first one runs stops, what waits is dropped.
    {
        QMutexLocker lock(&mutex);
        open = false;
        order.clear();
    }
    const QStringList before = {"/b/1.wav", "/b/2.wav", "/b/3.wav"};
    facts.requestFolder(before);
    const int running = std::min(workers, 3);
    QTRY_COMPARE(started().size(), running);
    // The band shows the one at hand while it is measured: that one goes on.
    const QString atHand = started().first();
    {
        QMutexLocker lock(&mutex);
        lookingLast = atHand;
    }
    QObject band;
    facts.requestFor(&band, atHand);
    facts.requestFolder({"/c/1.wav"});
    if (running > 1)
        QTRY_VERIFY([&] {
            QMutexLocker lock(&mutex);
            return stopped;
        }());
    {
        QMutexLocker lock(&mutex);
        open = true;
        go.wakeAll();
    }
    QTRY_VERIFY(facts.known("/c/1.wav").has_value());
    QTRY_VERIFY(facts.known(atHand).has_value());
    QVERIFY(!facts.waiting(atHand));
    QTest::qWait(50); // any worker left would have gone on by now
    for (const QString &path : before)
        if (path != atHand) {
            QVERIFY2(!facts.known(path), qPrintable(path));
            QVERIFY(!facts.waiting(path));
        }
}

void TestLoudness::aChangedFileIsMeasuredAgain()
{
    const QString path = m_dir.filePath("changing.wav");
    QVERIFY(writeSine(path, 1000, {{3, -30}}));
    LoudnessFacts facts(nullptr);
    facts.requestFirst({path});
    QTRY_VERIFY(facts.known(path).has_value());
    QVERIFY(std::abs(facts.known(path)->integratedLufs + 30) < 0.2);
    // Louder and longer: another size, another time.
    QVERIFY(writeSine(path, 1000, {{4, -20}}));
    facts.requestFirst({path});
    QTRY_VERIFY(std::abs(facts.known(path)->integratedLufs + 20) < 0.2);
}

void TestLoudness::aFileMeasuredOnceAnswersFromItsKeeperNextTime()
{
    QTemporaryDir dir;
    // A name with a space, a newline and bytes that are not UTF-8 is kept as any other.
    const QString path = dir.filePath(QFile::decodeName("kept \ntake \xe9.wav"));
    QVERIFY(writeSine(path, 1000, {{2, -26}}));
    const std::shared_ptr<LibraryLoudness> keeper = storeKeeper(dir);
    QVERIFY(keeper);
    {
        LoudnessFacts first(nullptr);
        first.keepIn(keeper);
        first.requestFirst({path});
        QTRY_VERIFY(first.known(path).has_value());
    }
    std::atomic<int> measured = 0;
    LoudnessFacts second(nullptr, counting(measured, figures(-20, -3)));
    second.keepIn(keeper);
    second.requestFirst({path});
    QTRY_VERIFY(second.known(path).has_value());
    QCOMPARE(measured.load(), 0);
    QVERIFY(std::abs(second.known(path)->integratedLufs + 26) < 0.2);

    // Changed since: measured again, whatever the store says, and the new figures kept.
    QVERIFY(writeSine(path, 1000, {{3, -26}}));
    second.requestFirst({path});
    QTRY_COMPARE(measured.load(), 1);
    QTRY_COMPARE(second.known(path)->integratedLufs, -20.0);
    LoudnessFacts third(nullptr, counting(measured, figures(-10, -1)));
    third.keepIn(keeper);
    third.requestFirst({path});
    QTRY_VERIFY(third.known(path).has_value());
    QCOMPARE(third.known(path)->integratedLufs, -20.0);
    QCOMPARE(measured.load(), 1);

    // What the keeper got from elsewhere (the library measured it) answers too; figures no
    // take can have are measured all the same.
    const QString other = dir.filePath("other.wav");
    const QString forged = dir.filePath("forged.wav");
    QVERIFY(writeSine(other, 1000, {{1, -30}}));
    QVERIFY(writeSine(forged, 1000, {{1, -30}}));
    auto memory = std::make_shared<MemoryKeeper>();
    memory->put(other, figures(-31, -12));
    memory->put(forged, figures(-150, Loudness::silence));
    LoudnessFacts fourth(nullptr, counting(measured, figures(-30, -10)));
    fourth.keepIn(memory);
    fourth.requestFirst({other, forged});
    QTRY_VERIFY(fourth.known(other).has_value());
    QTRY_VERIFY(fourth.known(forged).has_value());
    QCOMPARE(fourth.known(other)->integratedLufs, -31.0);
    QCOMPARE(fourth.known(forged)->integratedLufs, -30.0);
    QCOMPARE(measured.load(), 2);
}

void TestLoudness::aKeeperThatCannotKeepOnlyMeansMeasuringAgain()
{
    QTemporaryDir dir;
    const QString take = dir.filePath("take.wav");
    QVERIFY(writeSine(take, 1000, {{1, -20}}));
    std::atomic<int> measured = 0;
    // A keeper that fails (a broken store, a read-only one), and one over a place where no
    // store can be: the figures are shown all the same, and measured again at each run.
    auto broken = std::make_shared<MemoryKeeper>();
    broken->setBroken(true);
    auto nowhere =
        std::make_shared<LibraryLoudness>(QStringLiteral("/proc/no-such-place/library.sqlite"));
    nowhere->storeChanged();
    const std::shared_ptr<LoudnessKeeper> keepers[] = {broken, nowhere};
    int runs = 0;
    for (const std::shared_ptr<LoudnessKeeper> &keeper : keepers)
        for (int run = 1; run <= 2; ++run) {
            LoudnessFacts facts(nullptr, counting(measured, figures(-20, -3)));
            facts.keepIn(keeper);
            facts.requestFirst({take});
            QTRY_VERIFY(facts.known(take).has_value());
            QCOMPARE(measured.load(), ++runs);
            QCOMPARE(loudnessText(*facts.known(take)), loudnessText(figures(-20, -3)));
        }
    QVERIFY(broken->asked() >= 2);
    QCOMPARE(broken->keptCount(), 0);
}

void TestLoudness::figuresNoTakeHasAreMeasuredAgain_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("trusted");
    // Integrated, range, true peak, sample peak, clipped samples, marks.
    QTest::newRow("a quiet take") << QByteArray("-30.5 6.2 -8 -8.5 0 -") << true;
    QTest::newRow("silence") << QByteArray("-inf 0 -inf -inf 0 -") << true;
    QTest::newRow("under the gate, with a peak") << QByteArray("-inf 0 -60 -61 0 -") << true;
    QTest::newRow("hot and clipped") << QByteArray("-8 3 0.8 0 120 -") << true;
    QTest::newRow("samples not numbers") << QByteArray("nan nan inf -inf 0 notnumbers") << true;
    QTest::newRow("a rate too low") << QByteArray("-inf 0 -inf -inf 0 ratetoolow") << true;
    // Today's forgery: "Match loudness" sent 309,882 of 313,344 samples over full scale.
    QTest::newRow("-150 LUFS without a peak") << QByteArray("-150 0 -inf -inf 0 -") << false;
    QTest::newRow("-1000 LUFS") << QByteArray("-1000 0 -20 -20 0 -") << false;
    QTest::newRow("past +10 LUFS") << QByteArray("25 0 30 30 0 -") << false;
    QTest::newRow("loudness not a number, unmarked") << QByteArray("nan 0 -3 -3 0 -") << false;
    QTest::newRow("an infinite true peak, unmarked") << QByteArray("-20 0 inf -3 0 -") << false;
    QTest::newRow("marked, with a finite peak") << QByteArray("-20 0 -3 -3 0 notnumbers") << false;
    QTest::newRow("a negative range") << QByteArray("-20 -1 -3 -3 0 -") << false;
    QTest::newRow("an infinite range") << QByteArray("-20 inf -3 -3 0 -") << false;
    QTest::newRow("a sample over the true peak") << QByteArray("-20 0 -10 -3 0 -") << false;
    QTest::newRow("far louder than its peak") << QByteArray("-20 0 -60 -60 0 -") << false;
    QTest::newRow("loud without a peak") << QByteArray("-20 0 -inf -inf 0 -") << false;
    QTest::newRow("clipped less than nothing") << QByteArray("-20 0 -3 -3 -5 -") << false;
    QTest::newRow("an unknown mark") << QByteArray("-20 0 -3 -3 0 loud") << false;
    QTest::newRow("a mark twice") << QByteArray("nan 0 inf -3 0 notnumbers+notnumbers") << false;
    QTest::newRow("no marks at all") << QByteArray("-20 0 -3 -3 0") << false;
}

void TestLoudness::figuresNoTakeHasAreMeasuredAgain()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, trusted);
    QTemporaryDir dir;
    const QString take = dir.filePath("take.wav");
    QVERIFY(writeSine(take, 1000, {{0.5, -20}}));
    // Taken in from the old cache file into the store, then read from there.
    const std::shared_ptr<LibraryLoudness> keeper = storeKeeper(dir, cacheLine(take, line));
    QVERIFY(keeper);
    std::atomic<int> measured = 0;
    LoudnessFacts facts(nullptr, counting(measured, figures(-21, -2)));
    facts.keepIn(keeper);
    facts.requestFirst({take});
    QTRY_VERIFY(facts.known(take).has_value());
    QCOMPARE(measured.load(), trusted ? 0 : 1);
    const Loudness known = *facts.known(take);
    QVERIFY(LoudnessFacts::believable(known));
    if (!trusted) {
        QCOMPARE(known.integratedLufs, -21.0);
        return;
    }
    const QList<QByteArray> fields = line.split(' ');
    const auto same = [](double a, const QByteArray &b) {
        const double expected = b == "-inf"  ? Loudness::silence
                                : b == "inf" ? -Loudness::silence
                                : b == "nan" ? qQNaN()
                                             : b.toDouble();
        return (std::isnan(a) && std::isnan(expected)) || a == expected;
    };
    QVERIFY(same(known.integratedLufs, fields[0]));
    QVERIFY(same(known.rangeLu, fields[1]));
    QVERIFY(same(known.truePeakDbtp, fields[2]));
    QVERIFY(same(known.samplePeakDbfs, fields[3]));
    QCOMPARE(known.clipped, fields[4].toLongLong());
    QCOMPARE(known.notNumbers, fields[5] == "notnumbers");
    QCOMPARE(known.rateTooLow, fields[5] == "ratetoolow");
}

// Every figure of a take whose samples are not numbers was written as -inf, and never
// taken back: such a file was measured at every start, as was one whose rate is too low.
void TestLoudness::notNumbersAndATooLowRateAreKeptInTheStore()
{
    QTemporaryDir dir;
    const QString notNumbers = dir.filePath("nan.wav");
    const QString slow = dir.filePath("slow.wav");
    const QString forged = dir.filePath("forged.wav");
    const QString plain = dir.filePath("plain.wav");
    for (const QString &path : {notNumbers, slow, forged, plain})
        QVERIFY(writeSine(path, 1000, {{0.5, -20}}));
    std::atomic<int> measured = 0;
    const auto measure = [&](const QString &path, const std::function<bool()> &) {
        ++measured;
        Loudness loudness = figures(-20, -3);
        if (path == notNumbers) {
            loudness.notNumbers = true;
            loudness.integratedLufs = qQNaN();
            loudness.truePeakDbtp = -Loudness::silence;
        } else if (path == slow) {
            loudness = Loudness();
            loudness.rateTooLow = true;
        } else if (path == forged) {
            // What a faulty decoder could give: no figure to keep.
            loudness = figures(-150, Loudness::silence);
        }
        return std::optional(loudness);
    };
    const std::shared_ptr<LibraryLoudness> keeper = storeKeeper(dir);
    QVERIFY(keeper);
    const QStringList all = {notNumbers, slow, forged, plain};
    QStringList texts;
    {
        LoudnessFacts facts(nullptr, measure);
        facts.keepIn(keeper);
        facts.requestFirst(all);
        QTRY_VERIFY(facts.known(plain).has_value());
        QTRY_VERIFY(!facts.waiting(forged));
        QTRY_VERIFY(facts.known(notNumbers).has_value());
        QTRY_VERIFY(facts.known(slow).has_value());
        QVERIFY(!facts.known(forged));
        QCOMPARE(measured.load(), 4);
        for (const QString &path : {notNumbers, slow, plain})
            texts.append(loudnessText(*facts.known(path)));
    }
    LoudnessFacts facts(nullptr, measure);
    facts.keepIn(keeper);
    facts.requestFirst(all);
    QTRY_VERIFY(!facts.waiting(forged));
    QTRY_VERIFY(facts.known(plain).has_value());
    QTRY_VERIFY(facts.known(slow).has_value());
    QTRY_VERIFY(facts.known(notNumbers).has_value());
    // Only the one without figures is measured again.
    QCOMPARE(measured.load(), 5);
    QVERIFY(facts.known(notNumbers)->notNumbers);
    QVERIFY(facts.known(slow)->rateTooLow);
    QVERIFY(!facts.known(notNumbers)->measured());
    QCOMPARE(QStringList({loudnessText(*facts.known(notNumbers)), loudnessText(*facts.known(slow)),
                          loudnessText(*facts.known(plain))}),
             texts);
}

// Two takes of 5 GB in view, then another folder of 40 small ones: on one core the new
// folder's loudness came after 81 s.
void TestLoudness::anotherFolderStopsWhatNoOneLooksAt()
{
    Gate gate;
    LoudnessFacts facts(nullptr, gate.measure(), [](const QString &) { return FileStamp{1, 1}; });
    QObject band;
    const QString shown = "/a/shown.wav";
    facts.requestFor(&band, shown);
    facts.requestFirst({"/a/long1.wav", "/a/long2.wav"});
    facts.requestFolder({"/a/long1.wav", "/a/long2.wav", shown, "/a/more.wav"});
    const int workers = LoudnessFacts::threads();
    QTRY_COMPARE(gate.started().size(), std::min(workers, 3));
    const QStringList before = gate.started();

    // The rows in view go with their folder, whether they run or wait; the band's take
    // stays, running or waiting.
    const QStringList next = {"/b/1.wav", "/b/2.wav", "/b/3.wav"};
    facts.requestFolder(next);
    QTRY_COMPARE(gate.stopped().size(), before.size() - int(before.contains(shown)));
    QVERIFY(!gate.stopped().contains(shown));
    const QStringList given = {"/a/long1.wav", "/a/long2.wav", "/a/more.wav"};
    for (const QString &path : given)
        QVERIFY2(!facts.waiting(path), qPrintable(path));
    QVERIFY(facts.waiting(shown));
    gate.setOpen(true);
    QTRY_VERIFY(facts.known(shown).has_value());
    for (const QString &path : next)
        QTRY_VERIFY2(facts.known(path).has_value(), qPrintable(path));
    // Nothing else of the folder before was started since.
    for (const QString &path : gate.started().mid(before.size()))
        QVERIFY2(next.contains(path) || path == shown, qPrintable(path));
    for (const QString &path : given)
        QVERIFY2(!facts.known(path), qPrintable(path));

    // What the band shows no more goes with the next folder.
    gate.setOpen(false);
    const int stoppedBefore = int(gate.stopped().size());
    facts.requestFor(&band, "/c/held.wav");
    QTRY_VERIFY(gate.started().contains("/c/held.wav"));
    facts.requestFor(&band, {});
    facts.requestFolder({"/d/1.wav"});
    QTRY_COMPARE(gate.stopped().size(), stoppedBefore + 1);
    QCOMPARE(gate.stopped().last(), QString("/c/held.wav"));
    gate.setOpen(true);
    QTRY_VERIFY(facts.known("/d/1.wav").has_value());
    QVERIFY(!facts.known("/c/held.wav"));
    QVERIFY(!facts.waiting("/c/held.wav"));

    // Shown again after it was told to stop and before it did: measured from the start,
    // neither taken for a file that cannot be measured nor left "measuring…".
    gate.setOpen(false);
    gate.setHoldStopping(true);
    facts.requestFor(&band, "/e/take.wav");
    QTRY_VERIFY(gate.started().contains("/e/take.wav"));
    facts.requestFor(&band, {});
    facts.requestFolder({"/f/1.wav"});
    QTRY_COMPARE(gate.stopped().last(), QString("/e/take.wav"));
    facts.requestFor(&band, "/e/take.wav");
    gate.setHoldStopping(false);
    QTRY_COMPARE(gate.started().count("/e/take.wav"), 2);
    gate.setOpen(true);
    QTRY_VERIFY(facts.known("/e/take.wav").has_value());
    QTRY_VERIFY(facts.known("/f/1.wav").has_value());
    QVERIFY(!facts.waiting("/e/take.wav"));
}

QTEST_GUILESS_MAIN(TestLoudness)
#include "tst_loudness.moc"
