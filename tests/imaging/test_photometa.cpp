// Photos as phones and cameras write them: EXIF orientation on decode, and
// the metadata blocks carried into outputs.
#include "imaging/colourprofile.h"
#include "imaging/cximage.h"
#include "imaging/imageheader.h"
#include "imaging/metadataio.h"
#include "tests/test_support.h"
#include "imaging/thumbnail.h"

#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <array>

using namespace testsupport;

namespace {

CxImage LoadPhoto(const std::string &name, bool autoOrient = true, int hintW = 0, int hintH = 0)
{
    CxImage img;
    const CxDecodeRequest req{.hintWidth = hintW, .hintHeight = hintH, .autoOrient = autoOrient};
    EXPECT_TRUE(img.Load(DataPath("photo/" + name).c_str(), CXIMAGE_FORMAT_UNKNOWN, req))
        << name << ": " << img.GetLastError();
    return img;
}

} // namespace

TEST(PhotoOrientation, EveryOrientationDecodesToTheSamePicture)
{
    // Full decodes, and reduced ones whose hint speaks of the upright picture.
    // AVIF says it by irot and imir (and EXIF beside them), HEIF by irot and
    // imir alone, which libheif always applies.
    for (const std::string ext : {"jpg", "png", "avif", "heic"}) {
        for (const auto &[hintW, hintH] : {std::pair{0, 0}, std::pair{16, 8}}) {
            const CxImage upright = LoadPhoto("orient1." + ext, true, hintW, hintH);
            for (int o = 1; o <= 8; ++o) {
                SCOPED_TRACE(ext + " orientation " + std::to_string(o) + " hint " + std::to_string(hintW));
                const std::string name = "orient" + std::to_string(o) + "." + ext;
                const CxImage img = LoadPhoto(name, true, hintW, hintH);
                EXPECT_EQ(img.GetOrientation(), 1);
                EXPECT_EQ(img.GetSrcWidth(), 32);
                EXPECT_EQ(img.GetSrcHeight(), 16);
                ASSERT_EQ(img.GetWidth(), upright.GetWidth());
                ASSERT_EQ(img.GetHeight(), upright.GetHeight());
                EXPECT_LE(MaxChannelDiff(img, upright), 2);

                // Off: the pixels as stored, the recorded value reported.
                const CxImage stored = LoadPhoto(name, false);
                const bool turned = ext != "heic";
                EXPECT_EQ(stored.GetOrientation(), turned ? o : 1);
                EXPECT_EQ(stored.GetWidth(), turned && o >= 5 ? 16 : 32);
            }
        }
    }
}

TEST(PhotoOrientation, DamagedExifCountsAsUpright)
{
    const CxImage img = LoadPhoto("broken_exif.jpg");
    EXPECT_EQ(img.GetOrientation(), 1);
    EXPECT_EQ(img.GetWidth(), 16); // stored on its side, as nothing says otherwise
    ScratchDir dir;
    CxImage copy = img;
    EXPECT_TRUE(copy.Save(dir.Path("out.jpg").c_str(), CXIMAGE_FORMAT_JPG)) << copy.GetLastError();
}

