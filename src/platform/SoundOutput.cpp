#include "SoundOutput.h"

#include "StereoConverter.h"
#include "WaveFile.h"
#include "WorkPool.h"

#define SDL_MAIN_HANDLED
#include <SDL.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr int deviceChannels = 2;
constexpr int fallbackDeviceRate = 48000;
// Frames per device callback: about 10 ms at 48 kHz, so a click is heard at once and closing
// the device at exit is quick.
constexpr Uint16 deviceFrames = 512;
// Keep about a quarter of a second converted ahead: enough to ride out a busy machine, small
// enough that memory stays bounded for any file.
constexpr double queuedSecondsTarget = 0.25;
constexpr auto refillPause = std::chrono::milliseconds(10);
constexpr int maxChannels = 8;
// A replaced sound fades out over this long rather than stopping mid-wave with a click.
constexpr double fadeSeconds = 0.005;
// What the opening task decodes before the sound starts: a file that opens but cannot be
// decoded is refused instead of playing silence.
constexpr double firstSeconds = 0.05;
constexpr qint64 maxFirstFrames = 32768;
// How long closing waits for replaced workers to notice; each step of theirs is short.
constexpr auto workerEndLimit = std::chrono::milliseconds(200);

} // namespace

struct SdlSoundOutput::Mix
{
    std::mutex mutex;
    // Device-format samples (stereo, interleaved) of the current sound not yet handed over.
    std::deque<float> pending;
    // The start of what the replaced sound still had queued; faded out under the new one.
    std::vector<float> fadeTail;
    size_t fadeDone = 0;
    // The worker has put the sound's last frame into `pending`.
    bool ended = true;
    // ...and the device has taken all of it.
    bool drained = true;
    // Which sound's worker may still add to `pending`; a replaced worker sees it change and
    // ends by itself, so nobody waits for it.
    quint64 generation = 0;
    std::condition_variable wake;
    int workers = 0;
    std::condition_variable workerEnded;
    std::function<void()> drainedHandler;
    // Device frames of the current sound the device has taken, and how they map back onto
    // the file: its first frame, the file frames per device frame, the loop's length.
    qint64 consumed = 0;
    qint64 startFrame = 0;
    double fileFramesPerDeviceFrame = 1;
    qint64 loopFrom = 0;
    qint64 loopEnd = 0;
    int fileRate = 0;
    bool sounding = false;
    // What the opening task found of the current sound: refused, or its file's length.
    bool refused = false;
    std::optional<HeardPosition> length;
    QString path;
    std::function<void()> answeredHandler;
    // The device, opened by the first sound's task under its own lock (the callback takes the
    // mix's); closing keeps a task that comes back late from opening it again.
    std::mutex deviceMutex;
    uint32_t device = 0;
    std::atomic_int deviceRate = 0;
    bool closing = false;

    // Under the lock: the sound that was queued has all gone to the device.
    void markDrained()
    {
        if (drained)
            return;
        drained = true;
        if (drainedHandler)
            drainedHandler();
    }
};

namespace {

void fillDevice(void *userdata, Uint8 *stream, int len)
{
    auto &mix = *static_cast<SdlSoundOutput::Mix *>(userdata);
    auto *out = reinterpret_cast<float *>(stream);
    const size_t count = static_cast<size_t>(len) / sizeof(float);
    std::lock_guard lock(mix.mutex);
    const size_t take = std::min(count, mix.pending.size());
    std::copy_n(mix.pending.begin(), take, out);
    mix.pending.erase(mix.pending.begin(), mix.pending.begin() + static_cast<ptrdiff_t>(take));
    mix.consumed += static_cast<qint64>(take / deviceChannels);
    std::fill(out + take, out + count, 0.0f);

    const size_t tailFrames = mix.fadeTail.size() / deviceChannels;
    for (size_t i = 0; i < count && mix.fadeDone < mix.fadeTail.size(); ++i, ++mix.fadeDone) {
        const size_t frame = mix.fadeDone / deviceChannels;
        const float gain =
            1.0f - static_cast<float>(frame + 1) / static_cast<float>(tailFrames + 1);
        // The old sound fading under the new one stays within full scale, as each one does.
        out[i] = std::clamp(out[i] + mix.fadeTail[mix.fadeDone] * gain, -1.0f, 1.0f);
    }
    if (mix.fadeDone >= mix.fadeTail.size()) {
        mix.fadeTail.clear();
        mix.fadeDone = 0;
    }
    if (mix.ended && mix.pending.empty())
        mix.markDrained();
}

} // namespace

