#pragma once

#include "ChainPlayer.h"
#include "ui/ModalWindow.h"

#include <QDialog>
#include <QTimer>
#include <QWidget>

class FileFacts;
class QLabel;
class QPushButton;

// Picture1: the chain's progress bar, filled in dark blue from the left.
class ProgressPicture final : public QWidget
{
    Q_OBJECT
public:
    explicit ProgressPicture(QWidget *parent);
    static const QColor darkBlue;
    void setFilled(double filledWidth);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    double m_filled = 0;
};

// The chain player window: the name of the playing file, the bar, and the three request
// buttons. It only shows the chain; ChainPlayer decides.
class Form2 final : public ModalWindow, public ChainView
{
    Q_OBJECT
public:
    // addEntry: the chain of the file list, which can add its files to the play list.
    Form2(ChainPlayer &player, ChainSource source, std::function<void(const ChainEntry &)> addEntry,
          QWidget *parent);

    QLabel *Label5 = nullptr;
    ProgressPicture *Picture1 = nullptr;
    QPushButton *Command8 = nullptr;
    QPushButton *Command10 = nullptr;
    QPushButton *Command11 = nullptr;

    // Gives the bar the tooltip of the playing file's details.
    void setFacts(FileFacts *facts);

    // Runs the chain once per showing, then closes the window.
    void Form_Activate();

    // The name as Label5 shows it: cut to (label width in twips) / 8 characters when wider
    // than the label; the label clips what is still too wide.
    static QString nameToShow(const QString &upperCasedName, const QFontMetrics &metrics,
                              int labelWidth);
    // How many characters a name too wide for the label is cut to.
    static int cutLength(int labelWidth);

    // ChainView
    void setAddEnabled(bool enabled) override;
    void showName(const QString &upperCasedName, const QString &path) override;
    double barWidth() const override;
    void clearBar() override;
    void fillBar(double width) override;
    void waitPass() override;
    void showFailure() override;

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    ChainPlayer &m_player;
    ChainSource m_source;
    std::function<void(const ChainEntry &)> m_addEntry;
    QTimer m_tick;
    bool m_started = false;
    bool m_running = false;
    QString m_playingPath;
};
