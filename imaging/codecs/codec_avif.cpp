// AVIF reading and writing through libavif: the primary image, 8 bits per
// channel, with its alpha. Rotation and mirroring (irot, imir) are reported
// as the EXIF orientation they amount to, so the one orientation step after
// decoding applies them; the EXIF block's own orientation is then ignored.
#include "imaging/codecs/codecs.h"
#include "imaging/cxmetadata.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <thread>
#include <unordered_map>
#include <vector>

#include <avif/avif.h>

namespace {

// A sequence file may declare many frames; only its first is read, so the
// count is bounded well below libavif's default of hours of video.
constexpr std::uint32_t kMaxFrames = 1 << 16;

// libaom's default speed (CEncoderSettings::kDefaultAvifSpeed) is avifenc's
// own, 6: a 4-megapixel photo takes about 1.9 s of one core there, against
// 0.7 s at 8, for about 8 % fewer bytes and 1 dB more at the same quality.
// The quantizers libaom may use on either side of the one quality asks for.
constexpr int kAvifQuantizerSpread = 4;

int Threads()
{
    const int limit = CxImage::GetThreadLimit();
    return limit > 0 ? limit : int(std::max(1u, std::thread::hardware_concurrency()));
}

struct DecoderDeleter {
    void operator()(avifDecoder *d) const { avifDecoderDestroy(d); }
};
struct EncoderDeleter {
    void operator()(avifEncoder *e) const { avifEncoderDestroy(e); }
};
struct ImageDeleter {
    void operator()(avifImage *i) const { avifImageDestroy(i); }
};

// irot turns the stored picture anti-clockwise by angle x 90 degrees, then
// imir mirrors it (mode 0: top and bottom exchanged, 1: left and right).
int OrientationOf(const avifImage &img)
{
    const int angle = img.transformFlags & AVIF_TRANSFORM_IROT ? img.irot.angle & 3 : 0;
    const int mirror = img.transformFlags & AVIF_TRANSFORM_IMIR ? img.imir.mode & 1 : -1;
    static constexpr int kByAngle[4][3] = {
        // no mirror, top-bottom, left-right
        {1, 4, 2},
        {8, 5, 7},
        {3, 2, 4},
        {6, 7, 5},
    };
    return kByAngle[angle][mirror + 1];
}

void SetOrientation(avifImage &img, int orientation)
{
    struct Transform {
        int angle, mirror; // mirror -1: none
    };
    static constexpr Transform kByOrientation[9] = {
        {0, -1}, {0, -1}, {0, 1}, {2, -1}, {0, 0}, {1, 0}, {3, -1}, {3, 0}, {1, -1},
    };
    const Transform t = kByOrientation[orientation >= 1 && orientation <= 8 ? orientation : 1];
    img.transformFlags &= ~avifTransformFlags(AVIF_TRANSFORM_IROT | AVIF_TRANSFORM_IMIR);
    if (t.angle != 0) {
        img.transformFlags |= AVIF_TRANSFORM_IROT;
        img.irot.angle = std::uint8_t(t.angle);
    }
    if (t.mirror >= 0) {
        img.transformFlags |= AVIF_TRANSFORM_IMIR;
        img.imir.mode = std::uint8_t(t.mirror);
    }
}

std::string Bytes(const avifRWData &d)
{
    return d.size ? std::string(reinterpret_cast<const char *>(d.data), d.size) : std::string();
}

// Parses the file's first image: the primary item, or for a sequence
// without one, its first frame.
avifResult Parse(avifDecoder &dec, const std::uint8_t *data, std::size_t size, avifDecoderSource source)
{
    dec.maxThreads = Threads();
    dec.imageSizeLimit = std::uint32_t(CxImage::kMaxPixels);
    dec.imageDimensionLimit = std::uint32_t(CxImage::kMaxDimension);
    dec.imageCountLimit = kMaxFrames;
    // Files from older writers lack properties the format later required.
    dec.strictFlags = AVIF_STRICT_DISABLED;
    avifResult r = avifDecoderSetSource(&dec, source);
    if (r == AVIF_RESULT_OK)
        r = avifDecoderSetIOMemory(&dec, data, size);
    return r == AVIF_RESULT_OK ? avifDecoderParse(&dec) : r;
}

// --- The coded size of the file's AV1 items ---------------------------------
//
// libavif scales a decoded picture to the size its ispe box declares, so a
// few bytes of 64 x 48 picture declared 16384 x 16384 would cost seconds and
// gigabytes. Such a file is refused: each AV1 item's declared size must be
// the size its sequence header codes.

std::uint64_t BigEndian(const std::uint8_t *p, int bytes)
{
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = v << 8 | p[i];
    return v;
}

struct Span {
    std::size_t begin = 0, end = 0;
};

// Calls fn(type, payload) for each box in span; false when a box overruns it.
template <class Fn> bool ForEachBox(const std::uint8_t *d, Span span, Fn &&fn)
{
    for (std::size_t at = span.begin; at + 8 <= span.end;) {
        std::uint64_t size = BigEndian(d + at, 4);
        std::size_t header = 8;
        if (size == 1) {
            if (at + 16 > span.end)
                return false;
            size = BigEndian(d + at + 8, 8);
            header = 16;
        } else if (size == 0) {
            size = span.end - at;
        }
        if (size < header || size > span.end - at)
            return false;
        fn(d + at + 4, Span{at + header, at + std::size_t(size)});
        at += std::size_t(size);
    }
    return true;
}

bool IsType(const std::uint8_t *type, const char *name)
{
    return std::memcmp(type, name, 4) == 0;
}

class BitReader {
public:
    BitReader(const std::uint8_t *d, std::size_t n) : m_d(d), m_bits(n * 8) {}
    std::uint32_t Read(int n)
    {
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++m_at)
            v = v << 1 | (m_at < m_bits ? (m_d[m_at >> 3] >> (7 - (m_at & 7))) & 1u : 0u);
        return v;
    }
    void Uvlc()
    {
        int zeros = 0;
        while (zeros < 32 && Read(1) == 0)
            ++zeros;
        Read(zeros);
    }
    bool Overrun() const { return m_at > m_bits; }

private:
    const std::uint8_t *m_d;
    std::size_t m_bits, m_at = 0;
};

