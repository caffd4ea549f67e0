#include "imaging/rowband.h"

#include "imaging/formats.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>

CxRowBand::CxRowBand(std::size_t bytes, const CxRowStep *step) : m_bytes(bytes), m_step(step) {}

CxImage *CxRowBand::Begin(int width, int height, int bpp, std::uint32_t type, const CxMetadata &)
{
    const std::size_t rowBytes = std::size_t(std::max(1, width)) * (bpp == 24 ? 4 : 1);
    const int rows = int(std::clamp<std::size_t>(m_bytes / rowBytes, kMinRows, std::size_t(std::max(1, height))));
    std::lock_guard lock(m_mutex);
    if (m_begun || !CxImageAccess::CreateBand(m_picture, width, height, bpp, type, rows))
        return nullptr;
    if (m_step && !m_step->Takes(bpp)) {
        m_picture.Destroy();
        return nullptr;
    }
    m_rows = std::min(rows, height);
    m_height = height;
    return &m_picture;
}

bool CxRowBand::Room(int y)
{
    std::unique_lock lock(m_mutex);
    if (y == 0 && !m_begun) {
        m_begun = true;
        m_changed.notify_all();
    }
    if (y - m_released >= m_rows && !m_abandoned) {
        // Full: wait until half of it is free again.
        m_decoderNeeds = y - m_rows + m_rows / 2 + 1;
        m_changed.wait(lock, [&] { return m_abandoned || m_released >= m_decoderNeeds; });
        m_decoderNeeds = -1;
    }
    return !m_abandoned;
}

void CxRowBand::Filled(int y)
{
    // The rows since the last call are the decoder's until told below. It
    // does the step on them itself while the encoder is busy; while the
    // encoder waits for rows, they go on as they are and the encoder does
    // the step (so the step falls on whichever side has time for it).
    bool stepHere = false;
    if (m_step) {
        std::lock_guard lock(m_mutex);
        stepHere = m_stepped == m_filled && m_encoderNeeds < 0;
    }
    if (stepHere)
        for (int r = m_filled; r <= y; ++r)
            m_step->Row(m_picture.GetBits(r), m_picture.AlphaGetPointer(r), m_picture.GetWidth(),
                        m_picture.GetBpp());
    std::lock_guard lock(m_mutex);
    if (stepHere)
        m_stepped = y + 1;
    m_filled = y + 1;
    if (m_encoderNeeds >= 0 && m_filled >= m_encoderNeeds)
        m_changed.notify_all();
}

void CxRowBand::Close()
{
    std::lock_guard lock(m_mutex);
    m_closed = true;
    m_changed.notify_all();
}

bool CxRowBand::Arrived(int y)
{
    std::unique_lock lock(m_mutex);
    m_released = y;
    if (m_decoderNeeds >= 0 && m_released >= m_decoderNeeds)
        m_changed.notify_all();
    if (y >= m_filled) {
        // Wait for a stretch of rows rather than for each one.
        m_encoderNeeds = std::min(m_height, y + std::max(1, m_rows / 4));
        m_changed.wait(lock, [&] { return m_closed || m_filled >= m_encoderNeeds; });
        m_encoderNeeds = -1;
        if (y >= m_filled)
            return false;
    }
    if (m_step && y >= m_stepped) {
        // Rows handed on without the step: this side does it, on every row
        // arrived so far (they stay in the band until read).
        const int from = m_stepped, to = m_filled;
        m_stepped = to;
        lock.unlock();
        for (int r = from; r < to; ++r)
            m_step->Row(m_picture.GetBits(r), m_picture.AlphaGetPointer(r), m_picture.GetWidth(),
                        m_picture.GetBpp());
    }
    return true;
}

CxImage *CxRowBand::WaitBegun()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_begun || m_closed; });
    return m_begun ? &m_picture : nullptr;
}