TEST(PhotoOrientation, TheTagCountsInAnyIntegerType)
{
    // IFD0 holds one entry: tag 274 of a type and count, its four value
    // bytes as stored. Some cameras write a LONG or SLONG.
    struct Row {
        const char *name;
        bool bigEndian;
        std::uint16_t type;
        std::uint32_t count;
        std::array<std::uint8_t, 4> value;
        int orientation; // as read
        bool editable;   // takes a new value where it stands
    };
    const Row rows[] = {
        {"SHORT", false, 3, 1, {6, 0, 0, 0}, 6, true},
        {"LONG", false, 4, 1, {6, 0, 0, 0}, 6, true},
        {"SLONG", false, 9, 1, {6, 0, 0, 0}, 6, true},
        {"BYTE", false, 1, 1, {8, 0, 0, 0}, 8, true},
        {"SBYTE", false, 6, 1, {5, 0, 0, 0}, 5, true},
        {"SSHORT", false, 8, 1, {3, 0, 0, 0}, 3, true},
        {"big-endian SHORT", true, 3, 1, {0, 6, 0, 0}, 6, true},
        {"big-endian LONG", true, 4, 1, {0, 0, 0, 7}, 7, true},
        {"big-endian SSHORT", true, 8, 1, {0, 2, 0, 0}, 2, true},
        {"big-endian BYTE", true, 1, 1, {6, 0, 0, 0}, 6, true},
        {"SSHORT -1", false, 8, 1, {0xFF, 0xFF, 0, 0}, 1, true},
        {"SLONG -6", false, 9, 1, {0xFA, 0xFF, 0xFF, 0xFF}, 1, true},
        {"LONG 9", false, 4, 1, {9, 0, 0, 0}, 1, true},
        {"LONG 65542, 6 in its low half", false, 4, 1, {6, 0, 1, 0}, 1, true},
        {"two SHORTs", false, 3, 2, {6, 0, 6, 0}, 1, false},
        {"RATIONAL", false, 5, 1, {8, 0, 0, 0}, 1, false},
        {"ASCII", false, 2, 1, {'6', 0, 0, 0}, 1, false},
    };
    const std::vector<std::uint8_t> jpeg = ReadFileBytes(DataPath("photo/orient6.jpg"));
    const std::uint8_t shortSix[] = {0x12, 0x01, 3, 0, 1, 0, 0, 0, 6, 0, 0, 0};
    const auto entry = std::search(jpeg.begin(), jpeg.end(), std::begin(shortSix), std::end(shortSix));
    ASSERT_NE(entry, jpeg.end());
    const CxImage upright = LoadPhoto("orient1.jpg");
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        const auto put = [&r](std::string &b, std::uint32_t v, int bytes) {
            for (int i = 0; i < bytes; ++i)
                b.push_back(char(v >> (8 * (r.bigEndian ? bytes - 1 - i : i))));
        };
        std::string block = r.bigEndian ? "MM" : "II";
        put(block, 42, 2);
        put(block, 8, 4);
        put(block, 1, 2);
        put(block, 274, 2);
        put(block, r.type, 2);
        put(block, r.count, 4);
        block.append(r.value.begin(), r.value.end());
        put(block, 0, 4);
        EXPECT_EQ(cxmeta::ExifOrientation(block), r.orientation);
        std::string edited = block;
        ASSERT_EQ(cxmeta::EditExifInPlace(edited, 32, 16, 3), r.editable);
        if (r.editable) {
            EXPECT_EQ(cxmeta::ExifOrientation(edited), 3);
            EXPECT_EQ(edited.substr(0, 18), block.substr(0, 18)); // the entry keeps its type
        }
        if (r.bigEndian)
            continue;

        // In a photo: the decode, its header and the upright picture.
        std::vector<std::uint8_t> photo = jpeg;
        const std::size_t at = std::size_t(entry - jpeg.begin());
        photo[at + 2] = std::uint8_t(r.type);
        photo[at + 4] = std::uint8_t(r.count);
        std::copy(r.value.begin(), r.value.end(), photo.begin() + std::ptrdiff_t(at + 8));
        CxImage stored;
        ASSERT_TRUE(stored.Decode(photo.data(), photo.size(), CXIMAGE_FORMAT_UNKNOWN, {.autoOrient = false}));
        EXPECT_EQ(stored.GetOrientation(), r.orientation);
        ImageHeader h;
        ASSERT_TRUE(ProbeImageHeader(photo.data(), photo.size(), h));
        EXPECT_EQ(h.orientation, r.orientation);
        if (r.orientation == 6) {
            CxImage turned;
            ASSERT_TRUE(turned.Decode(photo.data(), photo.size()));
            ASSERT_EQ(turned.GetWidth(), upright.GetWidth());
            EXPECT_LE(MaxChannelDiff(turned, upright), 2);
        }
    }
}

