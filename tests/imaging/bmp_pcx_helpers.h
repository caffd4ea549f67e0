// Helpers shared by the BMP and PCX codec tests.
#pragma once

#include "imaging/codecs/codecs.h"
#include "imaging/cxfile.h"
#include "tests/test_support.h"

#include <QImage>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace bmppcx {

// A template picture read by Qt, so the expected pixels never pass through
// the codec under test.
inline CxImage LoadTemplate(const std::string &name)
{
    CxImage img;
    QImage q(QString::fromStdString(testsupport::DataPath("bmp/" + name)));
    EXPECT_FALSE(q.isNull()) << name;
    img.FromQImage(q);
    return img;
}

inline CxImage DecodeBytes(const std::vector<std::uint8_t> &bytes)
{
    CxImage img;
    img.Decode(bytes.data(), bytes.size());
    return img;
}

inline std::vector<std::uint8_t> Encode(const CxImage &img, std::uint32_t type)
{
    CxMemFile mem;
    mem.Open();
    CxImage copy(img);
    EXPECT_TRUE(copy.Encode(&mem, type)) << copy.GetLastError();
    const std::uint8_t *data = mem.GetBuffer(false);
    return std::vector<std::uint8_t>(data, data + mem.Size());
}

// Largest difference of the raw (not composited) R, G, B and alpha values.
inline int MaxRgbaDiff(const CxImage &a, const CxImage &b)
{
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight())
        return 256;
    int worst = 0;
    for (int y = 0; y < a.GetHeight(); ++y)
        for (int x = 0; x < a.GetWidth(); ++x) {
            const RGBQUAD p = a.GetPixelColor(x, y), q = b.GetPixelColor(x, y);
            for (int d : {p.rgbRed - q.rgbRed, p.rgbGreen - q.rgbGreen, p.rgbBlue - q.rgbBlue,
                          p.rgbReserved - q.rgbReserved})
                worst = std::max(worst, std::abs(d));
        }
    return worst;
}

// A stream that accepts only its first `room` bytes, like a full disk.
class ShortFile final : public CxFile {
public:
    explicit ShortFile(std::size_t room) : m_room(room) {}
    bool Close() override { return true; }
    std::size_t Read(void *, std::size_t, std::size_t) override { return 0; }
    std::size_t Write(const void *, std::size_t size, std::size_t count) override
    {
        const std::size_t items = size ? std::min(count, m_room / size) : 0;
        m_room -= items * size;
        m_failed |= items < count;
        return items;
    }
    bool Seek(std::int64_t, int) override { return false; }
    std::int64_t Tell() override { return 0; }
    std::int64_t Size() override { return 0; }
    bool Flush() override { return true; }
    bool Eof() override { return false; }
    bool Error() override { return m_failed; }
    bool IsOpen() const override { return true; }

private:
    std::size_t m_room;
    bool m_failed = false;
};

// Caps the address space for its lifetime, so a decoder that allocates what
// a lying header claims fails with "out of memory" instead of quietly
// succeeding. AddressSanitizer reserves huge ranges up front, so the cap is
// left off there.
#if defined(__SANITIZE_ADDRESS__)
#define BMPPCX_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BMPPCX_UNDER_ASAN 1
#endif
#endif

class AddressSpaceCap {
public:
    explicit AddressSpaceCap(std::size_t extraBytes)
    {
#ifdef BMPPCX_UNDER_ASAN
        (void)extraBytes;
#else
        Apply(extraBytes);
#endif
    }
    ~AddressSpaceCap()
    {
        if (m_active)
            setrlimit(RLIMIT_AS, &m_old);
    }
    AddressSpaceCap(const AddressSpaceCap &) = delete;
    AddressSpaceCap &operator=(const AddressSpaceCap &) = delete;

private:
    void Apply(std::size_t extraBytes)
    {
        unsigned long pages = 0;
        if (FILE *f = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(f, "%lu", &pages) != 1)
                pages = 0;
            std::fclose(f);
        }
        if (pages == 0 || getrlimit(RLIMIT_AS, &m_old) != 0)
            return;
        rlimit cap = m_old;
        cap.rlim_cur = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + extraBytes;
        if (m_old.rlim_cur != RLIM_INFINITY && cap.rlim_cur > m_old.rlim_cur)
            return;
        m_active = setrlimit(RLIMIT_AS, &cap) == 0;
    }
    rlimit m_old{};
    bool m_active = false;
};

}  // namespace bmppcx
