#pragma once

class QWidget;

class QSize;

// Centres a window on its screen: Left = (screen width - width) / 2, the same for Top.
void centreOnScreen(QWidget *window);
// The same for a window whose outer size is known before the window manager frames it.
void centreOnScreen(QWidget *window, const QSize &outerSize);

#include <QList>
#include <QRect>

// Whether enough of a window at that frame rectangle lies on one of the screens for the
// user to reach its caption (a stored position from an unplugged monitor does not).
bool reachableOnScreens(const QRect &frame, const QList<QRect> &screens);
