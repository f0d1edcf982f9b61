#pragma once

#include <QList>
#include <QWidget>
#include <array>

class MainCommands;
class QAbstractItemView;
class QAction;
class QMenu;

// Holds the three popup menus of the main window: over the file list, over the play list,
// and over the window itself. It is never shown.
class Form5 final : public QWidget
{
    Q_OBJECT
public:
    Form5(MainCommands &commands, QWidget *parent);

    QMenu *mnuFile = nullptr;
    QMenu *mnuList = nullptr;
    QMenu *mnuCommon = nullptr;

    // The item arrays, separators included, so an item's index is its place in its menu.
    QList<QAction *> fileItems;
    QList<QAction *> listItems;
    QList<QAction *> commonItems;

    // Shows a menu with its top-left corner at the position; once it has closed, reports
    // the chosen item, if any.
    void popUp(QMenu *menu, const QPoint &globalPosition);
    // The common menu, its four check marks set from the switches first (Buttons, Large
    // filelist, Save style, Save cond).
    void popUpCommon(const std::array<bool, 4> &checks, const QPoint &globalPosition);
    // Where a menu opened from the keyboard over a list goes: at its current entry.
    static QPoint atCurrentEntry(const QAbstractItemView *list);

    // The menus' handlers: each runs the command of the chosen item (its index, separators
    // counted) in the main window.
    void mnuFile_Click(int index);
    void mnuList_Click(int index);
    void mnuCommon_Click(int index);

private:
    MainCommands &m_commands;
    QMenu *makeMenu(const QString &title, const QStringList &captions, QList<QAction *> &items);
};
