#include "Loudness.h"

#include "Scheduler.h"
#include "platform/WaveFile.h"

#include <QLocale>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <ebur128.h>
#include <memory>
#include <numeric>
#include <vector>

namespace {
// The largest 16-bit sample as libsndfile scales it; a 24-bit file's loudest samples reach it
// too.
constexpr float fullScale = 32767.0f / 32768.0f;
constexpr double pi = 3.14159265358979323846;

struct StateDeleter
{
    void operator()(ebur128_state *state) const { ebur128_destroy(&state); }
};
using State = std::unique_ptr<ebur128_state, StateDeleter>;

QString decibels(double value)
{
    if (value == std::numeric_limits<double>::infinity())
        return QStringLiteral("\u221e");
    if (!std::isfinite(value))
        return QStringLiteral("\u2212\u221e");
    // The typographic minus, as a level is written.
    const QString text = QLocale::c().toString(std::abs(value), 'f', 1);
    return value < 0 && text != QLatin1String("0.0") ? QStringLiteral("\u2212") + text : text;
}

// ---- The true peak -----------------------------------------------------------------------
//
// ITU-R BS.1770-4, Annex 2: the signal is brought to at least 192 kHz (four times the rate
// below 96 kHz, twice below 192 kHz, left as it is from there on) through a low-pass FIR,
// and the largest magnitude of the result is the true peak. The filter here is the one the
// recommendation describes: 49 taps of a sinc whose zeros fall on the original samples, under a
// Hann window. Split by the factor, its taps form one short filter per oversampled position between
// two samples (12 taps each at four times, 24 at twice); the position on a sample itself only
// passes that sample through, whose value the sample peak already holds.
//
// Working it out is most of the cost of a measurement, and most of a recording lies too far
// under its loudest moment to matter: a value between samples is a weighted sum of the
// samples around it, so it exceeds the largest of them at most by the sum of its filter's
// absolute weights. Stretches whose samples, times that, stay under the peak found so far
// cannot raise it and are never oversampled.
constexpr int filterTaps = 49;

unsigned oversamplingFactor(unsigned sampleRate)
{
    return sampleRate < 96000 ? 4 : sampleRate < 192000 ? 2 : 1;
}

// The largest magnitude over a stretch of one channel of the values that `weights` make from
// the samples, weights[d] applying to the sample d places back; the samples before the
// stretch are at samples[-1] and on. It goes weight by weight across the whole stretch, which
// the compiler turns into vector instructions; AVX2 without FMA, so that every build of it
// rounds the same way and a value does not depend on where a stretch begins.
#if defined(__x86_64__)
__attribute__((target_clones("avx2", "default")))
#endif
double
largestBetween(const float *__restrict samples, qint64 frames, const double *__restrict weights,
               std::size_t count, double *__restrict values)
{
    std::fill_n(values, frames, 0.0);
    for (std::size_t back = 0; back < count; ++back) {
        const float *__restrict from = samples - back;
        const double weight = weights[back];
        for (qint64 i = 0; i < frames; ++i)
            values[i] += double(from[i]) * weight;
    }
    double largest = 0;
#pragma omp simd reduction(max : largest)
    for (qint64 i = 0; i < frames; ++i)
        largest = std::max(largest, std::fabs(values[i]));
    return largest;
}

class TruePeakFilter
{
public:
    explicit TruePeakFilter(unsigned sampleRate)
    {
        const unsigned factor = oversamplingFactor(sampleRate);
        const double middle = (filterTaps - 1) / 2.0;
        for (unsigned offset = 1; offset < factor; ++offset) {
            Position position;
            for (unsigned tap = offset; tap < unsigned(filterTaps); tap += factor) {
                // In original samples from the middle tap: never a whole number here.
                const double x = (double(tap) - middle) / factor;
                const double hann = 0.5 - 0.5 * std::cos(2 * pi * tap / (filterTaps - 1));
                position.weights.push_back(std::sin(pi * x) / (pi * x) * hann);
            }
            // A sum of products in doubles errs by far less than this margin.
            position.gain =
                std::accumulate(position.weights.begin(), position.weights.end(), 0.0,
                                [](double sum, double w) { return sum + std::abs(w); }) *
                (1 + 1e-9);
            m_history = std::max(m_history, qint64(position.weights.size()));
            m_gain = std::max(m_gain, position.gain);
            m_positions.push_back(std::move(position));
        }
    }

