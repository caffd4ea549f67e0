#include "imaging/atomicfile.h"
#include "imaging/codecs/codecs.h"
#include "imaging/cximage.h"
#include "tests/test_support.h"

#include <QDir>
#include <QImage>
#include <ctime>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testsupport;

namespace {

QStringList Entries(const ScratchDir &dir)
{
    return QDir(QString::fromStdString(dir.Root()))
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

bool Exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

}  // namespace

TEST(CxImage, CreateChecksLimitsBeforeAllocating)
{
    CxImage img;
    EXPECT_FALSE(img.Create(0, 10, 24));
    EXPECT_FALSE(img.Create(10, -1, 24));
    EXPECT_FALSE(img.Create(CxImage::kMaxDimension + 1, 1, 24));
    EXPECT_FALSE(img.Create(65536, 65536, 24));  // beyond the pixel budget
    EXPECT_FALSE(img.Create(10, 10, 16));
    EXPECT_FALSE(img.IsValid());

    ASSERT_TRUE(img.Create(5, 3, 24));
    EXPECT_EQ(img.GetEffWidth(), 16);  // 15 bytes padded to 4
    EXPECT_EQ(img.GetNumColors(), 0);
    ASSERT_TRUE(img.Create(5, 3, 4));
    EXPECT_EQ(img.GetEffWidth(), 8);
    EXPECT_EQ(img.GetNumColors(), 16);
    EXPECT_TRUE(img.Create(1, 1, 1));
    EXPECT_EQ(img.GetPaletteColor(1).rgbRed, 255);
}

TEST(CxImage, PaletteAndTransparencyModel)
{
    CxImage img;
    ASSERT_TRUE(img.Create(4, 1, 8));
    const RGBQUAD pal[3] = {{0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}};
    for (int x = 0; x < 4; ++x)
        img.SetPixelIndex(x, 0, BYTE(x));  // index 3 is beyond the new palette
    ASSERT_TRUE(img.SetPalette(pal, 3));
    EXPECT_EQ(img.GetNumColors(), 3);
    EXPECT_EQ(img.GetPixelIndex(3, 0), 0);  // remapped into range
    EXPECT_FALSE(img.IsTransparent());

    // The transparent colour setter records a colour and never makes pixels
    // transparent on its own.
    img.SetTransColor(RGBQUAD{0, 0, 255, 0});
    EXPECT_FALSE(img.IsTransparent());
    EXPECT_EQ(img.GetTransIndex(), -1);

    img.SetTransIndex(1);
    EXPECT_TRUE(img.IsTransparent());
    EXPECT_EQ(img.GetPixelColor(1, 0).rgbReserved, 0);
    EXPECT_EQ(img.GetPixelColor(0, 0).rgbReserved, 255);
    img.SetTransIndex(7);  // not a palette entry
    EXPECT_EQ(img.GetTransIndex(), -1);

    CxImage colour;
    ASSERT_TRUE(colour.Create(2, 2, 24));
    EXPECT_FALSE(colour.AlphaIsValid());
    colour.SetPixelColor(1, 1, RGBQUAD{1, 2, 3, 40}, true);
    EXPECT_TRUE(colour.AlphaIsValid());
    EXPECT_EQ(colour.GetPixelColor(1, 1).rgbReserved, 40);
    EXPECT_EQ(colour.GetPixelColor(0, 0).rgbReserved, 255);
    EXPECT_TRUE(colour.IsTransparent());
    EXPECT_FALSE(img.AlphaCreate());  // paletted images keep their index instead
}

TEST(CxImage, QImageBridgeKeepsColourAndAlpha)
{
    QImage q(3, 2, QImage::Format_ARGB32);
    q.fill(qRgba(10, 20, 30, 255));
    q.setPixel(2, 1, qRgba(200, 100, 50, 128));
    CxImage img;
    ASSERT_TRUE(img.FromQImage(q));
    EXPECT_EQ(img.GetBpp(), 24);
    ASSERT_TRUE(img.AlphaIsValid());
    const RGBQUAD c = img.GetPixelColor(2, 1);
    EXPECT_EQ(c.rgbRed, 200);
    EXPECT_EQ(c.rgbBlue, 50);
    EXPECT_EQ(c.rgbReserved, 128);
    EXPECT_EQ(img.ToQImage().pixel(2, 1), q.pixel(2, 1));

    q.fill(qRgba(1, 2, 3, 255));
    ASSERT_TRUE(img.FromQImage(q));
    EXPECT_FALSE(img.AlphaIsValid());  // fully opaque: no plane kept
}

TEST(CxImage, DetectsFormatsFromTheirBytes)
{
    auto detect = [](const std::string &bytes) {
        return CxImage::DetectFormat(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size());
    };
    EXPECT_EQ(detect("\xFF\xD8\xFF\xE0"), CXIMAGE_FORMAT_JPG);
    EXPECT_EQ(detect(std::string("\x89PNG\r\n\x1a\n", 8)), CXIMAGE_FORMAT_PNG);
    EXPECT_EQ(detect("GIF89a"), CXIMAGE_FORMAT_GIF);
    EXPECT_EQ(detect(std::string("II*\0", 4)), CXIMAGE_FORMAT_TIF);
    EXPECT_EQ(detect(std::string("MM\0*", 4)), CXIMAGE_FORMAT_TIF);
    EXPECT_EQ(detect("BM" + std::string(12, '\0')), CXIMAGE_FORMAT_BMP);
    std::string pcx(128, '\0');
    pcx[0] = 0x0A, pcx[1] = 5, pcx[2] = 1, pcx[3] = 8;
    EXPECT_EQ(detect(pcx), CXIMAGE_FORMAT_PCX);
    EXPECT_EQ(detect("hello world"), CXIMAGE_FORMAT_UNKNOWN);
    EXPECT_EQ(detect(""), CXIMAGE_FORMAT_UNKNOWN);

    CxImage img;
    const std::string junk = "not a picture at all";
    EXPECT_FALSE(img.Decode(reinterpret_cast<const std::uint8_t *>(junk.data()), junk.size(), CXIMAGE_FORMAT_JPG));
    EXPECT_FALSE(img.IsValid());
}

TEST(CxImage, SizeHintSpeaksOfThePictureAsCallersGetIt)
{
    // A file stored 400 x 300; the rule asks for half the width and a
    // quarter of the height it is given.
    const CxDecodeRequest::LoadSizeRule rule = [](int w, int h, int &hw, int &hh) {
        hw = w / 2;
        hh = h / 4;
    };
    struct Case {
        int orientation;
        bool autoOrient, useRule;
        int hintW, hintH; // what the decoder is given, in stored terms
    };
    const Case cases[] = {
        {1, true, true, 200, 75},  {6, true, true, 100, 150}, {8, true, true, 100, 150},
        {3, true, true, 200, 75},  {6, false, true, 200, 75}, {6, true, false, 72, 96},
        {5, false, false, 96, 72}, {2, true, false, 96, 72},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "orientation " << c.orientation << (c.autoOrient ? " upright" : " as stored")
                     << (c.useRule ? ", rule" : ", fixed hint"));
        cxcodec::DecodeRequest req;
        req.hintWidth = 96;
        req.hintHeight = 72;
        req.hintRule = c.useRule ? rule : nullptr;
        req.autoOrient = c.autoOrient;
        int w = -1, h = -1;
        req.Hint(400, 300, c.orientation, w, h);
        EXPECT_EQ(w, c.hintW);
        EXPECT_EQ(h, c.hintH);
    }
}

