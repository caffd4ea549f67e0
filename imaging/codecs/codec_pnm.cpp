// Netpbm's formats: PBM, PGM and PPM, plain (P1 to P3) and raw (P4 to P6),
// and PAM (P7). A PBM comes out as two colours, a PGM as 256 greys, a PPM
// in 24 bits; a PAM as the one of those its tuple type names, with alpha
// where it has some. Samples of 1 to 16 bits are scaled to 8; one above
// the maxval counts as the maxval.
#include "imaging/codecs/codecs.h"
#include "imaging/mappedfile.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

using cxcodec::RefuseImage;

bool IsBlank(std::uint8_t c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// A picture's layout as its header gives it.
struct PnmLayout {
    std::uint64_t width = 0, height = 0;
    std::uint32_t maxval = 1;
    int channels = 1;       // grey, grey and alpha, RGB, RGB and alpha
    bool pbm = false;       // one bit a pixel, 1 black
    bool plain = false;     // samples written out in decimal
    bool bilevel = false;   // a PAM of maxval 1 without alpha: 0 black
    std::size_t raster = 0; // where the samples begin
};

// The bytes of the file and where reading stands.
struct Cursor {
    const std::uint8_t *d;
    std::size_t n;
    std::size_t at;

    // Past blanks and comments, which run from '#' to the end of the line.
    void SkipBlanks()
    {
        while (at < n && (IsBlank(d[at]) || d[at] == '#')) {
            if (d[at] == '#')
                while (at < n && d[at] != '\n' && d[at] != '\r')
                    ++at;
            else
                ++at;
        }
    }
    // A decimal number here, values past 2^32 held there; false when none
    // starts here.
    bool Number(std::uint64_t &value)
    {
        if (at >= n || d[at] < '0' || d[at] > '9')
            return false;
        value = 0;
        for (; at < n && d[at] >= '0' && d[at] <= '9'; ++at)
            value = std::min<std::uint64_t>(value * 10 + std::uint64_t(d[at] - '0'), std::uint64_t(1) << 32);
        return true;
    }
};

// P1 to P6: width, height and (but for a PBM) maxval, each after blanks or
// comments. One blank or a comment ends the header; the samples follow.
bool ParseNetpbm(const std::uint8_t *d, std::size_t n, PnmLayout &l)
{
    const int kind = d[1] - '0';
    l.pbm = kind == 1 || kind == 4;
    l.plain = kind <= 3;
    l.channels = kind == 3 || kind == 6 ? 3 : 1;
    Cursor c{d, n, 2};
    std::uint64_t maxval = 1;
    for (std::uint64_t *value : {&l.width, &l.height, &maxval}) {
        if (value == &maxval && l.pbm)
            break;
        c.SkipBlanks();
        if (!c.Number(*value))
            return false;
    }
    if (maxval == 0 || maxval > 65535)
        return false;
    l.maxval = std::uint32_t(maxval);
    if (c.at < n && d[c.at] == '#') {
        while (c.at < n && d[c.at] != '\n' && d[c.at] != '\r')
            ++c.at;
    } else if (c.at < n && !IsBlank(d[c.at])) {
        return false;
    }
    l.raster = std::min(n, c.at + 1);
    return true;
}

// P7: lines of a keyword and its value up to ENDHDR. The tuple type says
// what the planes hold.
const char *ParsePam(const std::uint8_t *d, std::size_t n, PnmLayout &l)
{
    std::size_t at = 2;
    std::uint64_t depth = 0, maxval = 0;
    std::string tuple;
    bool ended = false;
    while (!ended && at < n) {
        const std::uint8_t *eol = static_cast<const std::uint8_t *>(std::memchr(d + at, '\n', n - at));
        const std::size_t end = eol ? std::size_t(eol - d) : n;
        Cursor c{d, end, at};
        while (c.at < end && IsBlank(d[c.at]))
            ++c.at;
        const std::size_t word = c.at;
        while (c.at < end && !IsBlank(d[c.at]))
            ++c.at;
        const std::string_view key(reinterpret_cast<const char *>(d + word), c.at - word);
        const bool firstLine = at == 2;
        at = end + 1;
        if (firstLine && !key.empty())
            return "cannot decode PNM";
        if (key.empty() || key[0] == '#')
            continue;
        while (c.at < end && IsBlank(d[c.at]))
            ++c.at;
        std::uint64_t *number = key == "WIDTH"    ? &l.width
                                : key == "HEIGHT" ? &l.height
                                : key == "DEPTH"  ? &depth
                                : key == "MAXVAL" ? &maxval
                                                  : nullptr;
        if (number) {
            if (!c.Number(*number))
                return "cannot decode PNM";
            while (c.at < end && IsBlank(d[c.at]))
                ++c.at;
            if (c.at != end)
                return "cannot decode PNM";
        } else if (key == "TUPLTYPE") {
            std::size_t last = end;
            while (last > c.at && IsBlank(d[last - 1]))
                --last;
            if (!tuple.empty())
                tuple += ' ';
            tuple.append(reinterpret_cast<const char *>(d + c.at), last - c.at);
        } else if (key == "ENDHDR") {
            ended = true;
        } else {
            return "cannot decode PNM";
        }
    }
    if (!ended || l.width == 0 || l.height == 0 || maxval == 0 || maxval > 65535)
        return "cannot decode PNM";
    static const struct {
        std::string_view name;
        int channels;
    } kTuples[] = {{"BLACKANDWHITE", 1},       {"GRAYSCALE", 1},       {"RGB", 3},
                   {"BLACKANDWHITE_ALPHA", 2}, {"GRAYSCALE_ALPHA", 2}, {"RGB_ALPHA", 4}};
    // Without a type, two planes or four could be anything (CMYK among
    // them); one is grey and three RGB, as netpbm's tools take them.
    int channels = tuple.empty() && (depth == 1 || depth == 3) ? int(depth) : 0;
    for (const auto &t : kTuples)
        if (tuple == t.name)
            channels = t.channels;
    if (channels == 0 || std::uint64_t(channels) != depth)
        return "unsupported PAM tuple type";
    l.channels = channels;
    l.maxval = std::uint32_t(maxval);
    l.bilevel = maxval == 1 && channels == 1;
    l.raster = std::min(at, n);
    return nullptr;
}

// The written-out samples in order, each at most the maxval.
class PlainSamples {
public:
    PlainSamples(const std::uint8_t *d, std::size_t n, const PnmLayout &l)
        : m_c{d, n, l.raster}, m_max(l.maxval), m_bits(l.pbm)
    {
    }
    // False when the data ends first, or holds what is no sample.
    bool operator()(std::uint32_t &v)
    {
        m_c.SkipBlanks();
        std::uint64_t value = 0;
        if (m_bits) {
            // A plain PBM's pixels need no blanks between them.
            if (m_c.at >= m_c.n || (m_c.d[m_c.at] != '0' && m_c.d[m_c.at] != '1'))
                return false;
            value = m_c.d[m_c.at++] - '0';
        } else if (!m_c.Number(value)) {
            return false;
        }
        v = std::uint32_t(std::min<std::uint64_t>(value, m_max));
        return true;
    }
    bool Ended() const { return m_c.at >= m_c.n; }
    // The bytes before it are read.
    const std::uint8_t *At() const { return m_c.d + m_c.at; }

private:
    Cursor m_c;
    std::uint32_t m_max;
    bool m_bits;
};

// Raw samples of one or two bytes, each at most the maxval; the file holds
// them all.
template <bool Wide> class RawSamples {
public:
    RawSamples(const std::uint8_t *d, const PnmLayout &l) : m_p(d + l.raster), m_max(l.maxval) {}
    bool operator()(std::uint32_t &v)
    {
        v = std::min(Wide ? std::uint32_t(m_p[0]) << 8 | m_p[1] : m_p[0], m_max);
        m_p += Wide ? 2 : 1;
        return true;
    }
    bool Ended() const { return false; }
    const std::uint8_t *At() const { return m_p; }

private:
    const std::uint8_t *m_p;
    std::uint32_t m_max;
};

// Grey and colour samples are scaled to 8 bits each with its own rounding,
// the ones this program has always used, so that outputs stay the same:
// grey by truncation (through 16 bits above a maxval of 255), colour
// through 16 bits rounded to the nearest. Alpha is scaled as colour.
std::vector<BYTE> GreyScale(std::uint32_t maxval)
{
    std::vector<BYTE> t(std::size_t(maxval) + 1);
    for (std::uint32_t v = 0; v <= maxval; ++v)
        t[v] = BYTE(maxval == 255 ? v : maxval < 256 ? v * 255 / maxval : v * 65535 / maxval / 257);
    return t;
}

std::vector<BYTE> ColourScale(std::uint32_t maxval)
{
    std::vector<BYTE> t(std::size_t(maxval) + 1);
    for (std::uint32_t v = 0; v <= maxval; ++v) {
        const std::uint32_t wide = v * 65535 / maxval + 128;
        t[v] = BYTE(maxval == 255 ? v : (wide - (wide >> 8)) >> 8);
    }
    return t;
}

// The grey palette every 8-bit PNM picture has.
bool SetGreys(CxImage &img)
{
    std::array<RGBQUAD, 256> greys;
    for (int i = 0; i < 256; ++i)
        greys[std::size_t(i)] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
    return img.SetPalette(greys.data(), 256);
}

bool MakePicture(const PnmLayout &l, CxImage &out)
{
    const int w = int(l.width), h = int(l.height);
    if (l.pbm || l.bilevel) {
        // PBM's 1 is black, PAM's white.
        const RGBQUAD black{0, 0, 0, 0}, white{255, 255, 255, 0};
        const RGBQUAD two[2] = {l.pbm ? white : black, l.pbm ? black : white};
        return CxImageAccess::CreateForDecode(out, w, h, 1, CXIMAGE_FORMAT_PNM) && out.SetPalette(two, 2);
    }
    if (l.channels == 1)
        return CxImageAccess::CreateForDecode(out, w, h, 8, CXIMAGE_FORMAT_PNM) && SetGreys(out);
    return CxImageAccess::CreateForDecode(out, w, h, 24, CXIMAGE_FORMAT_PNM) &&
           (l.channels % 2 == 1 || out.AlphaCreate());
}

// The rows of a raw PBM, eight pixels a byte, each row starting a byte.
void ReadRawBits(const std::uint8_t *d, const PnmLayout &l, CxImage &out)
{
    const std::size_t w = std::size_t(l.width), rowBytes = (w + 7) / 8;
    for (std::size_t y = 0; y < std::size_t(l.height); ++y) {
        const std::uint8_t *src = d + l.raster + rowBytes * y;
        BYTE *dst = out.GetBits(int(y));
        for (std::size_t x = 0; x < w; ++x)
            dst[x] = BYTE(src[x >> 3] >> (7 - (x & 7)) & 1);
    }
}

// Every row into out, or into the request's sink's band (out then the
// band), each row waiting for room and handed on once written.
template <typename Samples>
const char *ReadSamples(Samples next, const PnmLayout &l, CxImage &out, const cxcodec::DecodeRequest &req,
                        cxcodec::RowSink *sink = nullptr)
{
    const std::vector<BYTE> grey = GreyScale(l.maxval), colour = ColourScale(l.maxval);
    const int w = int(l.width), h = int(l.height);
    std::uint32_t v[4] = {};
    for (int y = 0; y < h; ++y) {
        if (req.cancel && req.cancel->load())
            return "cancelled";
        if (sink && y > 0) {
            sink->Filled(y - 1);
            // Nothing of the picture is held, so neither is the file read.
            if (req.mapped && y % 64 == 0)
                req.mapped->Release(next.At());
        }
        if (sink && !sink->Room(y))
            return "stopped";
        BYTE *dst = out.GetBits(y);
        BYTE *alpha = out.AlphaIsValid() ? out.AlphaGetPointer(y) : nullptr;
        for (int x = 0; x < w; ++x) {
            for (int k = 0; k < l.channels; ++k)
                if (!next(v[k]))
                    return next.Ended() ? "truncated PNM data" : "cannot decode PNM";
            if (l.pbm || l.bilevel) {
                dst[x] = BYTE(v[0]);
            } else if (l.channels == 1) {
                dst[x] = grey[v[0]];
            } else if (l.channels == 2) {
                std::memset(dst + 3 * x, grey[v[0]], 3);
                alpha[x] = colour[v[1]];
            } else {
                dst[3 * x] = colour[v[2]];
                dst[3 * x + 1] = colour[v[1]];
                dst[3 * x + 2] = colour[v[0]];
                if (alpha)
                    alpha[x] = colour[v[3]];
            }
        }
    }
    if (sink && h > 0)
        sink->Filled(h - 1);
    return nullptr;
}

// The whole raster into out (a raw PBM's bits only without a sink); why
// it stopped short, or null.
const char *ReadRaster(const std::uint8_t *data, std::size_t size, const PnmLayout &l, CxImage &out,
                       const cxcodec::DecodeRequest &req, cxcodec::RowSink *sink = nullptr)
{
    if (l.plain)
        return ReadSamples(PlainSamples(data, size, l), l, out, req, sink);
    if (l.pbm) {
        ReadRawBits(data, l, out);
        return nullptr;
    }
    if (l.maxval > 255)
        return ReadSamples(RawSamples<true>(data, l), l, out, req, sink);
    return ReadSamples(RawSamples<false>(data, l), l, out, req, sink);
}

// Whether the rows may go to the request's sink: grey or colour without alpha.
bool MayStream(const PnmLayout &l, const cxcodec::DecodeRequest &req)
{
    return req.rows && !l.pbm && !l.bilevel && (l.channels == 1 || l.channels == 3);
}

// Such rows read into the sink's band as they come; null when the sink does
// not take the picture (nothing read yet). why then tells a failure partway.
CxImage *StreamRows(const std::uint8_t *data, std::size_t size, const PnmLayout &l,
                    const cxcodec::DecodeRequest &req, const char *&why)
{
    if (!MayStream(l, req))
        return nullptr;
    CxImage *band =
        req.rows->Begin(int(l.width), int(l.height), l.channels == 1 ? 8 : 24, CXIMAGE_FORMAT_PNM, {});
    if (!band)
        return nullptr;
    if (l.channels == 1 && !SetGreys(*band)) {
        why = "out of memory";
        return band;
    }
    CxImageAccess::SetOrientation(*band, 1);
    why = ReadRaster(data, size, l, *band, req, req.rows);
    return band;
}

} // namespace

