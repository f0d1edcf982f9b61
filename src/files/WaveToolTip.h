#pragma once

#include <QColor>
#include <QImage>
#include <QObject>
#include <QPersistentModelIndex>
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
    // proxy the list shows its model through, and its Qt::ToolTipRole the text, which a
    // tooltip shown follows as the role changes. A model without that role (the library's
    // hits) gets the text made here from the facts of the path.
    static WaveToolTip *forList(FileFacts &facts, QAbstractItemView *list, int pathRole,
                                GoneFile gone);

    // Rows came or went: a tooltip shown describes what is under the pointer now, or goes.
    void listChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // What is under point of the target: its file, its area, and for a list its entry.
    void locate(const QPoint &point);
    void show();
    bool showing() const;
    FileFacts &m_facts;
    QWidget *m_target;
    PathAt m_pathAt;
    GoneFile m_gone;
    QAbstractItemView *m_list = nullptr;
    int m_pathRole = 0;
    QPersistentModelIndex m_entry;
    // The text shown came from the entry's role, which tells when it changes.
    bool m_fromRole = false;
    QString m_shown;
    QString m_text;
    QPoint m_globalPos;
    QRect m_area;
};

// The tooltip's rich text for path now, from what the workers have read of it.
QString toolTipHtml(const FileFacts &facts, const QString &path, WaveToolTip::GoneFile gone);