// The largest frame size of an AV1 sequence header OBU's payload; exact when
// every frame has that size (a reduced still picture header), otherwise a
// frame header may make one smaller.
bool SequenceHeaderSize(const std::uint8_t *d, std::size_t n, std::uint32_t &width, std::uint32_t &height,
                        bool &exact)
{
    BitReader bits(d, n);
    bits.Read(3); // seq_profile
    bits.Read(1); // still_picture
    exact = bits.Read(1) != 0;
    if (exact) {
        bits.Read(5); // seq_level_idx
    } else {
        bool decoderModel = false;
        int delayBits = 0;
        if (bits.Read(1)) { // timing_info_present_flag
            bits.Read(32);
            bits.Read(32);
            if (bits.Read(1))
                bits.Uvlc();
            decoderModel = bits.Read(1) != 0;
            if (decoderModel) {
                delayBits = int(bits.Read(5)) + 1;
                bits.Read(32);
                bits.Read(5);
                bits.Read(5);
            }
        }
        const bool displayDelay = bits.Read(1) != 0;
        const int points = int(bits.Read(5)) + 1;
        for (int i = 0; i < points; ++i) {
            bits.Read(12);
            if (bits.Read(5) > 7)
                bits.Read(1);
            if (decoderModel && bits.Read(1)) {
                bits.Read(delayBits);
                bits.Read(delayBits);
                bits.Read(1);
            }
            if (displayDelay && bits.Read(1))
                bits.Read(4);
        }
    }
    const int widthBits = int(bits.Read(4)) + 1, heightBits = int(bits.Read(4)) + 1;
    width = bits.Read(widthBits) + 1;
    height = bits.Read(heightBits) + 1;
    return !bits.Overrun();
}

