#include "WindowFrame.h"

#include "Layout.h"
#include "ui/Twips.h"
#include "ui/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace windowFrame {

namespace {
constexpr int decorationWidth = 8;
constexpr int decorationHeight = 26;
} // namespace

QSize decoration()
{
    return {decorationWidth, decorationHeight};
}

QSize minimumClient()
{
    return clientFor({layout::minimumOuterWidth, layout::minimumOuterHeight});
}

QSizeF outerTwips(const QSize &client)
{
    return {twips::fromPixels(client.width() + decorationWidth),
            twips::fromPixels(client.height() + decorationHeight)};
}

QSize clientFor(const QSizeF &outer)
{
    return {twips::toPixelsRoundedUp(outer.width()) - decorationWidth,
            twips::toPixelsRoundedUp(outer.height()) - decorationHeight};
}

OuterGeometry outerGeometryOf(const QWidget *window)
{
    const QRect normal =
        window->normalGeometry().isValid() ? window->normalGeometry() : window->geometry();
    const QPoint frameOffset = window->geometry().topLeft() - window->pos();
    const QSizeF outer = outerTwips(normal.size());
    OuterGeometry g;
    g.width = outer.width();
    g.height = outer.height();
    g.left = twips::fromPixels(normal.x() - frameOffset.x());
    g.top = twips::fromPixels(normal.y() - frameOffset.y());
    return g;
}

void restore(QWidget *window, const OuterGeometry &g)
{
    window->resize(twips::toPixels(g.width) - decorationWidth,
                   twips::toPixels(g.height) - decorationHeight);
    const QRect frame(twips::toPixels(g.left), twips::toPixels(g.top), twips::toPixels(g.width),
                      twips::toPixels(g.height));
    QList<QRect> screens;
    for (const QScreen *screen : QGuiApplication::screens())
        screens.append(screen->geometry());
    if (reachableOnScreens(frame, screens))
        window->move(frame.topLeft());
    else
        centreOnScreen(window, frame.size());
}

void centre(QWidget *window)
{
    centreOnScreen(window, window->size() + decoration());
}

QSizeF screenTwips(const QWidget *window)
{
    const QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    return {twips::fromPixels(screen->geometry().width()),
            twips::fromPixels(screen->geometry().height())};
}

} // namespace windowFrame
