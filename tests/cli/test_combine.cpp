// --combine: the run's outputs as the pages of one PDF or TIFF, read back
// with pdfinfo, pdfimages, qpdf and ImageMagick; the policy, the dry run,
// failures and undo acting on the document as one output.
#include "convert/runjournal.h"
#include "tests/cli/batch_process.h"
#include "tests/test_support.h"

#include <QDir>
#include <QProcess>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

using namespace testsupport;

namespace {

Result Tool(const QString &program, const QStringList &args, const QString &in = {})
{
    QProcess p;
    if (!in.isEmpty())
        p.setWorkingDirectory(in);
    p.start(program, args);
    Result r;
    if (!p.waitForFinished(60000))
        return r;
    r.exitCode = p.exitCode();
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
}

bool Exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// A JPEG, a PNG and three more pictures in src/, in list order a..e; the
// state folder holds the journals.
struct Scene {
    ScratchDir dir;
    const QStringList env{QString::fromStdString("XDG_STATE_HOME=" + dir.Path("state")),
                          QString::fromStdString("XDG_DATA_HOME=" + dir.Path("data"))};
    Scene()
    {
        mkdir(dir.Path("src").c_str(), 0755);
        EXPECT_TRUE(MakeTexturedImage(64, 48).Save(Src("a.jpg").c_str(), CXIMAGE_FORMAT_JPG));
        EXPECT_TRUE(MakeTestImage(30, 20).Save(Src("b.png").c_str(), CXIMAGE_FORMAT_PNG));
        EXPECT_TRUE(MakeTestImage(20, 40).Save(Src("c.bmp").c_str(), CXIMAGE_FORMAT_BMP));
        EXPECT_TRUE(MakeTestImage(16, 16).Save(Src("d.tif").c_str(), CXIMAGE_FORMAT_TIF));
        EXPECT_TRUE(MakeTestImage(10, 12).Save(Src("e.png").c_str(), CXIMAGE_FORMAT_PNG));
    }
    std::string Src(const std::string &name) const { return dir.Path("src/" + name); }
    std::string Path(const std::string &name) const { return dir.Path(name); }
    QStringList Sources() const
    {
        QStringList list;
        for (const char *name : {"a.jpg", "b.png", "c.bmp", "d.tif", "e.png"})
            list << QString::fromStdString(Src(name));
        return list;
    }
    Result Batch(const QStringList &args) const { return RunBatch(args, dir.Root(), VELMORA_BATCH_EXE, env); }
    Result Combine(const char *file, const QStringList &more = {}, const QStringList &sources = {}) const
    {
        return Batch(QStringList{"--combine", file, "--overwrite", "overwrite"} + more +
                     (sources.isEmpty() ? Sources() : sources));
    }
};

int PdfPages(const std::string &pdf)
{
    const Result info = Tool("pdfinfo", {QString::fromStdString(pdf)});
    const std::size_t at = info.out.find("Pages:");
    return at == std::string::npos ? -1 : std::atoi(info.out.c_str() + at + 6);
}

// "W x H" of page n, in points, as pdfinfo prints it.
std::string PageSize(const std::string &pdf, int n)
{
    const QString page = QString::number(n);
    const Result info = Tool("pdfinfo", {"-f", page, "-l", page, QString::fromStdString(pdf)});
    const std::string key = "Page" + std::string(n < 10 ? "    " : "   ") + std::to_string(n) + " size: ";
    std::size_t at = info.out.find(key);
    if (at == std::string::npos)
        return info.out;
    at = info.out.find_first_not_of(' ', at + key.size());
    return info.out.substr(at, info.out.find(" pts", at) - at);
}

} // namespace

