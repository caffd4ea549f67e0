#include "imaging/metadatatags.h"

#include "imaging/metadataio.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include <exiv2/exiv2.hpp>

namespace {

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + std::int64_t(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t &y, unsigned &m, unsigned &d)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = std::int64_t(yoe) + era * 400 + (m <= 2);
}

struct Civil {
    std::int64_t year = 0;
    unsigned month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

bool Valid(const Civil &c)
{
    return c.year >= 1 && c.year <= 9999 && c.month >= 1 && c.month <= 12 && c.day >= 1 && c.day <= 31 &&
           c.hour <= 23 && c.minute <= 59 && c.second <= 59;
}

// The time moved; false when it leaves the years 1 to 9999.
bool Shift(Civil &c, std::int64_t seconds)
{
    const std::int64_t t = DaysFromCivil(c.year, c.month, c.day) * 86400 + c.hour * 3600 + c.minute * 60 +
                           c.second + seconds;
    const std::int64_t days = t >= 0 ? t / 86400 : -((-t + 86399) / 86400), rest = t - days * 86400;
    CivilFromDays(days, c.year, c.month, c.day);
    c.hour = unsigned(rest / 3600);
    c.minute = unsigned(rest / 60 % 60);
    c.second = unsigned(rest % 60);
    return c.year >= 1 && c.year <= 9999;
}

bool Digits(const std::string &s, std::size_t at, std::size_t n, unsigned &out)
{
    if (at + n > s.size())
        return false;
    out = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (s[i] < '0' || s[i] > '9')
            return false;
        out = out * 10 + unsigned(s[i] - '0');
    }
    return true;
}

