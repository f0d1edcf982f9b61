#include "Fakes.h"
#include "WaveWriter.h"
#include "platform/RegularFile.h"
#include "platform/SoundOutput.h"
#include "platform/StereoConverter.h"
#include "platform/WaveFile.h"
#include "platform/WaveInfo.h"
#include "playback/ChainPlayer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <atomic>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sndfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

// Runs work on a thread of its own and waits at most five seconds for it: a call that
// hangs fails the test instead of blocking it (the thread is left behind).
bool returnsInTime(const std::function<void()> &work)
{
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread([work, done] {
        work();
        *done = true;
    }).detach();
    QElapsedTimer timer;
    timer.start();
    while (!*done && timer.elapsed() < 5000)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return *done;
}

// Starts path and waits for the worker's answer: true when the output refused the file.
bool refuses(SoundOutput &output, const QString &path)
{
    auto answered = std::make_shared<std::atomic_bool>(false);
    output.setAnsweredHandler([answered] { *answered = true; });
    const bool taken = output.play(path);
    QElapsedTimer timer;
    timer.start();
    while (taken && !*answered && timer.elapsed() < 5000)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    output.setAnsweredHandler({});
    return !taken || output.refused();
}

// The chain window reduced to its waiting.
class SilentView final : public ChainView
{
public:
    void setAddEnabled(bool) override {}
    void showName(const QString &, const QString &) override {}
    double barWidth() const override { return 100; }
    void clearBar() override {}
    void fillBar(double) override {}
    void waitPass() override { std::this_thread::sleep_for(std::chrono::milliseconds(5)); }
    void showFailure() override { ++failures; }
    int failures = 0;
};

// A file of one constant level on both channels, at the device's rate: what reaches the
// device is then that level, so any jump in the output is the program's doing.
bool writeLevel(const QString &path, double seconds, float level)
{
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file)
        return false;
    const auto frames = static_cast<sf_count_t>(seconds * info.samplerate);
    std::vector<float> samples(static_cast<size_t>(frames) * 2, level);
    const bool ok = sf_writef_float(file, samples.data(), frames) == frames;
    sf_close(file);
    return ok;
}

} // namespace

// The real output, into SDL's disk driver: what would reach the speakers lands in a file.
class TestSoundOutput : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void playsExactlyTheTone();
    void everyCommonEncodingPlays_data();
    void everyCommonEncodingPlays();
    void brokenFilesAreRefusedAtOnce_data();
    void brokenFilesAreRefusedAtOnce();
    void damagedSizesPlayWhatIsThere();
    void samplesThatAreNotNumbersAreSilence_data();
    void samplesThatAreNotNumbersAreSilence();
    void aNewSoundEndsTheOldOne();
    void aReplacedSoundFadesOut();
    void drainsAfterTheLastSample();
    void partsOfAFilePlayExactly_data();
    void partsOfAFilePlayExactly();
    void specialFilesAreRefusedAtOnce_data();
    void specialFilesAreRefusedAtOnce();
    void everyRateReachesTheDeviceWhole_data();
    void everyRateReachesTheDeviceWhole();
    void formatChangesAndClosingNeverWait();
    void aStalledDiskNeverHoldsTheCaller();

private:
    QByteArray waitForOutput(qint64 bytes);
    QTemporaryDir m_dir;
    QString m_outputFile;
    std::unique_ptr<SdlSoundOutput> m_output;
};

void TestSoundOutput::initTestCase()
{
    m_outputFile = m_dir.filePath("device.raw");
    qputenv("SDL_AUDIODRIVER", "disk");
    qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(m_outputFile));
    // In real time, as a sound card takes it: waits on the device show as they would.
    qunsetenv("SDL_DISKAUDIODELAY");
    m_output = std::make_unique<SdlSoundOutput>();
    QVERIFY(m_output->deviceCount() >= 1);
}

