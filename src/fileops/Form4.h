#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class Settings;
class Volumes;

// "New editor": the sound editor command, typed or browsed, kept for this run or as the
// default for later runs.
class Form4 final : public QDialog
{
    Q_OBJECT
public:
    // soundEditor is the process-wide command: "&Accept" changes it.
    Form4(QString &soundEditor, Settings &settings, Volumes &volumes, QWidget *parent);

    QLabel *Image1 = nullptr;
    QLabel *Label1 = nullptr;
    QLineEdit *Text1 = nullptr;
    QCheckBox *Check1 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command3 = nullptr;
    QPushButton *Command4 = nullptr;

    void Form_Activate();
    void Command1_Click();
    void Command3_Click();
    void Command4_Click();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QString &m_soundEditor;
    Settings &m_settings;
    Volumes &m_volumes;
};