void CxRowBand::Abandon()
{
    std::lock_guard lock(m_mutex);
    m_abandonedFirst = !m_closed;
    m_abandoned = true;
    m_changed.notify_all();
}

bool CxRowBand::AbandonedFirst() const
{
    std::lock_guard lock(m_mutex);
    return m_abandonedFirst;
}

CxFramedRows::CxFramedRows(cxcodec::RowSink &next, const CxRowEdits &edits) : m_next(next), m_edits(edits) {}

CxImage *CxFramedRows::Begin(int width, int height, int bpp, std::uint32_t type, const CxMetadata &meta)
{
    CxRegion r{0, 0, width, height};
    if (m_out || (bpp != 8 && bpp != 24) ||
        (m_edits.filter && (!m_edits.filter->Valid() || m_edits.filter->Radius() > kMaxFilterRadius)) ||
        (m_edits.region && !m_edits.region(width, height, r)) || r.left < 0 || r.top < 0 || r.width <= 0 ||
        r.height <= 0 || r.left + std::int64_t(r.width) > width || r.top + std::int64_t(r.height) > height ||
        (m_edits.step && !m_edits.step->Takes(bpp)))
        return nullptr;
    const std::int64_t border = m_edits.border ? m_edits.border(r.width, r.height) : 0;
    if (border < 0 || ((border > 0 || m_edits.filter || m_edits.stamp) && bpp != 24) ||
        r.width + 2 * border > CxImage::kMaxDimension || r.height + 2 * border > CxImage::kMaxDimension)
        return nullptr;
    // A decoder writes up to a few rows at once (a JPEG's 16): room for
    // several such batches, and the rows a filter reads above them.
    const int kRows = 64 + 2 * (m_edits.filter ? m_edits.filter->Radius() : 0);
    if (!CxImageAccess::CreateBand(m_in, width, height, bpp, type, kRows))
        return nullptr;
    const int outW = r.width + 2 * int(border), outH = r.height + 2 * int(border);
    int stampBottom = 0;
    if (m_edits.stamp) {
        m_edits.stamp->Rows(outW, outH, m_stampTop, stampBottom);
        m_stampTop = std::clamp(m_stampTop, 0, outH);
        stampBottom = std::clamp(stampBottom, m_stampTop, outH);
        if (stampBottom > m_stampTop && !m_stamped.Create(outW, stampBottom - m_stampTop, 24)) {
            m_in.Destroy();
            return nullptr;
        }
    }
    m_out = m_next.Begin(outW, outH, bpp, type, meta);
    if (!m_out) {
        m_in.Destroy();
        m_stamped.Destroy();
        return nullptr;
    }
    m_region = r;
    m_border = int(border);
    return &m_in;
}

bool CxFramedRows::Wants(int &left, int &top, int &width, int &height) const
{
    if (!m_out)
        return false;
    left = m_region.left;
    top = m_region.top;
    width = m_region.width;
    height = m_region.height;
    return true;
}

bool CxFramedRows::Room(int y)
{
    // Rows before y are written; y's slot is about to be.
    return Pass(y);
}

void CxFramedRows::Filled(int y)
{
    Pass(y + 1);
}

void CxFramedRows::Fill(BYTE *row, BYTE *alpha, int from, int to)
{
    BYTE *p = row + std::size_t(from) * 3;
    for (int x = from; x < to; ++x, p += 3) {
        p[0] = m_edits.borderColour.rgbBlue;
        p[1] = m_edits.borderColour.rgbGreen;
        p[2] = m_edits.borderColour.rgbRed;
    }
    if (alpha)
        std::memset(alpha + from, 255, std::size_t(to - from));
}

bool CxFramedRows::Stamp()
{
    const int width = m_out->GetWidth();
    m_edits.stamp->Draw(m_stamped, m_stampTop, width, m_out->GetHeight());
    for (int i = 0; i < m_stamped.GetHeight(); ++i) {
        const int oy = m_stampTop + i;
        if (!m_next.Room(oy))
            return false;
        std::memcpy(m_out->GetBits(oy), m_stamped.GetBits(i), std::size_t(width) * 3);
        if (BYTE *alpha = m_out->AlphaGetPointer(oy))
            std::memcpy(alpha, m_stamped.AlphaGetPointer(i), std::size_t(width));
        m_next.Filled(oy);
    }
    m_stamped.Destroy();
    return true;
}

