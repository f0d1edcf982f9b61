#pragma once

#include "FileFacts.h"
#include "Loudness.h"

#include <QString>
#include <optional>

// Where the loudness measured is kept from one run to the next, so that a file measured once
// answers at once in every window that shows it (the library's store in the program). Called
// by the measuring workers, several at once, never on the window's thread. A keeper that
// cannot read or write only means measuring again: it answers nothing and keeps nothing.
class LoudnessKeeper
{
public:
    virtual ~LoudnessKeeper() = default;
    // The figures kept for path while it has this stamp.
    virtual std::optional<Loudness> kept(const QString &path, const FileStamp &stamp) = 0;
    virtual void keep(const QString &path, const FileStamp &stamp, const Loudness &loudness) = 0;
};
