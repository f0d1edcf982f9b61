#pragma once

#include "WaveFolderModel.h"
#include "platform/Result.h"
#include "ui/MenuListView.h"

#include <QTimer>

class FileFacts;

// File1: the wave files of one directory, with extended selection.
class FileList : public MenuListView
{
    Q_OBJECT
public:
    explicit FileList(QWidget *parent);

    // Gives the list its tooltips and the marks of the files that cannot be played, which
    // workers read for the rows in view only.
    void setFacts(FileFacts *facts);

    QString path() const { return m_model->folder(); }
    // Reads the directory; nothing is selected afterwards. When the directory cannot be read,
    // the list keeps what it showed.
    Result<> setPath(const QString &path);
    // A directory that cannot be read: the list is empty and its path is that directory.
    void showUnreadable(const QString &path);
    // Re-reads the same directory: gone files disappear, new ones appear, no selection.
    void refresh();
    // The same, keeping the selection and the current entry of the files still there.
    void rereadKeepingSelection();

    int listCount() const;
    QString entry(int index) const;
    bool isSelected(int index) const;
    // The selected rows in ascending order, whatever order the user picked them in.
    QList<int> selectedRows() const;
    QStringList selectedNames() const;
    // The entry with the focus, empty when the list has none.
    QString fileName() const;

signals:
    // The selection changed, by mouse or keyboard.
    void fileClick();
    // The user pressed a button on the list, and dragged far enough for a drag to begin.
    void pressed(Qt::MouseButton button);
    void dragRequested();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void resizeEvent(QResizeEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;

private:
    // Fresh entries, none selected.
    void showEntries(const QString &folder, const QStringList &names);
    // Asks the workers about the rows in view, once the list has settled.
    void requestMarks();
    WaveFolderModel *m_model;
    FileFacts *m_facts = nullptr;
    bool m_folderMeasured = false;
    QTimer m_marksTimer;
};
