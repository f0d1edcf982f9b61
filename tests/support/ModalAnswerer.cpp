#include "ModalAnswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>

ModalAnswerer::ModalAnswerer(QMessageBox::StandardButton answer) : button(answer)
{
    m_timer.setInterval(20);
    connect(&m_timer, &QTimer::timeout, this, &ModalAnswerer::poll);
    m_timer.start();
}

void ModalAnswerer::poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || modal == m_handled || !modal->isVisible())
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
