#pragma once

#include <QDialog>

class QPushButton;
class QTimer;

// The picture window that is both the start-up splash (closes itself after 1.5 s) and the
// about box (stays until "&Ok").
class AboutForm final : public QDialog
{
    Q_OBJECT
public:
    explicit AboutForm(QWidget *parent);

    QPushButton *Command1 = nullptr;
    QTimer *Timer1 = nullptr;

    static constexpr int splashMilliseconds = 1500;

    // The about box: the timer off, "&Ok" shown, modal.
    void showAboutBox();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    QPixmap m_picture;
};
