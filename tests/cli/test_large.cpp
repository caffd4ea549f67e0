// Pictures far larger than the memory a run may take: their rows stream from
// the decoder to the encoder, the output waits in an unnamed file, and a run
// killed meanwhile leaves nothing behind.
#include "imaging/codecs/codecs.h"
#include "imaging/cximage.h"
#include "tests/cli/batch_process.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <cstring>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include <tiffio.h>
#include <zlib.h>

extern char **environ;

#if defined(__SANITIZE_ADDRESS__)
#define VELMORA_MEASURES_MEMORY 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELMORA_MEASURES_MEMORY 0
#endif
#endif
#ifndef VELMORA_MEASURES_MEMORY
#define VELMORA_MEASURES_MEMORY 1
#endif

namespace {

using namespace testsupport;

constexpr int kSide = 60000;

// Row y's pixel x: flat grey but for a ramp at the left, the same on every row.
std::uint8_t Pixel(int x)
{
    return x < 256 ? std::uint8_t(x) : 128;
}

void PutBe32(std::string &out, std::uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(char(v >> shift));
}

void PutChunk(std::string &png, const char *type, const char *data, std::size_t size)
{
    PutBe32(png, std::uint32_t(size));
    const std::size_t at = png.size();
    png.append(type, 4);
    png.append(data, size);
    PutBe32(png, std::uint32_t(crc32(0, reinterpret_cast<const Bytef *>(png.data() + at), uInt(size + 4))));
}

// A width x height 8-bit grey PNG made in a moment however large: one row is
// deflated once, flushed to a byte boundary with nothing to refer back to,
// and those bytes repeated for every row.
std::vector<std::uint8_t> FlatPng(int width, int height, const std::string &xmp = {})
{
    std::string raw(1, '\0'); // filter: none
    for (int x = 0; x < width; ++x)
        raw.push_back(char(Pixel(x)));
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY), Z_OK);
    std::string row(deflateBound(&z, uLong(raw.size())) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef *>(raw.data());
    z.avail_in = uInt(raw.size());
    z.next_out = reinterpret_cast<Bytef *>(row.data());
    z.avail_out = uInt(row.size());
    EXPECT_EQ(deflate(&z, Z_FULL_FLUSH), Z_OK);
    row.resize(row.size() - z.avail_out);
    deflateEnd(&z);

    const uLong rowAdler = adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef *>(raw.data()), uInt(raw.size()));
    uLong adler = adler32(0, nullptr, 0);
    std::string stream("\x78\xDA", 2);
    stream.reserve(row.size() * std::size_t(height) + 8);
    for (int y = 0; y < height; ++y) {
        stream += row;
        adler = adler32_combine(adler, rowAdler, z_off_t(raw.size()));
    }
    stream.append("\x03\x00", 2); // a final empty block
    PutBe32(stream, std::uint32_t(adler));

    std::string png("\x89PNG\r\n\x1a\n", 8);
    std::string ihdr;
    PutBe32(ihdr, std::uint32_t(width));
    PutBe32(ihdr, std::uint32_t(height));
    ihdr.append("\x08\x00\x00\x00\x00", 5);
    PutChunk(png, "IHDR", ihdr.data(), ihdr.size());
    if (!xmp.empty()) {
        const std::string itxt = std::string("XML:com.adobe.xmp\0\0\0\0\0", 22) + xmp;
        PutChunk(png, "iTXt", itxt.data(), itxt.size());
    }
    constexpr std::size_t kIdat = std::size_t(1) << 20;
    for (std::size_t at = 0; at < stream.size(); at += kIdat)
        PutChunk(png, "IDAT", stream.data() + at, std::min(kIdat, stream.size() - at));
    PutChunk(png, "IEND", "", 0);
    return {png.begin(), png.end()};
}

