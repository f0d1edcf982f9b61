#pragma once

class QWidget;

// Centres a window on its screen: Left = (screen width - width) / 2, the same for Top.
void centreOnScreen(QWidget *window);

#include <QList>
#include <QRect>

// Whether enough of a window at that frame rectangle lies on one of the screens for the
// user to reach its caption (a stored position from an unplugged monitor does not).
bool reachableOnScreens(const QRect &frame, const QList<QRect> &screens);
