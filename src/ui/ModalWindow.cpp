#include "ModalWindow.h"

#include "DialogKeys.h"
#include "Twips.h"
#include "WindowPlacement.h"

#include <QEvent>
#include <QFontMetrics>
#include <algorithm>

namespace {
// What a title bar spends beside its text (the window's icon, its buttons, the margins between
// them), in lines of the title's font: openbox's, at its default theme, with the icon and three
// buttons it draws even for a dialog of fixed size, takes about six; one more leaves the text
// whole under the usual window managers.
constexpr int titleBarLines = 7;

// The client width at which a title bar shows title whole, its text measured in the program's
// font made bold, as window managers draw a title (their own font is not known here; the
// usual ones are no larger).
int widthForTitle(const QWidget &window, const QString &title)
{
    if (title.isEmpty())
        return 0;
    QFont bold = window.font();
    bold.setBold(true);
    const QFontMetrics metrics(bold);
    return metrics.horizontalAdvance(title) + titleBarLines * metrics.lineSpacing();
}
} // namespace

ModalWindow::ModalWindow(QWidget *parent, const char *name, const QString &title, int widthTwips,
                         int heightTwips)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      m_designedWidth(twips::size(widthTwips, heightTwips).width())
{
    setObjectName(QLatin1String(name));
    setWindowTitle(title);
    // A title longer than the designed width is cut by the window manager ("Copy selected
    // file(s) to where ?" in its 249 pixels): the window is widened for it, its controls kept
    // as designed in its middle (finishControls).
    setFixedSize(std::max(m_designedWidth, widthForTitle(*this, title)),
                 twips::size(widthTwips, heightTwips).height());
}

void ModalWindow::finishControls(const QList<QWidget *> &tabOrder, QWidget *focusHome,
                                 Refocus refocus)
{
    m_refocus = refocus;
    if (const int extra = width() - m_designedWidth; extra > 0)
        for (QWidget *control : findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            if (!control->isWindow())
                control->move(control->x() + extra / 2, control->y());
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
