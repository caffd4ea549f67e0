#include "imaging/thumbnail.h"

#include "imaging/codecs/codecs.h"
#include "imaging/colourprofile.h"
#include "imaging/cximage.h"
#include "imaging/formats.h"
#include "imaging/mappedfile.h"
#include "imaging/pixelops.h"

#include <QPainter>

#include <algorithm>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// A regular file's bytes. Opened without blocking, so a pipe or device that
// took a picture's name is refused instead of waited on. A large file whose
// reader keeps within mapped bytes (a JPEG; a camera raw file, of which a
// card reads only the headers and the preview) is read where it lies in the
// page cache; any other is read whole.
class FileBytes {
public:
    FileBytes() = default;
    FileBytes(const FileBytes &) = delete;
    FileBytes &operator=(const FileBytes &) = delete;
    ~FileBytes() { Release(); }

    bool Open(const std::string &path);
    const std::uint8_t *Data() const
    {
        return m_mapped.Data() ? m_mapped.Data() : reinterpret_cast<const std::uint8_t *>(m_read.data());
    }
    std::size_t Size() const { return m_mapped.Data() ? m_mapped.Size() : m_read.size(); }
    // The mapped file was written or cut short while it was read.
    bool Changed() const { return m_mapped.Data() && m_mapped.Changed(); }
    void Release()
    {
        m_mapped.Unmap();
        m_read = std::string();
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    static constexpr std::size_t kMapFrom = 128 * 1024;
    int m_fd = -1;
    MappedFile m_mapped;
    std::string m_read;
};

bool FileBytes::Open(const std::string &path)
{
    Release();
    m_fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0)
        return false;
    struct stat st;
    if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
        static_cast<unsigned long long>(st.st_size) >= (1ULL << 31)) {
        Release();
        return false;
    }
    if (std::size_t(st.st_size) >= kMapFrom && m_mapped.Map(m_fd)) {
        const ImageFormat *format = FormatByType(CxImage::DetectFormat(m_mapped.Data(), m_mapped.Size()));
        if (format && format->facts.readsMapped)
            return true;
        m_mapped.Unmap();
    }
    m_read.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < m_read.size()) {
        const ssize_t n = ::read(m_fd, m_read.data() + done, m_read.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    // A file that shrank while being read is decoded from what was there.
    m_read.resize(done);
    ::close(m_fd);
    m_fd = -1;
    return true;
}

// A large colour picture whose card starts with a box average (see
// cxops::ResampleTo) is averaged row by row as its decoder reads it, so it
// is never held whole: the same boxes, the same card. Pictures with a colour
// profile other than sRGB are left whole: the card converts the full picture.
class BoxAveragedRows final : public cxcodec::RowSink {
public:
    explicit BoxAveragedRows(int side) : m_side(side) {}
    CxImage *Begin(int width, int height, int bpp, std::uint32_t type, const CxMetadata &meta) override
    {
        // A reduced decode is not the file's own size the card is laid out by.
        const ImageFormat *format = FormatByType(type);
        if (!format || format->facts.rowsIn != RowDecoding::FileRows)
            return nullptr;
        const QRect rect = ThumbnailDrawRect(width, height);
        // Enough pixels for the card and for the fitted copy, if one is asked for.
        const QSize fitted = m_side > 0 ? FittedSize(width, height, m_side) : QSize();
        const int needW = std::max(rect.width(), fitted.width());
        const int needH = std::max(rect.height(), fitted.height());
        const bool srgb = meta.icc.empty() || cxcolour::IsSrgbOrUnusable(meta.icc);
        // Grey and paletted rows are widened as they come, for a picture too
        // large to be held (a smaller one is decoded whole, as ever).
        m_paletted = bpp == 8 && !cxcodec::FitsPixelLimits(width, height);
        m_k = (bpp == 24 || m_paletted) && srgb ? cxops::BoxFactor(width, height, needW, needH) : 0;
        if (m_k == 0)
            return nullptr;
        m_width = width;
        m_height = height;
        // The averages come out in the order of the rows, so one row is room enough.
        try {
            m_widened.assign(m_paletted ? std::size_t(width) * 4 : 0, 0);
        } catch (const std::bad_alloc &) {
            return nullptr;
        }
        if (!CxImageAccess::CreateBand(m_row, width, height, bpp, type, 1) ||
            !m_reduced.Create((width + m_k - 1) / m_k, (height + m_k - 1) / m_k, 24, type))
            return nullptr;
        m_alpha = false;
        return &m_row;
    }
    bool Room(int y) override
    {
        // The band's alpha plane or transparent entry, if any, is set
        // between Begin and row 0.
        if (y == 0 && (m_alpha = m_paletted ? m_row.GetTransIndex() >= 0 : m_row.AlphaIsValid()) &&
            !m_reduced.AlphaCreate())
            return false;
        return y > 0 || m_box.Start(m_width, m_k, m_alpha);
    }
    void Filled(int y) override
    {
        if (m_paletted) {
            BYTE *bgr = m_widened.data(), *alpha = bgr + std::size_t(m_width) * 3;
            cxcodec::RowToBGR(m_row, y, bgr, false);
            if (m_alpha) {
                const BYTE *row = m_row.GetBits(y);
                const int trans = m_row.GetTransIndex();
                for (int x = 0; x < m_width; ++x)
                    alpha[x] = row[x] == trans ? 0 : 255;
            }
            m_box.Add(bgr, m_alpha ? alpha : nullptr);
        } else {
            m_box.Add(m_row.GetBits(y), m_row.AlphaGetPointer(y));
        }
        if ((y + 1) % m_k == 0 || y + 1 == m_height)
            m_box.Finish(m_reduced.GetBits(y / m_k), m_reduced.AlphaGetPointer(y / m_k));
    }
    // Cards are made of many files in turn, each soon done with: speed
    // rather than the least memory, within the decoders' own bounds.
    std::size_t SpareBytes() const override { return SIZE_MAX; }
    // The averaged picture, once every row went through.
    CxImage Take()
    {
        CxImageAccess::SetSourceSize(m_reduced, m_width, m_height);
        return std::move(m_reduced);
    }

private:
    const int m_side;
    int m_k = 0, m_width = 0, m_height = 0;
    bool m_alpha = false, m_paletted = false;
    std::vector<BYTE> m_widened; // a grey or paletted row as colour, then its alpha
    CxImage m_row, m_reduced;
    cxops::BoxRow m_box;
};

// The picture as held, scaled to size (shrunk by the resampler), for the
// fitted copy beside the card; null when memory runs out.
QImage FittedCopy(const CxImage &image, QSize size)
{
    if (size.width() >= image.GetWidth() && size.height() >= image.GetHeight()) {
        const QImage whole = image.ToQImage();
        return whole.size() == size ? whole
                                    : whole.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    CxImage scaled;
    if (!cxops::ResampleTo(image, size.width(), size.height(), scaled))
        return QImage();
    return scaled.ToQImage();
}

} // namespace

QSize FittedSize(long width, long height, int side)
{
    if (width <= 0 || height <= 0 || side <= 0)
        return QSize();
    if (width <= side && height <= side)
        return QSize(int(width), int(height));
    const double scale = double(side) / double(std::max(width, height));
    return QSize(std::max(1, int(width * scale + 0.5)), std::max(1, int(height * scale + 0.5)));
}

QRect ThumbnailDrawRect(long width, long height)
{
    if (width <= 0 || height <= 0)
        return QRect();
    const double r = double(height) / double(width);
    int left = 0, top = 0, dw = 0, dh = 0;
    if (r > 0.75) {
        dw = int(kThumbHeight / r);
        dh = kThumbHeight;
        // A hair-thin picture still shows as one column rather than nothing.
        dw = dw < 1 ? 1 : dw;
        left = (kThumbWidth - dw) / 2;
    } else {
        dw = kThumbWidth;
        dh = int(r * kThumbWidth);
        dh = dh < 1 ? 1 : dh;
        top = (kThumbHeight - dh) / 2;
    }
    return QRect(left, top, dw, dh);
}

ThumbnailResult MakeThumbnail(const std::string &path, int type, QImage &thumb,
                              const std::atomic<bool> *cancel, bool autoRotate, QImage *fitted, int side)
{
    if (fitted)
        *fitted = QImage();
    if (!fitted)
        side = 0;
    thumb = QImage(kThumbWidth, kThumbHeight, QImage::Format_RGB32);
    thumb.fill(Qt::white);

    ThumbnailResult result;
    FileBytes bytes;
    if (!bytes.Open(path))
        return result;
    CxImage image(static_cast<std::uint32_t>(type));
    CxDecodeRequest req;
    // Enough pixels for the card; JPEG then decodes at 1/2, 1/4 or 1/8 scale.
    req.hintWidth = std::max(kThumbWidth, side);
    req.hintHeight = std::max(kThumbHeight, side);
    req.cancel = cancel;
    req.autoOrient = autoRotate;
    // A card shows what arrived of a cut-off file, or what is recovered of
    // damaged JPEG data, as image viewers do.
    req.acceptTruncated = true;
    // A camera raw file's own preview is quicker than its sensor data.
    req.embeddedPreview = true;
    BoxAveragedRows rows(side);
    if (!image.DecodeRows(bytes.Data(), bytes.Size(), rows, req) || bytes.Changed())
        return result;
    if (!image.IsValid())
        image = rows.Take(); // every row went through the box average
    bytes.Release();
    cxcolour::ToSrgb(image); // the screen is taken as sRGB

    result.width = image.GetSrcWidth();
    result.height = image.GetSrcHeight();
    result.valid = true;
    const QRect rect = ThumbnailDrawRect(result.width, result.height);
    QPainter painter(&thumb);
    if (!image.Stretch(&painter, rect.left(), rect.top(), rect.width(), rect.height()))
        result.valid = false;
    if (result.valid && side > 0)
        *fitted = FittedCopy(image, FittedSize(result.width, result.height, side));
    return result;
}