// A width x height 8-bit grey TIFF in Deflate strips (or square tiles of
// tileSide), every row as FlatPng's.
bool FlatTiff(const std::string &path, int width, int height, int rowsPerStrip = 64, int tileSide = 0)
{
    TIFF *tif = TIFFOpen(path.c_str(), "w");
    if (!tif)
        return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, std::uint32_t(width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, std::uint32_t(height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tif, TIFFTAG_ZIPQUALITY, 1);
    bool ok = true;
    if (tileSide > 0) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, std::uint32_t(tileSide));
        TIFFSetField(tif, TIFFTAG_TILELENGTH, std::uint32_t(tileSide));
        std::vector<std::uint8_t> tile(std::size_t(tileSide) * std::size_t(tileSide));
        for (int tx = 0; tx < width && ok; tx += tileSide) {
            for (int x = 0; x < tileSide; ++x)
                for (int y = 0; y < tileSide; ++y)
                    tile[std::size_t(y) * std::size_t(tileSide) + std::size_t(x)] = Pixel(tx + x);
            for (int ty = 0; ty < height && ok; ty += tileSide)
                ok = TIFFWriteEncodedTile(tif,
                                          TIFFComputeTile(tif, std::uint32_t(tx), std::uint32_t(ty), 0, 0),
                                          tile.data(), tmsize_t(tile.size())) >= 0;
        }
        TIFFClose(tif);
        return ok;
    }
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, std::uint32_t(rowsPerStrip));
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x)
        row[std::size_t(x)] = Pixel(x);
    for (int y = 0; y < height && ok; ++y)
        ok = TIFFWriteScanline(tif, row.data(), std::uint32_t(y), 0) >= 0;
    TIFFClose(tif);
    return ok;
}

// A width x height grey JPEG, every row as FlatPng's, encoded from a band.
bool FlatJpeg(const std::string &path, int width, int height, bool progressive = false)
{
    class Rows final : public cxcodec::RowFeed {
    public:
        explicit Rows(CxImage &band) : m_band(band) {}
        bool Arrived(int y) override
        {
            BYTE *row = m_band.GetBits(y);
            for (int x = 0; x < m_band.GetWidth(); ++x)
                row[x] = Pixel(x);
            return true;
        }

    private:
        CxImage &m_band;
    };
    CxImage band;
    if (!CxImageAccess::CreateBand(band, width, height, 8, CXIMAGE_FORMAT_JPG, 16))
        return false;
    Rows rows(band);
    CxImageAccess::SetFeed(band, &rows);
    band.SetJpegQuality(90);
    CEncoderSettings settings;
    settings.m_bJpegProgressive = progressive;
    band.SetEncoderSettings(settings);
    CxIOFile out;
    return out.Open(path.c_str(), "wb") && band.Encode(&out, CXIMAGE_FORMAT_JPG) && out.Close();
}

// A width x height raw PGM, every row as FlatPng's.
bool FlatPgm(const std::string &path, int width, int height)
{
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x)
        row[std::size_t(x)] = Pixel(x);
    bool ok = std::fprintf(f, "P5\n%d %d\n255\n", width, height) > 0;
    for (int y = 0; y < height && ok; ++y)
        ok = std::fwrite(row.data(), 1, row.size(), f) == row.size();
    return std::fclose(f) == 0 && ok;
}

// Takes a decode's rows one by one and checks each against Pixel.
class RowChecker final : public cxcodec::RowSink {
public:
    CxImage *Begin(int width, int height, int bpp, std::uint32_t type, const CxMetadata &) override
    {
        width_ = width;
        height_ = height;
        return CxImageAccess::CreateBand(band_, width, height, bpp, type, 4) ? &band_ : nullptr;
    }
    bool Room(int) override { return true; }
    void Filled(int y) override
    {
        const BYTE *row = band_.GetBits(y);
        const bool paletted = band_.GetBpp() == 8;
        // Turned a quarter, the source's columns are rows (from the bottom
        // when turned the other way).
        const int column = from_ == From::Left ? y : from_ == From::Bottom ? height_ - 1 - y : -1;
        for (int x = 0; x < width_ && wrong_ == 0; x += 97) {
            const int grey = paletted ? band_.GetPaletteColor(row[x]).rgbRed : row[x * 3];
            if (std::abs(grey - Pixel(column >= 0 ? column : x + shift_)) > tolerance_)
                wrong_ = y + 1;
        }
        rows_ = y + 1;
    }
    enum class From { Top, Left, Bottom } from_ = From::Top; // where row 0 was in the source
    int tolerance_ = 0;
    int shift_ = 0; // columns cut off at the left
    int width_ = 0, height_ = 0, rows_ = 0, wrong_ = 0;

private:
    CxImage band_;
};

