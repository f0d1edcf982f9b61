#include "Form5.h"

#include "MainActions.h"

#include <QAbstractItemView>
#include <QAction>
#include <QMenu>
#include <QSignalBlocker>

namespace {
QMenu *makeMenu(const QString &title, const QList<QAction *> &items, QWidget *parent)
{
    auto *menu = new QMenu(title, parent);
    menu->setObjectName(title);
    for (QAction *item : items) {
        if (item)
            menu->addAction(item);
        else
            menu->addSeparator();
    }
    return menu;
}
} // namespace

Form5::Form5(MainActions &actions, QWidget *parent)
    : QWidget(parent, Qt::Window), m_actions(actions)
{
    setObjectName(QStringLiteral("Form5"));
    const MainActions &a = actions;
    mnuFile =
        makeMenu(QStringLiteral("FileMenu"), {a.Add, a.Delete, a.Edit, nullptr, a.Play}, this);
    mnuList = makeMenu(QStringLiteral("ListMenu"), {a.Remove, a.Copy, nullptr, a.ListPlay}, this);
    mnuCommon =
        makeMenu(QStringLiteral("Common"),
                 {a.Buttons, a.LargeFileList, a.SaveStyle, a.SaveCond, a.Waveform, a.AutoPreview,
                  a.LibraryFolders, a.Find, nullptr, a.About, a.NewEditor, a.Ende},
                 this);
    // The menu's own items by their first places; the later additions have none.
    const QList<QAction *> common = mnuCommon->actions();
    m_commonItems = common.mid(0, 4) + common.mid(8);
}

void Form5::popUp(QMenu *menu, const QPoint &globalPosition)
{
    QAction *chosen = nullptr;
    {
        // The menu would run the command from inside its own loop, with the menu half closed;
        // it runs once the menu has gone, from the menu's handler.
        const QList<QAction *> items = menu->actions();
        std::vector<QSignalBlocker> quiet;
        quiet.reserve(static_cast<size_t>(items.size()));
        for (QAction *item : items)
            quiet.emplace_back(item);
        chosen = menu->exec(globalPosition);
    }
    if (menu->actions().contains(chosen))
        m_actions.runChosen(chosen);
}

void Form5::mnuFile_Click(int index)
{
    m_actions.runChosen(mnuFile->actions().value(index));
}

void Form5::mnuList_Click(int index)
{
    m_actions.runChosen(mnuList->actions().value(index));
}

void Form5::mnuCommon_Click(int index)
{
    m_actions.runChosen(m_commonItems.value(index));
}

QPoint Form5::atCurrentEntry(const QAbstractItemView *list)
{
    constexpr int nearTheCorner = 8;
    const QModelIndex current = list->currentIndex();
    return list->viewport()->mapToGlobal(current.isValid() ? list->visualRect(current).center()
                                                           : QPoint(nearTheCorner, nearTheCorner));
}
