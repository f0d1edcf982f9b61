#pragma once

#include "Result.h"

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
    // Answers at once, without waiting for the disk: false when it already knows the sound
    // cannot start (no sound system). An output that opens the file on a worker answers
    // true and tells a file it cannot open, decode or send to a device later, by refused().
    virtual bool play(const QString &path) = 0;
    // The same for a part of a file; an output that knows no parts plays the whole file.
    virtual bool start(const PlayRequest &request) { return play(request.path); }
    // The sound last started turned out not to be playable; it is silent and drained.
    virtual bool refused() const { return false; }
    // The length of the file of the sound last started (its frames at its rate), known once
    // the file is open; none before, or where the output cannot tell.
    virtual std::optional<HeardPosition> length() const { return std::nullopt; }
    // Called, from the worker that opened it, when the sound last started has been opened
    // (its length is known) or refused. Like the drained handler it must only post: the
    // output's lock is held.
    virtual void setAnsweredHandler(std::function<void()> handler) { Q_UNUSED(handler); }
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

// One SDL2 audio device, opened once in a fixed format (stereo float at the device's rate)
// by the first sound's worker; a task on the work pool opens each file, checks it and decodes
// its first frames, and a worker thread then decodes and converts ahead into a queue that the
// device's callback empties. The calling thread never touches the file and waits for the
// audio thread no longer than a short lock, and a replaced sound fades out instead of being
// cut.
class SdlSoundOutput final : public SoundOutput
{
public:
    // How a file is opened; on a worker, never on the caller's thread. Tests hand in one that
    // holds back like a stalled disk.
    using Opener = std::function<Result<std::unique_ptr<WaveFile>>(const QString &path)>;
    explicit SdlSoundOutput(Opener opener = {});
    ~SdlSoundOutput() override;
    bool play(const QString &path) override { return start(PlayRequest::whole(path)); }
    bool start(const PlayRequest &request) override;
    bool refused() const override;
    std::optional<HeardPosition> length() const override;
    std::optional<HeardPosition> heard() const override;
    void stop() override;
    bool drained() const override;
    int deviceCount() override;
    void setDrainedHandler(std::function<void()> handler) override;
    void setAnsweredHandler(std::function<void()> handler) override;

    // What the device's callback reads; shared with the audio thread and the workers.
    struct Mix;

private:
    bool ensureAudio();
    // Under the mix's lock: what is queued fades out, and the current worker ends.
    void fadeOutQueued();
    class PartReader;
    // The task of one sound on the work pool: opens and checks the file, decodes its first
    // frames and, unless a newer sound came meanwhile, hands them to a stream worker.
    static void open(const std::shared_ptr<Mix> &mix, quint64 generation,
                     const PlayRequest &request, const Opener &opener);
    // The worker of one sound: decodes and converts ahead of the device until the file ends
    // or another sound (a newer generation) replaces it.
    static void stream(Mix &mix, quint64 generation, int deviceRate, PartReader &reader,
                       StereoConverter &converter, const std::vector<float> &first);

    Opener m_opener;
    bool m_audioTried = false;
    bool m_audioReady = false;
    std::shared_ptr<Mix> m_mix;
};
