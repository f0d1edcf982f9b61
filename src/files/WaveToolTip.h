#pragma once

#include <QColor>
#include <QImage>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <functional>

class FileFacts;
class QAbstractItemView;
class QWidget;
struct WavePeaks;

// The colour of each lane of a waveform, the same in the tooltip and the audition band.
QColor laneColour(int lane);

// The waveform picture: one lane per channel pair, each in its own colour, the peaks of each
// column drawn up and down from the lane's middle.
QImage waveformImage(const WavePeaks &peaks, int height);

// Shows the details of the file under the pointer as a tooltip over a widget, with its
// waveform as soon as a worker has made it.
class WaveToolTip final : public QObject
{
    Q_OBJECT
public:
    // pathAt gives the file under a point of target (empty for none) and the area over which
    // the tooltip stays.
    using PathAt = std::function<QString(const QPoint &, QRect &)>;
    // What a file that has gone is said to be: "Missing: <path>", as the play list says of
    // its entries, or the reason its header could not be read, as of any file.
    enum class GoneFile
    {
        Missing,
        Unreadable,
    };
    WaveToolTip(FileFacts &facts, QWidget *target, PathAt pathAt, GoneFile gone);
    // The tooltip of each entry of a list: the entry's pathRole gives its file, whatever
    // proxy the list shows its model through.
    static WaveToolTip *forList(FileFacts &facts, QAbstractItemView *list, int pathRole,
                                GoneFile gone);

    // The rich text the tooltip shows for path now, from what the workers have read.
    QString textFor(const QString &path);
    // Rows came or went: a tooltip shown describes what is under the pointer now, or goes.
    void listChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void show();
    QString factsText(const QString &path);
    FileFacts &m_facts;
    QWidget *m_target;
    PathAt m_pathAt;
    GoneFile m_gone;
    QString m_shown;
    QString m_text;
    QPoint m_globalPos;
    QRect m_area;
};