TEST(PhotoMetadata, BlocksReachEveryFormatThatCarriesThem)
{
    struct Row {
        const char *source;
        std::uint32_t type;
        const char *out;
        bool autoOrient;
        bool dropLocation;
    };
    const Row rows[] = {
        {"meta.jpg", CXIMAGE_FORMAT_JPG, "a.jpg", true, false},
        {"meta.jpg", CXIMAGE_FORMAT_PNG, "a.png", true, false},
        {"meta.jpg", CXIMAGE_FORMAT_TIF, "a.tif", true, false},
        {"meta.jpg", CXIMAGE_FORMAT_JPG, "nogps.jpg", true, true},
        {"orient6.jpg", CXIMAGE_FORMAT_JPG, "o6.jpg", true, false},
        {"orient6.jpg", CXIMAGE_FORMAT_JPG, "o6stored.jpg", false, false},
        {"orient6.png", CXIMAGE_FORMAT_PNG, "o6.png", true, false},
        {"adobergb.jpg", CXIMAGE_FORMAT_JPG, "icc.jpg", true, false},
        {"adobergb.jpg", CXIMAGE_FORMAT_PNG, "icc.png", true, false},
        {"meta.jpg", CXIMAGE_FORMAT_WEBP, "a.webp", true, false},
        {"orient6.jpg", CXIMAGE_FORMAT_WEBP, "o6stored.webp", false, false},
        {"adobergb.jpg", CXIMAGE_FORMAT_WEBP, "icc.webp", true, false},
        {"meta.jpg", CXIMAGE_FORMAT_AVIF, "a.avif", true, false},
        {"orient6.jpg", CXIMAGE_FORMAT_AVIF, "o6.avif", true, false},
        {"orient6.jpg", CXIMAGE_FORMAT_AVIF, "o6stored.avif", false, false},
        {"adobergb.jpg", CXIMAGE_FORMAT_AVIF, "icc.avif", true, false},
        {"adobergb.jpg", CXIMAGE_FORMAT_TIF, "icc.tif", true, false},
    };
    ScratchDir dir;
    for (const Row &r : rows) {
        SCOPED_TRACE(r.out);
        CxImage img = LoadPhoto(r.source, r.autoOrient);
        if (r.dropLocation) {
            CxMetadata meta = img.GetMetadata();
            ASSERT_TRUE(cxmeta::DropLocation(meta));
            img.SetMetadata(meta);
        }
        ASSERT_TRUE(img.Resample(img.GetWidth() / 2, img.GetHeight() / 2));
        ASSERT_TRUE(img.Save(dir.Path(r.out).c_str(), r.type)) << img.GetLastError();
        const auto keys = MetadataKeys(dir.Path(r.out));
        const auto value = [&](const char *key) { return keys.count(key) ? keys.at(key) : std::string("-"); };
        const std::string src = r.source;
        if (src == "meta.jpg") {
            EXPECT_EQ(value("Exif.Photo.DateTimeOriginal"), "2024:05:06 07:08:09");
            EXPECT_EQ(value("Exif.Photo.PixelXDimension"), "16");
            EXPECT_EQ(value("Exif.Photo.PixelYDimension"), "8");
            EXPECT_EQ(value("Xmp.dc.title"), "lang=\"x-default\" Velmora");
            // Neither WebP nor AVIF has a place for IPTC.
            EXPECT_EQ(value("Iptc.Application2.City"),
                      r.type == CXIMAGE_FORMAT_WEBP || r.type == CXIMAGE_FORMAT_AVIF ? "-" : "Paris");
            EXPECT_EQ(value("Exif.GPSInfo.GPSLatitude"), r.dropLocation ? "-" : "48/1 51/1 30/1");
            EXPECT_EQ(value("Xmp.exif.GPSLatitude"), r.dropLocation ? "-" : "48,51.5N");
        } else if (src.rfind("orient6", 0) == 0) {
            EXPECT_EQ(value("Exif.Image.Orientation"), r.autoOrient ? "1" : "6");
        } else {
            EXPECT_EQ(value("icc"), std::to_string(img.GetMetadata().icc.size()));
            EXPECT_GT(img.GetMetadata().icc.size(), 100u);
        }
        // What we wrote reads back the same way.
        CxImage back;
        ASSERT_TRUE(back.Load(dir.Path(r.out).c_str(), CXIMAGE_FORMAT_UNKNOWN, {.autoOrient = r.autoOrient}));
        EXPECT_EQ(back.GetWidth(), img.GetWidth());
        EXPECT_EQ(back.GetHeight(), img.GetHeight());
        if (src == "meta.jpg") {
            EXPECT_FALSE(back.GetMetadata().xmp.empty());
            EXPECT_EQ(back.GetMetadata().iptc.empty(), r.type != CXIMAGE_FORMAT_JPG && r.type != CXIMAGE_FORMAT_TIF);
        }
        // Read by the format's own library, which drops a profile stored
        // against its rules.
        if (src == "adobergb.jpg") {
            EXPECT_EQ(back.GetMetadata().icc, img.GetMetadata().icc);
        }
        EXPECT_EQ(back.GetOrientation(), r.autoOrient ? 1 : 6);
    }
}

