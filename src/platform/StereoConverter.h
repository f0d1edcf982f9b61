#pragma once

#include <QtGlobal>
#include <vector>

struct _SDL_AudioStream;

// Turns a file's frames (any rate libsndfile opens, 1 to 8 channels) into stereo float frames
// at the output device's rate, so one device serves every file: a new rate or channel count
// is a new converter, never a reopened device.
class StereoConverter final
{
public:
    StereoConverter(int fileRate, int fileChannels, int deviceRate);
    ~StereoConverter();
    StereoConverter(const StereoConverter &) = delete;
    StereoConverter &operator=(const StereoConverter &) = delete;

    // False when SDL cannot convert between the two rates.
    bool valid() const { return m_stream != nullptr; }
    int fileRate() const { return m_fileRate; }
    int deviceRate() const { return m_deviceRate; }

    // Appends the converted stereo samples of `frames` interleaved file frames to out.
    void convert(const float *frames, qint64 count, std::vector<float> &out);
    // The end of the file: what the resampler still holds.
    void flush(std::vector<float> &out);

    // SDL 2.26 drops audio when large blocks are put at once; this many frames a put is safe.
    static constexpr int framesPerPut = 256;
    // SDL's resampler slows down steeply with the ratio (a 1 Hz file took 6 us of CPU per
    // output frame); slower files are first interpolated up to at least this rate.
    static constexpr int minimumSdlRate = 1000;

private:
    void put(const float *stereo, qint64 frames);
    void take(std::vector<float> &out);
    _SDL_AudioStream *m_stream = nullptr;
    int m_fileRate;
    int m_fileChannels;
    int m_deviceRate;
    // Frames interpolated per file frame (1 unless the file is slower than minimumSdlRate).
    int m_upsampling = 1;
    float m_previous[2] = {0, 0};
    std::vector<float> m_stereo;
    std::vector<float> m_upsampled;
};
