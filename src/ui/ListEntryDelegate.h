#pragma once

#include "platform/NativeName.h"

#include <QStyledItemDelegate>
#include <functional>

// Draws a list's entries with their names as people see them, and in the disabled text
// colour those that `greyed` picks (a file that cannot be played, or that has gone). The
// style draws an item's text in the option's Text brush, which is where the item's
// text-colour role goes; it ignores the palette's current colour group.
class ListEntryDelegate final : public QStyledItemDelegate
{
public:
    using Greyed = std::function<bool(const QModelIndex &)>;
    ListEntryDelegate(QWidget *view, Greyed greyed)
        : QStyledItemDelegate(view), m_view(view), m_greyed(std::move(greyed))
    {
    }

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->text = shownName(option->text);
        if (m_greyed(index))
            option->palette.setBrush(QPalette::Text,
                                     m_view->palette().brush(QPalette::Disabled, QPalette::Text));
    }

private:
    QWidget *m_view;
    Greyed m_greyed;
};