bool IsAscii(const std::string &s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// IPTC keywords take at most 64 bytes; longer ones are cut, never inside a character.
std::string IptcKeyword(std::string k)
{
    constexpr std::size_t kMost = 64;
    if (k.size() <= kMost)
        return k;
    std::size_t n = kMost;
    while (n > 0 && (static_cast<unsigned char>(k[n]) & 0xC0) == 0x80)
        --n;
    k.resize(n);
    return k;
}

bool HasText(const Exiv2::ExifData *exif, const char *key)
{
    if (!exif)
        return false;
    const auto it = exif->findKey(Exiv2::ExifKey(key));
    return it != exif->end() && it->toString().find_first_not_of(" \t\r\n") != std::string::npos &&
           it->toString().find_first_not_of('\0') != std::string::npos;
}

bool HasText(const Exiv2::XmpData *xmp, const char *key)
{
    if (!xmp)
        return false;
    const auto it = xmp->findKey(Exiv2::XmpKey(key));
    if (it == xmp->end())
        return false;
    for (long i = 0; i < it->count(); ++i)
        if (it->toString(i).find_first_not_of(" \t\r\n") != std::string::npos)
            return true;
    return it->count() == 0 && it->toString().find_first_not_of(" \t\r\n") != std::string::npos;
}

bool HasIptc(const Exiv2::IptcData *iptc, const char *key)
{
    return iptc && iptc->findKey(Exiv2::IptcKey(key)) != iptc->end();
}

// Whether the picture already has the tag, in EXIF or XMP (IPTC too for keywords).
bool Present(cxmeta::Tag tag, const Exiv2::ExifData *exif, const Exiv2::XmpData *xmp, const Exiv2::IptcData *iptc)
{
    switch (tag) {
    case cxmeta::Tag::Artist:
        return HasText(exif, "Exif.Image.Artist") || HasText(xmp, "Xmp.dc.creator");
    case cxmeta::Tag::Copyright:
        return HasText(exif, "Exif.Image.Copyright") || HasText(xmp, "Xmp.dc.rights");
    case cxmeta::Tag::Caption:
        return HasText(exif, "Exif.Image.ImageDescription") || HasText(xmp, "Xmp.dc.description");
    case cxmeta::Tag::Keywords:
        return HasText(xmp, "Xmp.dc.subject") || HasIptc(iptc, "Iptc.Application2.Keywords");
    case cxmeta::Tag::Rating:
        return (exif && exif->findKey(Exiv2::ExifKey("Exif.Image.Rating")) != exif->end()) ||
               HasText(xmp, "Xmp.xmp.Rating");
    }
    return false;
}

template <typename Data, typename Key>
void Erase(Data *data, const char *key)
{
    if (!data)
        return;
    for (auto it = data->findKey(Key(key)); it != data->end(); it = data->findKey(Key(key)))
        data->erase(it);
}

void SetExifText(Exiv2::ExifData *exif, const char *key, const std::string &value)
{
    if (!exif)
        return;
    // EXIF's text is ASCII: other text goes to XMP only, and an old value
    // that would contradict it goes.
    if (IsAscii(value))
        (*exif)[key] = value;
    else
        Erase<Exiv2::ExifData, Exiv2::ExifKey>(exif, key);
}

void SetXmpLangAlt(Exiv2::XmpData *xmp, const char *key, const std::string &value)
{
    if (!xmp)
        return;
    Erase<Exiv2::XmpData, Exiv2::XmpKey>(xmp, key);
    Exiv2::LangAltValue v;
    v.value_["x-default"] = value;
    xmp->add(Exiv2::XmpKey(key), &v);
}

void SetXmpArray(Exiv2::XmpData *xmp, const char *key, Exiv2::TypeId type, const std::vector<std::string> &items)
{
    if (!xmp)
        return;
    Erase<Exiv2::XmpData, Exiv2::XmpKey>(xmp, key);
    if (items.empty())
        return;
    Exiv2::XmpArrayValue v(type);
    for (const std::string &item : items)
        v.read(item);
    xmp->add(Exiv2::XmpKey(key), &v);
}

void SetKeywords(Exiv2::XmpData *xmp, Exiv2::IptcData *iptc, const std::string &value)
{
    const std::vector<std::string> keywords = cxmeta::SplitKeywords(value);
    SetXmpArray(xmp, "Xmp.dc.subject", Exiv2::xmpBag, keywords);
    if (!iptc)
        return;
    Erase<Exiv2::IptcData, Exiv2::IptcKey>(iptc, "Iptc.Application2.Keywords");
    for (const std::string &k : keywords) {
        Exiv2::StringValue v(IptcKeyword(k));
        iptc->add(Exiv2::IptcKey("Iptc.Application2.Keywords"), &v);
    }
    // The keywords are UTF-8, which IPTC readers learn from this marker.
    if (!keywords.empty())
        (*iptc)["Iptc.Envelope.CharacterSet"] = std::string("\x1b%G");
}

void SetRating(Exiv2::ExifData *exif, Exiv2::XmpData *xmp, int rating)
{
    // Windows' percentages for its five stars.
    static constexpr std::uint16_t kPercent[] = {0, 1, 25, 50, 75, 99};
    if (exif) {
        (*exif)["Exif.Image.Rating"] = std::uint16_t(rating);
        (*exif)["Exif.Image.RatingPercent"] = kPercent[rating];
    }
    if (xmp) {
        Erase<Exiv2::XmpData, Exiv2::XmpKey>(xmp, "Xmp.xmp.Rating");
        (*xmp)["Xmp.xmp.Rating"] = std::to_string(rating);
    }
}

void SetTag(const cxmeta::TagValue &t, Exiv2::ExifData *exif, Exiv2::XmpData *xmp, Exiv2::IptcData *iptc)
{
    switch (t.tag) {
    case cxmeta::Tag::Artist:
        SetExifText(exif, "Exif.Image.Artist", t.value);
        SetXmpArray(xmp, "Xmp.dc.creator", Exiv2::xmpSeq, {t.value});
        break;
    case cxmeta::Tag::Copyright:
        SetExifText(exif, "Exif.Image.Copyright", t.value);
        SetXmpLangAlt(xmp, "Xmp.dc.rights", t.value);
        break;
    case cxmeta::Tag::Caption:
        SetExifText(exif, "Exif.Image.ImageDescription", t.value);
        SetXmpLangAlt(xmp, "Xmp.dc.description", t.value);
        break;
    case cxmeta::Tag::Keywords:
        SetKeywords(xmp, iptc, t.value);
        break;
    case cxmeta::Tag::Rating:
        if (t.value.size() == 1 && t.value[0] >= '0' && t.value[0] <= '5')
            SetRating(exif, xmp, t.value[0] - '0');
        break;
    }
}

bool ShiftDates(Exiv2::ExifData *exif, Exiv2::XmpData *xmp, std::int64_t seconds)
{
    bool changed = false;
    std::string moved;
    for (const char *key : {"Exif.Photo.DateTimeOriginal", "Exif.Photo.DateTimeDigitized"}) {
        const auto it = exif ? exif->findKey(Exiv2::ExifKey(key)) : Exiv2::ExifData::iterator();
        if (exif && it != exif->end() && cxmeta::ShiftExifDate(it->toString(), seconds, moved)) {
            it->setValue(moved);
            changed = true;
        }
    }
    for (const char *key : {"Xmp.exif.DateTimeOriginal", "Xmp.xmp.CreateDate", "Xmp.photoshop.DateCreated"}) {
        const auto it = xmp ? xmp->findKey(Exiv2::XmpKey(key)) : Exiv2::XmpData::iterator();
        if (xmp && it != xmp->end() && cxmeta::ShiftXmpDate(it->toString(), seconds, moved)) {
            Erase<Exiv2::XmpData, Exiv2::XmpKey>(xmp, key);
            (*xmp)[key] = moved;
            changed = true;
        }
    }
    return changed;
}

} // namespace

