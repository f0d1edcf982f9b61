#include "FileCommands.h"

#include "EditorCommand.h"
#include "FileTransfers.h"
#include "Form3.h"
#include "ProgressRun.h"
#include "TransferJob.h"
#include "platform/Desktop.h"
#include "ui/MessageBoxes.h"

#include <QWidget>

namespace fileCommands {

std::optional<CopyChoice> askDestination(QWidget *parent, Volumes &volumes, CurrentDrive &current,
                                         Desktop &desktop, QPointer<QWidget> &window)
{
    Form3 dialog(volumes, current, desktop, parent);
    window = &dialog;
    return dialog.ask();
}

std::optional<EditorChoice> askEditor(QWidget *parent, const QString &soundEditor, Volumes &volumes,
                                      QPointer<QWidget> &window)
{
    Form4 dialog(soundEditor, volumes, parent);
    window = &dialog;
    return dialog.ask();
}

void deleteAfterQuestion(QWidget *parent, FileOperations &files, const QString &folder,
                         const QStringList &names)
{
    if (!messages::confirm(parent, deleteConfirmation(names), QStringLiteral("Delete")))
        return;
    const std::unique_ptr<TransferJob> job = TransferJob::deleting(files, folder, names);
    progressRun::run(parent, *job, QStringLiteral("Error"));
}

QList<int> copyWithProgress(QWidget *parent, FileOperations &files, const QStringList &sources,
                            const QList<int> &indices, const CopyChoice &choice)
{
    const std::unique_ptr<TransferJob> job =
        TransferJob::copying(files, sources, indices, choice.folder, choice.deleteOrigin);
    return progressRun::run(parent, *job, QStringLiteral("Copy"));
}

bool startEditor(Desktop &desktop, const QString &editor, const QString &path)
{
    const EditorCommand command = editorCommandFor(editor, path);
    return desktop.startDetached(command.program, command.arguments);
}

void reportEditorNotFound(QWidget *parent)
{
    messages::stop(parent, QStringLiteral("Sound editor not found !!!"));
}

} // namespace fileCommands