bool CxFramedRows::Pass(int end)
{
    end = std::min(end, m_in.GetHeight());
    const int bytes = m_in.GetBpp() / 8, outW = m_out->GetWidth(), b = m_border;
    const int height = m_region.height;
    // The rows the output has by now: the top border, the region's rows
    // read so far (less those a filter still waits below), the bottom
    // border once the last of them is.
    const int read = std::clamp(end - m_region.top, 0, height);
    const int radius = m_edits.filter ? m_edits.filter->Radius() : 0;
    const int made = read == height ? height : std::max(0, read - radius);
    const int ready = made == height ? m_out->GetHeight() : b + made;
    const auto regionRow = [&](int i) {
        return m_in.GetBits(m_region.top + i) + std::size_t(m_region.left) * bytes;
    };
    const auto regionAlpha = [&](int i) {
        BYTE *alpha = m_in.AlphaGetPointer(m_region.top + i);
        return alpha ? alpha + m_region.left : nullptr;
    };
    if (m_edits.step)
        for (; m_stepped < read; ++m_stepped)
            m_edits.step->Row(regionRow(m_stepped), regionAlpha(m_stepped), m_region.width, m_in.GetBpp());
    if (m_given >= ready)
        return true;
    if (m_given == 0) {
        // What the decoder set before its first row, given to the next
        // sink's picture before its own first row. (The source's size stays
        // the file's, as a cut picture's does.)
        CxImageAccess::CopyFacts(*m_out, m_in);
        if (m_in.AlphaIsValid() &&
            (!m_out->AlphaCreate() || (m_stamped.IsValid() && !m_stamped.AlphaCreate())))
            return false;
    }
    for (; m_given < ready; ++m_given) {
        const int oy = m_given;
        // A row the stamp touches waits with the others it touches.
        const bool held = m_stamped.IsValid() && oy >= m_stampTop && oy < m_stampTop + m_stamped.GetHeight();
        if (!held && !m_next.Room(oy))
            return false;
        BYTE *const outRow = held ? m_stamped.GetBits(oy - m_stampTop) : m_out->GetBits(oy);
        BYTE *const outAlpha = held ? m_stamped.AlphaGetPointer(oy - m_stampTop) : m_out->AlphaGetPointer(oy);
        const auto given = [&] {
            if (!held)
                m_next.Filled(oy); // each row told, or a full band would wait on itself
            else if (oy + 1 == m_stampTop + m_stamped.GetHeight())
                return Stamp();
            return true;
        };
        const int i = oy - b;
        if (oy < b || oy >= b + height) {
            Fill(outRow, outAlpha, 0, outW);
            if (!given())
                return false;
            continue;
        }
        BYTE *row = outRow + std::size_t(b) * std::size_t(bytes);
        BYTE *alpha = outAlpha;
        if (alpha)
            alpha += b;
        if (m_edits.filter) {
            // The rows around, the region's first and last repeated past it.
            const BYTE *around[2 * kMaxFilterRadius + 1];
            for (int k = -radius; k <= radius; ++k)
                around[k + radius] = regionRow(std::clamp(i + k, 0, height - 1));
            if (!m_edits.filter->Row(around, m_region.width, row))
                return false;
        } else {
            std::memcpy(row, regionRow(i), std::size_t(m_region.width) * std::size_t(bytes));
        }
        if (alpha)
            std::memcpy(alpha, regionAlpha(i), std::size_t(m_region.width));
        if (b > 0) {
            Fill(outRow, outAlpha, 0, b);
            Fill(outRow, outAlpha, b + m_region.width, outW);
        }
        if (!given())
            return false;
    }
    return true;
}

