#pragma once

#include "playback/ChainPlayer.h"
#include "ui/MenuListView.h"

#include <QStringListModel>

// File1: the wave files of one directory, with extended selection.
class FileList : public MenuListView
{
    Q_OBJECT
public:
    explicit FileList(QWidget *parent);

    QString path() const { return m_path; }
    // Reads the directory; nothing is selected afterwards. Empty, or the system's text when
    // the directory cannot be read (the list then keeps what it showed).
    QString setPath(const QString &path);
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
    // The list as a chain plays it: each entry's full path in the list's directory.
    ChainSource chainSource() const;

signals:
    // The selection changed, by mouse or keyboard.
    void fileClick();
    // The user pressed a button on the list, and dragged far enough for a drag to begin.
    void pressed(Qt::MouseButton button);
    void dragRequested();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void startDrag(Qt::DropActions supportedActions) override;

private:
    // Fresh entries, none selected.
    void showEntries(const QStringList &names);
    QString m_path;
    QStringListModel *m_model;
};
