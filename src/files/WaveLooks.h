#pragma once

#include "EntryLooks.h"
#include "WaveToolTip.h"

#include <QPointer>

class FileFacts;
class QWidget;

// The looks of a list of wave files: the tooltip's text from the facts of the entry's
// path, the disabled text colour of the view for an entry that cannot be played or has
// gone, and a red mark for a take that goes over full scale or clips.
class WaveLooks final : public EntryLooks
{
public:
    // Which roles of the model say what the looks follow.
    struct Roles
    {
        int path;
        // The entry is greyed while this role holds greyedWhen (and nothing while unknown).
        int greyed;
        bool greyedWhen;
        // True for an entry that gets the mark; none for a list without marks.
        int damaged = -1;
    };
    WaveLooks(FileFacts &facts, const QWidget &view, Roles roles, WaveToolTip::GoneFile gone);

    QVariant look(const QModelIndex &entry, int role) const override;

private:
    FileFacts &m_facts;
    QPointer<const QWidget> m_view;
    Roles m_roles;
    WaveToolTip::GoneFile m_gone;
};
