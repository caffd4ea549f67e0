#include "imaging/metadataio.h"

#include "imaging/formats.h"
#include "imaging/metadatatags.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>

#include <exiv2/exiv2.hpp>
#include <webp/mux.h>
#include <zlib.h>

namespace {

// The XMP toolkit keeps one table of namespaces for the whole process, and
// Exiv2 deletes and registers entries in it as it writes a packet. A packet
// read on another thread meanwhile registers the namespace under its own
// prefix ("xap" for "xmp"), and every packet written after says "xap": the
// same file's output would depend on what ran beside it. So whatever reads
// or writes XMP holds this lock, which Exiv2 takes again inside.
std::recursive_mutex g_xmpMutex;

void LockXmp(void *, bool lock)
{
    if (lock)
        g_xmpMutex.lock();
    else
        g_xmpMutex.unlock();
}

// Held while XMP may be read or written (when there is some to handle).
std::unique_lock<std::recursive_mutex> XmpLock(bool needed = true)
{
    return needed ? std::unique_lock(g_xmpMutex) : std::unique_lock<std::recursive_mutex>();
}

const Exiv2::byte *Bytes(const std::string &s)
{
    return reinterpret_cast<const Exiv2::byte *>(s.data());
}

template <typename Data, typename Key>
void SetIfPresent(Data &data, const char *key, const std::string &value)
{
    const auto it = data.findKey(Key(key));
    if (it != data.end())
        it->setValue(value);
}

void EditExif(Exiv2::ExifData &exif, int width, int height, int orientation, int dpi)
{
    if (dpi > 0) {
        exif["Exif.Image.XResolution"] = Exiv2::URational(dpi, 1);
        exif["Exif.Image.YResolution"] = Exiv2::URational(dpi, 1);
        exif["Exif.Image.ResolutionUnit"] = std::uint16_t(2); // inches
    }
    // The thumbnail shows the old picture (and the old way up).
    Exiv2::ExifThumb(exif).erase();
    const Exiv2::ExifKey key("Exif.Image.Orientation");
    if (orientation != 1 || exif.findKey(key) != exif.end())
        exif["Exif.Image.Orientation"] = std::uint16_t(orientation);
    for (const char *k : {"Exif.Photo.PixelXDimension", "Exif.Image.ImageWidth"})
        SetIfPresent<Exiv2::ExifData, Exiv2::ExifKey>(exif, k, std::to_string(width));
    for (const char *k : {"Exif.Photo.PixelYDimension", "Exif.Image.ImageLength"})
        SetIfPresent<Exiv2::ExifData, Exiv2::ExifKey>(exif, k, std::to_string(height));
}

// The picture's EXIF as it is written with the pixels, in its own byte
// order; false when there is none to write (no block and upright).
bool EditedExif(const CxMetadata &meta, int width, int height, int orientation, int dpi, Exiv2::ExifData &exif,
                Exiv2::ByteOrder &order)
{
    if (meta.exif.empty() && orientation == 1)
        return false;
    order = Exiv2::littleEndian;
    if (!meta.exif.empty())
        order = Exiv2::ExifParser::decode(exif, Bytes(meta.exif), meta.exif.size());
    EditExif(exif, width, height, orientation, dpi);
    return true;
}

void EditXmp(Exiv2::XmpData &xmp, int width, int height, int orientation)
{
    SetIfPresent<Exiv2::XmpData, Exiv2::XmpKey>(xmp, "Xmp.tiff.Orientation", std::to_string(orientation));
    for (const char *k : {"Xmp.exif.PixelXDimension", "Xmp.tiff.ImageWidth"})
        SetIfPresent<Exiv2::XmpData, Exiv2::XmpKey>(xmp, k, std::to_string(width));
    for (const char *k : {"Xmp.exif.PixelYDimension", "Xmp.tiff.ImageLength"})
        SetIfPresent<Exiv2::XmpData, Exiv2::XmpKey>(xmp, k, std::to_string(height));
}

// A packet exiv2's XMP parser refuses (a property given twice, as some
// photo managers write them) still holds the user's ratings, tags and
// captions: it is kept as it stands, with the same properties edited in its
// text as EditXmp edits them (a simple element's content or an attribute's
// value). Empty when the packet is no XMP, or names one of them in any other
// way: then it cannot be trusted to say the right orientation.
std::string EditedRawXmp(const std::string &packet, int width, int height, int orientation)
{
    if (packet.find("<x:xmpmeta") == std::string::npos && packet.find("<rdf:RDF") == std::string::npos)
        return {};
    // A real packet names each a few times at most; many more would cost a
    // copy of the packet each.
    constexpr std::size_t kMostEdits = 16;
    std::string out = packet;
    const std::pair<std::string_view, int> edits[] = {{"tiff:Orientation", orientation},
                                                      {"exif:PixelXDimension", width},
                                                      {"tiff:ImageWidth", width},
                                                      {"exif:PixelYDimension", height},
                                                      {"tiff:ImageLength", height}};
    for (const auto &[name, number] : edits) {
        const std::string value = std::to_string(number), open = "<" + std::string(name) + ">",
                          close = "</" + std::string(name) + ">";
        std::size_t edited = 0;
        for (std::size_t at = out.find(open); at != std::string::npos; at = out.find(open, at + 1)) {
            const std::size_t from = at + open.size(), to = out.find(close, from);
            if (to == std::string::npos || out.find('<', from) != to)
                return {};
            out.replace(from, to - from, value);
            edited += 2;
            if (edited > kMostEdits)
                return {};
        }
        for (std::size_t at = out.find(name); at != std::string::npos; at = out.find(name, at + 1)) {
            const std::size_t eq = at + name.size();
            if (at == 0 || !std::isspace(static_cast<unsigned char>(out[at - 1])) || eq + 1 >= out.size() ||
                out[eq] != '=' || (out[eq + 1] != '"' && out[eq + 1] != '\''))
                continue;
            const std::size_t to = out.find(out[eq + 1], eq + 2);
            if (to == std::string::npos)
                return {};
            out.replace(eq + 2, to - eq - 2, value);
            if (++edited > kMostEdits)
                return {};
        }
        std::size_t named = 0;
        for (std::size_t at = out.find(name); at != std::string::npos; at = out.find(name, at + 1))
            ++named;
        if (named != edited)
            return {};
    }
    return out;
}

// Writes the image's metadata into its bytes (in memory) and copies them out.
bool WriteTo(Exiv2::Image &image, std::string &out)
{
    image.writeMetadata();
    Exiv2::BasicIo &io = image.io();
    if (io.open() != 0)
        return false;
    const Exiv2::DataBuf bytes = io.read(long(io.size()));
    io.close();
    out.assign(reinterpret_cast<const char *>(bytes.pData_), std::size_t(bytes.size_));
    return !out.empty();
}

// A JPEG's XMP must fit one segment; exiv2 refuses to write a larger one,
// and with it the file's other metadata. Those are kept, the XMP left out.
bool WriteLeavingOutLargeXmp(Exiv2::Image &image, bool jpeg, std::string &out)
{
    try {
        return WriteTo(image, out);
    } catch (const Exiv2::AnyError &) {
        if (!jpeg || (image.xmpData().empty() && image.xmpPacket().empty()))
            throw;
    }
    image.clearXmpData();
    image.clearXmpPacket();
    image.writeXmpFromPacket(false);
    return WriteTo(image, out);
}

// A PNG chunk: its length, type, data and CRC.
std::string PngChunk(const char *type, std::string_view data)
{
    std::string chunk(8, '\0');
    const std::uint32_t n = std::uint32_t(data.size());
    chunk[0] = char(n >> 24), chunk[1] = char(n >> 16), chunk[2] = char(n >> 8), chunk[3] = char(n);
    chunk.replace(4, 4, type);
    chunk += data;
    const uLong crc = crc32(0, reinterpret_cast<const Bytef *>(chunk.data() + 4), uInt(chunk.size() - 4));
    for (int shift = 24; shift >= 0; shift -= 8)
        chunk.push_back(char((crc >> shift) & 0xFF));
    return chunk;
}

// PNG keeps EXIF in its own eXIf chunk (which readers look for first),
// placed right after the header.
bool InsertExifChunk(std::string &png, const std::string &exif)
{
    constexpr std::size_t kAfterHeader = 8 + 8 + 13 + 4;
    if (png.size() < kAfterHeader || exif.empty() || exif.size() > 0x7FFFFFFF)
        return false;
    png.insert(kAfterHeader, PngChunk("eXIf", exif));
    return true;
}

// exiv2 writes a profile it was given into an iCCP chunk with an empty name,
// which the PNG rules forbid: libpng, and so most readers, then pass over the
// profile, and the picture shows in the wrong colours. Such a chunk gets a
// name.
void NameProfileChunk(std::string &png)
{
    static constexpr std::string_view kName = "ICC profile";
    std::size_t at = 8;
    while (at + 12 <= png.size()) {
        const auto *d = reinterpret_cast<const std::uint8_t *>(png.data() + at);
        const std::size_t length = std::size_t(d[0]) << 24 | std::size_t(d[1]) << 16 | d[2] << 8 | d[3];
        if (length > png.size() - at - 12)
            return;
        const std::string_view type(png.data() + at + 4, 4);
        if (type == "IDAT" || type == "IEND")
            return;
        if (type == "iCCP" && length > 0 && d[8] == 0) {
            std::string data(kName);
            data.append(png, at + 8, length);
            png.replace(at, length + 12, PngChunk("iCCP", data));
            return;
        }
        at += length + 12;
    }
}

// The row the bytes are a file of, as the decoder would take them; null for
// none.
const ImageFormat *FormatOfBytes(const std::uint8_t *data, std::size_t size)
{
    for (const ImageFormat &f : ImageFormats())
        if (f.detect(data, size))
            return &f;
    return nullptr;
}

BlockWriter WriterOfBytes(const std::uint8_t *data, std::size_t size)
{
    const ImageFormat *format = FormatOfBytes(data, size);
    return format ? format->facts.blockWriter : BlockWriter::None;
}

constexpr char kExifSegmentName[] = "Exif\0";
constexpr std::size_t kMostJpegExif = 0xFFFF - 2 - sizeof kExifSegmentName;

// JPEG keeps EXIF in an APP1 segment, placed after the start marker and
// any JFIF segment, as exiv2 places it. False when the block does not fit
// one segment.
bool InsertExifSegment(std::string &jpeg, const std::string &exif)
{
    if (exif.size() > kMostJpegExif || jpeg.size() < 2)
        return false;
    const auto *d = reinterpret_cast<const std::uint8_t *>(jpeg.data());
    std::size_t at = 2;
    while (at + 4 <= jpeg.size() && d[at] == 0xFF && d[at + 1] == 0xE0) {
        const std::size_t length = std::size_t(d[at + 2]) << 8 | d[at + 3];
        if (length < 2 || length > jpeg.size() - at - 2)
            break;
        at += 2 + length;
    }
    const std::size_t length = 2 + sizeof kExifSegmentName + exif.size();
    std::string segment{char(0xFF), char(0xE1), char(length >> 8), char(length & 0xFF)};
    segment.append(kExifSegmentName, sizeof kExifSegmentName);
    segment += exif;
    jpeg.insert(at, segment);
    return true;
}

void DropGps(Exiv2::ExifData &exif)
{
    for (auto it = exif.begin(); it != exif.end();)
        it =
            it->groupName() == "GPSInfo" || it->key() == "Exif.Image.GPSTag" ? exif.erase(it) : std::next(it);
}

void DropGps(Exiv2::XmpData &xmp)
{
    for (auto it = xmp.begin(); it != xmp.end();)
        it = it->key().rfind("Xmp.exif.GPS", 0) == 0 ? xmp.erase(it) : std::next(it);
}

std::string EncodeExif(const Exiv2::ExifData &exif, Exiv2::ByteOrder order)
{
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, nullptr, 0, order == Exiv2::invalidByteOrder ? Exiv2::littleEndian : order,
                              exif);
    return std::string(blob.begin(), blob.end());
}