QByteArray TestSoundOutput::waitForOutput(qint64 bytes)
{
    // The caller checks what arrived; a short read fails there.
    (void)QTest::qWaitFor([&] { return QFileInfo(m_outputFile).size() >= bytes; }, 10000);
    QFile f(m_outputFile);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

void TestSoundOutput::playsExactlyTheTone()
{
    // At the device's own rate and channels the samples pass unchanged.
    const QString path = m_dir.filePath("tone.wav");
    QVERIFY(writeTone(path, 0.25, 48000, 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT));
    const qint64 start = QFileInfo(m_outputFile).size();
    QVERIFY(m_output->play(path));
    constexpr int frames = 4000;
    const QByteArray written = waitForOutput(start + frames * 2 * sizeof(float)).mid(start);
    QVERIFY(written.size() >= qsizetype(frames * 2 * sizeof(float)));
    std::vector<float> samples(frames * 2);
    std::memcpy(samples.data(), written.constData(), samples.size() * sizeof(float));
    // The device may have taken silence before the sound arrived.
    int first = 0;
    while (first < frames && samples[first * 2 + 2] == 0.0f)
        ++first;
    for (int f = 0; f + first < frames; ++f) {
        const float expected = 0.5f * static_cast<float>(std::sin(2 * M_PI * 440.0 * f / 48000));
        const float left = samples[(first + f) * 2];
        const float right = samples[(first + f) * 2 + 1];
        QVERIFY2(std::fabs(left - expected) < 1e-5 && left == right,
                 qPrintable(QString("frame %1").arg(f)));
    }
}

void TestSoundOutput::everyCommonEncodingPlays_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    const int wav = SF_FORMAT_WAV;
    QTest::newRow("PCM 8") << (wav | SF_FORMAT_PCM_U8) << 11025 << 1;
    QTest::newRow("PCM 16 stereo") << (wav | SF_FORMAT_PCM_16) << 44100 << 2;
    QTest::newRow("PCM 24") << (wav | SF_FORMAT_PCM_24) << 48000 << 2;
    QTest::newRow("PCM 32") << (wav | SF_FORMAT_PCM_32) << 96000 << 1;
    QTest::newRow("float 32") << (wav | SF_FORMAT_FLOAT) << 22050 << 1;
    QTest::newRow("float 64") << (wav | SF_FORMAT_DOUBLE) << 44100 << 1;
    QTest::newRow("IMA ADPCM") << (wav | SF_FORMAT_IMA_ADPCM) << 22050 << 1;
    QTest::newRow("MS ADPCM") << (wav | SF_FORMAT_MS_ADPCM) << 22050 << 2;
    QTest::newRow("A-law") << (wav | SF_FORMAT_ALAW) << 8000 << 1;
    QTest::newRow("u-law") << (wav | SF_FORMAT_ULAW) << 8000 << 1;
    QTest::newRow("GSM 6.10") << (wav | SF_FORMAT_GSM610) << 8000 << 1;
    QTest::newRow("WAVEX 5.1") << (SF_FORMAT_WAVEX | SF_FORMAT_PCM_16) << 48000 << 6;
    QTest::newRow("RF64") << (SF_FORMAT_RF64 | SF_FORMAT_PCM_16) << 44100 << 2;
}

void TestSoundOutput::everyCommonEncodingPlays()
{
    QFETCH(int, format);
    QFETCH(int, rate);
    QFETCH(int, channels);
    const QString path = m_dir.filePath(QString("enc-%1.wav").arg(QTest::currentDataTag()));
    QVERIFY(writeTone(path, 0.1, rate, channels, format));
    QVERIFY(m_output->play(path));
    const auto length = SndfileWaveLength().lengthMs(path);
    QVERIFY(length);
    // Block codecs pad the last block: a little longer, never shorter.
    QVERIFY2(*length >= 99 && *length <= 200, qPrintable(QString::number(*length)));
}

