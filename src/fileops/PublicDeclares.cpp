#include "PublicDeclares.h"

#include <QFileDialog>

QStringList nameFiltersOf(const QString &filter)
{
    QStringList result;
#ifndef Q_OS_WIN
    result.append(QStringLiteral("Programs (*)"));
#endif
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        // The description already names its pattern: "Exes (*.exe)".
        result.append(parts[i].contains(parts[i + 1])
                          ? parts[i]
                          : parts[i] + QStringLiteral(" (") + parts[i + 1] + QLatin1Char(')'));
    }
    return result;
}

QString ChooseFile(const QString &filter, const QString &title, QWidget *owner,
                   const QString &startDirectory)
{
    // A dialog with a parent opens centred on it.
    QFileDialog dialog(owner, title, startDirectory);
    dialog.setObjectName(QStringLiteral("ChooseFile"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setOption(QFileDialog::ReadOnly, true);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setNameFilters(nameFiltersOf(filter));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}
