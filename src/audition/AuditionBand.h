#pragma once

#include "files/FileFacts.h"
#include "platform/SoundOutput.h"

#include <QImage>
#include <QList>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <optional>

class NowPlaying;
class PeakCache;
class QCheckBox;
class QLabel;
class QSlider;

// The lanes of a waveform: one per channel up to eight, pairs of channels beyond that, each
// with the channels it shows and its label ("3", "9-10").
struct WaveLane
{
    QList<int> channels;
    QString label;
};
QList<WaveLane> lanesFor(int channels);

// The waveform of one file across the band: a lane per channel with its label at the left,
// the cue markers with theirs, the file's loop, the region dragged out and the playhead.
// It tells what the pointer did in file frames; what to play of it is the band's business.
class WaveStrip final : public QWidget
{
    Q_OBJECT
public:
    explicit WaveStrip(QWidget *parent);

    static constexpr int labelWidth = 24;
    // Within this many pixels of a marker, a click is on the marker.
    static constexpr int markerReach = 3;

    void setFile(const WaveInfo &info);
    void setPeaks(const std::optional<WavePeaks> &peaks);
    void setPlayhead(std::optional<qint64> frame);
    void setRegion(qint64 from, qint64 to);
    void setSolo(const QList<int> &channels);

    const QList<WaveLane> &lanes() const { return m_lanes; }
    // The part of the strip that shows the sound, and where a frame of it is drawn.
    QRect waveArea() const;
    int xOf(qint64 frame) const;
    qint64 frameAt(int x) const;

signals:
    void clicked(qint64 frame);
    void regionChosen(qint64 from, qint64 to);
    void laneClicked(int lane);
    void menuWanted(const QPoint &globalPosition);
    void widthChanged(int width);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    double exactXOf(qint64 frame) const;
    QRect playheadRect(std::optional<qint64> frame) const;
    int laneAt(int y) const;
    void drawWave();

    WaveInfo m_info;
    QList<WaveLane> m_lanes;
    std::optional<WavePeaks> m_peaks;
    // The lanes as drawn at the strip's size, made again when the peaks or the size change.
    QImage m_wave;
    std::optional<qint64> m_playhead;
    qint64 m_regionFrom = 0;
    qint64 m_regionTo = 0;
    QList<int> m_solo;
    std::optional<int> m_pressX;
    bool m_dragging = false;
};

// A band below the lists, shown while "&Waveform" is on: the waveform of the file at hand,
// its name, where the sound is in it and how long it is, the preview level and the loop
// switch. A click plays from a point, a drag plays a region, a marker plays from itself, a
// lane's label plays that channel alone.
class AuditionBand final : public QWidget
{
    Q_OBJECT
public:
    AuditionBand(FileFacts &facts, NowPlaying &now, QWidget *parent);

    // The height the band adds to the window, its lower margin included.
    static constexpr int bandHeight = 136;
    static constexpr int margin = 8;
    // How often the playhead moves while a sound plays.
    static constexpr int playheadIntervalMs = 15;

    // The roles of a list's model the band reads of its entry: the file's path, and the one
    // whose change says a measurement of its loudness came.
    struct EntryRoles
    {
        int path;
        int loudness;
    };
    // The file at hand as an entry of a list (the current one of the list with the focus, or
    // the one whose file sounds), followed through any sort or filter of its model; none for
    // an invalid index.
    void showEntry(const QModelIndex &entry, EntryRoles roles);
    // The file at hand where no list's entry is known for it (a file handed over on the
    // command line, a chain's next one); the entry shown before is kept when it is that
    // file. Empty for none.
    void showFile(const QString &path);
    QString path() const { return m_path; }
    double levelDb() const;
    bool loopOn() const;
    // "Match loudness": single plays are brought to one loudness.
    bool matchOn() const;
    // Ctrl+L changed the loop of the sound at hand.
    void showLoop(bool on);
    WaveStrip *strip() const { return m_strip; }
    // Times the playhead moved, for the benchmark.
    quint64 playheadMoves() const { return m_playheadMoves; }

signals:
    // What the user asked to hear; the window plays it as it plays any single file.
    void playRequested(const PlayRequest &request);
    void loopToggled(bool on);
    // The level moved and settled: the sound at hand goes on at it.
    void levelChanged(double gainDb);
    void matchToggled(bool on);
    void menuWanted(const QPoint &globalPosition);
    // The loudness of the band's file changed: a measurement of it came.
    void loudnessChanged();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void placeControls();
    void setPath(const QString &path);
    // The entry whose changes the band follows (none: an invalid index).
    void follow(const QModelIndex &entry, int loudnessRole);
    void entryChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                      const QList<int> &roles);
    void refresh();
    void followSound();
    void movePlayhead();
    void play(qint64 from, qint64 to);
    void showTimes(std::optional<qint64> frame);
    void showName();
    void showLoudness();
    // The frame the band's file is heard at; none when another file or nothing sounds.
    std::optional<qint64> heardHere() const;

    FileFacts &m_facts;
    NowPlaying &m_now;
    PeakCache *m_peaks;
    WaveStrip *m_strip;
    QLabel *m_name;
    QLabel *m_times;
    QLabel *m_levelLabel;
    QSlider *m_level;
    QCheckBox *m_loop;
    QLabel *m_loudness;
    QCheckBox *m_match;
    QTimer m_playheadTimer;
    QString m_path;
    // The list's entry of m_path, when it is one; invalid once its model lost it.
    QPersistentModelIndex m_entry;
    int m_loudnessRole = -1;
    QPointer<const QAbstractItemModel> m_followed;
    QMetaObject::Connection m_entryChanges;
    // The file whose loudness the line shows.
    QString m_loudnessOf;
    WaveInfo m_info;
    qint64 m_regionFrom = 0;
    qint64 m_regionTo = 0;
    QList<int> m_solo;
    quint64 m_playheadMoves = 0;
};
