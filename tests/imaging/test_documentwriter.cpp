// The document writer: where a picture goes on its page, and PDFs and
// multi-page TIFFs written page by page into an open file.
#include "imaging/documentwriter.h"
#include "imaging/cxfile.h"
#include "imaging/cximage.h"
#include "tests/test_support.h"

#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

std::vector<std::uint8_t> JpegBytes(const CxImage &img)
{
    CxMemFile mem;
    CxImage copy = img;
    EXPECT_TRUE(mem.Open() && copy.Encode(&mem, CXIMAGE_FORMAT_JPG));
    const auto *p = mem.GetBuffer(false);
    return {p, p + mem.Size()};
}

} // namespace

TEST(DocumentWriter, PlacesThePictureFittedAndCentred)
{
    const double a4w = 595.2756, a4h = 841.8898, mm10 = 28.3465;
    struct Row {
        int w, h, dpi, size, margin;
        PagePlace want;
    } rows[] = {
        {200, 100, 0, PAGESIZE_IMAGE, 0, {200, 100, 0, 0, 200, 100}},
        {200, 100, 144, PAGESIZE_IMAGE, 10, {100 + 2 * mm10, 50 + 2 * mm10, mm10, mm10, 100, 50}},
        // Landscape on a portrait page: scaled to the width, not turned.
        {2000, 1000, 0, PAGESIZE_A4, 0, {a4w, a4h, 0, (a4h - a4w / 2) / 2, a4w, a4w / 2}},
        // Small pictures grow to the paper's room inside the margins.
        {10, 20, 0, PAGESIZE_LETTER, 10, {612, 792, (612 - (792 - 2 * mm10) / 2) / 2, mm10, (792 - 2 * mm10) / 2,
                                          792 - 2 * mm10}},
        // The margin is held to its bound.
        {10, 10, 0, PAGESIZE_IMAGE, 500, {10 + 20 * mm10, 10 + 20 * mm10, 10 * mm10, 10 * mm10, 10, 10}},
    };
    for (const Row &r : rows) {
        const PagePlace p = PlacePicture(r.w, r.h, PageLayout{r.size, r.margin, r.dpi});
        const double got[] = {p.pageWidth, p.pageHeight, p.x, p.y, p.width, p.height};
        const double want[] = {r.want.pageWidth, r.want.pageHeight, r.want.x, r.want.y, r.want.width, r.want.height};
        for (int k = 0; k < 6; ++k)
            EXPECT_NEAR(got[k], want[k], 0.01) << r.w << "x" << r.h << " field " << k;
    }
}

TEST(DocumentWriter, KindsFromTheName)
{
    DocumentKind kind;
    EXPECT_TRUE(DocumentKindOf("a/B.PDF", kind) && kind == DocumentKind::Pdf);
    EXPECT_TRUE(DocumentKindOf("x.Tiff", kind) && kind == DocumentKind::Tiff);
    EXPECT_TRUE(DocumentKindOf("x.tif", kind) && kind == DocumentKind::Tiff);
    EXPECT_FALSE(DocumentKindOf("x.png", kind));
    EXPECT_FALSE(DocumentKindOf("pdf", kind));
}

// A PDF holds the JPEG's bytes as they are and a page per picture; a TIFF
// a directory each; with no page the writer refuses to finish.
TEST(DocumentWriter, WritesEveryPageIntoTheFile)
{
    ScratchDir dir;
    const std::vector<std::uint8_t> jpeg = JpegBytes(MakeTexturedImage(40, 30));
    CxImage alpha = MakeTestImage(8, 8);
    ASSERT_TRUE(alpha.AlphaCreate());
    alpha.AlphaGetPointer(0)[0] = 0;
    for (const DocumentKind kind : {DocumentKind::Pdf, DocumentKind::Tiff}) {
        const std::string path = dir.Path(kind == DocumentKind::Pdf ? "d.pdf" : "d.tif");
        std::FILE *f = std::fopen(path.c_str(), "w+b");
        ASSERT_TRUE(f);
        {
            DocumentWriter w(kind, f, {}, "d", 0);
            EXPECT_TRUE(w.AddPicture(MakeTestImage(30, 20)));
            EXPECT_FALSE(w.AddEncoded(jpeg.data(), 20, CxImage())); // cut short: left out
            EXPECT_TRUE(w.Error().empty());
            EXPECT_FALSE(w.PageError().empty());
            EXPECT_TRUE(w.AddEncoded(jpeg.data(), jpeg.size(), CxImage()));
            EXPECT_TRUE(w.AddPicture(alpha));
            EXPECT_EQ(w.Pages(), 3);
            EXPECT_TRUE(w.Finish()) << w.Error();
        }
        std::fclose(f);
        const std::vector<std::uint8_t> bytes = ReadFileBytes(path);
        if (kind == DocumentKind::Pdf) {
            EXPECT_NE(std::search(bytes.begin(), bytes.end(), jpeg.begin(), jpeg.end()), bytes.end());
            QProcess info;
            info.start("pdfinfo", {QString::fromStdString(path)});
            ASSERT_TRUE(info.waitForFinished());
            const QString out = info.readAllStandardOutput();
            EXPECT_TRUE(out.contains(QRegularExpression("Pages:\\s+3"))) << out.toStdString();
            EXPECT_TRUE(out.contains(QRegularExpression("Title:\\s+d\n"))) << out.toStdString();
        } else {
            QProcess identify;
            identify.start("identify", {"-format", "%wx%h,%A\n", QString::fromStdString(path)});
            ASSERT_TRUE(identify.waitForFinished());
            EXPECT_EQ(identify.readAllStandardOutput().toStdString(), "30x20,False\n40x30,False\n8x8,True\n");
        }
    }
    std::FILE *f = std::fopen(dir.Path("empty.pdf").c_str(), "w+b");
    DocumentWriter none(DocumentKind::Pdf, f, {}, "e", 0);
    EXPECT_FALSE(none.Finish());
    std::fclose(f);
}
