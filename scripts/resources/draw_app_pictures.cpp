// Draws the application's pictures: the icon, the three rotation pictures,
// the two splitter cursors and the link cursor. Run by app_pictures.sh; the
// PNGs it writes are committed under resources/app.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <cstdio>

namespace {

const QColor kKey(214, 211, 206); // made transparent where the rotation pictures are shown
const QColor kInk(31, 78, 140);

QImage Blank(int w, int h, const QColor &fill = Qt::transparent)
{
    QImage img(w, h, QImage::Format_ARGB32);
    img.fill(fill);
    return img;
}

bool Save(const QImage &img, const QString &dir, const QString &name)
{
    const bool ok = img.save(dir + "/" + name, "PNG");
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(name));
    return ok;
}

// A photo frame: white border, sky, hill and sun. Coordinates are in a
// 256-unit square.
void PhotoFrame(QPainter &p, const QRectF &r, bool detailed)
{
    const qreal border = r.width() * 0.09;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 60));
    p.drawRoundedRect(r.translated(4, 6), 10, 10);
    p.setBrush(Qt::white);
    p.drawRoundedRect(r, 10, 10);
    const QRectF inner = r.adjusted(border, border, -border, -border);
    p.setBrush(QColor(150, 205, 245));
    p.drawRect(inner);
    if (!detailed)
        return;
    p.save();
    p.setClipRect(inner);
    p.setBrush(QColor(255, 196, 60));
    p.drawEllipse(QPointF(inner.right() - inner.width() * 0.27, inner.top() + inner.height() * 0.3),
                  inner.width() * 0.12, inner.width() * 0.12);
    QPainterPath hill;
    hill.moveTo(inner.left(), inner.bottom());
    hill.lineTo(inner.left(), inner.top() + inner.height() * 0.72);
    hill.quadTo(inner.left() + inner.width() * 0.35, inner.top() + inner.height() * 0.35,
                inner.left() + inner.width() * 0.62, inner.top() + inner.height() * 0.7);
    hill.quadTo(inner.left() + inner.width() * 0.8, inner.top() + inner.height() * 0.6, inner.right(),
                inner.top() + inner.height() * 0.68);
    hill.lineTo(inner.right(), inner.bottom());
    hill.closeSubpath();
    p.setBrush(QColor(70, 160, 90));
    p.drawPath(hill);
    p.restore();
}

QImage Icon(int size)
{
    QImage img = Blank(size, size);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);
    QLinearGradient back(0, 0, 0, 256);
    back.setColorAt(0, QColor(64, 138, 205));
    back.setColorAt(1, QColor(28, 70, 130));
    p.setPen(Qt::NoPen);
    p.setBrush(back);
    p.drawRoundedRect(QRectF(8, 8, 240, 240), 52, 52);
    const bool detailed = size >= 24;
    if (size >= 32) {
        // The stack behind the front picture says "many pictures".
        p.setOpacity(0.55);
        PhotoFrame(p, QRectF(84, 40, 132, 104), false);
        p.setOpacity(0.8);
        PhotoFrame(p, QRectF(62, 64, 132, 104), false);
        p.setOpacity(1);
        PhotoFrame(p, QRectF(40, 90, 140, 112), detailed);
    } else {
        PhotoFrame(p, QRectF(36, 56, 184, 144), detailed);
    }
    return img;
}

QPainterPath ArrowHead(QPointF tip, qreal angleDeg, qreal length)
{
    const qreal a = angleDeg * M_PI / 180;
    const QPointF dir(std::cos(a), -std::sin(a));
    const QPointF normal(-dir.y(), dir.x());
    QPainterPath head;
    head.moveTo(tip);
    head.lineTo(tip - dir * length + normal * length * 0.7);
    head.lineTo(tip - dir * length - normal * length * 0.7);
    head.closeSubpath();
    return head;
}