// The picture's EXIF block as written with the pixels, empty when there is
// none: edited where it stands when that is enough (quick, and a maker note
// keeps its bytes and offsets), otherwise taken apart and rebuilt by exiv2.
std::string EditedExifBlock(const CxMetadata &meta, int width, int height, int orientation, int dpi)
{
    std::string block = meta.exif;
    if (!block.empty() && dpi <= 0 && cxmeta::EditExifInPlace(block, width, height, orientation))
        return block;
    Exiv2::ExifData exif;
    Exiv2::ByteOrder order;
    if (!EditedExif(meta, width, height, orientation, dpi, exif, order))
        return {};
    return EncodeExif(exif, order);
}

// One JPEG segment holds 64 KB of EXIF. A larger block (a TIFF's or a
// PNG's may be) is rebuilt by exiv2, which leaves out its largest fields to
// fit; failing that, only the orientation stays, so that pixels kept as
// stored still show the right way up. Either way the other blocks are kept.
std::string FittedJpegExif(std::string block, int orientation)
{
    if (block.size() <= kMostJpegExif)
        return block;
    try {
        Exiv2::ExifData exif;
        const Exiv2::ByteOrder order = Exiv2::ExifParser::decode(exif, Bytes(block), block.size());
        block = EncodeExif(exif, order);
    } catch (...) {
        block.clear();
    }
    if (!block.empty() && block.size() <= kMostJpegExif)
        return block;
    if (orientation == 1)
        return {};
    Exiv2::ExifData exif;
    exif["Exif.Image.Orientation"] = std::uint16_t(orientation);
    return EncodeExif(exif, Exiv2::littleEndian);
}

