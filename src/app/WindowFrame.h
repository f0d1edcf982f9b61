#pragma once

#include "Settings.h"

#include <QSize>
#include <QSizeF>

class QWidget;

// The main window's outer geometry. The designed window is 7815 x 5100 twips outside and
// 7695 x 4710 inside: the frame and caption take 8 x 26 pixels. That much is counted
// whatever the window manager draws, so stored sizes, the minimum size and the "File"
// frame's threshold mean the same on every desktop.
namespace windowFrame {

QSize decoration();
// The smallest client size: the minimum outer size less the frame.
QSize minimumClient();
// The outer size of a client size, in twips.
QSizeF outerTwips(const QSize &client);
// The client size for an outer size in twips, in whole pixels that hold it.
QSize clientFor(const QSizeF &outerTwips);

// The outer size and position in twips, as stored; while the window is maximised or
// minimised its normal geometry, so the next start opens neither a giant nor an invisible
// window.
OuterGeometry outerGeometryOf(const QWidget *window);
// Applies a stored geometry; a position that no screen shows any more (a monitor that was
// unplugged) gives way to the centre of the screen.
void restore(QWidget *window, const OuterGeometry &geometry);
// Centres the window by its outer size, frame included.
void centre(QWidget *window);
// The size of the window's screen in twips.
QSizeF screenTwips(const QWidget *window);

} // namespace windowFrame