std::vector<std::string> cxmeta::SplitKeywords(const std::string &value)
{
    std::vector<std::string> out;
    std::size_t from = 0;
    while (from <= value.size()) {
        const std::size_t to = std::min(value.find(',', from), value.find(';', from));
        std::string k = value.substr(from, to == std::string::npos ? std::string::npos : to - from);
        const std::size_t first = k.find_first_not_of(" \t"), last = k.find_last_not_of(" \t");
        k = first == std::string::npos ? std::string() : k.substr(first, last - first + 1);
        if (!k.empty() && std::find(out.begin(), out.end(), k) == out.end())
            out.push_back(std::move(k));
        if (to == std::string::npos)
            break;
        from = to + 1;
    }
    return out;
}

bool cxmeta::ShiftExifDate(const std::string &text, std::int64_t seconds, std::string &out)
{
    Civil c;
    unsigned year = 0;
    if (text.size() < 19 || !Digits(text, 0, 4, year) || text[4] != ':' || !Digits(text, 5, 2, c.month) ||
        text[7] != ':' || !Digits(text, 8, 2, c.day) || text[10] != ' ' || !Digits(text, 11, 2, c.hour) ||
        text[13] != ':' || !Digits(text, 14, 2, c.minute) || text[16] != ':' || !Digits(text, 17, 2, c.second))
        return false;
    c.year = year;
    if (!Valid(c) || !Shift(c, seconds))
        return false;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d:%02u:%02u %02u:%02u:%02u", int(c.year), c.month, c.day, c.hour, c.minute,
                  c.second);
    out = buf;
    return true;
}