// WebP keeps its blocks in chunks of its own (EXIF, XMP, ICCP, flagged in
// VP8X); libwebpmux rewrites the container and leaves the frames alone.

struct MuxDeleter {
    void operator()(WebPMux *mux) const { WebPMuxDelete(mux); }
};
using MuxPtr = std::unique_ptr<WebPMux, MuxDeleter>;

std::string MuxChunk(WebPMux *mux, const char *fourcc)
{
    WebPData chunk;
    if (WebPMuxGetChunk(mux, fourcc, &chunk) != WEBP_MUX_OK)
        return {};
    std::string bytes(reinterpret_cast<const char *>(chunk.bytes), chunk.size);
    // Some writers keep JPEG's APP1 prefix.
    if (std::strcmp(fourcc, "EXIF") == 0 && bytes.compare(0, 6, std::string("Exif\0\0", 6)) == 0)
        bytes.erase(0, 6);
    return bytes;
}

// Sets a chunk, or removes it when bytes is empty.
bool SetMuxChunk(WebPMux *mux, const char *fourcc, const std::string &bytes)
{
    if (bytes.empty()) {
        const WebPMuxError e = WebPMuxDeleteChunk(mux, fourcc);
        return e == WEBP_MUX_OK || e == WEBP_MUX_NOT_FOUND;
    }
    const WebPData chunk{reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size()};
    return WebPMuxSetChunk(mux, fourcc, &chunk, 1) == WEBP_MUX_OK;
}

