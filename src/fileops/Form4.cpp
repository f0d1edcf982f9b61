#include "Form4.h"

#include "PublicDeclares.h"
#include "app/Settings.h"
#include "platform/Volumes.h"
#include "ui/Controls.h"
#include "ui/DialogKeys.h"
#include "ui/MessageBoxes.h"
#include "ui/Pictures.h"
#include "ui/Twips.h"
#include "ui/WindowPlacement.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {
const QString editorFilter = QStringLiteral("Exes (*.exe)|*.exe|Coms (*.com)|*.com");
const QString chooserTitle = QStringLiteral("Choose a new editor");
} // namespace

Form4::Form4(QString &soundEditor, Settings &settings, Volumes &volumes, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      m_soundEditor(soundEditor), m_settings(settings), m_volumes(volumes)
{
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("New editor"));
    setFixedSize(twips::size(4575, 1815));

    Image1 = placed<QLabel>(this, "Image1", twips::rect(240, 240, 480, 480));
    Image1->setPixmap(pictures::newEditor());

    Label1 = placed<QLabel>(this, "Label1", twips::rect(960, 120, 3495, 255),
                            QStringLiteral("Sound editor ..."));

    Text1 = placed<QLineEdit>(this, "Text1", twips::rect(960, 360, 3495, 270));
    Text1->setAccessibleName(QStringLiteral("Sound editor"));
    Label1->setBuddy(Text1);
#ifdef Q_OS_WIN
    Text1->setText(soundEditor.toUpper());
#else
    // Names of programs are case-sensitive here: upper-casing "audacity" would make
    // "&Accept" keep a command that does not exist.
    Text1->setText(soundEditor);
#endif
    Text1->installEventFilter(this);

    Check1 = placed<QCheckBox>(this, "Check1", twips::rect(960, 720, 3495, 255),
                               QStringLiteral("Save as default editor"));

    Command1 = placed<QPushButton>(this, "Command1", twips::rect(960, 1320, 1095, 375),
                                   QStringLiteral("&Accept"));
    Command4 = placed<QPushButton>(this, "Command4", twips::rect(2160, 1320, 1095, 375),
                                   QStringLiteral("&Cancel"));
    Command3 = placed<QPushButton>(this, "Command3", twips::rect(3360, 1320, 1095, 375),
                                   QStringLiteral("B&rowse"));
    connect(Command1, &QPushButton::clicked, this, &Form4::Command1_Click);
    connect(Command3, &QPushButton::clicked, this, &Form4::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form4::Command4_Click);

    enterPressesOnlyTheFocusedButton(this);
    setTabOrder(Command4, Command1);
    setTabOrder(Command1, Command3);
    setTabOrder(Command3, Text1);
    setTabOrder(Text1, Check1);
    centreOnScreen(this);
}

bool Form4::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate || event->type() == QEvent::Show)
        Form_Activate();
    return QDialog::event(event);
}

void Form4::Form_Activate()
{
    Command1->setFocus(Qt::ActiveWindowFocusReason);
}

bool Form4::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Text1 && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        // Enter does not close the dialog: it moves to "&Accept", and a second Enter presses it.
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            Command1->setFocus(Qt::TabFocusReason);
            return true;
        }
        if (key == Qt::Key_Escape)
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

void Form4::Command1_Click()
{
    const QString entry = Text1->text();
    const bool blank = entry.trimmed().isEmpty();
    if (Check1->isChecked() && !blank) {
        m_soundEditor = entry;
        if (!m_settings.writeSoundEditor(entry))
            messages::settingsNotSaved(this, m_settings.location());
    }
    if (!blank)
        m_soundEditor = entry;
    accept();
}

void Form4::Command3_Click()
{
    const QString chosen =
        ChooseFile(editorFilter, chooserTitle, this, m_volumes.currentDirectory());
    if (!chosen.isEmpty())
        Text1->setText(chosen);
}

void Form4::Command4_Click()
{
    reject();
}