struct Spawned {
    int status = -1;
    long peakKb = 0;
};

// Runs velmora-batch in folder, as RunBatch does, and reports its peak
// resident memory. onStart, when given, is called with its process id while
// it runs.
Spawned SpawnBatch(const std::vector<std::string> &args, const std::string &folder,
                   const std::function<void(pid_t)> &onStart = nullptr)
{
    std::vector<std::string> all{VELMORA_BATCH_EXE};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = -1;
    Spawned s;
    const int started = posix_spawn(&pid, VELMORA_BATCH_EXE, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0)
        return s;
    if (onStart)
        onStart(pid);
    rusage usage{};
    if (wait4(pid, &s.status, 0, &usage) == pid)
        s.peakKb = usage.ru_maxrss;
    return s;
}

// Whether pid holds an unnamed file (O_TMPFILE) made in folder.
bool HoldsUnnamedFileIn(pid_t pid, const std::string &folder)
{
    std::error_code ec;
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    for (const auto &entry : std::filesystem::directory_iterator(fds, ec)) {
        const std::string target = std::filesystem::read_symlink(entry.path(), ec).string();
        if (!ec && target.rfind(folder + "/#", 0) == 0 && target.find("(deleted)") != std::string::npos)
            return true;
    }
    return false;
}

} // namespace

// Pictures far past what may be held whole (a 60,000 x 60,000 PNG, 3.6
// gigapixels; 20,000 x 20,000 TIFFs in strips and in tiles) convert at full
// size within a small, fixed amount of memory, and every row of the output
// is the source's.
TEST(LargePictures, AFarLargerPictureConvertsInBoundedMemory)
{
#if !VELMORA_MEASURES_MEMORY
    GTEST_SKIP() << "the sanitizer's allocator keeps memory of its own";
#endif
    ScratchDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.Path("huge.png"), FlatPng(kSide, kSide)));
    ASSERT_TRUE(FlatTiff(dir.Path("scan.tif"), kSide / 3, kSide / 3));
    // Tiles that overhang the picture's right and bottom edges.
    ASSERT_TRUE(FlatTiff(dir.Path("map.tif"), kSide / 3, kSide / 3, 0, 384));
    struct Row {
        const char *source, *output;
        int side;
    };
    for (const Row &r : {Row{"huge.png", "huge.png", kSide}, Row{"scan.tif", "scan.PNG", kSide / 3},
                         Row{"map.tif", "map.PNG", kSide / 3}}) {
        SCOPED_TRACE(r.source);
        const std::string out = dir.Path(std::string("out-") + r.source);
        mkdir(out.c_str(), 0755);
        const Spawned run =
            SpawnBatch({"--jobs", "1", "--format", "png", "--png-level", "1", "--out", out, r.source}, dir.Root());
        ASSERT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.status;
        EXPECT_LT(run.peakKb, 256 * 1024);
        ASSERT_EQ(Entries(out), QStringList{r.output});

        RowChecker rows;
        CxImage reader;
        EXPECT_TRUE(reader.LoadRows((out + "/" + r.output).c_str(), rows));
        EXPECT_EQ(rows.width_, r.side);
        EXPECT_EQ(rows.height_, r.side);
        EXPECT_EQ(rows.rows_, r.side);
        EXPECT_EQ(rows.wrong_, 0) << "first wrong row: " << rows.wrong_ - 1;
    }

    mkdir(dir.Path("out").c_str(), 0755);

    // Held whole, as tone on grey rows needs it (their palette changes), the
    // same picture is refused at once.
    const Result toned =
        RunBatch({"--brightness", "10", "--out", "out", "--overwrite", "overwrite", "huge.png"}, dir.Root());
    EXPECT_NE(toned.exitCode, 0);
    EXPECT_NE(toned.err.find("image too large"), std::string::npos) << toned.err;
}

