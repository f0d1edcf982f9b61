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

namespace {
QString factsText(const FileFacts &facts, const QString &path, WaveToolTip::GoneFile gone)
{
    const std::optional<FileFacts::Facts> known = facts.known(path);
    // Until a worker has looked at the file, its name: the window never waits for a disk.
    if (!known)
        return shownName(QFileInfo(path).fileName()).toHtmlEscaped();
    if (gone == WaveToolTip::GoneFile::Missing && known->missing())
        return missingHtml(shownName(path));
    QString picture;
    if (known->info.playable())
        if (const std::optional<WavePeaks> peaks = facts.peaks(path); peaks && peaks->columns > 0)
            picture = pngDataUrl(waveformImage(*peaks, pictureHeight));
    return detailsHtml(known->info, QLocale(), picture, facts.loudness().line(path));
}
} // namespace

QString toolTipHtml(const FileFacts &facts, const QString &path, WaveToolTip::GoneFile gone)
{
    QString text = factsText(facts, path, gone);
    // Says why the name shows a replacement character: the file is reached all the same.
    if (hasForeignBytes(path))
        text += QStringLiteral("<br>The name is not UTF-8: \uFFFD stands for each byte that "
                               "is not.");
    // <qt> makes it rich text whatever the first line holds, so names are never taken as tags;
    // "pre" keeps each line whole, as a reason like "Format not recognised." reads best.
    return QStringLiteral("<qt><p style=\"white-space:pre\">%1</p></qt>").arg(text);
}

WaveToolTip::WaveToolTip(FileFacts &facts, QWidget *target, PathAt pathAt, GoneFile gone)
    : QObject(target), m_facts(facts), m_target(target), m_pathAt(std::move(pathAt)), m_gone(gone)
{
    target->installEventFilter(this);
    const auto arrived = [this](const QString &path) {
        if (!m_fromRole && path == m_shown && showing())
            show();
    };
    connect(&m_facts, &FileFacts::infoReady, this, arrived);
    connect(&m_facts, &FileFacts::peaksReady, this, arrived);
    connect(&m_facts.loudness(), &LoudnessFacts::measured, this, arrived);
}

WaveToolTip *WaveToolTip::forList(FileFacts &facts, QAbstractItemView *list, int pathRole,
                                  GoneFile gone)
{
    auto *tip = new WaveToolTip(facts, list->viewport(), {}, gone);
    tip->m_list = list;
    tip->m_pathRole = pathRole;
    // Another program deletes the file under the pointer: the next one moves up under it, and
    // a tooltip describing the one that went would stay for as long as the pointer rests.
    QAbstractItemModel *model = list->model();
    connect(model, &QAbstractItemModel::rowsRemoved, tip, &WaveToolTip::listChanged);
    connect(model, &QAbstractItemModel::rowsInserted, tip, &WaveToolTip::listChanged);
    connect(model, &QAbstractItemModel::rowsMoved, tip, &WaveToolTip::listChanged);
    connect(model, &QAbstractItemModel::modelReset, tip, &WaveToolTip::listChanged);
    connect(model, &QAbstractItemModel::layoutChanged, tip, &WaveToolTip::listChanged);
    connect(
        model, &QAbstractItemModel::dataChanged, tip,
        [tip](const QModelIndex &topLeft, const QModelIndex &bottomRight, const QList<int> &roles) {
            const QModelIndex &entry = tip->m_entry;
            if (!tip->m_fromRole || !entry.isValid() || entry.row() < topLeft.row() ||
                entry.row() > bottomRight.row() || entry.parent() != topLeft.parent())
                return;
            if ((roles.isEmpty() || roles.contains(Qt::ToolTipRole)) && tip->showing())
                tip->show();
        });
    return tip;
}

bool WaveToolTip::showing() const
{
    return QToolTip::isVisible() && QToolTip::text() == m_text;
}

void WaveToolTip::listChanged()
{
    if (!showing())
        return; // not ours, or none
    locate(m_target->mapFromGlobal(m_globalPos));
    if (m_shown.isEmpty()) {
        QToolTip::hideText();
        return;
    }
    m_facts.requestDetails(m_shown);
    m_facts.loudness().requestFor(this, m_shown);
    show();
}

void WaveToolTip::locate(const QPoint &point)
{
    m_area = {};
    if (!m_list) {
        m_shown = m_pathAt(point, m_area);
        return;
    }
    m_entry = m_list->indexAt(point);
    m_shown.clear();
    if (!m_entry.isValid())
        return;
    m_area = m_list->visualRect(m_entry);
    m_shown = m_entry.data(m_pathRole).toString();
}

bool WaveToolTip::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_target || event->type() != QEvent::ToolTip)
        return false;
    const auto *help = static_cast<QHelpEvent *>(event);
    locate(help->pos());
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
    const QString byRole =
        m_list && m_entry.isValid() ? m_entry.data(Qt::ToolTipRole).toString() : QString();
    m_fromRole = !byRole.isEmpty();
    m_text = m_fromRole ? byRole : toolTipHtml(m_facts, m_shown, m_gone);
    QToolTip::showText(m_globalPos, m_text, m_target, m_area);
}
