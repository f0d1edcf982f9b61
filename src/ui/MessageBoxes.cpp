#include "MessageBoxes.h"

#include "platform/NativeName.h"

#include <cstdio>

namespace messages {

namespace {
QString settingsNotSavedText(const QString &location)
{
    return QStringLiteral("The settings could not be saved in %1").arg(location);
}
} // namespace

void settingsNotSaved(QWidget *parent, const QString &location)
{
    stop(parent, settingsNotSavedText(location));
}

void settingsNotSavedAtClosing(const QString &location)
{
    std::fprintf(stderr, "quillon-sonoret: %s\n", qPrintable(settingsNotSavedText(location)));
}

void stop(QWidget *parent, const QString &text, const QString &title)
{
    // A name in the text may hold bytes that are not UTF-8; they show as replacement characters.
    QMessageBox box(QMessageBox::Critical, title, shownName(text), QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("messageBox"));
    box.exec();
}

bool confirm(QWidget *parent, const QString &text, const QString &title)
{
    QMessageBox box(QMessageBox::Question, title, shownName(text),
                    QMessageBox::Ok | QMessageBox::Cancel, parent);
    box.setObjectName(QStringLiteral("messageBox"));
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok;
}

} // namespace messages
