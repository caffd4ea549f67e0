#include "viewer/picturework.h"

#include "imaging/codecs/codecs.h"
#include "imaging/colourprofile.h"
#include "imaging/imageheader.h"
#include "imaging/pixelops.h"
#include "imaging/resampledrows.h"
#include "imaging/rowband.h"

#include <QFile>
#include <QFileInfo>
#include <QThreadPool>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace viewwork {

namespace {

// Pictures read ahead are kept within this many bytes (decoded pixels and
// their display copies); the one on screen always stays.
constexpr qint64 kAheadBudget = qint64(512) << 20;
// Priorities in the pool: the picture on screen before those read ahead.
constexpr int kPriorityShown = 1;
constexpr int kPriorityAhead = 0;

std::shared_ptr<CxImage> Decode(const std::string &file, bool autoOrient, const std::atomic<bool> *cancel,
                                CxDecodeRequest req = {})
{
    auto img = std::make_shared<CxImage>();
    req.autoOrient = autoOrient;
    // Shows what arrived of a cut-off file (or what is recovered of damaged
    // JPEG data), as image viewers do; a run still refuses it.
    req.acceptTruncated = true;
    req.cancel = cancel;
    img->Load(file.c_str(), {}, req);
    if (cancel && cancel->load())
        img->Destroy();
    cxcolour::ToSrgb(*img); // the screen is taken as sRGB
    return img;
}

bool IsJpegFile(const std::string &file)
{
    QFile f(QString::fromStdString(file));
    char head[3] = {};
    return f.open(QIODevice::ReadOnly) && f.read(head, 3) == 3 && head[0] == char(0xFF) &&
           head[1] == char(0xD8) && head[2] == char(0xFF);
}

// The pixels as the window draws them fastest: opaque pictures as RGB32,
// others premultiplied.
QImage Drawable(const CxImage &img)
{
    QImage q = img.ToQImage();
    if (q.isNull())
        return q;
    if (!img.AlphaIsValid() && img.GetTransIndex() < 0)
        q.reinterpretAsFormat(QImage::Format_RGB32);
    else
        q.convertTo(QImage::Format_ARGB32_Premultiplied);
    return q;
}

qint64 PictureBytes(const Picture &p)
{
    qint64 bytes = p.display.sizeInBytes();
    if (p.image && p.image->IsValid())
        bytes += qint64(p.image->GetEffWidth()) * p.image->GetHeight();
    return bytes;
}

} // namespace

std::shared_ptr<CxImage> DecodeForViewing(const std::string &file, bool autoOrient,
                                          const std::atomic<bool> *cancel, int page)
{
    CxDecodeRequest req;
    req.page = page;
    auto img = Decode(file, autoOrient, cancel, req);
    if (img->IsValid() || std::strcmp(img->GetLastError(), "image too large") != 0)
        return img;
    if (!IsJpegFile(file)) {
        // Any other picture past it whose rows come in order (a PNG, a TIFF
        // in strips) is shrunk as they come, to about a 64th of the limit:
        // box-averaged first, what is held is a few times that.
        ResampledRows shrunk(
            [](int w, int h, const CxMetadata &, int &width, int &height) {
                const double k = std::sqrt(double(w) * double(h) / double(CxImage::kMaxPixels / 64));
                width = std::max(1, int(w / k));
                height = std::max(1, int(h / k));
                return k > 1;
            },
            true);
        auto reduced = std::make_shared<CxImage>();
        req.autoOrient = autoOrient;
        req.cancel = cancel;
        req.acceptTruncated = true;
        if (reduced->LoadRows(file.c_str(), shrunk, req) && (reduced->IsValid() || shrunk.Take(*reduced, autoOrient)) &&
            !(cancel && cancel->load())) {
            cxcolour::ToSrgb(*reduced);
            return reduced;
        }
        return img;
    }
    // A JPEG past it is shown from a reduced decode: the largest of its
    // scales (1/2, 1/4, 1/8) within a quarter of the limit.
    req.hintRule = [](int w, int h, int &hintW, int &hintH) {
        int k = 2;
        while (k < 8 && (std::int64_t(w) / k) * (std::int64_t(h) / k) > CxImage::kMaxPixels / 4)
            k *= 2;
        hintW = std::max(1, w / k);
        hintH = std::max(1, h / k);
    };
    return Decode(file, autoOrient, cancel, req);
}

