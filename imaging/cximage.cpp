#include "imaging/cximage.h"

#include "imaging/atomicfile.h"
#include "imaging/codecs/codecs.h"
#include "imaging/mappedfile.h"
#include "imaging/metadataio.h"
#include "imaging/pixelops.h"

#include <QImage>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Largest file Load reads; anything bigger is not a picture we can hold.
constexpr std::size_t kMaxFileBytes = std::size_t(1) << 31;

// Below this a copy costs less than setting up and tearing down a mapping.
constexpr std::size_t kMapFrom = 128 * 1024;

bool IsPalettedBpp(int bpp)
{
    return bpp == 1 || bpp == 4 || bpp == 8;
}

} // namespace

void LOGFONT::SetFaceName(const char *name)
{
    std::memset(lfFaceName, 0, sizeof lfFaceName);
    if (!name)
        return;
    std::string face(name);
    cxcodec::CutUtf8(face, LF_FACESIZE - 1);
    std::memcpy(lfFaceName, face.data(), face.size());
}

CxImage::CxImage(std::uint32_t imagetype) : m_type(imagetype) {}

CxImage::CxImage(const char *filename, std::uint32_t imagetype) : m_type(imagetype)
{
    Load(filename, imagetype);
}

bool CxImage::CheckSize(std::int64_t width, std::int64_t height)
{
    if (width <= 0 || height <= 0) {
        SetError("empty image size");
        return false;
    }
    if (width > kMaxDimension || height > kMaxDimension || width * height > kMaxPixels) {
        SetError("image too large");
        return false;
    }
    return true;
}

bool CxImage::Create(int width, int height, int bpp, std::uint32_t imagetype)
{
    return CreateImage(width, height, bpp, imagetype, true);
}

bool CxImage::CreateImage(int width, int height, int bpp, std::uint32_t imagetype, bool clear)
{
    if (bpp != 24 && !IsPalettedBpp(bpp)) {
        SetError("unsupported depth");
        return false;
    }
    if (!CheckSize(width, height))
        return false;
    const int stride = bpp == 24 ? (width * 3 + 3) & ~3 : (width + 3) & ~3;
    decltype(m_pixels) pixels;
    try {
        if (clear) {
            pixels.assign(std::size_t(stride) * std::size_t(height), 0);
        } else {
            pixels.resize(std::size_t(stride) * std::size_t(height));
            const std::size_t used = std::size_t(bpp == 24 ? width * 3 : width);
            if (used < std::size_t(stride))
                for (int y = 0; y < height; ++y)
                    std::memset(pixels.data() + std::size_t(y) * std::size_t(stride) + used, 0,
                                std::size_t(stride) - used);
        }
    } catch (const std::bad_alloc &) {
        SetError("out of memory");
        return false;
    }
    m_pixels = std::move(pixels);
    m_alpha.clear();
    m_palette.clear();
    if (bpp != 24) {
        const int n = 1 << bpp;
        m_palette.resize(std::size_t(n));
        for (int i = 0; i < n; ++i) {
            const BYTE v = BYTE(i * 255 / (n - 1));
            m_palette[std::size_t(i)] = RGBQUAD{v, v, v, 0};
        }
    }
    m_width = width;
    m_height = height;
    m_bandRows = 0;
    m_feed = nullptr;
    m_bpp = bpp;
    m_stride = stride;
    m_transIndex = -1;
    m_transColorSet = false;
    m_transColor = RGBQUAD{};
    m_srcWidth = width;
    m_srcHeight = height;
    m_orientation = 1;
    if (m_numFrames == 0)
        m_numFrames = 1;
    if (imagetype)
        m_type = imagetype;
    return true;
}

void CxImage::Destroy()
{
    m_pixels.clear();
    m_pixels.shrink_to_fit();
    m_alpha.clear();
    m_alpha.shrink_to_fit();
    m_palette.clear();
    m_width = m_height = m_bpp = m_stride = 0;
    m_bandRows = 0;
    m_feed = nullptr;
    m_srcWidth = m_srcHeight = 0;
    m_orientation = 1;
    m_transIndex = -1;
    m_transColorSet = false;
    m_transColor = RGBQUAD{};
    m_numFrames = 0;
    m_frameDelay = 0;
    m_disposal = 0;
    m_meta = CxMetadata{};
}

