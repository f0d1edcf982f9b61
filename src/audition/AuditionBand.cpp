#include "AuditionBand.h"

#include "files/LoudnessFacts.h"
#include "files/PeakCache.h"
#include "files/WaveDetails.h"
#include "files/WaveToolTip.h"
#include "platform/NativeName.h"
#include "platform/PathRule.h"
#include "playback/NowPlaying.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QSlider>
#include <cmath>

namespace {
constexpr int maxLanes = 8;
constexpr int rowHeight = 22;
constexpr int rowGap = 4;
constexpr int timesWidth = 130;
constexpr int levelLabelWidth = 34;
constexpr int levelWidth = 90;
constexpr int loopWidth = 56;
constexpr int dragThreshold = 3;
const QColor regionColour(0, 90, 200, 60);
const QColor markerColour(170, 60, 0);
const QColor fileLoopColour(0, 130, 0);
} // namespace

QList<WaveLane> lanesFor(int channels)
{
    QList<WaveLane> lanes;
    if (channels <= maxLanes) {
        for (int c = 0; c < channels; ++c)
            lanes.append({{c}, QString::number(c + 1)});
        return lanes;
    }
    for (int c = 0; c < channels; c += 2) {
        if (c + 1 < channels)
            lanes.append({{c, c + 1}, QStringLiteral("%1-%2").arg(c + 1).arg(c + 2)});
        else
            lanes.append({{c}, QString::number(c + 1)});
    }
    return lanes;
}

// ---- The strip ------------------------------------------------------------------------

