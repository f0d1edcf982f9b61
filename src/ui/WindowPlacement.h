#pragma once

class QWidget;

class QSize;

// Centres a window on its screen: Left = (screen width - width) / 2, the same for Top.
void centreOnScreen(QWidget *window);
// The same for a window whose outer size is known before the window manager frames it.
void centreOnScreen(QWidget *window, const QSize &outerSize);

#include <QList>
#include <QRect>

// The top left corner of a frame of outerSize centred on the frame `over`, moved as little as
// needed to lie whole in area (at area's top left where it is larger).
QPoint centredOn(const QRect &over, const QSize &outerSize, const QRect &area);
// The top left corner of a frame of outerSize placed by the frame `over` without covering
// keepClear (a part of over the user keeps working with), all of it within area: centred on
// over where that leaves keepClear clear, else beside over (right, left, below, above), else
// beside keepClear within over (right of it, above it, left of it, below it), each centred on
// over the other way and moved as little as needed to lie in area; centred on over when
// none of them fits. With keepClear empty, centred on over.
QPoint placedClearOf(const QRect &over, const QRect &keepClear, const QSize &outerSize,
                     const QRect &area);
// Moves window (before it is shown) so that its frame is centred on window over's, on over's
// screen: the same place each time over is there, rather than one the window manager picks.
// The frame is taken to be over's, which the same window manager drew.
void centreOnWindow(QWidget *window, const QWidget *over);
// The same, placed clear of keepClear (in global coordinates) as placedClearOf() places it.
void placeClearOf(QWidget *window, const QWidget *over, const QRect &keepClear);

// Whether enough of a window at that frame rectangle lies on one of the screens for the
// user to reach its caption (a stored position from an unplugged monitor does not).
bool reachableOnScreens(const QRect &frame, const QList<QRect> &screens);
