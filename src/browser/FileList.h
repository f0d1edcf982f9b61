#pragma once

#include "WaveFolderModel.h"
#include "platform/Result.h"
#include "ui/MenuListView.h"

#include <optional>

class FileFacts;
class OneColumnProxy;
class QAbstractProxyModel;
class WaveRolesUpdater;

// File1: the wave files of one directory, with extended selection.
class FileList : public MenuListView
{
    Q_OBJECT
public:
    explicit FileList(QWidget *parent);

    // Gives the list its tooltips and the marks of the files that cannot be played, which
    // workers read for the rows in view first.
    void setFacts(FileFacts *facts);

    // The folder's entries, whatever proxy the list shows them through.
    WaveFolderModel &folderModel() const { return *m_model; }
    // Shows the entries through a proxy (a sort or a filter of folderModel()'s columns); the
    // selection starts empty. The list still shows one column, its names.
    void showThrough(QAbstractProxyModel *between);

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
    // The selected entries in the order the list shows them, whatever order the user picked
    // them in.
    QModelIndexList selection() const;
    QStringList selectedNames() const;
    QStringList selectedPaths() const;
    // The entry of a name as the list shows it, or an invalid index.
    QModelIndex shownIndexOf(const QString &name) const;
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
    void focusInEvent(QFocusEvent *event) override;

private:
    void restoreSelection(const QStringList &selected, const QString &current, int scrolled);
    // Fresh entries, none selected.
    void showEntries(const QString &folder, const QStringList &names);
    // The folder's rows of the selected entries, in the order shown.
    QList<int> selectedFolderRows() const;
    WaveFolderModel *m_model;
    OneColumnProxy *m_shown;
    // selectedNames() until the selection or the entries change.
    mutable std::optional<QStringList> m_selectedNames;
};
