#pragma once

#include "Form3.h"
#include "Form4.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <optional>

class CurrentDrive;
class Desktop;
class FileOperations;
class QWidget;
class Volumes;

// The steps of the file commands that the user sees: the question before deleting, the
// hourglass and the single message of a copy, the start of the sound editor.
namespace fileCommands {

// The copy destination dialog, modal over parent and kept in window while it is up.
std::optional<CopyChoice> askDestination(QWidget *parent, Volumes &volumes, CurrentDrive &current,
                                         Desktop &desktop, QPointer<QWidget> &window);
// The editor chooser, opened with the command in use.
std::optional<EditorChoice> askEditor(QWidget *parent, const QString &soundEditor, Volumes &volumes,
                                      QPointer<QWidget> &window);

// Asks once, then deletes the named files of the folder in list order, in a worker with a
// progress window past half a second; a file that cannot be deleted is passed over, with
// "Cant delete file !" at the first one.
void deleteAfterQuestion(QWidget *parent, FileOperations &files, const QString &folder,
                         const QStringList &names);

// Copies (or moves) the sources given by index into the chosen folder in a worker, with the
// window painted but taking no input and a progress window with "Cancel" past half a
// second; "Error while copying ..." once, at the first failure, with the normal pointer.
// Returns the indices that are done.
QList<int> copyWithProgress(QWidget *parent, FileOperations &files, const QStringList &sources,
                            const QList<int> &indices, const CopyChoice &choice);

// Starts the editor command on the file, the path one argument; false when it did not start.
bool startEditor(Desktop &desktop, const QString &editor, const QString &path);
void reportEditorNotFound(QWidget *parent);

} // namespace fileCommands