bool AssembleWebp(WebPMux *mux, const std::string &exif, const std::string &xmp, const std::string &icc,
                  std::string &out)
{
    if (!SetMuxChunk(mux, "EXIF", exif) || !SetMuxChunk(mux, "XMP ", xmp) || !SetMuxChunk(mux, "ICCP", icc))
        return false;
    WebPData assembled;
    WebPDataInit(&assembled);
    if (WebPMuxAssemble(mux, &assembled) != WEBP_MUX_OK)
        return false;
    out.assign(reinterpret_cast<const char *>(assembled.bytes), assembled.size);
    WebPDataClear(&assembled);
    return !out.empty();
}

// WebP has no IPTC chunk: those datasets are not carried.
bool EmbedWebp(const std::uint8_t *data, std::size_t size, const CxMetadata &meta, int width, int height,
               int orientation, int dpi, std::string &out)
{
    const WebPData whole{data, size};
    MuxPtr mux(WebPMuxCreate(&whole, 0));
    if (!mux)
        return false;
    const CxMetadata edited = cxmeta::EditedBlocks(meta, width, height, orientation, dpi);
    return AssembleWebp(mux.get(), edited.exif, edited.xmp, meta.icc, out);
}

bool RewriteWebp(const std::string &file, cxmeta::Strip strip, const cxmeta::TagEdits *edits, std::string &out)
{
    const bool all = strip == cxmeta::Strip::All;
    const WebPData whole{reinterpret_cast<const std::uint8_t *>(file.data()), file.size()};
    MuxPtr mux(WebPMuxCreate(&whole, 0));
    if (!mux)
        return false;
    std::string exifBytes = MuxChunk(mux.get(), "EXIF");
    std::string xmpBytes = MuxChunk(mux.get(), "XMP ");
    const std::string icc = MuxChunk(mux.get(), "ICCP");
    if (all) {
        // As for the other formats: the pixels are still stored turned.
        const int orientation = cxmeta::ExifOrientation(exifBytes);
        exifBytes.clear();
        xmpBytes.clear();
        if (orientation != 1) {
            Exiv2::ExifData exif;
            exif["Exif.Image.Orientation"] = std::uint16_t(orientation);
            exifBytes = EncodeExif(exif, Exiv2::littleEndian);
        }
    } else if (strip == cxmeta::Strip::Location) {
        if (!exifBytes.empty()) {
            Exiv2::ExifData exif;
            const Exiv2::ByteOrder order = Exiv2::ExifParser::decode(exif, Bytes(exifBytes), exifBytes.size());
            DropGps(exif);
            exifBytes = EncodeExif(exif, order);
        }
        if (!xmpBytes.empty()) {
            Exiv2::XmpData xmp;
            if (Exiv2::XmpParser::decode(xmp, xmpBytes) != 0)
                return false;
            DropGps(xmp);
            if (Exiv2::XmpParser::encode(xmpBytes, xmp) != 0)
                return false;
        }
    }
    if (edits) {
        // WebP has no IPTC chunk: keywords go to XMP only.
        CxMetadata meta{exifBytes, xmpBytes, {}, {}};
        cxmeta::EditTags(meta, *edits);
        exifBytes = std::move(meta.exif);
        xmpBytes = std::move(meta.xmp);
    }
    return AssembleWebp(mux.get(), exifBytes, xmpBytes, icc, out);
}

} // namespace