void CxImage::TakePixels(CxImage &&other)
{
    m_width = other.m_width;
    m_height = other.m_height;
    m_bpp = other.m_bpp;
    m_stride = other.m_stride;
    m_bandRows = other.m_bandRows;
    m_feed = nullptr;
    m_pixels = std::move(other.m_pixels);
    m_palette = std::move(other.m_palette);
    m_alpha = std::move(other.m_alpha);
    m_transIndex = other.m_transIndex;
    m_transColor = other.m_transColor;
    m_transColorSet = other.m_transColorSet;
    other.Destroy();
}

void CxImage::TakeSettings(const CxImage &other)
{
    m_type = other.m_type;
    m_srcWidth = other.m_srcWidth;
    m_srcHeight = other.m_srcHeight;
    m_frame = other.m_frame;
    m_numFrames = other.m_numFrames;
    m_frameDelay = other.m_frameDelay;
    m_disposal = other.m_disposal;
    m_jpegQuality = other.m_jpegQuality;
    m_encoder = other.m_encoder;
    m_orientation = other.m_orientation;
    m_meta = other.m_meta;
    m_lastError = other.m_lastError;
}

int &cxops::ThreadLimit()
{
    thread_local int limit = 0;
    return limit;
}

void CxImage::SetThreadLimit(int threads)
{
    cxops::ThreadLimit() = std::max(0, threads);
}

int CxImage::GetThreadLimit()
{
    return cxops::ThreadLimit();
}

void cxcodec::DecodeRequest::Hint(int storedW, int storedH, int orientation, int &width, int &height) const
{
    const bool turned = autoOrient && orientation >= 5 && orientation <= 8;
    width = hintWidth;
    height = hintHeight;
    if (hintRule) {
        width = height = 0;
        hintRule(turned ? storedH : storedW, turned ? storedW : storedH, width, height);
    }
    if (turned)
        std::swap(width, height);
}

std::uint32_t CxImage::DetectFormat(const std::uint8_t *d, std::size_t n)
{
    for (const ImageFormat &f : ImageFormats())
        if (f.detect(d, n))
            return f.type;
    return CXIMAGE_FORMAT_UNKNOWN;
}

