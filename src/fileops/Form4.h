#pragma once

#include "ui/ModalWindow.h"

#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class Volumes;

// What the editor chooser answers on "&Accept": the command as typed (blank changes
// nothing) and whether it is to be stored as the default for later runs.
struct EditorChoice
{
    QString command;
    bool storeAsDefault = false;
};

// "New editor": the sound editor command, typed or browsed, kept for this run or as the
// default for later runs.
class Form4 final : public ModalWindow
{
    Q_OBJECT
public:
    // Opens with soundEditor, the command in use, in its field.
    Form4(const QString &soundEditor, Volumes &volumes, QWidget *parent);

    // Shows the window modally; nothing when it was cancelled or closed.
    std::optional<EditorChoice> ask();
    // The answer so far ("&Accept" pressed).
    const std::optional<EditorChoice> &choice() const { return m_choice; }

    QLabel *Image1 = nullptr;
    QLabel *Label1 = nullptr;
    QLineEdit *Text1 = nullptr;
    QCheckBox *Check1 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command3 = nullptr;
    QPushButton *Command4 = nullptr;

    void Command1_Click();
    void Command3_Click();
    void Command4_Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    Volumes &m_volumes;
    std::optional<EditorChoice> m_choice;
};