void TestSoundOutput::brokenFilesAreRefusedAtOnce_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QByteArray good;
    {
        const QString path = m_dir.filePath("source.wav");
        writeTone(path, 0.05);
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        good = f.readAll();
    }
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("truncated header") << good.left(20);
    QTest::newRow("text") << QByteArray("These are my notes, not a sound.\n").repeated(20);
    // An MPEG audio frame header with an ID3 tag in front: an MP3 renamed to .wav.
    QByteArray mp3("ID3\x03\x00\x00\x00\x00\x00\x00", 10);
    for (int i = 0; i < 40; ++i)
        mp3 += QByteArray("\xff\xfb\x90\x64", 4) + QByteArray(413, '\x55');
    QTest::newRow("mp3 named .wav") << mp3;
    QTest::newRow("random") << QByteArray(4096, '\xa7');
}

void TestSoundOutput::brokenFilesAreRefusedAtOnce()
{
    QFETCH(QByteArray, bytes);
    const QString path = m_dir.filePath("broken.wav");
    QVERIFY(writeBytes(path, bytes));
    QVERIFY(refuses(*m_output, path));
    QVERIFY(m_output->drained());
    QVERIFY(!m_output->length());
    QVERIFY(!SndfileWaveLength().lengthMs(path));
    QVERIFY(refuses(*m_output, m_dir.filePath("missing.wav")));
}

void TestSoundOutput::damagedSizesPlayWhatIsThere()
{
    const QString path = m_dir.filePath("damaged.wav");
    QVERIFY(writeTone(path, 1.0, 8000));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QByteArray bytes = f.readAll();
    // Claim nearly 4 GB in the RIFF and data chunk sizes.
    const int data = bytes.indexOf("data");
    QVERIFY(data > 0);
    std::memset(bytes.data() + 4, 0xf0, 4);
    std::memset(bytes.data() + data + 4, 0xf0, 4);
    QVERIFY(f.seek(0));
    f.write(bytes);
    f.close();
    QVERIFY(m_output->play(path));
    const auto length = SndfileWaveLength().lengthMs(path);
    QVERIFY(length && *length <= 1001);

    // The data chunk cut short: half of it is still there to play.
    QVERIFY(f.resize(bytes.size() / 2));
    QVERIFY(m_output->play(path));
    const auto cut = SndfileWaveLength().lengthMs(path);
    QVERIFY(cut && *cut <= 1001);
}

void TestSoundOutput::samplesThatAreNotNumbersAreSilence_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("damagedChannel");
    QTest::addColumn<float>("damaged");
    QTest::addColumn<float>("heard"); // what the device gets for it, where it passes unchanged
    constexpr float inf = std::numeric_limits<float>::infinity();
    constexpr float nan = std::numeric_limits<float>::quiet_NaN();
    QTest::newRow("+Inf") << 48000 << 2 << 0 << inf << 0.0f;
    QTest::newRow("-Inf") << 48000 << 2 << 0 << -inf << 0.0f;
    QTest::newRow("NaN") << 48000 << 2 << 0 << nan << 0.0f;
    QTest::newRow("past full scale") << 48000 << 2 << 0 << 4.0f << 1.0f;
    QTest::newRow("below full scale") << 48000 << 2 << 0 << -3.0f << -1.0f;
    QTest::newRow("NaN in a surround channel") << 48000 << 6 << 3 << nan << 0.0f;
    QTest::newRow("NaN, resampled") << 44100 << 2 << 1 << nan << 0.0f;
    QTest::newRow("+Inf, interpolated up") << 200 << 1 << 0 << inf << 0.0f;
    QTest::newRow("-Inf, resampled mono") << 8000 << 1 << 0 << -inf << 0.0f;
}

