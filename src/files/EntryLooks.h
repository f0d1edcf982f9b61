#pragma once

#include <QModelIndex>
#include <QVariant>

// What a list's entry looks like besides its name: the text of its tooltip
// (Qt::ToolTipRole), the colour of its text (Qt::ForegroundRole) and the colour of the mark
// beside its name (markRole). The windows give a model its looks, which they work out from
// the model's other roles and the files' facts: the models stay over Qt Core, and a view, a
// proxy or a test reads a look as any other role of the entry.
class EntryLooks
{
public:
    // Beyond the roles of every model of the program.
    static constexpr int markRole = Qt::UserRole + 64;
    static bool isLook(int role)
    {
        return role == Qt::ToolTipRole || role == Qt::ForegroundRole || role == markRole;
    }

    virtual ~EntryLooks() = default;
    // Nothing for an entry that looks as any other.
    virtual QVariant look(const QModelIndex &entry, int role) const = 0;
};
