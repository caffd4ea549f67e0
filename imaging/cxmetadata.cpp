#include "cxmetadata.h"

#include <string_view>

namespace {

unsigned Read16(const std::uint8_t *p, bool le)
{
    return le ? unsigned(p[0] | p[1] << 8) : unsigned(p[0] << 8 | p[1]);
}

std::uint32_t Read32(const std::uint8_t *p, bool le)
{
    return le ? std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
                    std::uint32_t(p[3]) << 24
              : std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 |
                    std::uint32_t(p[3]);
}

bool TiffHeaderAt(const std::uint8_t *d, std::size_t n, std::size_t at)
{
    return at <= n && n - at >= 8 &&
           ((d[at] == 'I' && d[at + 1] == 'I' && d[at + 2] == 42 && d[at + 3] == 0) ||
            (d[at] == 'M' && d[at + 1] == 'M' && d[at + 2] == 0 && d[at + 3] == 42));
}

} // namespace

std::string cxmeta::ExifFromBmff(const std::uint8_t *d, std::size_t n)
{
    if (!d)
        return {};
    // As stored, after its offset, or behind JPEG's "Exif\0\0" with or
    // without the offset.
    const std::size_t offset = n >= 4 ? std::size_t(4) + Read32(d, false) : n;
    for (std::size_t at : {std::size_t(0), offset, std::size_t(6), std::size_t(10)})
        if (TiffHeaderAt(d, n, at))
            return std::string(reinterpret_cast<const char *>(d) + at, n - at);
    return {};
}

int cxmeta::ExifOrientation(const std::uint8_t *d, std::size_t n)
{
    if (!d || n < 8)
        return 1;
    bool le;
    if (d[0] == 'I' && d[1] == 'I')
        le = true;
    else if (d[0] == 'M' && d[1] == 'M')
        le = false;
    else
        return 1;
    if (Read16(d + 2, le) != 42)
        return 1;
    const std::uint32_t ifd = Read32(d + 4, le);
    if (ifd > n - 2)
        return 1;
    const unsigned count = Read16(d + ifd, le);
    for (unsigned i = 0; i < count; ++i) {
        const std::size_t at = std::size_t(ifd) + 2 + std::size_t(i) * 12;
        if (at + 12 > n)
            return 1;
        const std::uint8_t *e = d + at;
        // SHORT, one value, kept in the entry itself.
        if (Read16(e, le) == 274 && Read16(e + 2, le) == 3 && Read32(e + 4, le) == 1) {
            const unsigned v = Read16(e + 8, le);
            return v >= 1 && v <= 8 ? int(v) : 1;
        }
    }
    return 1;
}

std::string cxmeta::ExifFromRawProfile(const char *text, std::size_t size)
{
    const std::string_view s(text ? text : "", text ? size : 0);
    // "\nexif\n     1234\n" before the digits.
    const std::size_t nameEnd = s.find('\n', 1);
    const std::size_t lengthEnd = nameEnd == s.npos ? s.npos : s.find('\n', nameEnd + 1);
    if (s.empty() || s[0] != '\n' || lengthEnd == s.npos)
        return {};
    std::size_t length = 0;
    for (const char c : s.substr(nameEnd + 1, lengthEnd - nameEnd - 1)) {
        if (c >= '0' && c <= '9')
            length = length * 10 + std::size_t(c - '0');
        else if (c != ' ')
            return {};
        if (length > s.size())
            return {};
    }
    std::string bytes;
    bytes.reserve(length);
    int high = -1;
    for (std::size_t i = lengthEnd + 1; i < s.size() && bytes.size() < length; ++i) {
        const char c = s[i];
        const int v = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
        if (v < 0)
            continue; // line breaks
        if (high < 0) {
            high = v;
        } else {
            bytes.push_back(char(high << 4 | v));
            high = -1;
        }
    }
    if (bytes.size() != length)
        return {};
    if (bytes.compare(0, 6, std::string("Exif\0\0", 6)) == 0)
        bytes.erase(0, 6);
    return bytes;
}

std::string cxmeta::IptcFromPhotoshop(const std::uint8_t *d, std::size_t n)
{
    // Resources: "8BIM", id (2), padded Pascal name, size (4), data padded
    // to even length. IPTC-IIM is resource 0x0404.
    std::size_t at = 0;
    while (d && at + 12 <= n) {
        if (d[at] != '8' || d[at + 1] != 'B' || d[at + 2] != 'I' || d[at + 3] != 'M')
            break;
        const unsigned id = Read16(d + at + 4, false);
        std::size_t p = at + 6;
        const std::size_t nameLen = d[p];
        p += (nameLen + 2) & ~std::size_t(1);
        if (p + 4 > n)
            break;
        const std::uint32_t size = Read32(d + p, false);
        p += 4;
        if (size > n - p)
            break;
        if (id == 0x0404)
            return std::string(reinterpret_cast<const char *>(d + p), size);
        at = p + size + (size & 1);
    }
    return {};
}
