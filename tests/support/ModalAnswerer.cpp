#include "ModalAnswerer.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QMenu>
#include <QTest>

ModalAnswerer::ModalAnswerer(QMessageBox::StandardButton answer) : button(answer)
{
    m_timer.setInterval(20);
    connect(&m_timer, &QTimer::timeout, this, &ModalAnswerer::poll);
    m_timer.start();
}

void ModalAnswerer::poll()
{
    if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
        if (menu != m_handled) {
            m_handled = menu;
            // The same menu opens again later, maybe before this timer runs once more.
            connect(menu, &QMenu::aboutToHide, this, &ModalAnswerer::forget, Qt::UniqueConnection);
            ++menusSeen;
            if (onMenu)
                onMenu(menu);
            else
                menu->close();
        }
        return;
    }
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal) {
        // The same window or menu may open again later: answer it again then.
        m_handled = nullptr;
        return;
    }
    if (modal == m_handled || !modal->isVisible())
        return;
    m_handled = modal;
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        const Seen s{box->windowTitle(), box->text(), box->icon(), box->standardButtons()};
        seen.append(s);
        if (onBox)
            onBox(s);
        if (QAbstractButton *b = box->button(button))
            b->click();
        else
            box->done(button);
        return;
    }
    if (onOther) {
        onOther(modal);
        return;
    }
    if (auto *dialog = qobject_cast<QDialog *>(modal))
        dialog->reject();
    else
        modal->close();
}

void ModalAnswerer::forget()
{
    m_handled = nullptr;
}

std::function<void(QMenu *)> choose(const QString &caption)
{
    return [caption](QMenu *menu) {
        for (QAction *a : menu->actions()) {
            if (a->text() == caption) {
                menu->setActiveAction(a);
                QTest::keyClick(menu, Qt::Key_Return);
                return;
            }
        }
        QFAIL(qPrintable("no item " + caption));
    };
}
