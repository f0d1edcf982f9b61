#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// The open-file dialog: one existing file under the given filter ("Name (*.x)|*.x|..."),
// titled, centred on the active window, starting in the process's current directory.
// Returns the chosen full path, or an empty string when nothing was chosen.
QString ChooseFile(const QString &filter, const QString &title, QWidget *owner,
                   const QString &startDirectory);

// "Exes (*.exe)|*.exe|Coms (*.com)|*.com" as name filters for the dialog; where programs
// carry no extension a "Programs (*)" filter comes first.
QStringList nameFiltersOf(const QString &filter);
