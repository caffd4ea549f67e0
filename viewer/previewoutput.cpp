// CPreviewDlg's look at the actual output: the current picture encoded as a
// run would write it, decoded again and shown at 100 % beside the source as
// read, with its size and an estimate of the whole list's.
#include "viewer/previewdlg.h"

#include "controls/animatedpicture.h"
#include "imaging/formats.h"
#include "viewer/viewerinfo.h"

#include <QKeyEvent>
#include <QPainter>

namespace {

constexpr int kOverlayMargin = 16; // from the window's corner, as the info box
constexpr int kSplitGrip = 6;      // how near the line a press takes it

QString FormatName(std::uint32_t type)
{
    const ImageFormat *format = FormatByType(type);
    return format ? QString::fromLatin1(format->name).toUpper() : QString();
}

} // namespace

bool CPreviewDlg::CanShowOutput() const
{
    return m_model.Mode() == MODE_SELECTED && m_model.HasCurrent();
}

void CPreviewDlg::OnActualOutput()
{
    if (m_bOutputMode) {
        m_bOutputMode = false;
        m_bSplitDragging = false;
        m_pOutputWork->Cancel();
        m_pOutputWork->CancelEstimate();
        m_bEstimating = false;
        m_pOutput.reset();
        ShowImage(m_model.Index());
        return;
    }
    if (!CanShowOutput())
        return;
    if (!m_pOutputWork) {
        m_pOutputWork = new viewout::COutputPreview(m_settings, this);
        connect(m_pOutputWork, &viewout::COutputPreview::Ready, this, &CPreviewDlg::OnOutputReady);
        connect(m_pOutputWork, &viewout::COutputPreview::Estimated, this, &CPreviewDlg::OnEstimated);
    }
    m_bOutputMode = true;
    m_outputView = OutputView::Split;
    if (!m_estimate && !m_bEstimating) {
        m_bEstimating = true;
        m_pOutputWork->RequestEstimate(m_model.Paths());
    }
    ShowImage(m_model.Index());
}

void CPreviewDlg::ShowOutputFor(const QString &path)
{
    // Whatever was shown goes: nothing of another page stays on screen.
    m_picture->UnloadPicture();
    m_picture->hide();
    DropDecoded();
    m_shownPath.clear();
    m_pRefineTimer->stop();
    m_pOutput.reset();
    m_bDragging = m_bSplitDragging = false;
    ClearLayout();
    m_pOutputWork->Request(path);
    Repaint();
    UpdateCursor();
}

void CPreviewDlg::OnOutputReady(const viewout::Result &result)
{
    if (!m_bOutputMode || !m_model.HasCurrent() || result.path != m_model.Current())
        return;
    m_pOutput = std::make_shared<const viewout::Result>(result);
    LayoutOutput();
    UpdateCursor();
    FlashInfo();
}

void CPreviewDlg::OnEstimated(const viewout::Estimate &estimate)
{
    m_bEstimating = false;
    m_estimate = estimate;
    if (m_bOutputMode)
        Repaint();
}

void CPreviewDlg::LayoutOutput(bool keepView)
{
    const viewout::Result *r = m_pOutput.get();
    if (!r || r->output.isNull()) {
        ClearLayout();
        Repaint();
        return;
    }
    // 100 %: a picture pixel to a device pixel, whatever the screen's scale.
    const double dpr = devicePixelRatioF();
    const auto layoutOf = [&](const QImage &img) {
        return viewgeom::LayoutImage(viewgeom::ActualSize({img.width(), img.height()}, dpr), m_screen);
    };
    const viewgeom::Size before = m_szCanvas;
    m_outputLayout = layoutOf(r->output);
    m_sourceLayout = r->source.isNull() ? m_outputLayout : layoutOf(r->source);
    const auto area = [](const viewgeom::Layout &l) { return qint64(l.canvas.width) * l.canvas.height; };
    const viewgeom::Layout &lead = m_outputView == OutputView::Output            ? m_outputLayout
                                   : m_outputView == OutputView::Source          ? m_sourceLayout
                                   : area(m_sourceLayout) > area(m_outputLayout) ? m_sourceLayout
                                                                                 : m_outputLayout;
    m_rcImage = lead.image;
    m_szCanvas = lead.canvas;
    if (keepView) {
        m_view.scrollX =
            viewgeom::FollowingScroll(m_view.scrollX, before.width, m_szCanvas.width, m_screen.width);
        m_view.scrollY =
            viewgeom::FollowingScroll(m_view.scrollY, before.height, m_szCanvas.height, m_screen.height);
    } else {
        // The middle of a large picture first: its detail, not a corner of sky.
        m_view.scrollX =
            viewgeom::ClampScroll((m_szCanvas.width - m_screen.width) / 2, m_szCanvas.width, m_screen.width);
        m_view.scrollY = viewgeom::ClampScroll((m_szCanvas.height - m_screen.height) / 2, m_szCanvas.height,
                                               m_screen.height);
    }
    m_bCanScroll = m_szCanvas.width > m_screen.width || m_szCanvas.height > m_screen.height;
    if (m_nSplitX < 0 || m_nSplitX > width())
        m_nSplitX = width() / 2;
    Repaint();
}

