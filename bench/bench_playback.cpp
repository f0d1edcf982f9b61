// Start of play() for a short and a 200 MB file, play() across changes of rate and channels
// against a same-format replacement, closing while a 100 Hz file plays, the CPU of a 1 Hz
// file playing, and the CPU the chain player uses while it waits through a chain.
#include "BenchCommon.h"
#include "platform/Clock.h"
#include "platform/SoundOutput.h"
#include "platform/WaveFile.h"
#include "playback/ChainPlayer.h"
#include "playback/Form2.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QThread>
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

// The longest play() over 20 runs of each file in turn.
double maxPlayMs(SoundOutput &output, const QStringList &paths)
{
    double longest = 0;
    for (int run = 0; run < 20; ++run) {
        for (const QString &path : paths) {
            QElapsedTimer t;
            t.start();
            output.play(path);
            longest = std::max(longest, t.nsecsElapsed() / 1e6);
        }
    }
    return longest;
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

    const QStringList formats = {dir.filePath("cd.wav"), dir.filePath("low.wav"),
                                 dir.filePath("phone.wav"), dir.filePath("one-hertz.wav"),
                                 dir.filePath("surround.wav")};
    writeTone(formats[0], 1, 44100, 2);
    writeTone(formats[1], 2, 100, 1);
    writeTone(formats[2], 1, 8000, 1);
    writeTone(formats[3], 3, 1, 1);
    writeTone(formats[4], 1, 48000, 6);

    auto owned = std::make_unique<SdlSoundOutput>();
    SdlSoundOutput &output = *owned;
    output.play(shortFile); // opens the device once, as the first play of a run does
    const double sameMs = maxPlayMs(output, {formats[0]});
    const double changingMs = maxPlayMs(output, formats);
    report("play() replacing the same format (max)", sameMs, "ms", QStringLiteral("goal < 5 ms"));
    report("play() across rate/channel changes (max)", changingMs, "ms",
           QStringLiteral("goal < 5 ms; ratio %1 (goal < 2)").arg(changingMs / sameMs, 0, 'f', 2));

    output.play(formats[3]);
    const double idleBefore = cpuSeconds();
    QElapsedTimer idleWall;
    idleWall.start();
    QThread::msleep(2000);
    report("CPU while a 1 Hz file plays",
           100.0 * (cpuSeconds() - idleBefore) / (idleWall.nsecsElapsed() / 1e9), "%",
           QStringLiteral("goal: no busy loop (< 2% of a core)"));

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
    Form2 chain(player, source, {}, nullptr);
    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    chain.exec();
    const double cpu = cpuSeconds() - cpuBefore;
    const double seconds = wall.nsecsElapsed() / 1e9;
    report("CPU during a chain of two 1 s files", 100.0 * cpu / seconds, "%",
           QStringLiteral("goal < 5% of a core; chain took %1 s").arg(seconds, 0, 'f', 1));

    // What the exit costs the audio side: the program ends by closing the output.
    output.play(formats[1]);
    QThread::msleep(200);
    QElapsedTimer closing;
    closing.start();
    owned.reset();
    report("closing while a 100 Hz file plays", closing.nsecsElapsed() / 1e6, "ms",
           QStringLiteral("goal < 300 ms from SIGTERM to exit"));
    return 0;
}