void TestSoundOutput::samplesThatAreNotNumbersAreSilence()
{
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(int, damagedChannel);
    QFETCH(float, damaged);
    QFETCH(float, heard);
    // A steady quarter level with a damaged sample every hundred frames: libsndfile writes
    // a float file's samples as they are, as a damaged recorder would have.
    constexpr float level = 0.25f;
    const int fileFrames = std::max(rate / 5, 200);
    const QString path = m_dir.filePath("not-numbers.wav");
    QVERIFY(writeChannels(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, rate, channels, fileFrames,
                          [&](qint64 frame, int channel) {
                              return frame % 100 == 50 && channel == damagedChannel ? damaged
                                                                                    : level;
                          }));
    m_output->stop();
    QTest::qWait(50); // the fade of anything before has gone out
    const qint64 before = QFileInfo(m_outputFile).size();
    QVERIFY(m_output->play(path));
    const qint64 deviceFrames = qint64(fileFrames) * 48000 / rate;
    const QByteArray written =
        waitForOutput(before + (deviceFrames + 4800) * 2 * qint64(sizeof(float))).mid(before);
    std::vector<float> out(static_cast<size_t>(written.size()) / sizeof(float));
    std::memcpy(out.data(), written.constData(), out.size() * sizeof(float));
    qint64 steady = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        QVERIFY2(std::isfinite(out[i]) && std::fabs(out[i]) <= 1.0f,
                 qPrintable(QString("sample %1 is %2").arg(i).arg(out[i])));
        steady += std::fabs(out[i] - level) < 0.02f;
    }
    // The sound itself still plays around the damaged samples.
    QVERIFY2(steady >= deviceFrames, qPrintable(QString("%1 samples at the level").arg(steady)));
    if (rate != 48000 || channels != 2)
        return;
    // The device may take silence first; the right side is never damaged, so its first
    // sound is the first frame of the file.
    size_t first = 0;
    while (first + 1 < out.size() && out[first + 1] == 0.0f)
        first += 2;
    QVERIFY2(first + size_t(fileFrames) * 2 <= out.size(), "the sound never reached the device");
    for (int k = 0; k < fileFrames; ++k) {
        const float left = out[first + size_t(k) * 2];
        const float right = out[first + size_t(k) * 2 + 1];
        const float want = k % 100 == 50 ? heard : level;
        QVERIFY2(std::fabs(left - want) < 1e-6f && std::fabs(right - level) < 1e-6f,
                 qPrintable(
                     QString("frame %1: %2 %3, wanted %4").arg(k).arg(left).arg(right).arg(want)));
    }
}

void TestSoundOutput::aNewSoundEndsTheOldOne()
{
    const QString longTone = m_dir.filePath("long.wav");
    const QString shortTone = m_dir.filePath("short.wav");
    QVERIFY(writeTone(longTone, 30.0, 8000));
    QVERIFY(writeTone(shortTone, 0.1, 8000));
    QVERIFY(m_output->play(longTone));
    QVERIFY(m_output->play(shortTone));
    QVERIFY(m_output->play(shortTone));
    // Playing returns at once and the worker of the long tone is gone: nothing hangs here.
}