void cxmeta::Initialize()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize(LockXmp, nullptr);
    });
}

bool cxmeta::Carries(std::uint32_t type)
{
    const ImageFormat *format = FormatByType(type);
    return format && format->Has(FORMAT_METADATA);
}

bool cxmeta::WrittenByEncoder(std::uint32_t type)
{
    const ImageFormat *format = FormatByType(type);
    return format && format->facts.blockWriter == BlockWriter::Encoder;
}

CxMetadata cxmeta::EditedBlocks(const CxMetadata &meta, int width, int height, int orientation, int dpi)
{
    Initialize();
    const auto lock = XmpLock(!meta.xmp.empty());
    CxMetadata out;
    out.icc = meta.icc;
    try {
        out.exif = EditedExifBlock(meta, width, height, orientation, dpi);
    } catch (...) {
        out.exif.clear();
    }
    try {
        Exiv2::XmpData xmp;
        if (!meta.xmp.empty() && Exiv2::XmpParser::decode(xmp, meta.xmp) == 0) {
            EditXmp(xmp, width, height, orientation);
            if (Exiv2::XmpParser::encode(out.xmp, xmp) != 0)
                out.xmp.clear();
        } else if (!meta.xmp.empty()) {
            out.xmp = EditedRawXmp(meta.xmp, width, height, orientation);
        }
    } catch (...) {
        out.xmp.clear();
    }
    return out;
}

bool cxmeta::DropLocation(CxMetadata &meta)
{
    Initialize();
    const auto lock = XmpLock(!meta.xmp.empty());
    try {
        std::string exifOut, xmpOut;
        if (!meta.exif.empty()) {
            Exiv2::ExifData exif;
            const Exiv2::ByteOrder order =
                Exiv2::ExifParser::decode(exif, Bytes(meta.exif), meta.exif.size());
            DropGps(exif);
            Exiv2::Blob blob;
            Exiv2::ExifParser::encode(blob, nullptr, 0, order, exif);
            exifOut.assign(blob.begin(), blob.end());
        }
        // A packet the parser refuses cannot lose just its location: it goes
        // whole, and the EXIF stays.
        Exiv2::XmpData xmp;
        if (!meta.xmp.empty() && Exiv2::XmpParser::decode(xmp, meta.xmp) == 0) {
            DropGps(xmp);
            if (Exiv2::XmpParser::encode(xmpOut, xmp) != 0)
                return false;
        }
        meta.exif = std::move(exifOut);
        meta.xmp = std::move(xmpOut);
        return true;
    } catch (...) {
        return false;
    }
}

