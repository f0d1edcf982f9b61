#include "WaveFile.h"

#include "RegularFile.h"

#include <cmath>
#include <sndfile.h>

Result<std::unique_ptr<WaveFile>> WaveFile::open(const QString &path)
{
    using Opened = Result<std::unique_ptr<WaveFile>>;
    Result<RegularFile> regular = RegularFile::open(path);
    if (!regular.ok())
        return Opened::failure(regular.error());
    SF_INFO info{};
    // libsndfile closes the descriptor with the file, also when it refuses to open it.
    SNDFILE *file = sf_open_fd(regular->release(), SFM_READ, &info, SF_TRUE);
    if (!file)
        return Opened::failure(QString::fromUtf8(sf_strerror(nullptr)));
    const int container = info.format & SF_FORMAT_TYPEMASK;
    const bool wave =
        container == SF_FORMAT_WAV || container == SF_FORMAT_WAVEX || container == SF_FORMAT_RF64;
    if (!wave || info.channels <= 0 || info.samplerate <= 0) {
        sf_close(file);
        return Opened::failure(QStringLiteral("not a wave file"));
    }
    std::unique_ptr<WaveFile> wave_file(new WaveFile);
    wave_file->m_file = file;
    wave_file->m_channels = info.channels;
    wave_file->m_sampleRate = info.samplerate;
    wave_file->m_frames = info.frames;
    wave_file->m_format = info.format;
    return wave_file;
}

WaveFile::~WaveFile()
{
    if (m_file)
        sf_close(m_file);
}

int WaveFile::container() const
{
    return m_format & SF_FORMAT_TYPEMASK;
}

int WaveFile::encoding() const
{
    return m_format & SF_FORMAT_SUBMASK;
}

bool WaveFile::seek(qint64 frame)
{
    return sf_seek(m_file, frame, SEEK_SET) >= 0;
}

qint64 WaveFile::read(float *buffer, qint64 frames)
{
    const sf_count_t got = sf_readf_float(m_file, buffer, frames);
    return got > 0 ? got : 0;
}

std::optional<qint64> SndfileWaveLength::lengthMs(const QString &path) const
{
    const auto wave = WaveFile::open(path);
    if (!wave.ok())
        return std::nullopt;
    return static_cast<qint64>(std::nearbyint(static_cast<double>(wave.value()->frames()) * 1000.0 /
                                              wave.value()->sampleRate()));
}