TEST(PhotoMetadata, AStrippedPngKeepsItsProfileWhateverItsName)
{
    // A profile's chunk as earlier versions wrote it: exiv2's, with an
    // empty name that libpng refuses. It comes out named.
    CxImage img = LoadPhoto("adobergb.jpg");
    ScratchDir dir;
    ASSERT_TRUE(img.Save(dir.Path("named.png").c_str(), CXIMAGE_FORMAT_PNG));
    const auto bytes = ReadFileBytes(dir.Path("named.png"));
    const std::string named(bytes.begin(), bytes.end());
    ASSERT_NE(named.find(std::string("iCCPICC profile\0", 16)), std::string::npos);
    CxImage plain = LoadPhoto("orient1.jpg");
    ASSERT_TRUE(plain.Save(dir.Path("plain.png").c_str(), CXIMAGE_FORMAT_PNG));
    Exiv2::Image::AutoPtr exiv2Png = Exiv2::ImageFactory::open(dir.Path("plain.png"));
    const std::string &icc = img.GetMetadata().icc;
    Exiv2::DataBuf profile(reinterpret_cast<const Exiv2::byte *>(icc.data()), long(icc.size()));
    exiv2Png->setIccProfile(profile);
    exiv2Png->writeMetadata();
    const auto namelessBytes = ReadFileBytes(dir.Path("plain.png"));
    const std::string nameless(namelessBytes.begin(), namelessBytes.end());
    ASSERT_NE(nameless.find(std::string("iCCP\0", 5)), std::string::npos);
    for (const std::string *file : {&named, &nameless}) {
        std::string stripped;
        ASSERT_TRUE(cxmeta::StripFile(*file, false, stripped));
        ASSERT_TRUE(WriteFileBytes(dir.Path("out.png"), {stripped.begin(), stripped.end()}));
        CxImage back;
        ASSERT_TRUE(back.Load(dir.Path("out.png").c_str()));
        EXPECT_EQ(back.GetMetadata().icc, icc);
    }
}

TEST(PhotoMetadata, AnXmpPacketTheParserRefusesIsKeptWithItsFieldsEdited)
{
    // A property given twice, as some photo managers write it: exiv2 refuses
    // the packet. Its orientation and sizes are edited in its text; where
    // the orientation is written in a form that is not, the packet goes.
    const auto packet = [](const char *orientation) {
        return std::string("<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
                           "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description "
                           "rdf:about='' xmlns:xmp='http://ns.adobe.com/xap/1.0/' "
                           "xmlns:tiff='http://ns.adobe.com/tiff/1.0/' xmlns:exif='http://ns.adobe.com/exif/1.0/' "
                           "exif:PixelXDimension='480'><xmp:Rating>5</xmp:Rating><xmp:Rating>5</xmp:Rating>") +
               orientation + "<tiff:ImageLength>640</tiff:ImageLength></rdf:Description></rdf:RDF></x:xmpmeta>";
    };
    const std::string editable = packet("<tiff:Orientation>6</tiff:Orientation>"),
                      opaque = packet("<tiff:Orientation xml:lang='x-default'>6</tiff:Orientation>");
    Exiv2::XmpData parsed;
    ASSERT_NE(Exiv2::XmpParser::decode(parsed, editable), 0);
    // Dropping the location cannot edit such a packet: it goes, the EXIF
    // stays without its GPS fields.
    CxMetadata located = LoadPhoto("meta.jpg").GetMetadata();
    located.xmp = editable;
    ASSERT_TRUE(cxmeta::DropLocation(located));
    EXPECT_EQ(located.xmp, "");
    Exiv2::ExifData exif;
    Exiv2::ExifParser::decode(exif, reinterpret_cast<const Exiv2::byte *>(located.exif.data()),
                              std::uint32_t(located.exif.size()));
    EXPECT_NE(exif.findKey(Exiv2::ExifKey("Exif.Photo.DateTimeOriginal")), exif.end());
    EXPECT_EQ(exif.findKey(Exiv2::ExifKey("Exif.GPSInfo.GPSLatitude")), exif.end());
    ScratchDir dir;
    for (const std::uint32_t type :
         {CXIMAGE_FORMAT_JPG, CXIMAGE_FORMAT_PNG, CXIMAGE_FORMAT_TIF, CXIMAGE_FORMAT_WEBP, CXIMAGE_FORMAT_AVIF})
        for (const std::string *xmp : {&editable, &opaque}) {
            SCOPED_TRACE(std::to_string(type) + (xmp == &opaque ? " opaque" : " editable"));
            CxImage img = LoadPhoto("orient6.jpg");
            CxMetadata meta = img.GetMetadata();
            meta.xmp = *xmp;
            img.SetMetadata(meta);
            ASSERT_TRUE(img.Save(dir.Path("out").c_str(), type)) << img.GetLastError();
            CxImage back;
            ASSERT_TRUE(back.Load(dir.Path("out").c_str()));
            const std::string kept = back.GetMetadata().xmp;
            if (xmp == &opaque) {
                EXPECT_EQ(kept, "");
                continue;
            }
            EXPECT_NE(kept.find("<xmp:Rating>5</xmp:Rating><xmp:Rating>5</xmp:Rating>"), std::string::npos) << kept;
            EXPECT_NE(kept.find("<tiff:Orientation>1</tiff:Orientation>"), std::string::npos) << kept;
            const std::string width = std::to_string(img.GetWidth()), height = std::to_string(img.GetHeight());
            EXPECT_NE(kept.find(" exif:PixelXDimension='" + width + "'"), std::string::npos) << kept;
            EXPECT_NE(kept.find("<tiff:ImageLength>" + height + "</tiff:ImageLength>"), std::string::npos) << kept;
        }
}

