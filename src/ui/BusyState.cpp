#include "BusyState.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

BusyState::BusyState(QObject *parent) : QObject(parent)
{
    qApp->installEventFilter(this);
}

BusyState::~BusyState()
{
    qApp->removeEventFilter(this);
}

bool BusyState::busy() const
{
    return m_holds > 0 || QApplication::activeModalWidget() || QApplication::activePopupWidget();
}

void BusyState::leave()
{
    Q_ASSERT(m_holds > 0);
    if (--m_holds == 0)
        lookSoon();
}

bool BusyState::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Hide && watched->isWidgetType()) {
        const auto *widget = static_cast<QWidget *>(watched);
        if (widget->isWindow() && (widget->isModal() || widget->windowType() == Qt::Popup))
            lookSoon();
    }
    return false;
}

void BusyState::lookSoon()
{
    // After the event that ended it: a menu runs its command, a box's caller goes on, first.
    if (m_looking)
        return;
    m_looking = true;
    QTimer::singleShot(0, this, [this] {
        m_looking = false;
        if (!busy())
            emit idle();
    });
}
