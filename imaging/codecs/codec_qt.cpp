// PNM and ICO through Qt's own readers. Each file is checked before a
// reader sees it: the size it declares against the picture limits, and its
// length against what that size needs, so a small file never has Qt
// allocate a large picture.
#include "imaging/codecs/codecs.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>

#include <cstring>
#include <vector>

namespace {

using cxcodec::RefuseImage;

std::uint32_t Le16(const std::uint8_t *d)
{
    return std::uint32_t(d[0]) | std::uint32_t(d[1]) << 8;
}

std::uint32_t Le32(const std::uint8_t *d)
{
    return Le16(d) | Le16(d + 2) << 16;
}

std::uint32_t Be32(const std::uint8_t *d)
{
    return std::uint32_t(d[0]) << 24 | std::uint32_t(d[1]) << 16 | std::uint32_t(d[2]) << 8 | d[3];
}

// Qt refuses pictures above an allocation limit of its own (128 MB in Qt
// 6.4, less than a 6000 x 6000 photo takes). Ours are checked before any of
// its readers runs, and these give at most 4 bytes a pixel, so its limit is
// raised once to cover ours.
void CoverOurLimits()
{
    static const bool raised = [] {
        const int ours = int(CxImage::kMaxPixels * 4 >> 20);
        const int now = QImageReader::allocationLimit();
        if (now != 0 && now < ours)
            QImageReader::setAllocationLimit(ours);
        return true;
    }();
    (void)raised;
}

// Qt's picture in our model: paletted as Qt gives it (a PBM's two colours,
// a PGM's greys, a colour table with at most one transparent entry), else
// 24 bits with an alpha plane when a pixel is not opaque.
bool Take(const QImage &read, std::uint32_t type, CxImage &out)
{
    QImage img = read;
    if (img.format() == QImage::Format_MonoLSB)
        img = img.convertToFormat(QImage::Format_Mono);
    else if (img.format() == QImage::Format_Grayscale16)
        img = img.convertToFormat(QImage::Format_Grayscale8);
    const int w = img.width(), h = img.height();
    QList<QRgb> table = img.colorTable();
    if (img.format() == QImage::Format_Grayscale8) {
        table.resize(256);
        for (int i = 0; i < 256; ++i)
            table[i] = qRgb(i, i, i);
    }
    int transIndex = -1;
    bool paletted = (img.format() == QImage::Format_Mono || img.format() == QImage::Format_Indexed8 ||
                     img.format() == QImage::Format_Grayscale8) &&
                    !table.isEmpty() && table.size() <= 256;
    for (qsizetype i = 0; paletted && i < table.size(); ++i) {
        const int a = qAlpha(table[i]);
        if (a == 0 && transIndex < 0)
            transIndex = int(i);
        else if (a != 255)
            paletted = false;
    }
    if (paletted) {
        const int count = int(table.size());
        const int bpp = img.format() == QImage::Format_Mono ? 1 : count <= 16 ? 4 : 8;
        if (!CxImageAccess::CreateForDecode(out, w, h, bpp, type))
            return RefuseImage(out, "out of memory");
        std::vector<RGBQUAD> palette(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i)
            palette[std::size_t(i)] =
                RGBQUAD{BYTE(qBlue(table[i])), BYTE(qGreen(table[i])), BYTE(qRed(table[i])), 0};
        if (!out.SetPalette(palette.data(), count))
            return RefuseImage(out, "out of memory");
        const BYTE last = BYTE(count - 1);
        for (int y = 0; y < h; ++y) {
            const uchar *s = img.constScanLine(y);
            BYTE *d = out.GetBits(y);
            if (bpp == 1)
                for (int x = 0; x < w; ++x)
                    d[x] = std::min(last, BYTE(s[x >> 3] >> (7 - (x & 7)) & 1));
            else
                for (int x = 0; x < w; ++x)
                    d[x] = std::min(last, BYTE(s[x]));
        }
        out.SetTransIndex(transIndex);
        return true;
    }
    if (img.format() != QImage::Format_RGB32 && img.format() != QImage::Format_ARGB32)
        img = img.convertToFormat(img.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (img.isNull() || !CxImageAccess::CreateForDecode(out, w, h, 24, type))
        return RefuseImage(out, "out of memory");
    bool translucent = false;
    for (int y = 0; y < h && img.hasAlphaChannel() && !translucent; ++y) {
        const QRgb *s = reinterpret_cast<const QRgb *>(img.constScanLine(y));
        for (int x = 0; x < w && !translucent; ++x)
            translucent = qAlpha(s[x]) != 255;
    }
    if (translucent && !out.AlphaCreate())
        return RefuseImage(out, "out of memory");
    for (int y = 0; y < h; ++y) {
        const QRgb *s = reinterpret_cast<const QRgb *>(img.constScanLine(y));
        BYTE *d = out.GetBits(y);
        BYTE *a = translucent ? out.AlphaGetPointer(y) : nullptr;
        for (int x = 0; x < w; ++x, d += 3) {
            d[0] = BYTE(qBlue(s[x]));
            d[1] = BYTE(qGreen(s[x]));
            d[2] = BYTE(qRed(s[x]));
            if (a)
                a[x] = BYTE(qAlpha(s[x]));
        }
    }
    return true;
}

// Reads picture `index` of bytes with Qt's reader of that name alone, once
// the size the file declares (declared; invalid where Qt alone knows it)
// has passed our checks. Null, with out saying why, on failure.
QImage ReadChecked(const QByteArray &bytes, const char *qtFormat, int index, QSize declared,
                   const char *cannot, CxImage &out, const cxcodec::DecodeRequest &req)
{
    CoverOurLimits();
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer, qtFormat);
    reader.setAutoDetectImageFormat(false);
    const QSize size = buffer.open(QIODevice::ReadOnly) && (index == 0 || reader.jumpToImage(index))
                           ? reader.size()
                           : QSize();
    if (size.isEmpty() || (declared.isValid() && size != declared)) {
        RefuseImage(out, cannot);
        return {};
    }
    if (!cxcodec::FitsPixelLimits(size.width(), size.height())) {
        RefuseImage(out, "image too large");
        return {};
    }
    if (req.cancel && req.cancel->load()) {
        RefuseImage(out, "cancelled");
        return {};
    }
    QImage img = reader.read();
    // The picture must be the size the limits were checked against.
    if (img.isNull() || img.size() != size) {
        RefuseImage(out, cannot);
        return {};
    }
    return img;
}

bool Finish(const QImage &img, std::uint32_t type, CxImage &out)
{
    if (!Take(img, type, out))
        return false;
    CxImageAccess::SetOrientation(out, 1);
    CxImageAccess::SetSourceSize(out, img.width(), img.height());
    return true;
}

QByteArray Wrap(const std::uint8_t *data, std::size_t size)
{
    return QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
}

bool IsPnmSpace(std::uint8_t c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The width and height after a PNM's magic number, past blanks and
// comments; false when the header ends first. Values past 2^32 stay there.
bool PnmSize(const std::uint8_t *d, std::size_t n, std::uint64_t &w, std::uint64_t &h)
{
    std::size_t at = 2;
    for (std::uint64_t *value : {&w, &h}) {
        while (at < n && (IsPnmSpace(d[at]) || d[at] == '#')) {
            if (d[at] == '#')
                while (at < n && d[at] != '\n' && d[at] != '\r')
                    ++at;
            else
                ++at;
        }
        if (at >= n || d[at] < '0' || d[at] > '9')
            return false;
        *value = 0;
        for (; at < n && d[at] >= '0' && d[at] <= '9'; ++at)
            *value =
                std::min<std::uint64_t>(*value * 10 + std::uint64_t(d[at] - '0'), std::uint64_t(1) << 32);
    }
    return true;
}

} // namespace

namespace cxcodec {

bool DecodePnm(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req)
{
    std::uint64_t w = 0, h = 0;
    if (size < 3 || data[0] != 'P' || data[1] < '1' || data[1] > '6' || !PnmSize(data, size, w, h))
        return RefuseImage(out, "cannot decode PNM");
    if (!FitsPixelLimits(static_cast<long long>(w), static_cast<long long>(h)))
        return RefuseImage(out, "image too large");
    // A sample takes a byte at least, written out or raw; a raw PBM a bit.
    const int kind = data[1] - '0';
    const std::uint64_t needs = kind == 4 ? (w + 7) / 8 * h : (kind == 3 || kind == 6 ? 3 : 1) * w * h;
    if (size < needs)
        return RefuseImage(out, "truncated PNM data");
    const QImage img =
        ReadChecked(Wrap(data, size), "ppm", 0, QSize(int(w), int(h)), "cannot decode PNM", out, req);
    return !img.isNull() && Finish(img, CXIMAGE_FORMAT_PNM, out);
}

bool DecodeIco(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req)
{
    if (size < 6)
        return RefuseImage(out, "cannot decode ICO");
    const std::size_t count = Le16(data + 4);
    if (count == 0 || 6 + 16 * count > size)
        return RefuseImage(out, "truncated ICO data");
    // The largest picture, the deepest of those alike (a cursor's depth
    // field holds its hot spot instead).
    const bool icon = Le16(data + 2) == 1;
    std::size_t best = 0;
    std::uint64_t bestKey = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t *e = data + 6 + 16 * i;
        const std::uint64_t w = e[0] ? e[0] : 256, h = e[1] ? e[1] : 256;
        const std::uint64_t key = (w * h) << 8 | (icon ? std::min<std::uint32_t>(Le16(e + 6), 255) : 0);
        if (key > bestKey) {
            best = i;
            bestKey = key;
        }
    }
    const std::uint8_t *e = data + 6 + 16 * best;
    const std::size_t bytes = Le32(e + 8), offset = Le32(e + 12);
    if (bytes == 0 || offset > size || bytes > size - offset)
        return RefuseImage(out, "truncated ICO data");
    // An embedded PNG goes to Qt's PNG reader, which would allocate what its
    // header says; pictures in these files are 256 pixels a side at most.
    static const std::uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (bytes >= 24 && std::memcmp(data + offset, kPng, 8) == 0 &&
        (Be32(data + offset + 16) > 256 || Be32(data + offset + 20) > 256))
        return RefuseImage(out, "image too large");
    const QImage img =
        ReadChecked(Wrap(data, size), "ico", int(best), QSize(), "cannot decode ICO", out, req);
    if (img.isNull())
        return false;
    if (img.width() > 256 || img.height() > 256)
        return RefuseImage(out, "cannot decode ICO");
    return Finish(img, CXIMAGE_FORMAT_ICO, out);
}

} // namespace cxcodec
