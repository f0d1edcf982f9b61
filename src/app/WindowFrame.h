#pragma once

#include "Settings.h"

#include <QRect>
#include <QSize>
#include <QSizeF>
#include <optional>

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
// window. The frame the window manager drew once it is known; before that (and with no
// window manager) the client's position and the designed allowance.
OuterGeometry outerGeometryOf(const QWidget *window);
// A stored geometry in whole pixels.
QRect pixels(const OuterGeometry &geometry);
// Applies a stored geometry: the frame's corner goes where it was; a position that no
// screen shows any more (a monitor that was unplugged) gives way to the centre of the
// screen.
void restore(QWidget *window, const OuterGeometry &geometry);
// Centres the window by its outer size, frame included.
void centre(QWidget *window);
// The size of the window's screen in twips.
QSizeF screenTwips(const QWidget *window);

} // namespace windowFrame

// A stored geometry through one run. The window manager tells its frame only once the window
// is mapped: the client is fitted into the stored outer size then, and at closing a geometry
// the user left alone is written back exactly as it was read, so that starts and closes
// never walk the window across the screen.
class PlacedGeometry final
{
public:
    void restore(QWidget *window, const OuterGeometry &geometry);
    // Call on moves and resizes: fits the client once, when the frame is first known.
    void fitToFrame(QWidget *window);
    OuterGeometry current(const QWidget *window) const;

private:
    std::optional<OuterGeometry> m_read;
    bool m_fitPending = false;
};