TEST(CxImageSave, ReplacesThroughATemporaryFileAndKeepsOldFilesOnFailure)
{
    ScratchDir dir;
    const std::string target = dir.Path("picture.png");
    ASSERT_TRUE(WriteFileBytes(target, {1, 2, 3}));

    CxImage img = MakeTestImage(8, 8);
    // Nothing to write with, or nowhere to write: the old file stays.
    EXPECT_FALSE(img.Save(target.c_str(), 99));
    EXPECT_FALSE(img.Save(target.c_str(), CXIMAGE_FORMAT_UNKNOWN));  // made in memory: no own format
    CxImage empty;
    EXPECT_FALSE(empty.Save(target.c_str(), CXIMAGE_FORMAT_PNG));
    EXPECT_EQ(ReadFileBytes(target), (std::vector<std::uint8_t>{1, 2, 3}));

    // A target that is a folder is refused and nothing is left behind.
    ASSERT_EQ(mkdir(dir.Path("folder.png").c_str(), 0755), 0);
    EXPECT_FALSE(img.Save(dir.Path("folder.png").c_str(), CXIMAGE_FORMAT_PNG));
    EXPECT_EQ(Entries(dir), (QStringList{"folder.png", "picture.png"}));

    ASSERT_TRUE(img.Save(target.c_str(), CXIMAGE_FORMAT_PNG)) << img.GetLastError();
    EXPECT_EQ(Entries(dir), (QStringList{"folder.png", "picture.png"}));
    CxImage back;
    ASSERT_TRUE(back.Load(target.c_str(), CXIMAGE_FORMAT_UNKNOWN));
    EXPECT_EQ(MaxChannelDiff(back, img), 0);

    // Type 0 writes the format the picture came from.
    const std::string copy = dir.Path("copy.bin");
    ASSERT_TRUE(back.Save(copy.c_str(), CXIMAGE_FORMAT_UNKNOWN));
    CxImage again(copy.c_str(), CXIMAGE_FORMAT_UNKNOWN);
    EXPECT_EQ(again.GetType(), CXIMAGE_FORMAT_PNG);
}

