// Documents as sources of pages through velmora-batch: a PDF's pages
// rendered at the DPI asked or at the resize's size, --pages, the page
// names, the documents refused, and the pages of a TIFF.
#include "tests/cli/batch_process.h"
#include "tests/pdf_maker.h"
#include "tests/test_support.h"

#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

using Page = PdfPage;

// Page 1: 72 x 36 points red, 2: 144 x 72 green, 3: 36 x 72 blue.
const std::vector<Page> kThreePages = {{72, 36, 1, 0, 0}, {144, 72, 0, 1, 0}, {36, 72, 0, 0, 1}};

QString Q(const std::string &s)
{
    return QString::fromStdString(s);
}

bool Near(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) < 8 && std::abs(qGreen(a) - qGreen(b)) < 8 &&
           std::abs(qBlue(a) - qBlue(b)) < 8;
}

} // namespace

TEST(PdfSources, EachPageRenderedAtTheDpiOrTheResizesSize)
{
    ScratchDir src;
    MakePdf(src.Path("d.pdf"), kThreePages);
    const QRgb colours[] = {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)};
    struct Row {
        QStringList args;
        double scale; // pixels per point, or 0 for the resize's size below
    };
    const Row rows[] = {
        {{"--render-dpi", "72"}, 1},
        {{}, 150.0 / 72},
        {{"--render-dpi", "300", "--format", "png"}, 300.0 / 72},
        {{"--resize", "width", "--width", "1000"}, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        ScratchDir out;
        const Result r = RunBatch(row.args + QStringList{"--out", Q(out.Root()), Q(src.Path("d.pdf"))});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(Entries(out.Root()), QStringList({"d_p001.PNG", "d_p002.PNG", "d_p003.PNG"}));
        for (int k = 0; k < 3; ++k) {
            const Page &p = kThreePages[std::size_t(k)];
            const QImage img(Q(out.Path("d_p00" + std::to_string(k + 1) + ".PNG")));
            const QSize want = row.scale > 0 ? QSize(int(std::lround(p.width * row.scale)),
                                                     int(std::lround(p.height * row.scale)))
                                             : QSize(1000, int(std::lround(1000 * p.height / p.width)));
            EXPECT_EQ(img.size(), want) << k;
            EXPECT_TRUE(Near(img.pixel(img.width() / 2, img.height() / 2), colours[k])) << k;
            EXPECT_TRUE(Near(img.pixel(img.width() - 1, img.height() - 1), colours[k])) << k;
        }
    }
}

