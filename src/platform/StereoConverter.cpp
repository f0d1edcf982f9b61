#include "StereoConverter.h"

#define SDL_MAIN_HANDLED
#include <SDL.h>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// A damaged float file may hold NaN or infinity; on a mixer that is a loud click or worse,
// and inside the resampler it would spread to its neighbours. Such a sample is silence.
// A comparison rather than std::isfinite, so the loop stays free of branches.
inline float audible(float x)
{
    return std::abs(x) <= std::numeric_limits<float>::max() ? x : 0.0f;
}

// Float files and a raised gain may go past full scale, and the resampler may overshoot it
// a little: what the device gets never does.
inline float withinFullScale(float x)
{
    return std::clamp(x, -1.0f, 1.0f);
}

} // namespace

StereoConverter::StereoConverter(int fileRate, int fileChannels, int deviceRate)
    : m_fileRate(fileRate), m_fileChannels(fileChannels), m_deviceRate(deviceRate)
{
    if (fileRate < minimumSdlRate)
        m_upsampling = (minimumSdlRate + fileRate - 1) / fileRate;
    m_stream =
        SDL_NewAudioStream(AUDIO_F32SYS, 2, fileRate * m_upsampling, AUDIO_F32SYS, 2, deviceRate);
}

StereoConverter::~StereoConverter()
{
    if (m_stream)
        SDL_FreeAudioStream(m_stream);
}

void StereoConverter::convert(const float *frames, qint64 count, std::vector<float> &out)
{
    if (!m_stream)
        return;
    // Down- or up-mixed here rather than by SDL, whose channel conversions do not cover every
    // count from 1 to 8: the first two channels are left and right, the others (centre,
    // surround, LFE) go to both sides at half level.
    const int channels = m_fileChannels;
    const float others = channels > 2 ? 0.5f * static_cast<float>(channels - 2) : 0.0f;
    const float scale = 1.0f / (1.0f + others);
    for (qint64 done = 0; done < count;) {
        const qint64 n = std::min<qint64>(framesPerPut, count - done);
        m_stereo.resize(static_cast<size_t>(n) * 2);
        for (qint64 f = 0; f < n; ++f) {
            const float *frame = frames + (done + f) * channels;
            float left = audible(frame[0]);
            float right = channels > 1 ? audible(frame[1]) : left;
            if (channels > 2) {
                float rest = 0;
                for (int c = 2; c < channels; ++c)
                    rest += audible(frame[c]);
                left = (left + 0.5f * rest) * scale;
                right = (right + 0.5f * rest) * scale;
            }
            m_stereo[static_cast<size_t>(f) * 2] = left;
            m_stereo[static_cast<size_t>(f) * 2 + 1] = right;
        }
        put(m_stereo.data(), n);
        take(out);
        done += n;
    }
}

void StereoConverter::put(const float *stereo, qint64 frames)
{
    if (m_upsampling == 1) {
        SDL_AudioStreamPut(m_stream, stereo, static_cast<int>(frames * 2 * sizeof(float)));
        return;
    }
    // Straight lines from each frame to the next, starting from silence, so the first frame
    // fades in rather than clicks; the count stays exactly frames * m_upsampling.
    for (qint64 f = 0; f < frames; ++f) {
        m_upsampled.clear();
        for (int step = 1; step <= m_upsampling; ++step) {
            const float t = static_cast<float>(step) / static_cast<float>(m_upsampling);
            for (int c = 0; c < 2; ++c)
                m_upsampled.push_back(m_previous[c] + (stereo[f * 2 + c] - m_previous[c]) * t);
        }
        m_previous[0] = stereo[f * 2];
        m_previous[1] = stereo[f * 2 + 1];
        for (int done = 0; done < m_upsampling; done += framesPerPut) {
            const int n = std::min(framesPerPut, m_upsampling - done);
            SDL_AudioStreamPut(m_stream, m_upsampled.data() + static_cast<size_t>(done) * 2,
                               static_cast<int>(n * 2 * sizeof(float)));
        }
    }
}

void StereoConverter::flush(std::vector<float> &out)
{
    if (!m_stream)
        return;
    SDL_AudioStreamFlush(m_stream);
    take(out);
}

void StereoConverter::take(std::vector<float> &out)
{
    const int available = SDL_AudioStreamAvailable(m_stream);
    if (available <= 0)
        return;
    const size_t before = out.size();
    out.resize(before + static_cast<size_t>(available) / sizeof(float));
    const int got = SDL_AudioStreamGet(m_stream, out.data() + before, available);
    out.resize(before + static_cast<size_t>(std::max(got, 0)) / sizeof(float));
    for (auto sample = out.begin() + static_cast<ptrdiff_t>(before); sample != out.end(); ++sample)
        *sample = withinFullScale(*sample);
}
