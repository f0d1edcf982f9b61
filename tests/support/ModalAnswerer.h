#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>

// Answers every modal window that opens while it lives, from a repeating timer, so a test
// that opens a box never hangs. Message boxes are recorded and answered with `button`;
// other modal windows go to `onOther` (or are rejected).
class ModalAnswerer final : public QObject
{
    Q_OBJECT
public:
    struct Seen
    {
        QString title;
        QString text;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
    };

    explicit ModalAnswerer(QMessageBox::StandardButton button = QMessageBox::Ok);

    QList<Seen> seen;
    QMessageBox::StandardButton button;
    std::function<void(QWidget *)> onOther;
    // Called just before a box is answered (the test can look at the state then).
    std::function<void(const Seen &)> onBox;

private:
    void poll();
    QTimer m_timer;
    QPointer<QWidget> m_handled;
};
