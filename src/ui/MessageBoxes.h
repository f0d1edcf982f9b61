#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

// The program's modal boxes: failures with the stop icon and OK, questions with OK and Cancel.
namespace messages {
void stop(QWidget *parent, const QString &text, const QString &title = QStringLiteral("Error"));
// True when the user chose OK.
bool confirm(QWidget *parent, const QString &text, const QString &title);
} // namespace messages
