#include "imaging/turnedrows.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr int T = CxTurnedRows::kTile;

// Where a pixel of the source goes: x' = a x + b y + tx, y' = c x + d y + ty,
// in a picture of w x h. Each step below is one of the whole picture's.
struct Placement {
    int a = 1, b = 0, c = 0, d = 1;
    std::int64_t tx = 0, ty = 0;
    std::int64_t w = 0, h = 0;

    void Then(int pa, int pb, int pc, int pd, std::int64_t ptx, std::int64_t pty, bool swaps)
    {
        Placement n = *this;
        n.a = pa * a + pb * c;
        n.b = pa * b + pb * d;
        n.tx = pa * tx + pb * ty + ptx;
        n.c = pc * a + pd * c;
        n.d = pc * b + pd * d;
        n.ty = pc * tx + pd * ty + pty;
        if (swaps)
            std::swap(n.w, n.h);
        *this = n;
    }
    void Mirror() { Then(-1, 0, 0, 1, w - 1, 0, false); }
    void Flip() { Then(1, 0, 0, -1, 0, h - 1, false); }
    void Half() { Then(-1, 0, 0, -1, w - 1, h - 1, false); }
    void Right() { Then(0, -1, 1, 0, h - 1, 0, true); } // a quarter clockwise
    void Left() { Then(0, 1, -1, 0, 0, w - 1, true); }
    void Transpose() { Then(0, 1, 1, 0, 0, 0, true); }
    // Only the part of width x height at (x, y).
    void Keep(std::int64_t x, std::int64_t y, std::int64_t width, std::int64_t height)
    {
        Then(1, 0, 0, 1, -x, -y, false);
        w = width;
        h = height;
    }
    // Where the placed picture's (u, v) lies in the source.
    void Source(std::int64_t u, std::int64_t v, std::int64_t &x, std::int64_t &y) const
    {
        x = a * (u - tx) + c * (v - ty);
        y = b * (u - tx) + d * (v - ty);
    }
    // Upright, from rows stored as the EXIF orientation records.
    void Orient(int orientation)
    {
        switch (orientation) {
        case 2:
            Mirror();
            break;
        case 3:
            Half();
            break;
        case 4:
            Flip();
            break;
        case 5:
            Transpose();
            break;
        case 6:
            Right();
            break;
        case 7:
            Transpose();
            Half();
            break;
        case 8:
            Left();
            break;
        default:
            break;
        }
    }
};

// Reads or writes (io: pread or pwrite) size bytes at `at`, however many
// calls that takes.
template <class Io, class Bytes> bool Fully(Io io, int fd, Bytes data, std::size_t size, off_t at)
{
    while (size > 0) {
        const ssize_t n = io(fd, data, size, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= std::size_t(n);
        at += n;
    }
    return true;
}

bool WriteAll(int fd, const std::uint8_t *data, std::size_t size, off_t at)
{
    return Fully(::pwrite, fd, data, size, at);
}

bool ReadAll(int fd, std::uint8_t *data, std::size_t size, off_t at)
{
    return Fully(::pread, fd, data, size, at);
}

// n pixels of PB bytes from a tile, `step` bytes apart, to a row (and the
// last byte of each, where the pixel has alpha, to the alpha row).
template <int PB, bool Alpha>
void CopyRun(const std::uint8_t *from, std::ptrdiff_t step, int n, std::uint8_t *row, std::uint8_t *alpha)
{
    constexpr int colour = Alpha ? PB - 1 : PB;
    for (int i = 0; i < n; ++i, from += step) {
        for (int k = 0; k < colour; ++k)
            row[k] = from[k];
        row += colour;
        if constexpr (Alpha)
            *alpha++ = from[colour];
    }
}

} // namespace

CxTurnedRows::CxTurnedRows(std::string folder, Turn turn) : m_folder(std::move(folder)), m_turn(turn) {}