    // Whether there is anything between the samples to look at.
    bool oversamples() const { return !m_positions.empty(); }
    // The samples before a stretch that its first values are made of.
    qint64 history() const { return m_history; }
    // The most a value between samples can exceed the samples it is made of.
    double gain() const { return m_gain; }

    // The largest value between the samples of a stretch of one channel whose samples, and
    // those before it, are all within `bound`; positions that cannot exceed `floor` are left
    // out, so the answer is only sure to be right when it is above `floor`.
    double peak(const float *samples, qint64 frames, double bound, double floor,
                std::vector<double> &scratch) const
    {
        scratch.resize(std::size_t(frames));
        double peak = 0;
        for (const Position &position : m_positions)
            if (bound * position.gain > floor)
                peak = std::max(peak, largestBetween(samples, frames, position.weights.data(),
                                                     position.weights.size(), scratch.data()));
        return peak;
    }

private:
    struct Position
    {
        std::vector<double> weights;
        double gain = 0;
    };
    std::vector<Position> m_positions;
    qint64 m_history = 0;
    double m_gain = 1;
};

// ---- Loudness and its range --------------------------------------------------------------
//
// BS.1770 measures loudness in blocks of 400 ms, one every 100 ms, and EBU Tech 3342 the range
// in windows of 3 s. Both are sums of tenths of a second: libebur128 K-weights the signal and
// gives each tenth's mean power, and the blocks, the gates and the range are worked out here
// from that list. A file measured in parts thus counts every block once, the ones across a
// seam too: each part after the first starts its weighting a while before its seam, so that
// the filter has forgotten its silent start when its first tenth begins, and only the tenths
// from its seam on are its own.
constexpr int tenthMs = 100;
constexpr int tenthsPerBlock = 4;
constexpr int tenthsPerWindow = 30;
// A window every second, as libebur128 places them for the range.
constexpr int tenthsBetweenWindows = 10;
// The weighting's slowest part, its high-pass near 38 Hz, settles in a few milliseconds; two
// seconds leave nothing of the start that a double can hold.
constexpr qint64 settlingTenths = 20;
constexpr double absoluteGateLufs = -70;
constexpr double relativeGateLu = -10;
constexpr double rangeRelativeGateLu = -20;
constexpr double rangeLowPercentile = 0.10;
constexpr double rangeHighPercentile = 0.95;
// Loudness is 10 log10 of the mean weighted power, less this.
constexpr double loudnessOffset = 0.691;

qint64 tenthFrames(unsigned sampleRate)
{
    return (qint64(sampleRate) + 5) / 10;
}

double powerOf(double lufs)
{
    return std::pow(10.0, (lufs + loudnessOffset) / 10);
}

double lufsOf(double power)
{
    return power > 0 ? 10 * std::log10(power) - loudnessOffset : Loudness::silence;
}

// The mean power of each run of `length` tenths, one every `step`, the first ending at
// `length`.
std::vector<double> windows(const std::vector<double> &tenths, int length, int step)
{
    std::vector<double> powers;
    for (std::size_t end = std::size_t(length); end <= tenths.size(); end += std::size_t(step))
        powers.push_back(std::accumulate(tenths.begin() + std::ptrdiff_t(end) - length,
                                         tenths.begin() + std::ptrdiff_t(end), 0.0) /
                         length);
    return powers;
}

// The powers over the absolute gate and over the gate `relativeLu` under their mean.
std::vector<double> gated(const std::vector<double> &powers, double relativeLu)
{
    const double absolute = powerOf(absoluteGateLufs);
    double sum = 0;
    std::size_t count = 0;
    for (const double power : powers)
        if (power > absolute)
            sum += power, ++count;
    if (count == 0)
        return {};
    const double relative = sum / double(count) * std::pow(10.0, relativeLu / 10);
    std::vector<double> kept;
    for (const double power : powers)
        if (power > absolute && power > relative)
            kept.push_back(power);
    return kept;
}

double integratedLufs(const std::vector<double> &tenths)
{
    const std::vector<double> blocks = gated(windows(tenths, tenthsPerBlock, 1), relativeGateLu);
    if (blocks.empty())
        return Loudness::silence;
    return lufsOf(std::accumulate(blocks.begin(), blocks.end(), 0.0) / double(blocks.size()));
}

double rangeLu(const std::vector<double> &tenths)
{
    std::vector<double> kept =
        gated(windows(tenths, tenthsPerWindow, tenthsBetweenWindows), rangeRelativeGateLu);
    if (kept.empty())
        return 0;
    std::sort(kept.begin(), kept.end());
    const auto at = [&](double percentile) {
        return lufsOf(kept[std::size_t(std::lround(double(kept.size() - 1) * percentile))]);
    };
    return at(rangeHighPercentile) - at(rangeLowPercentile);
}

// ---- Reading ------------------------------------------------------------------------------

// The largest magnitude among samples, and whether they are all numbers.
float largestMagnitude(const float *samples, qint64 count, bool &finite)
{
    float largest = 0;
    int notFinite = 0;
#pragma omp simd reduction(max : largest) reduction(| : notFinite)
    for (qint64 i = 0; i < count; ++i) {
        const float magnitude = std::fabs(samples[i]);
        largest = std::max(largest, magnitude);
        notFinite |= !(magnitude <= std::numeric_limits<float>::max());
    }
    finite = notFinite == 0;
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

// The stretches weighed against the true peak: small enough to pass over the quiet between
// two hits, large enough that their list stays small for a file of hours.
constexpr qint64 stretchFrames = 1024;

// What one part of a file gives.
struct Part
{
    // The mean weighted power of each whole tenth of a second from the part's start on.
    std::vector<double> tenths;
    qint64 clipped = 0;
    double samplePeak = 0;
    double truePeak = 0;
    bool notNumbers = false;
    bool ok = false;
};

// Frames `from` (on a tenth) to `to` (-1: the end) of a file.
Part measurePart(const QString &path, qint64 from, qint64 to, const std::function<bool()> &stop)
{
    Part part;
    const Result<std::unique_ptr<WaveFile>> opened = WaveFile::open(path);
    if (!opened.ok())
        return part;
    WaveFile &wave = *opened.value();
    const int channels = wave.channels();
    const unsigned sampleRate = unsigned(wave.sampleRate());
    // Only the weighting: the blocks are counted here, the true peak worked out below.
    const State state(ebur128_init(unsigned(channels), sampleRate, EBUR128_MODE_M));
    if (!state)
        return part;
    const qint64 tenth = tenthFrames(sampleRate);
    const TruePeakFilter filter(sampleRate);
    const qint64 start = std::max<qint64>(0, from - settlingTenths * tenth);
    if (start > 0 && !wave.seek(start))
        return part;
    std::vector<float> buffer(std::size_t(tenth) * std::size_t(channels));
    // Per channel, how many samples at full scale came in a row just before.
    std::vector<qint64> run(std::size_t(channels), 0);
    // The largest sample of each stretch, over all channels, and of the samples just before
    // the part, which the first stretch's values are partly made of.
    std::vector<float> stretchPeaks;
    float before = 0;
    qint64 inPart = 0;
    for (qint64 at = start; to < 0 || at < to;) {
        if (stop && stop())
            return part;
        // Up to the end of this tenth.
        qint64 wanted = tenth - at % tenth;
        if (to >= 0)
            wanted = std::min(wanted, to - at);
        const qint64 got = wave.read(buffer.data(), wanted);
        if (got <= 0)
            break;
        bool finite = true;
        const float peak = largestMagnitude(buffer.data(), got * channels, finite);
        if (!finite) {
            // Nothing after it can be trusted, and it would stay in the weighting's memory.
            part.notNumbers = true;
            part.ok = true;
            return part;
        }
        if (ebur128_add_frames_float(state.get(), buffer.data(), std::size_t(got)) !=
            EBUR128_SUCCESS)
            return part;
        const qint64 end = at + got;
        if (end % tenth == 0 && end - tenth >= from) {
            double lufs = 0;
            // Anything but a number or -inf (silence) would be a weighting gone wrong.
            if (ebur128_loudness_window(state.get(), tenthMs, &lufs) != EBUR128_SUCCESS ||
                std::isnan(lufs) || lufs == std::numeric_limits<double>::infinity())
                return part;
            part.tenths.push_back(lufs > Loudness::silence ? powerOf(lufs) : 0.0);
        }
        if (at < from) {
            // Runs at full scale that go on across the seam are counted from their start.
            if (peak >= fullScale) {
                (void)clippedSamples(buffer.data(), got, run);
            } else {
                std::fill(run.begin(), run.end(), 0);
            }
            if (end > from - filter.history()) {
                const qint64 skip = std::max<qint64>(0, from - filter.history() - at);
                bool unused = true;
                before = std::max(before, largestMagnitude(buffer.data() + skip * channels,
                                                           (got - skip) * channels, unused));
            }
            at = end;
            continue;
        }
        for (qint64 begin = 0; begin < got;) {
            const qint64 offset = at + begin - from;
            if (offset % stretchFrames == 0)
                stretchPeaks.push_back(0.0f);
            const qint64 until = std::min(got, begin + stretchFrames - offset % stretchFrames);
            const float *const samples = buffer.data() + begin * channels;
            bool unused = true;
            const float stretchPeak = largestMagnitude(samples, (until - begin) * channels, unused);
            stretchPeaks.back() = std::max(stretchPeaks.back(), stretchPeak);
            if (stretchPeak >= fullScale)
                part.clipped += clippedSamples(samples, until - begin, run);
            else
                std::fill(run.begin(), run.end(), 0);
            begin = until;
        }
        at = end;
        inPart = end - from;
    }
    for (const float peak : stretchPeaks)
        part.samplePeak = std::max(part.samplePeak, double(peak));
    part.truePeak = part.samplePeak;
    if (!filter.oversamples() || stretchPeaks.empty()) {
        part.ok = true;
        return part;
    }
    // What bounds a stretch's values: its samples and the ones before it, which the previous
    // stretch holds, being longer than the filter's memory.
    std::vector<float> bounds = stretchPeaks;
    for (std::size_t i = bounds.size(); i-- > 1;)
        bounds[i] = std::max(bounds[i], stretchPeaks[i - 1]);
    bounds[0] = std::max(bounds[0], before);
    std::vector<quint32> loudestFirst(bounds.size());
    std::iota(loudestFirst.begin(), loudestFirst.end(), quint32(0));
    std::sort(loudestFirst.begin(), loudestFirst.end(),
              [&](quint32 a, quint32 b) { return bounds[a] > bounds[b]; });
    const qint64 history = filter.history();
    std::vector<float> interleaved(std::size_t(history + stretchFrames) * std::size_t(channels));
    std::vector<float> column(std::size_t(history + stretchFrames));
    std::vector<double> scratch;
    for (const quint32 stretch : loudestFirst) {
        if (double(bounds[stretch]) * filter.gain() <= part.truePeak)
            break;
        if (stop && stop())
            return part;
        const qint64 first = qint64(stretch) * stretchFrames;
        const qint64 frames = std::min(stretchFrames, inPart - first);
        // Before the file's first sample, the filter remembers silence.
        const qint64 remembered = std::min(history, from + first);
        std::fill_n(interleaved.begin(), (history - remembered) * channels, 0.0f);
        // A file that shrank meanwhile is not measured.
        if (!wave.seek(from + first - remembered) ||
            wave.read(interleaved.data() + (history - remembered) * channels,
                      remembered + frames) != remembered + frames)
            return part;
        for (int channel = 0; channel < channels; ++channel) {
            for (qint64 i = 0; i < history + frames; ++i)
                column[std::size_t(i)] = interleaved[std::size_t(i * channels + channel)];
            part.truePeak =
                std::max(part.truePeak, filter.peak(column.data() + history, frames,
                                                    bounds[stretch], part.truePeak, scratch));
        }
    }
    part.ok = true;
    return part;
}

// Past this length a file is measured in two halves at once: the true peak's oversampling is
// most of the work, and it takes a core.
constexpr double splitSeconds = 60;
} // namespace

std::optional<Loudness> measureLoudnessInParts(const QString &path, int parts,
                                               const std::function<bool()> &stop)
{
    qint64 tenths = 0;
    qint64 tenth = 0;
    {
        const Result<std::unique_ptr<WaveFile>> opened = WaveFile::open(path);
        if (!opened.ok())
            return std::nullopt;
        const WaveFile &wave = *opened.value();
        if (wave.channels() <= 0 || wave.sampleRate() <= 0)
            return std::nullopt;
        if (wave.sampleRate() < Loudness::minimumRate) {
            Loudness refused;
            refused.rateTooLow = true;
            return refused;
        }
        tenth = tenthFrames(unsigned(wave.sampleRate()));
        tenths = wave.frames() / tenth;
    }
    // Every part but the last ends on a tenth, and has a whole one at least.
    parts = int(std::clamp<qint64>(parts, 1, std::max<qint64>(1, tenths)));
    std::vector<Part> measured(static_cast<std::size_t>(parts));
    const auto span = [&](int i) {
        const qint64 from = tenths * i / parts * tenth;
        const qint64 to = i + 1 == parts ? -1 : tenths * (i + 1) / parts * tenth;
        return std::pair(from, to);
    };
    {
        // The other parts beside this one on the scheduler's threads, or on this one after
        // its own part when none is free.
        std::vector<std::unique_ptr<Scheduler::Split>> others;
        for (int i = 1; i < parts; ++i)
            others.push_back(std::make_unique<Scheduler::Split>(Scheduler::instance(), [&, i] {
                const auto [from, to] = span(i);
                measured[std::size_t(i)] = measurePart(path, from, to, stop);
            }));
        const auto [from, to] = span(0);
        measured[0] = measurePart(path, from, to, stop);
        for (const std::unique_ptr<Scheduler::Split> &other : others)
            other->finish();
    }
    Loudness loudness;
    std::vector<double> powers;
    double truePeak = 0, samplePeak = 0;
    for (const Part &part : measured) {
        if (!part.ok)
            return std::nullopt;
        loudness.notNumbers = loudness.notNumbers || part.notNumbers;
        loudness.clipped += part.clipped;
        powers.insert(powers.end(), part.tenths.begin(), part.tenths.end());
        truePeak = std::max(truePeak, part.truePeak);
        samplePeak = std::max(samplePeak, part.samplePeak);
    }
    if (loudness.notNumbers) {
        Loudness damaged;
        damaged.notNumbers = true;
        damaged.truePeakDbtp = std::numeric_limits<double>::infinity();
        damaged.samplePeakDbfs = std::numeric_limits<double>::infinity();
        return damaged;
    }
    loudness.integratedLufs = integratedLufs(powers);
    loudness.rangeLu = rangeLu(powers);
    if (truePeak > 0)
        loudness.truePeakDbtp = 20 * std::log10(truePeak);
    if (samplePeak > 0)
        loudness.samplePeakDbfs = 20 * std::log10(samplePeak);
    return loudness;
}

std::optional<Loudness> measureLoudness(const QString &path, const std::function<bool()> &stop)
{
    int parts = 1;
    if (QThread::idealThreadCount() >= 2) {
        const Result<std::unique_ptr<WaveFile>> opened = WaveFile::open(path);
        if (!opened.ok())
            return std::nullopt;
        if (opened.value()->frames() >= qint64(splitSeconds * opened.value()->sampleRate()))
            parts = 2;
    }
    return measureLoudnessInParts(path, parts, stop);
}

QString loudnessText(const Loudness &loudness)
{
    if (loudness.rateTooLow)
        return QStringLiteral("rate too low to measure loudness");
    if (loudness.notNumbers)
        return QStringLiteral("damaged: contains samples that are not numbers");
    if (const QString why = whyNoIntegratedLoudness(loudness); !why.isEmpty()) {
        QString text = QStringLiteral("%1 to measure loudness, true peak %2 dBTP")
                           .arg(why, decibels(loudness.truePeakDbtp));
        if (loudness.clipped > 0)
            text += QStringLiteral(", clipped: %1").arg(loudness.clipped);
        return text;
    }
    QString text = QStringLiteral("%1 LUFS, range %2 LU, true peak %3 dBTP")
                       .arg(decibels(loudness.integratedLufs), decibels(loudness.rangeLu),
                            decibels(loudness.truePeakDbtp));
    if (loudness.clipped > 0)
        text += QStringLiteral(", clipped: %1").arg(loudness.clipped);
    return text;
}

QString whyNoIntegratedLoudness(const Loudness &loudness)
{
    // Sound, but no 400 ms block above the absolute gate: "-inf LUFS" beside a true peak of
    // -2 dBTP would read as a contradiction. Whatever is at least one block long and peaks
    // above -12 dBFS has a block above the gate, even a lone sample at 384 kHz; quieter, it
    // may be either.
    if (!loudness.measured() || !loudness.silent() ||
        !(loudness.samplePeakDbfs > Loudness::silence))
        return QString();
    return loudness.samplePeakDbfs > -12 ? QStringLiteral("too short")
                                         : QStringLiteral("too short or too quiet");
}

double matchingGainDb(const Loudness &loudness, double target, double ceiling)
{
    // A true peak of -inf is digital silence whatever the loudness says; +inf or NaN is a
    // figure that cannot be brought anywhere.
    if (!loudness.measured() || loudness.silent() || !std::isfinite(loudness.integratedLufs) ||
        !std::isfinite(loudness.truePeakDbtp) || !std::isfinite(target) || !std::isfinite(ceiling))
        return 0;
    const double gain =
        std::min({target - loudness.integratedLufs, ceiling - loudness.truePeakDbtp, maxGainDb});
    return std::isfinite(gain) ? gain : 0;
}
