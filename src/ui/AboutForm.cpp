#include "AboutForm.h"

#include "Controls.h"
#include "Pictures.h"
#include "Twips.h"
#include "WindowPlacement.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTimer>

AboutForm::AboutForm(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_picture(pictures::about())
{
    setObjectName(QStringLiteral("AboutForm"));
    setWindowTitle(QStringLiteral("About Quillon Sonoret 2.0"));
    setFixedSize(twips::size(6000, 4500));

    Command1 = placed<QPushButton>(this, "Command1", twips::rect(5160, 240, 615, 375),
                                   QStringLiteral("&Ok"));
    Command1->setVisible(false);
    connect(Command1, &QPushButton::clicked, this, &QDialog::accept);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(splashMilliseconds);
    Timer1->setSingleShot(true);
    Timer1->setTimerType(Qt::PreciseTimer);
    connect(Timer1, &QTimer::timeout, this, &QDialog::accept);
    centreOnScreen(this);
}

void AboutForm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // The timer counts from the moment the splash is up, as long as it is enabled.
    if (!Command1->isVisibleTo(this))
        Timer1->start();
}

void AboutForm::showAboutBox()
{
    Timer1->stop();
    Command1->setVisible(true);
    Command1->setDefault(true);
    exec();
}

void AboutForm::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_picture);
}

void AboutForm::mousePressEvent(QMouseEvent *event)
{
    // A click on the picture closes nothing, in either role.
    event->accept();
}

void AboutForm::keyPressEvent(QKeyEvent *event)
{
    // The splash closes by its timer and the about box by "&Ok"; Escape closes neither.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
