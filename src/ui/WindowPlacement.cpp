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

QPoint placedClearOf(const QRect &over, const QRect &keepClear, const QSize &outerSize,
                     const QRect &area)
{
    const QPoint centred = centredOn(over, outerSize, area);
    if (keepClear.isEmpty() || !QRect(centred, outerSize).intersects(keepClear))
        return centred;
    // Beside a rectangle, and the other way where centred it would be; it must lie whole in the
    // area there, or that place is passed over.
    const QPoint middle = centred;
    const int width = outerSize.width(), height = outerSize.height();
    const QList<QPoint> places = {
        {over.right() + 1, middle.y()},      {over.left() - width, middle.y()},
        {middle.x(), over.bottom() + 1},     {middle.x(), over.top() - height},
        {keepClear.right() + 1, middle.y()}, {middle.x(), keepClear.top() - height},
        {keepClear.left() - width, middle.y()}, {middle.x(), keepClear.bottom() + 1},
    };
    for (const QPoint &place : places) {
        const QRect frame(place, outerSize);
        if (area.contains(frame) && !frame.intersects(keepClear))
            return place;
    }
    return centred;
}

void centreOnWindow(QWidget *window, const QWidget *over)
{
    placeClearOf(window, over, QRect());
}

void placeClearOf(QWidget *window, const QWidget *over, const QRect &keepClear)
{
    QScreen *screen = over->screen() ? over->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QSize frame = over->frameGeometry().size() - over->geometry().size();
    window->move(placedClearOf(over->frameGeometry(), keepClear, window->size() + frame,
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