FirstLook DecodeFirstLook(const std::string &file, bool autoOrient, bool fullSize, viewgeom::Size screen)
{
    FirstLook look;
    if (screen.width <= 0 || screen.height <= 0)
        return look;
    // A camera raw file shows its embedded preview first, when that covers
    // the screen, while the sensor data is developed.
    const bool raw = !fullSize && ProbeImageType(file.c_str()) == CXIMAGE_FORMAT_RAW;
    if (!raw && !IsJpegFile(file))
        return look;
    const bool progressive = !raw && CxImage::DecodeScratchBytes(file.c_str()) > 0;
    look.region = fullSize && !progressive;
    CxDecodeRequest req;
    req.embeddedPreview = raw;
    if (progressive) {
        req.coarse = true;
    } else if (fullSize) {
        req.regionWidth = screen.width;
        req.regionHeight = screen.height;
    } else {
        req.hintRule = [screen](int w, int h, int &hintW, int &hintH) {
            const viewgeom::Size fitted = viewgeom::DisplaySize(w, h, false, 1.0f, false, screen);
            hintW = fitted.width;
            hintH = fitted.height;
        };
    }
    auto img = Decode(file, autoOrient, nullptr, std::move(req));
    if (img->IsValid())
        look.image = std::move(img);
    return look;
}

DetailPlan PlanDetail(viewgeom::Size natural, viewgeom::Size held, const WinRect &shown, int scrollX,
                      int scrollY, viewgeom::Size window, bool scaledDecode)
{
    DetailPlan plan;
    const int shownW = shown.Width(), shownH = shown.Height();
    if (natural.width <= 0 || natural.height <= 0 || shownW <= held.width || shownH <= 0)
        return plan;
    // The strongest of the decoder's scales that still has a pixel for each
    // shown one (scale 1 once the picture is enlarged past its own size).
    const auto side = [](int own, int denom) { return (own + denom - 1) / denom; };
    int denom = 8;
    while (denom > 1 && side(natural.width, denom) < shownW)
        denom /= 2;
    if (!scaledDecode) {
        // Its own size only: worth it, and small enough, from half of it.
        if (denom > 2)
            return plan;
        denom = 1;
    }
    const viewgeom::Size scaled{side(natural.width, denom), side(natural.height, denom)};
    if (scaled.width <= held.width)
        return plan;
    const viewgeom::VisiblePart part = viewgeom::VisibleImagePart(shown, scrollX, scrollY, window, scaled);
    if (part.IsEmpty())
        return plan;
    // A quarter of the part more on each side, for small moves.
    const QRectF seen = part.source;
    const QRect region =
        seen.adjusted(-seen.width() / 4, -seen.height() / 4, seen.width() / 4, seen.height() / 4)
            .toAlignedRect() &
        QRect(0, 0, scaled.width, scaled.height);
    if (region.isEmpty())
        return plan;
    plan.denom = denom;
    plan.scaled = scaled;
    plan.region = region;
    return plan;
}

bool DecodesScaled(const std::string &file)
{
    return IsJpegFile(file);
}