WaveStrip::WaveStrip(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Waveform"));
    setAccessibleName(QStringLiteral("Waveform"));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void WaveStrip::setFile(const WaveInfo &info)
{
    m_info = info;
    m_lanes = lanesFor(info.channels);
    m_regionFrom = m_regionTo = 0;
    m_playhead.reset();
    drawWave();
    update();
}

void WaveStrip::setPeaks(const std::optional<WavePeaks> &peaks)
{
    m_peaks = peaks;
    drawWave();
    update();
}

void WaveStrip::setPlayhead(std::optional<qint64> frame)
{
    if (frame == m_playhead)
        return;
    const QRect before = playheadRect(m_playhead);
    m_playhead = frame;
    // Only the few columns around it: a playhead costs next to nothing to move, so it moves
    // at every step, between pixels too, where a long take gains less than one a step.
    update(before.united(playheadRect(m_playhead)));
}

void WaveStrip::setRegion(qint64 from, qint64 to)
{
    m_regionFrom = from;
    m_regionTo = to;
    update();
}

void WaveStrip::setSolo(const QList<int> &channels)
{
    m_solo = channels;
    update();
}

QRect WaveStrip::waveArea() const
{
    return rect().adjusted(labelWidth, 0, 0, 0);
}

int WaveStrip::xOf(qint64 frame) const
{
    const QRect area = waveArea();
    if (m_info.frames <= 0)
        return area.left();
    return area.left() + int(double(frame) * area.width() / double(m_info.frames));
}

qint64 WaveStrip::frameAt(int x) const
{
    const QRect area = waveArea();
    if (m_info.frames <= 0 || area.width() <= 0)
        return 0;
    const double share = std::clamp(double(x - area.left()) / area.width(), 0.0, 1.0);
    return std::min<qint64>(m_info.frames - 1, qint64(share * double(m_info.frames)));
}

double WaveStrip::exactXOf(qint64 frame) const
{
    const QRect area = waveArea();
    if (m_info.frames <= 0)
        return area.left();
    return area.left() + double(frame) * area.width() / double(m_info.frames);
}

QRect WaveStrip::playheadRect(std::optional<qint64> frame) const
{
    if (!frame)
        return {};
    return QRect(int(std::floor(exactXOf(*frame))) - 1, 0, 4, height());
}

int WaveStrip::laneAt(int y) const
{
    if (m_lanes.isEmpty() || height() <= 0)
        return -1;
    return std::clamp(int(qint64(y) * m_lanes.size() / height()), 0, int(m_lanes.size()) - 1);
}

void WaveStrip::drawWave()
{
    const QRect area = waveArea();
    m_wave = QImage(std::max(1, area.width()), std::max(1, height()), QImage::Format_RGB32);
    m_wave.fill(Qt::white);
    if (!m_peaks || m_peaks->columns <= 0 || m_lanes.isEmpty())
        return;
    const WavePeaks peaks = narrowed(*m_peaks, m_wave.width());
    QPainter painter(&m_wave);
    const double laneHeight = double(m_wave.height()) / m_lanes.size();
    const double step = double(m_wave.width()) / peaks.columns;
    for (int lane = 0; lane < m_lanes.size(); ++lane) {
        const double middle = laneHeight * (lane + 0.5);
        painter.setPen(QColor(225, 225, 225));
        painter.drawLine(QPointF(0, middle), QPointF(m_wave.width(), middle));
        painter.setPen(laneColour(lane));
        for (int column = 0; column < peaks.columns; ++column) {
            float peak = 0;
            for (int channel : m_lanes[lane].channels)
                if (channel < peaks.channels)
                    peak = std::max(peak, peaks.at(column, channel));
            const double reach = std::max(0.5, peak * (laneHeight / 2 - 1));
            const double x = (column + 0.5) * step;
            painter.drawLine(QPointF(x, middle - reach), QPointF(x, middle + reach));
        }
    }
}

void WaveStrip::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect area = waveArea();
    painter.fillRect(QRect(0, 0, labelWidth, height()), palette().window());
    painter.drawImage(area.topLeft(), m_wave);
    // The lanes' labels: the one playing alone stands out.
    const double laneHeight = m_lanes.isEmpty() ? 0 : double(height()) / m_lanes.size();
    for (int lane = 0; lane < m_lanes.size(); ++lane) {
        const QRect label(0, int(lane * laneHeight), labelWidth - 2, int(laneHeight));
        const bool alone = !m_solo.isEmpty() && m_solo == m_lanes[lane].channels;
        if (alone)
            painter.fillRect(label, palette().highlight());
        painter.setPen(alone ? palette().highlightedText().color() : laneColour(lane));
        painter.drawText(label, Qt::AlignCenter, m_lanes[lane].label);
    }
    if (m_info.frames > 0) {
        for (const WaveInfo::Loop &loop : m_info.loops) {
            const int from = xOf(loop.start);
            painter.fillRect(QRect(from, height() - 3, std::max(1, xOf(loop.end) - from), 3),
                             fileLoopColour);
        }
        if (m_regionTo > m_regionFrom) {
            const int from = xOf(m_regionFrom);
            painter.fillRect(QRect(from, 0, std::max(1, xOf(m_regionTo) - from), height()),
                             regionColour);
        }
        QFont small = font();
        small.setPointSizeF(small.pointSizeF() * 0.8);
        painter.setFont(small);
        for (int i = 0; i < m_info.cueFrames.size(); ++i) {
            const int x = xOf(m_info.cueFrames[i]);
            painter.setPen(markerColour);
            painter.drawLine(x, 0, x, height());
            painter.drawLine(x, 0, x + 4, 0);
            const QString label = m_info.cueLabels.value(i);
            if (label.isEmpty())
                continue;
            // On a light ground of its own, so that it reads over a loud lane.
            const QRect text = painter.fontMetrics()
                                   .boundingRect(label)
                                   .translated(x + 3, painter.fontMetrics().ascent() + 1)
                                   .adjusted(-1, 0, 1, 0);
            painter.fillRect(text, QColor(255, 255, 255, 200));
            painter.drawText(text, Qt::AlignCenter, label);
        }
    }
    if (m_playhead) {
        // A pixel wide, at its exact place: shared by two columns while it is between them.
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillRect(QRectF(exactXOf(*m_playhead), 0, 1, height()), Qt::black);
    }
}

void WaveStrip::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    drawWave();
    emit widthChanged(waveArea().width());
}

void WaveStrip::mousePressEvent(QMouseEvent *event)
{
    m_dragging = false;
    m_pressX.reset();
    if (event->button() != Qt::LeftButton || m_info.frames <= 0)
        return;
    const QPoint at = event->position().toPoint();
    if (at.x() < labelWidth) {
        if (const int lane = laneAt(at.y()); lane >= 0)
            emit laneClicked(lane);
        return;
    }
    m_pressX = at.x();
}