// What would have to be held is refused as before, saying why: a TIFF in one
// strip of 400 megapixels, and metadata that goes into the encoded file in
// memory (until stripped).
TEST(LargePictures, WhatWouldBeHeldWholeIsRefused)
{
    ScratchDir dir;
    const int side = kSide / 3;
    ASSERT_TRUE(FlatTiff(dir.Path("strip.tif"), side, side, side));
    ASSERT_TRUE(WriteFileBytes(dir.Path("tagged.png"),
                               FlatPng(side, side, "<x:xmpmeta xmlns:x='adobe:ns:meta/'></x:xmpmeta>")));
    struct Row {
        QStringList args;
        const char *error; // "" for none
    };
    const Row rows[] = {
        {{"strip.tif"}, "strip.tif: image too large"},
        {{"tagged.png"}, "tagged.png: image too large to keep its metadata"},
        {{"--strip", "tagged.png"}, ""},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.args.join(' ').toStdString());
        const Result run =
            RunBatch(QStringList{"--png-level", "1", "--overwrite", "overwrite", "--out", "out"} + r.args, dir.Root());
        EXPECT_EQ(run.exitCode, *r.error ? 1 : 0) << run.err;
        if (*r.error) {
            EXPECT_NE(run.err.find(r.error), std::string::npos) << run.err;
        }
    }
    EXPECT_EQ(Entries(dir.Path("out")), QStringList{"tagged.png"});
}

// Grey pictures too large to hold (400 megapixels, a PNG and TIFFs; a
// PGM just past the limit) are fitted to a smaller size, and carded in the
// listing, their rows widened and averaged as they come.
TEST(LargePictures, PicturesTooLargeToHoldAreFittedAndCarded)
{
    ScratchDir dir;
    const int side = kSide / 3;
    mkdir(dir.Path("in").c_str(), 0755);
    ASSERT_TRUE(WriteFileBytes(dir.Path("in/huge.png"), FlatPng(side, side)));
    ASSERT_TRUE(FlatTiff(dir.Path("in/scan.tif"), side, side));
    ASSERT_TRUE(FlatTiff(dir.Path("in/map.tif"), side, side, 0, 512));
    ASSERT_FALSE(cxcodec::FitsPixelLimits(16500, 16400));
    ASSERT_TRUE(FlatPgm(dir.Path("in/raw.pgm"), 16500, 16400));
    const std::string cards = dir.Path("cards");
    mkdir(cards.c_str(), 0755);
    const Result carded = RunBatch({"--out", "cards", "in"}, dir.Root(), VELMORA_THUMBS_EXE);
    EXPECT_EQ(carded.exitCode, 0) << carded.err;
    const Spawned fitted = SpawnBatch(
        {"--jobs", "1", "--resize", "fit", "--width", "1000", "--height", "800", "--format", "png", "--out", "out", "in"},
        dir.Root());
    EXPECT_TRUE(WIFEXITED(fitted.status) && WEXITSTATUS(fitted.status) == 0) << fitted.status;
#if VELMORA_MEASURES_MEMORY
    EXPECT_LT(fitted.peakKb, 256 * 1024);
#endif
    for (const char *picture :
         {"cards/tn_huge.jpg", "cards/tn_scan.jpg", "cards/tn_map.jpg", "cards/tn_raw.jpg", "out/huge.png",
          "out/scan.PNG", "out/map.PNG", "out/raw.PNG"}) {
        CxImage shown;
        ASSERT_TRUE(shown.Load(dir.Path(picture).c_str())) << picture;
        if (std::string(picture).rfind("out/", 0) == 0) {
            EXPECT_EQ(shown.GetWidth(), std::string(picture) == "out/raw.PNG" ? 804 : 800) << picture;
            EXPECT_EQ(shown.GetHeight(), 800) << picture;
        }
        EXPECT_NEAR(shown.GetPixelColor(shown.GetWidth() / 2, shown.GetHeight() / 2).rgbGreen, 128, 4) << picture;
    }
}