// The frame size coded in an AV1 item's data: its sequence header's.
bool CodedSize(const std::uint8_t *d, std::size_t n, std::uint32_t &width, std::uint32_t &height, bool &exact)
{
    for (std::size_t at = 0; at < n;) {
        const std::uint8_t header = d[at++];
        const int type = (header >> 3) & 15;
        if (header & 4)
            ++at; // extension
        std::uint64_t size = n > at ? n - at : 0;
        if (header & 2) {
            size = 0;
            for (int i = 0;; ++i) {
                if (at >= n || i == 8)
                    return false;
                size |= std::uint64_t(d[at] & 0x7F) << (7 * i);
                if (!(d[at++] & 0x80))
                    break;
            }
        }
        if (at > n || size > n - at)
            return false;
        if (type == 1) // OBU_SEQUENCE_HEADER
            return SequenceHeaderSize(d + at, std::size_t(size), width, height, exact);
        at += std::size_t(size);
    }
    return false;
}

struct Item {
    std::uint32_t id = 0;
    bool av1 = false;
    std::uint32_t width = 0, height = 0; // ispe; 0: none
    int method = 0;                      // iloc construction: 0 the file, 1 idat
    std::uint64_t offset = 0, length = 0;
    bool located = false;
};

// The items of the file's meta boxes, as far as their coded sizes need.
class ItemTable {
public:
    explicit ItemTable(const std::uint8_t *d) : m_d(d) {}

    // One box inside a meta box.
    void ReadMetaChild(const std::uint8_t *type, Span s);
    // Gives each item the size its ispe property declares.
    void ApplySizes();
    const std::deque<Item> &Items() const { return m_items; }
    Span Idat() const { return m_idat; }

private:
    Item &ItemOf(std::uint32_t id);
    void ReadInfo(std::uint8_t version, Span s);
    void ReadLocations(std::uint8_t version, Span s);
    void ReadAssociations(Span c);

    const std::uint8_t *m_d;
    // Items by id; a deque keeps references to them valid as more come.
    std::deque<Item> m_items;
    std::unordered_map<std::uint32_t, Item *> m_byId;
    std::vector<Span> m_properties; // ipco's boxes, ispe's payload or empty
    std::vector<std::pair<std::uint32_t, std::uint32_t>> m_associations;
    Span m_idat;
};

Item &ItemTable::ItemOf(std::uint32_t id)
{
    Item *&found = m_byId[id];
    if (!found) {
        m_items.push_back(Item{id});
        found = &m_items.back();
    }
    return *found;
}

void ItemTable::ReadMetaChild(const std::uint8_t *type, Span s)
{
    if (s.end - s.begin < 4)
        return;
    const std::uint8_t version = m_d[s.begin];
    if (IsType(type, "iinf")) {
        ReadInfo(version, s);
    } else if (IsType(type, "iloc")) {
        ReadLocations(version, s);
    } else if (IsType(type, "idat")) {
        m_idat = s; // a plain box: no version
    } else if (IsType(type, "iprp")) {
        ForEachBox(m_d, s, [&](const std::uint8_t *t, Span c) {
            if (IsType(t, "ipco")) {
                ForEachBox(m_d, c, [&](const std::uint8_t *pt, Span ps) {
                    m_properties.push_back(IsType(pt, "ispe") ? ps : Span{});
                });
            } else if (IsType(t, "ipma") && c.end - c.begin >= 8) {
                ReadAssociations(c);
            }
        });
    }
}

// Which items are AV1 (iinf).
void ItemTable::ReadInfo(std::uint8_t version, Span s)
{
    const std::uint8_t *d = m_d;
    const std::size_t at = s.begin + 4;
    const int countBytes = version == 0 ? 2 : 4;
    if (at + std::size_t(countBytes) > s.end)
        return;
    ForEachBox(d, Span{at + std::size_t(countBytes), s.end}, [&](const std::uint8_t *t, Span e) {
        if (!IsType(t, "infe") || e.end - e.begin < 4 || d[e.begin] < 2)
            return;
        const int idBytes = d[e.begin] == 2 ? 2 : 4;
        const std::size_t p = e.begin + 4;
        if (p + std::size_t(idBytes) + 6 <= e.end)
            ItemOf(std::uint32_t(BigEndian(d + p, idBytes))).av1 = IsType(d + p + idBytes + 2, "av01");
    });
}

