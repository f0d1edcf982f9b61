#pragma once

#include "ui/LineLabel.h"

class Library;

// What went wrong, in red, in a window of the library: the library's problems, taken from it
// when the window shows and, while it is shown, as they come (by the active window first, if
// two of the library's windows are open), so that each is read once and in one window; and the
// window's own lines (a hit that cannot be played). Wrapped, never cut; hidden when empty,
// and emptied when its window closes.
class LibraryProblemLine final : public LineLabel
{
    Q_OBJECT
public:
    // window: the top-level window the line is in, which it follows.
    LibraryProblemLine(Library &library, QWidget *window);

    // A line of the window's own, in place of what was shown; "" empties the line.
    void tell(const QString &line);
    // Empties the line if what it shows is the window's own (the next search began): the
    // library's problems stay until the window closes.
    void forgetTold();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void take();
    void display(const QString &line, bool told);
    Library &m_library;
    bool m_told = false;
};