void TestSoundOutput::aReplacedSoundFadesOut()
{
    const QString loud = m_dir.filePath("level.wav");
    const QString quiet = m_dir.filePath("silence.wav");
    QVERIFY(writeLevel(loud, 2.0, 0.5f));
    QVERIFY(writeLevel(quiet, 0.3, 0.0f));
    // Whatever an earlier case played has gone out first.
    QTRY_VERIFY_WITH_TIMEOUT(m_output->drained(), 5000);
    // The driver writes what the device took a callback or two later: it has once the file
    // has grown by a few more.
    const qint64 drainedAt = QFileInfo(m_outputFile).size();
    QTRY_VERIFY(QFileInfo(m_outputFile).size() >= drainedAt + 4 * 4096);
    const qint64 start = QFileInfo(m_outputFile).size();
    QVERIFY(m_output->play(loud));
    QTest::qWait(300); // the loud sound plays for a while in real time before it is replaced
    QVERIFY(m_output->play(quiet));
    const QByteArray written = waitForOutput(start + 48000 * 2 * sizeof(float)).mid(start);
    const auto *samples = reinterpret_cast<const float *>(written.constData());
    const qsizetype frames = written.size() / qsizetype(2 * sizeof(float));
    qsizetype onset = 0;
    while (onset < frames && samples[onset * 2] < 0.25f)
        ++onset;
    QVERIFY2(onset < frames / 2, "the loud sound never reached the device");
    // From its first full sample on, the level only falls gently: 5 ms of fade is 240
    // steps of about 0.002, where a cut is one step of 0.5.
    float largest = 0;
    qsizetype fallsAt = -1;
    for (qsizetype f = onset + 1; f < frames; ++f) {
        const float jump = std::fabs(samples[f * 2] - samples[(f - 1) * 2]);
        largest = std::max(largest, jump);
        if (fallsAt < 0 && samples[f * 2] < 0.25f)
            fallsAt = f;
    }
    QVERIFY2(fallsAt > onset, "the replacement never reached the device");
    QVERIFY2(largest < 0.01f, qPrintable(QString("a jump of %1").arg(largest)));
}

void TestSoundOutput::drainsAfterTheLastSample()
{
    const QString path = m_dir.filePath("drain.wav");
    QVERIFY(writeTone(path, 0.6, 22050));
    // The drain is told once, by the thread that sees it, for the sound that played to its
    // end; a stopped one is not told.
    std::atomic<int> told = 0;
    m_output->setDrainedHandler([&] { ++told; });
    QVERIFY(m_output->play(path));
    m_output->stop();
    QTest::qWait(100);
    QCOMPARE(told.load(), 0);
    QElapsedTimer timer;
    QVERIFY(m_output->play(path));
    timer.start();
    QVERIFY(!m_output->drained());
    QTRY_VERIFY_WITH_TIMEOUT(m_output->drained(), 5000);
    // In real time the device cannot have taken 0.6 s of sound sooner.
    QVERIFY2(timer.elapsed() >= 500, qPrintable(QString::number(timer.elapsed())));
    QTRY_COMPARE(told.load(), 1);
    m_output->setDrainedHandler({});
}

namespace {
// A ramp at the device's rate: channel c of frame f is 0.1 (c + 1) + f / 10^6, so every
// sample says which frame and channel it is.
float rampAt(int channel, qint64 frame)
{
    return 0.1f * float(channel + 1) + float(frame) * 1e-6f;
}
bool writeRamp(const QString &path, int channels, int frames)
{
    return writeChannels(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, channels, frames,
                         [](qint64 frame, int channel) { return rampAt(channel, frame); });
}
} // namespace

void TestSoundOutput::partsOfAFilePlayExactly_data()
{
    QTest::addColumn<int>("fileChannels");
    QTest::addColumn<qint64>("start");
    QTest::addColumn<qint64>("end");
    QTest::addColumn<bool>("loop");
    QTest::addColumn<QList<int>>("channels");
    QTest::addColumn<double>("gainDb");
    QTest::newRow("from frame 10,000")
        << 2 << qint64(10000) << qint64(-1) << false << QList<int>{} << 0.0;
    QTest::newRow("a region") << 2 << qint64(10000) << qint64(10480) << false << QList<int>{}
                              << 0.0;
    QTest::newRow("a region looped")
        << 2 << qint64(10000) << qint64(10480) << true << QList<int>{} << 0.0;
    QTest::newRow("channel 3 of 4 alone")
        << 4 << qint64(0) << qint64(-1) << false << QList<int>{2} << 0.0;
    QTest::newRow("at -6 dB") << 2 << qint64(10000) << qint64(-1) << false << QList<int>{} << -6.0;
}

