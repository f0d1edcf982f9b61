#pragma once

#include "platform/SoundOutput.h"

#include <QObject>
#include <QString>

// The sound output as the desktop's media controls see it: which file was last started,
// whether it still sounds or is paused, and where it is, told by signals as it happens.
// Everything else goes straight to the output it wraps.
class NowPlaying final : public QObject, public SoundOutput
{
    Q_OBJECT
public:
    // The output must outlive it.
    explicit NowPlaying(SoundOutput &output, QObject *parent = nullptr);
    ~NowPlaying() override;

    bool play(const QString &path) override { return start(PlayRequest::whole(path)); }
    bool start(const PlayRequest &request) override;
    std::optional<HeardPosition> heard() const override;
    void stop() override;
    bool drained() const override { return m_output.drained(); }
    int deviceCount() override { return m_output.deviceCount(); }
    bool refused() const override { return m_output.refused(); }
    std::optional<HeardPosition> length() const override { return m_output.length(); }

    // The length of the file that sounds or is paused, as its opening found it; 0 while it
    // is not known yet, and when nothing sounds.
    qint64 lengthUs() const { return path().isEmpty() ? 0 : m_lengthUs; }

    // The file that sounds now or is paused; empty when none is.
    QString path() const { return m_paused || !drained() ? m_path : QString(); }
    bool paused() const { return m_paused; }
    // Counts every start, so that the same file started again is a new track.
    quint64 starts() const { return m_starts; }

    // Ends the sound but keeps where it was; resume() goes on from there, with the fade of
    // a new start. Both do nothing when there is nothing to pause or resume.
    void pause();
    void resume();
    // Goes to a place in the sound at hand (clamped to it); paused, it stays paused there.
    void seek(qint64 microseconds);
    // The sound at hand repeats from its start once it reaches its end, or not; it goes on
    // from where it is.
    bool looping() const { return m_request.loop; }
    void setLooping(bool loop);
    // The sound at hand goes on from where it is at another gain.
    void setGainDb(double gainDb);

signals:
    void started(const QString &path);
    // The sound ended: stopped, refused in favour of none, or played to its end.
    void stopped();
    void pausedChanged(bool paused);
    // The place changed other than by playing on (a seek).
    void moved(qint64 microseconds);
    // The file last started turned out not to be playable; start counts it as starts() did.
    // Followed by stopped(). A sound going on at another place or level is not told.
    void startRefused(quint64 start);
    // The file that sounds was opened: its length is known.
    void lengthKnown();

private:
    void endedByItself();
    void answered();
    // Goes on from where the sound is with the request changed; paused, it stays paused.
    void goOnWith(const PlayRequest &changed);
    PlayRequest goingOnAt(qint64 frame) const;
    // Where the part asked for begins: what a loop goes back to.
    qint64 regionStart() const
    {
        return m_request.loopFrom < 0 ? m_request.startFrame : m_request.loopFrom;
    }
    SoundOutput &m_output;
    QString m_path;
    PlayRequest m_request;
    bool m_paused = false;
    HeardPosition m_pausedAt;
    quint64 m_starts = 0;
    // The sound at hand was started as a new one, not gone on with from another place.
    bool m_fresh = false;
    qint64 m_lengthUs = 0;
};
