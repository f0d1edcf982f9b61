#include "WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <cmath>

void centreOnScreen(QWidget *window)
{
    centreOnScreen(window, window->frameGeometry().size());
}

void centreOnScreen(QWidget *window, const QSize &size)
{
    QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    window->move(area.x() + static_cast<int>(std::nearbyint((area.width() - size.width()) / 2.0)),
                 area.y() +
                     static_cast<int>(std::nearbyint((area.height() - size.height()) / 2.0)));
}

QPoint centredOn(const QRect &over, const QSize &outerSize, const QRect &area)
{
    const auto placed = [](int overStart, int overLength, int length, int areaStart,
                           int areaLength) {
        const int centred =
            overStart + static_cast<int>(std::nearbyint((overLength - length) / 2.0));
        if (length >= areaLength)
            return areaStart;
        return std::clamp(centred, areaStart, areaStart + areaLength - length);
    };
    return {placed(over.x(), over.width(), outerSize.width(), area.x(), area.width()),
            placed(over.y(), over.height(), outerSize.height(), area.y(), area.height())};
}

void centreOnWindow(QWidget *window, const QWidget *over)
{
    QScreen *screen = over->screen() ? over->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QSize frame = over->frameGeometry().size() - over->geometry().size();
    window->move(centredOn(over->frameGeometry(), window->size() + frame,
                           screen->availableGeometry()));
}

bool reachableOnScreens(const QRect &frame, const QList<QRect> &screens)
{
    // The caption band: enough of it must show to grab the window.
    constexpr int captionHeight = 26;
    constexpr int graspableWidth = 48;
    const QRect caption(frame.left(), frame.top(), frame.width(), captionHeight);
    for (const QRect &screen : screens) {
        const QRect shown = caption.intersected(screen);
        if (shown.width() >= graspableWidth && shown.height() >= captionHeight / 2)
            return true;
    }
    return false;
}
