// Start of play() for a short and a 200 MB file, and the CPU the chain player uses while
// it waits through a 10-second chain.
#include "BenchCommon.h"
#include "platform/Clock.h"
#include "platform/SoundOutput.h"
#include "platform/WaveFile.h"
#include "playback/ChainPlayer.h"
#include "playback/Form2.h"

#include <QApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <sndfile.h>
#include <sys/resource.h>
#include <vector>

namespace {

bool writeTone(const QString &path, double seconds, int rate, int channels)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file)
        return false;
    std::vector<short> block(static_cast<size_t>(rate) * channels);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<short>(8000 * std::sin(i * 0.06));
    for (double done = 0; done < seconds; done += 1.0)
        sf_writef_short(file, block.data(), rate);
    sf_close(file);
    return true;
}

double medianPlayMs(SoundOutput &output, const QString &path)
{
    std::vector<double> times;
    for (int i = 0; i < 15; ++i) {
        QElapsedTimer t;
        t.start();
        output.play(path);
        times.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

class NoLength final : public WaveLength
{
public:
    std::optional<qint64> lengthMs(const QString &) const override { return 5000; }
};

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER"))
        qputenv("SDL_AUDIODRIVER", "dummy");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString shortFile = dir.filePath("one-second.wav");
    const QString bigFile = dir.filePath("two-hundred-mb.wav");
    writeTone(shortFile, 1, 44100, 2);
    writeTone(bigFile, 1190, 44100, 2); // 1190 s of 16-bit stereo: 210 MB

    SdlSoundOutput output;
    output.play(shortFile); // opens the device once, as the first play of a run does
    const double shortMs = medianPlayMs(output, shortFile);
    const double bigMs = medianPlayMs(output, bigFile);
    report("play() of a 1 s file (median)", shortMs, "ms", QStringLiteral("goal < 20 ms"));
    report("play() of a 210 MB file (median)", bigMs, "ms",
           QStringLiteral("goal < 20 ms; ratio %1 (goal < 2)").arg(bigMs / shortMs, 0, 'f', 2));
    report("resident memory while playing it", residentMiB(), "MiB", QStringLiteral("bounded"));

    MonotonicClock clock;
    NoLength length;
    ChainPlayer player(output, length, clock);
    const ChainSource source{[] { return 2; }, [](int) { return true; },
                             [&](int) {
                                 return ChainEntry{shortFile, QStringLiteral("one-second.wav")};
                             }};
    Form2 chain(player, source, true, {}, nullptr);
    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    chain.exec();
    const double cpu = cpuSeconds() - cpuBefore;
    const double seconds = wall.nsecsElapsed() / 1e9;
    report("CPU during a 10 s chain", 100.0 * cpu / seconds, "%",
           QStringLiteral("goal < 5% of a core; chain took %1 s").arg(seconds, 0, 'f', 1));
    return 0;
}