void TestSoundOutput::partsOfAFilePlayExactly()
{
    QFETCH(int, fileChannels);
    QFETCH(qint64, start);
    QFETCH(qint64, end);
    QFETCH(bool, loop);
    QFETCH(QList<int>, channels);
    QFETCH(double, gainDb);
    const QString path = m_dir.filePath("ramp.wav");
    QVERIFY(writeRamp(path, fileChannels, 48000 * 2));
    m_output->stop();
    QTest::qWait(50); // the fade of anything before has gone out
    const qint64 before = QFileInfo(m_outputFile).size();
    QVERIFY(m_output->start({path, start, end, loop, -1, channels, gainDb}));
    constexpr int frames = 3000;
    // The device may take silence before the sound arrives: up to a tenth of a second.
    const QByteArray written =
        waitForOutput(before + (frames + 4800) * 2 * qint64(sizeof(float))).mid(before);
    std::vector<float> out(static_cast<size_t>(written.size()) / sizeof(float));
    std::memcpy(out.data(), written.constData(), out.size() * sizeof(float));
    size_t first = 0;
    while (first < out.size() && out[first] == 0.0f)
        first += 2;
    QVERIFY2(first + frames * 2 <= out.size(), "the sound never reached the device");
    const float gain = float(std::pow(10.0, gainDb / 20.0));
    const qint64 region = end < 0 ? 0 : end - start;
    for (int k = 0; k < frames; ++k) {
        const float left = out[first + size_t(k) * 2];
        const float right = out[first + size_t(k) * 2 + 1];
        if (region > 0 && !loop && k >= region) {
            QVERIFY2(left == 0.0f && right == 0.0f, qPrintable(QString("past the end, %1").arg(k)));
            continue;
        }
        const qint64 frame = start + (region > 0 ? k % region : k);
        const float wantLeft = gain * rampAt(channels.isEmpty() ? 0 : channels[0], frame);
        const float wantRight = gain * rampAt(channels.isEmpty() ? 1 : channels[0], frame);
        QVERIFY2(std::fabs(left - wantLeft) < 1e-5f && std::fabs(right - wantRight) < 1e-5f,
                 qPrintable(QString("frame %1: %2 %3, wanted %4 %5")
                                .arg(k)
                                .arg(left)
                                .arg(right)
                                .arg(wantLeft)
                                .arg(wantRight)));
    }
    // What is heard is told from what the device took: the frames written after the first.
    if (region == 0) {
        const std::optional<HeardPosition> heard = m_output->heard();
        const qint64 taken = (QFileInfo(m_outputFile).size() - before) / 8 - qint64(first / 2);
        QVERIFY(heard);
        QCOMPARE(heard->sampleRate, 48000);
        QVERIFY2(qAbs(heard->frame - (start + taken)) <= 2048,
                 qPrintable(QString("heard %1, taken %2").arg(heard->frame).arg(start + taken)));
    }
    m_output->stop();
    QVERIFY(!m_output->heard());
}

void TestSoundOutput::specialFilesAreRefusedAtOnce_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason"); // empty: the system's own text
    for (const char *kind : {"fifo", "directory", "device"})
        QTest::newRow(kind) << QString(kind) << "not a regular file";
    QTest::newRow("socket") << "socket" << QString();
    QTest::newRow("unreadable") << "unreadable"
                                << "no permission to read";
}

