#include "Form5.h"

#include <QAbstractItemView>
#include <QAction>
#include <QMenu>

Form5::Form5(QWidget *parent) : QWidget(parent, Qt::Window)
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
        emit mnuFile_Click(index);
    else if (menu == mnuList)
        emit mnuList_Click(index);
    else
        emit mnuCommon_Click(index);
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
