#include "WaveLooks.h"

#include <QBrush>
#include <QColor>
#include <QWidget>

namespace {
const QColor damagedMark(200, 30, 30);
} // namespace

WaveLooks::WaveLooks(FileFacts &facts, const QWidget &view, Roles roles, WaveToolTip::GoneFile gone)
    : m_facts(facts), m_view(&view), m_roles(roles), m_gone(gone)
{
}

QVariant WaveLooks::look(const QModelIndex &entry, int role) const
{
    switch (role) {
    case Qt::ToolTipRole:
        return toolTipHtml(m_facts, entry.data(m_roles.path).toString(), m_gone);
    case Qt::ForegroundRole: {
        // The style draws an item's text in the option's Text brush, which is where this
        // role goes; the view's own disabled colour, as its disabled entries would be.
        const QVariant greyed = entry.data(m_roles.greyed);
        if (!m_view || !greyed.isValid() || greyed.toBool() != m_roles.greyedWhen)
            return {};
        return m_view->palette().brush(QPalette::Disabled, QPalette::Text);
    }
    case markRole:
        if (m_roles.damaged >= 0 && entry.data(m_roles.damaged).toBool())
            return damagedMark;
        return {};
    default:
        return {};
    }
}
