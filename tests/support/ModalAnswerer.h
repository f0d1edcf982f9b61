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
    // Popup menus that open (they are not modal windows); unset, they are closed.
    std::function<void(class QMenu *)> onMenu;
    int menusSeen = 0;

private:
    void poll();
    void forget();
    QTimer m_timer;
    QPointer<QWidget> m_handled;
};

// For onMenu: picks the item with this caption in the menu that opened.
std::function<void(class QMenu *)> choose(const QString &caption);