// Where each item's data lies: its first extent (iloc).
void ItemTable::ReadLocations(std::uint8_t version, Span s)
{
    const std::uint8_t *d = m_d;
    const std::size_t at = s.begin + 4;
    if (at + 2 > s.end)
        return;
    const int offsetBytes = d[at] >> 4, lengthBytes = d[at] & 15, baseBytes = d[at + 1] >> 4;
    const int indexBytes = version == 1 || version == 2 ? d[at + 1] & 15 : 0;
    const int idBytes = version < 2 ? 2 : 4;
    std::size_t p = at + 2;
    const auto take = [&](int bytes, std::uint64_t &v) {
        if (bytes > 8 || p + std::size_t(bytes) > s.end)
            return false;
        v = BigEndian(d + p, bytes);
        p += std::size_t(bytes);
        return true;
    };
    std::uint64_t count = 0;
    if (!take(idBytes, count))
        return;
    for (std::uint64_t k = 0; k < count; ++k) {
        std::uint64_t id = 0, method = 0, skip = 0, base = 0, extents = 0;
        if (!take(idBytes, id) || ((version == 1 || version == 2) && !take(2, method)) || !take(2, skip) ||
            !take(baseBytes, base) || !take(2, extents))
            return;
        // Extents of no bytes at all take no room: only the first counts,
        // and a hostile count of them must not cost time.
        if (indexBytes == 0 && offsetBytes == 0 && lengthBytes == 0 && extents > 1)
            extents = 1;
        for (std::uint64_t e = 0; e < extents; ++e) {
            std::uint64_t offset = 0, length = 0;
            if (!take(indexBytes, skip) || !take(offsetBytes, offset) || !take(lengthBytes, length))
                return;
            if (e != 0)
                continue;
            Item &i = ItemOf(std::uint32_t(id));
            if (!i.located) {
                i.method = int(method & 15);
                i.offset = base + offset;
                i.length = length;
                i.located = true;
            }
        }
    }
}

// Which properties belong to which item (ipma).
void ItemTable::ReadAssociations(Span c)
{
    const std::uint8_t *d = m_d;
    const int v = d[c.begin], large = d[c.begin + 3] & 1;
    std::size_t p = c.begin + 8;
    const std::uint64_t entries = BigEndian(d + c.begin + 4, 4);
    for (std::uint64_t k = 0; k < entries; ++k) {
        const int idBytes = v < 1 ? 2 : 4;
        if (p + std::size_t(idBytes) + 1 > c.end)
            return;
        const std::uint32_t id = std::uint32_t(BigEndian(d + p, idBytes));
        const int count = d[p + std::size_t(idBytes)];
        p += std::size_t(idBytes) + 1;
        for (int a = 0; a < count; ++a) {
            const int bytes = large ? 2 : 1;
            if (p + std::size_t(bytes) > c.end)
                return;
            const std::uint32_t index = std::uint32_t(BigEndian(d + p, bytes)) & (large ? 0x7FFF : 0x7F);
            m_associations.emplace_back(id, index);
            p += std::size_t(bytes);
        }
    }
}

void ItemTable::ApplySizes()
{
    for (const auto &[id, index] : m_associations) {
        if (index == 0 || index > m_properties.size())
            continue;
        const Span ispe = m_properties[index - 1];
        if (ispe.end - ispe.begin >= 12) {
            Item &i = ItemOf(id);
            i.width = std::uint32_t(BigEndian(m_d + ispe.begin + 4, 4));
            i.height = std::uint32_t(BigEndian(m_d + ispe.begin + 8, 4));
        }
    }
}

// False when the item's data codes another size than it declares.
bool CodedSizeMatches(const std::uint8_t *d, std::size_t n, const Item &i, Span idat)
{
    if (!i.av1 || !i.located || i.width == 0 || (i.method != 0 && i.method != 1))
        return true;
    const Span within = i.method == 0 ? Span{0, n} : idat;
    if (i.offset > within.end - within.begin)
        return true;
    const std::size_t begin = within.begin + std::size_t(i.offset);
    const std::size_t end =
        i.length == 0 || i.length > within.end - begin ? within.end : begin + std::size_t(i.length);
    std::uint32_t w = 0, h = 0;
    bool exact = false;
    return !(CodedSize(d + begin, end - begin, w, h, exact) &&
             (exact ? w != i.width || h != i.height : i.width > w || i.height > h));
}

