#include "imaging/cxmetadata.h"

#include <algorithm>
#include <iterator>
#include <string_view>
#include <vector>

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

// Whether a TIFF header starts the block, and its byte order.
bool TiffHeader(const std::uint8_t *d, std::size_t n, bool &le)
{
    if (!d || n < 8 || !((d[0] == 'I' && d[1] == 'I') || (d[0] == 'M' && d[1] == 'M')))
        return false;
    le = d[0] == 'I';
    return Read16(d + 2, le) == 42;
}

// The value of a one-value entry of an integer type (BYTE, SHORT, LONG or a
// signed one, negative ones as large unsigned values), kept in the entry;
// false for other types.
bool IntegerValue(const std::uint8_t *entry, bool le, std::uint32_t &v)
{
    switch (Read16(entry + 2, le)) {
    case 1: // BYTE
    case 6: // SBYTE
        v = entry[8];
        return true;
    case 3: // SHORT
    case 8: // SSHORT
        v = Read16(entry + 8, le);
        return true;
    case 4: // LONG
    case 9: // SLONG
        v = Read32(entry + 8, le);
        return true;
    default:
        return false;
    }
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
    bool le;
    if (!TiffHeader(d, n, le))
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
        // One value, kept in the entry itself. It should be a SHORT, but
        // some cameras write a LONG or a signed type: any integer will do.
        std::uint32_t v;
        if (Read16(e, le) == 274 && Read32(e + 4, le) == 1 && IntegerValue(e, le, v))
            return v >= 1 && v <= 8 ? int(v) : 1;
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

namespace {

void Write16(std::uint8_t *p, unsigned v, bool le)
{
    p[le ? 0 : 1] = std::uint8_t(v);
    p[le ? 1 : 0] = std::uint8_t(v >> 8);
}

void Write32(std::uint8_t *p, std::uint32_t v, bool le)
{
    for (int i = 0; i < 4; ++i)
        p[le ? i : 3 - i] = std::uint8_t(v >> (8 * i));
}

// Bytes a value of a TIFF type takes; 0 for a type no reader knows.
std::uint32_t TypeSize(unsigned type)
{
    static constexpr std::uint8_t kSizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    return type < std::size(kSizes) ? kSizes[type] : 0;
}

// A walk over the IFDs an edit has to know of: every byte range they and
// their values take, marked as kept or as going with the thumbnail.
class ExifWalk {
public:
    ExifWalk(std::uint8_t *d, std::size_t n, bool le) : m_d(d), m_n(n), m_le(le) {}

    struct Entry {
        std::uint8_t *at = nullptr; // the 12-byte entry
        unsigned type = 0;
        std::uint32_t count = 0;
    };
    static constexpr int kMaxEntries = 1000;

    // Reads the IFD at offset; false when any of it, or any value it
    // points at, lies outside the block.
    bool Read(std::uint32_t offset, bool thumbnail)
    {
        if (offset < 8 || offset > m_n || m_n - offset < 2)
            return false;
        const unsigned count = Read16(m_d + offset, m_le);
        const std::size_t end = std::size_t(offset) + 2 + std::size_t(count) * 12 + 4;
        if (count == 0 || count > kMaxEntries || end > m_n)
            return false;
        m_ranges.push_back({offset, end, thumbnail});
        m_entries.clear();
        for (unsigned i = 0; i < count; ++i) {
            std::uint8_t *e = m_d + offset + 2 + std::size_t(i) * 12;
            Entry entry{e, Read16(e + 2, m_le), Read32(e + 4, m_le)};
            const std::uint32_t size = TypeSize(entry.type);
            if (size == 0 || entry.count > m_n / size)
                return false;
            const std::size_t bytes = std::size_t(size) * entry.count;
            if (bytes > 4) {
                const std::uint32_t at = Read32(e + 8, m_le);
                if (at > m_n || m_n - at < bytes)
                    return false;
                m_ranges.push_back({at, at + bytes, thumbnail});
            }
            m_entries.push_back(entry);
        }
        m_next = Read32(m_d + end - 4, m_le);
        return true;
    }

    // In the IFD read last: the first entry of tag, or null.
    const Entry *Find(unsigned tag) const
    {
        for (const Entry &e : m_entries)
            if (Read16(e.at, m_le) == tag)
                return &e;
        return nullptr;
    }
    // The offset a pointer entry (LONG or IFD, one value) holds, or 0.
    std::uint32_t Pointer(unsigned tag) const
    {
        const Entry *e = Find(tag);
        return e && (e->type == 4 || e->type == 13) && e->count == 1 ? Read32(e->at + 8, m_le) : 0;
    }
    // Sets a SHORT or LONG entry of one value; false when the value cannot
    // take v.
    bool Set(const Entry &e, std::uint32_t v) const
    {
        if (e.count == 1 && e.type == 3 && v <= 0xFFFF)
            Write16(e.at + 8, v, m_le);
        else if (e.count == 1 && e.type == 4)
            Write32(e.at + 8, v, m_le);
        else
            return false;
        return true;
    }
    // Sets an entry of one value, of whatever integer type it has, to a
    // value every such type can hold (an orientation).
    bool SetSmall(const Entry &e, std::uint8_t v) const
    {
        if (e.count != 1)
            return false;
        switch (e.type) {
        case 1: // BYTE
        case 6: // SBYTE
            e.at[8] = v;
            return true;
        case 3: // SHORT
        case 8: // SSHORT
            Write16(e.at + 8, v, m_le);
            return true;
        case 4: // LONG
        case 9: // SLONG
            Write32(e.at + 8, v, m_le);
            return true;
        default:
            return false;
        }
    }
    // Sets tag where the IFD read last has it; false when it has it in a
    // form that cannot take v.
    bool SetIfPresent(unsigned tag, std::uint32_t v) const
    {
        const Entry *e = Find(tag);
        return !e || Set(*e, v);
    }
    // The thumbnail's own picture, which no IFD entry's value covers.
    void MarkThumbnail(std::size_t offset, std::size_t bytes)
    {
        m_ranges.push_back({offset, offset + bytes, true});
    }
    std::uint32_t Next() const { return m_next; }
    std::uint8_t *NextField() const { return m_entries.empty() ? nullptr : m_entries.back().at + 12; }

    // Where the block may end once the thumbnail's ranges are dropped: the
    // end of everything kept, when what lies after it is the thumbnail's
    // (gaps of padding aside). 0 when something of unknown use lies there.
    std::size_t KeptEnd() const
    {
        std::size_t kept = 8;
        for (const Range &r : m_ranges)
            if (!r.thumbnail)
                kept = std::max(kept, r.end);
        std::vector<Range> tail;
        for (const Range &r : m_ranges)
            if (r.thumbnail && r.end > kept)
                tail.push_back(r);
        std::sort(tail.begin(), tail.end(), [](const Range &a, const Range &b) { return a.begin < b.begin; });
        constexpr std::size_t kPadding = 3;
        std::size_t covered = kept;
        for (const Range &r : tail) {
            if (r.begin > covered + kPadding)
                return 0;
            covered = std::max(covered, r.end);
        }
        return m_n - covered <= kPadding ? kept : 0;
    }

private:
    struct Range {
        std::size_t begin, end;
        bool thumbnail;
    };
    std::uint8_t *m_d;
    std::size_t m_n;
    bool m_le;
    std::vector<Range> m_ranges;
    std::vector<Entry> m_entries;
    std::uint32_t m_next = 0;
};

} // namespace

bool cxmeta::EditExifInPlace(std::string &exif, int width, int height, int orientation)
{
    if (exif.size() < 8 || exif.size() > 0xFFFFFFFFu || width <= 0 || height <= 0 || orientation < 1 ||
        orientation > 8)
        return false;
    std::string block = exif;
    auto *d = reinterpret_cast<std::uint8_t *>(block.data());
    const std::size_t n = block.size();
    bool le;
    if (!TiffHeader(d, n, le))
        return false;

    ExifWalk walk(d, n, le);
    if (!walk.Read(Read32(d + 4, le), false))
        return false;
    // IFD0: the orientation is written even where the block had none, which
    // takes more than an edit, unless it is the default.
    if (const ExifWalk::Entry *o = walk.Find(274);
        o ? !walk.SetSmall(*o, std::uint8_t(orientation)) : orientation != 1)
        return false;
    if (!walk.SetIfPresent(256, std::uint32_t(width)) || !walk.SetIfPresent(257, std::uint32_t(height)) ||
        walk.Find(330)) // sub-IFDs: structures this edit does not follow
        return false;
    const std::uint32_t exifIfd = walk.Pointer(34665), gpsIfd = walk.Pointer(34853);
    if ((!exifIfd && walk.Find(34665)) || (!gpsIfd && walk.Find(34853)))
        return false;
    const std::uint32_t thumbnailIfd = walk.Next();
    std::uint8_t *const next = walk.NextField();
    if (exifIfd) {
        if (!walk.Read(exifIfd, false) || !walk.SetIfPresent(40962, std::uint32_t(width)) ||
            !walk.SetIfPresent(40963, std::uint32_t(height)))
            return false;
        const std::uint32_t interop = walk.Pointer(40965);
        if (interop ? !walk.Read(interop, false) : walk.Find(40965) != nullptr)
            return false;
    }
    if (gpsIfd && !walk.Read(gpsIfd, false))
        return false;
    std::size_t size = n;
    if (thumbnailIfd) {
        // The thumbnail shows the old picture: IFD1 is unlinked, and it and
        // the picture it points at are cut off where they end the block.
        if (!walk.Read(thumbnailIfd, true) || walk.Next() != 0 || walk.Find(273))
            return false;
        const ExifWalk::Entry *at = walk.Find(513), *length = walk.Find(514);
        if (at && length) {
            if (at->count != 1 || length->count != 1 || at->type != 4 ||
                (length->type != 4 && length->type != 3))
                return false;
            const std::uint32_t offset = Read32(at->at + 8, le);
            const std::uint32_t bytes =
                length->type == 4 ? Read32(length->at + 8, le) : Read16(length->at + 8, le);
            if (offset > n || n - offset < bytes)
                return false;
            walk.MarkThumbnail(offset, bytes);
        }
        size = walk.KeptEnd();
        if (size == 0)
            return false;
        Write32(next, 0, le);
    }
    block.resize(size);
    exif = std::move(block);
    return true;
}
