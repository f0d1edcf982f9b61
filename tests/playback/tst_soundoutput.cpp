#include "WaveWriter.h"
#include "platform/SoundOutput.h"
#include "platform/WaveFile.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <cstring>
#include <sndfile.h>

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
    void aNewSoundEndsTheOldOne();

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
    qputenv("SDL_DISKAUDIODELAY", "0");
    m_output = std::make_unique<SdlSoundOutput>();
    QVERIFY(m_output->deviceCount() >= 1);
}

QByteArray TestSoundOutput::waitForOutput(qint64 bytes)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000 && QFileInfo(m_outputFile).size() < bytes)
        QTest::qWait(10);
    QFile f(m_outputFile);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

void TestSoundOutput::playsExactlyTheTone()
{
    const QString path = m_dir.filePath("tone.wav");
    QVERIFY(writeTone(path, 0.25, 8000, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT));
    QVERIFY(m_output->play(path));
    constexpr int frames = 2000;
    const QByteArray written = waitForOutput(frames * sizeof(float));
    QVERIFY(written.size() >= qsizetype(frames * sizeof(float)));
    std::vector<float> samples(frames);
    std::memcpy(samples.data(), written.constData(), frames * sizeof(float));
    for (int f = 0; f < frames; ++f) {
        const float expected = 0.5f * static_cast<float>(std::sin(2 * M_PI * 440.0 * f / 8000));
        QVERIFY2(std::fabs(samples[f] - expected) < 1e-5, qPrintable(QString("frame %1").arg(f)));
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
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!m_output->play(path));
    QVERIFY(!SndfileWaveLength().lengthMs(path));
    QVERIFY(!m_output->play(m_dir.filePath("missing.wav")));
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

QTEST_GUILESS_MAIN(TestSoundOutput)
#include "tst_soundoutput.moc"