// What the worker reads of a file: the request's frames, its channels, at its gain, and
// from the start again at the end when it loops.
class SdlSoundOutput::PartReader
{
public:
    PartReader(std::unique_ptr<WaveFile> wave, const PlayRequest &request)
        : m_wave(std::move(wave)), m_start(std::max<qint64>(0, request.startFrame)),
          m_end(request.endFrame < 0 ? std::numeric_limits<qint64>::max() : request.endFrame),
          m_loop(request.loop),
          m_loopFrom(request.loopFrom < 0 ? m_start : std::min(request.loopFrom, m_start)),
          m_picked(request.channels), m_gain(float(std::pow(10.0, request.gainDb / 20.0))),
          m_position(m_start)
    {
    }
    // False for a start past the end, or a channel the file does not have.
    bool valid()
    {
        for (int channel : std::as_const(m_picked))
            if (channel < 0 || channel >= m_wave->channels())
                return false;
        return m_start < m_end && (m_start == 0 || m_wave->seek(m_start));
    }
    int channels() const { return m_picked.isEmpty() ? m_wave->channels() : int(m_picked.size()); }
    int sampleRate() const { return m_wave->sampleRate(); }
    qint64 fileFrames() const { return m_wave->frames(); }
    qint64 start() const { return m_start; }
    qint64 loopFrom() const { return m_loopFrom; }
    // Where a loop goes back from; 0 when it does not loop.
    qint64 loopEnd() const { return m_loop ? std::min(m_end, m_wave->frames()) : 0; }

    // Interleaved frames of channels() into out; 0 at the end.
    qint64 read(float *out, qint64 frames)
    {
        qint64 done = 0;
        bool wrapped = false;
        while (done < frames) {
            if (m_position >= m_end) {
                // A loop that gave nothing in a whole round would spin for ever.
                if (!m_loop || wrapped || !m_wave->seek(m_loopFrom))
                    break;
                m_position = m_loopFrom;
                wrapped = true;
            }
            const qint64 want = std::min(frames - done, m_end - m_position);
            const qint64 got = readFrames(out + done * channels(), want);
            if (got <= 0) {
                m_end = m_position; // the file ends before its header says
                continue;
            }
            m_position += got;
            done += got;
            wrapped = false;
        }
        if (m_gain != 1.0f)
            for (qint64 i = 0; i < done * channels(); ++i)
                out[i] *= m_gain;
        return done;
    }

private:
    qint64 readFrames(float *out, qint64 frames)
    {
        if (m_picked.isEmpty())
            return m_wave->read(out, frames);
        const int all = m_wave->channels();
        m_scratch.resize(static_cast<size_t>(frames * all));
        const qint64 got = m_wave->read(m_scratch.data(), frames);
        const int picked = int(m_picked.size());
        for (qint64 f = 0; f < got; ++f)
            for (int c = 0; c < picked; ++c)
                out[f * picked + c] = m_scratch[static_cast<size_t>(f * all + m_picked[c])];
        return got;
    }

    std::unique_ptr<WaveFile> m_wave;
    qint64 m_start;
    qint64 m_end;
    bool m_loop;
    qint64 m_loopFrom;
    QList<int> m_picked;
    float m_gain;
    qint64 m_position;
    std::vector<float> m_scratch;
};

SdlSoundOutput::SdlSoundOutput(Opener opener)
    : m_opener(opener ? std::move(opener) : Opener(&WaveFile::open)), m_mix(std::make_shared<Mix>())
{
}