void WaveStrip::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_pressX)
        return;
    const int x = event->position().toPoint().x();
    if (!m_dragging && std::abs(x - *m_pressX) < dragThreshold)
        return;
    m_dragging = true;
    setRegion(frameAt(std::min(x, *m_pressX)), frameAt(std::max(x, *m_pressX)));
}

void WaveStrip::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton) {
        emit menuWanted(event->globalPosition().toPoint());
        return;
    }
    if (event->button() != Qt::LeftButton || !m_pressX)
        return;
    const int pressX = *std::exchange(m_pressX, std::nullopt);
    if (std::exchange(m_dragging, false)) {
        const int x = event->position().toPoint().x();
        const qint64 from = frameAt(std::min(x, pressX));
        const qint64 to = frameAt(std::max(x, pressX));
        if (to > from) {
            emit regionChosen(from, to);
            return;
        }
    }
    // A marker near the click wins: it is what a click that close means.
    for (qint64 cue : m_info.cueFrames) {
        if (cue < m_info.frames && std::abs(xOf(cue) - pressX) <= markerReach) {
            emit clicked(cue);
            return;
        }
    }
    emit clicked(frameAt(pressX));
}

// ---- The band -------------------------------------------------------------------------

AuditionBand::AuditionBand(FileFacts &facts, NowPlaying &now, QWidget *parent)
    : QWidget(parent), m_facts(facts), m_now(now), m_peaks(new PeakCache(this)),
      m_strip(new WaveStrip(this)), m_name(new QLabel(this)), m_times(new QLabel(this)),
      m_levelLabel(new QLabel(QStringLiteral("Level"), this)),
      m_level(new QSlider(Qt::Horizontal, this)),
      m_loop(new QCheckBox(QStringLiteral("Loop"), this)), m_loudness(new QLabel(this)),
      m_match(new QCheckBox(QStringLiteral("Match loudness"), this))
{
    setObjectName(QStringLiteral("AuditionBand"));
    m_name->setObjectName(QStringLiteral("BandName"));
    m_times->setObjectName(QStringLiteral("BandTimes"));
    m_times->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_levelLabel->setBuddy(m_level);
    m_levelLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_level->setObjectName(QStringLiteral("Level"));
    m_level->setAccessibleName(QStringLiteral("Level"));
    m_level->setRange(-40, 6);
    m_level->setValue(0);
    m_level->setPageStep(6);
    m_level->setToolTip(QStringLiteral("0 dB"));
    m_loudness->setObjectName(QStringLiteral("BandLoudness"));
    m_match->setObjectName(QStringLiteral("MatchLoudness"));
    m_match->setAccessibleName(QStringLiteral("Match loudness"));
    connect(m_match, &QCheckBox::toggled, this, &AuditionBand::matchToggled);
    // A file of a list is followed through its entry's loudness role (entryChanged); only a
    // file that is no list's entry at hand (handed over on the command line, a chain's next
    // one) has nothing but its path to know its measurement by.
    connect(&m_facts.loudness(), &LoudnessFacts::measured, this, [this](const QString &path) {
        if (!m_entry.isValid() && path == m_path)
            showLoudness();
    });
    m_loop->setObjectName(QStringLiteral("Loop"));
    m_loop->setAccessibleName(QStringLiteral("Loop"));
    // Tab reaches them; a click leaves the focus in the list, whose keys go on stepping.
    for (QWidget *control : std::initializer_list<QWidget *>{m_level, m_loop, m_match})
        control->setFocusPolicy(Qt::TabFocus);

    connect(m_level, &QSlider::valueChanged, this, [this](int value) {
        m_level->setToolTip(QStringLiteral("%1 dB").arg(value));
        if (!m_level->isSliderDown())
            emit levelChanged(value);
    });
    connect(m_level, &QSlider::sliderReleased, this,
            [this] { emit levelChanged(m_level->value()); });
    connect(m_loop, &QCheckBox::toggled, this, &AuditionBand::loopToggled);

    connect(m_strip, &WaveStrip::clicked, this, [this](qint64 frame) {
        m_regionFrom = m_regionTo = 0;
        m_strip->setRegion(0, 0);
        play(frame, -1);
    });
    connect(m_strip, &WaveStrip::regionChosen, this, [this](qint64 from, qint64 to) {
        m_regionFrom = from;
        m_regionTo = to;
        play(from, to);
    });
    connect(m_strip, &WaveStrip::laneClicked, this, [this](int lane) {
        const QList<int> channels = m_strip->lanes().value(lane).channels;
        // Again on the lane playing alone: all of them.
        m_solo = m_solo == channels ? QList<int>() : channels;
        m_strip->setSolo(m_solo);
        const std::optional<qint64> at = heardHere();
        if (m_regionTo > m_regionFrom)
            play(at.value_or(m_regionFrom), m_regionTo);
        else
            play(at.value_or(0), -1);
    });
    connect(m_strip, &WaveStrip::menuWanted, this, &AuditionBand::menuWanted);
    connect(m_strip, &WaveStrip::widthChanged, this,
            [this](int width) { m_peaks->request(m_path, width); });
    connect(m_peaks, &PeakCache::ready, this, [this](const QString &path) {
        if (path == m_path)
            m_strip->setPeaks(m_peaks->peaks(path));
    });
    connect(&m_facts, &FileFacts::infoReady, this, [this](const QString &path) {
        if (path == m_path)
            refresh();
    });

    m_playheadTimer.setInterval(playheadIntervalMs);
    m_playheadTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_playheadTimer, &QTimer::timeout, this, &AuditionBand::movePlayhead);
    connect(&m_now, &NowPlaying::started, this, &AuditionBand::followSound);
    connect(&m_now, &NowPlaying::stopped, this, &AuditionBand::followSound);
    connect(&m_now, &NowPlaying::pausedChanged, this, &AuditionBand::followSound);
    connect(&m_now, &NowPlaying::moved, this, &AuditionBand::movePlayhead);

    new WaveToolTip(
        m_facts, this,
        [this](const QPoint &, QRect &area) {
            area = rect();
            return m_path;
        },
        WaveToolTip::GoneFile::Unreadable);
}

