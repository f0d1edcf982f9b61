#pragma once

#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

class WaveFile;

// Plays one wave file at a time in the background; a new sound ends the one playing.
class SoundOutput
{
public:
    virtual ~SoundOutput() = default;
    // Answers at once: false when the file cannot be opened or decoded, or no device opens.
    virtual bool play(const QString &path) = 0;
    // Number of playback devices; 0 means the start-up warning.
    virtual int deviceCount() = 0;
};

// Streams the decoded samples to an SDL2 audio device from a worker thread, so the start
// does not grow with the file's size and memory stays bounded.
class SdlSoundOutput final : public SoundOutput
{
public:
    SdlSoundOutput();
    ~SdlSoundOutput() override;
    bool play(const QString &path) override;
    int deviceCount() override;

private:
    bool ensureAudio();
    bool ensureDevice(int sampleRate, int channels);
    void stopWorker();
    void stream(std::shared_ptr<WaveFile> wave);

    bool m_audioTried = false;
    bool m_audioReady = false;
    uint32_t m_device = 0;
    int m_deviceRate = 0;
    int m_deviceChannels = 0;
    std::thread m_worker;
    std::atomic<bool> m_stop{false};
};