bool cxmeta::ShiftXmpDate(const std::string &text, std::int64_t seconds, std::string &out)
{
    Civil c;
    unsigned year = 0;
    if (!Digits(text, 0, 4, year) || text.size() < 10 || text[4] != '-' || !Digits(text, 5, 2, c.month) ||
        text[7] != '-' || !Digits(text, 8, 2, c.day))
        return false;
    c.year = year;
    std::size_t at = 10;
    const bool timed = text.size() > 10 && text[10] == 'T';
    bool withSeconds = false;
    if (timed) {
        if (!Digits(text, 11, 2, c.hour) || text.size() < 16 || text[13] != ':' || !Digits(text, 14, 2, c.minute))
            return false;
        at = 16;
        if (text.size() > 16 && text[16] == ':') {
            if (!Digits(text, 17, 2, c.second))
                return false;
            withSeconds = true;
            at = 19;
        }
    } else if (text.size() != 10) {
        return false;
    }
    if (!Valid(c) || !Shift(c, timed ? seconds : seconds / 86400 * 86400))
        return false;
    char buf[40];
    if (!timed)
        std::snprintf(buf, sizeof buf, "%04d-%02u-%02u", int(c.year), c.month, c.day);
    else if (withSeconds)
        std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02u:%02u:%02u", int(c.year), c.month, c.day, c.hour,
                      c.minute, c.second);
    else
        std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02u:%02u", int(c.year), c.month, c.day, c.hour, c.minute);
    out = buf + text.substr(at); // the fraction and the zone as they were
    return true;
}

bool cxmeta::ApplyTagEdits(Exiv2::ExifData *exif, Exiv2::XmpData *xmp, Exiv2::IptcData *iptc,
                           const TagEdits &edits)
{
    bool changed = edits.shiftSeconds != 0 && ShiftDates(exif, xmp, edits.shiftSeconds);
    // The last value given for a tag is the one written.
    for (std::size_t i = 0; i < edits.values.size(); ++i) {
        const TagValue &t = edits.values[i];
        const bool later = std::any_of(edits.values.begin() + std::ptrdiff_t(i) + 1, edits.values.end(),
                                       [&](const TagValue &u) { return u.tag == t.tag; });
        if (later || (edits.ifEmpty && Present(t.tag, exif, xmp, iptc)))
            continue;
        SetTag(t, exif, xmp, iptc);
        changed = true;
    }
    return changed;
}

void cxmeta::EditTags(CxMetadata &meta, const TagEdits &edits)
{
    if (!edits.Any())
        return;
    Initialize();
    const auto lock = XmpToolkitLock();
    std::optional<Exiv2::ExifData> exif;
    std::optional<Exiv2::XmpData> xmp;
    std::optional<Exiv2::IptcData> iptc;
    Exiv2::ByteOrder order = Exiv2::littleEndian;
    try {
        exif.emplace();
        if (!meta.exif.empty())
            order = Exiv2::ExifParser::decode(*exif, reinterpret_cast<const Exiv2::byte *>(meta.exif.data()),
                                              std::uint32_t(meta.exif.size()));
    } catch (...) {
        exif.reset();
    }
    try {
        xmp.emplace();
        if (!meta.xmp.empty() && Exiv2::XmpParser::decode(*xmp, meta.xmp) != 0)
            xmp.reset();
    } catch (...) {
        xmp.reset();
    }
    try {
        iptc.emplace();
        if (!meta.iptc.empty() &&
            Exiv2::IptcParser::decode(*iptc, reinterpret_cast<const Exiv2::byte *>(meta.iptc.data()),
                                      std::uint32_t(meta.iptc.size())) != 0)
            iptc.reset();
    } catch (...) {
        iptc.reset();
    }
    if (!ApplyTagEdits(exif ? &*exif : nullptr, xmp ? &*xmp : nullptr, iptc ? &*iptc : nullptr, edits))
        return;
    try {
        if (exif && !exif->empty()) {
            Exiv2::Blob blob;
            Exiv2::ExifParser::encode(blob, order == Exiv2::invalidByteOrder ? Exiv2::littleEndian : order, *exif);
            meta.exif.assign(blob.begin(), blob.end());
        }
    } catch (...) {
    }
    try {
        std::string packet;
        if (xmp && !xmp->empty() && Exiv2::XmpParser::encode(packet, *xmp) == 0)
            meta.xmp = std::move(packet);
    } catch (...) {
    }
    try {
        if (iptc && !iptc->empty()) {
            const Exiv2::DataBuf buf = Exiv2::IptcParser::encode(*iptc);
            meta.iptc.assign(reinterpret_cast<const char *>(buf.pData_), std::size_t(buf.size_));
        }
    } catch (...) {
    }
}
