#include "WindowFrame.h"

#include "Layout.h"
#include "ui/Twips.h"
#include "ui/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

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

namespace {
// What the window manager draws around the client; nothing before the window is mapped or
// without a window manager.
QMargins frameOf(const QWidget *window)
{
    const QWindow *handle = window->windowHandle();
    return handle && window->isVisible() ? handle->frameMargins() : QMargins();
}
} // namespace

OuterGeometry outerGeometryOf(const QWidget *window)
{
    const QRect normal =
        window->normalGeometry().isValid() ? window->normalGeometry() : window->geometry();
    const QMargins frame = frameOf(window);
    const QRect outer = frame.isNull() ? QRect(normal.topLeft(), normal.size() + decoration())
                                       : normal.marginsAdded(frame);
    OuterGeometry g;
    g.width = twips::fromPixels(outer.width());
    g.height = twips::fromPixels(outer.height());
    g.left = twips::fromPixels(outer.x());
    g.top = twips::fromPixels(outer.y());
    return g;
}

QRect pixels(const OuterGeometry &g)
{
    return {twips::toPixels(g.left), twips::toPixels(g.top), twips::toPixels(g.width),
            twips::toPixels(g.height)};
}

void restore(QWidget *window, const OuterGeometry &g)
{
    const QRect frame = pixels(g);
    window->resize(frame.size() - decoration());
    QList<QRect> screens;
    for (const QScreen *screen : QGuiApplication::screens())
        screens.append(screen->geometry());
    if (!reachableOnScreens(frame, screens)) {
        centreOnScreen(window, frame.size());
        return;
    }
    // Before the native window exists, a move asks the window manager to put its frame's
    // corner there (north-west gravity); afterwards it would put the client's corner there,
    // a caption's height lower.
    window->move(frame.topLeft());
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

void PlacedGeometry::restore(QWidget *window, const OuterGeometry &geometry)
{
    m_read = geometry;
    m_fitPending = true;
    windowFrame::restore(window, geometry);
}

void PlacedGeometry::fitToFrame(QWidget *window)
{
    if (!m_fitPending || !m_read)
        return;
    const QMargins frame = windowFrame::frameOf(window);
    if (frame.isNull())
        return;
    m_fitPending = false;
    const QRect wanted = windowFrame::pixels(*m_read);
    const QSize client = wanted.size().shrunkBy(frame);
    if (window->size() != client && !window->isMaximized() && !window->isFullScreen())
        window->resize(client);
}

OuterGeometry PlacedGeometry::current(const QWidget *window) const
{
    const OuterGeometry now = windowFrame::outerGeometryOf(window);
    // Twips to pixels and back loses what lies between two pixels.
    if (m_read && windowFrame::pixels(now) == windowFrame::pixels(*m_read))
        return *m_read;
    return now;
}
