#pragma once

#include <QWidget>

class MainActions;
class QAbstractItemView;
class QMenu;

// Holds the three popup menus of the main window: over the file list, over the play list,
// and over the window itself. It is never shown. The menus hold the window's own actions.
class Form5 final : public QWidget
{
    Q_OBJECT
public:
    Form5(MainActions &actions, QWidget *parent);

    QMenu *mnuFile = nullptr;
    QMenu *mnuList = nullptr;
    QMenu *mnuCommon = nullptr;

    // Shows a menu with its top-left corner at the position; once it has closed, runs the
    // chosen item, if any, through its menu's handler.
    void popUp(QMenu *menu, const QPoint &globalPosition);
    // Where a menu opened from the keyboard over a list goes: at its current entry.
    static QPoint atCurrentEntry(const QAbstractItemView *list);

    // The menus' handlers: each runs the command of the item at the index (separators
    // counted). The common menu's indices are those of its first eight items; the switches
    // of auditioning, shown between them, are reached by their actions alone.
    void mnuFile_Click(int index);
    void mnuList_Click(int index);
    void mnuCommon_Click(int index);

private:
    MainActions &m_actions;
    QList<QAction *> m_commonItems;
};