QStringList CPreviewDlg::GetOutputLines() const
{
    QStringList lines;
    const viewout::Result *r = m_pOutput.get();
    if (!r) {
        lines << tr("正在生成实际输出…");
    } else if (!r->error.isEmpty()) {
        lines << tr("无法生成输出: %1").arg(r->error);
    } else {
        const QString size = viewout::ByteSizeText(r->bytes);
        const QString pixels = tr("%1 × %2 像素").arg(r->output.width()).arg(r->output.height());
        if (r->kind == OutputBytes::Kind::Copied)
            lines << tr("原样复制: %1, %2").arg(size, pixels);
        else if (r->quality > 0) // chosen by the size limit
            lines << tr("实际输出 %1: %2, %3, 质量 %4").arg(FormatName(r->outType), size, pixels).arg(r->quality);
        else
            lines << tr("实际输出 %1: %2, %3").arg(FormatName(r->outType), size, pixels);
    }
    if (m_estimate && m_estimate->samples > 0)
        lines << tr("估计总大小: ~%1 (%2 个样本)")
                     .arg(viewout::ShortByteSize(m_estimate->total))
                     .arg(m_estimate->samples);
    else if (m_estimate)
        lines << tr("无法估计总大小");
    else
        lines << tr("正在估计总大小…");
    lines << tr("Tab: 切换原图/输出   S: 分屏   O: 返回预览");
    return lines;
}

void CPreviewDlg::RenderOutput(QPainter &p)
{
    const viewout::Result *r = m_pOutput.get();
    if (r && !r->output.isNull()) {
        const double dpr = devicePixelRatioF();
        // Each picture is drawn on its own canvas, scrolled to the same part
        // of it as the leading one.
        const auto draw = [&](const QImage &img, const viewgeom::Layout &layout, const QRectF &clip) {
            const int x = viewgeom::FollowingScroll(m_view.scrollX, m_szCanvas.width, layout.canvas.width,
                                                    m_screen.width);
            const int y = viewgeom::FollowingScroll(m_view.scrollY, m_szCanvas.height, layout.canvas.height,
                                                    m_screen.height);
            const viewgeom::VisiblePart part = viewgeom::VisibleActualPart(
                layout.image, x, y, {width(), height()}, {img.width(), img.height()}, dpr);
            if (part.IsEmpty())
                return;
            p.save();
            p.setClipRect(clip);
            p.drawImage(part.target, img, part.source);
            p.restore();
        };
        const QImage &source = r->source.isNull() ? r->output : r->source;
        const QRectF all(0, 0, width(), height());
        if (m_outputView == OutputView::Split) {
            draw(source, m_sourceLayout, QRectF(0, 0, m_nSplitX, height()));
            draw(r->output, m_outputLayout, QRectF(m_nSplitX, 0, width() - m_nSplitX, height()));
            p.setPen(QPen(QColor(0, 0, 0, 160), 3));
            p.drawLine(m_nSplitX, 0, m_nSplitX, height());
            p.setPen(QPen(QColor(255, 255, 255), 1));
            p.drawLine(m_nSplitX, 0, m_nSplitX, height());
        } else if (m_outputView == OutputView::Output) {
            draw(r->output, m_outputLayout, all);
        } else {
            draw(source, m_sourceLayout, all);
        }
    }
    p.setFont(m_info->font());
    const QFontMetrics metrics = p.fontMetrics();
    // Which side is which, at the top of the line (or of the screen).
    const QString sourceLabel = tr("原图"), outputLabel = tr("输出");
    if (r && !r->output.isNull()) {
        const int gap = kOverlayMargin / 2;
        if (m_outputView == OutputView::Split) {
            const QSize left = OverlayBoxSize(metrics, {sourceLabel});
            PaintOverlayBox(p, QRect(QPoint(m_nSplitX - gap - left.width(), kOverlayMargin), left),
                            {sourceLabel});
            PaintOverlayBox(
                p, QRect(QPoint(m_nSplitX + gap, kOverlayMargin), OverlayBoxSize(metrics, {outputLabel})),
                {outputLabel});
        } else {
            const QString label = m_outputView == OutputView::Output ? outputLabel : sourceLabel;
            const QSize box = OverlayBoxSize(metrics, {label});
            PaintOverlayBox(p, QRect(QPoint((width() - box.width()) / 2, kOverlayMargin), box), {label});
        }
    }
    const QStringList lines = GetOutputLines();
    QSize box = OverlayBoxSize(metrics, lines);
    box.setWidth(qMin(box.width(), width() - 2 * kOverlayMargin));
    PaintOverlayBox(p, QRect(QPoint(kOverlayMargin, kOverlayMargin + metrics.height() * 2), box), lines);
}

bool CPreviewDlg::OnOutputKey(QKeyEvent *event)
{
    const int key = event->key();
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))
        return false;
    if (key == Qt::Key_O) {
        OnActualOutput();
        return true;
    }
    if (!m_bOutputMode)
        return false;
    if (key == Qt::Key_Tab) {
        m_outputView = m_outputView == OutputView::Output ? OutputView::Source : OutputView::Output;
    } else if (key == Qt::Key_Backtab || key == Qt::Key_S) {
        m_outputView = OutputView::Split;
    } else {
        return false;
    }
    LayoutOutput(true);
    return true;
}

bool CPreviewDlg::NearSplit(QPoint p) const
{
    return m_bOutputMode && m_outputView == OutputView::Split && m_pOutput && !m_pOutput->output.isNull() &&
           std::abs(p.x() - m_nSplitX) <= kSplitGrip;
}