// False when an AV1 item declares a size other than the one its data codes
// (larger than its largest frame, where frames may be smaller). Items whose
// boxes or data cannot be read this way are left to libavif.
bool CodedSizesMatch(const std::uint8_t *d, std::size_t n)
{
    ItemTable table(d);
    ForEachBox(d, Span{0, n}, [&](const std::uint8_t *type, Span s) {
        if (IsType(type, "meta") && s.end - s.begin >= 4)
            ForEachBox(d, Span{s.begin + 4, s.end},
                       [&](const std::uint8_t *t, Span c) { table.ReadMetaChild(t, c); });
    });
    table.ApplySizes();
    for (const Item &i : table.Items())
        if (!CodedSizeMatches(d, n, i, table.Idat()))
            return false;
    return true;
}

const char *ReadError(avifResult r)
{
    switch (r) {
    case AVIF_RESULT_OUT_OF_MEMORY:
        return "out of memory";
    case AVIF_RESULT_TRUNCATED_DATA:
        return "truncated AVIF file";
    default:
        return "cannot decode AVIF";
    }
}

using Decoder = std::unique_ptr<avifDecoder, DecoderDeleter>;

// Parses the file for its primary item, or failing that for whatever
// libavif finds; null when parsed, else why not.
const char *ParseFile(Decoder &dec, const std::uint8_t *data, std::size_t size)
{
    avifResult r = Parse(*dec, data, size, AVIF_DECODER_SOURCE_PRIMARY_ITEM);
    if (r != AVIF_RESULT_OK && r != AVIF_RESULT_OUT_OF_MEMORY) {
        dec.reset(avifDecoderCreate());
        if (!dec)
            return "out of memory";
        r = Parse(*dec, data, size, AVIF_DECODER_SOURCE_AUTO);
    }
    // libavif refuses sizes past the limits it was given while parsing,
    // saying so only in its diagnostics.
    if (r != AVIF_RESULT_OK)
        return std::strstr(dec->diag.error, "too large") ? "image too large" : ReadError(r);
    return nullptr;
}

// libavif's planes (and our B, G, R, A copy beside alpha), which are held
// to the end of the decode.
std::size_t DecodeBytes(const avifImage &header, bool alphaPresent)
{
    const std::size_t pixels = std::size_t(header.width) * header.height;
    const std::size_t sample = header.depth > 8 ? 2 : 1;
    const std::size_t planes = header.yuvFormat == AVIF_PIXEL_FORMAT_YUV444   ? 3 * pixels
                               : header.yuvFormat == AVIF_PIXEL_FORMAT_YUV422 ? 2 * pixels
                               : header.yuvFormat == AVIF_PIXEL_FORMAT_YUV420 ? pixels + pixels / 2
                                                                              : pixels;
    return planes * sample + (alphaPresent ? pixels * (sample + 4) : 0);
}

// The decoded picture into out: straight into its rows, or through a B, G,
// R, A buffer when there is alpha. Null when done, else why not.
const char *ConvertPixels(const avifImage &img, CxImage &out)
{
    const int w = int(img.width), h = int(img.height);
    const bool alpha = img.alphaPlane != nullptr;
    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, &img);
    rgb.depth = 8; // deeper samples are scaled down by the conversion
    std::vector<std::uint8_t> bgra;
    if (alpha) {
        try {
            bgra.resize(std::size_t(w) * std::size_t(h) * 4);
        } catch (const std::bad_alloc &) {
            return "out of memory";
        }
        rgb.format = AVIF_RGB_FORMAT_BGRA;
        rgb.pixels = bgra.data();
        rgb.rowBytes = std::uint32_t(w) * 4;
    } else {
        if (!CxImageAccess::CreateForDecode(out, w, h, 24, CXIMAGE_FORMAT_AVIF))
            return "out of memory";
        rgb.format = AVIF_RGB_FORMAT_BGR;
        rgb.pixels = out.GetBits(0);
        rgb.rowBytes = std::uint32_t(out.GetEffWidth());
    }
    const avifResult r = avifImageYUVToRGB(&img, &rgb);
    if (r != AVIF_RESULT_OK)
        return ReadError(r);
    if (!alpha)
        return nullptr;
    if (!CxImageAccess::CreateForDecode(out, w, h, 24, CXIMAGE_FORMAT_AVIF) || !out.AlphaCreate())
        return "out of memory";
    const std::uint8_t *src = bgra.data();
    for (int y = 0; y < h; ++y) {
        BYTE *dst = out.GetBits(y);
        BYTE *a = out.AlphaGetPointer(y);
        for (int x = 0; x < w; ++x, src += 4, dst += 3) {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
            a[x] = src[3];
        }
    }
    return nullptr;
}

