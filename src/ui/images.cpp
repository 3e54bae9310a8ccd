#include "ui/images.h"

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace xs {

namespace {
const QColor kTeal(0x1f, 0x7a, 0x8c);
const QColor kDeep(0x12, 0x4e, 0x66);
const QColor kLeaf(0x5c, 0xa8, 0x6b);

// A stylised balance (衡) inside a circle: the mark of the system.
void drawMark(QPainter &p, const QRectF &r, const QColor &fg)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(fg, std::max(1.0, r.width() / 16));
    pen.setCapStyle(Qt::RoundCap);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(r.adjusted(pen.widthF(), pen.widthF(), -pen.widthF(), -pen.widthF()));
    const QPointF c = r.center();
    const double w = r.width();
    p.drawLine(QPointF(c.x(), r.top() + w * 0.22), QPointF(c.x(), r.bottom() - w * 0.22));
    p.drawLine(QPointF(r.left() + w * 0.25, r.top() + w * 0.35), QPointF(r.right() - w * 0.25, r.top() + w * 0.35));
    p.drawLine(QPointF(c.x() - w * 0.12, r.bottom() - w * 0.22), QPointF(c.x() + w * 0.12, r.bottom() - w * 0.22));
    for (double x : {r.left() + w * 0.25, r.right() - w * 0.25}) {
        QPainterPath pan;
        pan.moveTo(x - w * 0.09, r.top() + w * 0.52);
        pan.quadTo(x, r.top() + w * 0.62, x + w * 0.09, r.top() + w * 0.52);
        p.drawLine(QPointF(x, r.top() + w * 0.35), QPointF(x - w * 0.08, r.top() + w * 0.52));
        p.drawLine(QPointF(x, r.top() + w * 0.35), QPointF(x + w * 0.08, r.top() + w * 0.52));
        p.drawPath(pan);
    }
    p.restore();
}

QPixmap blank(int w, int h)
{
    QPixmap pm(w, h);
    pm.fill(Qt::transparent);
    return pm;
}
}  // namespace

QIcon appIcon()
{
    QPixmap pm = blank(64, 64);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(kTeal);
    p.setPen(Qt::NoPen);
    p.drawEllipse(2, 2, 60, 60);
    drawMark(p, QRectF(8, 8, 48, 48), Qt::white);
    return QIcon(pm);
}

QPixmap loginBanner(int width, int height)
{
    QPixmap pm(width, height);
    QPainter p(&pm);
    QLinearGradient g(0, 0, width, height);
    g.setColorAt(0, kDeep);
    g.setColorAt(1, kTeal);
    p.fillRect(pm.rect(), g);
    p.setOpacity(0.25);
    drawMark(p, QRectF(width - height * 1.1, -height * 0.05, height * 1.1, height * 1.1), Qt::white);
    return pm;
}

static QIcon buttonIcon(const QColor &bg, bool cross)
{
    QPixmap pm = blank(72, 36);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(bg);
    p.drawRoundedRect(QRectF(1, 1, 70, 34), 8, 8);
    QPen pen(Qt::white, 4);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    p.setPen(pen);
    if (cross) {
        p.drawLine(QPointF(27, 9), QPointF(45, 27));
        p.drawLine(QPointF(45, 9), QPointF(27, 27));
    } else {
        // an arrow entering a door
        p.drawLine(QPointF(20, 18), QPointF(40, 18));
        p.drawLine(QPointF(33, 11), QPointF(40, 18));
        p.drawLine(QPointF(33, 25), QPointF(40, 18));
        p.drawPolyline(QPolygonF({QPointF(44, 8), QPointF(52, 8), QPointF(52, 28), QPointF(44, 28)}));
    }
    return QIcon(pm);
}

QIcon signInIcon() { return buttonIcon(kTeal, false); }
QIcon closeIcon() { return buttonIcon(QColor(0xa6, 0x3d, 0x32), true); }

