#pragma once

#include "platform/SoundOutput.h"

#include <QString>

// The sound output as the desktop's media controls see it: which file was last started, and
// whether it still sounds. Everything else goes straight to the output it wraps.
class NowPlaying final : public SoundOutput
{
public:
    explicit NowPlaying(SoundOutput &output) : m_output(output) {}

    bool play(const QString &path) override
    {
        const bool started = m_output.play(path);
        m_path = started ? path : QString();
        ++m_starts;
        return started;
    }
    void stop() override
    {
        m_output.stop();
        m_path.clear();
    }
    bool drained() const override { return m_output.drained(); }
    int deviceCount() override { return m_output.deviceCount(); }

    // The file that sounds now; empty when none does.
    QString path() const { return drained() ? QString() : m_path; }
    // Counts every start, so that the same file started again is a new track.
    quint64 starts() const { return m_starts; }

private:
    SoundOutput &m_output;
    QString m_path;
    quint64 m_starts = 0;
};