namespace {

// What the flushes of a commit reached, in order: 'f' a file, 'd' a folder.
std::string g_synced;
bool g_syncFails = false;

int RecordSync(int fd)
{
    struct stat st;
    g_synced += fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) ? 'd' : 'f';
    return g_syncFails ? -1 : 0;
}

} // namespace

TEST(AtomicFileWriter, FlushesTheDataBeforeTheRenameAndTheFolderAfter)
{
    const struct {
        bool fails;
        bool committed;
        const char *synced;
    } rows[] = {
        {false, true, "fd"}, {true, false, "f"}, // the old file stays, the temporary one goes
    };
    SetFileSync(RecordSync);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.fails);
        ScratchDir dir;
        const std::string target = dir.Path("t.bin");
        ASSERT_TRUE(WriteFileBytes(target, {1}));
        g_synced.clear();
        g_syncFails = row.fails;
        AtomicFileWriter writer;
        ASSERT_TRUE(writer.Begin(target));
        ASSERT_EQ(std::fputs("new", writer.Stream()), 1);
        EXPECT_EQ(writer.Commit(), row.committed);
        EXPECT_EQ(g_synced, row.synced);
        const std::vector<std::uint8_t> expected =
            row.committed ? std::vector<std::uint8_t>{'n', 'e', 'w'} : std::vector<std::uint8_t>{1};
        EXPECT_EQ(ReadFileBytes(target), expected);
        EXPECT_EQ(Entries(dir), QStringList{"t.bin"});
    }
    SetFileSync(nullptr);
}

TEST(CxImageLoad, FailsCleanlyOnWhatIsNotAPictureFile)
{
    ScratchDir dir;
    CxImage img = MakeTestImage(4, 4);
    EXPECT_FALSE(img.Load(dir.Root().c_str(), 0));
    EXPECT_FALSE(img.IsValid());
    ASSERT_EQ(mkfifo(dir.Path("fifo.png").c_str(), 0600), 0);
    EXPECT_FALSE(img.Load(dir.Path("fifo.png").c_str(), CXIMAGE_FORMAT_PNG));
    EXPECT_FALSE(img.Load(dir.Path("none.png").c_str(), CXIMAGE_FORMAT_PNG));
    ASSERT_TRUE(WriteFileBytes(dir.Path("empty.png"), {}));
    EXPECT_FALSE(img.Load(dir.Path("empty.png").c_str(), CXIMAGE_FORMAT_PNG));
    EXPECT_STRNE(img.GetLastError(), "");
}

