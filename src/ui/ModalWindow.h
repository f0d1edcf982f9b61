#pragma once

#include <QDialog>
#include <QList>
#include <QPointer>

// The frame of the program's small modal windows (the chain player, the copy destination,
// the editor chooser): a fixed-size dialog with a title bar and a close box, centred on the
// screen, where Enter presses only the focused button, with its tab order and the control
// that takes the focus whenever the window shows or comes back to the front.
class ModalWindow : public QDialog
{
    Q_OBJECT
public:
    // The client size in twips, as designed.
    ModalWindow(QWidget *parent, const char *name, const QString &title, int widthTwips,
                int heightTwips);

protected:
    // Where the focus goes when the window shows; the dialogs send it there again each time
    // they come back to the front (after a message box, say), the chain window does not.
    enum class Refocus
    {
        OnEveryActivation,
        OnShowOnly
    };
    // Once the controls are made: the tab order, first to last, and the focus's home.
    void finishControls(const QList<QWidget *> &tabOrder, QWidget *focusHome,
                        Refocus refocus = Refocus::OnEveryActivation);
    bool event(QEvent *event) override;

private:
    QPointer<QWidget> m_focusHome;
    Refocus m_refocus = Refocus::OnEveryActivation;
};