bool cxmeta::Embed(const std::uint8_t *data, std::size_t size, const CxMetadata &meta, int width, int height,
                   int orientation, std::string &out, int dpi)
{
    Initialize();
    const auto lock = XmpLock(!meta.xmp.empty());
    try {
        const ImageFormat *format = FormatOfBytes(data, size);
        if (format && format->facts.blockWriter == BlockWriter::Riff)
            return EmbedWebp(data, size, meta, width, height, orientation, dpi, out);
        // A segment or chunk takes the EXIF block as it is edited; a TIFF's
        // becomes part of the file's own IFDs, which exiv2 writes.
        const BlockPlace exifPlace = format ? format->facts.blocks.exif : BlockPlace::None;
        const bool jpeg = exifPlace == BlockPlace::Segment, png = exifPlace == BlockPlace::Chunk;
        std::string exifBlock;
        if (jpeg || png)
            exifBlock = EditedExifBlock(meta, width, height, orientation, dpi);
        if (jpeg)
            exifBlock = FittedJpegExif(std::move(exifBlock), orientation);
        if (jpeg && meta.xmp.empty() && meta.iptc.empty() && meta.icc.empty()) {
            out.assign(reinterpret_cast<const char *>(data), size);
            return exifBlock.empty() || InsertExifSegment(out, exifBlock);
        }
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(data, long(size));
        if (!image.get())
            return false;
        // Pixels kept as stored keep saying how they are turned, even where
        // the file said so outside EXIF (a TIFF's own tag).
        Exiv2::ExifData exif;
        Exiv2::ByteOrder order;
        if (!jpeg && !png && EditedExif(meta, width, height, orientation, dpi, exif, order))
            image->setExifData(exif);
        if (!meta.xmp.empty()) {
            Exiv2::XmpData xmp;
            if (Exiv2::XmpParser::decode(xmp, meta.xmp) == 0) {
                EditXmp(xmp, width, height, orientation);
                image->setXmpData(xmp);
            } else if (std::string raw = EditedRawXmp(meta.xmp, width, height, orientation); !raw.empty()) {
                // JPEG and PNG write the image's packet, TIFF the data's.
                image->xmpData().setPacket(raw);
                image->xmpData().usePacket(true);
                image->xmpPacket() = std::move(raw);
                image->writeXmpFromPacket(true);
            }
        }
        if (!meta.iptc.empty()) {
            Exiv2::IptcData iptc;
            if (Exiv2::IptcParser::decode(iptc, Bytes(meta.iptc), meta.iptc.size()) == 0)
                image->setIptcData(iptc);
        }
        if (!meta.icc.empty()) {
            Exiv2::DataBuf icc(Bytes(meta.icc), long(meta.icc.size()));
            image->setIccProfile(icc, false);
        }
        if (!WriteLeavingOutLargeXmp(*image, jpeg, out))
            return false;
        if (png)
            NameProfileChunk(out);
        if (!exifBlock.empty() &&
            !(png ? InsertExifChunk(out, exifBlock) : InsertExifSegment(out, exifBlock)))
            return false;
        return !out.empty();
    } catch (...) {
        return false;
    }
}

std::unique_lock<std::recursive_mutex> cxmeta::XmpToolkitLock()
{
    return XmpLock();
}

bool cxmeta::StripFile(const std::string &file, bool all, std::string &out)
{
    return RewriteFile(file, all ? Strip::All : Strip::Location, nullptr, out);
}

bool cxmeta::RewriteFile(const std::string &file, Strip strip, const TagEdits *edits, std::string &out)
{
    Initialize();
    const auto lock = XmpLock(); // the file's own XMP is read
    const bool all = strip == Strip::All;
    try {
        if (WriterOfBytes(Bytes(file), file.size()) == BlockWriter::Riff)
            return RewriteWebp(file, strip, edits, out);
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(Bytes(file), long(file.size()));
        // Only these are written back as edited: exiv2 takes an AVIF or HEIF
        // file for a video and returns it unchanged.
        if (!image.get() || (image->imageType() != Exiv2::ImageType::jpeg &&
                             image->imageType() != Exiv2::ImageType::png &&
                             image->imageType() != Exiv2::ImageType::tiff))
            return false;
        image->readMetadata();
        if (all) {
            // The copy's pixels are as stored: without its orientation the
            // photo would show on its side.
            const auto it = image->exifData().findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
            const long orientation = it != image->exifData().end() ? it->toLong() : 1;
            image->clearExifData();
            if (orientation >= 2 && orientation <= 8)
                image->exifData()["Exif.Image.Orientation"] = std::uint16_t(orientation);
            image->clearXmpData();
            image->clearXmpPacket();
            image->clearIptcData();
        } else if (strip == Strip::Location) {
            DropGps(image->exifData());
            DropGps(image->xmpData());
        }
        // A packet exiv2 could not read keeps its bytes, unedited, where
        // nothing is to be cut out of it.
        const bool keepPacket =
            strip == Strip::None && !image->xmpPacket().empty() && image->xmpData().empty();
        if (edits)
            ApplyTagEdits(&image->exifData(), keepPacket ? nullptr : &image->xmpData(), &image->iptcData(), *edits);
        image->writeXmpFromPacket(keepPacket);
        if (!WriteTo(*image, out))
            return false;
        if (image->imageType() == Exiv2::ImageType::png)
            NameProfileChunk(out); // and mends a nameless one written before
        return true;
    } catch (...) {
        return false;
    }
}

