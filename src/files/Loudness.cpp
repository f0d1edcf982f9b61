#include "Loudness.h"

#include "platform/WaveFile.h"

#include <QLocale>
#include <cmath>
#include <ebur128.h>
#include <memory>
#include <thread>
#include <vector>

namespace {
// About a tenth of a second at 48 kHz: the stop is looked at this often.
constexpr qint64 chunkFrames = 4096;
// The largest 16-bit sample as libsndfile scales it; a 24-bit file's loudest samples reach it
// too.
constexpr float fullScale = 32767.0f / 32768.0f;

struct StateDeleter
{
    void operator()(ebur128_state *state) const { ebur128_destroy(&state); }
};

QString decibels(double value)
{
    if (!std::isfinite(value))
        return QStringLiteral("\u2212\u221e");
    // The typographic minus, as a level is written.
    const QString text = QLocale::c().toString(std::abs(value), 'f', 1);
    return value < 0 && text != QLatin1String("0.0") ? QStringLiteral("\u2212") + text : text;
}
} // namespace

namespace {
using State = std::unique_ptr<ebur128_state, StateDeleter>;

// A stretch of the file fed to a state of its own.
struct Part
{
    State state;
    qint64 clipped = 0;
    bool ok = false;
};

Part measurePart(const QString &path, qint64 from, qint64 to, const std::function<bool()> &stop)
{
    Part part;
    const Result<std::unique_ptr<WaveFile>> opened = WaveFile::open(path);
    if (!opened.ok())
        return part;
    WaveFile &wave = *opened.value();
    const int channels = wave.channels();
    if (channels <= 0 || wave.sampleRate() <= 0 || (from > 0 && !wave.seek(from)))
        return part;
    part.state.reset(ebur128_init(unsigned(channels), unsigned(wave.sampleRate()),
                                  EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK |
                                      EBUR128_MODE_SAMPLE_PEAK));
    if (!part.state)
        return part;
    std::vector<float> buffer(std::size_t(chunkFrames) * channels);
    // Per channel, how many samples at full scale came in a row just before.
    std::vector<qint64> run(std::size_t(channels), 0);
    for (qint64 left = to - from; left > 0 || to < 0;) {
        if (stop && stop())
            return part;
        const qint64 got =
            wave.read(buffer.data(), to < 0 ? chunkFrames : std::min(chunkFrames, left));
        if (got < 0)
            return part;
        if (got == 0)
            break;
        left -= got;
        if (ebur128_add_frames_float(part.state.get(), buffer.data(), std::size_t(got)) !=
            EBUR128_SUCCESS)
            return part;
        for (qint64 frame = 0; frame < got; ++frame) {
            for (int channel = 0; channel < channels; ++channel) {
                qint64 &inRow = run[std::size_t(channel)];
                if (std::fabs(buffer[std::size_t(frame * channels + channel)]) >= fullScale) {
                    // The first of a run counts once the second comes.
                    part.clipped += ++inRow == 2 ? 2 : inRow > 2 ? 1 : 0;
                } else {
                    inRow = 0;
                }
            }
        }
    }
    part.ok = true;
    return part;
}

// Past this length a file is measured in two halves at once, joined as libebur128 joins
// states: the true peak's oversampling is most of the work, and it takes a core.
constexpr double splitSeconds = 60;
} // namespace

std::optional<Loudness> measureLoudness(const QString &path, const std::function<bool()> &stop)
{
    qint64 frames = 0;
    int channels = 0;
    {
        const Result<std::unique_ptr<WaveFile>> opened = WaveFile::open(path);
        if (!opened.ok())
            return std::nullopt;
        frames = opened.value()->frames();
        channels = opened.value()->channels();
        if (channels <= 0 || opened.value()->sampleRate() <= 0)
            return std::nullopt;
        if (frames < qint64(splitSeconds * opened.value()->sampleRate()) ||
            std::thread::hardware_concurrency() < 2)
            frames = -1;
    }
    std::vector<Part> parts;
    if (frames < 0) {
        parts.push_back(measurePart(path, 0, -1, stop));
    } else {
        Part second;
        std::thread other([&] { second = measurePart(path, frames / 2, frames, stop); });
        parts.push_back(measurePart(path, 0, frames / 2, stop));
        other.join();
        parts.push_back(std::move(second));
    }
    std::vector<ebur128_state *> states;
    Loudness loudness;
    for (const Part &part : parts) {
        if (!part.ok)
            return std::nullopt;
        states.push_back(part.state.get());
        loudness.clipped += part.clipped;
    }
    double integrated = 0;
    if (ebur128_loudness_global_multiple(states.data(), states.size(), &integrated) ==
            EBUR128_SUCCESS &&
        std::isfinite(integrated))
        loudness.integratedLufs = integrated;
    double range = 0;
    if (ebur128_loudness_range_multiple(states.data(), states.size(), &range) == EBUR128_SUCCESS &&
        std::isfinite(range))
        loudness.rangeLu = range;
    double truePeak = 0, samplePeak = 0;
    for (ebur128_state *state : states) {
        for (int channel = 0; channel < channels; ++channel) {
            double peak = 0;
            if (ebur128_true_peak(state, unsigned(channel), &peak) == EBUR128_SUCCESS)
                truePeak = std::max(truePeak, peak);
            if (ebur128_sample_peak(state, unsigned(channel), &peak) == EBUR128_SUCCESS)
                samplePeak = std::max(samplePeak, peak);
        }
    }
    if (truePeak > 0)
        loudness.truePeakDbtp = 20 * std::log10(truePeak);
    if (samplePeak > 0)
        loudness.samplePeakDbfs = 20 * std::log10(samplePeak);
    return loudness;
}

QString loudnessText(const Loudness &loudness)
{
    QString text = QStringLiteral("%1 LUFS, range %2 LU, true peak %3 dBTP")
                       .arg(decibels(loudness.integratedLufs), decibels(loudness.rangeLu),
                            decibels(loudness.truePeakDbtp));
    if (loudness.clipped > 0)
        text += QStringLiteral(", clipped: %1").arg(loudness.clipped);
    return text;
}

double matchingGainDb(const Loudness &loudness, double target, double ceiling)
{
    if (loudness.silent())
        return 0;
    double gain = target - loudness.integratedLufs;
    if (std::isfinite(loudness.truePeakDbtp))
        gain = std::min(gain, ceiling - loudness.truePeakDbtp);
    return gain;
}
