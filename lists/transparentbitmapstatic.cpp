#include "lists/transparentbitmapstatic.h"

#include <QPainter>

TransparentBitmapStatic::TransparentBitmapStatic(QWidget *parent) : QLabel(parent) {}

QImage TransparentBitmapStatic::KeyOut(const QImage &picture)
{
    QImage out = picture.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x)
            if ((line[x] | 0xFF000000u) == kKeyColour)
                line[x] = 0;
    }
    return out;
}

void TransparentBitmapStatic::paintEvent(QPaintEvent *event)
{
    const QPixmap picture = pixmap();
    if (picture.isNull()) {
        QLabel::paintEvent(event);
        return;
    }
    if (picture.cacheKey() != m_cachedKey || m_keyed.isNull()) {
        m_keyed = QPixmap::fromImage(KeyOut(picture.toImage()));
        m_cachedKey = picture.cacheKey();
    }
    // Drawn at the top-left corner at its own size, clipped to the control.
    QPainter painter(this);
    painter.setClipRect(rect());
    painter.drawPixmap(0, 0, m_keyed);
}
