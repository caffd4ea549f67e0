// Text burnt into images (the stamp) and scaled drawing onto a painter.
#include "imaging/cxtext.h"

#include "imaging/cximage.h"
#include "imaging/pixelops.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr int kDefaultPixels = 16;
constexpr int kMaxFontPixels = 20000;

// Metrics are taken against an image, the device the text is drawn on, so
// measured and drawn advances agree.
QFontMetricsF Metrics(const QFont &font)
{
    static const QImage device(1, 1, QImage::Format_ARGB32_Premultiplied);
    return QFontMetricsF(font, &device);
}

QStringList SplitLines(const std::string &utf8)
{
    QString s = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
    s.remove(QLatin1Char('\r'));
    return s.split(QLatin1Char('\n'));
}

// Everything needed to place the lines of one text.
struct Layout {
    QFont font;
    QStringList lines;
    std::vector<qreal> widths;
    qreal widest = 0;
    qreal ascent = 0;
    qreal descent = 0;
    qreal lineSpacing = 0;

    Layout(const LOGFONT &lf, const std::string &utf8) : font(FontFromLogFont(lf)), lines(SplitLines(utf8))
    {
        const QFontMetricsF fm = Metrics(font);
        ascent = fm.ascent();
        descent = fm.descent();
        lineSpacing = fm.lineSpacing();
        for (const QString &line : lines) {
            widths.push_back(fm.horizontalAdvance(line));
            widest = std::max(widest, widths.back());
        }
    }

    // Left end of line i's baseline, relative to the first line's.
    QPointF Origin(int i, int align) const
    {
        const qreal w = widths[std::size_t(i)];
        const qreal dx = align == 1 ? (widest - w) / 2 : (align == 2 ? widest - w : 0);
        return QPointF(dx, i * lineSpacing);
    }

    // The box behind the text, in the same coordinates.
    QRectF Box(int outline) const
    {
        const qreal pad = std::max<qreal>(2, ascent / 8) + outline / 2.0;
        return QRectF(-pad, -ascent - pad, widest + 2 * pad,
                      (lines.size() - 1) * lineSpacing + ascent + descent + 2 * pad);
    }
};

QColor FromColorRef(COLORREF c, int alpha = 255)
{
    return QColor(GetRValue(c), GetGValue(c), GetBValue(c), alpha);
}

// Paints box and text with (0, 0) at the first baseline's left end.
void PaintText(QPainter &p, const Layout &layout, const CXTEXTINFO &info)
{
    p.setRenderHint(QPainter::Antialiasing, info.smooth);
    p.setRenderHint(QPainter::TextAntialiasing, info.smooth);
    if (info.opaque) {
        const int opacity = std::clamp(info.b_opacity, 0, 100);
        p.setBrush(FromColorRef(info.bcolor, (255 * (100 - opacity) + 50) / 100));
        if (info.b_outline > 0)
            p.setPen(QPen(FromColorRef(info.fcolor), info.b_outline));
        else
            p.setPen(Qt::NoPen);
        const QRectF box = layout.Box(std::max(0, info.b_outline));
        const qreal radius = std::clamp<qreal>(info.b_round, 0, std::min(box.width(), box.height()) / 2);
        if (radius > 0)
            p.drawRoundedRect(box, radius, radius);
        else
            p.drawRect(box);
    }
    QFont font = layout.font;
    font.setStyleStrategy(info.smooth ? QFont::PreferAntialias : QFont::NoAntialias);
    p.setFont(font);
    p.setPen(FromColorRef(info.fcolor));
    for (int i = 0; i < layout.lines.size(); ++i)
        p.drawText(layout.Origin(i, info.align), layout.lines[i]);
}

}  // namespace

QFont FontFromLogFont(const LOGFONT &lf)
{
    QFont font;
    font.setStyleHint(QFont::SansSerif);
    const QString face = QString::fromUtf8(lf.lfFaceName, qsizetype(strnlen(lf.lfFaceName, LF_FACESIZE)));
    // An unknown face is substituted by the font matcher (fontconfig).
    font.setFamilies({face.isEmpty() ? QStringLiteral("Sans Serif") : face});

    const std::int64_t h = lf.lfHeight;
    int pixels = kDefaultPixels;
    if (h < 0) {
        pixels = int(std::min<std::int64_t>(-h, kMaxFontPixels));  // character (em) height
    } else if (h > 0) {
        // Cell height: ascent plus descent of the face at that size.
        QFont probe(font);
        probe.setPixelSize(1000);
        const QFontMetricsF fm = Metrics(probe);
        const qreal cell = fm.ascent() + fm.descent();
        const qreal em = cell > 0 ? double(std::min<std::int64_t>(h, kMaxFontPixels)) * 1000.0 / cell : double(h);
        pixels = int(std::clamp<qreal>(std::round(em), 1, kMaxFontPixels));
    }
    font.setPixelSize(std::max(1, pixels));

    if (lf.lfWeight > 0)
        font.setWeight(QFont::Weight(std::clamp(lf.lfWeight, 1, 1000)));
    font.setItalic(lf.lfItalic != 0);
    font.setUnderline(lf.lfUnderline != 0);
    font.setStrikeOut(lf.lfStrikeOut != 0);

    if (lf.lfWidth != 0) {
        // Width asks for an average character width; stretch is relative to the face's own.
        const qreal average = Metrics(font).averageCharWidth();
        if (average > 0) {
            const qreal want = std::min<qreal>(std::abs(double(lf.lfWidth)), kMaxFontPixels);
            font.setStretch(int(std::clamp<qreal>(std::round(want * 100 / average), 1, 4000)));
        }
    }
    return font;
}

