#include "WaveToolTip.h"

#include "FileFacts.h"
#include "LoudnessFacts.h"
#include "WaveDetails.h"
#include "platform/NativeName.h"

#include <QAbstractItemView>
#include <QBuffer>
#include <QFileInfo>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>
#include <QWidget>

namespace {
constexpr int pictureHeight = 48;
const QColor laneColours[] = {QColor(0, 0, 128), QColor(0, 110, 0), QColor(150, 0, 0),
                              QColor(120, 0, 120)};

QString pngDataUrl(const QImage &image)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return QStringLiteral("data:image/png;base64,") + QString::fromLatin1(png.toBase64());
}
} // namespace

QColor laneColour(int lane)
{
    return laneColours[std::size_t(lane) % std::size(laneColours)];
}

QImage waveformImage(const WavePeaks &peaks, int height)
{
    QImage image(std::max(1, peaks.columns), height, QImage::Format_RGB32);
    image.fill(Qt::white);
    if (peaks.columns <= 0 || peaks.channels <= 0)
        return image;
    const int lanes = (peaks.channels + 1) / 2;
    const double laneHeight = double(height) / lanes;
    QPainter painter(&image);
    for (int lane = 0; lane < lanes; ++lane) {
        painter.setPen(laneColour(lane));
        const double middle = laneHeight * (lane + 0.5);
        for (int column = 0; column < peaks.columns; ++column) {
            float peak = peaks.at(column, lane * 2);
            if (lane * 2 + 1 < peaks.channels)
                peak = std::max(peak, peaks.at(column, lane * 2 + 1));
            const double reach = std::max(0.5, peak * (laneHeight / 2 - 1));
            painter.drawLine(QPointF(column + 0.5, middle - reach),
                             QPointF(column + 0.5, middle + reach));
        }
    }
    return image;
}

WaveToolTip::WaveToolTip(FileFacts &facts, QWidget *target, PathAt pathAt, GoneFile gone)
    : QObject(target), m_facts(facts), m_target(target), m_pathAt(std::move(pathAt)), m_gone(gone)
{
    target->installEventFilter(this);
    const auto arrived = [this](const QString &path) {
        if (path == m_shown && QToolTip::isVisible() && QToolTip::text() == m_text)
            show();
    };
    connect(&m_facts, &FileFacts::infoReady, this, arrived);
    connect(&m_facts, &FileFacts::peaksReady, this, arrived);
    connect(&m_facts.loudness(), &LoudnessFacts::measured, this, arrived);
}

WaveToolTip *WaveToolTip::forList(FileFacts &facts, QAbstractItemView *list, int pathRole,
                                  GoneFile gone)
{
    auto *tip = new WaveToolTip(
        facts, list->viewport(),
        [list, pathRole](const QPoint &at, QRect &area) {
            const QModelIndex index = list->indexAt(at);
            if (!index.isValid())
                return QString();
            area = list->visualRect(index);
            return index.data(pathRole).toString();
        },
        gone);
    // Another program deletes the file under the pointer: the next one moves up under it, and
    // a tooltip describing the one that went would stay for as long as the pointer rests.
    QAbstractItemModel *model = list->model();
    connect(model, &QAbstractItemModel::rowsRemoved, tip, &WaveToolTip::listChanged);
    connect(model, &QAbstractItemModel::rowsInserted, tip, &WaveToolTip::listChanged);
    connect(model, &QAbstractItemModel::rowsMoved, tip, &WaveToolTip::listChanged);
    connect(model, &QAbstractItemModel::modelReset, tip, &WaveToolTip::listChanged);
    connect(model, &QAbstractItemModel::layoutChanged, tip, &WaveToolTip::listChanged);
    return tip;
}

void WaveToolTip::listChanged()
{
    if (!QToolTip::isVisible() || QToolTip::text() != m_text)
        return; // not ours, or none
    m_area = {};
    m_shown = m_pathAt(m_target->mapFromGlobal(m_globalPos), m_area);
    if (m_shown.isEmpty()) {
        QToolTip::hideText();
        return;
    }
    m_facts.requestDetails(m_shown);
    m_facts.loudness().requestFor(this, m_shown);
    show();
}

QString WaveToolTip::textFor(const QString &path)
{
    QString text = factsText(path);
    // Says why the name shows a replacement character: the file is reached all the same.
    if (hasForeignBytes(path))
        text += QStringLiteral("<br>The name is not UTF-8: \uFFFD stands for each byte that "
                               "is not.");
    return text;
}

QString WaveToolTip::factsText(const QString &path)
{
    const std::optional<FileFacts::Facts> facts = m_facts.known(path);
    // Until a worker has looked at the file, its name: the window never waits for a disk.
    if (!facts)
        return shownName(QFileInfo(path).fileName()).toHtmlEscaped();
    if (m_gone == GoneFile::Missing && facts->missing())
        return missingHtml(shownName(path));
    QString picture;
    if (facts->info.playable())
        if (const std::optional<WavePeaks> peaks = m_facts.peaks(path); peaks && peaks->columns > 0)
            picture = pngDataUrl(waveformImage(*peaks, pictureHeight));
    return detailsHtml(facts->info, QLocale(), picture, m_facts.loudness().line(path));
}

bool WaveToolTip::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_target || event->type() != QEvent::ToolTip)
        return false;
    const auto *help = static_cast<QHelpEvent *>(event);
    m_area = {};
    m_shown = m_pathAt(help->pos(), m_area);
    m_globalPos = help->globalPos();
    if (m_shown.isEmpty()) {
        QToolTip::hideText();
        return true;
    }
    m_facts.requestDetails(m_shown);
    m_facts.loudness().requestFor(this, m_shown);
    show();
    return true;
}

void WaveToolTip::show()
{
    // <qt> makes it rich text whatever the first line holds, so names are never taken as tags;
    // "pre" keeps each line whole, as a reason like "Format not recognised." reads best.
    m_text = QStringLiteral("<qt><p style=\"white-space:pre\">%1</p></qt>").arg(textFor(m_shown));
    QToolTip::showText(m_globalPos, m_text, m_target, m_area);
}
