#pragma once

#include "playback/ChainPlayer.h"
#include "ui/MenuListView.h"

#include <QStringListModel>
#include <QTimer>

class FileFacts;

// The names of File1; an entry that cannot be played is drawn in the disabled text colour
// once a worker has looked at it.
class WaveNamesModel final : public QStringListModel
{
    Q_OBJECT
public:
    using IsUnplayable = std::function<bool(int row)>;
    WaveNamesModel(QObject *parent, IsUnplayable isUnplayable, QColor disabledText);
    QVariant data(const QModelIndex &index, int role) const override;

private:
    IsUnplayable m_isUnplayable;
    QColor m_disabledText;
};

// File1: the wave files of one directory, with extended selection.
class FileList : public MenuListView
{
    Q_OBJECT
public:
    explicit FileList(QWidget *parent);

    // Gives the list its tooltips and the marks of the files that cannot be played, which
    // workers read for the rows in view only.
    void setFacts(FileFacts *facts);

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
    void resizeEvent(QResizeEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;

private:
    // Fresh entries, none selected.
    void showEntries(const QStringList &names);
    // Asks the workers about the rows in view, once the list has settled.
    void requestMarks();
    QString m_path;
    WaveNamesModel *m_model;
    FileFacts *m_facts = nullptr;
    QTimer m_marksTimer;
};
