// PDF documents: each page rendered by Poppler on white paper, at a DPI or
// at the size the caller asks for. Every decode loads its own document:
// Poppler's objects are not shared between threads.
#include "imaging/codecs/codecs.h"
#include "imaging/codecs/rendersize.h"
#include "imaging/codecs/probes.h"

#include <poppler-qt6.h>

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>
#include <QVariant>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <string>

namespace {

using cxcodec::RefuseImage;

// A page's size is in points, 72 to the inch.
constexpr double kPointsPerInch = 72.0;
// Rendering one page may take this long before it is given up.
constexpr auto kRenderBudget = std::chrono::seconds(30);

// Poppler reports damage through qDebug by default; the file's error says
// what the caller needs.
void Quiet(const QString &, const QVariant &) {}

std::unique_ptr<Poppler::Document> Load(const std::uint8_t *data, std::size_t size, std::string &why)
{
    static std::once_flag silenced;
    std::call_once(silenced, [] { Poppler::setDebugErrorFunction(Quiet, QVariant()); });
    if (!data || size == 0 || size > std::size_t(std::numeric_limits<qsizetype>::max())) {
        why = "damaged PDF: the file is empty";
        return nullptr;
    }
    // The bytes outlive the document: it is closed before the decode returns.
    std::unique_ptr<Poppler::Document> doc = Poppler::Document::loadFromData(
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size)));
    if (!doc) {
        why = "damaged PDF: Poppler cannot read the document";
        return nullptr;
    }
    if (doc->isLocked()) {
        why = "the document needs a password";
        return nullptr;
    }
    if (doc->numPages() <= 0) {
        why = "damaged PDF: the document has no pages";
        return nullptr;
    }
    return doc;
}

// What the abort callback reads: the run's cancel and the page's deadline.
struct RenderWatch {
    const std::atomic<bool> *cancel = nullptr;
    std::chrono::steady_clock::time_point deadline;
    bool late = false;
};

bool ShouldAbort(const QVariant &payload)
{
    auto *watch = reinterpret_cast<RenderWatch *>(payload.value<quintptr>());
    if (watch->cancel && watch->cancel->load())
        return true;
    watch->late = std::chrono::steady_clock::now() > watch->deadline;
    return watch->late;
}

// The page's own size at dpi; false when it has none or passes the limits.
bool OwnSize(const QSizeF &points, int dpi, int &width, int &height)
{
    const double w = points.width() * dpi / kPointsPerInch, h = points.height() * dpi / kPointsPerInch;
    if (!(w > 0 && h > 0 && w <= CxImage::kMaxDimension && h <= CxImage::kMaxDimension &&
          w * h <= double(CxImage::kMaxPixels)))
        return false;
    width = std::max(1, int(std::lround(w)));
    height = std::max(1, int(std::lround(h)));
    return cxcodec::FitsPixelLimits(width, height);
}


bool TakeRendered(const QImage &rendered, CxImage &out)
{
    const QImage canvas = rendered.convertToFormat(QImage::Format_RGB32);
    const int w = canvas.width(), h = canvas.height();
    if (canvas.isNull() || !CxImageAccess::CreateForDecode(out, w, h, 24, CXIMAGE_FORMAT_PDF))
        return RefuseImage(out, "out of memory");
    for (int y = 0; y < h; ++y) {
        const QRgb *s = reinterpret_cast<const QRgb *>(canvas.constScanLine(y));
        BYTE *dst = out.GetBits(y);
        for (int x = 0; x < w; ++x) {
            dst[3 * x] = BYTE(qBlue(s[x]));
            dst[3 * x + 1] = BYTE(qGreen(s[x]));
            dst[3 * x + 2] = BYTE(qRed(s[x]));
        }
    }
    return true;
}

} // namespace

namespace cxcodec {

bool IsPdf(const std::uint8_t *data, std::size_t size)
{
    const std::size_t n = std::min<std::size_t>(size, 1024);
    for (std::size_t at = 0; at + 5 <= n; ++at)
        if (data[at] == '%' && std::memcmp(data + at, "%PDF-", 5) == 0)
            return true;
    return false;
}

int CountPdfPages(const std::uint8_t *data, std::size_t size)
{
    std::string why;
    const std::unique_ptr<Poppler::Document> doc = Load(data, size, why);
    return doc ? doc->numPages() : 0;
}

bool DecodePdf(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req)
{
    std::string why;
    const std::unique_ptr<Poppler::Document> doc = Load(data, size, why);
    if (!doc)
        return RefuseImage(out, why.c_str());
    const int number = std::max(req.page, 1);
    if (number > doc->numPages())
        return RefuseImage(out, "the document has no such page");
    const std::unique_ptr<Poppler::Page> page = doc->page(number - 1);
    if (!page)
        return RefuseImage(out, "damaged PDF: a page cannot be read");
    const QSizeF points = page->pageSizeF();
    const int dpi = req.renderDpi > 0 ? req.renderDpi : kPdfDefaultDpi;
    int ownW = 0, ownH = 0;
    if (!(points.width() > 0 && points.height() > 0))
        return RefuseImage(out, "damaged PDF: the page has no size");
    if (!OwnSize(points, dpi, ownW, ownH))
        return RefuseImage(out, "the page's size is over the picture limits");
    double w = 0, h = 0;
    cxcodec::RenderSize(req, ownW, ownH, w, h);
    if (!FitsPixelLimits((long long)std::min(w, 1e12), (long long)std::min(h, 1e12)))
        return RefuseImage(out, "the size to render the page at is over the picture limits");
    if (req.cancel && req.cancel->load())
        return RefuseImage(out, "cancelled");

    doc->setRenderHint(Poppler::Document::Antialiasing);
    doc->setRenderHint(Poppler::Document::TextAntialiasing);
    doc->setPaperColor(Qt::white);
    // The resolution that makes the page cover w x h; the box cuts any
    // pixel rounding adds.
    const double xres = w * kPointsPerInch / points.width(), yres = h * kPointsPerInch / points.height();
    RenderWatch watch{req.cancel, std::chrono::steady_clock::now() + kRenderBudget};
    const QImage rendered =
        page->renderToImage(xres, yres, 0, 0, int(w), int(h), Poppler::Page::Rotate0, nullptr, nullptr,
                            ShouldAbort, QVariant::fromValue(reinterpret_cast<quintptr>(&watch)));
    if (req.cancel && req.cancel->load())
        return RefuseImage(out, "cancelled");
    if (watch.late)
        return RefuseImage(out, "the page took longer than 30 seconds to render");
    if (rendered.isNull())
        return RefuseImage(out, "damaged PDF: Poppler cannot render the page");
    if (!TakeRendered(rendered, out))
        return false;
    CxImageAccess::SetSourceSize(out, ownW, ownH);
    return true;
}

} // namespace cxcodec

namespace cxprobe {

bool ProbePdf(const std::uint8_t *data, std::size_t size, ImageHeader &h)
{
    std::string why;
    const std::unique_ptr<Poppler::Document> doc = Load(data, size, why);
    const std::unique_ptr<Poppler::Page> page = doc ? doc->page(0) : nullptr;
    int w = 0, ht = 0;
    if (!page || !OwnSize(page->pageSizeF(), cxcodec::kPdfDefaultDpi, w, ht))
        return false;
    h.width = w;
    h.height = ht;
    h.orientation = 1;
    h.frames = 1;
    h.hasProfile = false;
    return true;
}

} // namespace cxprobe
