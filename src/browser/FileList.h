#pragma once

#include "platform/Result.h"
#include "ui/MenuListView.h"

#include <QAbstractListModel>
#include <QHash>
#include <QTimer>

class FileFacts;

// The wave files of one folder, the data of File1: each file's name, its full path, and
// what the workers found out about it. FileFacts answers file by file, and each answer
// changes that row alone; an entry that cannot be played is drawn in the disabled text
// colour once a worker has looked at it.
class WaveFolderModel final : public QAbstractListModel
{
    Q_OBJECT
public:
    enum Role
    {
        // The name as it is on the disk (bytes that are not UTF-8 kept); DisplayRole shows
        // them replaced.
        NameRole = Qt::UserRole + 1,
        PathRole,
        // Known once a worker has read the file: whether it plays, else why not.
        PlayableRole,
        ProblemRole,
    };
    WaveFolderModel(QObject *parent, QColor disabledText);

    void setFacts(FileFacts *facts);
    // A fresh listing of folder.
    void setEntries(const QString &folder, const QStringList &names);

    QString folder() const { return m_folder; }
    QString name(int row) const { return m_names.value(row); }
    QString path(int row) const;
    // The row of a name, or -1.
    int rowOf(const QString &name) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    void factsArrived(const QString &path);
    FileFacts *m_facts = nullptr;
    QColor m_disabledText;
    QString m_folder;
    QStringList m_names;
    // Made when first asked: most listings are never searched by name.
    mutable QHash<QString, int> m_rows;
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
    QTimer m_marksTimer;
};
