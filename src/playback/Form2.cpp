#include "Form2.h"

#include "Playback.h"
#include "files/WaveToolTip.h"
#include "platform/NativeName.h"
#include "ui/Controls.h"
#include "ui/MessageBoxes.h"
#include "ui/Twips.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <cmath>

namespace {
// The wait sleeps at most this long between passes: the bar still moves every tenth of a
// second while the process stays near idle.
constexpr int passMilliseconds = 20;
} // namespace

const QColor ProgressPicture::darkBlue(0, 0, 128);

ProgressPicture::ProgressPicture(QWidget *parent) : QWidget(parent)
{
    setAccessibleName(QStringLiteral("Progress"));
    setAccessibleDescription(QStringLiteral("0 %"));
    setAutoFillBackground(true);
}

void ProgressPicture::setFilled(double filledWidth)
{
    if (filledWidth == m_filled)
        return;
    m_filled = filledWidth;
    const int percent =
        width() > 0 ? static_cast<int>(std::nearbyint(100.0 * filledWidth / width())) : 0;
    setAccessibleDescription(QStringLiteral("%1 %").arg(std::clamp(percent, 0, 100)));
    update();
}

void ProgressPicture::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    painter.fillRect(QRectF(0, 0, m_filled, height()), darkBlue);
    painter.setPen(palette().mid().color());
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

Form2::Form2(ChainPlayer &player, ChainSource source,
             std::function<void(const ChainEntry &)> addEntry, QWidget *parent)
    : ModalWindow(parent, "Form2", QString(), 3495, 2295), m_player(player),
      m_source(std::move(source)), m_addEntry(std::move(addEntry))
{
    Label5 =
        placed<QLabel>(this, "Label5", twips::rect(120, 120, 3255, 255), QStringLiteral("Label5"));
    Label5->setTextInteractionFlags(Qt::TextSelectableByMouse);

    Picture1 = placed<ProgressPicture>(this, "Picture1", twips::rect(120, 360, 3255, 375));

    Command8 = placed<QPushButton>(this, "Command8", twips::rect(120, 840, 3255, 375),
                                   QStringLiteral("A&bort chain playing"));
    Command10 = placed<QPushButton>(this, "Command10", twips::rect(120, 1320, 3255, 375),
                                    QStringLiteral("&Add to list"));
    Command11 = placed<QPushButton>(this, "Command11", twips::rect(120, 1800, 3255, 375),
                                    QStringLiteral("&Next wav"));
    connect(Command8, &QPushButton::clicked, this, [this] { m_player.AbortRequest = true; });
    connect(Command10, &QPushButton::clicked, this, [this] { m_player.AddRequest = true; });
    connect(Command11, &QPushButton::clicked, this, [this] { m_player.NextRequest = true; });
    finishControls({Command11, Command10, Command8}, Command11, Refocus::OnShowOnly);
    m_tick.setInterval(passMilliseconds);
}

void Form2::showEvent(QShowEvent *event)
{
    ModalWindow::showEvent(event);
    // Start after the window is up and its first events are handled, once per showing.
    if (!m_started) {
        m_started = true;
        QMetaObject::invokeMethod(this, &Form2::Form_Activate, Qt::QueuedConnection);
    }
}

void Form2::Form_Activate()
{
    if (m_running)
        return;
    m_running = true;
    m_tick.start();
    m_player.run(m_source, *this, m_addEntry);
    m_tick.stop();
    m_running = false;
    done(QDialog::Accepted);
}

void Form2::closeEvent(QCloseEvent *event)
{
    // Closing by the frame while the chain runs counts as "A&bort chain playing".
    if (m_running) {
        m_player.AbortRequest = true;
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void Form2::reject()
{
    if (m_running) {
        m_player.AbortRequest = true;
        return;
    }
    QDialog::reject();
}

QString Form2::nameToShow(const QString &upperCasedName, const QFontMetrics &metrics,
                          int labelWidth)
{
    if (metrics.horizontalAdvance(upperCasedName) <= labelWidth)
        return upperCasedName;
    // Cut, not elided: the label shows the first characters as far as they go.
    return upperCasedName.left(cutLength(labelWidth));
}

int Form2::cutLength(int labelWidth)
{
    return static_cast<int>(std::nearbyint(twips::fromPixels(labelWidth) / 8.0));
}

void Form2::setAddEnabled(bool enabled)
{
    Command10->setEnabled(enabled);
}

void Form2::setFacts(FileFacts *facts)
{
    new WaveToolTip(
        *facts, Picture1,
        [this](const QPoint &, QRect &area) {
            area = Picture1->rect();
            return m_playingPath;
        },
        WaveToolTip::GoneFile::Unreadable);
}

void Form2::showName(const QString &upperCasedName, const QString &path)
{
    m_playingPath = path;
    Label5->setText(nameToShow(shownName(upperCasedName), fontMetrics(), Label5->width()));
}

double Form2::barWidth() const
{
    return Picture1->width();
}

void Form2::clearBar()
{
    Picture1->setFilled(0);
    Picture1->repaint();
}

void Form2::fillBar(double width)
{
    Picture1->setFilled(width);
}

void Form2::waitPass()
{
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void Form2::showFailure()
{
    messages::stop(this, Playback::unplayableText());
}