void TestSoundOutput::specialFilesAreRefusedAtOnce()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    const QString path = m_dir.filePath(kind + ".wav");
    const QByteArray native = QFile::encodeName(path);
    int socketFd = -1;
    if (kind == "fifo") {
        QCOMPARE(::mkfifo(native.constData(), 0600), 0);
    } else if (kind == "directory") {
        QVERIFY(QDir().mkdir(path));
    } else if (kind == "device") {
        QVERIFY(QFile::link("/dev/zero", path));
    } else if (kind == "socket") {
        socketFd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        QVERIFY(native.size() < qsizetype(sizeof(address.sun_path)));
        std::memcpy(address.sun_path, native.constData(), native.size());
        QCOMPARE(::bind(socketFd, reinterpret_cast<sockaddr *>(&address), sizeof(address)), 0);
    } else {
        QVERIFY(writeTone(path, 0.1));
        QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
        if (QFile(path).open(QIODevice::ReadOnly))
            QSKIP("running as a user who reads every file");
    }
    bool played = true;
    bool measured = true;
    bool listed = true;
    WaveInfo info;
    WavePeaks peaks;
    SilentView view;
    auto outcome = ChainPlayer::Outcome::Finished;
    const bool returned = returnsInTime([&] {
        played = !refuses(*m_output, path);
        measured = SndfileWaveLength().lengthMs(path).has_value();
        listed = isReadableRegularFile(path);
        info = readWaveInfo(path);
        peaks = readWavePeaks(path, 100);
        SndfileWaveLength length;
        FakeClock clock;
        ChainPlayer chain(*m_output, length, clock);
        outcome = chain.run({[] { return 2; }, [](int) { return true; },
                             [path](int) {
                                 return ChainEntry{path, "x.wav"};
                             }},
                            view, {});
    });
    if (!returned && kind == "fifo") // let the blocked open go before the test ends
        ::close(::open(native.constData(), O_WRONLY | O_NONBLOCK));
    if (socketFd >= 0)
        ::close(socketFd);
    QVERIFY2(returned, "the open waited");
    QVERIFY(!played);
    QVERIFY(!measured);
    QVERIFY(!listed);
    QVERIFY(!info.playable());
    if (!reason.isEmpty())
        QCOMPARE(info.problem, reason);
    QCOMPARE(peaks.columns, 0);
    QCOMPARE(outcome, ChainPlayer::Outcome::Failed);
    QCOMPARE(view.failures, 1);
}

void TestSoundOutput::everyRateReachesTheDeviceWhole_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("frames");
    QTest::newRow("1 Hz") << 1 << 1 << 10;
    QTest::newRow("100 Hz, 10 s") << 100 << 1 << 1000;
    QTest::newRow("8 kHz stereo") << 8000 << 2 << 80000;
    QTest::newRow("44.1 kHz 3 channels") << 44100 << 3 << 44100;
    QTest::newRow("48 kHz 8 channels") << 48000 << 8 << 48000;
    QTest::newRow("384 kHz") << 384000 << 1 << 384000;
}

void TestSoundOutput::everyRateReachesTheDeviceWhole()
{
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(int, frames);
    constexpr int deviceRate = 48000;
    StereoConverter converter(rate, channels, deviceRate);
    QVERIFY(converter.valid());
    std::vector<float> in(static_cast<size_t>(frames) * channels, 0.25f);
    std::vector<float> out;
    // Handed over in big blocks, as a decoder would: the converter must not lose any.
    for (int done = 0; done < frames; done += 1024)
        converter.convert(in.data() + static_cast<size_t>(done) * channels,
                          std::min(1024, frames - done), out);
    converter.flush(out);
    const double expected = static_cast<double>(frames) * deviceRate / rate;
    const double got = static_cast<double>(out.size()) / 2;
    QVERIFY2(std::fabs(got - expected) <= expected * 0.002 + 64,
             qPrintable(QString("%1 frames for %2").arg(got).arg(expected)));
    // Mixed down without clipping: a constant level stays that level.
    QVERIFY(std::fabs(out[out.size() / 2] - 0.25f) < 0.01f);
}

void TestSoundOutput::formatChangesAndClosingNeverWait()
{
    struct File
    {
        const char *name;
        double seconds;
        int rate;
        int channels;
    };
    const QList<File> files = {{"cd.wav", 0.5, 44100, 2},       {"low.wav", 2.0, 100, 1},
                               {"phone.wav", 0.5, 8000, 1},     {"one-hertz.wav", 3.0, 1, 1},
                               {"surround.wav", 0.5, 48000, 6}, {"low.wav", 2.0, 100, 1}};
    for (const File &file : files) {
        const QString path = m_dir.filePath(file.name);
        QVERIFY(writeTone(path, file.seconds, file.rate, file.channels));
        bool played = false;
        QVERIFY2(returnsInTime([&] { played = m_output->play(path); }), file.name);
        QVERIFY2(played, file.name);
    }
    // The program's close, while the 100 Hz file plays.
    QVERIFY(returnsInTime([&] { m_output.reset(); }));
    m_output = std::make_unique<SdlSoundOutput>();
}

