#include "Pictures.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {

constexpr int iconSize = 32;
const QColor yellow(250, 210, 40);
const QColor darkYellow(190, 150, 20);
const QColor grey(140, 140, 150);
const QColor darkGrey(70, 70, 80);
const QColor soundBlue(30, 80, 220);

QPixmap blank(int w, int h)
{
    QPixmap pixmap(w, h);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void paintLoudspeaker(QPainter &p, double scale)
{
    p.save();
    p.scale(scale, scale);
    // Magnet and cone seen from the side.
    p.setPen(QPen(darkGrey, 1));
    p.setBrush(grey);
    p.drawRect(QRectF(3, 12, 6, 8));
    QPainterPath cone;
    cone.moveTo(9, 12);
    cone.lineTo(19, 4);
    cone.lineTo(19, 28);
    cone.lineTo(9, 20);
    cone.closeSubpath();
    p.setBrush(yellow);
    p.setPen(QPen(darkYellow, 1));
    p.drawPath(cone);
    // Dots of sound leaving to the right.
    p.setPen(Qt::NoPen);
    p.setBrush(soundBlue);
    const QPointF dots[] = {{23, 16}, {26, 11}, {26, 21}, {29, 7}, {29, 16}, {29, 25}};
    for (const QPointF &d : dots)
        p.drawEllipse(d, 1.6, 1.6);
    p.restore();
}

} // namespace

namespace pictures {

QPixmap loudspeaker()
{
    QPixmap pixmap = blank(iconSize, iconSize);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    paintLoudspeaker(p, 1.0);
    return pixmap;
}

QPixmap banana()
{
    QPixmap pixmap = blank(iconSize, iconSize);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath fruit;
    fruit.moveTo(5, 9);
    fruit.cubicTo(6, 24, 20, 30, 29, 20);
    fruit.cubicTo(20, 25, 11, 20, 9, 8);
    fruit.closeSubpath();
    p.setPen(QPen(darkYellow, 1.2));
    p.setBrush(yellow);
    p.drawPath(fruit);
    // Stalk and tip.
    p.setPen(QPen(QColor(90, 70, 20), 2.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(5, 9), QPointF(6, 5));
    p.drawPoint(QPointF(29, 20));
    return pixmap;
}

QPixmap funnel()
{
    QPixmap pixmap = blank(iconSize, iconSize);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    // Sheets falling in.
    p.setPen(QPen(darkGrey, 0.8));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(6, 1, 7, 8));
    p.drawRect(QRectF(14, 3, 7, 8));
    // The funnel.
    QPainterPath body;
    body.moveTo(2, 9);
    body.lineTo(24, 9);
    body.lineTo(15, 19);
    body.lineTo(11, 19);
    body.closeSubpath();
    p.setPen(QPen(darkYellow, 1));
    p.setBrush(yellow);
    p.drawPath(body);
    // Spout curving into a grey horn.
    QPainterPath horn;
    horn.moveTo(11, 19);
    horn.cubicTo(11, 27, 16, 30, 22, 30);
    horn.lineTo(22, 25);
    horn.cubicTo(18, 25, 15, 23, 15, 19);
    horn.closeSubpath();
    p.setPen(QPen(darkGrey, 0.8));
    p.setBrush(grey);
    p.drawPath(horn);
    // A musical note.
    p.setPen(QPen(soundBlue, 1.4));
    p.setBrush(soundBlue);
    p.drawEllipse(QPointF(26.5, 19.5), 2.2, 1.6);
    p.drawLine(QPointF(28.6, 19.5), QPointF(28.6, 11));
    p.drawLine(QPointF(28.6, 11), QPointF(31, 13));
    return pixmap;
}

QPixmap newEditor()
{
    QPixmap pixmap = blank(iconSize, iconSize);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    // A wave drawn by a pencil.
    p.setPen(QPen(soundBlue, 1.6));
    QPainterPath wave;
    wave.moveTo(2, 16);
    for (int x = 2; x <= 20; x += 2)
        wave.lineTo(x, 16 + ((x / 2) % 2 ? -7 : 7) * (1.0 - x / 26.0));
    p.drawPath(wave);
    p.setPen(QPen(darkGrey, 1));
    p.setBrush(yellow);
    QPolygonF pencil({{20, 26}, {29, 9}, {32, 11}, {23, 28}});
    p.drawPolygon(pencil);
    p.setBrush(darkGrey);
    p.drawPolygon(QPolygonF({{20, 26}, {23, 28}, {19, 31}}));
    return pixmap;
}

QPixmap about()
{
    constexpr int width = 400;
    constexpr int height = 300;
    QPixmap pixmap(width, height);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient sky(0, 0, 0, height);
    sky.setColorAt(0, QColor(20, 30, 90));
    sky.setColorAt(1, QColor(70, 110, 190));
    p.fillRect(0, 0, width, height, sky);

    // A few rings of sound behind the loudspeaker.
    p.setPen(QPen(QColor(255, 255, 255, 60), 3));
    for (int r = 40; r <= 160; r += 30)
        p.drawArc(QRectF(60 - r, 110 - r, 2 * r, 2 * r), -50 * 16, 100 * 16);
    p.save();
    p.translate(14, 60);
    paintLoudspeaker(p, 3.0);
    p.restore();

    p.setPen(Qt::white);
    QFont title = p.font();
    title.setPointSizeF(22);
    title.setBold(true);
    p.setFont(title);
    p.drawText(QRectF(130, 70, 260, 40), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Quillon Sonoret"));
    QFont version = p.font();
    version.setPointSizeF(14);
    version.setBold(false);
    p.setFont(version);
    p.drawText(QRectF(130, 108, 260, 26), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Version 2.0"));
    QFont body = p.font();
    body.setPointSizeF(10);
    p.setFont(body);
    p.drawText(QRectF(24, 190, 352, 60), Qt::AlignLeft | Qt::TextWordWrap,
               QStringLiteral("Plays, gathers, copies and tidies your wave files: "
                              "browse your folders, build a play list, play a chain."));
    p.setPen(QColor(255, 255, 255, 160));
    QFont small = p.font();
    small.setPointSizeF(8);
    p.setFont(small);
    p.drawText(QRectF(24, 262, 352, 20), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Quillon Sonoret 2.0 - a player and manager for RIFF wave files"));
    return pixmap;
}

} // namespace pictures
