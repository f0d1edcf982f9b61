#include "ModalWindow.h"

#include "DialogKeys.h"
#include "Twips.h"
#include "WindowPlacement.h"

#include <QEvent>

ModalWindow::ModalWindow(QWidget *parent, const char *name, const QString &title, int widthTwips,
                         int heightTwips)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint)
{
    setObjectName(QLatin1String(name));
    setWindowTitle(title);
    setFixedSize(twips::size(widthTwips, heightTwips));
}

void ModalWindow::finishControls(const QList<QWidget *> &tabOrder, QWidget *focusHome,
                                 Refocus refocus)
{
    m_refocus = refocus;
    enterPressesOnlyTheFocusedButton(this);
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    m_focusHome = focusHome;
    focusHome->setFocus();
    centreOnScreen(this);
}

bool ModalWindow::event(QEvent *event)
{
    const bool back =
        event->type() == QEvent::WindowActivate && m_refocus == Refocus::OnEveryActivation;
    if ((back || event->type() == QEvent::Show) && m_focusHome)
        m_focusHome->setFocus(Qt::ActiveWindowFocusReason);
    return QDialog::event(event);
}