using Image = std::unique_ptr<avifImage, ImageDeleter>;

// The picture's samples into image as YUV; false when memory is short.
bool FillImage(const CxImage &img, bool alpha, avifImage &image)
{
    const int w = img.GetWidth(), h = img.GetHeight();
    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, &image);
    std::vector<std::uint8_t> rows;
    if (alpha || img.GetBpp() != 24) {
        const std::size_t pixel = alpha ? 4 : 3;
        try {
            rows.resize(std::size_t(w) * std::size_t(h) * pixel);
        } catch (const std::bad_alloc &) {
            return false;
        }
        for (int y = 0; y < h; ++y) {
            std::uint8_t *row = rows.data() + std::size_t(y) * std::size_t(w) * pixel;
            if (alpha)
                cxcodec::RowToRGBA(img, y, row);
            else
                cxcodec::RowToBGR(img, y, row, false);
        }
        rgb.format = alpha ? AVIF_RGB_FORMAT_RGBA : AVIF_RGB_FORMAT_BGR;
        rgb.pixels = rows.data();
        rgb.rowBytes = std::uint32_t(std::size_t(w) * pixel);
    } else {
        // Only read by the conversion.
        rgb.format = AVIF_RGB_FORMAT_BGR;
        rgb.pixels = const_cast<std::uint8_t *>(img.GetBits(0));
        rgb.rowBytes = std::uint32_t(img.GetEffWidth());
    }
    return avifImageRGBToYUV(&image, &rgb) == AVIF_RESULT_OK;
}

// The metadata blocks and the picture's own orientation, whatever the EXIF
// block said.
void AddMetadata(const CxImage &img, avifImage &image)
{
    const CxMetadata &meta = img.GetMetadata();
    if (!meta.exif.empty())
        avifImageSetMetadataExif(&image, reinterpret_cast<const std::uint8_t *>(meta.exif.data()),
                                 meta.exif.size());
    if (!meta.xmp.empty())
        avifImageSetMetadataXMP(&image, reinterpret_cast<const std::uint8_t *>(meta.xmp.data()), meta.xmp.size());
    if (!meta.icc.empty())
        avifImageSetProfileICC(&image, reinterpret_cast<const std::uint8_t *>(meta.icc.data()), meta.icc.size());
    SetOrientation(image, img.GetOrientation());
}

void ConfigureEncoder(avifEncoder &enc, int quality, int speed)
{
    const bool lossless = quality >= 100;
    // libaom: the one encoder here that writes lossless.
    enc.codecChoice = AVIF_CODEC_CHOICE_AOM;
    enc.maxThreads = Threads();
    enc.speed = std::clamp(speed, AVIF_SPEED_SLOWEST, AVIF_SPEED_FASTEST);
    const int q = lossless ? 0 : std::clamp(((100 - quality) * 63 + 50) / 100, 0, 63);
    enc.minQuantizer = std::max(0, q - kAvifQuantizerSpread);
    enc.maxQuantizer = std::min(63, q + kAvifQuantizerSpread);
    if (lossless)
        enc.minQuantizer = enc.maxQuantizer = AVIF_QUANTIZER_LOSSLESS;
    enc.minQuantizerAlpha = enc.maxQuantizerAlpha = AVIF_QUANTIZER_LOSSLESS;
}

} // namespace

