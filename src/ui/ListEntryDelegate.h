#pragma once

#include "platform/NativeName.h"

#include <QPainter>
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
    // marked picks the entries that get a small mark at their right end (a damaged take).
    ListEntryDelegate(QWidget *view, Greyed greyed, Greyed marked = {})
        : QStyledItemDelegate(view), m_view(view), m_greyed(std::move(greyed)),
          m_marked(std::move(marked))
    {
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        if (!m_marked || !m_marked(index))
            return;
        // A red dot beside the name's end: the name and the order stay as they are.
        const int size = std::max(4, option.rect.height() / 3);
        const QRect dot(option.rect.right() - size - 3, option.rect.center().y() - size / 2, size,
                        size);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(Qt::NoPen);
        painter->setBrush(QColor(200, 30, 30));
        painter->drawEllipse(dot);
        painter->restore();
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
    Greyed m_marked;
};