namespace {

// Rows kept whole, in a picture of their own (a part, small enough to hold).
class HeldRows final : public cxcodec::RowSink {
public:
    CxImage *Begin(int width, int height, int bpp, std::uint32_t type, const CxMetadata &) override
    {
        return cxcodec::FitsPixelLimits(width, height) &&
                       CxImageAccess::CreateForDecode(m_picture, width, height, bpp, type)
                   ? &m_picture
                   : nullptr;
    }
    bool Room(int) override { return true; }
    void Filled(int y) override { m_filled = y + 1; }
    CxImage &Picture() { return m_picture; }
    bool Whole() const { return m_picture.IsValid() && m_filled == m_picture.GetHeight(); }

private:
    CxImage m_picture;
    int m_filled = 0;
};

// The decoder's rows on to next until the last one wanted has gone, or the
// work is called off: the decode then stops.
class RowsUntil final : public cxcodec::RowSink {
public:
    RowsUntil(cxcodec::RowSink &next, int last, const std::atomic<bool> *cancel)
        : m_next(next), m_last(last), m_cancel(cancel)
    {
    }
    CxImage *Begin(int width, int height, int bpp, std::uint32_t type, const CxMetadata &meta) override
    {
        return m_next.Begin(width, height, bpp, type, meta);
    }
    bool Room(int y) override { return m_next.Room(y) && y <= m_last && !(m_cancel && m_cancel->load()); }
    void Filled(int y) override { m_next.Filled(y); }
    bool Wants(int &left, int &top, int &width, int &height) const override
    {
        return m_next.Wants(left, top, width, height);
    }

private:
    cxcodec::RowSink &m_next;
    const int m_last;
    const std::atomic<bool> *m_cancel;
};

// The part of a file whose rows come in order, at its own size: the rows
// above it read and dropped (a TIFF's strips and tiles outside it not even
// read), none below it read.
std::shared_ptr<CxImage> DecodePartOfRows(const std::string &file, bool autoOrient, const QRect &part,
                                          const std::atomic<bool> *cancel)
{
    auto img = std::make_shared<CxImage>();
    CxRowEdits edits;
    edits.region = [part](int width, int height, CxRegion &region) {
        const QRect cut = part & QRect(0, 0, width, height);
        region = {cut.x(), cut.y(), cut.width(), cut.height()};
        return !cut.isEmpty();
    };
    HeldRows held;
    CxFramedRows framed(held, edits);
    RowsUntil until(framed, part.bottom(), cancel);
    CxDecodeRequest req;
    req.autoOrient = autoOrient;
    CxImage whole;
    // A decoder that gives the whole picture instead cannot give the part.
    whole.LoadRows(file.c_str(), until, req);
    if (whole.IsValid() || !held.Whole() || (cancel && cancel->load()))
        return img;
    *img = std::move(held.Picture());
    cxcolour::ToSrgb(*img);
    return img;
}

} // namespace

QImage DecodeDetail(const std::string &file, bool autoOrient, const DetailPlan &plan,
                    const std::atomic<bool> *cancel)
{
    if (plan.denom <= 0 || plan.region.isEmpty())
        return {};
    if (!DecodesScaled(file)) {
        if (plan.denom != 1)
            return {};
        const std::shared_ptr<CxImage> img = DecodePartOfRows(file, autoOrient, plan.region, cancel);
        if (!img->IsValid() || img->GetWidth() != plan.region.width() ||
            img->GetHeight() != plan.region.height())
            return {};
        return Drawable(*img);
    }
    CxDecodeRequest req;
    req.hintWidth = plan.denom > 1 ? plan.scaled.width : 0;
    req.hintHeight = plan.denom > 1 ? plan.scaled.height : 0;
    req.regionLeft = plan.region.x();
    req.regionTop = plan.region.y();
    req.regionWidth = plan.region.width();
    req.regionHeight = plan.region.height();
    const std::shared_ptr<CxImage> img = Decode(file, autoOrient, cancel, req);
    // Anything else (the whole picture, another scale) is not that part.
    if (!img->IsValid() || img->GetWidth() != plan.region.width() || img->GetHeight() != plan.region.height())
        return {};
    return Drawable(*img);
}

bool IsPartial(const CxImage &img)
{
    return img.IsValid() && (img.GetWidth() < img.GetSrcWidth() || img.GetHeight() < img.GetSrcHeight());
}

bool IsReduced(const CxImage &img)
{
    if (!IsPartial(img))
        return false;
    // Each side is the file's divided by the same factor, rounded either way.
    const double k = double(img.GetSrcWidth()) / img.GetWidth();
    return std::abs(img.GetHeight() * k - img.GetSrcHeight()) <= k + 1;
}

