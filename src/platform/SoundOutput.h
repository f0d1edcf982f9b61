#pragma once

#include <QList>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class StereoConverter;
class WaveFile;

// What to play of a file: from a frame, to a frame (exclusive; -1 for the file's end), once
// or round and round (back to loopFrom, -1 for the start frame: a loop resumed in its middle
// still goes back to its beginning), some of its channels (on both speakers; none named
// means all, as the file has them), at a gain.
struct PlayRequest
{
    QString path;
    qint64 startFrame = 0;
    qint64 endFrame = -1;
    bool loop = false;
    qint64 loopFrom = -1;
    QList<int> channels;
    double gainDb = 0;

    static PlayRequest whole(const QString &path)
    {
        PlayRequest request;
        request.path = path;
        return request;
    }
};

// Where the listener is in the sound: a frame of the file, at the file's rate.
struct HeardPosition
{
    qint64 frame = 0;
    int sampleRate = 0;
    qint64 microseconds() const { return sampleRate > 0 ? frame * 1000000 / sampleRate : 0; }
};

// Plays one wave file at a time in the background; a new sound ends the one playing.
class SoundOutput
{
public:
    virtual ~SoundOutput() = default;
    // Answers at once: false when the file cannot be opened or decoded, or no device opens.
    virtual bool play(const QString &path) = 0;
    // The same for a part of a file; an output that knows no parts plays the whole file.
    virtual bool start(const PlayRequest &request) { return play(request.path); }
    // Where the listener is now, from what the device has taken; none while nothing plays
    // or where the output cannot tell.
    virtual std::optional<HeardPosition> heard() const { return std::nullopt; }
    // Ends the sound that is playing, with the short fade of a replaced one.
    virtual void stop() = 0;
    // True once the sound last started has handed its last sample to the device (and while
    // nothing has been played).
    virtual bool drained() const = 0;
    // Number of playback devices; 0 means the start-up warning.
    virtual int deviceCount() = 0;
    // Called, from whatever thread finds it (the audio device's own, often), when the sound
    // last started has drained by itself; not after stop(). It must only post and return:
    // the output's lock is held, which is also what makes clearing it safe.
    virtual void setDrainedHandler(std::function<void()> handler) { Q_UNUSED(handler); }
};

// One SDL2 audio device, opened once in a fixed format (stereo float at the device's rate);
// a worker thread decodes and converts each file into a queue that the device's callback
// empties. Nothing on the calling thread waits for the audio thread beyond a short lock,
// whatever the file's rate, and a replaced sound fades out instead of being cut.
class SdlSoundOutput final : public SoundOutput
{
public:
    SdlSoundOutput();
    ~SdlSoundOutput() override;
    bool play(const QString &path) override { return start(PlayRequest::whole(path)); }
    bool start(const PlayRequest &request) override;
    std::optional<HeardPosition> heard() const override;
    void stop() override;
    bool drained() const override;
    int deviceCount() override;
    void setDrainedHandler(std::function<void()> handler) override;

    // What the device's callback reads; shared with the audio thread.
    struct Mix;

private:
    bool ensureAudio();
    bool ensureDevice();
    // Under the mix's lock: what is queued fades out, and the current worker ends.
    void fadeOutQueued();
    // The worker of one sound: decodes and converts ahead of the device until the file ends
    // or another sound (a newer generation) replaces it.
    class PartReader;
    static void stream(Mix &mix, quint64 generation, int deviceRate, PartReader &reader,
                       StereoConverter &converter, const std::vector<float> &first);

    bool m_audioTried = false;
    bool m_audioReady = false;
    uint32_t m_device = 0;
    int m_deviceRate = 0;
    std::shared_ptr<Mix> m_mix;
};
