// What measuring loudness costs: a 10-minute 48 kHz 24-bit stereo file in the page cache,
// measured as the program does (two halves at once), on one thread against libebur128's own
// true peak on one thread, and in its parts (decoding alone, K-weighting without the true
// peak), next to ffmpeg's ebur128 filter when ffmpeg is on the path; whether halves measure
// as the whole file does; and the resident memory while a 3.9 GB file is measured.
#include "BenchCommon.h"
#include "BenchWaves.h"
#include "browser/FileList.h"
#include "files/FileFacts.h"
#include "files/Loudness.h"
#include "files/LoudnessFacts.h"
#include "platform/SoundOutput.h"
#include "platform/WaveFile.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <ebur128.h>
#include <thread>
#include <unistd.h>

namespace {

void write24BitStereo(const QString &path, qint64 frames)
{
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    std::vector<float> chunk(48000 * 2);
    for (qint64 done = 0; done < frames; done += 48000) {
        for (int f = 0; f < 48000; ++f) {
            const double t = double(done + f) / 48000;
            const float v =
                float(0.3 * std::sin(2 * 3.14159265 * 440 * t) * (0.5 + 0.5 * std::sin(t * 0.7)));
            chunk[std::size_t(f) * 2] = v;
            chunk[std::size_t(f) * 2 + 1] = -v;
        }
        sf_writef_float(file, chunk.data(), std::min<qint64>(48000, frames - done));
    }
    sf_close(file);
}

void writeSamples(const QString &path, int rate, int channels, double length,
                  const std::function<float(qint64, int)> &sample)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    const qint64 frames = qint64(length * rate);
    std::vector<float> samples(std::size_t(frames * channels));
    for (qint64 frame = 0; frame < frames; ++frame)
        for (int channel = 0; channel < channels; ++channel)
            samples[std::size_t(frame * channels + channel)] = sample(frame, channel);
    sf_writef_float(file, samples.data(), frames);
    sf_close(file);
}

// A deterministic white noise in [-1, 1).
float noise(quint32 &seed)
{
    seed = seed * 1664525u + 1013904223u;
    return float(double(seed >> 8) / double(1 << 24) * 2 - 1);
}

// Integrated loudness and true peak as ffmpeg's ebur128 filter prints them (to 0.1).
std::optional<std::pair<double, double>> ffmpegFigures(const QString &ffmpeg, const QString &path)
{
    QProcess process;
    process.start(ffmpeg, {"-nostats", "-hide_banner", "-i", path, "-af", "ebur128=peak=true", "-f",
                           "null", "-"});
    process.waitForFinished(120000);
    const QString out = QString::fromUtf8(process.readAllStandardError());
    const QRegularExpressionMatch integrated =
        QRegularExpression(QStringLiteral("I:\\s+(-?[0-9.]+|-inf) LUFS"))
            .match(out, out.lastIndexOf("Summary"));
    const QRegularExpressionMatch peak =
        QRegularExpression(QStringLiteral("Peak:\\s+(-?[0-9.]+|-inf) dBFS"))
            .match(out, out.lastIndexOf("Summary"));
    if (!integrated.hasMatch() || !peak.hasMatch())
        return std::nullopt;
    return std::pair(integrated.captured(1).toDouble(), peak.captured(1).toDouble());
}

// libebur128's own true peak of a file fed whole to one state, in dBTP.
double libraryTruePeak(const QString &path)
{
    auto wave = std::move(WaveFile::open(path).value());
    const int channels = wave->channels();
    ebur128_state *state =
        ebur128_init(unsigned(channels), unsigned(wave->sampleRate()), EBUR128_MODE_TRUE_PEAK);
    std::vector<float> buffer(std::size_t(4096 * channels));
    while (const qint64 got = wave->read(buffer.data(), 4096))
        ebur128_add_frames_float(state, buffer.data(), std::size_t(got));
    double peak = 0;
    for (int channel = 0; channel < channels; ++channel) {
        double channelPeak = 0;
        ebur128_true_peak(state, unsigned(channel), &channelPeak);
        peak = std::max(peak, channelPeak);
    }
    ebur128_destroy(&state);
    return 20 * std::log10(peak);
}

