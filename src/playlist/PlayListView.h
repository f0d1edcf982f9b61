#pragma once

#include "ui/MenuListView.h"

class FileFacts;
class PlayListModel;

// List1: the play list's names, with extended selection. Taking rows off keeps the
// selection and the current entry of the rows that stay, as a user expects after removing
// or moving some of them.
class PlayListView final : public MenuListView
{
    Q_OBJECT
public:
    PlayListView(PlayListModel &list, QWidget *parent);
    // Gives each entry the tooltip of its file's details, or "Missing: <path>".
    void setFacts(FileFacts *facts);

    // The selected entries in the order shown, whatever order the user picked them in.
    QModelIndexList selection() const;
    // Takes the entries off the play list; those left keep their order, the current one and
    // their selection, or with `selectAfter` the entries of it left are selected alone.
    void removeEntries(const QModelIndexList &gone, const QModelIndexList &selectAfter = {});
    // Looks at every entry's file again, for folders too many to watch.
    void recheckMissing();
signals:
    // A drag of the play list's files to another program begins or ends.
    void dragStarted();
    void dragEnded();

protected:
    // A drag from the play list goes to other programs only: it carries the files alone.
    void startDrag(Qt::DropActions supportedActions) override;

private:
    PlayListModel &m_list;
};