TEST(PhotoMetadata, BlocksTooLargeForAJpegCostNothingElse)
{
    // One JPEG segment holds 64 KB; other formats take any size. An EXIF
    // block too large keeps at least the orientation of pixels kept as
    // stored.
    const std::string xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
                            "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description rdf:about='' "
                            "xmlns:dc='http://purl.org/dc/elements/1.1/'><dc:source>",
                      xmpEnd = "</dc:source></rdf:Description></rdf:RDF></x:xmpmeta>";
    // A little-endian TIFF block: a 70,000-byte description and orientation 6.
    std::string bigExif("II*\0\x08\0\0\0\x02\0", 10);
    const auto add = [&](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            bigExif.push_back(char(v >> (8 * i)));
    };
    add(0x010E, 2), add(2, 2), add(70000, 4), add(8 + 2 + 24 + 4, 4);
    add(0x0112, 2), add(3, 2), add(1, 4), add(6, 4);
    add(0, 4);
    bigExif += std::string(69999, 'a') + '\0';
    struct Row {
        bool bigXmp;
        std::uint32_t type;
        bool autoOrient;
        const char *orientation; // as the output says, "-" for none
        bool xmpKept;
    };
    const Row rows[] = {
        {true, CXIMAGE_FORMAT_JPG, true, "-", false},  {true, CXIMAGE_FORMAT_PNG, true, "-", true},
        {true, CXIMAGE_FORMAT_TIF, true, "-", true},   {false, CXIMAGE_FORMAT_JPG, true, "1", true},
        {false, CXIMAGE_FORMAT_JPG, false, "6", true},
    };
    ScratchDir dir;
    for (const Row &r : rows) {
        SCOPED_TRACE(std::to_string(r.type) + (r.bigXmp ? " XMP" : " EXIF") + (r.autoOrient ? "" : " stored"));
        CxImage img = LoadPhoto(r.bigXmp ? "meta.jpg" : "orient6.jpg", r.autoOrient);
        CxMetadata meta = img.GetMetadata();
        meta.xmp = xmp + std::string(r.bigXmp ? 70000 : 1, 'a') + xmpEnd;
        if (!r.bigXmp)
            meta.exif = bigExif;
        img.SetMetadata(meta);
        ASSERT_TRUE(img.Save(dir.Path("out").c_str(), r.type));
        const auto keys = MetadataKeys(dir.Path("out"));
        EXPECT_EQ(keys.count("Xmp.dc.source"), r.xmpKept ? 1u : 0u);
        if (r.bigXmp) {
            EXPECT_EQ(keys.count("Exif.Photo.DateTimeOriginal"), 1u);
            EXPECT_EQ(keys.count("Iptc.Application2.City"), 1u);
        } else {
            EXPECT_EQ(keys.count("Exif.Image.Orientation") ? keys.at("Exif.Image.Orientation") : "-", r.orientation);
        }
    }
}

