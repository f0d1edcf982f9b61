#include "Form4.h"

#include "PublicDeclares.h"
#include "platform/Volumes.h"
#include "ui/Controls.h"
#include "ui/Pictures.h"
#include "ui/Twips.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {
const QString editorFilter = QStringLiteral("Exes (*.exe)|*.exe|Coms (*.com)|*.com");
const QString chooserTitle = QStringLiteral("Choose a new editor");
} // namespace

Form4::Form4(const QString &soundEditor, Volumes &volumes, QWidget *parent)
    : ModalWindow(parent, "Form4", QStringLiteral("New editor"), 4575, 1815), m_volumes(volumes)
{
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

    finishControls({Command4, Command1, Command3, Text1, Check1}, Command1);
}

std::optional<EditorChoice> Form4::ask()
{
    m_choice.reset();
    exec();
    return m_choice;
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
    m_choice = EditorChoice{Text1->text(), Check1->isChecked()};
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