void TestSoundOutput::aStalledDiskNeverHoldsTheCaller()
{
    // A stand-in disk that answers nothing until the test lets it, and notes who asked.
    // It outlives the test: the last task lets go of it after the output has gone.
    struct Disk
    {
        QSemaphore held;
        std::atomic_int asked = 0;
        std::atomic_int askedByCaller = 0;
    };
    const auto state = std::make_shared<Disk>();
    QSemaphore &disk = state->held;
    std::atomic_int &asked = state->asked;
    m_output.reset(); // one device on the disk driver at a time
    auto output = std::make_unique<SdlSoundOutput>([state](const QString &path) {
        ++state->asked;
        if (QThread::currentThread() == qApp->thread())
            ++state->askedByCaller;
        if (state->held.tryAcquire(1, 20000))
            state->held.release();
        return WaveFile::open(path);
    });
    QVERIFY(output->deviceCount() >= 1);
    auto answered = std::make_shared<std::atomic_int>(0);
    std::atomic_int &answers = *answered;
    output->setAnsweredHandler([answered] { ++*answered; });
    const QString first = m_dir.filePath("held-first.wav");
    const QString second = m_dir.filePath("held-second.wav");
    const QString broken = m_dir.filePath("held-broken.wav");
    QVERIFY(writeTone(first, 0.5, 48000));
    QVERIFY(writeTone(second, 0.75, 44100));
    QVERIFY(writeBytes(broken, QByteArray(4096, '\xa7')));

    // Taken at once while the disk holds the file; silent, not drained, no length yet.
    bool taken = false;
    QVERIFY(returnsInTime([&] { taken = output->play(first); }));
    QVERIFY(taken);
    QTRY_COMPARE(int(asked), 1);
    QVERIFY(!output->drained());
    QVERIFY(!output->heard());
    QVERIFY(!output->length());
    // Another entry reached meanwhile (an arrow key): it is the one that plays.
    QVERIFY(returnsInTime([&] { taken = output->play(second); }));
    QVERIFY(taken);
    QTest::qWait(50);
    QCOMPARE(int(answers), 0);
    disk.release();
    QTRY_VERIFY(output->length().has_value());
    QCOMPARE(output->length()->frame, qint64(0.75 * 44100));
    QCOMPARE(output->length()->sampleRate, 44100);
    QVERIFY(!output->refused());
    QTRY_VERIFY(output->heard().has_value());
    QCOMPARE(int(answers), 1); // the first sound's answer was dropped with it

    // A broken file held back: refused once the worker reads it, and silent.
    QVERIFY(disk.tryAcquire());
    QVERIFY(returnsInTime([&] { taken = output->play(broken); }));
    QVERIFY(taken);
    QVERIFY(!output->refused());
    disk.release();
    QTRY_VERIFY(output->refused());
    QVERIFY(output->drained());
    QVERIFY(!output->heard());
    QCOMPARE(int(answers), 2);
    QCOMPARE(int(state->askedByCaller), 0);

    // Closing never waits for a task the disk still holds.
    QVERIFY(disk.tryAcquire());
    QVERIFY(output->play(first));
    QTRY_VERIFY(asked >= 4);
    QVERIFY(returnsInTime([&] { output.reset(); }));
    disk.release();
    m_output = std::make_unique<SdlSoundOutput>();
}

QTEST_GUILESS_MAIN(TestSoundOutput)
#include "tst_soundoutput.moc"
