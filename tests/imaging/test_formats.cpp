#include "imaging/cximage.h"
#include "imaging/formats.h"
#include "tests/test_support.h"

#include <QFile>
#include <QMimeDatabase>
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <set>
#include <vector>

using namespace testsupport;

namespace {

std::string Lower(std::string s)
{
    for (char &c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Encodes img as format and decodes it again; ok says both worked and the
// bytes were recognised as that format.
CxImage RoundTrip(CxImage img, const ImageFormat &format, bool &ok,
                  std::vector<std::uint8_t> *bytes = nullptr)
{
    CxMemFile mem;
    ok = mem.Open() && img.Encode(&mem, format.type);
    std::vector<std::uint8_t> data(std::size_t(ok ? mem.Size() : 0));
    ok = ok && mem.Seek(0, SEEK_SET) && mem.Read(data.data(), 1, data.size()) == data.size();
    ok = ok && CxImage::DetectFormat(data.data(), data.size()) == format.type;
    CxImage back;
    ok = ok && back.Decode(data.data(), data.size()) && back.GetType() == format.type;
    if (bytes)
        *bytes = std::move(data);
    return back;
}

CxImage Paletted(int transIndex)
{
    CxImage img;
    img.Create(16, 16, 4);
    RGBQUAD pal[16];
    for (int i = 0; i < 16; ++i)
        pal[i] = RGBQUAD{BYTE(i * 16), BYTE(255 - i * 16), BYTE(i * 7), 0};
    img.SetPalette(pal, 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            img.SetPixelIndex(x, y, BYTE((x + y) % 16));
    img.SetTransIndex(transIndex);
    return img;
}

} // namespace

TEST(ImageFormats, EveryRowIsFoundByItsTypeAndItsExtensions)
{
    std::vector<std::string> names;
    std::set<std::uint32_t> types;
    for (const ImageFormat &f : ImageFormats()) {
        names.push_back(f.name);
        EXPECT_NE(f.type, CXIMAGE_FORMAT_UNKNOWN) << f.name;
        EXPECT_TRUE(types.insert(f.type).second) << f.name;
        EXPECT_EQ(FormatByType(f.type), &f) << f.name;
        ASSERT_FALSE(f.Extensions().empty()) << f.name;
        // Outputs are named after the format: that name must read back.
        EXPECT_EQ(Lower(f.name), f.Extensions()[0]);
        for (std::string_view ext : f.Extensions()) {
            EXPECT_EQ(Lower(std::string(ext)), ext);
            EXPECT_EQ(FormatByExtension(ext), &f) << ext;
            EXPECT_EQ(TypeFromExtension(ext), f.type) << ext;
        }
    }
    // The window's format list after its first entry, in order, then the
    // formats only read.
    EXPECT_EQ(names, (std::vector<std::string>{"JPG", "BMP", "PCX", "GIF", "PNG", "TIF", "WEBP", "AVIF",
                                               "JXL", "PDF", "PNM", "HEIC", "ICO", "RAW", "SVG", "TGA"}));
    std::vector<std::string> written;
    for (const ImageFormat &f : OutputFormats())
        written.push_back(f.name);
    EXPECT_EQ(written, std::vector<std::string>(names.begin(), names.begin() + std::ptrdiff_t(written.size())));
    // A format only read, a document (its pages are pictures) and PNM
    // (written only when asked for) name the one their files are written as.
    for (const ImageFormat &f : ImageFormats()) {
        EXPECT_EQ(f.Writable(), &f < OutputFormats().data() + OutputFormats().size()) << f.name;
        const ImageFormat *target = FormatByType(f.writtenAs);
        EXPECT_EQ(f.Writable() && !f.facts.pages && f.type != CXIMAGE_FORMAT_PNM, target == nullptr)
            << f.name;
        EXPECT_TRUE(!target || target->Writable()) << f.name;
    }
    for (std::uint32_t type : {CXIMAGE_FORMAT_HEIF, CXIMAGE_FORMAT_RAW})
        EXPECT_EQ(FormatByType(type)->writtenAs, CXIMAGE_FORMAT_JPG) << type;
    for (std::uint32_t type :
         {CXIMAGE_FORMAT_PNM, CXIMAGE_FORMAT_ICO, CXIMAGE_FORMAT_TGA, CXIMAGE_FORMAT_SVG, CXIMAGE_FORMAT_PDF})
        EXPECT_EQ(FormatByType(type)->writtenAs, CXIMAGE_FORMAT_PNG) << type;
    EXPECT_EQ(TypeFromExtension("jpeg"), CXIMAGE_FORMAT_JPG);
    EXPECT_EQ(TypeFromExtension("tiff"), CXIMAGE_FORMAT_TIF);
    // Only the exact lower-case extension counts.
    for (const char *other : {"JPEG", "", "jpe", "jpgx", ".jpg"})
        EXPECT_EQ(TypeFromExtension(other), CXIMAGE_FORMAT_UNKNOWN) << other;
    EXPECT_EQ(FormatByType(CXIMAGE_FORMAT_UNKNOWN), nullptr);
    EXPECT_EQ(FormatByType(99), nullptr);
}

// The flags say what an output keeps: each is checked against what the
// format's writer and reader really do.
TEST(ImageFormats, WritersKeepWhatTheFlagsSay)
{
    for (const ImageFormat &f : OutputFormats()) {
        if (!f.Readable() || f.facts.pages)
            continue; // read back as rendered pages (PDF: tests/cli/test_combine.cpp)
        SCOPED_TRACE(f.name);
        bool ok = false;

        CxImage withAlpha = MakeTestImage(16, 16);
        ASSERT_TRUE(withAlpha.AlphaCreate());
        withAlpha.AlphaGetPointer(3)[5] = 0;
        CxImage back = RoundTrip(withAlpha, f, ok);
        ASSERT_TRUE(ok);
        EXPECT_EQ(back.GetWidth(), 16);
        EXPECT_EQ(back.GetHeight(), 16);
        EXPECT_EQ(back.AlphaIsValid(), f.Has(FORMAT_ALPHA));

        back = RoundTrip(Paletted(-1), f, ok);
        ASSERT_TRUE(ok);
        EXPECT_EQ(back.GetBpp() != 24, f.Has(FORMAT_PALETTE));

        back = RoundTrip(Paletted(3), f, ok);
        ASSERT_TRUE(ok);
        EXPECT_EQ(back.GetTransIndex() >= 0, f.Has(FORMAT_TRANSPARENT_INDEX));
        EXPECT_EQ(back.IsTransparent(), f.Has(FORMAT_TRANSPARENT_INDEX) || f.Has(FORMAT_ALPHA));

        std::vector<std::uint8_t> low, high;
        CxImage photo = MakeTestImage(32, 32);
        photo.SetJpegQuality(10);
        RoundTrip(photo, f, ok, &low);
        ASSERT_TRUE(ok);
        photo.SetJpegQuality(95);
        RoundTrip(photo, f, ok, &high);
        ASSERT_TRUE(ok);
        EXPECT_EQ(low != high, f.Has(FORMAT_QUALITY));

        CxImage tagged = MakeTestImage(8, 8);
        CxMetadata meta;
        meta.xmp = R"(<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF )"
                   R"(xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#"><rdf:Description rdf:about="" )"
                   R"(xmlns:xmp="http://ns.adobe.com/xap/1.0/" xmp:Rating="3"/></rdf:RDF></x:xmpmeta>)";
        tagged.SetMetadata(meta);
        back = RoundTrip(tagged, f, ok);
        ASSERT_TRUE(ok);
        EXPECT_EQ(back.GetMetadata().xmp.find("Rating") != std::string::npos, f.Has(FORMAT_METADATA));
    }
}

// The menu entry and the software centre offer the program for exactly the
// rows' MIME types, and each extension's type is its row's.
TEST(ImageFormats, TheMenuEntryOffersExactlyTheRowsMimeTypes)
{
    QFile entry(QString::fromStdString(DataPath("../../data/org.velmora.Velmora.desktop")));
    QFile metainfo(QString::fromStdString(DataPath("../../data/org.velmora.Velmora.metainfo.xml")));
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    ASSERT_TRUE(metainfo.open(QIODevice::ReadOnly));
    std::set<QString> offered, provided, rows;
    for (const QString &line : QString::fromUtf8(entry.readAll()).split('\n'))
        if (line.startsWith("MimeType="))
            for (const QString &type : line.mid(9).split(';', Qt::SkipEmptyParts))
                offered.insert(type);
    const QString xml = QString::fromUtf8(metainfo.readAll());
    const QString open = "<mediatype>", close = "</mediatype>";
    for (qsizetype at = xml.indexOf(open); at >= 0; at = xml.indexOf(open, at + 1)) {
        const qsizetype from = at + open.size();
        provided.insert(xml.mid(from, xml.indexOf(close, from) - from));
    }
    const QMimeDatabase db;
    for (const ImageFormat &f : ImageFormats()) {
        if (!f.Readable())
            continue; // never offered to open
        std::set<QString> own;
        for (std::string_view type : f.MimeTypes())
            own.insert(QString::fromUtf8(type.data(), qsizetype(type.size())));
        rows.insert(own.begin(), own.end());
        for (std::string_view ext : f.Extensions()) {
            const QString name =
                db.mimeTypeForFile("x." + QString::fromUtf8(ext.data(), qsizetype(ext.size())),
                                   QMimeDatabase::MatchExtension)
                    .name();
            // Some raw extensions and PAM's are unknown to the desktop's database.
            EXPECT_TRUE(own.count(name) || ((f.type == CXIMAGE_FORMAT_RAW || ext == "pam") &&
                                            name == "application/octet-stream"))
                << ext << " " << name.toStdString();
        }
    }
    EXPECT_EQ(offered, rows);
    EXPECT_EQ(provided, rows);
}