// A picture too large to hold, shrunk to one still large with sharpen, tone
// and a border after the shrink: the shrunk rows go to the encoder as they
// are made, so neither picture is held, and the output may itself be past
// what could be held (a PGM to 132 megapixels, a PNG to 319; a JPEG, whose
// reduced scales do not reach 97 %, to 320 as well).
TEST(LargePictures, AShrinkStillLargeIsEncodedAsItsRowsAreMade)
{
#if !VELMORA_MEASURES_MEMORY
    GTEST_SKIP() << "the sanitizer's allocator keeps memory of its own";
#endif
    ScratchDir dir;
    ASSERT_TRUE(FlatPgm(dir.Path("raw.pgm"), 16500, 16400));
    ASSERT_TRUE(WriteFileBytes(dir.Path("wide.png"), FlatPng(20000, 17000)));
    ASSERT_FALSE(cxcodec::FitsPixelLimits(19400, 16490));
    ASSERT_TRUE(FlatJpeg(dir.Path("huge.jpg"), 20000, 17000));
    mkdir(dir.Path("out").c_str(), 0755);
    struct Row {
        const char *source, *percent, *output;
        int width, height;
    };
    for (const Row &r : {Row{"raw.pgm", "70", "out/raw.PNG", 11550, 11480},
                         Row{"wide.png", "97", "out/wide.png", 19400, 16490},
                         Row{"huge.jpg", "97", "out/huge.PNG", 19400, 16490}}) {
        SCOPED_TRACE(r.source);
        const Spawned run = SpawnBatch({"--jobs", "1", "--resize", "percent", "--percent", r.percent,
                                        "--sharpen", "--brightness", "5", "--border", "2", "--format", "png",
                                        "--png-level", "1", "--out", "out", r.source},
                                       dir.Root());
        ASSERT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.status;
        EXPECT_LT(run.peakKb, 256 * 1024);
        // Its size from its header (a picture past the limit is not probed).
        const std::vector<std::uint8_t> png = ReadFileBytes(dir.Path(r.output));
        ASSERT_GT(png.size(), 24u);
        const auto be32 = [&png](std::size_t at) {
            return int(std::uint32_t(png[at]) << 24 | std::uint32_t(png[at + 1]) << 16 |
                       std::uint32_t(png[at + 2]) << 8 | png[at + 3]);
        };
        EXPECT_EQ(be32(16), r.width + 4);
        EXPECT_EQ(be32(20), r.height + 4);
    }
}