QPixmap decorationPixmap(int index, int size)
{
    QPixmap pm = blank(size, size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor colours[] = {kTeal, kLeaf, kDeep, QColor(0xc8, 0x8a, 0x2e)};
    p.setBrush(colours[index % 4]);
    p.setPen(Qt::NoPen);
    // a leaf
    QPainterPath leaf;
    leaf.moveTo(size * 0.15, size * 0.85);
    leaf.cubicTo(size * 0.1, size * 0.3, size * 0.5, size * 0.1, size * 0.9, size * 0.1);
    leaf.cubicTo(size * 0.9, size * 0.5, size * 0.7, size * 0.9, size * 0.15, size * 0.85);
    p.drawPath(leaf);
    return pm;
}

QPixmap mainBackground()
{
    QImage img(1920, 975, QImage::Format_RGB888);
    QPainter p(&img);
    QLinearGradient g(0, 0, 0, 975);
    g.setColorAt(0, QColor(0xe9, 0xf3, 0xf4));
    g.setColorAt(1, QColor(0xc9, 0xdf, 0xe2));
    p.fillRect(img.rect(), g);
    p.setOpacity(0.12);
    drawMark(p, QRectF(1920 / 2 - 300, 975 / 2 - 300, 600, 600), kDeep);
    p.setOpacity(0.35);
    QFont f(QStringLiteral("华文中宋"));
    f.setPixelSize(64);
    p.setFont(f);
    p.setPen(kDeep);
    p.drawText(QRect(0, 975 / 2 + 320, 1920, 90), Qt::AlignHCenter | Qt::AlignTop, QStringLiteral("澄衡"));
    p.end();
    return QPixmap::fromImage(img);
}

QPixmap toolbarPixmap(const QString &key)
{
    QPixmap pm = blank(32, 32);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(kDeep, 2.5);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    p.setPen(pen);
    if (key == QLatin1String("find")) {
        p.drawEllipse(QRectF(5, 5, 15, 15));
        p.setPen(QPen(kDeep, 4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(18, 18), QPointF(27, 27));
    } else if (key == QLatin1String("modi")) {
        p.setBrush(QColor(0xf0, 0xc0, 0x50));
        p.drawPolygon(QPolygonF({QPointF(6, 26), QPointF(8, 19), QPointF(22, 5), QPointF(27, 10), QPointF(13, 24)}));
        p.drawLine(QPointF(6, 28), QPointF(28, 28));
    } else if (key == QLatin1String("del")) {
        p.setBrush(QColor(0xe8, 0xe8, 0xe8));
        p.drawRect(QRectF(8, 9, 16, 19));
        p.drawLine(QPointF(5, 8), QPointF(27, 8));
        p.drawLine(QPointF(13, 4), QPointF(19, 4));
        p.setPen(QPen(QColor(0xa6, 0x3d, 0x32), 2));
        p.drawLine(QPointF(13, 13), QPointF(13, 24));
        p.drawLine(QPointF(19, 13), QPointF(19, 24));
    } else if (key == QLatin1String("print")) {
        p.setBrush(Qt::white);
        p.drawRect(QRectF(9, 4, 14, 9));
        p.setBrush(kTeal);
        p.drawRoundedRect(QRectF(4, 12, 24, 11), 2, 2);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(9, 19, 14, 9));
    } else {  // "class": a folder of departments
        p.setBrush(kLeaf);
        p.drawRoundedRect(QRectF(4, 8, 24, 18), 2, 2);
        p.drawLine(QPointF(4, 8), QPointF(12, 8));
    }
    return pm;
}

QPixmap treePixmap(const QString &key)
{
    QPixmap pm = blank(16, 16);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kDeep, 1));
    if (key == QLatin1String("class")) {
        p.setBrush(QColor(0xf0, 0xc0, 0x50));
        p.drawRoundedRect(QRectF(1.5, 4.5, 13, 9), 1.5, 1.5);
        p.drawRect(QRectF(1.5, 2.5, 5, 2));
    } else {
        p.setBrush(kTeal);
        p.drawRoundedRect(QRectF(2.5, 2.5, 11, 11), 2, 2);
        p.setPen(QPen(Qt::white, 2));
        p.drawLine(QPointF(8, 5), QPointF(8, 11));
        p.drawLine(QPointF(5, 8), QPointF(11, 8));
    }
    return pm;
}

}  // namespace xs
