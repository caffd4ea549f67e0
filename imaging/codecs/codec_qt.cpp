// TGA through Qt's own reader. Each file is checked before the reader sees
// it: the size it declares against the picture limits, and its length
// against what that size needs, so a small file never has Qt allocate a
// large picture.
#include "imaging/codecs/codecs.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>

#include <cstring>
#include <new>
#include <vector>

namespace {

using cxcodec::RefuseImage;

std::uint32_t Le16(const std::uint8_t *d)
{
    return std::uint32_t(d[0]) | std::uint32_t(d[1]) << 8;
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

} // namespace

namespace cxcodec {

bool DecodeTga(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req)
{
    if (size < 18)
        return RefuseImage(out, "cannot decode TGA");
    // Qt reads uncompressed true colour alone, and no more than 8192 x 8192
    // pixels (refusing on the terminal otherwise); its 16-bit pixels come
    // out with 5-bit values unscaled, far too dark.
    const int depth = data[16];
    if (data[2] != 2 || data[1] != 0 || (depth != 24 && depth != 32))
        return RefuseImage(out, "unsupported TGA type");
    const std::uint64_t w = Le16(data + 12), h = Le16(data + 14);
    if (!FitsPixelLimits(static_cast<long long>(w), static_cast<long long>(h)) || w * h > 8192 * 8192)
        return RefuseImage(out, "image too large");
    if (size < 18 + std::uint64_t(data[0]) + w * h * std::uint64_t(depth / 8))
        return RefuseImage(out, "truncated TGA data");
    // Qt takes a file by the signature of TGA 2.0 at its end; an older
    // file is the same picture without it, so it gets one in a copy.
    static const char kFooter[26] = "\0\0\0\0\0\0\0\0TRUEVISION-XFILE.";
    QByteArray bytes;
    if (size >= 18 + sizeof kFooter && std::memcmp(data + size - 18, kFooter + 8, 18) == 0) {
        bytes = Wrap(data, size);
    } else {
        try {
            bytes.reserve(qsizetype(size + sizeof kFooter));
        } catch (const std::bad_alloc &) {
            return RefuseImage(out, "out of memory");
        }
        bytes.append(reinterpret_cast<const char *>(data), qsizetype(size));
        bytes.append(kFooter, sizeof kFooter);
    }
    QImage img = ReadChecked(bytes, "tga", 0, QSize(int(w), int(h)), "cannot decode TGA", out, req);
    if (img.isNull())
        return false;
    // Without alpha bits in the descriptor the spare byte is no alpha.
    if ((data[17] & 0x0F) == 0 && img.hasAlphaChannel())
        img = img.convertToFormat(QImage::Format_RGB32);
    return !img.isNull() && Finish(img, CXIMAGE_FORMAT_TGA, out);
}

} // namespace cxcodec