void AuditionBand::placeControls()
{
    const int right = width();
    m_loop->setGeometry(right - loopWidth, 0, loopWidth, rowHeight);
    m_level->setGeometry(right - loopWidth - levelWidth - 6, 0, levelWidth, rowHeight);
    m_levelLabel->setGeometry(m_level->x() - levelLabelWidth - 4, 0, levelLabelWidth, rowHeight);
    m_times->setGeometry(m_levelLabel->x() - timesWidth - 8, 0, timesWidth, rowHeight);
    m_name->setGeometry(0, 0, std::max(0, m_times->x() - 8), rowHeight);
    const int matchWidth = m_match->sizeHint().width();
    m_match->setGeometry(right - matchWidth, rowHeight, matchWidth, rowHeight);
    m_loudness->setGeometry(0, rowHeight, std::max(0, m_match->x() - 8), rowHeight);
    const int stripTop = 2 * rowHeight + rowGap;
    m_strip->setGeometry(0, stripTop, width(), std::max(0, height() - stripTop));
}

void AuditionBand::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeControls();
    showName();
}

void AuditionBand::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton)
        emit menuWanted(event->globalPosition().toPoint());
    QWidget::mouseReleaseEvent(event);
}

double AuditionBand::levelDb() const
{
    return m_level->value();
}

bool AuditionBand::matchOn() const
{
    return m_match->isChecked();
}

bool AuditionBand::loopOn() const
{
    return m_loop->isChecked();
}

void AuditionBand::showLoop(bool on)
{
    const QSignalBlocker quiet(m_loop);
    m_loop->setChecked(on);
}

void AuditionBand::showEntry(const QModelIndex &entry, EntryRoles roles)
{
    const QModelIndex name = entry.siblingAtColumn(0);
    if (!name.isValid()) {
        follow({}, -1);
        setPath({});
        return;
    }
    follow(name, roles.loudness);
    setPath(name.data(roles.path).toString());
}

void AuditionBand::showFile(const QString &path)
{
    if (!m_entry.isValid() || path != m_path)
        follow({}, -1);
    setPath(path);
}