std::size_t CxImage::DecodeScratchBytes(const char *filename)
{
    if (!filename)
        return 0;
    // Never blocks on a pipe or device: only regular files are read.
    const int fd = open(filename, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return 0;
    struct stat st;
    std::FILE *f = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? fdopen(fd, "rb") : nullptr;
    if (!f) {
        close(fd);
        return 0;
    }
    const std::size_t bytes = cxcodec::JpegScratchBytes(f);
    std::fclose(f);
    return bytes;
}

bool CxImage::Load(const char *filename, std::uint32_t imagetype, const CxDecodeRequest &req)
{
    Destroy();
    CxIOFile file;
    if (!filename || !file.Open(filename, "rb")) {
        SetError("cannot open file");
        return false;
    }
    return Decode(&file, imagetype, req);
}

bool CxImage::LoadRows(const char *filename, cxcodec::RowSink &sink, const CxDecodeRequest &req)
{
    Destroy();
    CxIOFile file;
    if (!filename || !file.Open(filename, "rb")) {
        SetError("cannot open file");
        return false;
    }
    return DecodeFile(&file, &sink, req);
}

bool CxImage::Decode(CxFile *file, std::uint32_t imagetype, const CxDecodeRequest &req)
{
    (void)imagetype; // the bytes decide
    return DecodeFile(file, nullptr, req);
}

bool CxImage::DecodeFile(CxFile *file, cxcodec::RowSink *sink, const CxDecodeRequest &req)
{
    Destroy();
    // A large file whose row reads mapped bytes (JPEG, TIFF, PNM) is decoded where
    // it lies in the page cache: no copy of its bytes, and none of the fresh
    // memory the copy would need. The JPEG readers (libjpeg's and our own)
    // take the bytes as a stream kept within its bounds, libtiff reads
    // through procedures bounded by the mapping's size, and the PNM reader
    // checks its raster's length once against it, so bytes written over
    // meanwhile can spoil the picture, which is then refused, but never lead
    // a read astray. Other formats go to libraries that may read a length
    // twice, and are given a copy.
    auto *disk = dynamic_cast<CxIOFile *>(file);
    const std::int64_t size = disk && disk->GetFP() && disk->Tell() == 0 ? disk->Size() : -1;
    if (size >= std::int64_t(kMapFrom) && size <= std::int64_t(kMaxFileBytes)) {
        MappedFile mapped;
        const ImageFormat *format = mapped.Map(fileno(disk->GetFP()))
                                        ? FormatByType(DetectFormat(mapped.Data(), mapped.Size()))
                                        : nullptr;
        if (format && format->facts.readsMapped) {
            const bool ok = DecodeBytes(mapped.Data(), mapped.Size(), sink, req, &mapped);
            if (!mapped.Changed())
                return ok;
            Destroy();
            SetError("the file changed while it was read");
            return false;
        }
    }
    std::string bytes;
    if (!file || !file->ReadAll(bytes, kMaxFileBytes)) {
        SetError("cannot read file");
        return false;
    }
    return DecodeBytes(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size(), sink, req);
}

bool CxImage::Decode(const std::uint8_t *data, std::size_t size, std::uint32_t imagetype,
                     const CxDecodeRequest &req)
{
    (void)imagetype; // the bytes decide; the caller's guess is only a guess
    return DecodeBytes(data, size, nullptr, req);
}

bool CxImage::DecodeBytes(const std::uint8_t *data, std::size_t size, cxcodec::RowSink *sink,
                          const CxDecodeRequest &asked, const MappedFile *mapped)
{
    Destroy();
    const std::uint32_t format = data ? DetectFormat(data, size) : CXIMAGE_FORMAT_UNKNOWN;
    cxcodec::DecodeRequest req(asked, sink);
    req.mapped = mapped;
    req.frame = std::max(0, req.frame);
    req.hintWidth = std::max(0, req.hintWidth);
    req.hintHeight = std::max(0, req.hintHeight);
    req.regionLeft = std::max(0, req.regionLeft);
    req.regionTop = std::max(0, req.regionTop);
    req.regionWidth = std::max(0, req.regionWidth);
    req.regionHeight = std::max(0, req.regionHeight);
    m_frame = req.frame;

    const ImageFormat *reader = FormatByType(format);
    if (!reader) {
        SetError("unknown file format");
        return false;
    }
    CxImage out;
    const bool ok = reader->decode(data, size, out, req);
    if (ok && sink && !out.IsValid()) {
        m_lastError.clear(); // every row went to the sink
        return true;
    }
    if (!ok || !out.IsValid()) {
        m_lastError = out.m_lastError.empty() ? "cannot decode image" : out.m_lastError;
        return false;
    }
    return AdoptDecoded(std::move(out), format, req.autoOrient);
}

bool CxImage::AdoptDecoded(CxImage &&out, std::uint32_t format, bool autoOrient)
{
    const int numFrames = std::max(1, out.m_numFrames);
    const int srcW = out.m_srcWidth > 0 ? out.m_srcWidth : out.m_width;
    const int srcH = out.m_srcHeight > 0 ? out.m_srcHeight : out.m_height;
    const int delay = out.m_frameDelay, disposal = out.m_disposal;
    const int orientation = out.m_orientation;
    m_meta = std::move(out.m_meta);
    TakePixels(std::move(out));
    m_numFrames = numFrames;
    m_srcWidth = srcW;
    m_srcHeight = srcH;
    m_frameDelay = delay;
    m_disposal = disposal;
    m_orientation = orientation;
    m_type = format;
    m_lastError.clear();
    // The one place every decode passes: the picture leaves upright.
    if (autoOrient && !ApplyOrientation()) {
        const std::string why = m_lastError;
        Destroy();
        m_lastError = why;
        return false;
    }
    return true;
}

bool CxImage::Encode(CxFile *file, std::uint32_t imagetype)
{
    if (!IsValid()) {
        SetError("no image to save");
        return false;
    }
    if (!file || !file->IsOpen()) {
        SetError("output not open");
        return false;
    }
    if (imagetype == CXIMAGE_FORMAT_UNKNOWN)
        imagetype = m_type;
    const ImageFormat *writer = FormatByType(imagetype);
    if (m_bandRows > 0 && !(writer && writer->facts.rowsOut)) {
        SetError("this format cannot be written row by row");
        return false;
    }
    if ((!m_meta.Empty() || m_orientation != 1) && cxmeta::Carries(imagetype)) {
        // The blocks go into the encoded file in memory: a band past the
        // pixel limit would make that larger than any picture held.
        if (m_bandRows > 0 && !cxmeta::WrittenByEncoder(imagetype) &&
            (m_width > kMaxDimension || m_height > kMaxDimension ||
             std::int64_t(m_width) * std::int64_t(m_height) > kMaxPixels)) {
            SetError("image too large to keep its metadata");
            return false;
        }
        return EncodeWithMetadata(file, imagetype);
    }
    if (!writer || !writer->Writable()) {
        SetError("unknown output format");
        return false;
    }
    bool ok = writer->encode(*this, *file, &m_lastError);
    if (ok && (!file->Flush() || file->Error()))
        ok = false;
    if (!ok && m_lastError.empty())
        SetError("cannot write image");
    return ok;
}

bool CxImage::Save(const char *filename, std::uint32_t imagetype)
{
    if (!IsValid()) {
        SetError("no image to save");
        return false;
    }
    if (!filename || !*filename) {
        SetError("no file name");
        return false;
    }
    if (imagetype == CXIMAGE_FORMAT_UNKNOWN)
        imagetype = m_type;
    if (!FormatByType(imagetype)) {
        SetError("unknown output format");
        return false;
    }
    // Write next to the target and rename into place, so a failed or
    // interrupted save never leaves a truncated file or costs an old one.
    AtomicFileWriter writer;
    if (!writer.Begin(filename)) {
        SetError("cannot create output file");
        return false;
    }
    m_lastError.clear();
    bool ok;
    {
        CxIOFile out(writer.Stream());
        ok = Encode(&out, imagetype);
    }
    if (!ok) {
        writer.Abort();
        return false;
    }
    if (!writer.Commit()) {
        SetError("cannot replace output file");
        return false;
    }
    return true;
}

BYTE *CxImage::GetBits(int row)
{
    if (!IsValid() || row < 0 || row >= m_height)
        return nullptr;
    if (m_bandRows > 0)
        row %= m_bandRows;
    return m_pixels.data() + std::size_t(row) * std::size_t(m_stride);
}

const BYTE *CxImage::GetBits(int row) const
{
    return const_cast<CxImage *>(this)->GetBits(row);
}

bool CxImage::SetPalette(const RGBQUAD *palette, int count)
{
    if (!IsValid() || m_bpp == 24 || !palette || count < 1 || count > (1 << m_bpp)) {
        SetError("palette does not fit the image");
        return false;
    }
    m_palette.assign(palette, palette + count);
    if (count < (1 << m_bpp)) {
        for (BYTE &px : m_pixels)
            if (px >= count)
                px = 0;
    }
    if (m_transIndex >= count)
        m_transIndex = -1;
    return true;
}

RGBQUAD CxImage::GetPaletteColor(int index) const
{
    if (index < 0 || index >= int(m_palette.size()))
        return RGBQUAD{};
    return m_palette[std::size_t(index)];
}

BYTE CxImage::GetPixelIndex(int x, int y) const
{
    if (m_bpp == 24 || x < 0 || y < 0 || x >= m_width || y >= m_height)
        return 0;
    return m_pixels[std::size_t(y) * std::size_t(m_stride) + std::size_t(x)];
}

void CxImage::SetPixelIndex(int x, int y, BYTE index)
{
    if (m_bpp == 24 || x < 0 || y < 0 || x >= m_width || y >= m_height || index >= m_palette.size())
        return;
    m_pixels[std::size_t(y) * std::size_t(m_stride) + std::size_t(x)] = index;
}

RGBQUAD CxImage::GetPixelColor(int x, int y) const
{
    if (!IsValid() || x < 0 || y < 0 || x >= m_width || y >= m_height)
        return RGBQUAD{};
    const std::size_t row = std::size_t(y) * std::size_t(m_stride);
    if (m_bpp == 24) {
        const BYTE *p = m_pixels.data() + row + std::size_t(x) * 3;
        const BYTE a =
            m_alpha.empty() ? 255 : m_alpha[std::size_t(y) * std::size_t(m_width) + std::size_t(x)];
        return RGBQUAD{p[0], p[1], p[2], a};
    }
    const BYTE index = m_pixels[row + std::size_t(x)];
    RGBQUAD c = m_palette[index];
    c.rgbReserved = index == m_transIndex ? 0 : 255;
    return c;
}

void CxImage::SetPixelColor(int x, int y, RGBQUAD c, bool setAlpha)
{
    if (!IsValid() || x < 0 || y < 0 || x >= m_width || y >= m_height)
        return;
    const std::size_t row = std::size_t(y) * std::size_t(m_stride);
    if (m_bpp == 24) {
        BYTE *p = m_pixels.data() + row + std::size_t(x) * 3;
        p[0] = c.rgbBlue;
        p[1] = c.rgbGreen;
        p[2] = c.rgbRed;
        if (setAlpha && m_alpha.empty())
            AlphaCreate();
        if (setAlpha)
            m_alpha[std::size_t(y) * std::size_t(m_width) + std::size_t(x)] = c.rgbReserved;
        return;
    }
    int best = 0, bestDist = 1 << 30;
    for (int i = 0; i < int(m_palette.size()); ++i) {
        if (i == m_transIndex)
            continue;
        const RGBQUAD &p = m_palette[std::size_t(i)];
        const int dr = p.rgbRed - c.rgbRed, dg = p.rgbGreen - c.rgbGreen, db = p.rgbBlue - c.rgbBlue;
        const int d = dr * dr + dg * dg + db * db;
        if (d < bestDist) {
            bestDist = d;
            best = i;
        }
    }
    m_pixels[row + std::size_t(x)] = BYTE(best);
}

bool CxImage::AlphaCreate()
{
    if (!IsValid() || m_bpp != 24) {
        SetError("alpha needs a 24-bit image");
        return false;
    }
    if (m_alpha.empty()) {
        try {
            m_alpha.assign(std::size_t(m_width) * std::size_t(m_bandRows > 0 ? m_bandRows : m_height), 255);
        } catch (const std::bad_alloc &) {
            SetError("out of memory");
            return false;
        }
    }
    return true;
}

BYTE *CxImage::AlphaGetPointer(int row)
{
    if (m_alpha.empty() || row < 0 || row >= m_height)
        return nullptr;
    if (m_bandRows > 0)
        row %= m_bandRows;
    return m_alpha.data() + std::size_t(row) * std::size_t(m_width);
}

const BYTE *CxImage::AlphaGetPointer(int row) const
{
    return const_cast<CxImage *>(this)->AlphaGetPointer(row);
}

bool CxImage::IsTransparent() const
{
    if (!IsValid())
        return false;
    if (m_bpp != 24) {
        if (m_transIndex < 0)
            return false;
        for (int y = 0; y < m_height; ++y) {
            const BYTE *p = GetBits(y);
            if (std::find(p, p + m_width, BYTE(m_transIndex)) != p + m_width)
                return true;
        }
        return false;
    }
    return std::any_of(m_alpha.begin(), m_alpha.end(), [](BYTE a) { return a != 255; });
}

void CxImage::SetTransIndex(int index)
{
    m_transIndex = (m_bpp != 24 && index >= 0 && index < int(m_palette.size())) ? index : -1;
}

RGBQUAD CxImage::GetTransColor() const
{
    if (m_transColorSet)
        return m_transColor;
    if (m_transIndex >= 0 && m_transIndex < int(m_palette.size()))
        return m_palette[std::size_t(m_transIndex)];
    return RGBQUAD{};
}

void CxImage::SetTransColor(RGBQUAD color)
{
    m_transColor = color;
    m_transColorSet = true;
}

QImage CxImage::ToQImage() const
{
    if (!IsValid())
        return QImage();
    QImage q(m_width, m_height, QImage::Format_ARGB32);
    if (q.isNull())
        return q;
    std::vector<std::uint8_t> rgba(std::size_t(m_width) * 4);
    for (int y = 0; y < m_height; ++y) {
        cxcodec::RowToRGBA(*this, y, rgba.data());
        QRgb *dst = reinterpret_cast<QRgb *>(q.scanLine(y));
        for (int x = 0; x < m_width; ++x) {
            const std::uint8_t *p = &rgba[std::size_t(x) * 4];
            dst[x] = qRgba(p[0], p[1], p[2], p[3]);
        }
    }
    return q;
}

bool CxImage::FromQImage(const QImage &image)
{
    if (image.isNull()) {
        SetError("empty picture");
        return false;
    }
    const QImage src = image.convertToFormat(QImage::Format_ARGB32);
    CxImage out;
    if (!out.Create(src.width(), src.height(), 24)) {
        m_lastError = out.m_lastError;
        return false;
    }
    bool anyAlpha = src.hasAlphaChannel();
    if (anyAlpha)
        out.AlphaCreate();
    bool translucent = false;
    for (int y = 0; y < src.height(); ++y) {
        const QRgb *s = reinterpret_cast<const QRgb *>(src.constScanLine(y));
        BYTE *d = out.GetBits(y);
        BYTE *a = anyAlpha ? out.AlphaGetPointer(y) : nullptr;
        for (int x = 0; x < src.width(); ++x) {
            d[x * 3] = BYTE(qBlue(s[x]));
            d[x * 3 + 1] = BYTE(qGreen(s[x]));
            d[x * 3 + 2] = BYTE(qRed(s[x]));
            if (a) {
                a[x] = BYTE(qAlpha(s[x]));
                translucent |= a[x] != 255;
            }
        }
    }
    if (!translucent)
        out.AlphaDelete();
    TakePixels(std::move(out));
    m_srcWidth = m_width;
    m_srcHeight = m_height;
    m_orientation = 1;
    if (m_numFrames == 0)
        m_numFrames = 1;
    return true;
}

namespace cxcodec {

void CutUtf8(std::string &s, std::size_t max)
{
    if (s.size() <= max)
        return;
    std::size_t len = max;
    while (len > 0 && (static_cast<unsigned char>(s[len]) & 0xC0) == 0x80)
        --len;
    s.resize(len);
}

void RowToBGR(const CxImage &img, int y, std::uint8_t *bgr, bool onWhite)
{
    const int w = img.GetWidth();
    const BYTE *src = img.GetBits(y);
    if (img.GetBpp() == 24) {
        const BYTE *a = onWhite ? img.AlphaGetPointer(y) : nullptr;
        if (!a) {
            std::memcpy(bgr, src, std::size_t(w) * 3);
            return;
        }
        for (int x = 0; x < w; ++x) {
            const unsigned al = a[x];
            if (al == 255) {
                std::memcpy(bgr + x * 3, src + x * 3, 3);
            } else if (al == 0) {
                std::memset(bgr + x * 3, 255, 3);
            } else {
                // n / 255 for n below 65536, without a division.
                for (int c = 0; c < 3; ++c) {
                    const unsigned n = src[x * 3 + c] * al + 255 * (255 - al) + 127;
                    bgr[x * 3 + c] = std::uint8_t((n + 1 + (n >> 8)) >> 8);
                }
            }
        }
        return;
    }
    const RGBQUAD *pal = img.GetPalette();
    const int trans = onWhite ? img.GetTransIndex() : -1;
    for (int x = 0; x < w; ++x) {
        const BYTE i = src[x];
        if (i == trans) {
            bgr[x * 3] = bgr[x * 3 + 1] = bgr[x * 3 + 2] = 255;
        } else {
            bgr[x * 3] = pal[i].rgbBlue;
            bgr[x * 3 + 1] = pal[i].rgbGreen;
            bgr[x * 3 + 2] = pal[i].rgbRed;
        }
    }
}

void RowToRGBA(const CxImage &img, int y, std::uint8_t *rgba)
{
    if (!rgba)
        return;
    const int w = img.GetWidth();
    const BYTE *src = img.GetBits(y);
    if (img.GetBpp() == 24) {
        const BYTE *a = img.AlphaGetPointer(y);
        for (int x = 0; x < w; ++x) {
            rgba[x * 4] = src[x * 3 + 2];
            rgba[x * 4 + 1] = src[x * 3 + 1];
            rgba[x * 4 + 2] = src[x * 3];
            rgba[x * 4 + 3] = a ? a[x] : 255;
        }
        return;
    }
    const RGBQUAD *pal = img.GetPalette();
    const int trans = img.GetTransIndex();
    for (int x = 0; x < w; ++x) {
        const BYTE i = src[x];
        rgba[x * 4] = pal[i].rgbRed;
        rgba[x * 4 + 1] = pal[i].rgbGreen;
        rgba[x * 4 + 2] = pal[i].rgbBlue;
        rgba[x * 4 + 3] = i == trans ? 0 : 255;
    }
}

} // namespace cxcodec
