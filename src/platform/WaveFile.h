#pragma once

#include "Result.h"

#include <QString>
#include <memory>
#include <optional>

struct sf_private_tag;

// An open RIFF/WAVE (or RF64) file decoded to float samples by libsndfile.
class WaveFile final
{
public:
    // Refused when the file is missing, unreadable, or not a wave file (an MP3 renamed to
    // .wav is refused even though libsndfile could decode it), saying why: the opening's
    // reason, libsndfile's text, or "not a wave file".
    static Result<std::unique_ptr<WaveFile>> open(const QString &path);
    ~WaveFile();
    WaveFile(const WaveFile &) = delete;
    WaveFile &operator=(const WaveFile &) = delete;

    int channels() const { return m_channels; }
    int sampleRate() const { return m_sampleRate; }
    qint64 frames() const { return m_frames; }
    // The container (SF_FORMAT_WAV, _WAVEX or _RF64) and the encoding, as libsndfile
    // numbers them.
    int container() const;
    int encoding() const;
    // Interleaved frames into buffer; returns the frames read, 0 at the end.
    qint64 read(float *buffer, qint64 frames);
    // To a frame; false when the file cannot go there.
    bool seek(qint64 frame);
    // libsndfile's own handle, for the chunks and strings a reader of metadata asks for.
    sf_private_tag *handle() const { return m_file; }

private:
    WaveFile() = default;
    sf_private_tag *m_file = nullptr;
    int m_channels = 0;
    int m_sampleRate = 0;
    qint64 m_frames = 0;
    int m_format = 0;
};

// The length of a wave file from its header, as the chain player needs it.
class WaveLength
{
public:
    virtual ~WaveLength() = default;
    // Milliseconds, rounded; nullopt when the file cannot be read as a wave file.
    virtual std::optional<qint64> lengthMs(const QString &path) const = 0;
};

// Lengths read by libsndfile from the header alone.
class SndfileWaveLength final : public WaveLength
{
public:
    std::optional<qint64> lengthMs(const QString &path) const override;
};