SdlSoundOutput::~SdlSoundOutput()
{
    {
        // Each worker checks its generation between short steps; give them that long. A task
        // held by a dead mount is not waited for: it holds what it uses and drops its sound.
        std::unique_lock lock(m_mix->mutex);
        ++m_mix->generation;
        m_mix->answeredHandler = {};
        m_mix->wake.notify_all();
        m_mix->workerEnded.wait_for(lock, workerEndLimit, [this] { return m_mix->workers == 0; });
    }
    uint32_t device = 0;
    {
        std::lock_guard lock(m_mix->deviceMutex);
        m_mix->closing = true;
        device = std::exchange(m_mix->device, 0);
    }
    // The callback runs every few milliseconds at the device's rate, so this returns quickly.
    if (device)
        SDL_CloseAudioDevice(device);
    if (m_audioReady)
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

bool SdlSoundOutput::ensureAudio()
{
    if (!m_audioTried) {
        m_audioTried = true;
        // Without this SDL installs its own SIGINT/SIGTERM handlers and the window's
        // orderly closing on those signals would never run.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        SDL_SetMainReady();
        m_audioReady = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
    }
    return m_audioReady;
}

int SdlSoundOutput::deviceCount()
{
    if (!ensureAudio())
        return 0;
    const int count = SDL_GetNumAudioDevices(0);
    // -1 means the driver cannot list devices but has a default one (dummy, disk).
    return count < 0 ? 1 : count;
}

namespace {

// Under the device's lock: its rate, opening it first if need be; 0 when no device opens.
int openedDeviceRate(SdlSoundOutput::Mix &mix)
{
    if (mix.device)
        return mix.deviceRate;
    if (mix.closing)
        return 0;
    SDL_AudioSpec want{};
    want.freq = fallbackDeviceRate;
#if SDL_VERSION_ATLEAST(2, 24, 0)
    // The rate the sound server runs at spares it a second resampling.
    SDL_AudioSpec preferred{};
    if (SDL_GetDefaultAudioInfo(nullptr, &preferred, 0) == 0 && preferred.freq > 0)
        want.freq = preferred.freq;
#endif
    want.format = AUDIO_F32SYS;
    want.channels = deviceChannels;
    want.samples = deviceFrames;
    want.callback = fillDevice;
    want.userdata = &mix;
    SDL_AudioSpec have{};
    mix.device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
    if (!mix.device)
        return 0;
    mix.deviceRate = have.freq;
    SDL_PauseAudioDevice(mix.device, 0);
    return have.freq;
}

} // namespace

void SdlSoundOutput::setDrainedHandler(std::function<void()> handler)
{
    std::lock_guard lock(m_mix->mutex);
    m_mix->drainedHandler = std::move(handler);
}

void SdlSoundOutput::setAnsweredHandler(std::function<void()> handler)
{
    std::lock_guard lock(m_mix->mutex);
    m_mix->answeredHandler = std::move(handler);
}

bool SdlSoundOutput::refused() const
{
    std::lock_guard lock(m_mix->mutex);
    return m_mix->refused;
}

std::optional<HeardPosition> SdlSoundOutput::length() const
{
    std::lock_guard lock(m_mix->mutex);
    return m_mix->length;
}

std::optional<HeardPosition> SdlSoundOutput::heard() const
{
    std::lock_guard lock(m_mix->mutex);
    if (!m_mix->sounding || m_mix->drained)
        return std::nullopt;
    qint64 frame =
        m_mix->startFrame + std::llround(double(m_mix->consumed) * m_mix->fileFramesPerDeviceFrame);
    if (const qint64 round = m_mix->loopEnd - m_mix->loopFrom; round > 0 && frame >= m_mix->loopEnd)
        frame = m_mix->loopFrom + (frame - m_mix->loopFrom) % round;
    return HeardPosition{frame, m_mix->fileRate};
}

bool SdlSoundOutput::drained() const
{
    std::lock_guard lock(m_mix->mutex);
    return m_mix->drained;
}

void SdlSoundOutput::fadeOutQueued()
{
    const size_t fade = std::min(m_mix->pending.size(),
                                 static_cast<size_t>(std::lround(fadeSeconds * m_mix->deviceRate)) *
                                     deviceChannels);
    m_mix->fadeTail.assign(m_mix->pending.begin(),
                           m_mix->pending.begin() + static_cast<ptrdiff_t>(fade));
    m_mix->fadeDone = 0;
    m_mix->pending.clear();
    ++m_mix->generation;
    m_mix->wake.notify_all();
}

void SdlSoundOutput::stop()
{
    std::lock_guard lock(m_mix->mutex);
    fadeOutQueued();
    m_mix->ended = true;
    m_mix->drained = true;
    m_mix->sounding = false;
}

bool SdlSoundOutput::start(const PlayRequest &request)
{
    if (!ensureAudio())
        return false;
    std::shared_ptr<Mix> mix = m_mix;
    quint64 generation = 0;
    {
        std::lock_guard lock(mix->mutex);
        fadeOutQueued();
        // The same file from another place (a move, the loop or the level changed) is where
        // it was asked to be at once: its rate is known, so the listener's place is too.
        const bool again = mix->path == request.path && mix->length && mix->fileRate > 0;
        mix->ended = false;
        mix->drained = false;
        mix->sounding = again;
        mix->consumed = 0;
        mix->startFrame = std::max<qint64>(0, request.startFrame);
        mix->fileFramesPerDeviceFrame = 1;
        mix->loopEnd = 0;
        mix->refused = false;
        if (!again) {
            mix->length.reset();
            mix->fileRate = 0;
        }
        mix->path = request.path;
        generation = mix->generation;
        ++mix->workers;
    }
    // The click's own answer: the newest of what the user looks at goes first.
    workPool().start(Lane::now, [mix, generation, request, opener = m_opener] {
        open(mix, generation, request, opener);
    });
    return true;
}

void SdlSoundOutput::open(const std::shared_ptr<Mix> &mix, quint64 generation,
                          const PlayRequest &request, const Opener &opener)
{
    // The task's count goes to the stream worker, or ends here.
    const auto end = [&mix] {
        --mix->workers;
        mix->workerEnded.notify_all();
    };
    const auto refuse = [&] {
        std::lock_guard lock(mix->mutex);
        if (mix->generation == generation) {
            mix->ended = true;
            mix->drained = true;
            mix->sounding = false;
            mix->refused = true;
            mix->length.reset();
            if (mix->answeredHandler)
                mix->answeredHandler();
        }
        end();
    };
    {
        // Arrow keys held down start and replace sounds faster than files open.
        std::lock_guard lock(mix->mutex);
        if (mix->generation != generation) {
            end();
            return;
        }
    }
    Result<std::unique_ptr<WaveFile>> opened = opener(request.path);
    if (!opened.ok() || opened.value()->channels() > maxChannels)
        return refuse();
    auto reader = std::make_shared<PartReader>(std::move(opened.value()), request);
    if (!reader->valid())
        return refuse();
    const qint64 firstFrames = std::clamp<qint64>(
        static_cast<qint64>(std::ceil(firstSeconds * reader->sampleRate())), 1, maxFirstFrames);
    std::vector<float> first(static_cast<size_t>(firstFrames) * reader->channels());
    const qint64 got = reader->read(first.data(), firstFrames);
    // A file of no frames plays its silence; one whose frames cannot be read is refused.
    if (got == 0 && reader->fileFrames() > 0)
        return refuse();
    first.resize(static_cast<size_t>(got) * reader->channels());
    int deviceRate = 0;
    {
        std::lock_guard lock(mix->deviceMutex);
        deviceRate = openedDeviceRate(*mix);
    }
    if (deviceRate <= 0)
        return refuse();
    auto converter =
        std::make_shared<StereoConverter>(reader->sampleRate(), reader->channels(), deviceRate);
    if (!converter->valid())
        return refuse();

    {
        std::lock_guard lock(mix->mutex);
        if (mix->generation != generation) {
            end();
            return;
        }
        mix->sounding = true;
        mix->consumed = 0;
        mix->startFrame = reader->start();
        mix->fileFramesPerDeviceFrame = double(reader->sampleRate()) / deviceRate;
        mix->loopFrom = reader->loopFrom();
        mix->loopEnd = reader->loopEnd();
        mix->fileRate = reader->sampleRate();
        mix->length = HeardPosition{reader->fileFrames(), reader->sampleRate()};
        if (mix->answeredHandler)
            mix->answeredHandler();
    }
    // Converting is left to the worker: one frame of a 1 Hz file is a second of output.
    // The worker holds everything it uses, so it may outlive the output.
    std::thread([mix, reader, converter, first = std::move(first), generation, deviceRate] {
        stream(*mix, generation, deviceRate, *reader, *converter, first);
        std::lock_guard lock(mix->mutex);
        --mix->workers;
        mix->workerEnded.notify_all();
    }).detach();
}

void SdlSoundOutput::stream(Mix &mix, quint64 generation, int deviceRate, PartReader &wave,
                            StereoConverter &converter, const std::vector<float> &first)
{
    const int channels = wave.channels();
    const size_t target = static_cast<size_t>(queuedSecondsTarget * deviceRate) * deviceChannels;
    std::vector<float> frames(static_cast<size_t>(StereoConverter::framesPerPut) * channels);
    std::vector<float> converted;
    converter.convert(first.data(), static_cast<qint64>(first.size()) / channels, converted);
    size_t queued = 0;
    {
        std::lock_guard lock(mix.mutex);
        if (mix.generation != generation)
            return;
        mix.pending.insert(mix.pending.end(), converted.begin(), converted.end());
        queued = mix.pending.size();
    }
    for (;;) {
        if (queued >= target) {
            std::unique_lock lock(mix.mutex);
            mix.wake.wait_for(lock, refillPause, [&] { return mix.generation != generation; });
            if (mix.generation != generation)
                return;
            queued = mix.pending.size();
            continue;
        }
        // Only as many file frames as the queue needs: one frame of a 1 Hz file is a
        // whole second of output.
        const double needed = static_cast<double>(target - queued) / deviceChannels *
                              converter.fileRate() / converter.deviceRate();
        const qint64 want = std::clamp<qint64>(static_cast<qint64>(std::ceil(needed)), 1,
                                               StereoConverter::framesPerPut);
        const qint64 got = wave.read(frames.data(), want);
        converted.clear();
        if (got > 0)
            converter.convert(frames.data(), got, converted);
        else
            converter.flush(converted);
        std::lock_guard lock(mix.mutex);
        if (mix.generation != generation)
            return;
        mix.pending.insert(mix.pending.end(), converted.begin(), converted.end());
        queued = mix.pending.size();
        if (got == 0) {
            mix.ended = true;
            if (mix.pending.empty())
                mix.markDrained();
            return;
        }
    }
}