CxTurnedRows::~CxTurnedRows()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void CxTurnedRows::FileSize(int width, int height)
{
    m_fileW = width;
    m_fileH = height;
}

CxImage *CxTurnedRows::Begin(int width, int height, int bpp, std::uint32_t type, const CxMetadata &meta)
{
    if (!m_next || m_in.IsValid() || (bpp != 8 && bpp != 24) || width <= 0 || height <= 0 ||
        !CxImageAccess::CreateBand(m_in, width, height, bpp, type, 2 * T))
        return nullptr;
    m_meta = meta;
    return &m_in;
}

bool CxTurnedRows::Fail(const char *why)
{
    if (m_failure.empty())
        m_failure = why;
    return false;
}

bool CxTurnedRows::Room(int y)
{
    if (!m_failure.empty())
        return false;
    if (y == 0 && m_fd < 0) {
        // The picture's facts are set by now: whether it has alpha.
        const bool across = ((m_turn.quarters & 1) != 0) != (m_turn.orient && m_in.GetOrientation() >= 5);
        if (m_takes && !m_takes(m_in, m_meta, across ? m_in.GetHeight() : m_in.GetWidth(),
                                across ? m_in.GetWidth() : m_in.GetHeight()))
            return Fail("image too large");
        const std::int64_t width = m_in.GetWidth(), height = m_in.GetHeight();
        m_pixelBytes = m_in.GetBpp() / 8 + (m_in.AlphaIsValid() ? 1 : 0);
        m_tilesX = int((width + T - 1) / T);
        m_tilesY = int((height + T - 1) / T);
        const std::uint64_t tileBytes = std::uint64_t(T) * T * std::uint64_t(m_pixelBytes);
        const std::uint64_t bytes = tileBytes * std::uint64_t(m_tilesX) * std::uint64_t(m_tilesY);
        const char *why = nullptr;
        if ((m_fd = OpenScratchFile(m_folder, bytes, why)) < 0)
            return Fail((std::string(why) + " to turn the picture").c_str());
        try {
            m_buffer.resize(std::size_t(tileBytes) * std::size_t(m_tilesX));
        } catch (const std::bad_alloc &) {
            return Fail("out of memory");
        }
    }
    // The band holds two rows of tiles: the one before y's must be stored.
    return y / T < m_stored + 2 || Fail("rows out of order");
}

void CxTurnedRows::Filled(int y)
{
    if (!m_failure.empty() || m_fd < 0)
        return;
    const int height = m_in.GetHeight();
    while (m_stored < m_tilesY && (std::int64_t(m_stored) + 1) * T <= std::int64_t(y) + 1) {
        if (!Store(m_stored))
            return;
        ++m_stored;
    }
    if (y + 1 == height && m_stored < m_tilesY) {
        if (!Store(m_stored))
            return;
        ++m_stored;
    }
    if (y + 1 == height && m_stored == m_tilesY) {
        Give();
        // Nothing more is read from the file: its blocks go back at once.
        ::close(m_fd);
        m_fd = -1;
    }
}

bool CxTurnedRows::Store(int tileRow)
{
    const int width = m_in.GetWidth(), bytes = m_in.GetBpp() / 8, pb = m_pixelBytes;
    const int top = tileRow * T, rows = std::min(T, m_in.GetHeight() - top);
    const std::size_t tileBytes = std::size_t(T) * T * std::size_t(pb);
    for (int r = 0; r < rows; ++r) {
        const std::uint8_t *src = m_in.GetBits(top + r);
        const std::uint8_t *alpha = m_in.AlphaGetPointer(top + r);
        if (m_counts && bytes == 3)
            m_counts->Row(src, width);
        for (int tx = 0; tx < m_tilesX; ++tx) {
            const int x0 = tx * T, n = std::min(T, width - x0);
            std::uint8_t *to =
                m_buffer.data() + std::size_t(tx) * tileBytes + std::size_t(r) * T * std::size_t(pb);
            if (!alpha) {
                std::memcpy(to, src + std::size_t(x0) * std::size_t(bytes),
                            std::size_t(n) * std::size_t(bytes));
                continue;
            }
            const std::uint8_t *s = src + std::size_t(x0) * std::size_t(bytes);
            for (int i = 0; i < n; ++i, s += bytes, to += pb) {
                std::memcpy(to, s, std::size_t(bytes));
                to[bytes] = alpha[x0 + i];
            }
        }
    }
    return WriteAll(m_fd, m_buffer.data(), m_buffer.size(), off_t(tileRow) * off_t(m_buffer.size())) ||
           Fail("cannot write the temporary file to turn the picture");
}