namespace cxcodec {

bool DecodePnm(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req)
{
    if (!data || size < 3 || data[0] != 'P' || data[1] < '1' || data[1] > '7' ||
        !(IsBlank(data[2]) || data[2] == '#'))
        return RefuseImage(out, "cannot decode PNM");
    PnmLayout l;
    if (data[1] == '7') {
        if (const char *why = ParsePam(data, size, l))
            return RefuseImage(out, why);
    } else if (!ParseNetpbm(data, size, l)) {
        return RefuseImage(out, "cannot decode PNM");
    }
    const bool fits = FitsPixelLimits(static_cast<long long>(l.width), static_cast<long long>(l.height));
    if (!fits && !MayStream(l, req))
        return RefuseImage(out, "image too large");
    // A raw sample takes its bytes (a raw PBM pixel a bit, each row starting
    // a byte), a plain one a character at least.
    const std::uint64_t samples = l.width * l.height * std::uint64_t(l.channels);
    const std::uint64_t needs = l.pbm && !l.plain            ? (l.width + 7) / 8 * l.height
                                : l.maxval > 255 && !l.plain ? 2 * samples
                                                             : samples;
    if (size - l.raster < needs)
        return RefuseImage(out, "truncated PNM data");
    if (req.cancel && req.cancel->load())
        return RefuseImage(out, "cancelled");
    // Rows that may stream go to the sink, past the pixel limit too.
    const char *why = nullptr;
    if (StreamRows(data, size, l, req, why))
        return why ? RefuseImage(out, why) : true;
    if (!fits)
        return RefuseImage(out, "image too large");
    if (!MakePicture(l, out))
        return RefuseImage(out, "out of memory");
    why = ReadRaster(data, size, l, out, req);
    if (why)
        return RefuseImage(out, why);
    if (out.AlphaIsValid()) {
        bool opaque = true;
        for (int y = 0; y < out.GetHeight() && opaque; ++y) {
            const BYTE *a = out.AlphaGetPointer(y);
            opaque = std::all_of(a, a + out.GetWidth(), [](BYTE v) { return v == 255; });
        }
        if (opaque)
            out.AlphaDelete();
    }
    CxImageAccess::SetOrientation(out, 1);
    CxImageAccess::SetSourceSize(out, out.GetWidth(), out.GetHeight());
    return true;
}

} // namespace cxcodec