bool DisplayFits(QSize display, viewgeom::Size natural, viewgeom::Size shown)
{
    const bool shrunk = shown.width <= natural.width && shown.height <= natural.height &&
                        (shown.width < natural.width || shown.height < natural.height);
    const viewgeom::Size want = shrunk ? shown : natural;
    return display.width() == want.width && display.height() == want.height;
}

QImage DisplayCopy(const CxImage &img, viewgeom::Size shown)
{
    if (!img.IsValid())
        return QImage();
    const viewgeom::Size natural{img.GetWidth(), img.GetHeight()};
    if (!DisplayFits(QSize(natural.width, natural.height), natural, shown)) {
        // Reads the picture only, so several threads may share it.
        CxImage reduced;
        if (cxops::ResampleTo(img, shown.width, shown.height, reduced))
            return Drawable(reduced);
    }
    return Drawable(img);
}

// ---------------------------------------------------------------------------

struct CPictureLoader::Entry {
    QString path;
    qint64 size = -1;
    qint64 modified = 0;
    int page = 0;
    bool ahead = false;
    std::atomic<bool> cancel{false};
    // Under the loader's mutex:
    bool started = false;
    bool done = false;
    Picture picture;
};

CPictureLoader::CPictureLoader(QObject *parent)
    : QObject(parent), m_pool(new QThreadPool(this)), m_displaysPending(std::make_shared<std::atomic<int>>(0))
{
    m_pool->setMaxThreadCount(2);
}

CPictureLoader::~CPictureLoader()
{
    Clear();
    m_pool->waitForDone();
}

void CPictureLoader::Configure(bool autoOrient, Prepare prepare, ShownSize shown)
{
    Clear();
    std::lock_guard lock(m_mutex);
    m_autoOrient = autoOrient;
    m_prepare = std::move(prepare);
    m_shown = std::move(shown);
}

void CPictureLoader::SetPage(const QString &path, int page)
{
    m_strPagePath = page > 1 ? path : QString();
    m_nPage = page > 1 ? page : 0;
}

void CPictureLoader::SetShownSize(ShownSize shown)
{
    std::lock_guard lock(m_mutex);
    m_shown = std::move(shown);
}

std::shared_ptr<CPictureLoader::Entry> CPictureLoader::Find(const QString &path)
{
    const auto it = m_entries.find(path);
    if (it == m_entries.end())
        return nullptr;
    const QFileInfo info(path);
    const int page = path == m_strPagePath ? m_nPage : 0;
    if (info.size() == it->second->size && info.lastModified().toMSecsSinceEpoch() == it->second->modified &&
        it->second->page == page)
        return it->second;
    // The file changed since it was read, or another page is wanted.
    it->second->cancel = true;
    m_entries.erase(it);
    return nullptr;
}

std::shared_ptr<CPictureLoader::Entry> CPictureLoader::NewEntry(const QString &path)
{
    auto e = std::make_shared<Entry>();
    e->path = path;
    const QFileInfo info(path);
    e->size = info.size();
    e->modified = info.lastModified().toMSecsSinceEpoch();
    e->page = path == m_strPagePath ? m_nPage : 0;
    m_entries[path] = e;
    return e;
}

void CPictureLoader::Run(const std::shared_ptr<Entry> &e)
{
    ShownSize shown;
    Prepare prepare;
    bool autoOrient;
    {
        std::lock_guard lock(m_mutex);
        if (e->started)
            return;
        e->started = true;
        shown = m_shown;
        prepare = m_prepare;
        autoOrient = m_autoOrient;
    }
    Picture p;
    const std::string file = e->path.toStdString();
    auto img = DecodeForViewing(file, autoOrient, &e->cancel, e->page);
    if (img->IsValid() && !e->cancel)
        p.pages = CountPages(file.c_str());
    if (img->IsValid() && prepare)
        prepare(*img, e->path);
    if (img->IsValid() && shown && !e->cancel)
        p.display = DisplayCopy(*img, shown({img->GetWidth(), img->GetHeight()}));
    p.image = std::move(img);
    {
        std::lock_guard lock(m_mutex);
        e->picture = std::move(p);
        e->done = true;
    }
    m_done.notify_all();
}

