#include "DialogKeys.h"

#include <QDialog>
#include <QKeyEvent>
#include <QPushButton>

namespace {

bool isEnter(const QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const int key = static_cast<const QKeyEvent *>(event)->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

// Sits on the dialog and on each of its buttons.
class EnterKeys final : public QObject
{
public:
    explicit EnterKeys(QDialog *dialog) : QObject(dialog), m_dialog(dialog) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!isEnter(event))
            return false;
        if (auto *button = qobject_cast<QPushButton *>(watched)) {
            if (button->isEnabled())
                button->click();
            return true;
        }
        // An Enter that reached the dialog itself was not taken by the control that had the
        // focus; QDialog would press a default button with it.
        return watched == m_dialog;
    }

private:
    QDialog *m_dialog;
};

} // namespace

void enterPressesOnlyTheFocusedButton(QDialog *dialog)
{
    auto *keys = new EnterKeys(dialog);
    dialog->installEventFilter(keys);
    for (QPushButton *button : dialog->findChildren<QPushButton *>()) {
        button->setAutoDefault(false);
        button->setDefault(false);
        button->installEventFilter(keys);
    }
}