std::string cxmeta::DateTimeOriginal(const std::string &path)
{
    Initialize();
    const auto lock = XmpLock(); // reading the file reads its XMP too
    try {
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(path);
        if (!image.get())
            return {};
        image->readMetadata();
        const Exiv2::ExifData &exif = image->exifData();
        const auto it = exif.findKey(Exiv2::ExifKey("Exif.Photo.DateTimeOriginal"));
        return it != exif.end() ? it->toString() : std::string();
    } catch (...) {
        return {};
    }
}

namespace {

Exiv2::URational Tenths(double v)
{
    return {std::uint32_t(std::lround(v * 10)), 10};
}

// 1/250 s as 1/250, long exposures in tenths.
Exiv2::URational ExposureRational(double seconds)
{
    if (seconds < 1)
        return {1, std::uint32_t(std::lround(1 / seconds))};
    return Tenths(seconds);
}

void SetAngle(Exiv2::ExifData &exif, const char *key, const double (&dms)[3])
{
    Exiv2::URationalValue value;
    value.value_ = {{std::uint32_t(std::lround(dms[0])), 1},
                    {std::uint32_t(std::lround(dms[1])), 1},
                    {std::uint32_t(std::lround(dms[2] * 100)), 100}};
    exif[key] = value;
}

void SetGps(Exiv2::ExifData &exif, const cxmeta::ShotFacts &f)
{
    exif["Exif.GPSInfo.GPSVersionID"] = "2 2 0 0";
    exif["Exif.GPSInfo.GPSLatitudeRef"] = std::string(1, f.latitudeRef);
    SetAngle(exif, "Exif.GPSInfo.GPSLatitude", f.latitude);
    exif["Exif.GPSInfo.GPSLongitudeRef"] = std::string(1, f.longitudeRef);
    SetAngle(exif, "Exif.GPSInfo.GPSLongitude", f.longitude);
    if (f.altitudeM > 0) {
        exif["Exif.GPSInfo.GPSAltitudeRef"] = std::uint8_t(f.belowSeaLevel ? 1 : 0);
        exif["Exif.GPSInfo.GPSAltitude"] = Exiv2::URational(std::uint32_t(std::lround(f.altitudeM * 100)), 100);
    }
}

} // namespace

std::string cxmeta::ExifFromFacts(const ShotFacts &f)
{
    Initialize();
    try {
        Exiv2::ExifData exif;
        const std::pair<const char *, const std::string *> texts[] = {
            {"Exif.Image.Make", &f.make},
            {"Exif.Image.Model", &f.model},
            {"Exif.Photo.LensModel", &f.lens},
            {"Exif.Photo.DateTimeOriginal", &f.dateTimeOriginal}};
        for (const auto &[key, text] : texts)
            if (!text->empty())
                exif[key] = *text;
        if (f.exposureSeconds > 0)
            exif["Exif.Photo.ExposureTime"] = ExposureRational(f.exposureSeconds);
        if (f.fNumber > 0)
            exif["Exif.Photo.FNumber"] = Tenths(f.fNumber);
        if (f.iso > 0)
            exif["Exif.Photo.ISOSpeedRatings"] = std::uint16_t(std::min(f.iso, 65535));
        if (f.focalLengthMm > 0)
            exif["Exif.Photo.FocalLength"] = Tenths(f.focalLengthMm);
        if (f.hasGps)
            SetGps(exif, f);
        if (exif.empty())
            return {};
        Exiv2::Blob blob;
        Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
        return std::string(blob.begin(), blob.end());
    } catch (...) {
        return {};
    }
}