void CPictureLoader::Fetch(const QString &path, bool ahead)
{
    if (m_prepare || Find(path))
        return;
    auto e = NewEntry(path);
    e->ahead = ahead;
    m_pool->start(
        [this, e] {
            Run(e);
            if (!e->cancel)
                QMetaObject::invokeMethod(
                    this,
                    [this, path = e->path] {
                        DropOverBudget();
                        emit Fetched(path);
                    },
                    Qt::QueuedConnection);
        },
        ahead ? kPriorityAhead : kPriorityShown);
}

bool CPictureLoader::Take(const QString &path, Picture &picture)
{
    const auto e = Find(path);
    std::lock_guard lock(m_mutex);
    if (!e || !e->done)
        return false;
    e->ahead = false;
    picture = e->picture;
    return true;
}

Picture CPictureLoader::Wait(const QString &path)
{
    auto e = Find(path);
    if (!e)
        e = NewEntry(path);
    e->ahead = false;
    Run(e); // returns at once when a background read has it
    std::unique_lock lock(m_mutex);
    m_done.wait(lock, [&] { return e->done; });
    return e->picture;
}

void CPictureLoader::Keep(const QString &path, const Picture &picture)
{
    auto e = Find(path);
    if (!e)
        e = NewEntry(path);
    std::lock_guard lock(m_mutex);
    e->started = e->done = true;
    e->ahead = false;
    e->picture = picture;
}

void CPictureLoader::Forget(const QString &path)
{
    const auto it = m_entries.find(path);
    if (it == m_entries.end())
        return;
    it->second->cancel = true;
    m_entries.erase(it);
}

void CPictureLoader::KeepOnly(const QStringList &paths)
{
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (paths.contains(it->first)) {
            ++it;
            continue;
        }
        it->second->cancel = true;
        it = m_entries.erase(it);
    }
    DropOverBudget();
}

void CPictureLoader::DropOverBudget()
{
    std::lock_guard lock(m_mutex);
    qint64 total = 0;
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        const Entry &e = *it->second;
        if (e.ahead && e.done) {
            total += PictureBytes(e.picture);
            if (total > kAheadBudget) {
                it = m_entries.erase(it);
                continue;
            }
        }
        ++it;
    }
}

void CPictureLoader::Clear()
{
    for (auto &[path, e] : m_entries)
        e->cancel = true;
    m_entries.clear();
}

bool CPictureLoader::IsBusy() const
{
    return m_pool->activeThreadCount() > 0 || *m_displaysPending > 0;
}

void CPictureLoader::MakeDisplay(std::shared_ptr<const CxImage> image, viewgeom::Size shown, int serial)
{
    ++*m_displaysPending;
    m_pool->start(
        [this, image = std::move(image), shown, serial, pending = m_displaysPending] {
            QImage display = DisplayCopy(*image, shown);
            QMetaObject::invokeMethod(
                this,
                [this, display = std::move(display), serial, pending] {
                    --*pending;
                    emit DisplayMade(serial, display);
                },
                Qt::QueuedConnection);
        },
        kPriorityShown);
}

void CPictureLoader::MakeDetail(const QString &path, bool autoOrient, const DetailPlan &plan, int serial)
{
    CancelDetail();
    m_detailCancel = std::make_shared<std::atomic<bool>>(false);
    ++*m_displaysPending;
    m_pool->start(
        [this, file = path.toStdString(), autoOrient, plan, serial, pending = m_displaysPending,
         cancel = m_detailCancel] {
            QImage detail = DecodeDetail(file, autoOrient, plan, cancel.get());
            QMetaObject::invokeMethod(
                this,
                [this, detail = std::move(detail), plan, serial, pending] {
                    --*pending;
                    emit DetailMade(serial, plan, detail);
                },
                Qt::QueuedConnection);
        },
        kPriorityShown);
}

void CPictureLoader::CancelDetail()
{
    if (m_detailCancel)
        *m_detailCancel = true;
}

} // namespace viewwork