namespace cxcodec {

bool DecodeAvif(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req)
{
    Decoder dec(avifDecoderCreate());
    if (!dec)
        return cxcodec::RefuseImage(out, "out of memory");
    if (const char *why = ParseFile(dec, data, size))
        return cxcodec::RefuseImage(out, why);
    const avifImage &header = *dec->image;
    // The container's size is checked before anything is decoded for it.
    if (!cxcodec::FitsPixelLimits(header.width, header.height))
        return cxcodec::RefuseImage(out, "image too large");
    if (!CodedSizesMatch(data, size))
        return cxcodec::RefuseImage(out, "AVIF image size does not match its data");
    if (req.cancel && req.cancel->load())
        return cxcodec::RefuseImage(out, "cancelled");
    // Held from here to the end, as the run's decode budget counts them.
    const cxcodec::DecodeBudgetHold hold(DecodeBytes(header, dec->alphaPresent));
    const avifResult r = avifDecoderNextImage(dec.get());
    if (r != AVIF_RESULT_OK)
        return cxcodec::RefuseImage(out, ReadError(r));
    const avifImage &img = *dec->image;
    const int w = int(img.width), h = int(img.height);
    if (!cxcodec::FitsPixelLimits(w, h))
        return cxcodec::RefuseImage(out, "image too large");
    if (const char *why = ConvertPixels(img, out))
        return cxcodec::RefuseImage(out, why);

    CxMetadata meta;
    meta.exif = cxmeta::ExifFromBmff(img.exif.data, img.exif.size);
    meta.xmp = Bytes(img.xmp);
    meta.icc = Bytes(img.icc);
    if (!meta.Empty())
        CxImageAccess::SetMetadata(out, std::move(meta));
    CxImageAccess::SetOrientation(out, OrientationOf(img));
    CxImageAccess::SetSourceSize(out, w, h);
    return true;
}

// Quality q (1-99) sets the quantizer range around (100 - q) x 63 / 100,
// the scale libavif's own quality setting later adopted; libaom encodes at
// the middle of the range and may move within it. From 90 up chroma is not
// subsampled; 100 is lossless: the identity matrix and quantizer 0. Alpha is
// always kept exactly.
bool EncodeAvif(const CxImage &img, CxFile &file, std::string *why)
{
    auto fail = [why](const char *text) {
        if (why)
            *why = text;
        return false;
    };
    if (!img.IsValid())
        return false;
    const int w = img.GetWidth(), h = img.GetHeight();
    // AV1 frames are at most 65536 on a side.
    if (w > 65536 || h > 65536)
        return fail("image too large for AVIF");
    const int quality = img.GetJpegQuality();
    const bool alpha = img.AlphaIsValid() || (img.GetNumColors() != 0 && img.GetTransIndex() >= 0);

    // As for JPEG, chroma is kept whole at high quality, where halving it
    // costs more than it saves.
    Image image(avifImageCreate(std::uint32_t(w), std::uint32_t(h), 8,
                                quality >= 90 ? AVIF_PIXEL_FORMAT_YUV444 : AVIF_PIXEL_FORMAT_YUV420));
    if (!image)
        return fail("out of memory");
    image->yuvRange = AVIF_RANGE_FULL;
    if (quality >= 100)
        image->matrixCoefficients = AVIF_MATRIX_COEFFICIENTS_IDENTITY;
    if (!FillImage(img, alpha, *image))
        return fail("out of memory");
    AddMetadata(img, *image);

    std::unique_ptr<avifEncoder, EncoderDeleter> enc(avifEncoderCreate());
    if (!enc)
        return fail("out of memory");
    ConfigureEncoder(*enc, quality, img.GetEncoderSettings().m_nAvifSpeed);
    avifRWData output = AVIF_DATA_EMPTY;
    const avifResult r = avifEncoderWrite(enc.get(), image.get(), &output);
    if (r != AVIF_RESULT_OK) {
        avifRWDataFree(&output);
        return fail(r == AVIF_RESULT_OUT_OF_MEMORY ? "out of memory" : "cannot encode AVIF");
    }
    const bool ok = file.Write(output.data, 1, output.size) == output.size;
    avifRWDataFree(&output);
    return ok;
}

} // namespace cxcodec
