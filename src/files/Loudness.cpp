#include "Loudness.h"

#include "platform/WaveFile.h"

#include <QLocale>
#include <algorithm>
#include <cmath>
#include <ebur128.h>
#include <map>
#include <memory>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

namespace {
// About a tenth of a second at 48 kHz: the stop is looked at this often.
constexpr qint64 chunkFrames = 4096;
// The largest 16-bit sample as libsndfile scales it; a 24-bit file's loudest samples reach it
// too.
constexpr float fullScale = 32767.0f / 32768.0f;
constexpr double pi = 3.14159265358979323846;

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

// The true peak's 4x oversampling is most of the work of a measurement, and most of a
// recording lies too far under its loudest moment to matter. An oversampled value is a sum
// of the last few samples weighted by one phase of libebur128's interpolator, so it can
// exceed the largest of them at most by that phase's sum of absolute weights: a stretch
// whose samples, times that gain, stay under the peak found so far cannot raise it and is
// never oversampled. The rest is oversampled with the samples before each stretch, so the
// figure is the one libebur128 gives for the whole file.
constexpr unsigned interpolatorTaps = 49;
// Samples before a stretch that the interpolator remembers: the taps over the factor, 25 at
// twice the rate.
constexpr qint64 historyFrames = 32;
// The stretches weighed against the peak: small enough to pass over the quiet between two
// hits, large enough that their list stays small for a file of hours.
constexpr qint64 stretchFrames = 1024;

struct Tap
{
    int delay = 0;
    double weight = 0;
};

// The largest value of one phase over a stretch of one channel, whose samples before it are
// at samples[-1] and on. libebur128's interpolator goes sample by sample across its phases;
// this goes tap by tap across the stretch, so that the compiler can use vector instructions,
// with the same products summed in the same order: the same values, several times faster.
// AVX2 alone and no FMA, which would round differently.
#if defined(__x86_64__)
__attribute__((target_clones("avx2", "default")))
#endif
float phasePeak(const float *__restrict samples, qint64 frames, const Tap *taps, std::size_t count,
                double *__restrict sums)
{
    for (qint64 i = 0; i < frames; ++i)
        sums[i] = 0;
    for (std::size_t t = 0; t < count; ++t) {
        const float *__restrict from = samples - taps[t].delay;
        const double weight = taps[t].weight;
        for (qint64 i = 0; i < frames; ++i)
            sums[i] += double(from[i]) * weight;
    }
    // Rounding to a float keeps the order: the largest rounded is the largest, rounded.
    double peak = 0;
#pragma omp simd reduction(max : peak)
    for (qint64 i = 0; i < frames; ++i)
        peak = std::max(peak, std::fabs(sums[i]));
    return float(peak);
}

// libebur128's interpolator for a rate, as it builds it: a Hann-windowed sinc split into one
// phase per step, the weights too small to matter left out.
struct Interpolator
{
    std::vector<std::vector<Tap>> phases;
    // The most an oversampled value can exceed the samples it is made of; infinite when the
    // library does not answer as this interpolator would, so that nothing is passed over.
    double gain = std::numeric_limits<double>::infinity();
    // The same for each phase alone: a phase that cannot raise the peak is not worked out.
    std::vector<double> phaseGains;
    // Whether phasePeak() may stand for the library.
    bool same = false;