// A picture too large to hold that is turned goes through tiles in an unnamed
// temporary file (a PGM turned a quarter to PNG, a JPEG flipped and turned
// the other way to JPEG, encoded again rather than its blocks moved), in
// bounded memory; nothing of the store is left. So does one trimmed: the
// ramp's darkest 26 columns, within 10 % of the black corners, go. One
// turned and shrunk a great deal is averaged first, as a shrink alone is.
// A progressive JPEG's coefficients are kept in such a file as it is
// written, and made a row of blocks at a time as one is read (turned, too);
// a JPEG turned on its coefficients keeps them in such a file too.
TEST(LargePictures, ATurnGoesThroughTilesOnDisk)
{
#if !VELMORA_MEASURES_MEMORY
    GTEST_SKIP() << "the sanitizer's allocator keeps memory of its own";
#endif
    ScratchDir dir;
    ASSERT_TRUE(FlatPgm(dir.Path("raw.pgm"), 16500, 16400));
    ASSERT_TRUE(FlatJpeg(dir.Path("huge.jpg"), 20000, 17000));
    ASSERT_TRUE(FlatJpeg(dir.Path("layers.jpg"), 20000, 17000, true));
    mkdir(dir.Path("out").c_str(), 0755);
    struct Row {
        std::vector<std::string> args;
        const char *output;
        int width, height;
        RowChecker::From from;
        int tolerance;
        int shift; // columns trimmed off at the left
    };
    const Row rows[] = {
        {{"--rotate", "90", "--format", "png", "--png-level", "1", "raw.pgm"},
         "raw.PNG",
         16400,
         16500,
         RowChecker::From::Left,
         0,
         0},
        {{"--rotate", "-90", "--flip", "v", "--lossless", "off", "--format", "jpg", "huge.jpg"},
         "huge.jpg",
         17000,
         20000,
         RowChecker::From::Bottom,
         3,
         0},
        {{"--trim-borders", "--format", "png", "--png-level", "1", "--suffix", "_t", "raw.pgm"},
         "raw_t.PNG",
         16500 - 26,
         16400,
         RowChecker::From::Top,
         0,
         26},
        {{"--jpeg-progressive", "--format", "jpg", "--suffix", "_p", "raw.pgm"},
         "raw_p.JPG",
         16500,
         16400,
         RowChecker::From::Top,
         3,
         0},
        {{"--rotate", "90", "--suffix", "_l", "huge.jpg"},
         "huge_l.jpg",
         17000,
         20000,
         RowChecker::From::Left,
         3,
         0},
        {{"--rotate", "90", "--format", "png", "--png-level", "1", "layers.jpg"},
         "layers.PNG",
         17000,
         20000,
         RowChecker::From::Left,
         3,
         0},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.output);
        std::vector<std::string> args{"--jobs", "1", "--out", "out"};
        args.insert(args.end(), r.args.begin(), r.args.end());
        const Spawned run = SpawnBatch(args, dir.Root());
        ASSERT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.status;
        EXPECT_LT(run.peakKb, 256 * 1024);
        RowChecker rowsRead;
        rowsRead.from_ = r.from;
        rowsRead.tolerance_ = r.tolerance;
        rowsRead.shift_ = r.shift;
        CxImage reader;
        EXPECT_TRUE(reader.LoadRows(dir.Path(std::string("out/") + r.output).c_str(), rowsRead));
        EXPECT_EQ(rowsRead.width_, r.width);
        EXPECT_EQ(rowsRead.height_, r.height);
        EXPECT_EQ(rowsRead.rows_, r.height);
        EXPECT_EQ(rowsRead.wrong_, 0) << "first wrong row: " << rowsRead.wrong_ - 1;
    }
    EXPECT_EQ(Entries(dir.Path("out")),
              (QStringList{"huge.jpg", "huge_l.jpg", "layers.PNG", "raw.PNG", "raw_p.JPG", "raw_t.PNG"}));

    // Turned and shrunk twenty times: box-averaged as its rows come, then
    // turned and resized held; the ramp at the left now at the top.
    const Spawned fitted = SpawnBatch({"--jobs", "1", "--rotate", "90", "--resize", "fit", "--width", "1000",
                                       "--height", "800", "--format", "png", "--out", "fit", "raw.pgm"},
                                      dir.Root());
    ASSERT_TRUE(WIFEXITED(fitted.status) && WEXITSTATUS(fitted.status) == 0) << fitted.status;
    EXPECT_LT(fitted.peakKb, 256 * 1024);
    CxImage shown;
    ASSERT_TRUE(shown.Load(dir.Path("fit/raw.PNG").c_str()));
    EXPECT_EQ(shown.GetWidth(), 795);
    EXPECT_EQ(shown.GetHeight(), 800);
    EXPECT_NEAR(shown.GetPixelColor(400, 400).rgbGreen, 128, 2);
    EXPECT_NEAR(shown.GetPixelColor(400, 799).rgbGreen, 128, 2);
    EXPECT_LT(shown.GetPixelColor(400, 0).rgbGreen, 30);
}