bool CxTurnedRows::PixelAt(std::int64_t x, std::int64_t y, RGBQUAD &colour)
{
    const int pb = m_pixelBytes;
    const std::size_t tileBytes = std::size_t(T) * T * std::size_t(pb);
    const off_t at = (off_t(y / T) * m_tilesX + off_t(x / T)) * off_t(tileBytes) +
                     off_t((std::size_t(y % T) * T + std::size_t(x % T)) * std::size_t(pb));
    std::uint8_t p[4] = {};
    if (!ReadAll(m_fd, p, std::size_t(pb), at))
        return Fail("cannot read the temporary file to turn the picture");
    if (m_in.GetBpp() == 24) {
        colour = RGBQUAD{p[0], p[1], p[2], BYTE(pb == 4 ? p[3] : 255)};
    } else {
        colour = m_in.GetPaletteColor(p[0]);
        colour.rgbReserved = p[0] == m_in.GetTransIndex() ? 0 : 255;
    }
    return true;
}

bool CxTurnedRows::ScanRows(cxadjust::TrimScan &scan)
{
    const int width = m_in.GetWidth(), height = m_in.GetHeight(), bytes = m_in.GetBpp() / 8,
              pb = m_pixelBytes;
    const std::size_t tileBytes = std::size_t(T) * T * std::size_t(pb);
    const bool alpha = pb > bytes;
    std::vector<std::uint8_t> row(std::size_t(width) * std::size_t(bytes)),
        alphaRow(alpha ? std::size_t(width) : 0);
    for (int tileRow = 0; tileRow < m_tilesY; ++tileRow) {
        if (!ReadAll(m_fd, m_buffer.data(), m_buffer.size(), off_t(tileRow) * off_t(m_buffer.size())))
            return Fail("cannot read the temporary file to turn the picture");
        const int top = tileRow * T, rows = std::min(T, height - top);
        for (int r = 0; r < rows; ++r) {
            for (int tx = 0; tx < m_tilesX; ++tx) {
                const int x0 = tx * T, n = std::min(T, width - x0);
                const std::uint8_t *from =
                    m_buffer.data() + std::size_t(tx) * tileBytes + std::size_t(r) * T * std::size_t(pb);
                if (!alpha) {
                    std::memcpy(row.data() + std::size_t(x0) * std::size_t(bytes), from,
                                std::size_t(n) * std::size_t(bytes));
                    continue;
                }
                for (int i = 0; i < n; ++i, from += pb) {
                    std::memcpy(row.data() + std::size_t(x0 + i) * std::size_t(bytes), from,
                                std::size_t(bytes));
                    alphaRow[std::size_t(x0 + i)] = from[bytes];
                }
            }
            scan.Row(top + r, row.data(), alpha ? alphaRow.data() : nullptr, width);
        }
    }
    return true;
}

