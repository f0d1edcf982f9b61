#include "FileCommands.h"

#include "EditorCommand.h"
#include "FileTransfers.h"
#include "Form3.h"
#include "ProgressRun.h"
#include "platform/Desktop.h"
#include "ui/MessageBoxes.h"

#include <QApplication>
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

namespace {
// The one message of a failure, from the worker: with the normal pointer, and the work goes
// on after OK.
std::function<void()> messageFromWorker(QWidget *parent, const TransferState &state,
                                        const QString &text, const QString &title)
{
    return [parent, &state, text, title] {
        // Stopping already: the message would only hold the stop up.
        if (state.cancel)
            return;
        progressRun::showFromWorker(parent, [parent, text, title] {
            const bool hourglass = QApplication::overrideCursor();
            if (hourglass)
                QApplication::restoreOverrideCursor();
            messages::stop(parent, text, title);
            if (hourglass)
                QApplication::setOverrideCursor(Qt::WaitCursor);
        });
    };
}
} // namespace

void deleteAfterQuestion(QWidget *parent, FileOperations &files, const QString &folder,
                         const QStringList &names)
{
    if (!messages::confirm(parent, deleteConfirmation(names), QStringLiteral("Delete")))
        return;
    TransferState state;
    const auto failed = messageFromWorker(parent, state, QStringLiteral("Cant delete file !"),
                                          QStringLiteral("Error"));
    progressRun::run(parent, progressRun::Kind::Delete, state,
                     [&] { deleteFiles(files, folder, names, failed, &state); });
}

QList<int> copyWithProgress(QWidget *parent, FileOperations &files, const QStringList &sources,
                            const QList<int> &indices, const CopyChoice &choice)
{
    TransferState state;
    QList<int> done;
    const auto failed = messageFromWorker(parent, state, QStringLiteral("Error while copying ..."),
                                          QStringLiteral("Copy"));
    progressRun::run(parent, progressRun::Kind::Copy, state, [&] {
        done =
            copyFiles(files, sources, indices, choice.folder, choice.deleteOrigin, failed, &state);
    });
    return done;
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
