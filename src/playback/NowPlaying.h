#pragma once

#include "platform/SoundOutput.h"

#include <QObject>
#include <QString>

// The sound output as the desktop's media controls see it: which file was last started, and
// whether it still sounds, told by signals as it happens. Everything else goes straight to
// the output it wraps.
class NowPlaying final : public QObject, public SoundOutput
{
    Q_OBJECT
public:
    // The output must outlive it.
    explicit NowPlaying(SoundOutput &output, QObject *parent = nullptr);
    ~NowPlaying() override;

    bool play(const QString &path) override { return start(PlayRequest::whole(path)); }
    bool start(const PlayRequest &request) override;
    std::optional<qint64> heardFrame() const override { return m_output.heardFrame(); }
    void stop() override;
    bool drained() const override { return m_output.drained(); }
    int deviceCount() override { return m_output.deviceCount(); }

    // The file that sounds now; empty when none does.
    QString path() const { return drained() ? QString() : m_path; }
    // Counts every start, so that the same file started again is a new track.
    quint64 starts() const { return m_starts; }

signals:
    void started(const QString &path);
    // The sound ended: stopped, refused in favour of none, or played to its end.
    void stopped();

private:
    void endedByItself();
    SoundOutput &m_output;
    QString m_path;
    quint64 m_starts = 0;
};
