#include "Form5.h"

#include "MainCommands.h"

#include <QAbstractItemView>
#include <QAction>
#include <QMenu>

Form5::Form5(MainCommands &commands, QWidget *parent)
    : QWidget(parent, Qt::Window), m_commands(commands)
{
    setObjectName(QStringLiteral("Form5"));
    const QString separator = QStringLiteral("-");
    mnuFile = makeMenu(QStringLiteral("FileMenu"),
                       {QStringLiteral("&Add to list"), QStringLiteral("&Delete"),
                        QStringLiteral("&Edit"), separator, QStringLiteral("&Play")},
                       fileItems);
    mnuList = makeMenu(QStringLiteral("ListMenu"),
                       {QStringLiteral("&Remove"), QStringLiteral("&Copy to ..."), separator,
                        QStringLiteral("&Play")},
                       listItems);
    mnuCommon =
        makeMenu(QStringLiteral("Common"),
                 {QStringLiteral("&Buttons"), QStringLiteral("Large filelist"),
                  QStringLiteral("Save &style"), QStringLiteral("Save &cond"), separator,
                  QStringLiteral("&About"), QStringLiteral("&New editor"), QStringLiteral("E&xit")},
                 commonItems);
    for (int i = 0; i < 4; ++i)
        commonItems[i]->setCheckable(true);
}

QMenu *Form5::makeMenu(const QString &title, const QStringList &captions, QList<QAction *> &items)
{
    auto *menu = new QMenu(title, this);
    menu->setObjectName(title);
    for (const QString &caption : captions) {
        QAction *item =
            caption == QLatin1String("-") ? menu->addSeparator() : menu->addAction(caption);
        item->setData(static_cast<int>(items.size()));
        items.append(item);
    }
    return menu;
}

void Form5::popUp(QMenu *menu, const QPoint &globalPosition)
{
    QAction *chosen = menu->exec(globalPosition);
    if (!chosen || chosen->isSeparator())
        return;
    const int index = chosen->data().toInt();
    if (menu == mnuFile)
        mnuFile_Click(index);
    else if (menu == mnuList)
        mnuList_Click(index);
    else
        mnuCommon_Click(index);
}

namespace {
// Runs the command of an item; separators (and anything past the end) run nothing.
template <size_t N>
void runItem(MainCommands &commands, const std::array<void (MainCommands::*)(), N> &items,
             int index)
{
    if (index >= 0 && index < static_cast<int>(N) && items[static_cast<size_t>(index)])
        (commands.*items[static_cast<size_t>(index)])();
}
} // namespace

void Form5::mnuFile_Click(int index)
{
    runItem<5>(m_commands,
               {&MainCommands::Add, &MainCommands::Delete, &MainCommands::Edit, nullptr,
                &MainCommands::Play},
               index);
}

void Form5::mnuList_Click(int index)
{
    if (index == 3)
        m_commands.pauseBeforeMenuPlay();
    runItem<4>(m_commands,
               {&MainCommands::Remove, &MainCommands::Copy, nullptr, &MainCommands::ListPlay},
               index);
}

void Form5::mnuCommon_Click(int index)
{
    runItem<8>(m_commands,
               {&MainCommands::toggleButtons, &MainCommands::toggleLargeFileList,
                &MainCommands::toggleSaveStyle, &MainCommands::toggleSaveCond, nullptr,
                &MainCommands::About, &MainCommands::NewEditor, &MainCommands::Ende},
               index);
}

void Form5::popUpCommon(const std::array<bool, 4> &checks, const QPoint &globalPosition)
{
    // The check marks are set from the switches at each opening and nowhere else.
    for (size_t i = 0; i < checks.size(); ++i)
        commonItems[static_cast<qsizetype>(i)]->setChecked(checks[i]);
    popUp(mnuCommon, globalPosition);
}

QPoint Form5::atCurrentEntry(const QAbstractItemView *list)
{
    constexpr int nearTheCorner = 8;
    const QModelIndex current = list->currentIndex();
    return list->viewport()->mapToGlobal(current.isValid() ? list->visualRect(current).center()
                                                           : QPoint(nearTheCorner, nearTheCorner));
}
