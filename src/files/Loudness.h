#pragma once

#include <QString>
#include <functional>
#include <limits>
#include <optional>

// How loud a file is, as EBU R128 and ITU-R BS.1770 measure it, and how much of it clips.
struct Loudness
{
    static constexpr double silence = -std::numeric_limits<double>::infinity();
    double integratedLufs = silence;
    double rangeLu = 0;
    double truePeakDbtp = silence;
    double samplePeakDbfs = silence;
    // Samples at full scale that belong to a run of two or more on their channel: a single
    // sample at full scale is a normalised peak, a run is a flattened wave.
    qint64 clipped = 0;
    // Samples that are infinite or not a number (a float file written by a faulty program):
    // no figure can be trusted and no gain may be applied; the true peak reads +∞.
    bool notNumbers = false;
    // The rate is too low to weigh the sound as BS.1770 does (under minimumRate): nothing was
    // measured.
    bool rateTooLow = false;

    // Below this rate nothing is measured and libebur128 is not called: it writes out of
    // bounds at 16 and 17 Hz, and its K-weighting, whose high shelf sits at 1681.97 Hz, has
    // no band to stand in under twice that (it reads +inf LUFS at 1, 2 and 3 kHz, +102.9 at
    // 3363 Hz). No recording is made that slowly.
    static constexpr int minimumRate = 3364;

    // Too quiet to gate (digital silence): no loudness to bring anywhere.
    bool silent() const { return !(integratedLufs > silence); }
    // What the file list marks: it goes over full scale between samples, or clips.
    bool damaged() const { return notNumbers || truePeakDbtp > 0 || clipped > 0; }
    // Whether the figures describe the sound, so that a gain may be worked out from them.
    bool measured() const { return !notNumbers && !rateTooLow; }
    // The integrated loudness when there is one to bring anywhere: none for silence or for
    // figures that describe nothing.
    std::optional<double> integrated() const
    {
        if (silent() || !measured())
            return std::nullopt;
        return integratedLufs;
    }
};

// Measures a wave file, K-weighted by libebur128, read in chunks so that memory hardly grows
// with the file; past a minute in two halves at once. Nothing for a file that cannot be
// decoded, or once stop() says so.
std::optional<Loudness> measureLoudness(const QString &path,
                                        const std::function<bool()> &stop = {});
// What measures a file for the lists: measureLoudness(), or a test's stand-in.
using LoudnessMeasure =
    std::function<std::optional<Loudness>(const QString &, const std::function<bool()> &)>;

// The same, in `parts` stretches measured at once on the scheduler's threads, joined so that the
// figures are the ones of the file measured whole; 1 measures it whole on this thread.
std::optional<Loudness> measureLoudnessInParts(const QString &path, int parts,
                                               const std::function<bool()> &stop = {});

// "−23.0 LUFS, range 4.2 LU, true peak −1.3 dBTP", and ", clipped: 12" when it clips; what
// could not be measured, and why, otherwise.
QString loudnessText(const Loudness &loudness);
// Why a file with sound in it has no integrated loudness: "too short", or "too short or too
// quiet" when it is quiet as well; empty for a file that has one, or is silence.
QString whyNoIntegratedLoudness(const Loudness &loudness);

// The gain that brings the file to `target` LUFS, but no more than keeps its true peak at or
// under `ceiling` dBTP, and never more than maxGainDb; none for a silent file, for one not
// measured, and for figures that are not numbers.
constexpr double maxGainDb = 20.0;
double matchingGainDb(const Loudness &loudness, double target = -23.0, double ceiling = -1.0);