int TextExtentWidth(const LOGFONT &lf, const std::string &utf8)
{
    if (utf8.empty())
        return 0;
    const Layout layout(lf, utf8);
    return int(std::lround(layout.widest));
}

bool CxImage::DrawStringEx(long x, long y, const CXTEXTINFO *pTextType, bool bSetAlpha)
{
    if (!IsValid()) {
        SetError("no image");
        return false;
    }
    if (!pTextType || pTextType->text.empty()) {
        SetError("no text");
        return false;
    }
    if (m_bpp != 24 && !IncreaseBpp(24))
        return false;

    const CXTEXTINFO &info = *pTextType;
    const Layout layout(info.lfont, info.text);
    QTransform place;
    place.translate(double(x), double(y));
    // Escapement turns counter-clockwise on screen, where y grows downwards.
    place.rotate(-info.lfont.lfEscapement / 10.0);

    if (!(bSetAlpha && AlphaIsValid())) {
        // Straight into the pixel rows.
        QImage target(GetBits(0), m_width, m_height, m_stride, QImage::Format_BGR888);
        QPainter p(&target);
        p.setTransform(place);
        PaintText(p, layout, info);
        return true;
    }

    // With alpha the text is composed over the pixels (colour and alpha), so
    // text on transparent areas gets its own colour and no dark edge. Only
    // the area the text can touch is drawn into a layer.
    QRectF extent = layout.Box(std::max(0, info.b_outline));
    extent.adjust(-extent.height(), -extent.height(), extent.height(), extent.height());  // italics, marks
    const QRect area = place.mapRect(extent).toAlignedRect().intersected(QRect(0, 0, m_width, m_height));
    if (area.isEmpty())
        return true;
    QImage layer(area.size(), QImage::Format_ARGB32_Premultiplied);
    if (layer.isNull()) {
        SetError("out of memory");
        return false;
    }
    layer.fill(Qt::transparent);
    {
        QPainter p(&layer);
        QTransform t = place;
        t *= QTransform::fromTranslate(-area.x(), -area.y());
        p.setTransform(t);
        PaintText(p, layout, info);
    }
    for (int row = 0; row < area.height(); ++row) {
        const QRgb *src = reinterpret_cast<const QRgb *>(layer.constScanLine(row));
        BYTE *d = GetBits(area.y() + row) + std::size_t(area.x()) * 3;
        BYTE *a = AlphaGetPointer(area.y() + row) + area.x();
        for (int i = 0; i < area.width(); ++i, d += 3) {
            const int la = qAlpha(src[i]);
            if (la == 0)
                continue;
            // Premultiplied layer over straight pixels.
            const int keep = a[i] * (255 - la);  // old alpha share, scaled by 255
            const int outA = la * 255 + keep;    // scaled by 255
            const int lc[3] = {qBlue(src[i]), qGreen(src[i]), qRed(src[i])};
            for (int c = 0; c < 3; ++c)
                d[c] = BYTE(std::min(255, (lc[c] * 255 * 255 + d[c] * keep + outA / 2) / outA));
            a[i] = BYTE((outA + 127) / 255);
        }
    }
    return true;
}

bool CxImage::Stretch(QPainter *painter, long xoffset, long yoffset, long xsize, long ysize, DWORD dwRop) const
{
    if (!painter || !IsValid() || xsize <= 0 || ysize <= 0 || dwRop != SRCCOPY)
        return false;
    const QRectF target{qreal(xoffset), qreal(yoffset), qreal(xsize), qreal(ysize)};
    const bool shrinks = xsize < m_width || ysize < m_height;
    const bool fits = xsize <= kMaxDimension && ysize <= kMaxDimension &&
                      std::int64_t(xsize) * std::int64_t(ysize) <= kMaxPixels;
    if (shrinks && fits) {
        // Our filter beats the painter's when shrinking: scale first, draw 1:1.
        CxImage scaled;
        if (!cxops::ResampleTo(*this, int(xsize), int(ysize), scaled))
            return false;
        const QImage q = scaled.ToQImage();
        if (q.isNull())
            return false;
        painter->drawImage(target.topLeft(), q);
        return true;
    }
    const QImage q = ToQImage();
    if (q.isNull())
        return false;
    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter->drawImage(target, q);
    painter->restore();
    return true;
}