TEST(PdfSources, PagesChosenAndNamed)
{
    ScratchDir src;
    MakePdf(src.Path("d.pdf"), kThreePages);
    MakePdf(src.Path("one.pdf"), {kThreePages[0]});
    struct Row {
        QStringList args;
        const char *source;
        QStringList names;
    };
    const Row rows[] = {
        {{"--pages", "2"}, "d.pdf", {"d_p002.PNG"}},
        {{"--pages", "2-"}, "d.pdf", {"d_p002.PNG", "d_p003.PNG"}},
        {{"--pages", "3,1-1"}, "d.pdf", {"d_p001.PNG", "d_p003.PNG"}},
        {{}, "one.pdf", {"one.PNG"}},
        {{"--sizes", "20w,30w", "--name", "{name}_{size}"}, "one.pdf", {"one_20w.PNG", "one_30w.PNG"}},
        {{"--sizes", "20w"}, "d.pdf", {"d_p001_20w.PNG", "d_p002_20w.PNG", "d_p003_20w.PNG"}},
        {{"--name", "{name}-{page}"}, "d.pdf", {"d-1.PNG", "d-2.PNG", "d-3.PNG"}},
        // A template naming neither page nor number still gives each page its name.
        {{"--name", "x"}, "d.pdf", {"x_p001.PNG", "x_p002.PNG", "x_p003.PNG"}},
        {{"--name", "{n:2}", "--pages", "2-3"}, "d.pdf", {"01.PNG", "02.PNG"}},
        {{"--prefix", "a_", "--format", "jpg"}, "one.pdf", {"a_one.JPG"}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        ScratchDir out;
        const Result r = RunBatch(row.args + QStringList{"--out", Q(out.Root()), Q(src.Path(row.source))});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(Entries(out.Root()), row.names);
    }
}

TEST(PdfSources, BadPageListsAreUsageErrorsBeforeAnythingIsWritten)
{
    ScratchDir src;
    MakePdf(src.Path("d.pdf"), kThreePages);
    ASSERT_TRUE(RunConvert({"-size", "4x4", "xc:red", Q(src.Path("a.png"))}));
    struct Row {
        const char *pages;
        const char *says;
    };
    const Row rows[] = {
        {"0", "--pages takes page numbers"},
        {"3-1", "--pages takes page numbers"},
        {"a", "--pages takes page numbers"},
        {"1,,2", "--pages takes page numbers"},
        {"-2", "--pages takes page numbers"},
        {"", "--pages takes page numbers"},
        {"9", "d.pdf: page 9 is past the end: it has 3 pages"},
        {"2-4", "d.pdf: page 4 is past the end: it has 3 pages"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.pages);
        ScratchDir out;
        const Result r = RunBatch({"--pages", row.pages, "--format", "png", "--out", Q(out.Root()),
                                   Q(src.Path("a.png")), Q(src.Path("d.pdf"))});
        EXPECT_EQ(r.exitCode, 2) << r.err;
        EXPECT_NE(r.err.find(row.says), std::string::npos) << r.err;
        EXPECT_EQ(Entries(out.Root()), QStringList());
    }
}

TEST(PdfSources, LockedAndDamagedDocumentsFailAloneWithTheirReason)
{
    ScratchDir src;
    MakePdf(src.Path("d.pdf"), kThreePages);
    const std::vector<std::uint8_t> bytes = ReadFileBytes(src.Path("d.pdf"));
    ASSERT_TRUE(WriteFileBytes(src.Path("cut.pdf"), {bytes.begin(), bytes.begin() + long(bytes.size() / 3)}));
    const std::string junk = "%PDF-1.7\n" + std::string(5000, 'x');
    ASSERT_TRUE(WriteFileBytes(src.Path("junk.pdf"), {junk.begin(), junk.end()}));
    ASSERT_EQ(QProcess::execute("qpdf", {"--encrypt", "user", "owner", "256", "--", Q(src.Path("d.pdf")),
                                         Q(src.Path("locked.pdf"))}),
              0);
    struct Row {
        const char *name, *reason;
    };
    const Row rows[] = {
        {"locked.pdf", "the document needs a password"},
        {"cut.pdf", "damaged PDF"},
        {"junk.pdf", "damaged PDF"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ScratchDir out;
        const Result r = RunBatch(
            {"--format", "png", "--out", Q(out.Root()), Q(src.Path(row.name)), Q(src.Path("d.pdf"))});
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_NE(r.err.find(row.reason), std::string::npos) << r.err;
        EXPECT_EQ(Entries(out.Root()), QStringList({"d_p001.PNG", "d_p002.PNG", "d_p003.PNG"}));
    }
}

TEST(TiffPages, EachPageOnlyWithPagesChosen)
{
    ScratchDir src;
    ASSERT_TRUE(RunConvert({"-size", "10x10", "xc:red", "-size", "20x10", "xc:lime", "-size", "10x30",
                            "xc:blue", Q(src.Path("t.tif"))}));
    struct Row {
        QStringList args;
        QStringList names;
        std::vector<QSize> sizes;
    };
    const Row rows[] = {
        {{}, {"t.PNG"}, {{10, 10}}},
        {{"--pages", "2-"}, {"t_p002.PNG", "t_p003.PNG"}, {{20, 10}, {10, 30}}},
        {{"--pages", "1"}, {"t_p001.PNG"}, {{10, 10}}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        ScratchDir out;
        const Result r =
            RunBatch(row.args + QStringList{"--format", "png", "--out", Q(out.Root()), Q(src.Path("t.tif"))});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        ASSERT_EQ(Entries(out.Root()), row.names);
        for (std::size_t k = 0; k < row.sizes.size(); ++k)
            EXPECT_EQ(QImage(Q(out.Path(row.names[qsizetype(k)].toStdString()))).size(), row.sizes[k]);
    }
    // A copy of the whole file without --pages, as before, and of a TIFF of
    // one page with them.
    ASSERT_TRUE(RunConvert({"-size", "10x10", "xc:red", Q(src.Path("one.tif"))}));
    for (const QStringList &args :
         {QStringList{Q(src.Path("t.tif"))}, QStringList{"--pages", "1", Q(src.Path("one.tif"))}}) {
        ScratchDir out;
        ASSERT_EQ(RunBatch(QStringList{"--out", Q(out.Root())} + args).exitCode, 0);
        const std::string name = QFileInfo(args.last()).fileName().toStdString();
        EXPECT_EQ(ReadFileBytes(out.Path(name)), ReadFileBytes(src.Path(name))) << name;
    }
}
