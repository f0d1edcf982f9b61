#include "SoundOutput.h"

#include "WaveFile.h"

#define SDL_MAIN_HANDLED
#include <SDL.h>
#include <chrono>
#include <vector>

namespace {

constexpr int framesPerChunk = 4096;
// Keep about a quarter of a second queued: enough to ride out a busy UI thread, small
// enough that a new sound replaces the old one without a noticeable tail.
constexpr double queuedSecondsTarget = 0.25;
constexpr auto refillPause = std::chrono::milliseconds(10);
constexpr int maxChannels = 8;

} // namespace

SdlSoundOutput::SdlSoundOutput() = default;

SdlSoundOutput::~SdlSoundOutput()
{
    stopWorker();
    if (m_device)
        SDL_CloseAudioDevice(m_device);
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

bool SdlSoundOutput::ensureDevice(int sampleRate, int channels)
{
    if (m_device && m_deviceRate == sampleRate && m_deviceChannels == channels)
        return true;
    if (m_device) {
        SDL_CloseAudioDevice(m_device);
        m_device = 0;
    }
    SDL_AudioSpec want{};
    want.freq = sampleRate;
    want.format = AUDIO_F32SYS;
    want.channels = static_cast<Uint8>(channels);
    want.samples = 2048;
    // No allowed changes: SDL converts our float frames to whatever the hardware takes.
    m_device = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
    if (!m_device)
        return false;
    m_deviceRate = sampleRate;
    m_deviceChannels = channels;
    SDL_PauseAudioDevice(m_device, 0);
    return true;
}

void SdlSoundOutput::stopWorker()
{
    m_stop = true;
    if (m_worker.joinable())
        m_worker.join();
    m_stop = false;
}

bool SdlSoundOutput::play(const QString &path)
{
    std::shared_ptr<WaveFile> wave = WaveFile::open(path);
    if (!wave || wave->channels() > maxChannels)
        return false;
    // Decode the first chunk now, so a file that opens but cannot be decoded is refused
    // at once instead of playing silence.
    std::vector<float> first(static_cast<size_t>(framesPerChunk) * wave->channels());
    const qint64 firstFrames = wave->read(first.data(), framesPerChunk);
    if (firstFrames == 0 && wave->frames() > 0)
        return false;
    if (!ensureAudio())
        return false;
    stopWorker();
    if (m_device)
        SDL_ClearQueuedAudio(m_device);
    if (!ensureDevice(wave->sampleRate(), wave->channels()))
        return false;
    SDL_QueueAudio(m_device, first.data(),
                   static_cast<Uint32>(firstFrames * wave->channels() * sizeof(float)));
    m_worker = std::thread([this, wave] { stream(wave); });
    return true;
}

void SdlSoundOutput::stream(std::shared_ptr<WaveFile> wave)
{
    const int channels = wave->channels();
    const Uint32 bytesPerFrame = static_cast<Uint32>(channels * sizeof(float));
    const Uint32 target =
        static_cast<Uint32>(queuedSecondsTarget * wave->sampleRate()) * bytesPerFrame;
    std::vector<float> buffer(static_cast<size_t>(framesPerChunk) * channels);
    while (!m_stop) {
        if (SDL_GetQueuedAudioSize(m_device) >= target) {
            std::this_thread::sleep_for(refillPause);
            continue;
        }
        const qint64 got = wave->read(buffer.data(), framesPerChunk);
        if (got == 0)
            return;
        SDL_QueueAudio(m_device, buffer.data(), static_cast<Uint32>(got * bytesPerFrame));
    }
}