    // The largest value over a stretch whose samples are all within `bound`, leaving out the
    // phases that cannot exceed `floor`.
    float peak(const float *samples, qint64 frames, std::vector<double> &sums, double bound = 1,
               double floor = 0) const
    {
        sums.resize(std::size_t(frames));
        float peak = 0;
        for (std::size_t f = 0; f < phases.size(); ++f)
            if (bound * phaseGains[f] > floor)
                peak = std::max(peak, phasePeak(samples, frames, phases[f].data(), phases[f].size(),
                                                sums.data()));
        return peak;
    }
};

unsigned oversamplingFactor(unsigned sampleRate)
{
    return sampleRate < 96000 ? 4 : sampleRate < 192000 ? 2 : 1;
}

Interpolator makeInterpolator(unsigned sampleRate)
{
    Interpolator interpolator;
    const unsigned factor = oversamplingFactor(sampleRate);
    if (factor == 1) {
        // No oversampling: the true peak is the sample peak.
        interpolator.gain = 1;
        return interpolator;
    }
    interpolator.phases.resize(factor);
    for (unsigned j = 0; j < interpolatorTaps; ++j) {
        const double m = double(j) - double(interpolatorTaps - 1) / 2;
        double c = std::abs(m) > 1e-6 ? std::sin(m * pi / factor) / (m * pi / factor) : 1.0;
        c *= 0.5 * (1 - std::cos(2 * pi * j / (interpolatorTaps - 1)));
        if (std::abs(c) > 1e-6)
            interpolator.phases[j % factor].push_back({int(j / factor), c});
        if (j / factor >= historyFrames)
            return interpolator;
    }
    double gain = 0;
    const std::vector<Tap> *loudest = nullptr;
    for (const std::vector<Tap> &phase : interpolator.phases) {
        double sum = 0;
        for (const Tap &tap : phase)
            sum += std::abs(tap.weight);
        // The library rounds each value to a float.
        interpolator.phaseGains.push_back(sum * (1 + 1e-6));
        if (sum > gain)
            gain = sum, loudest = &phase;
    }
    // The samples that drive the loudest phase to its gain, each weight's sign, newest last,
    // after silence: the library and this interpolator must both find that gain.
    constexpr float level = 0.25f;
    std::vector<float> worst(std::size_t(historyFrames + interpolatorTaps), 0.0f);
    for (const Tap &tap : *loudest)
        worst[worst.size() - 1 - std::size_t(tap.delay)] = tap.weight < 0 ? -level : level;
    State state(ebur128_init(1, sampleRate, EBUR128_MODE_TRUE_PEAK));
    double library = 0;
    if (!state ||
        ebur128_add_frames_float(state.get(), worst.data(), worst.size()) != EBUR128_SUCCESS ||
        ebur128_true_peak(state.get(), 0, &library) != EBUR128_SUCCESS ||
        std::abs(library - level * gain) > 1e-5)
        return interpolator;
    interpolator.gain = gain * (1 + 1e-6);
    std::vector<double> sums;
    interpolator.same =
        double(interpolator.peak(worst.data() + historyFrames, qint64(worst.size()) - historyFrames,
                                 sums)) == library;
    return interpolator;
}

const Interpolator &interpolatorFor(unsigned sampleRate)
{
    static std::mutex mutex;
    static std::map<unsigned, Interpolator> interpolators;
    const std::lock_guard lock(mutex);
    const auto found = interpolators.find(sampleRate);
    // Entries of a std::map stay where they are.
    return found != interpolators.end()
               ? found->second
               : interpolators.emplace(sampleRate, makeInterpolator(sampleRate)).first->second;
}

float largestMagnitude(const float *samples, qint64 count)
{
    float largest = 0;
#pragma omp simd reduction(max : largest)
    for (qint64 i = 0; i < count; ++i)
        largest = std::max(largest, std::fabs(samples[i]));
    return largest;
}

// The samples in runs of two or more at full scale, per channel, carried on from the frames
// before in `run`.
qint64 clippedSamples(const float *samples, qint64 frames, std::vector<qint64> &run)
{
    qint64 clipped = 0;
    const std::size_t channels = run.size();
    for (qint64 frame = 0; frame < frames; ++frame) {
        for (std::size_t channel = 0; channel < channels; ++channel) {
            qint64 &inRow = run[channel];
            if (std::fabs(samples[std::size_t(frame) * channels + channel]) >= fullScale) {
                // The first of a run counts once the second comes.
                clipped += ++inRow == 2 ? 2 : inRow > 2 ? 1 : 0;
            } else {
                inRow = 0;
            }
        }
    }
    return clipped;
}

// A stretch of the file fed to a state of its own.
struct Part
{
    State state;
    qint64 clipped = 0;
    double samplePeak = 0;
    double truePeak = 0;
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
    const unsigned sampleRate = unsigned(wave.sampleRate());
    if (channels <= 0 || sampleRate == 0)
        return part;
    part.state.reset(
        ebur128_init(unsigned(channels), sampleRate, EBUR128_MODE_I | EBUR128_MODE_LRA));
    if (!part.state)
        return part;
    std::vector<float> buffer(std::size_t(chunkFrames) * channels);
    // The samples just before a later part are in the interpolator's memory at its start.
    float before = 0;
    if (from > 0) {
        const qint64 history = std::min(historyFrames, from);
        if (!wave.seek(from - history) || wave.read(buffer.data(), history) != history)
            return part;
        before = largestMagnitude(buffer.data(), history * channels);
    }
    // Per channel, how many samples at full scale came in a row just before.
    std::vector<qint64> run(std::size_t(channels), 0);
    // The largest sample of each stretch, over all channels.
    std::vector<float> stretchPeaks;
    qint64 read = 0;
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
        for (qint64 begin = 0; begin < got;) {
            if (read % stretchFrames == 0)
                stretchPeaks.push_back(0.0f);
            const qint64 end = std::min(got, begin + stretchFrames - read % stretchFrames);
            const float *const samples = buffer.data() + begin * channels;
            const float peak = largestMagnitude(samples, (end - begin) * channels);
            stretchPeaks.back() = std::max(stretchPeaks.back(), peak);
            if (peak >= fullScale)
                part.clipped += clippedSamples(samples, end - begin, run);
            else
                std::fill(run.begin(), run.end(), 0);
            read += end - begin;
            begin = end;
        }
    }
    // The largest sample of all, as libebur128 would find it; the true peak is no lower.
    for (const float peak : stretchPeaks)
        part.samplePeak = std::max(part.samplePeak, double(peak));
    part.truePeak = part.samplePeak;
    // The interpolator lags half its taps behind: a stretch's values are made partly of the
    // samples of the one before.
    for (std::size_t i = stretchPeaks.size(); i-- > 1;)
        stretchPeaks[i] = std::max(stretchPeaks[i], stretchPeaks[i - 1]);
    if (!stretchPeaks.empty())
        stretchPeaks[0] = std::max(stretchPeaks[0], before);
    const std::vector<float> &bounds = stretchPeaks;
    std::vector<quint32> loudestFirst(bounds.size());
    std::iota(loudestFirst.begin(), loudestFirst.end(), quint32(0));
    std::sort(loudestFirst.begin(), loudestFirst.end(),
              [&](quint32 a, quint32 b) { return bounds[a] > bounds[b]; });
    const Interpolator &interpolator = interpolatorFor(sampleRate);
    // Only when the library's interpolator is not the one above does it oversample itself.
    State library(interpolator.phases.empty() || interpolator.same
                      ? nullptr
                      : ebur128_init(unsigned(channels), sampleRate, EBUR128_MODE_TRUE_PEAK));
    std::vector<float> column;
    std::vector<double> sums;
    for (const quint32 stretch : loudestFirst) {
        if (interpolator.phases.empty() ||
            double(bounds[stretch]) * interpolator.gain <= part.truePeak)
            break;
        if (stop && stop())
            return part;
        const qint64 start = from + qint64(stretch) * stretchFrames;
        const qint64 frames = std::min(stretchFrames, from + read - start);
        // Before the file's first sample, the interpolator remembers silence.
        const qint64 history = std::min(historyFrames, start);
        std::fill_n(buffer.begin(), (historyFrames - history) * channels, 0.0f);
        float *const stretchData = buffer.data() + historyFrames * channels;
        if (!wave.seek(start - history) ||
            wave.read(stretchData - history * channels, history + frames) != history + frames)
            return part;
        if (library) {
            if (ebur128_add_frames_float(library.get(), buffer.data(),
                                         std::size_t(historyFrames)) != EBUR128_SUCCESS ||
                ebur128_add_frames_float(library.get(), stretchData, std::size_t(frames)) !=
                    EBUR128_SUCCESS)
                return part;
            for (int channel = 0; channel < channels; ++channel) {
                double peak = 0;
                if (ebur128_prev_true_peak(library.get(), unsigned(channel), &peak) ==
                    EBUR128_SUCCESS)
                    part.truePeak = std::max(part.truePeak, peak);
            }
            continue;
        }
        column.resize(std::size_t(historyFrames + frames));
        for (int channel = 0; channel < channels; ++channel) {
            for (std::size_t i = 0; i < column.size(); ++i)
                column[i] = buffer[i * std::size_t(channels) + std::size_t(channel)];
            part.truePeak = std::max(
                part.truePeak, double(interpolator.peak(column.data() + historyFrames, frames, sums,
                                                        bounds[stretch], part.truePeak)));
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
    for (const Part &part : parts) {
        truePeak = std::max(truePeak, part.truePeak);
        samplePeak = std::max(samplePeak, part.samplePeak);
    }
    if (truePeak > 0)
        loudness.truePeakDbtp = 20 * std::log10(truePeak);
    if (samplePeak > 0)
        loudness.samplePeakDbfs = 20 * std::log10(samplePeak);
    return loudness;
}

bool oversamplesAsTheLibrary(int sampleRate)
{
    return sampleRate > 0 && interpolatorFor(unsigned(sampleRate)).same;
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