// A picture too large to hold that no option changes is copied as it is,
// its rows decoded only to know it is sound and let go (it was encoded
// again before); one cut short is not copied, and says so.
TEST(LargePictures, AnUnchangedPictureTooLargeToHoldIsCopied)
{
    ScratchDir dir;
    ASSERT_TRUE(FlatJpeg(dir.Path("huge.jpg"), 20000, 17000));
    ASSERT_TRUE(FlatPgm(dir.Path("raw.pgm"), 16500, 16400));
    std::vector<std::uint8_t> cut = ReadFileBytes(dir.Path("huge.jpg"));
    cut.resize(cut.size() / 2);
    ASSERT_TRUE(WriteFileBytes(dir.Path("cut.jpg"), cut));
    mkdir(dir.Path("out").c_str(), 0755);
    const Result run =
        RunBatch({"--jobs", "1", "--out", "out", "huge.jpg", "raw.pgm", "cut.jpg"}, dir.Root());
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.err.find("cut.jpg: Premature end of JPEG file"), std::string::npos) << run.err;
    ASSERT_EQ(Entries(dir.Path("out")), (QStringList{"huge.jpg", "raw.pgm"}));
    for (const char *name : {"huge.jpg", "raw.pgm"})
        EXPECT_TRUE(ReadFileBytes(dir.Path(std::string("out/") + name)) == ReadFileBytes(dir.Path(name)))
            << name;
}

// Killed while a large output is being written, a run leaves the old file as
// it was and no temporary file beside it: the output waits in an unnamed file
// until it is whole.
TEST(LargePictures, AKilledRunLeavesTheOldFileAndNoTemporary)
{
    ScratchDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.Path("huge.png"), FlatPng(kSide, kSide / 4)));
    mkdir(dir.Path("out").c_str(), 0755);
    const std::vector<std::uint8_t> old{'o', 'l', 'd'};
    ASSERT_TRUE(WriteFileBytes(dir.Path("out/huge.png"), old));
    bool seen = false;
    const std::string out = dir.Path("out");
    // Stored, not compressed: gigabytes to write, which the kill interrupts.
    const Spawned run = SpawnBatch({"--png-level", "0", "--out", "out", "--overwrite", "overwrite", "huge.png"},
                                   dir.Root(), [&](pid_t pid) {
                                       const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
                                       while (!(seen = HoldsUnnamedFileIn(pid, out)) &&
                                              std::chrono::steady_clock::now() < end)
                                           std::this_thread::sleep_for(std::chrono::milliseconds(5));
                                       kill(pid, SIGKILL);
                                   });
    EXPECT_TRUE(seen);
    EXPECT_TRUE(WIFSIGNALED(run.status));
    EXPECT_EQ(Entries(out), QStringList{"huge.png"});
    EXPECT_EQ(ReadFileBytes(dir.Path("out/huge.png")), old);
}

// An output that cannot fit in the free space where it goes fails at once,
// saying so (as does a turn whose tiles cannot), and leaves nothing there
// while a small one beside it is written (a small file system of its own,
// in a namespace of the test's).
TEST(LargePictures, AnOutputLargerThanTheFreeSpaceFailsBeforeItsFirstRow)
{
    ScratchDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.Path("huge.png"), FlatPng(kSide, kSide / 4)));
    mkdir(dir.Path("small").c_str(), 0755);
    ASSERT_TRUE(MakeTestImage(64, 48).Save(dir.Path("small.png").c_str(), CXIMAGE_FORMAT_PNG));
    // What is left in the small file system is listed before it goes: the
    // small picture, which fits.
    // Nor can the tiles of a turn (the picture's size again) be stored there.
    const std::string batch = VELMORA_BATCH_EXE;
    const std::string script = "mount -t tmpfs -o size=8m none small || exit 77; " + batch +
                               " --format tif --tif-compression none --out small huge.png small.png; rc=$?; " + batch +
                               " --rotate 90 --format png --out small huge.png; echo turned: $?; "
                               "echo left: $(ls -A small); exit $rc";
    const Result run = RunBatch({"-Urm", "sh", "-c", QString::fromStdString(script)}, dir.Root(), "unshare");
    if (run.exitCode == 77 || run.err.find("unshare:") != std::string::npos)
        GTEST_SKIP() << "no mount namespace here: " << run.err;
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.err.find("not enough free space in the output folder"), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("left: small.TIF\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("turned: 1\n"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("not enough free space to turn the picture"), std::string::npos) << run.err;
}