bool CxTurnedRows::Give()
{
    const int orientation = m_turn.orient ? m_in.GetOrientation() : 1;
    Placement p;
    p.w = m_in.GetWidth();
    p.h = m_in.GetHeight();
    p.Orient(orientation);
    // The file's size the decoder read the picture at a scale of, upright.
    std::int64_t fileW = orientation >= 5 ? m_fileH : m_fileW, fileH = orientation >= 5 ? m_fileW : m_fileH;
    if (m_turn.trim) {
        // The box the borders leave, found in the rows as stored and placed
        // upright as the upright picture's corners decide it.
        std::array<RGBQUAD, 4> corners;
        const std::int64_t at[4][2] = {{0, 0}, {p.w - 1, 0}, {0, p.h - 1}, {p.w - 1, p.h - 1}};
        for (int k = 0; k < 4; ++k) {
            std::int64_t x = 0, y = 0;
            p.Source(at[k][0], at[k][1], x, y);
            if (!PixelAt(x, y, corners[std::size_t(k)]))
                return false;
        }
        cxadjust::TrimScan scan(m_in, corners, m_turn.trimFuzz);
        if (!ScanRows(scan))
            return false;
        const cxadjust::Box stored = scan.Result(m_in.GetWidth(), m_in.GetHeight());
        const std::int64_t x0 = stored.left, y0 = stored.top, x1 = x0 + stored.width - 1,
                           y1 = y0 + stored.height - 1;
        const std::int64_t u0 = p.a * x0 + p.b * y0 + p.tx, v0 = p.c * x0 + p.d * y0 + p.ty;
        const std::int64_t u1 = p.a * x1 + p.b * y1 + p.tx, v1 = p.c * x1 + p.d * y1 + p.ty;
        const std::int64_t left = std::min(u0, u1), top = std::min(v0, v1);
        const std::int64_t width = std::max(u0, u1) - left + 1, height = std::max(v0, v1) - top + 1;
        if (width != p.w || height != p.h) {
            // The file's size follows the part kept, as the whole picture's
            // trim scales it.
            if (fileW > 0 && fileH > 0) {
                fileW =
                    std::max<std::int64_t>(1, std::llround(double(width) * (double(fileW) / double(p.w))));
                fileH =
                    std::max<std::int64_t>(1, std::llround(double(height) * (double(fileH) / double(p.h))));
            }
            p.Keep(left, top, width, height);
        }
    }
    if (m_turn.mirror)
        p.Mirror();
    if (m_turn.flip)
        p.Flip();
    for (int q = 0; q < (m_turn.quarters & 3); ++q)
        p.Right();
    const int outW = int(p.w), outH = int(p.h);
    if (fileW > 0 && fileH > 0) {
        const bool quarter = (m_turn.quarters & 1) != 0;
        m_next->FileSize(int(quarter ? fileH : fileW), int(quarter ? fileW : fileH));
    }
    CxImage *out = m_next->Begin(outW, outH, m_in.GetBpp(), m_in.GetType(), m_meta);
    if (!out)
        return Fail("image too large");
    CxImageAccess::CopyFacts(*out, m_in);
    if (orientation != 1) {
        CxImageAccess::SetOrientation(*out, 1);
        if (orientation >= 5)
            CxImageAccess::SetSourceSize(*out, m_in.GetSrcHeight(), m_in.GetSrcWidth());
    }
    const bool alpha = m_in.AlphaIsValid();
    if (alpha && !out->AlphaCreate())
        return Fail("out of memory");

    // Along an output row the source moves by (a, c) (p.Source says where
    // each output pixel comes from).
    const int a = p.a, c = p.b;
    const int pb = m_pixelBytes;
    const std::size_t tileBytes = std::size_t(T) * T * std::size_t(pb);
    const int colour = m_in.GetBpp() / 8;
    const std::size_t rowBytes = std::size_t(outW) * std::size_t(colour);
    std::vector<std::uint8_t> strip, band, alphaBand;
    try {
        band.resize(rowBytes * T);
        alphaBand.resize(alpha ? std::size_t(outW) * T : 0);
    } catch (const std::bad_alloc &) {
        return Fail("out of memory");
    }
    for (int v0 = 0; v0 < outH; v0 += T) {
        const int v1 = std::min(outH, v0 + T);
        // The source's tiles under these rows.
        std::int64_t xs[2], ys[2];
        p.Source(0, v0, xs[0], ys[0]);
        p.Source(outW - 1, v1 - 1, xs[1], ys[1]);
        const int tx0 = int(std::min(xs[0], xs[1]) / T), tx1 = int(std::max(xs[0], xs[1]) / T);
        const int ty0 = int(std::min(ys[0], ys[1]) / T), ty1 = int(std::max(ys[0], ys[1]) / T);
        const int across = tx1 - tx0 + 1;
        try {
            strip.resize(tileBytes * std::size_t(across) * std::size_t(ty1 - ty0 + 1));
        } catch (const std::bad_alloc &) {
            return Fail("out of memory");
        }
        for (int ty = ty0; ty <= ty1; ++ty)
            for (int tx = tx0; tx <= tx1; ++tx) {
                std::uint8_t *to =
                    strip.data() + (std::size_t(ty - ty0) * across + std::size_t(tx - tx0)) * tileBytes;
                const off_t at = (off_t(ty) * m_tilesX + tx) * off_t(tileBytes);
                if (!ReadAll(m_fd, to, tileBytes, at))
                    return Fail("cannot read the temporary file to turn the picture");
            }
        // Along a row, the source moves by one pixel: across a tile's row or
        // down its column. The band is made a square of the tile's side at
        // a time, so the few tiles under it stay in the cache (a quarter
        // turn reads each tile's columns), then given on row by row.
        const std::ptrdiff_t step = a != 0 ? std::ptrdiff_t(a) * pb : std::ptrdiff_t(c) * T * pb;
        for (int u0 = 0; u0 < outW; u0 += T) {
            const int u1 = std::min(outW, u0 + T);
            for (int v = v0; v < v1; ++v) {
                std::uint8_t *row = band.data() + std::size_t(v - v0) * rowBytes;
                std::uint8_t *alphaRow =
                    alpha ? alphaBand.data() + std::size_t(v - v0) * std::size_t(outW) : nullptr;
                for (int u = u0; u < u1;) {
                    std::int64_t x = 0, y = 0;
                    p.Source(u, v, x, y);
                    const int inX = int(x % T), inY = int(y % T);
                    // Pixels left in this tile the way the row goes.
                    const int left = a > 0 ? T - inX : a < 0 ? inX + 1 : c > 0 ? T - inY : inY + 1;
                    const int n = std::min(left, u1 - u);
                    const std::uint8_t *from =
                        strip.data() +
                        (std::size_t(y / T - ty0) * across + std::size_t(x / T - tx0)) * tileBytes +
                        (std::size_t(inY) * T + std::size_t(inX)) * std::size_t(pb);
                    std::uint8_t *to = row + std::size_t(u) * std::size_t(colour);
                    std::uint8_t *alphaTo = alphaRow ? alphaRow + u : nullptr;
                    switch (pb) {
                    case 1:
                        CopyRun<1, false>(from, step, n, to, nullptr);
                        break;
                    case 2:
                        CopyRun<2, true>(from, step, n, to, alphaTo);
                        break;
                    case 3:
                        CopyRun<3, false>(from, step, n, to, nullptr);
                        break;
                    default:
                        CopyRun<4, true>(from, step, n, to, alphaTo);
                        break;
                    }
                    u += n;
                }
            }
        }
        for (int v = v0; v < v1; ++v) {
            if (!m_next->Room(v))
                return false; // the encoder gave up
            std::memcpy(out->GetBits(v), band.data() + std::size_t(v - v0) * rowBytes, rowBytes);
            if (alpha)
                std::memcpy(out->AlphaGetPointer(v),
                            alphaBand.data() + std::size_t(v - v0) * std::size_t(outW), std::size_t(outW));
            m_next->Filled(v);
        }
    }
    return true;
}