// Five sources into one PDF: a page each in order, the JPEG's page its very
// bytes, qpdf content; into a TIFF, five directories.
TEST(Combine, EveryOutputIsAPageInListOrder)
{
    Scene s;
    const Result pdf = s.Combine("all.pdf");
    ASSERT_EQ(pdf.exitCode, 0) << pdf.out << pdf.err;
    const std::string doc = s.Path("all.pdf");
    EXPECT_EQ(PdfPages(doc), 5);
    EXPECT_EQ(Tool("qpdf", {"--check", QString::fromStdString(doc)}).exitCode, 0);
    EXPECT_NE(pdf.out.find("all.pdf, 5"), std::string::npos) << pdf.out;
    // The first page's image comes out as a JPEG identical to the source.
    ASSERT_EQ(Tool("pdfimages", {"-all", "-f", "1", "-l", "1", QString::fromStdString(doc), "img"},
                   QString::fromStdString(s.dir.Root()))
                  .exitCode,
              0);
    EXPECT_EQ(ReadFileBytes(s.Path("img-000.jpg")), ReadFileBytes(s.Src("a.jpg")));
    // ...drawn over the whole page: at 72 dpi the page is the picture.
    ASSERT_EQ(Tool("pdftoppm", {"-r", "72", "-f", "1", "-l", "1", "-png", "-singlefile", QString::fromStdString(doc),
                                "page1"},
                   QString::fromStdString(s.dir.Root()))
                  .exitCode,
              0);
    CxImage drawn, source;
    ASSERT_TRUE(drawn.Load(s.Path("page1.png").c_str(), CXIMAGE_FORMAT_PNG));
    ASSERT_TRUE(source.Load(s.Src("a.jpg").c_str(), CXIMAGE_FORMAT_JPG));
    EXPECT_GT(Psnr(drawn, source), 20.0); // poppler smooths the textured picture
    // The PNG's page is drawn losslessly.
    const Result list = Tool("pdfimages", {"-list", QString::fromStdString(doc)});
    EXPECT_NE(list.out.find("jpeg"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("image"), std::string::npos) << list.out;

    const Result tif = s.Combine("all.tiff", {"--tif-compression", "lzw"});
    ASSERT_EQ(tif.exitCode, 0) << tif.out << tif.err;
    const Result pages = Tool("identify", {"-format", "%wx%h\n", QString::fromStdString(s.Path("all.tiff"))});
    EXPECT_EQ(pages.out, "64x48\n30x20\n20x40\n16x16\n10x12\n") << pages.err;
    EXPECT_EQ(Tool("identify", {"-format", "%C\n", QString::fromStdString(s.Path("all.tiff"))}).out,
              "LZW\nLZW\nLZW\nLZW\nLZW\n");
}

// Page sizes in points: the picture's at its DPI plus the margins, or the
// paper upright.
TEST(Combine, PageSizesAndMargins)
{
    Scene s;
    struct Row {
        QStringList args;
        const char *page1, *page3; // a.jpg 64x48, c.bmp 20x40
    } rows[] = {
        {{}, "64 x 48", "20 x 40"},
        {{"--dpi", "144"}, "32 x 24", "10 x 20"},
        {{"--page-margin", "10"}, "120.693 x 104.693", "76.6929 x 96.6929"},
        {{"--page-size", "a4"}, "595.276 x 841.89", "595.276 x 841.89"},
        {{"--page-size", "letter", "--page-margin", "25"}, "612 x 792", "612 x 792"},
    };
    for (const Row &row : rows) {
        const Result r = s.Combine("p.pdf", row.args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(PageSize(s.Path("p.pdf"), 1), row.page1) << row.args.join(' ').toStdString();
        EXPECT_EQ(PageSize(s.Path("p.pdf"), 3), row.page3) << row.args.join(' ').toStdString();
    }
}

// A source that fails is left out and named; with none left, or in a dry
// run, nothing is written; --update skips a document newer than its sources.
TEST(Combine, FailuresDryRunsAndTheUpdatePolicy)
{
    Scene s;
    ASSERT_TRUE(WriteFileBytes(s.Src("bad.png"), {'n', 'o', 't'}));
    const QString bad = QString::fromStdString(s.Src("bad.png"));
    const Result some = s.Combine("some.pdf", {}, {bad, QString::fromStdString(s.Src("b.png"))});
    EXPECT_EQ(some.exitCode, 1);
    EXPECT_EQ(PdfPages(s.Path("some.pdf")), 1);
    EXPECT_NE(some.err.find("bad.png"), std::string::npos) << some.err;

    const Result none = s.Combine("none.pdf", {}, {bad});
    EXPECT_EQ(none.exitCode, 1);
    const Result dry = s.Combine("dry.tif", {"--dry-run"});
    EXPECT_EQ(dry.exitCode, 0) << dry.err;
    EXPECT_NE(dry.out.find("dry.tif, 5"), std::string::npos) << dry.out;
    const QStringList left = Entries(s.dir.Root());
    EXPECT_FALSE(left.contains("none.pdf") || left.contains("dry.tif")) << left.join(' ').toStdString();
    EXPECT_TRUE(std::none_of(left.begin(), left.end(), [](const QString &n) { return n.contains(".part"); }));

    const Result first = s.Batch(QStringList{"--combine", "u.pdf", "--update"} + s.Sources());
    ASSERT_EQ(first.exitCode, 0) << first.err;
    const Result again = s.Batch(QStringList{"--combine", "u.pdf", "--update", "--log", "json"} + s.Sources());
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_NE(again.out.find("\"type\":\"document\""), std::string::npos) << again.out;
    EXPECT_NE(again.out.find("\"status\":\"skipped\""), std::string::npos) << again.out;
}

// Undo takes the document away as one output, and gives back the one it
// replaced.
TEST(Combine, UndoneAsOneOutput)
{
    Scene s;
    const std::string doc = s.Path("doc.pdf");
    ASSERT_TRUE(WriteFileBytes(doc, {'o', 'l', 'd'}));
    ASSERT_EQ(s.Combine("doc.pdf", {"--trash-replaced"}).exitCode, 0);
    EXPECT_EQ(PdfPages(doc), 5);
    const Result undo = s.Batch({"--undo"});
    EXPECT_EQ(undo.exitCode, 0) << undo.out << undo.err;
    EXPECT_EQ(ReadFileBytes(doc), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    ::unlink(doc.c_str());
    ASSERT_EQ(s.Combine("doc.pdf").exitCode, 0);
    EXPECT_EQ(s.Batch({"--undo"}).exitCode, 0);
    EXPECT_FALSE(Exists(doc));
}

TEST(Combine, BadValuesAreUsageErrors)
{
    Scene s;
    const QString src = QString::fromStdString(s.Src("b.png"));
    const struct {
        QStringList args;
        const char *named;
    } rows[] = {
        {{"--combine", "x.png", src}, "--combine"},
        {{"--combine", "x.pdf", "--out", "o", src}, "--out"},
        {{"--combine", "x.pdf", "--sizes", "10w,20w", "--name", "{name}-{size}", src}, "--sizes"},
        {{"--combine", "x.pdf", "--shard", "1/2", "--overwrite", "skip", src}, "--shard"},
        {{"--combine", "x.pdf", "--page-size", "a5", src}, "--page-size"},
        {{"--combine", "x.pdf", "--page-margin", "101", src}, "--page-margin"},
        {{"--combine", "x.pdf", "--page-margin", "-1", src}, "--page-margin"},
    };
    for (const auto &row : rows) {
        const Result r = s.Batch(row.args);
        EXPECT_EQ(r.exitCode, 2) << row.args.join(' ').toStdString() << r.out;
        EXPECT_NE(r.err.find(row.named), std::string::npos) << r.err;
        EXPECT_FALSE(Exists(s.Path("x.pdf")));
    }
}

// --format pdf: each source its own one-page PDF beside it (NAME.PDF, as any
// changed format's extension), the JPEG's page its very bytes, the others
// lossless; undone like any output.
TEST(PdfFormat, EachSourceBecomesAOnePagePdf)
{
    Scene s;
    CxImage alpha = MakeTestImage(30, 20);
    ASSERT_TRUE(alpha.AlphaCreate());
    alpha.AlphaGetPointer(3)[5] = 0;
    ASSERT_TRUE(alpha.Save(s.Src("f.png").c_str(), CXIMAGE_FORMAT_PNG));
    const struct {
        const char *source, *pdf;
        const char *page;    // at --dpi 144
        const char *encoded; // pdfimages -list's "enc" of its picture
    } rows[] = {
        {"a.jpg", "a.PDF", "32 x 24", "jpeg"},
        {"f.png", "f.PDF", "15 x 10", "image"},
        {"d.tif", "d.PDF", "8 x 8", "image"},
    };
    QStringList sources;
    for (const auto &row : rows)
        sources << QString::fromStdString(s.Src(row.source));
    const Result r = s.Batch(QStringList{"--format", "pdf", "--dpi", "144"} + sources);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    for (const auto &row : rows) {
        const std::string pdf = s.Src(row.pdf);
        EXPECT_EQ(PdfPages(pdf), 1) << row.pdf;
        EXPECT_EQ(PageSize(pdf, 1), row.page) << row.pdf;
        EXPECT_EQ(Tool("qpdf", {"--check", QString::fromStdString(pdf)}).exitCode, 0) << row.pdf;
        const Result list = Tool("pdfimages", {"-list", QString::fromStdString(pdf)});
        EXPECT_NE(list.out.find(row.encoded), std::string::npos) << row.pdf << list.out;
    }
    // The PNG's transparency goes with it as a soft mask.
    EXPECT_NE(Tool("pdfimages", {"-list", QString::fromStdString(s.Src("f.PDF"))}).out.find("smask"),
              std::string::npos);
    ASSERT_EQ(Tool("pdfimages", {"-all", QString::fromStdString(s.Src("a.PDF")), "img"},
                   QString::fromStdString(s.dir.Root()))
                  .exitCode,
              0);
    EXPECT_EQ(ReadFileBytes(s.Path("img-000.jpg")), ReadFileBytes(s.Src("a.jpg")));
    // A step on the JPEG's pixels draws them instead; the page takes the layout.
    const QString jpeg = QString::fromStdString(s.Src("a.jpg"));
    ASSERT_EQ(
        s.Batch({"--format", "pdf", "--grayscale", "--page-size", "a4", "--overwrite", "overwrite", jpeg})
            .exitCode,
        0);
    EXPECT_EQ(PageSize(s.Src("a.PDF"), 1), "595.276 x 841.89");
    EXPECT_EQ(Tool("pdfimages", {"-list", QString::fromStdString(s.Src("a.PDF"))}).out.find("jpeg"),
              std::string::npos);
    // A dry run writes nothing; undo takes the PDFs away.
    ::unlink(s.Src("d.PDF").c_str());
    const Result dry = s.Batch({"--format", "pdf", "--dry-run", QString::fromStdString(s.Src("d.tif"))});
    EXPECT_EQ(dry.exitCode, 0) << dry.err;
    EXPECT_FALSE(Exists(s.Src("d.PDF")));
    ASSERT_EQ(s.Batch({"--format", "pdf", QString::fromStdString(s.Src("d.tif"))}).exitCode, 0);
    EXPECT_EQ(s.Batch({"--undo"}).exitCode, 0);
    EXPECT_FALSE(Exists(s.Src("d.PDF")));
}