double seconds(const std::function<void()> &work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return timer.nsecsElapsed() / 1e9;
}

// The file read and fed to libebur128 in the given mode; 0 for decoding alone.
void feed(const QString &path, int mode)
{
    auto wave = std::move(WaveFile::open(path).value());
    ebur128_state *state = mode ? ebur128_init(2, 48000, mode) : nullptr;
    std::vector<float> buffer(4096 * 2);
    while (const qint64 got = wave->read(buffer.data(), 4096))
        if (state)
            ebur128_add_frames_float(state, buffer.data(), std::size_t(got));
    if (state)
        ebur128_destroy(&state);
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER"))
        qputenv("SDL_AUDIODRIVER", "dummy");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString tenMinutes = dir.filePath("ten-minutes.wav");
    write24BitStereo(tenMinutes, 48000LL * 600);
    measureLoudness(tenMinutes); // into the page cache

    // The parts on one thread; the whole as the program measures it, in two halves at once.
    const double decode = seconds([&] { feed(tenMinutes, 0); });
    const double weighting = seconds([&] { feed(tenMinutes, EBUR128_MODE_I | EBUR128_MODE_LRA); });
    const double onOneThread = seconds(
        [&] { feed(tenMinutes, EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK); });
    std::optional<Loudness> measured;
    const double whole = seconds([&] { measured = measureLoudness(tenMinutes); });
    report("10 min 24-bit stereo, all figures", whole, "s",
           QStringLiteral("goal < 1.7 s, two halves at once; %1")
               .arg(measured ? loudnessText(*measured) : "failed"));
    std::optional<Loudness> alone;
    const double oursOnOneThread = seconds([&] { alone = measureLoudnessInParts(tenMinutes, 1); });
    report("  ours on one thread", oursOnOneThread, "s",
           QStringLiteral("libebur128 with its own true peak: %1 s, ours is %2x")
               .arg(onOneThread, 0, 'f', 2)
               .arg(oursOnOneThread / onOneThread, 0, 'f', 2));
    if (measured && alone)
        std::printf("  in two halves %s on one thread\n",
                    std::abs(measured->integratedLufs - alone->integratedLufs) <= 1e-6 &&
                            std::abs(measured->rangeLu - alone->rangeLu) <= 1e-6 &&
                            measured->truePeakDbtp == alone->truePeakDbtp
                        ? "the same figures as"
                        : "OTHER figures than");
    report("  libebur128 on one thread", onOneThread, "s", QStringLiteral("parts below"));
    report("  decoding", decode, "s", QStringLiteral("libsndfile to float"));
    report("  K-weighting and gating", weighting - decode, "s", QStringLiteral("no true peak"));
    report("  true peak's oversampling", onOneThread - weighting, "s", QStringLiteral("4x"));

    // ---- Halves against the whole file --------------------------------------------------
    // A quiet take with a loud moment right at the seam, where joining two libebur128 states
    // loses the blocks that straddle it.
    {
        const QString hit = dir.filePath("hit.wav");
        quint32 seed = 3;
        const qint64 frames = 48000LL * 120;
        writeSamples(hit, 48000, 2, 120, [&](qint64 frame, int) {
            const bool loud = std::abs(frame - frames / 2) < 12000;
            return (loud ? 0.7f : 0.01f) * noise(seed);
        });
        std::vector<float> buffer(4800 * 2);
        // What the halves gave when joined by the library.
        ebur128_state *halves[2] = {ebur128_init(2, 48000, EBUR128_MODE_I | EBUR128_MODE_LRA),
                                    ebur128_init(2, 48000, EBUR128_MODE_I | EBUR128_MODE_LRA)};
        ebur128_state *library =
            ebur128_init(2, 48000, EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK);
        {
            auto wave = std::move(WaveFile::open(hit).value());
            qint64 done = 0;
            while (const qint64 got = wave->read(buffer.data(), 4800)) {
                ebur128_add_frames_float(halves[done < frames / 2 ? 0 : 1], buffer.data(),
                                         std::size_t(got));
                ebur128_add_frames_float(library, buffer.data(), std::size_t(got));
                done += got;
            }
        }
        double joined = 0, joinedRange = 0, lufs = 0, range = 0, peakLeft = 0, peakRight = 0;
        ebur128_loudness_global_multiple(halves, 2, &joined);
        ebur128_loudness_range_multiple(halves, 2, &joinedRange);
        ebur128_loudness_global(library, &lufs);
        ebur128_loudness_range(library, &range);
        ebur128_true_peak(library, 0, &peakLeft);
        ebur128_true_peak(library, 1, &peakRight);
        const double libraryPeak = 20 * std::log10(std::max(peakLeft, peakRight));
        for (ebur128_state *state : {halves[0], halves[1], library})
            ebur128_destroy(&state);
        std::optional<Loudness> inOne, inTwo, inFour;
        const double oneTime = seconds([&] { inOne = measureLoudnessInParts(hit, 1); });
        const double twoTime = seconds([&] { inTwo = measureLoudnessInParts(hit, 2); });
        inFour = measureLoudnessInParts(hit, 4);
        if (inOne && inTwo && inFour) {
            std::printf("120 s take, hit at the seam: libebur128 whole %.3f LUFS %.3f LU %.4f "
                        "dBTP; its states joined %.3f LUFS %.3f LU\n",
                        lufs, range, libraryPeak, joined, joinedRange);
            for (const auto &[name, figures] :
                 {std::pair("one part", *inOne), std::pair("two parts", *inTwo),
                  std::pair("four parts", *inFour)})
                std::printf("  ours in %-10s %.3f LUFS %.3f LU %.4f dBTP: %s\n", name,
                            figures.integratedLufs, figures.rangeLu, figures.truePeakDbtp,
                            std::abs(figures.integratedLufs - lufs) <= 0.05 &&
                                    std::abs(figures.rangeLu - range) <= 0.1 &&
                                    figures.truePeakDbtp == inOne->truePeakDbtp
                                ? "the whole file's"
                                : "NOT the whole file's");
            report("  the same take in one part", oneTime, "s",
                   QStringLiteral("in two parts at once %1 s").arg(twoTime, 0, 'f', 2));
        }
    }

    const QString take = dir.filePath("take.wav");
    write24BitStereo(take, 48000LL * 30);
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (!ffmpeg.isEmpty()) {
        for (const bool peak : {true, false}) {
            const double took = seconds([&] {
                QProcess::execute(
                    ffmpeg, {"-nostats", "-hide_banner", "-loglevel", "error", "-i", tenMinutes,
                             "-af", peak ? "ebur128=peak=true" : "ebur128", "-f", "null", "-"});
            });
            report(peak ? "ffmpeg ebur128=peak=true" : "ffmpeg ebur128", took, "s",
                   QStringLiteral("ours is %1x").arg(whole / took, 0, 'f', 2));
        }
    } else {
        std::printf("ffmpeg is not on the path: no comparison of times or figures with it\n");
    }
    // The figures of a few different files next to libebur128's true peak and ffmpeg's.
    const QString bursts = dir.filePath("bursts.wav");
    quint32 seed = 1;
    writeSamples(bursts, 48000, 2, 20, [&](qint64 frame, int) {
        // Quiet noise, and every second a burst at a quarter of the rate whose peaks fall
        // between the samples, faded in and out over 256 samples.
        const qint64 inSecond = frame % 48000;
        const double fade = 0.5 - 0.5 * std::cos(2 * 3.14159265 * double(inSecond) / 256);
        return inSecond < 256
                   ? float(0.8 * fade * std::sin(1.5707963 * double(inSecond) + 0.785398))
                   : 0.03f * noise(seed);
    });
    const QString speech = dir.filePath("speech.wav");
    double low = 0, lower = 0;
    writeSamples(speech, 44100, 1, 20, [&](qint64 frame, int) {
        // Noise under 2 kHz in syllables of a quarter second, with pauses.
        const double t = double(frame) / 44100;
        const double syllable = std::max(0.0, std::sin(2 * 3.14159265 * 2 * t));
        low += 0.25 * (noise(seed) - low);
        lower += 0.25 * (low - lower);
        return float(0.8 * syllable * syllable * lower * (std::fmod(t, 5) < 4 ? 1 : 0));
    });
    // Noise up to the highest frequency the rate allows, near full scale.
    const QString white = dir.filePath("white.wav");
    writeSamples(white, 48000, 2, 20, [&](qint64, int) { return 0.9f * noise(seed); });
    const QString chirp = dir.filePath("chirp.wav");
    writeSamples(chirp, 96000, 2, 20, [&](qint64 frame, int channel) {
        // From 50 Hz to 30 kHz, the right channel 6 dB lower.
        const double t = double(frame) / 96000;
        return float((channel ? 0.35 : 0.7) *
                     std::sin(2 * 3.14159265 * (50 * t + (30000 - 50) / 40.0 * t * t)));
    });
    for (const QString &path : {tenMinutes, take, bursts, speech, chirp, white}) {
        const std::optional<Loudness> ours = measureLoudness(path);
        const double library = libraryTruePeak(path);
        if (!ours) {
            std::printf("%s: not measured\n", qPrintable(QFileInfo(path).fileName()));
            continue;
        }
        std::printf("%-14s ours %7.2f LUFS %6.2f dBTP, libebur128 %6.2f dBTP: %s\n",
                    qPrintable(QFileInfo(path).fileName()), ours->integratedLufs,
                    ours->truePeakDbtp, library,
                    std::abs(ours->truePeakDbtp - library) <= 0.01 ? "within 0.01 dB"
                                                                   : "OUTSIDE 0.01 dB");
        std::optional<std::pair<double, double>> theirs;
        if (!ffmpeg.isEmpty())
            theirs = ffmpegFigures(ffmpeg, path);
        if (!theirs)
            continue;
        const double lufs = std::abs(ours->integratedLufs - theirs->first);
        const double peak = std::abs(ours->truePeakDbtp - theirs->second);
        // ffmpeg prints tenths: its figures are up to 0.05 off themselves. It looks for the
        // true peak in the stream over-sampled by libswresample, whose filter passes 0.97 of
        // the band where BS.1770's is 6 dB down at its top: on full-band noise it reads higher.
        std::printf("%-14s ffmpeg %6.1f LUFS %5.1f dBTP: %s\n", "", theirs->first, theirs->second,
                    lufs <= 0.15 && peak <= 0.25 ? "within 0.1 LU and 0.2 dB"
                                                 : "OUTSIDE the tolerance");
    }

    // Memory while a file of gigabytes is measured (sparse silence: the reading is what
    // counts, the figures are -inf).
    const QString huge = dir.filePath("huge.wav");
    writeHuge(huge, 3900000000ull, false);
    const double rest = residentMiB();
    double highest = rest;
    std::atomic<bool> done = false;
    std::thread watch([&] {
        while (!done) {
            highest = std::max(highest, residentMiB());
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    QElapsedTimer stopAfter;
    stopAfter.start();
    // Twenty seconds of it are enough to see whether memory grows.
    measureLoudness(huge, [&] { return stopAfter.elapsed() > 20000; });
    done = true;
    watch.join();
    report("resident memory measuring 3.9 GB", highest - rest, "MiB",
           QStringLiteral("goal < 30 MiB above rest (%1 MiB)").arg(rest, 0, 'f', 1));

    // ---- A folder of 300 takes of 30 s ---------------------------------------------------
    // Hard links of one take: 300 names to measure, one file in the page cache.
    const QString folder = dir.filePath("folder");
    QDir().mkpath(folder);
    for (int i = 0; i < 300; ++i)
        ::link(
            QFile::encodeName(take).constData(),
            QFile::encodeName(QStringLiteral("%1/take%2.wav").arg(folder).arg(i, 3, 10, QChar('0')))
                .constData());
    // What the machine can do: two threads measuring, nothing else running.
    {
        const auto onTwoThreads = [&](const QString &folder) {
            std::atomic<int> next = 0;
            return seconds([&] {
                auto work = [&] {
                    for (int i; (i = next++) < 300;)
                        measureLoudness(
                            QStringLiteral("%1/take%2.wav").arg(folder).arg(i, 3, 10, QChar('0')));
                };
                std::thread other(work);
                work();
                other.join();
            });
        };
        report("300 takes, two threads and nothing else", onTwoThreads(folder), "s",
               QStringLiteral("the floor"));
        // Noise at one level throughout: no quiet stretches to pass over.
        const QString loud = dir.filePath("loud");
        QDir().mkpath(loud);
        quint32 seed = 7;
        writeSamples(dir.filePath("noise.wav"), 48000, 2, 30,
                     [&](qint64, int) { return 0.5f * noise(seed); });
        for (int i = 0; i < 300; ++i)
            ::link(QFile::encodeName(dir.filePath("noise.wav")).constData(),
                   QFile::encodeName(
                       QStringLiteral("%1/take%2.wav").arg(loud).arg(i, 3, 10, QChar('0')))
                       .constData());
        report("300 takes of loud noise, the same", onTwoThreads(loud), "s",
               QStringLiteral("no quiet stretches"));
    }
    const QString blip = dir.filePath("blip.wav");
    write24BitStereo(blip, 4800);
    {
        FileFacts facts(nullptr);
        FileList list(nullptr);
        list.resize(200, 300);
        list.setFacts(&facts);
        list.show();
        // A widget repainted as fast as the window would be asked to: its paints are counted.
        QWidget canvas;
        canvas.resize(200, 100);
        canvas.show();
        int paints = 0;
        struct Counter : QObject
        {
            int *paints;
            bool eventFilter(QObject *, QEvent *event) override
            {
                *paints += event->type() == QEvent::Paint;
                return false;
            }
        } counter;
        counter.paints = &paints;
        canvas.installEventFilter(&counter);
        QTimer repaint;
        QObject::connect(&repaint, &QTimer::timeout, &canvas, [&canvas] { canvas.repaint(); });
        repaint.start(16);
        SdlSoundOutput output;
        std::vector<double> starts;
        QTimer player;
        QObject::connect(&player, &QTimer::timeout, [&] {
            QElapsedTimer timer;
            timer.start();
            if (!output.play(blip))
                return;
            while (timer.elapsed() < 200) {
                if (const std::optional<HeardPosition> at = output.heard(); at && at->frame > 0)
                    break;
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            starts.push_back(timer.nsecsElapsed() / 1e6);
        });
        player.start(300);
        // The window's thread idles between events, as the program's does.
        QEventLoop loop;
        QSet<QString> measuredPaths;
        QObject::connect(&facts.loudness(), &LoudnessFacts::measured, [&](const QString &path) {
            measuredPaths.insert(path);
            if (measuredPaths.size() >= 300)
                loop.quit();
        });
        QTimer::singleShot(120000, &loop, &QEventLoop::quit);
        QElapsedTimer timer;
        timer.start();
        (void)list.setPath(folder);
        loop.exec();
        const double took = timer.nsecsElapsed() / 1e9;
        repaint.stop();
        player.stop();
        std::sort(starts.begin(), starts.end());
        report("300 takes of 30 s measured", took, "s",
               QStringLiteral("goal < 10 s; %1 of 300").arg(measuredPaths.size()));
        report("  repaints meanwhile", paints / took, "/s", QStringLiteral("goal >= 30"));
        report("  play to first samples meanwhile (max)", starts.empty() ? -1 : starts.back(), "ms",
               QStringLiteral("goal < 20 ms; median %1 ms over %2 plays")
                   .arg(starts.empty() ? -1 : starts[starts.size() / 2], 0, 'f', 2)
                   .arg(starts.size()));
    }
    return 0;
}