TEST(LOGFONT, FaceNameIsCutBetweenCharacters)
{
    LOGFONT lf;
    std::string face;
    for (int i = 0; i < 20; ++i)
        face += "宋";  // 3 bytes each: 10 fit in 31 bytes
    lf.SetFaceName(face.c_str());
    EXPECT_EQ(std::string(lf.lfFaceName), face.substr(0, 30));
    lf.SetFaceName("Noto Sans");
    EXPECT_STREQ(lf.lfFaceName, "Noto Sans");
}

TEST(AtomicFileWriter, ReplacesALinkItselfNeverWhatItPointsTo)
{
    const struct {
        const char *name;
        bool dangling;
    } rows[] = {{"link to a file", false}, {"dangling link", true}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        ScratchDir dir;
        ASSERT_EQ(mkdir(dir.Path("elsewhere").c_str(), 0755), 0);
        const std::string pointed = dir.Path("elsewhere/source.png");
        if (!row.dangling) {
            ASSERT_TRUE(WriteFileBytes(pointed, {1, 2, 3}));
        }
        ASSERT_EQ(symlink(pointed.c_str(), dir.Path("out.png").c_str()), 0);
        AtomicFileWriter writer;
        ASSERT_TRUE(writer.Begin(dir.Path("out.png")));
        ASSERT_EQ(std::fputs("new", writer.Stream()), 1);
        ASSERT_TRUE(writer.Commit()) << writer.Error();
        struct stat st;
        ASSERT_EQ(lstat(dir.Path("out.png").c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(ReadFileBytes(dir.Path("out.png")), (std::vector<std::uint8_t>{'n', 'e', 'w'}));
        EXPECT_EQ(Exists(pointed), !row.dangling);
        if (!row.dangling) {
            EXPECT_EQ(ReadFileBytes(pointed), (std::vector<std::uint8_t>{1, 2, 3}));
        }
    }
}

TEST(AtomicFileWriter, TemporaryNamesCarryTheHostAndDeadRunsLeaveNone)
{
    const std::string host = TemporaryHost();
    const std::string me = std::to_string(getpid());
    // A process id no process has: the children of a fork that has ended.
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    ASSERT_GT(child, 0);
    waitpid(child, nullptr, 0);
    const std::string dead = std::to_string(child);
    const std::time_t now = std::time(nullptr);
    const struct {
        std::string name;
        long ageHours;
        bool stays;
    } rows[] = {
        {".a.png.part-" + host + "-" + me + "-1", 0, true},      // this run's own
        {".a.png.part-" + host + "-" + dead + "-2", 0, false},   // a run here that died
        {".a.png.part-" + me + "-3", 1, true},                   // the older form, running
        {".a.png.part-" + dead + "-4", 0, true},                 // the older form, perhaps elsewhere
        {".a.png.part-" + dead + "-7", 1, false},                // the older form, dead an hour
        {".a.png.part-other-box-" + dead + "-5", 23, true},      // another host's, still young
        {".a.png.part-other-box-" + dead + "-6", 25, false},     // another host's, a day old
        {".a.png.part-x", 48, true},                             // not one of ours
        {"a.png", 48, true},
    };
    ScratchDir dir;
    for (const auto &row : rows) {
        ASSERT_TRUE(WriteFileBytes(dir.Path(row.name), {1}));
        const timeval times[2] = {{now - row.ageHours * 3600, 0}, {now - row.ageHours * 3600, 0}};
        ASSERT_EQ(utimes(dir.Path(row.name).c_str(), times), 0);
    }
    EXPECT_EQ(RemoveStaleTemporaries(dir.Root(), now), 3);
    for (const auto &row : rows)
        EXPECT_EQ(Exists(dir.Path(row.name)), row.stays) << row.name;

    AtomicFileWriter writer;
    ASSERT_TRUE(writer.Begin(dir.Path("b.png")));
    const QStringList parts = Entries(dir).filter(QStringLiteral(".b.png.part-"));
    ASSERT_EQ(parts.size(), 1);
    const std::optional<TemporaryName> parsed = ParseTemporaryName(parts[0].toStdString());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->host, host);
    EXPECT_EQ(parsed->pid, long(getpid()));
}