TEST(PhotoMetadata, TheEmbeddedThumbnailIsDropped)
{
    // The source's EXIF with a thumbnail of the old picture added.
    CxImage img = LoadPhoto("meta.jpg");
    Exiv2::ExifData exif;
    const CxMetadata source = img.GetMetadata();
    Exiv2::ExifParser::decode(exif, reinterpret_cast<const Exiv2::byte *>(source.exif.data()),
                              std::uint32_t(source.exif.size()));
    const auto jpeg = ReadFileBytes(DataPath("photo/orient1.jpg"));
    Exiv2::ExifThumb(exif).setJpegThumbnail(jpeg.data(), long(jpeg.size()));
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, nullptr, 0, Exiv2::littleEndian, exif);
    CxMetadata meta = source;
    meta.exif.assign(blob.begin(), blob.end());
    img.SetMetadata(meta);

    ScratchDir dir;
    ASSERT_TRUE(img.Save(dir.Path("out.jpg").c_str(), CXIMAGE_FORMAT_JPG));
    const auto keys = MetadataKeys(dir.Path("out.jpg"));
    EXPECT_EQ(keys.count("Exif.Photo.DateTimeOriginal"), 1u);
    EXPECT_EQ(keys.count("Exif.Thumbnail.JPEGInterchangeFormat"), 0u);
}

TEST(PhotoColour, ProfilesAreHonouredWhereTheyCannotFollow)
{
    // adobergb.jpg holds orient1.jpg's very pixels, with the profile.
    CxImage img = LoadPhoto("adobergb.jpg");
    const CxImage asStored = img;
    ASSERT_FALSE(img.GetMetadata().icc.empty());
    EXPECT_TRUE(cxcolour::ToSrgb(img));
    EXPECT_TRUE(img.GetMetadata().icc.empty());
    EXPECT_GT(MaxChannelDiff(img, asStored), 10); // saturated colours move
    CxImage plain = LoadPhoto("orient1.jpg");
    EXPECT_TRUE(cxcolour::ToSrgb(plain));
    EXPECT_EQ(MaxChannelDiff(plain, asStored), 0);
}

TEST(PhotoColour, OnlyAProfileThatFitsThePixelsIsWritten)
{
    // A Lab profile (as a CMYK one) no longer describes pixels decoded to RGB.
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(lab, nullptr, &size);
    std::string labBytes(size, '\0');
    cmsSaveProfileToMem(lab, labBytes.data(), &size);
    cmsCloseProfile(lab);
    const std::string adobe = LoadPhoto("adobergb.jpg").GetMetadata().icc;

    ScratchDir dir;
    for (const auto &[icc, kept] : {std::pair{labBytes, false}, std::pair{adobe, true}}) {
        CxImage img = LoadPhoto("orient1.jpg");
        img.SetMetadata(CxMetadata{"", "", "", icc});
        ASSERT_TRUE(img.Save(dir.Path("out.jpg").c_str(), CXIMAGE_FORMAT_JPG));
        EXPECT_EQ(MetadataKeys(dir.Path("out.jpg")).count("icc"), kept ? 1u : 0u);
    }
}

TEST(PhotoThumbnail, CardsShowPhotosUprightAndInSrgb)
{
    struct Row {
        const char *name;
        bool autoRotate;
        long width, height;
        bool sameCardAsOrient1;
    };
    const Row rows[] = {
        {"orient1.jpg", true, 32, 16, true},   {"orient6.jpg", true, 32, 16, true},
        {"orient7.jpg", true, 32, 16, true},   {"orient6.jpg", false, 16, 32, false},
        {"adobergb.jpg", true, 32, 16, false},
    };
    QImage reference;
    MakeThumbnail(DataPath("photo/orient1.jpg"), CXIMAGE_FORMAT_JPG, reference);
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        QImage card;
        const ThumbnailResult t =
            MakeThumbnail(DataPath(std::string("photo/") + r.name), 0, card, nullptr, r.autoRotate);
        EXPECT_TRUE(t.valid);
        EXPECT_EQ(t.width, r.width);
        EXPECT_EQ(t.height, r.height);
        EXPECT_EQ(card == reference, r.sameCardAsOrient1);
    }
}

