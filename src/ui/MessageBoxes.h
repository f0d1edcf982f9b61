#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

// The program's modal boxes: failures with the stop icon and OK, questions with OK and Cancel.
namespace messages {
void stop(QWidget *parent, const QString &text, const QString &title = QStringLiteral("Error"));
// The settings file could not be written: the choice would be lost at the next start.
void settingsNotSaved(QWidget *parent, const QString &location);
// The same at closing, when no window is left to show a box: one line on standard error.
void settingsNotSavedAtClosing(const QString &location);
// True when the user chose OK.
bool confirm(QWidget *parent, const QString &text, const QString &title);
} // namespace messages
