#pragma once

#include <QList>
#include <QWidget>
#include <functional>

class QAction;
class QMenu;

// Holds the three popup menus of the main window: over the file list, over the play list,
// and over the window itself. It is never shown.
class Form5 final : public QWidget
{
    Q_OBJECT
public:
    explicit Form5(QWidget *parent);

    QMenu *mnuFile = nullptr;
    QMenu *mnuList = nullptr;
    QMenu *mnuCommon = nullptr;

    // The item arrays, separators included, so an item's index is its place in its menu.
    QList<QAction *> fileItems;
    QList<QAction *> listItems;
    QList<QAction *> commonItems;

    std::function<void(int)> mnuFile_Click;
    std::function<void(int)> mnuList_Click;
    std::function<void(int)> mnuCommon_Click;

    // Shows a menu with its top-left corner at the pointer; once it has closed, runs the
    // handler of the chosen item, if any.
    void popUp(QMenu *menu, const QPoint &globalPosition);

private:
    QMenu *makeMenu(const QString &title, const QStringList &captions, QList<QAction *> &items);
};
