#include "app/dialogs/stampfontsample.h"

#include "imaging/cxtext.h"

#include <QPainter>

#include <algorithm>

namespace {

// Big fonts are shown no larger than the sample can hold.
constexpr int kMaxSamplePixels = 48;

} // namespace

CStampFontSample::CStampFontSample(QWidget *parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void CStampFontSample::SetFont(const LOGFONT &lf, COLORREF colour)
{
    m_lf = lf;
    m_colour = colour;
    update();
}

QSize CStampFontSample::sizeHint() const
{
    return QSize(300, kMaxSamplePixels + 24);
}

QColor CStampFontSample::BackgroundFor(COLORREF colour)
{
    const int luma = (GetRValue(colour) * 299 + GetGValue(colour) * 587 + GetBValue(colour) * 114) / 1000;
    return luma > 160 ? QColor(70, 70, 70) : QColor(Qt::white);
}

void CStampFontSample::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.fillRect(rect(), BackgroundFor(m_colour));
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    QFont font = FontFromLogFont(m_lf);
    font.setPixelSize(std::min(font.pixelSize(), kMaxSamplePixels));
    p.setFont(font);
    p.setPen(QColor(GetRValue(m_colour), GetGValue(m_colour), GetBValue(m_colour)));
    p.setClipRect(rect().adjusted(1, 1, -1, -1));
    p.drawText(rect(), Qt::AlignCenter, tr("AaBbYyZz 水印示例"));
}