namespace cxstream {

bool Streams(std::uint32_t sourceType, std::uint32_t outType)
{
    const ImageFormat *source = FormatByType(sourceType), *output = FormatByType(outType);
    return source && output && source->facts.rowsIn != RowDecoding::Whole && output->facts.rowsOut;
}

Outcome Convert(const char *filename, std::uint32_t outType,
                const std::function<std::string(CxImage &)> &prepare, CxImage &image, CxFile &out,
                std::string &reason, const CxDecodeRequest &req, const CxRowEdits &edits,
                ResampledRows *shrink, CxTurnedRows *turn)
{
    // Rows only stepped go through the band, the step on whichever side
    // has time for it; rows cut, filtered or framed through the framing.
    const bool framed = edits.region || edits.border || edits.filter || edits.stamp;
    CxRowBand band(std::size_t(1) << 20, framed ? nullptr : edits.step);
    CxFramedRows frame(band, edits);
    cxcodec::RowSink &edited = framed ? static_cast<cxcodec::RowSink &>(frame) : band;
    if (shrink)
        shrink->SendTo(&edited);
    cxcodec::RowSink &shrunk = shrink ? static_cast<cxcodec::RowSink &>(*shrink) : edited;
    if (turn)
        turn->SendTo(&shrunk);
    cxcodec::RowSink &sink = turn ? static_cast<cxcodec::RowSink &>(*turn) : shrunk;
    bool encoded = false, declined = false;
    std::string encodeWhy;
    const auto encode = [&] {
        CxImage *picture = band.WaitBegun();
        if (!picture)
            return;
        if (outType == CXIMAGE_FORMAT_TIF && !cxcodec::TiffWritesBand(*picture)) {
            declined = true;
            band.Abandon();
            return;
        }
        try {
            encodeWhy = prepare(*picture);
            if (!encodeWhy.empty()) {
                band.Abandon();
                return;
            }
            CxImageAccess::SetFeed(*picture, &band);
            encoded = out.IsOpen() && picture->Encode(&out, outType) && !out.Error();
            if (!encoded)
                encodeWhy = *picture->GetLastError() ? picture->GetLastError() : "cannot encode the image";
        } catch (const std::bad_alloc &) {
            encodeWhy = "out of memory";
        }
        CxImageAccess::SetFeed(*picture, nullptr);
        if (!encoded)
            band.Abandon();
    };
    std::thread encoder;
    try {
        encoder = std::thread(encode);
    } catch (const std::system_error &) {
        // No second thread: the picture comes whole.
        if (!image.Load(filename, CXIMAGE_FORMAT_UNKNOWN, req)) {
            reason = image.GetLastError();
            return Outcome::DecodeFailed;
        }
        return Outcome::Whole;
    }
    bool loaded = false;
    try {
        loaded = image.LoadRows(filename, sink, req);
    } catch (...) {
        band.Close();
        encoder.join();
        throw;
    }
    const std::string decodeWhy = image.GetLastError();
    band.Close();
    encoder.join();
    // A picture the encoder cannot take row by row comes whole.
    if (declined) {
        if (!image.Load(filename, CXIMAGE_FORMAT_UNKNOWN, req)) {
            reason = image.GetLastError();
            return Outcome::DecodeFailed;
        }
        return Outcome::Whole;
    }
    if (loaded && image.IsValid())
        return Outcome::Whole;
    if (turn && !turn->Failure().empty()) {
        reason = turn->Failure();
        return Outcome::DecodeFailed;
    }
    if (!loaded && !band.AbandonedFirst()) {
        reason = decodeWhy.empty() ? "cannot decode the image" : decodeWhy;
        return Outcome::DecodeFailed;
    }
    if (!encoded) {
        reason = encodeWhy;
        return Outcome::EncodeFailed;
    }
    return Outcome::Encoded;
}

} // namespace cxstream
