#pragma once

#include "platform/SoundOutput.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

// The sound output as the desktop's media controls see it: which file was last started,
// whether it still sounds or is paused, where it is and how long it is, told by signals as
// it happens. Everything else goes straight to the output it wraps.
class NowPlaying final : public QObject, public SoundOutput
{
    Q_OBJECT
public:
    // The output must outlive it.
    explicit NowPlaying(SoundOutput &output, QObject *parent = nullptr);
    ~NowPlaying() override;

    // Restarts of the output that a seek, a resume or a change of loop or gain asks for
    // are at least this far apart; those asked for meanwhile make one, from the last place
    // asked for. A restart opens the file and decodes its start: a media key held down or a
    // client's burst of Seek calls (10,000 took the window 4.1 s, one restart each) costs
    // at most one every 50 ms.
    static constexpr int restartSpacingMs = 50;

    bool play(const QString &path) override { return start(PlayRequest::whole(path)); }
    bool start(const PlayRequest &request) override;
    std::optional<HeardPosition> heard() const override;
    void stop() override;
    bool drained() const override { return m_output.drained(); }
    int deviceCount() override { return m_output.deviceCount(); }
    bool refused() const override { return m_output.refused(); }

    // The file that sounds now or is paused; empty when none is.
    QString path() const { return m_paused || m_held || !drained() ? m_path : QString(); }
    bool paused() const { return m_paused; }
    // Counts every start, so that the same file started again is a new track.
    quint64 starts() const { return m_starts; }

    // The length of path in its frames at its rate, from whoever learnt it without holding
    // up the window (the file's facts read by a worker, or the output once its worker opened
    // the file). Kept for path while it is the one at hand, or until it is started again;
    // a length told of another file is dropped.
    void setLength(const QString &path, qint64 frames, int sampleRate);
    // The end of the file at hand, as a place in it; none while it is not known.
    std::optional<HeardPosition> length() const override;

    // Ends the sound but keeps where it was; resume() goes on from there, with the fade of
    // a new start. Both do nothing when there is nothing to pause or resume.
    void pause();
    void resume();
    // Goes to a place in the sound at hand, in microseconds from the file's start (clamped
    // to the file, or to the region played); paused, it stays paused there. Any value is
    // taken, from INT64_MIN to INT64_MAX.
    void seek(qint64 microseconds);
    // The sound at hand repeats from its start once it reaches its end, or not; it goes on
    // from where it is.
    bool looping() const { return m_request.loop; }
    void setLooping(bool loop);
    // The sound at hand goes on from where it is at another gain.
    void setGainDb(double gainDb);

    // The frame of a file at microseconds at sampleRate, rounded down: 0 for a negative
    // time, and never beyond what HeardPosition::microseconds() can turn back into time.
    static qint64 frameAt(qint64 microseconds, int sampleRate);

signals:
    void started(const QString &path);
    // The sound ended: stopped, refused in favour of none, or played to its end.
    void stopped();
    void pausedChanged(bool paused);
    // The place changed other than by playing on: a seek, or a loop going back to its start.
    // Seeks that come together are told once, with the place they led to.
    void moved(qint64 microseconds);
    // The file last started turned out not to be playable; start counts it as starts() did.
    // Followed by stopped(). A sound going on at another place or level is not told.
    void startRefused(quint64 start);
    // length() is known now for the file at hand.
    void lengthKnown();

private:
    void endedByItself();
    // The output's worker opened the sound last started, or found it cannot play it.
    void answered();
    // Goes on from where the sound is with the request changed; paused, it stays paused.
    void goOnWith(const PlayRequest &changed);
    PlayRequest goingOnAt(qint64 frame) const;
    // Where the part asked for begins: what a loop goes back to.
    qint64 regionStart() const
    {
        return m_request.loopFrom < 0 ? m_request.startFrame : m_request.loopFrom;
    }
    // One past the last frame the sound at hand plays before it ends or goes round; -1
    // while that is not known.
    qint64 partEnd() const;
    // The output goes on from m_heldAt once the spacing since the last restart allows.
    void restartSoon();
    void restartHeld();
    // No restart is waiting any more; the output plays on as it is, or stays quiet.
    void dropHeld();
    // A loop going round is not seen from here: the place is looked at just after it should
    // have gone back to its start, and a place behind the last look is a round done.
    void watchLoop();
    void lookForRound();

    SoundOutput &m_output;
    QString m_path;
    PlayRequest m_request;
    bool m_paused = false;
    HeardPosition m_pausedAt;
    quint64 m_starts = 0;
    // The sound at hand was started as a new one, not gone on with from another place.
    bool m_fresh = false;
    // Where the sound goes on once the held restart is made; meanwhile it is what is heard.
    bool m_held = false;
    HeardPosition m_heldAt;
    // The output was stopped by a pause and has not been started since.
    bool m_outputQuiet = false;
    // A seek is to be told with the next restart, or at once when none is held.
    bool m_moveToTell = false;
    QTimer m_restart;
    QElapsedTimer m_sinceRestart;
    QTimer m_loopWatch;
    qint64 m_lastLookedFrame = 0;
    QString m_lengthPath;
    HeardPosition m_length;
};