void AuditionBand::follow(const QModelIndex &entry, int loudnessRole)
{
    const QAbstractItemModel *model = entry.model();
    if (model != m_followed) {
        disconnect(m_entryChanges);
        m_entryChanges = model ? connect(model, &QAbstractItemModel::dataChanged, this,
                                         &AuditionBand::entryChanged)
                               : QMetaObject::Connection();
        m_followed = model;
    }
    m_entry = entry;
    m_loudnessRole = loudnessRole;
}

void AuditionBand::entryChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                                const QList<int> &roles)
{
    if (!m_entry.isValid() || m_entry.parent() != topLeft.parent() ||
        m_entry.row() < topLeft.row() || m_entry.row() > bottomRight.row())
        return;
    if (roles.isEmpty() || roles.contains(m_loudnessRole))
        showLoudness();
}

void AuditionBand::setPath(const QString &path)
{
    if (path == m_path)
        return;
    m_path = path;
    m_regionFrom = m_regionTo = 0;
    m_solo.clear();
    m_strip->setSolo({});
    m_facts.requestDetails(path);
    m_facts.loudness().requestFor(this, path);
    m_peaks->request(path, m_strip->waveArea().width());
    refresh();
}

void AuditionBand::refresh()
{
    const std::optional<FileFacts::Facts> facts = m_facts.known(m_path);
    m_info = facts && facts->info.playable() ? facts->info : WaveInfo();
    m_strip->setFile(m_info);
    m_strip->setPeaks(m_peaks->peaks(m_path));
    showName();
    showLoudness();
    followSound();
}

void AuditionBand::showName()
{
    // As the lists show it: a byte that is not UTF-8 as the replacement character, never as a
    // lone half of a character, which a font draws as anything or nothing.
    m_name->setText(m_name->fontMetrics().elidedText(shownName(fileNameOf(m_path)), Qt::ElideMiddle,
                                                     m_name->width()));
}

void AuditionBand::showLoudness()
{
    const QString line = m_path.isEmpty() ? QString() : m_facts.loudness().line(m_path);
    // Another line for the same file is a measurement of it; a change of every role of its
    // entry (its page read again) or of its facts, with the same line, is none.
    const bool sameFile = m_loudnessOf == m_path;
    if (sameFile && line == m_loudness->text())
        return;
    m_loudness->setText(line);
    m_loudnessOf = m_path;
    if (sameFile)
        emit loudnessChanged();
}

std::optional<qint64> AuditionBand::heardHere() const
{
    if (m_path.isEmpty() || m_now.path() != m_path)
        return std::nullopt;
    if (const std::optional<HeardPosition> at = m_now.heard())
        return at->frame;
    return std::nullopt;
}

void AuditionBand::followSound()
{
    const bool sounding = !m_path.isEmpty() && m_now.path() == m_path && !m_now.paused();
    // The timer runs only while the band's file sounds: an idle band costs nothing.
    if (sounding && !m_playheadTimer.isActive())
        m_playheadTimer.start();
    else if (!sounding)
        m_playheadTimer.stop();
    movePlayhead();
}

void AuditionBand::movePlayhead()
{
    const std::optional<qint64> at = heardHere();
    m_strip->setPlayhead(at);
    showTimes(at);
    ++m_playheadMoves;
}

void AuditionBand::showTimes(std::optional<qint64> frame)
{
    QString text;
    if (m_info.sampleRate > 0)
        text = QStringLiteral("%1 / %2").arg(lengthText(frame.value_or(0), m_info.sampleRate),
                                             lengthText(m_info.frames, m_info.sampleRate));
    // Set only when it changes: a label's new text lays the band out again.
    if (text != m_times->text())
        m_times->setText(text);
}

void AuditionBand::play(qint64 from, qint64 to)
{
    if (m_path.isEmpty())
        return;
    PlayRequest request = PlayRequest::whole(m_path);
    request.startFrame = from;
    request.endFrame = to;
    request.loop = m_loop->isChecked();
    // A region repeats itself; a sound started from a point repeats the whole file.
    request.loopFrom = to > from ? from : 0;
    request.channels = m_solo;
    emit playRequested(request);
}
