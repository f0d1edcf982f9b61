#pragma once

#include "platform/NativeName.h"

#include <QPainter>
#include <QStyledItemDelegate>

// Draws a list's entries with their names as people see them, in the colour of their
// Qt::ForegroundRole (the disabled text colour of a file that cannot be played, or that has
// gone: the style draws an item's text in the option's Text brush, which is where that role
// goes). An entry whose markRole holds a colour gets a small dot of it at its right end (a
// damaged take).
class ListEntryDelegate final : public QStyledItemDelegate
{
public:
    explicit ListEntryDelegate(QWidget *view, int markRole = -1)
        : QStyledItemDelegate(view), m_markRole(markRole)
    {
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        if (m_markRole < 0)
            return;
        const QVariant mark = index.data(m_markRole);
        if (!mark.isValid())
            return;
        // A dot beside the name's end: the name and the order stay as they are.
        const int size = std::max(4, option.rect.height() / 3);
        const QRect dot(option.rect.right() - size - 3, option.rect.center().y() - size / 2, size,
                        size);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(Qt::NoPen);
        painter->setBrush(mark.value<QColor>());
        painter->drawEllipse(dot);
        painter->restore();
    }

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->text = shownName(option->text);
    }

private:
    int m_markRole;
};
