// Helpers shared by the JPEG, PNG and TIFF codec tests.
#pragma once

#include "imaging/cxfile.h"
#include "imaging/cximage.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

namespace codectest {

inline CxImage LoadFixture(const std::string &name, std::uint32_t type = CXIMAGE_FORMAT_UNKNOWN)
{
    CxImage img;
    EXPECT_TRUE(img.Load(testsupport::DataPath(name).c_str(), type)) << name << ": " << img.GetLastError();
    return img;
}

inline std::vector<std::uint8_t> FixtureBytes(const std::string &name)
{
    return testsupport::ReadFileBytes(testsupport::DataPath(name));
}

// The image written to memory in the given format; empty when the encoder fails.
inline std::vector<std::uint8_t> EncodeBytes(CxImage &img, std::uint32_t type)
{
    CxMemFile mem;
    mem.Open();
    if (!img.Encode(&mem, type))
        return {};
    const std::size_t n = std::size_t(mem.Size());
    std::uint8_t *p = mem.GetBuffer(true);
    std::vector<std::uint8_t> out(p, p + n);
    CxMemFile::FreeBuffer(p);
    return out;
}

inline bool DecodeBytes(const std::vector<std::uint8_t> &bytes, CxImage &out, const CxDecodeRequest &req = {})
{
    return out.Decode(bytes.data(), bytes.size(), CXIMAGE_FORMAT_UNKNOWN, req);
}

inline CxImage Decoded(const std::vector<std::uint8_t> &bytes)
{
    CxImage img;
    EXPECT_TRUE(DecodeBytes(bytes, img)) << img.GetLastError();
    return img;
}

inline int Alpha(const CxImage &img, int x, int y)
{
    return img.GetPixelColor(x, y).rgbReserved;
}

inline int MaxAlphaDiff(const CxImage &a, const CxImage &b)
{
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight())
        return 256;
    int worst = 0;
    for (int y = 0; y < a.GetHeight(); ++y)
        for (int x = 0; x < a.GetWidth(); ++x)
            worst = std::max(worst, std::abs(Alpha(a, x, y) - Alpha(b, x, y)));
    return worst;
}

// PSNR in dB over R, G, B of the pixels opaque in both (infinity when equal).
inline double OpaquePsnr(const CxImage &a, const CxImage &b)
{
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight())
        return 0.0;
    double sum = 0, count = 0;
    for (int y = 0; y < a.GetHeight(); ++y) {
        for (int x = 0; x < a.GetWidth(); ++x) {
            const RGBQUAD p = a.GetPixelColor(x, y), q = b.GetPixelColor(x, y);
            if (p.rgbReserved != 255 || q.rgbReserved != 255)
                continue;
            const double dr = p.rgbRed - q.rgbRed, dg = p.rgbGreen - q.rgbGreen, db = p.rgbBlue - q.rgbBlue;
            sum += dr * dr + dg * dg + db * db;
            count += 3;
        }
    }
    if (sum == 0)
        return count ? std::numeric_limits<double>::infinity() : 0.0;
    return 10.0 * std::log10(255.0 * 255.0 * count / sum);
}

// Bands of indices over a palette of n colours, grey ramp or saturated colours.
inline CxImage MakePaletted(int w, int h, int bpp, int n, bool grey)
{
    CxImage img;
    EXPECT_TRUE(img.Create(w, h, bpp));
    std::vector<RGBQUAD> pal(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        const BYTE v = BYTE(i * 255 / (n - 1));
        pal[std::size_t(i)] = grey ? RGBQUAD{v, v, v, 0}
                                   : RGBQUAD{BYTE(i * 37 % 256), BYTE(255 - i * 11 % 256), BYTE(i * 97 % 256), 0};
    }
    EXPECT_TRUE(img.SetPalette(pal.data(), n));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.SetPixelIndex(x, y, BYTE((x / 3 + y * 5) % n));
    return img;
}

// Same size, depth, palette and every stored index, colour and alpha.
inline void ExpectIdentical(const CxImage &a, const CxImage &b)
{
    ASSERT_EQ(a.GetWidth(), b.GetWidth());
    ASSERT_EQ(a.GetHeight(), b.GetHeight());
    ASSERT_EQ(a.GetBpp(), b.GetBpp());
    EXPECT_EQ(a.GetTransIndex(), b.GetTransIndex());
    for (int i = 0; i < std::min(a.GetNumColors(), b.GetNumColors()); ++i)
        EXPECT_EQ(a.GetPaletteColor(i), b.GetPaletteColor(i)) << "palette entry " << i;
    EXPECT_EQ(testsupport::MaxChannelDiff(a, b), 0);
    EXPECT_EQ(MaxAlphaDiff(a, b), 0);
    int mismatches = 0;
    for (int y = 0; y < a.GetHeight(); ++y)
        for (int x = 0; x < a.GetWidth(); ++x)
            mismatches += a.GetPixelIndex(x, y) != b.GetPixelIndex(x, y);
    EXPECT_EQ(mismatches, 0);
}

// Every prefix shorter than the file (in steps) must be refused cleanly.
inline void ExpectTruncationsFail(const std::vector<std::uint8_t> &bytes, std::size_t step)
{
    ASSERT_FALSE(bytes.empty());
    for (std::size_t n = 0; n < bytes.size(); n += step) {
        CxImage img;
        EXPECT_FALSE(img.Decode(bytes.data(), n)) << "prefix of " << n << " bytes";
        EXPECT_FALSE(img.IsValid());
    }
}

// A stream that takes a number of bytes and then refuses everything.
class FailingFile final : public CxFile {
public:
    explicit FailingFile(std::size_t limit) : m_limit(limit) {}
    bool Close() override { return true; }
    std::size_t Read(void *, std::size_t, std::size_t) override { return 0; }
    std::size_t Write(const void *, std::size_t size, std::size_t count) override
    {
        m_failed = m_failed || m_written + size * count > m_limit;
        m_written += m_failed ? 0 : size * count;
        return m_failed ? 0 : count;
    }
    bool Seek(std::int64_t, int) override { return false; }
    std::int64_t Tell() override { return std::int64_t(m_written); }
    std::int64_t Size() override { return std::int64_t(m_written); }
    bool Flush() override { return !m_failed; }
    bool Eof() override { return true; }
    bool Error() override { return m_failed; }
    bool IsOpen() const override { return true; }

private:
    std::size_t m_limit, m_written = 0;
    bool m_failed = false;
};

// Encoding into a stream that fails at the start, midway or at the last byte
// must report failure.
inline void ExpectFailingStreamsReported(CxImage &img, std::uint32_t type)
{
    const std::size_t full = EncodeBytes(img, type).size();
    ASSERT_GT(full, 100u);
    for (std::size_t limit : {std::size_t(0), full / 2, full - 1}) {
        FailingFile file(limit);
        EXPECT_FALSE(img.Encode(&file, type)) << "stream fails after " << limit << " bytes";
    }
}

}  // namespace codectest