// A circular arrow on the key colour. Angles are Qt's: degrees, counter-clockwise from 3 o'clock.
QImage Rotation(qreal startDeg, qreal spanDeg, qreal drop, int scale)
{
    QImage img = Blank(20 * scale, 20 * scale, kKey);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    const QRectF circle(3.5, 4 + drop, 13, 13);
    p.setPen(QPen(kInk, 2.0, Qt::SolidLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    QPainterPath arc;
    arc.arcMoveTo(circle, startDeg);
    arc.arcTo(circle, startDeg, spanDeg);
    p.drawPath(arc);
    // The head points along the arc's direction at its end.
    const qreal end = startDeg + spanDeg;
    const QPointF tip = arc.currentPosition();
    const qreal tangent = end + (spanDeg > 0 ? 90 : -90);
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawPath(ArrowHead(tip + QPointF(std::cos(tangent * M_PI / 180), -std::sin(tangent * M_PI / 180)) * 2.2,
                         tangent, 6.5));
    return img;
}

// A double arrow across two bars: vertical bars with left/right arrows when
// horizontal is true, else horizontal bars with up/down arrows.
QImage SplitterCursor(bool horizontal, int scale)
{
    QImage img = Blank(32 * scale, 32 * scale);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    QPainterPath shape;
    shape.addRect(QRectF(13, 6, 2, 20));
    shape.addRect(QRectF(17, 6, 2, 20));
    shape.addRect(QRectF(6, 15, 20, 2));
    shape.addPath(ArrowHead(QPointF(2, 16), 180, 6));
    shape.addPath(ArrowHead(QPointF(30, 16), 0, 6));
    shape.setFillRule(Qt::WindingFill);
    shape = shape.simplified();
    if (!horizontal) {
        QTransform turn;
        turn.translate(16, 16).rotate(90).translate(-16, -16);
        shape = turn.map(shape);
    }
    p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::black);
    p.drawPath(shape);
    p.setPen(Qt::NoPen);
    p.drawPath(shape);
    return img;
}

// A small pointing hand; its fingertip is the hot spot (10, 1).
QImage LinkCursor(int scale)
{
    QImage img = Blank(32 * scale, 32 * scale);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    QPainterPath hand;
    hand.addRoundedRect(QRectF(8, 1, 4.6, 15), 2.3, 2.3);
    hand.addRoundedRect(QRectF(12.2, 8, 4.2, 9), 2, 2);
    hand.addRoundedRect(QRectF(16, 9, 4.2, 8), 2, 2);
    hand.addRoundedRect(QRectF(19.8, 10.5, 3.8, 7), 1.9, 1.9);
    QPainterPath palm;
    palm.moveTo(8, 12);
    palm.lineTo(23.6, 13);
    palm.lineTo(23.6, 19);
    palm.quadTo(23.6, 24, 20, 26);
    palm.lineTo(12, 26);
    palm.quadTo(9, 24, 7, 21);
    palm.lineTo(3, 15.5);
    palm.quadTo(2.4, 13.3, 4.5, 13.2);
    palm.lineTo(8, 16);
    palm.closeSubpath();
    hand.addPath(palm);
    hand.setFillRule(Qt::WindingFill);
    hand = hand.simplified();
    p.setPen(QPen(Qt::black, 1.1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::white);
    p.drawPath(hand);
    // Knuckle lines.
    p.setPen(QPen(Qt::black, 0.8));
    p.drawLine(QPointF(12.4, 13), QPointF(12.4, 16.5));
    p.drawLine(QPointF(16.2, 13.5), QPointF(16.2, 16.5));
    p.drawLine(QPointF(19.9, 14), QPointF(19.9, 17));
    return img;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(dir);
    bool ok = true;
    for (int size : {16, 24, 32, 48, 64, 128, 256, 512})
        ok &= Save(Icon(size), dir, QString("icon-%1.png").arg(size));
    // Each picture once at its size and once at twice it ("@2x") for a
    // screen scaled by two; the drawing is the same.
    for (int scale : {1, 2}) {
        const QString at = scale == 1 ? QString() : QString("@%1x").arg(scale);
        // The circle is open at the top; the head points into the opening.
        ok &= Save(Rotation(125, 275, 0, scale), dir, "rotate-left" + at + ".png"); // -90: counter-clockwise
        ok &= Save(Rotation(55, -275, 0, scale), dir, "rotate-right" + at + ".png"); // 90: clockwise
        ok &= Save(Rotation(0, 175, 3, scale), dir, "rotate-180" + at + ".png");     // half a turn, drawn lower
        ok &= Save(SplitterCursor(true, scale), dir, "split-vertical" + at + ".png");
        ok &= Save(SplitterCursor(false, scale), dir, "split-horizontal" + at + ".png");
        ok &= Save(LinkCursor(scale), dir, "link" + at + ".png");
    }
    return ok ? 0 : 1;
}