namespace {

std::map<std::string, std::string> ExifKeys(const std::string &block)
{
    std::map<std::string, std::string> keys;
    Exiv2::ExifData exif;
    Exiv2::ExifParser::decode(exif, reinterpret_cast<const Exiv2::byte *>(block.data()),
                              std::uint32_t(block.size()));
    for (const auto &d : exif)
        if (d.groupName() != "Thumbnail")
            keys[d.key()] = d.toString();
    return keys;
}

} // namespace

TEST(PhotoMetadata, ExifIsEditedWhereItStandsWhenThatIsEnough)
{
    struct Row {
        const char *name;
        bool bigEndian, orientation, longSizes, thumbnail;
        int turnTo, width;
        bool inPlace;
    };
    const Row rows[] = {
        {"upright, no thumbnail", false, true, false, false, 1, 800, true},
        {"thumbnail", false, true, false, true, 1, 800, true},
        {"big-endian, thumbnail", true, true, true, true, 3, 800, true},
        {"no orientation, stays upright", false, false, false, true, 1, 800, true},
        {"no orientation, turned", false, false, false, false, 6, 800, false},
        {"width past a SHORT", false, true, false, false, 1, 70000, false},
        {"width past a SHORT, in a LONG", false, true, true, false, 1, 70000, true},
    };
    const auto thumb = ReadFileBytes(DataPath("photo/orient1.jpg"));
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        Exiv2::ExifData exif;
        exif["Exif.Image.Make"] = "Velmora";
        exif["Exif.Photo.DateTimeOriginal"] = "2024:05:06 07:08:09";
        exif["Exif.GPSInfo.GPSLatitude"] = "48/1 51/1 30/1";
        Exiv2::DataValue note(Exiv2::undefined);
        note.read("1 2 3 4 5 6 7 8 9 10");
        exif["Exif.Photo.MakerNote"].setValue(&note);
        if (r.orientation)
            exif["Exif.Image.Orientation"] = std::uint16_t(6);
        for (const char *k : {"Exif.Image.ImageWidth", "Exif.Photo.PixelXDimension"}) {
            if (r.longSizes)
                exif[k] = std::uint32_t(4000);
            else
                exif[k] = std::uint16_t(4000);
        }
        if (r.thumbnail)
            Exiv2::ExifThumb(exif).setJpegThumbnail(thumb.data(), long(thumb.size()));
        Exiv2::Blob blob;
        Exiv2::ExifParser::encode(blob, nullptr, 0, r.bigEndian ? Exiv2::bigEndian : Exiv2::littleEndian,
                                  exif);
        const std::string source(blob.begin(), blob.end());

        std::string edited = source;
        ASSERT_EQ(cxmeta::EditExifInPlace(edited, r.width, 600, r.turnTo), r.inPlace);
        if (!r.inPlace) {
            EXPECT_EQ(edited, source);
            continue;
        }
        auto want = ExifKeys(source);
        if (r.orientation || r.turnTo != 1)
            want["Exif.Image.Orientation"] = std::to_string(r.turnTo);
        want["Exif.Image.ImageWidth"] = want["Exif.Photo.PixelXDimension"] = std::to_string(r.width);
        EXPECT_EQ(ExifKeys(edited), want);
        EXPECT_EQ(cxmeta::ExifOrientation(edited), r.turnTo);
        if (r.thumbnail) {
            EXPECT_LE(edited.size() + thumb.size(), source.size()); // cut off, not just unlinked
            Exiv2::ExifData back;
            Exiv2::ExifParser::decode(back, reinterpret_cast<const Exiv2::byte *>(edited.data()),
                                      std::uint32_t(edited.size()));
            EXPECT_EQ(Exiv2::ExifThumbC(back).copy().size_, 0);
        }
        // Cut or damaged copies are refused, or edited within their bytes.
        for (std::size_t cut = 0; cut < source.size(); cut += 7) {
            std::string damaged = source.substr(0, cut);
            if (!cxmeta::EditExifInPlace(damaged, r.width, 600, r.turnTo)) {
                EXPECT_EQ(damaged, source.substr(0, cut));
            }
        }
    }
}