// Written as the fewest channels that hold the picture: grey as PGM (P5),
// colour as PPM (P6), anything with transparency as a PAM (P7) of RGB and
// alpha; 8 bits a sample, rows as they arrive.
bool cxcodec::EncodePnm(const CxImage &img, CxFile &file)
{
    const int w = img.GetWidth(), h = img.GetHeight();
    if (!img.IsValid() || w <= 0 || h <= 0)
        return false;
    const bool colour = img.GetBpp() == 24;
    const bool alpha = colour ? img.AlphaIsValid() : img.GetTransIndex() >= 0;
    const bool grey = !colour && !alpha && img.IsGrayScale();
    const int channels = grey ? 1 : alpha ? 4 : 3;
    const std::string size = std::to_string(w) + (alpha ? "\nHEIGHT " : " ") + std::to_string(h);
    const std::string header =
        alpha ? "P7\nWIDTH " + size + "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n"
              : std::string(grey ? "P5\n" : "P6\n") + size + "\n255\n";
    if (file.Write(header.data(), 1, header.size()) != header.size())
        return false;
    std::vector<std::uint8_t> rgba(std::size_t(w) * 4), row(std::size_t(w) * std::size_t(channels));
    cxcodec::RowFeed *const feed = CxImageAccess::Feed(img);
    for (int y = 0; y < h; ++y) {
        if (feed && !feed->Arrived(y))
            return false;
        cxcodec::RowToRGBA(img, y, rgba.data());
        const std::uint8_t *p = rgba.data();
        std::uint8_t *out = row.data();
        for (int x = 0; x < w; ++x, p += 4)
            for (int c = 0; c < channels; ++c)
                *out++ = p[c];
        if (file.Write(row.data(), 1, row.size()) != row.size())
            return false;
    }
    return true;
}
