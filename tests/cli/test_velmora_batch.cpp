#include "cli/batchcommand.h"
#include "cli/jsonlog.h"
#include "cli/terminalreporter.h"
#include "cli/terminaltext.h"
#include "convert/naming.h"
#include "convert/runjournal.h"
#include "tests/cli/batch_process.h"
#include "tests/test_support.h"

#include <QDir>
#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <arpa/inet.h>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <map>
#include <netinet/in.h>
#include <pty.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

extern char **environ;

using namespace testsupport;

namespace {

std::optional<BatchCommand> Parse(const std::vector<std::string> &args, std::string *error = nullptr,
                                  const std::string &workFolder = "/w")
{
    std::string e;
    auto cmd = ParseBatchCommand(args, e, workFolder);
    if (error)
        *error = e;
    return cmd;
}


// velmora-batch with its log on a pipe (returned in out), no terminal and
// standard error into errPath; the signals start with their usual effect.
// Standard input is in when given, else /dev/null.
pid_t SpawnBatch(const std::vector<std::string> &args, const std::string &errPath, int &out, int in = -1)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    if (in >= 0)
        posix_spawn_file_actions_adddup2(&actions, in, 0);
    else
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, stops;
    sigemptyset(&none);
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &stops);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::vector<char *> argv{const_cast<char *>(VELMORA_BATCH_EXE)};
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, VELMORA_BATCH_EXE, &actions, &attr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(fds[1]);
    out = fds[0];
    return pid;
}

}  // namespace

TEST(BatchCommand, DefaultsAndOptions)
{
    auto cmd = Parse({"a.png"});
    ASSERT_TRUE(cmd);
    EXPECT_EQ(cmd->job.m_nQuality, 95);
    EXPECT_EQ(cmd->job.m_szFormat, "");
    EXPECT_EQ(cmd->job.m_nOverwrite, OVERWRITE_ASK);
    EXPECT_EQ(cmd->job.GetFlagsByte(), 0);
    EXPECT_EQ(cmd->job.GetFiles(), std::vector<std::string>{"/w/a.png"});
    EXPECT_EQ(cmd->job.m_szOutDir, "");
    EXPECT_TRUE(cmd->job.m_bAutoRotate);
    EXPECT_FALSE(cmd->job.m_bStripMetadata || cmd->job.m_bStripLocation);
    EXPECT_EQ(std::tuple(cmd->job.m_nLossless, cmd->job.m_bKeepIfLarger), std::tuple(LOSSLESS_AUTO, false));
    cmd = Parse({"--lossless", "trim", "--if-larger", "keep", "a.jpg"});
    ASSERT_TRUE(cmd);
    EXPECT_EQ(std::tuple(cmd->job.m_nLossless, cmd->job.m_bKeepIfLarger), std::tuple(LOSSLESS_TRIM, true));
    EXPECT_EQ(Parse({"--lossless", "off", "--if-larger", "write", "a.jpg"})->job.m_nLossless, LOSSLESS_OFF);

    cmd = Parse({"--no-autorotate", "--strip", "--strip-location", "a.jpg"});
    ASSERT_TRUE(cmd);
    EXPECT_FALSE(cmd->job.m_bAutoRotate);
    EXPECT_TRUE(cmd->job.m_bStripMetadata && cmd->job.m_bStripLocation);

    cmd = Parse({"--format",    "jpg",      "--quality", "50",          "--out", "o",         "--suffix",
                 "_s",          "--resize", "width",     "--width",     "640",   "--sharpen", "--rotate",
                 "-90",         "--stamp",  "©",         "--font-size", "24",    "--color",   "00FF80",
                 "--overwrite", "rename",   "x.bmp",     "/abs/y.bmp"});
    ASSERT_TRUE(cmd);
    const CConvertJob &j = cmd->job;
    EXPECT_EQ(j.m_szFormat, "JPG");
    EXPECT_EQ(Parse({"--format", "webp", "a.png"})->job.m_szFormat, "WEBP");
    EXPECT_EQ(j.m_nQuality, 50);
    EXPECT_EQ(j.m_szOutDir, "/w/o");
    EXPECT_TRUE(j.m_bRename);
    EXPECT_EQ(j.m_szRenamePrefix, "");
    EXPECT_EQ(j.m_nStartNumber, 0);
    EXPECT_EQ(j.m_nResizeType, 1);
    EXPECT_EQ(j.m_nWidth, 640);
    EXPECT_EQ(j.m_bSharpen, 1);
    EXPECT_EQ(j.m_nrotateType, ROTATE_LEFT);
    EXPECT_EQ(j.m_szStampText, "©");
    ASSERT_TRUE(j.m_lfStampFont);
    EXPECT_EQ(j.m_lfStampFont->lfHeight, -24);
    EXPECT_EQ(j.m_crStampColor, RGB(0, 255, 128));
    EXPECT_EQ(j.m_nOverwrite, OVERWRITE_RENAME);
    EXPECT_TRUE(cmd->overwriteGiven);
    EXPECT_EQ(j.GetFiles(), (std::vector<std::string>{"/w/x.bmp", "/abs/y.bmp"}));

    // The later rules: rule, width, height, edge, percent, gravity and canvas as given.
    cmd = Parse({"--resize", "short", "--size", "7", "a.png"});
    ASSERT_TRUE(cmd);
    EXPECT_EQ(std::tuple(cmd->job.m_nResizeType, cmd->job.m_nEdgeSize), std::tuple(RESIZE_SHORT_EDGE, 7));
    cmd = Parse({"--resize", "percent", "--percent", "1000", "a.png"});
    ASSERT_TRUE(cmd);
    EXPECT_EQ(std::tuple(cmd->job.m_nResizeType, cmd->job.m_nPercent), std::tuple(RESIZE_PERCENT, 1000));
    cmd = Parse({"--resize", "pad", "--width", "4", "--height", "3", "--background", "102030", "--gravity",
                 "top", "a.png"});
    ASSERT_TRUE(cmd);
    EXPECT_EQ(std::tuple(cmd->job.m_nResizeType, cmd->job.m_nWidth, cmd->job.m_nHeight, cmd->job.m_nGravity,
                         cmd->job.m_crBackground),
              std::tuple(RESIZE_PAD, 4, 3, GRAVITY_TOP, RGB(16, 32, 48)));
    cmd = Parse({"--crop-ratio", "16:9", "--gravity", "right", "--name", "{name}-{n:4}", "--ext-case",
                 "upper", "--date-from-exif", "a.png"});
    ASSERT_TRUE(cmd);
    // A template numbers from 1 unless told.
    EXPECT_EQ(std::tuple(cmd->job.m_bResize, cmd->job.m_nCropRatioW, cmd->job.m_nCropRatioH,
                         cmd->job.m_nGravity, cmd->job.m_bRename, cmd->job.m_szNameTemplate,
                         cmd->job.m_nStartNumber, cmd->job.m_nExtCase, cmd->job.m_nOutputDate),
              std::tuple(false, 16, 9, GRAVITY_RIGHT, true, std::string("{name}-{n:4}"), 1, EXTCASE_UPPER,
                         OUTDATE_EXIF));
    // The gravities that look at the pixels come after the nine anchors.
    cmd = Parse({"--resize", "fill", "--width", "4", "--height", "3", "--gravity", "entropy", "a.png"});
    ASSERT_TRUE(cmd);
    EXPECT_EQ(cmd->job.m_nGravity, GRAVITY_ENTROPY);
    cmd = Parse({"--crop-ratio", "1:1", "--gravity", "attention", "a.png"});
    ASSERT_TRUE(cmd);
    EXPECT_EQ(cmd->job.m_nGravity, GRAVITY_ATTENTION);
    cmd = Parse({"--name", "{n}", "--start", "0", "--keep-dates", "a.png"});
    ASSERT_TRUE(cmd);
    EXPECT_EQ(std::tuple(cmd->job.m_nStartNumber, cmd->job.m_nOutputDate), std::tuple(0, OUTDATE_SOURCE));
}

TEST(BatchCommand, EachEncoderOptionSetsItsOwnField)
{
    const auto cmd = Parse({"--jpeg-progressive", "--jpeg-subsampling", "422", "--png-level", "9",
                            "--tif-compression", "lzw", "--webp-effort", "6", "--webp-lossless", "--avif-speed", "0",
                            "--jxl-effort", "7", "--dpi", "300", "a.png"});
    ASSERT_TRUE(cmd);
    const CEncoderSettings &e = cmd->job.m_encoder;
    EXPECT_EQ(std::tuple(e.m_bJpegProgressive, e.m_nJpegSubsampling, e.m_nPngLevel, e.m_nTifCompression,
                         e.m_nWebpEffort, e.m_bWebpLossless, e.m_nAvifSpeed, e.m_nJxlEffort, e.m_nDpi),
              std::tuple(true, SUBSAMPLING_422, 9, TIFCOMPRESS_LZW, 6, true, 0, 7, 300));
    EXPECT_EQ(Parse({"--tif-compression", "none", "a.png"})->job.m_encoder.m_nTifCompression, TIFCOMPRESS_NONE);
    EXPECT_TRUE(Parse({"a.png"})->job.m_encoder == CEncoderSettings{});
}

TEST(BatchCommand, UsageErrors)
{
    const struct {
        std::vector<std::string> args;
        const char *names; // what the error must mention ("" when anything will do)
        const char *workFolder = "/w";
    } rows[] = {
        {{"--width", "10", "a.png"}, "--resize"},
        {{"--resize", "fit", "--width", "10", "a.png"}, "--height"},
        {{"--resize", "height", "--width", "10", "a.png"}, "--height"},
        {{"--resize", "width", "--width", "0", "a.png"}, "--width"},
        {{"--resize", "fit", "--width", "10", "--height", "0", "a.png"}, "--height"},
        {{"--out", "", "a.png"}, "--out"},
        {{"--prefix", "../x", "a.png"}, "--prefix"},
        {{"--suffix", "/../../y", "a.png"}, "--suffix"},
        {{"--prefix", "a/b", "a.png"}, "--prefix"},
        {{"--suffix", "tab\there", "a.png"}, ""},
        {{"--suffix", std::string("nl\n"), "a.png"}, ""},
        {{"--prefix", "x\x7f", "a.png"}, "--prefix"},
        {{"--quality", "101", "a.png"}, ""},
        {{"--format", "heic", "a.png"}, ""},
        {{"--rotate", "45", "a.png"}, ""},
        {{"--color", "red", "a.png"}, ""},
        {{"--bogus", "a.png"}, ""},
        {{"--quality"}, ""},
        {{}, ""},
        {{"--sharpen", "a.png"}, ""},
        {{"--update", "--overwrite", "skip", "a.png"}, ""},
        {{"-0", "a.png"}, ""},
        {{"--files-from", "/no/such/list"}, "/no/such/list"},
        {{"--files-from", "/dev/zero"}, "/dev/zero: a name is longer than 64 KB"},
        {{"--preset", "/dev/zero", "a.png"}, "/dev/zero: the preset is larger than 1 MB"},
        {{"a.png"}, "current folder", ""}, // relative names need the current folder
        {{"--resize", "long", "a.png"}, "--size"},
        {{"--resize", "long", "--width", "9", "--size", "9", "a.png"}, "--width"},
        {{"--resize", "percent", "--percent", "1001", "a.png"}, "--percent"},
        {{"--resize", "fill", "--width", "9", "a.png"}, "--height"},
        {{"--resize", "pad", "--width", "9", "--height", "9", "--background", "fff", "a.png"},
         "--background"},
        {{"--resize", "fill", "--width", "9", "--height", "9", "--background", "ffffff", "a.png"}, "pad"},
        {{"--size", "9", "a.png"}, "--size"},
        {{"--gravity", "top", "a.png"}, "--gravity"},
        {{"--resize", "fill", "--width", "9", "--height", "9", "--gravity", "middle", "a.png"},
         "--gravity takes"},
        {{"--resize", "pad", "--width", "9", "--height", "9", "--gravity", "entropy", "a.png"}, "--gravity"},
        {{"--crop-ratio", "1:1", "--resize", "pad", "--width", "9", "--height", "9", "--gravity", "attention",
          "a.png"},
         "--gravity"},
        {{"--crop-ratio", "16/9", "a.png"}, "--crop-ratio"},
        {{"--name", "/abs", "a.png"}, "--name"},
        {{"--name", "{nombre}", "a.png"}, "{nombre}"},
        {{"--name", "{name}", "--prefix", "p", "a.png"}, "--prefix"},
        {{"--ext-case", "title", "a.png"}, "--ext-case"},
        {{"--keep-dates", "--date-from-exif", "a.png"}, "--date-from-exif"},
        {{"--stamp-opacity", "50", "a.png"}, "--stamp-opacity goes with --stamp or --logo"},
        {{"--stamp", "x", "--stamp-opacity", "101", "a.png"}, "--stamp-opacity"},
        {{"--stamp", "x", "--stamp-position", "middle", "a.png"}, "--stamp-position"},
        {{"--stamp", "x", "--stamp-size", "0", "a.png"}, "--stamp-size"},
        {{"--stamp", "x", "--stamp-margin", "-1", "a.png"}, "--stamp-margin"},
        {{"--stamp-shadow", "a.png"}, "--stamp-shadow"},
        {{"--logo", "/no/such/logo.png", "a.png"}, "--logo: /no/such/logo.png"},
        {{"--logo", "", "a.png"}, "--logo"},
        {{"--undo", "a.png"}, "--undo"},
        {{"--undo-journal", ""}, "--undo-journal"},
        {{"--undo", "--dry-run"}, "--dry-run"},
        {{"--dry-run", "--save-preset", "p", "a.png"}, "--dry-run and --save-preset"},
        {{"--save-preset", "p", "--dry-run"}, "--dry-run and --save-preset"},
        {{"--jpeg-subsampling", "411", "a.png"}, "--jpeg-subsampling"},
        {{"--png-level", "10", "a.png"}, "--png-level"},
        {{"--tif-compression", "zip", "a.png"}, "--tif-compression"},
        {{"--webp-effort", "7", "a.png"}, "--webp-effort"},
        {{"--avif-speed", "-1", "a.png"}, "--avif-speed"},
        {{"--jxl-effort", "0", "a.png"}, "--jxl-effort"},
        {{"--dpi", "0", "a.png"}, "--dpi"},
        {{"--dpi", "x", "a.png"}, "--dpi"},
        {{"--render-dpi", "5", "a.svg"}, "--render-dpi"},
        {{"--render-dpi", "3000", "a.svg"}, "--render-dpi"},
        {{"--render-dpi", "x", "a.svg"}, "--render-dpi"},
        {{"--lossless", "on", "a.jpg"}, "--lossless"},
        {{"--if-larger", "smaller", "a.jpg"}, "--if-larger"},
        {{"--max-file-size", "300", "a.png"}, "--max-file-size"},
        {{"--max-file-size", "2GiB", "a.png"}, "--max-file-size"},
        {{"--max-file-size", "1,5M", "a.png"}, "--max-file-size"},
        {{"--min-quality", "50", "a.png"}, "--min-quality goes with --max-file-size"},
        {{"--max-file-size-shrink", "a.png"}, "--max-file-size-shrink goes with --max-file-size"},
        {{"--max-file-size", "300K", "--min-quality", "0", "a.png"}, "--min-quality"},
        {{"--max-file-size", "300K", "--quality", "40", "--min-quality", "50", "a.png"}, "--min-quality 50"},
        {{"--sizes", "0", "a.png"}, "--sizes: '0' is no size"},
        {{"--sizes", "320w,640,320w", "a.png"}, "--sizes: 320w is given twice"},
        {{"--sizes", "1w,2w,3w,4w,5w,6w,7w,8w,9w,10w,11w,12w,13w,14w,15w,16w,17w", "a.png"},
         "--sizes: at most 16"},
        {{"--sizes", "320w;640w", "a.png"}, "--sizes"},
        {{"--sizes", "", "a.png"}, "--sizes"},
        {{"--sizes", "320w", "--resize", "width", "--width", "320", "a.png"},
         "--sizes takes the place of --resize"},
        {{"--resize", "width", "--width", "320", "--sizes", "320w", "a.png"},
         "--sizes takes the place of --resize"},
        {{"--sizes", "320w", "--width", "320", "a.png"}, "--width"},
        {{"--sizes", "320w,640w", "--name", "{name}_{w}", "a.png"}, "--sizes needs {size}"},
        {{"--set", "Artist", "a.png"}, "--set: 'Artist' is no TAG=VALUE"},
        {{"--set", "Colour=red", "a.png"}, "--set: unknown tag 'Colour'"},
        {{"--set", "Rating=6", "a.png"}, "--set: Rating takes 0 to 5"},
        {{"--set", "Artist=a\tb", "a.png"}, "--set: Artist may not hold a control character"},
        {{"--set-if-empty", "a.png"}, "--set-if-empty goes with --set"},
        {{"--shift-dates", "1x", "a.png"}, "--shift-dates: '1x' is no shift"},
        {{"--shift-dates", "+1h1h", "a.png"}, "--shift-dates"},
        {{"--shift-dates", "+", "a.png"}, "--shift-dates"},
        {{"--shift-dates", "+5", "a.png"}, "--shift-dates"},
        {{"--shift-dates", "-36525d1s", "a.png"}, "--shift-dates: '-36525d1s' moves the dates more than 100 years"},
    };
    for (const auto &row : rows) {
        std::string error;
        std::string line;
        for (const std::string &a : row.args)
            line += a + " ";
        SCOPED_TRACE(line);
        EXPECT_FALSE(Parse(row.args, &error, row.workFolder));
        EXPECT_NE(error.find(row.names), std::string::npos) << error;
    }
    EXPECT_TRUE(Parse({"--resize", "height", "--height", "10", "a.png"}));
    EXPECT_TRUE(Parse({"--sizes", "320w", "--sharpen", "--no-enlarge", "--name", "{size}/{name}", "a.png"}));
    EXPECT_TRUE(Parse({"--resize", "height", "--width", "0", "--height", "10", "a.png"}));
    EXPECT_TRUE(Parse({"--prefix", "a.b c-d_", "--suffix", "照片", "a.png"}));
    EXPECT_TRUE(Parse({"/a.png"}, nullptr, ""));
    const auto undo = Parse({"--undo-journal", "runs/x.jsonl"});
    ASSERT_TRUE(undo);
    EXPECT_EQ(undo->undoJournal, "/w/runs/x.jsonl");
}

TEST(VelmoraBatch, ConvertsAFolderEndToEnd)
{
    ScratchDir src, out;
    for (const char *name : {"b.png", "a.png"}) {
        CxImage img = MakeTestImage(200, 100);
        ASSERT_TRUE(img.Save(src.Path(name).c_str(), CXIMAGE_FORMAT_PNG));
    }
    ASSERT_TRUE(WriteFileBytes(src.Path("notes.txt"), {'x'}));
    Result r = RunBatch({"--format", "jpg", "--resize", "fit", "--width", "50", "--height", "50", "--stamp", "水印",
                         "--out", QString::fromStdString(out.Root()), QString::fromStdString(src.Root())});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "从: " + src.Path("a.png") + "\n  到: " + out.Path("a.JPG") + "\n" + "从: " + src.Path("b.png") +
                         "\n  到: " + out.Path("b.JPG") + "\n\n总计文件: 2; 已转换: 2; 错误: 0。\n");
    CxImage back(out.Path("a.JPG").c_str(), 0);
    EXPECT_EQ(back.GetWidth(), 50);
    EXPECT_EQ(back.GetHeight(), 25);

    // Run again: the outputs exist and nobody can be asked.
    r = RunBatch({"--format", "jpg", "--out", QString::fromStdString(out.Root()), QString::fromStdString(src.Path("a.png"))});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("--overwrite"), std::string::npos);
    EXPECT_EQ(r.out.find("总计"), std::string::npos);

    r = RunBatch({"--format", "jpg", "--overwrite", "rename", "--out", QString::fromStdString(out.Root()),
                  QString::fromStdString(src.Path("a.png"))});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(QFile::exists(QString::fromStdString(out.Path("a_001.JPG"))));

    // Failed files make the exit status 1; standard error names each with
    // its cause while standard output keeps the log.
    ScratchDir bad;
    std::vector<std::uint8_t> cut = ReadFileBytes(src.Path("a.png"));
    cut.resize(cut.size() / 2);
    ASSERT_TRUE(WriteFileBytes(bad.Path("cut.png"), cut));
    r = RunBatch({"--format", "bmp", "--out", QString::fromStdString(bad.Root()),
                  QString::fromStdString(bad.Path("none.png")), QString::fromStdString(bad.Path("cut.png"))});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "从: " + bad.Path("none.png") + "\n  错误: 文件不存在。\n从: " + bad.Path("cut.png") +
                         "\n  错误: 打开文件错误。\n\n总计文件: 2; 已转换: 0; 错误: 2。\n");
    EXPECT_EQ(r.err, "velmora-batch: " + bad.Path("none.png") +
                         ": No such file or directory\nvelmora-batch: " + bad.Path("cut.png") +
                         ": truncated PNG file\n");

    // A destination that does not exist yet is made.
    r = RunBatch({"--format", "bmp", "--out", QString::fromStdString(out.Path("new/deeper")),
                  QString::fromStdString(src.Path("a.png"))});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(QFile::exists(QString::fromStdString(out.Path("new/deeper/a.BMP"))));
    EXPECT_EQ(r.err, "");  // nothing but the run's own lines

    r = RunBatch({"--resize", "fit", "x.png"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("--width and --height"), std::string::npos);
    r = RunBatch({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("Usage: velmora-batch"), std::string::npos);
}

// Both programs answer --version and --help on the terminal, the window
// program without opening a display.
TEST(VelmoraBatch, NewOptionsRefusedWriteNothingAndTemplatesMakeFolders)
{
    ScratchDir src, out;
    ASSERT_TRUE(MakeTestImage(50, 30).Save(src.Path("a.png").c_str(), CXIMAGE_FORMAT_PNG));
    const QString a = QString::fromStdString(src.Path("a.png"));
    const QString dest = QString::fromStdString(out.Path("new"));
    for (const QStringList &bad : {QStringList{"--name", "../{name}"}, QStringList{"--name", "{bad}"},
                                   QStringList{"--resize", "pad", "--width", "5"},
                                   QStringList{"--crop-ratio", "1:x"}, QStringList{"--gravity", "up"},
                                   QStringList{"--gravity", "attention", "--resize", "pad", "--width", "5",
                                               "--height", "5"},
                                   QStringList{"--png-level", "10"}, QStringList{"--tif-compression", "zip"},
                                   QStringList{"--lossless", "yes"}, QStringList{"--if-larger", "no"},
                                   QStringList{"--render-dpi", "5"}}) {
        const Result r = RunBatch(bad + QStringList{"--out", dest, a});
        EXPECT_EQ(r.exitCode, 2) << bad.join(' ').toStdString();
        EXPECT_NE(r.err.find(bad[0].toStdString()), std::string::npos) << r.err;
        EXPECT_FALSE(QFileInfo::exists(dest));
    }
    // A name a date gives a line end is that file's error; nothing is written.
    Result r = RunBatch({"--name", "{date:%Y%n}{name}", "--out", dest, a});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("control character"), std::string::npos) << r.err;
    EXPECT_EQ(Entries(dest.toStdString()), QStringList());
    r = RunBatch({"--resize", "fill", "--width", "20", "--height", "20", "--name", "{w}x{h}/{name}_{n:2}",
                  "--ext-case", "upper", "--out", dest, a});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(QFile::exists(dest + "/20x20/a_01.PNG")) << r.out;
}

TEST(VelmoraBatch, AFileSizeLimitIsMetOrTheFileFails)
{
    ScratchDir src;
    const std::string photo = src.Path("photo.jpg");
    CxImage picture = MakeTexturedImage(600, 400);
    picture.SetJpegQuality(70);
    ASSERT_TRUE(picture.Save(photo.c_str(), CXIMAGE_FORMAT_JPG));
    const auto sourceSize = std::int64_t(ReadFileBytes(photo).size());
    const QString half = QString::number(sourceSize / 2);
    const struct {
        QStringList options;
        int exitCode;
        std::vector<const char *> outputs; // none: nothing written
        std::int64_t atMost;
        std::vector<const char *> says; // in the log or on standard error
    } rows[] = {
        // A copy over the limit is encoded instead; the log tells the quality.
        {{"--max-file-size", half}, 0, {"photo.jpg"}, sourceSize / 2, {"photo.jpg（质量 "}},
        {{"--max-file-size", half, "--log", "json"}, 0, {"photo.jpg"}, sourceSize / 2,
         {"\"outcome\":\"converted\"", "\"quality\":", "\"encodes\":"}},
        // One that fits stays a copy.
        {{"--max-file-size", "1M", "--log", "json"}, 0, {"photo.jpg"}, sourceSize, {"\"outcome\":\"copied\""}},
        {{"--max-file-size", "2K", "--format", "png"}, 1, {}, 0, {"cannot fit in 2 KB: "}},
        {{"--max-file-size", "2K", "--quality", "80", "--min-quality", "70"}, 1, {}, 0, {"at quality 70"}},
        {{"--max-file-size", "20K", "--format", "png", "--max-file-size-shrink", "--log", "json"}, 0,
         {"photo.PNG"}, 20000, {"\"quality\":0", "\"width\":"}},
        {{"--max-file-size", "20K", "--format", "png", "--max-file-size-shrink"}, 0, {"photo.PNG"}, 20000,
         {"photo.PNG（缩小到 "}},
        // Rewritten at 95, larger than the source that fits: the source is kept.
        {{"--max-file-size", "1M", "--jpeg-progressive", "--if-larger", "keep", "--log", "json"}, 0, {"photo.jpg"},
         sourceSize, {"\"outcome\":\"kept\""}},
        // Each of several sizes meets the limit.
        {{"--max-file-size", "12K", "--sizes", "200w,500w"}, 0, {"photo_200w.jpg", "photo_500w.jpg"}, 12000,
         {"photo_500w.jpg（质量 "}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.options.join(' ').toStdString());
        ScratchDir out;
        const Result r = RunBatch(row.options + QStringList{"--out", QString::fromStdString(out.Root()),
                                                            QString::fromStdString(photo)});
        EXPECT_EQ(r.exitCode, row.exitCode) << r.err;
        for (const char *text : row.says)
            EXPECT_NE((r.out + r.err).find(text), std::string::npos) << r.out << r.err;
        EXPECT_EQ(Entries(out.Root()).size(), qsizetype(row.outputs.size()));
        for (const char *output : row.outputs) {
            const std::vector<std::uint8_t> written = ReadFileBytes(out.Path(output));
            EXPECT_GT(written.size(), 0u) << output;
            EXPECT_LE(std::int64_t(written.size()), row.atMost) << output;
        }
    }
}

TEST(VelmoraBatch, VersionAndHelpOnTheTerminal)
{
    const QStringList noDisplay = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    const struct {
        const char *program;
        QStringList args;
        std::string firstLine;
    } rows[] = {
        {VELMORA_BATCH_EXE, {"--version"}, "velmora-batch 1.00"},
        {VELMORA_BATCH_EXE, {"--quality", "50", "-V", "--bogus"}, "velmora-batch 1.00"},
        {VELMORA_EXE, {"--version"}, "velmora 1.00"},
        {VELMORA_EXE, {"/no/such/file", "-V"}, "velmora 1.00"},
        {VELMORA_EXE, {"--help"}, "Usage: velmora [FILE|FOLDER|URI]..."},
        {VELMORA_EXE, {"-h", "--version"}, "Usage: velmora [FILE|FOLDER|URI]..."},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        const Result r = RunBatch(row.args, {}, row.program, noDisplay);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out.substr(0, r.out.find('\n')), row.firstLine);
        if (row.firstLine.starts_with("Usage")) {
            for (const char *option : {"\n  -h, --help ", "\n  -V, --version ", "\n      --run ",
                                       "\n      --preset NAME\n", "\n      --choose-preset\n"})
                EXPECT_NE(r.out.find(option), std::string::npos) << option;
            continue;
        }
        for (const char *library : {"libjpeg-turbo", "libpng", "libtiff", "giflib", "libwebp", "libavif", "libheif",
                                    "libjxl", "exiv2", "lcms2", "zlib", "Qt"}) {
            const std::size_t at = r.out.find("\n" + std::string(library) + " ");
            ASSERT_NE(at, std::string::npos) << library;
            EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(r.out[at + std::strlen(library) + 2]))) << library;
        }
    }

    // Every line of both programs' help fits a terminal of 80 columns, a
    // wide character taking two, in each language.
    for (const char *program : {VELMORA_BATCH_EXE, VELMORA_EXE})
        for (const char *lang : {"LANG=C", "LANG=en_US.UTF-8", "LANG=zh_CN.UTF-8"}) {
            const Result r = RunBatch({"--help"}, {}, program, noDisplay + QStringList{"LC_ALL", lang});
            ASSERT_EQ(r.exitCode, 0) << program << lang;
            for (const QString &line : QString::fromStdString(r.out).split('\n')) {
                int columns = 0;
                for (const QChar c : line)
                    columns += c.unicode() >= 0x1100 ? 2 : 1;
                EXPECT_LE(columns, 80) << program << " " << lang << ": " << line.toStdString();
            }
        }
}

// WebP and JPEG XL from the table: a folder's files are converted, and an
// output is lossless at quality 100 unless a stamp sets JPEG's 95.
TEST(VelmoraBatch, WebpAndJxlInAndOut)
{
    ScratchDir webp, jxl, png;
    CxImage picture = MakeTestImage(60, 40);
    ASSERT_TRUE(picture.Save(png.Path("a.png").c_str(), CXIMAGE_FORMAT_PNG));
    picture.SetJpegQuality(100);
    ASSERT_TRUE(picture.Save(webp.Path("a.webp").c_str(), CXIMAGE_FORMAT_WEBP));
    ASSERT_TRUE(picture.Save(jxl.Path("a.jxl").c_str(), CXIMAGE_FORMAT_JXL));
    struct Row {
        const ScratchDir &source;
        QStringList options;
        const char *output;
        const char *chunk; // of a WebP output's image data
        bool exact;
    } rows[] = {
        {webp, {"--format", "png"}, "a.PNG", nullptr, true},
        {png, {"--format", "webp", "--quality", "100"}, "a.WEBP", "VP8L", true},
        {png, {"--format", "webp", "--quality", "100", "--stamp", "x"}, "a.WEBP", "VP8 ", false},
        {png, {"--format", "webp", "--quality", "40"}, "a.WEBP", "VP8 ", false},
        {jxl, {"--format", "png"}, "a.PNG", nullptr, true},
        {png, {"--format", "jxl", "--quality", "100"}, "a.JXL", nullptr, true},
        {png, {"--format", "jxl", "--quality", "100", "--stamp", "x"}, "a.JXL", nullptr, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.options.join(' ').toStdString());
        ScratchDir out;
        const Result r = RunBatch(row.options + QStringList{"--out", QString::fromStdString(out.Root()),
                                                            QString::fromStdString(row.source.Root())});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        const std::vector<std::uint8_t> bytes = ReadFileBytes(out.Path(row.output));
        ASSERT_GT(bytes.size(), 16u);
        if (row.chunk) {
            EXPECT_EQ(std::string(bytes.begin() + 12, bytes.begin() + 16), row.chunk);
        }
        CxImage back(out.Path(row.output).c_str(), 0);
        ASSERT_EQ(back.GetWidth(), 60);
        EXPECT_EQ(MaxChannelDiff(back, picture) == 0, row.exact);
    }

    // A plain copy keeps the file; asked to lose its EXIF, a WebP has it
    // taken out in place, a JPEG XL is converted.
    const std::pair<const char *, const char *> tagged[] = {{"photo/meta.webp", "EXIF"},
                                                            {"jxl/turned.jxl", "Exif"}};
    for (const auto &[fixture, block] : tagged) {
        ScratchDir in;
        const std::string name = std::string("t") + std::strrchr(fixture, '.');
        const std::vector<std::uint8_t> original = ReadFileBytes(DataPath(fixture));
        ASSERT_TRUE(WriteFileBytes(in.Path(name), original));
        for (bool strip : {false, true}) {
            SCOPED_TRACE(testing::Message() << fixture << (strip ? " --strip" : ""));
            ScratchDir out;
            QStringList args{"--out", QString::fromStdString(out.Root()), QString::fromStdString(in.Path(name))};
            if (strip)
                args.prepend("--strip");
            const Result r = RunBatch(args);
            EXPECT_EQ(r.exitCode, 0) << r.err;
            const std::vector<std::uint8_t> bytes = ReadFileBytes(out.Path(name));
            ASSERT_FALSE(bytes.empty());
            EXPECT_EQ(bytes == original, !strip);
            EXPECT_EQ(std::string(bytes.begin(), bytes.end()).find(block) != std::string::npos, !strip);
        }
    }
}

// AVIF and HEIC from the folder: HEIC is only read, so under "keep the
// format" it stays a plain copy until an option changes it, and is then
// written as JPEG. Every output is upright (the files say so by irot).
TEST(VelmoraBatch, AvifAndHeicInAndOut)
{
    ScratchDir avif, heic, png;
    const std::vector<std::uint8_t> heicBytes = ReadFileBytes(DataPath("photo/orient6.heic"));
    ASSERT_TRUE(WriteFileBytes(heic.Path("p.heic"), heicBytes));
    ASSERT_TRUE(WriteFileBytes(avif.Path("p.avif"), ReadFileBytes(DataPath("photo/orient6.avif"))));
    CxImage upright(DataPath("photo/orient1.png").c_str(), 0);
    ASSERT_TRUE(upright.Save(png.Path("p.png").c_str(), CXIMAGE_FORMAT_PNG));
    struct Row {
        const ScratchDir &source;
        QStringList options;
        const char *output;
        int maxDiff; // from the upright picture
        bool exif;
    } rows[] = {
        {heic, {}, "p.heic", 1, false},
        {heic, {"--stamp", "x"}, "p.JPG", 255, false},
        {heic, {"--strip"}, "p.JPG", 8, false},
        {heic, {"--format", "avif", "--quality", "100"}, "p.AVIF", 1, false},
        {avif, {"--format", "jpg", "--quality", "100"}, "p.JPG", 8, true},
        {avif, {"--strip"}, "p.avif", 16, false},
        {png, {"--format", "avif", "--quality", "100"}, "p.AVIF", 0, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.options.join(' ').toStdString());
        ScratchDir out;
        const Result r = RunBatch(row.options + QStringList{"--out", QString::fromStdString(out.Root()),
                                                            QString::fromStdString(row.source.Root())});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        CxImage back(out.Path(row.output).c_str(), 0);
        ASSERT_EQ(back.GetWidth(), 32);
        ASSERT_EQ(back.GetHeight(), 16);
        EXPECT_LE(MaxChannelDiff(back, upright), row.maxDiff);
        EXPECT_EQ(!back.GetMetadata().exif.empty(), row.exif);
        if (row.options.isEmpty()) {
            EXPECT_EQ(ReadFileBytes(out.Path(row.output)), heicBytes);
        }
    }
}

// Runs over a tree, one after another on the same folders: the first
// mirrors it, the next ones leave what exists alone or renew what changed.
TEST(VelmoraBatch, TreesListsAndReruns)
{
    ScratchDir dir;
    const std::string src = dir.Path("src"), out = src + "/out", out2 = dir.Path("out2");
    for (const char *folder : {"src", "src/sub", "src/sub/deep", "src/.hidden"})
        ASSERT_EQ(mkdir(dir.Path(folder).c_str(), 0755), 0);
    for (const char *name : {"src/a.png", "src/sub/c.png", "src/sub/deep/d.png", "src/.hidden/h.png", "src/n\nl.png"})
        ASSERT_TRUE(MakeTestImage(8, 6).Save(dir.Path(name).c_str(), CXIMAGE_FORMAT_PNG));
    // Programs whose names end like formats are no pictures.
    for (const char *name : {"src/cwebp", "src/sub/fax2tiff"})
        ASSERT_TRUE(WriteFileBytes(dir.Path(name), {'x'}));
    ASSERT_EQ(symlink("..", dir.Path("src/sub/up").c_str()), 0); // a loop
    ASSERT_TRUE(WriteFileBytes(dir.Path("list"), {}));
    const std::string a = src + "/a.png", c = src + "/sub/c.png", d = src + "/sub/deep/d.png", nl = src + "/n\nl.png";
    auto from = [](const std::string &s) { return "从: " + s + "\n"; };
    auto to = [](const std::string &s) { return "  到: " + s + "\n"; };
    auto kept = [](const std::string &s) { return "  跳过: " + s + "\n"; };
    const QStringList tree{"--format", "bmp", "-r", "--out", QString::fromStdString(out), QString::fromStdString(src)};
    const struct {
        const char *what;
        QStringList args;
        std::function<void()> before;
        std::string log;
    } rows[] = {
        {"mirrored, hidden folders and the loop left out", tree, [] {},
         from(a) + to(out + "/a.BMP") + from(nl) + to(out + "/n\nl.BMP") + from(c) + to(out + "/sub/c.BMP") +
             from(d) + to(out + "/sub/deep/d.BMP") + "\n总计文件: 4; 已转换: 4; 错误: 0。\n"},
        // d is no picture any more: a kept output is decided without decoding.
        {"skip, and the destination inside the tree is not walked", QStringList{"--overwrite", "skip"} + tree,
         [&] { ASSERT_TRUE(WriteFileBytes(d, {'x'})); },
         from(a) + kept(out + "/a.BMP") + from(nl) + kept(out + "/n\nl.BMP") + from(c) + kept(out + "/sub/c.BMP") +
             from(d) + kept(out + "/sub/deep/d.BMP") + "\n总计文件: 4; 已转换: 0; 已跳过: 4; 错误: 0。\n"},
        {"update renews only what is newer", QStringList{"--update"} + tree,
         [&] {
             struct stat st;
             using Instant = decltype(st.st_mtim);
             const Instant old[2] = {{946684800, 0}, {946684800, 0}}; // 2000-01-01
             ASSERT_EQ(utimensat(AT_FDCWD, d.c_str(), old, 0), 0);
             // a changes just after its output was written.
             ASSERT_EQ(stat((out + "/a.BMP").c_str(), &st), 0);
             Instant later[2] = {st.st_mtim, st.st_mtim};
             later[1].tv_nsec += 1;
             if (later[1].tv_nsec == 1000000000)
                 later[1] = {later[1].tv_sec + 1, 0};
             later[0] = later[1];
             ASSERT_EQ(utimensat(AT_FDCWD, a.c_str(), later, 0), 0);
         },
         from(a) + to(out + "/a.BMP") + from(nl) + kept(out + "/n\nl.BMP") + from(c) + kept(out + "/sub/c.BMP") +
             from(d) + kept(out + "/sub/deep/d.BMP") + "\n总计文件: 4; 已转换: 1; 已跳过: 3; 错误: 0。\n"},
        {"a second update converts nothing", QStringList{"--update"} + tree, [] {},
         from(a) + kept(out + "/a.BMP") + from(nl) + kept(out + "/n\nl.BMP") + from(c) + kept(out + "/sub/c.BMP") +
             from(d) + kept(out + "/sub/deep/d.BMP") + "\n总计文件: 4; 已转换: 0; 已跳过: 4; 错误: 0。\n"},
        {"a NUL-ended list keeps a name with a line end",
         {"--format", "bmp", "-0", "--files-from", QString::fromStdString(dir.Path("list")), "--out",
          QString::fromStdString(out2)},
         [&] {
             const std::string names = nl + '\0' + c + '\0';
             ASSERT_TRUE(WriteFileBytes(dir.Path("list"), std::vector<std::uint8_t>(names.begin(), names.end())));
         },
         from(nl) + to(out2 + "/n\nl.BMP") + from(c) + to(out2 + "/c.BMP") + "\n总计文件: 2; 已转换: 2; 错误: 0。\n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        row.before();
        const Result r = RunBatch(row.args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, row.log);
    }
    EXPECT_EQ(Entries(out), (QStringList{"a.BMP", "n\nl.BMP", "sub"}));

    // The same rerun as JSON lines: every line parses.
    const Result r = RunBatch(QStringList{"--log", "json", "--overwrite", "skip"} + tree);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    QStringList statuses;
    for (const QByteArray &line : QByteArray::fromStdString(r.out).split('\n')) {
        if (line.isEmpty())
            continue;
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        statuses << (o["type"] == "summary" ? QString::number(o["skipped"].toInt()) : o["status"].toString());
    }
    EXPECT_EQ(statuses, (QStringList{"skipped", "skipped", "skipped", "skipped", "4"}));
}

// However a job is split (by hand, by a scheduler's array, by GNU parallel),
// the shards together write byte for byte what one run writes.
// Seven pictures to split, the arguments of a numbered run over them into a
// folder, and what a folder holds.
struct ShardJob {
    ScratchDir dir;
    ShardJob()
    {
        mkdir(dir.Path("src").c_str(), 0755);
        for (int i = 0; i < 7; ++i)
            MakeTestImage(6 + i, 5).Save(dir.Path("src/" + std::to_string(i) + ".png").c_str(), CXIMAGE_FORMAT_PNG);
    }
    QStringList Args(const std::string &out) const
    {
        return QStringList{"--format", "bmp", "--prefix", "p_", "--start", "9", "--overwrite", "overwrite",
                           "--out", QString::fromStdString(dir.Path(out)), QString::fromStdString(dir.Path("src"))};
    }
    std::map<QString, std::vector<std::uint8_t>> Contents(const std::string &out) const
    {
        std::map<QString, std::vector<std::uint8_t>> files;
        for (const QString &name : Entries(dir.Path(out)))
            files[name] = ReadFileBytes(dir.Path(out + "/" + name.toStdString()));
        return files;
    }
    // What one run writes.
    std::map<QString, std::vector<std::uint8_t>> One() const
    {
        EXPECT_EQ(RunBatch(Args("one")).exitCode, 0);
        const auto one = Contents("one");
        EXPECT_EQ(one.size(), 7u);
        EXPECT_EQ(one.begin()->first, "p_009.BMP");
        return one;
    }
};

TEST(VelmoraBatch, ShardsTogetherWriteWhatOneRunWrites)
{
    const ShardJob job;
    auto args = [&](const std::string &out) { return job.Args(out); };
    auto contents = [&](const std::string &out) { return job.Contents(out); };
    const auto one = job.One();

    const struct {
        const char *how;
        std::function<QStringList(int k)> extra; // the arguments and environment of shard k of 3
    } rows[] = {
        {"by hand", [](int k) { return QStringList{"--shard", QString("%1/3").arg(k)}; }},
        {"Slurm array 10-14:2",
         [](int k) {
             return QStringList{"--shard", "auto", "SLURM_ARRAY_TASK_ID=" + QString::number(8 + 2 * k),
                                "SLURM_ARRAY_TASK_MIN=10", "SLURM_ARRAY_TASK_MAX=14", "SLURM_ARRAY_TASK_STEP=2"};
         }},
        {"Kubernetes Indexed Job",
         [](int k) {
             return QStringList{"--shard", "auto", "--shards", "3", "JOB_COMPLETION_INDEX=" + QString::number(k - 1)};
         }},
    };
    int row = 0;
    for (const auto &r : rows) {
        SCOPED_TRACE(r.how);
        const std::string out = "shards" + std::to_string(row++);
        for (int k = 1; k <= 3; ++k) {
            QStringList a = args(out), vars;
            for (const QString &e : r.extra(k))
                (e.contains('=') ? vars : a).append(e);
            const Result res = RunBatch(a, {}, VELMORA_BATCH_EXE, vars);
            EXPECT_EQ(res.exitCode, 0) << res.err;
        }
        EXPECT_EQ(contents(out), one);
    }

    // GNU parallel starting four shards at once on this machine.
    QProcess parallel;
    parallel.setStandardInputFile(QProcess::nullDevice());
    parallel.start("parallel", QStringList{"--will-cite", "--halt", "now,fail=1", VELMORA_BATCH_EXE} + args("par") +
                                   QStringList{"--shard", "{}/4", ":::", "1", "2", "3", "4"});
    ASSERT_TRUE(parallel.waitForFinished(120000)) << "GNU parallel (Debian's parallel) is needed";
    EXPECT_EQ(parallel.exitCode(), 0) << parallel.readAllStandardError().toStdString();
    EXPECT_EQ(contents("par"), one);

    std::string error;
    EXPECT_FALSE(Parse({"--shard", "1/2", "a.png"}, &error)); // would ask
    EXPECT_FALSE(Parse({"--shard", "1/2", "--overwrite", "rename", "a.png"}, &error));
    EXPECT_FALSE(Parse({"--shard", "3/2", "--update", "a.png"}, &error));
    EXPECT_FALSE(Parse({"--shard", "auto", "--update", "a.png"}, &error));
    EXPECT_TRUE(Parse({"--shard", "2/2", "--update", "a.png"}, &error)) << error;
}

// GNU parallel spreading the shards over "hosts" by ssh: an sshd of our own
// on 127.0.0.1 with throwaway keys stands in for the other machines.
TEST(VelmoraBatch, ParallelOverSshWritesWhatOneRunWrites)
{
    const ShardJob job;
    const std::string d = job.dir.Path("ssh");
    mkdir(d.c_str(), 0700);
    auto run = [](const QString &program, const QStringList &args) {
        QProcess p;
        p.setStandardInputFile(QProcess::nullDevice());
        p.start(program, args);
        return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    };
    const QString key = QString::fromStdString(d + "/key"), hostKey = QString::fromStdString(d + "/host");
    if (!QFile::exists("/usr/sbin/sshd") || !run("ssh-keygen", {"-q", "-t", "ed25519", "-N", "", "-f", key}) ||
        !run("ssh-keygen", {"-q", "-t", "ed25519", "-N", "", "-f", hostKey}))
        GTEST_SKIP() << "no sshd or ssh-keygen here (Debian's openssh-server): parallel over ssh not tried";
    QFile::copy(key + ".pub", QString::fromStdString(d + "/authorized_keys"));
    // sshd checks for its privilege separation folder even when it never uses it.
    if (getuid() == 0)
        mkdir("/run/sshd", 0755);
    // A port nobody listens on: the one the system gives for port 0.
    int port = 0;
    if (const int fd = socket(AF_INET, SOCK_STREAM, 0); fd >= 0) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) == 0)
            port = ntohs(a.sin_port);
        close(fd);
    }
    const std::string config = "Port " + std::to_string(port) + "\nListenAddress 127.0.0.1\nHostKey " +
                               hostKey.toStdString() + "\nAuthorizedKeysFile " + d +
                               "/authorized_keys\nPidFile " + d +
                               "/pid\nStrictModes no\nUsePAM no\nPasswordAuthentication no\n"
                               "KbdInteractiveAuthentication no\nPermitRootLogin prohibit-password\n";
    ASSERT_TRUE(WriteFileBytes(d + "/config", std::vector<std::uint8_t>(config.begin(), config.end())));
    QProcess sshd;
    sshd.start("/usr/sbin/sshd", {"-D", "-e", "-f", QString::fromStdString(d + "/config")});
    sshd.waitForStarted();
    const QString ssh = QString("ssh -i %1 -p %2 -o BatchMode=yes -o StrictHostKeyChecking=no "
                                "-o UserKnownHostsFile=/dev/null -o LogLevel=ERROR")
                            .arg(key)
                            .arg(port);
    bool up = false;
    for (int tries = 0; tries < 50 && !up && sshd.state() == QProcess::Running; ++tries) {
        QThread::msleep(100);
        up = run("sh", {"-c", ssh + " 127.0.0.1 true"});
    }
    if (!up) {
        const QString why = QString::fromLocal8Bit(sshd.readAllStandardError()).trimmed();
        sshd.kill();
        sshd.waitForFinished();
        GTEST_SKIP() << "an sshd on 127.0.0.1 could not be started or reached here: " << why.toStdString();
    }
    QProcess parallel;
    parallel.setStandardInputFile(QProcess::nullDevice());
    parallel.start("parallel", QStringList{"--will-cite", "--halt", "now,fail=1", "--ssh", ssh, "--sshlogin",
                                           "2/127.0.0.1", VELMORA_BATCH_EXE} +
                                   job.Args("remote") + QStringList{"--shard", "{}/3", ":::", "1", "2", "3"});
    const bool finished = parallel.waitForFinished(120000);
    sshd.terminate();
    sshd.waitForFinished();
    ASSERT_TRUE(finished);
    EXPECT_EQ(parallel.exitCode(), 0) << parallel.readAllStandardError().toStdString();
    EXPECT_EQ(job.Contents("remote"), job.One());
}

// The reproducers of a link in the destination and of a name too long: the
// source stays as it was, and the message names the output.
TEST(VelmoraBatch, NoWriteGoesThroughALinkAndWriteErrorsNameTheOutput)
{
    ScratchDir dir;
    ASSERT_EQ(mkdir(dir.Path("src").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.Path("out").c_str(), 0755), 0);
    const std::string source = dir.Path("src/a.png");
    ASSERT_TRUE(MakeTestImage(40, 30).Save(source.c_str(), CXIMAGE_FORMAT_PNG));
    const std::vector<std::uint8_t> before = ReadFileBytes(source);
    ASSERT_EQ(symlink(source.c_str(), dir.Path("out/a.png").c_str()), 0);
    const std::string longName(252, 'n');
    const struct {
        QStringList args;
        std::string err;
    } rows[] = {
        {{"--resize", "fit", "--width", "8", "--height", "8", "--overwrite", "overwrite", "--out", "out", "src/a.png"},
         "velmora-batch: " + dir.Path("out/a.png") + ": the output is this file's source under another name\n"},
        {{"--format", "bmp", "--prefix", QString::fromStdString(longName), "--out", "out", "src/a.png"},
         "velmora-batch: " + dir.Path("out/" + longName + "a.BMP") + ": File name too long\n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.args.join(' ').left(80).toStdString());
        const Result r = RunBatch(row.args, dir.Root());
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, row.err);
        EXPECT_EQ(ReadFileBytes(source), before);
        EXPECT_EQ(Entries(dir.Path("out")), QStringList{"a.png"});
    }
}

TEST(VelmoraBatch, RelativeNamesAreTakenFromTheFolderAsTyped)
{
    ScratchDir dir;
    ASSERT_EQ(mkdir(dir.Path("real").c_str(), 0755), 0);
    for (const char *name : {"a.png", "b.png"})
        ASSERT_TRUE(
            MakeTestImage(20, 10).Save(dir.Path(std::string("real/") + name).c_str(), CXIMAGE_FORMAT_PNG));
    // The shell stands in a link: the log shows the link, as typed.
    ASSERT_EQ(symlink("real", dir.Path("here").c_str()), 0);
    const std::string here = dir.Path("here");
    const std::string total = "\n总计文件: 2; 已转换: 2; 错误: 0。\n";
    const struct {
        QStringList args;
        std::string log;
    } rows[] = {
        {{"--format", "jpg", "--out", "j", "."},
         "从: " + here + "/a.png\n  到: " + here + "/j/a.JPG\n从: " + here + "/b.png\n  到: " + here +
             "/j/b.JPG\n" + total},
        {{"--format", "tif", "--start", "1", "--out", "web", "a.png", "b.png"},
         "从: " + here + "/a.png\n  到: " + here + "/web/001.TIF\n从: " + here + "/b.png\n  到: " + here +
             "/web/002.TIF\n" + total},
        {{"--format", "bmp", "a.png"},
         "从: " + here + "/a.png\n  到: " + here + "/a.BMP\n\n总计文件: 1; 已转换: 1; 错误: 0。\n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        const Result r = RunBatch(row.args, here);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, row.log);
    }
    EXPECT_EQ(Entries(dir.Path("real/web")), (QStringList{"001.TIF", "002.TIF"}));

    // The thumbnailer takes relative names too, and makes its folder.
    const Result r = RunBatch({"--jobs", "1", "--out", "tn/new", "."}, here, VELMORA_THUMBS_EXE);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Entries(dir.Path("real/tn/new")), (QStringList{"tn_a.jpg", "tn_b.jpg"}));
}

TEST(VelmoraBatch, ASignalStopsTheRunAndEndsTheProgramByIt)
{
    ScratchDir src;
    constexpr int kFiles = 6;
    ASSERT_TRUE(MakeTestImage(3000, 2000).Save(src.Path("p0.bmp").c_str(), CXIMAGE_FORMAT_BMP));
    for (int i = 1; i < kFiles; ++i)
        ASSERT_EQ(link(src.Path("p0.bmp").c_str(), src.Path("p" + std::to_string(i) + ".bmp").c_str()), 0);
    const struct {
        int sig;
        bool early; // while the list of files is still being read, before the run
    } rows[] = {{SIGINT, false}, {SIGTERM, false}, {SIGINT, true}, {SIGTERM, true}};
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << row.sig << (row.early ? " early" : ""));
        ScratchDir out, logs;
        const std::string list = logs.Path("list");
        ASSERT_EQ(mkfifo(list.c_str(), 0600), 0);
        std::vector<std::string> args{"--jobs", "1", "--format", "png", "--out", out.Root()};
        if (row.early)
            args.insert(args.end(), {"--files-from", list});
        else
            args.push_back(src.Root());
        int fd = -1;
        const pid_t pid = SpawnBatch(args, logs.Path("err"), fd);
        ASSERT_GT(pid, 0);
        FILE *log = fdopen(fd, "r");
        ASSERT_TRUE(log);
        bool sent = false;
        if (row.early) {
            // The open returns once the program has opened the list to read it.
            const int writer = open(list.c_str(), O_WRONLY | O_CLOEXEC);
            ASSERT_GE(writer, 0);
            sent = kill(pid, row.sig) == 0;
            // The program may have ended by the signal and closed the list
            // already: the write then fails, and must not end this test.
            const std::string names = src.Path("p0.bmp") + "\n";
            void (*const before)(int) = std::signal(SIGPIPE, SIG_IGN);
            const ssize_t n = write(writer, names.data(), names.size());
            const int error = errno;
            std::signal(SIGPIPE, before);
            EXPECT_TRUE(n == ssize_t(names.size()) || (n < 0 && error == EPIPE)) << std::strerror(error);
            close(writer);
        }
        // Once the first output is complete.
        char line[4096];
        while (!sent && std::fgets(line, sizeof line, log))
            if (std::strncmp(line, "  到: ", std::strlen("  到: ")) == 0)
                sent = kill(pid, row.sig) == 0;
        std::string rest;
        while (std::fgets(line, sizeof line, log))
            rest += line;
        std::fclose(log);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(sent);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == row.sig) << status;
        const std::vector<std::uint8_t> err = ReadFileBytes(logs.Path("err"));
        EXPECT_EQ(std::string(err.begin(), err.end()), "velmora-batch: stopped\n");
        EXPECT_EQ(rest.find("总计"), std::string::npos);
        // What was complete stays and reads back; nothing half-written is left.
        const QStringList written = Entries(out.Root());
        if (row.early) {
            EXPECT_EQ(rest, "");
            EXPECT_EQ(written.size(), 0);
        } else {
            EXPECT_GE(written.size(), 1);
        }
        EXPECT_LT(written.size(), kFiles);
        for (const QString &name : written) {
            EXPECT_FALSE(name.startsWith('.')) << name.toStdString();
            CxImage back(out.Path(name.toStdString()).c_str(), CXIMAGE_FORMAT_PNG);
            EXPECT_EQ(back.GetWidth(), 3000u) << name.toStdString();
        }
    }
}

// Whether the process holds path open.
bool HoldsOpen(pid_t pid, const std::string &path)
{
    const QString fds = QString("/proc/%1/fd").arg(pid);
    for (const QString &fd : QDir(fds).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        if (QFileInfo(fds + "/" + fd).symLinkTarget() == QString::fromStdString(path))
            return true;
    return false;
}

// A list read from a pipe that stays open and silent, or from a named pipe
// no writer ever opens: the first signal ends the reading, and the program
// by that signal, as it ends a run.
TEST(VelmoraBatch, ASignalEndsTheReadingOfAListThatStaysOpen)
{
    for (const bool named : {false, true}) {
        for (const int sig : {SIGINT, SIGTERM}) {
            SCOPED_TRACE(testing::Message() << sig << (named ? " named" : ""));
            ScratchDir out, logs;
            const std::string list = logs.Path("list");
            ASSERT_EQ(mkfifo(list.c_str(), 0600), 0);
            int in[2];
            ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
            int log = -1;
            const pid_t pid = SpawnBatch({"--files-from", named ? list : "-", "--out", out.Root()},
                                         logs.Path("err"), log, named ? -1 : in[0]);
            close(in[0]);
            ASSERT_GT(pid, 0);
            // Once the program holds the named list open, or has taken a name
            // from the pipe, it is reading the list.
            const std::string name = out.Path("a.png") + "\n";
            if (!named) {
                ASSERT_EQ(write(in[1], name.data(), name.size()), ssize_t(name.size()));
            }
            int unread = 1;
            for (int i = 0; i < 1000 && (named ? !HoldsOpen(pid, list) : unread > 0); ++i) {
                usleep(10000);
                ioctl(in[1], FIONREAD, &unread);
            }
            EXPECT_TRUE(named ? HoldsOpen(pid, list) : unread == 0);
            ASSERT_EQ(kill(pid, sig), 0);
            int status = 0;
            pid_t ended = 0;
            for (int i = 0; i < 1000 && (ended = waitpid(pid, &status, WNOHANG)) == 0; ++i)
                usleep(10000); // a guard against a hang, not a measure of speed
            if (ended == 0) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
            }
            close(in[1]);
            close(log);
            EXPECT_EQ(ended, pid) << "still reading the list 10 s after the signal";
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
            const std::vector<std::uint8_t> err = ReadFileBytes(logs.Path("err"));
            EXPECT_EQ(std::string(err.begin(), err.end()), "velmora-batch: stopped\n");
            EXPECT_EQ(Entries(out.Root()), QStringList());
        }
    }
}

TEST(TerminalReporter, AnswersAreReadLineByLineAndAStopCancelsTheQuestion)
{
    const struct {
        std::string input;
        bool stopWhileAsking; // stop once the question is shown, then type the input
        OverwriteChoice choice;
        bool remember;
        int prompts; // the choices asked for; the question itself shows once
    } rows[] = {
        {"o\n", false, OverwriteChoice::Overwrite, false, 1},
        {"what\n\n R! \n", false, OverwriteChoice::AutoRename, true, 3},
        {"r", false, OverwriteChoice::AutoRename, false, 1}, // a last line without its end
        {"skip!\n", false, OverwriteChoice::Skip, true, 1},
        {"", false, OverwriteChoice::Cancel, false, 1},
        {"o\n", true, OverwriteChoice::Cancel, false, 1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.input);
        int in[2], err[2];
        ASSERT_EQ(pipe(in), 0);
        ASSERT_EQ(pipe(err), 0);
        FILE *errFile = fdopen(err[1], "w");
        std::stop_source stop;
        TerminalReporter reporter(in[0], stdout, errFile, stop.get_token());
        auto asked = std::async(std::launch::async, [&] { return reporter.AskOverwrite("exists"); });
        std::string shown;
        char c;
        if (row.stopWhileAsking) {
            while (shown.find("s!): ") == std::string::npos && read(err[0], &c, 1) == 1)
                shown += c;
            stop.request_stop();
        }
        ASSERT_EQ(write(in[1], row.input.data(), row.input.size()), ssize_t(row.input.size()));
        close(in[1]);
        const OverwriteAnswer answer = asked.get();
        EXPECT_EQ(answer.choice, row.choice);
        EXPECT_EQ(answer.remember, row.remember);
        std::fclose(errFile);
        while (read(err[0], &c, 1) == 1)
            shown += c;
        const auto count = [&shown](const std::string &text) {
            int n = 0;
            for (std::size_t at = shown.find(text); at != std::string::npos; at = shown.find(text, at + 1))
                ++n;
            return n;
        };
        EXPECT_EQ(count("\"exists\""), 1) << shown;
        EXPECT_EQ(shown.rfind(OverwriteQuestion("exists", "\n") + "\n[r] rename", 0), 0u) << shown;
        EXPECT_EQ(count("s!): "), row.prompts) << shown;
        close(err[0]);
        close(in[0]);
    }
}

TEST(JsonLog, LinesForRecordsAndNames)
{
    FileRecord ok{"/p/a.png", "/o/a.JPG", FileOutcome::Converted, {}, 10, 20, 1500};
    FileRecord bad{"/p/\xff\"b\n.png", {}, FileOutcome::OpenError, "not a \"picture\"", 3, 0, 0};
    FileRecord kept{"/p/c.png", "/o/c.JPG", FileOutcome::Skipped, {}, 5, 0, 0};
    FileRecord turned{"/p/d.jpg", "/o/d.jpg", FileOutcome::Converted, {}, 9, 8, 0, {}, {}, FileWay::Lossless};
    FileRecord copied{"/p/e.jpg", "/o/e.jpg", FileOutcome::Copied, {}, 7, 7, 0, {}, {}, FileWay::Kept};
    const struct {
        std::string line, expected;
    } rows[] = {
        {jsonlog::FileLine(ok), R"({"type":"file","source":"/p/a.png","output":"/o/a.JPG","status":"ok",)"
                                R"("outcome":"converted","reason":"","ms":1.500,"bytes_in":10,"bytes_out":20})"},
        {jsonlog::FileLine(bad), "{\"type\":\"file\",\"source\":\"/p/\xEF\xBF\xBD\\\"b\\u000a.png\",\"source_b64\":"
                                 "\"L3Av/yJiCi5wbmc=\",\"output\":\"\",\"status\":\"error\",\"outcome\":\"open_error\","
                                 "\"reason\":\"not a \\\"picture\\\"\",\"ms\":0.000,\"bytes_in\":3,\"bytes_out\":0}"},
        {jsonlog::FileLine(kept), R"({"type":"file","source":"/p/c.png","output":"/o/c.JPG","status":"skipped",)"
                                  R"("outcome":"skipped","reason":"","ms":0.000,"bytes_in":5,"bytes_out":0})"},
        {jsonlog::FileLine(turned), R"({"type":"file","source":"/p/d.jpg","output":"/o/d.jpg","status":"ok",)"
                                    R"("outcome":"lossless","reason":"","ms":0.000,"bytes_in":9,"bytes_out":8})"},
        {jsonlog::FileLine(copied), R"({"type":"file","source":"/p/e.jpg","output":"/o/e.jpg","status":"ok",)"
                                    R"("outcome":"kept","reason":"","ms":0.000,"bytes_in":7,"bytes_out":7})"},
        {jsonlog::SummaryLine(RunTotals{4, 2, 1, 1}),
         R"({"type":"summary","files":4,"converted":2,"skipped":1,"errors":1})"},
        // Valid UTF-8 passes as it is; overlong forms and surrogates do not.
        {jsonlog::Quote("水印\xC0\xAF\xED\xA0\x80"), "\"水印\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
    };
    for (const auto &row : rows) {
        EXPECT_EQ(row.line, row.expected);
        if (row.line.back() == '}') {
            EXPECT_FALSE(QJsonDocument::fromJson(QByteArray::fromStdString(row.line)).isNull()) << row.line;
        }
    }
}

// On a terminal a name's control characters show as \xHH, C1 ones too;
// everything else, UTF-8 included, passes as it is.
TEST(TerminalText, ControlCharactersAreEscapedByteByByte)
{
    const struct {
        std::string in, out;
    } rows[] = {
        {"/p/a b.png", "/p/a b.png"},
        {"a\nb\tc\r", "a\\x0Ab\\x09c\\x0D"},
        {"\x1b]0;owned\x07x", "\\x1B]0;owned\\x07x"},
        {std::string("\x7f\x01\0z", 4), "\\x7F\\x01\\x00z"},
        {"水印ü\xF0\x9F\x98\x80", "水印ü\xF0\x9F\x98\x80"},
        {"\xC2\x9B"
         "31m",
         "\\xC2\\x9B31m"}, // CSI as UTF-8
        {"\xC2\xA0\xC2\x80", "\xC2\xA0\\xC2\\x80"},
        {"\x9B"
         "2J",
         "\\x9B2J"},                       // a lone C1 byte
        {"\xff\xE5\x9B", "\xff\xE5\\x9B"}, // not UTF-8: only what a terminal may take as a control
    };
    for (const auto &row : rows)
        EXPECT_EQ(EscapeControls(row.in), row.out) << row.in;
}

// The reporter escapes names on a terminal only: to a pipe or a file the
// log stays byte for byte, and the JSON log keeps its own escapes.
TEST(TerminalReporter, NamesAreEscapedOnATerminalOnly)
{
    const FileRecord gone{"/p/\x1b[2Jx.png", {}, FileOutcome::Missing, "No such file or directory"};
    const std::string err = "velmora-batch: /p/\\x1B[2Jx.png: No such file or directory\n";
    const struct {
        bool terminal, json;
        std::string out, err;
    } rows[] = {
        {false, false, "从: /p/\x1b[2Jx.png\n  错误: 文件不存在。\n",
         "velmora-batch: /p/\x1b[2Jx.png: No such file or directory\n"},
        {true, false, "从: /p/\\x1B[2Jx.png\n  错误: 文件不存在。\n", err},
        {true, true, jsonlog::FileLine(gone) + "\n", err},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << row.terminal << row.json);
        FILE *out = std::tmpfile(), *errFile = std::tmpfile();
        ASSERT_TRUE(out && errFile);
        TerminalReporter reporter(-1, out, errFile);
        reporter.SetEscaped(row.terminal, row.terminal);
        reporter.SetJson(row.json);
        reporter.FileStarted(gone.source);
        reporter.FileDone(gone);
        for (const auto &[file, expected] : {std::pair(out, row.out), std::pair(errFile, row.err)}) {
            std::string text(std::size_t(std::ftell(file)), '\0');
            std::rewind(file);
            text.resize(std::fread(text.data(), 1, text.size(), file));
            std::fclose(file);
            EXPECT_EQ(text, expected);
        }
    }
}

// A refused value goes to a pipe as it was given, to a terminal escaped.
TEST(VelmoraBatch, RefusedValuesAreEscapedOnATerminalOnly)
{
    const std::string bad = "--x\x1b]0;owned\x07";
    const Result piped = RunBatch({QString::fromStdString(bad), "v", "/a.png"});
    EXPECT_EQ(piped.exitCode, 2);
    EXPECT_NE(piped.err.find("unknown option " + bad + "\n"), std::string::npos) << piped.err;

    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, slave, 2);
    std::vector<char *> argv{const_cast<char *>(VELMORA_BATCH_EXE), const_cast<char *>(bad.c_str()),
                             const_cast<char *>("v"), const_cast<char *>("/a.png"), nullptr};
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, VELMORA_BATCH_EXE, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
    fcntl(master, F_SETFL, O_NONBLOCK);
    std::string shown;
    char buffer[4096];
    for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;)
        shown.append(buffer, std::size_t(n));
    close(master);
    close(slave);
    EXPECT_NE(shown.find("unknown option --x\\x1B]0;owned\\x07"), std::string::npos) << shown;
    EXPECT_EQ(shown.find('\x1b'), std::string::npos);
}

// The progress line goes to standard error only, is cleared before a reason
// line and at the end, and leaves the log as it is.
TEST(TerminalReporter, ProgressLineIsClearedBeforeOtherTextAndAtTheEnd)
{
    FILE *out = std::tmpfile(), *err = std::tmpfile();
    ASSERT_TRUE(out && err);
    TerminalReporter reporter(-1, out, err);
    reporter.ShowProgress(2);
    reporter.FileStarted("/a.png");
    reporter.FileDone(FileRecord{"/a.png", "/a.BMP", FileOutcome::Converted, {}});
    reporter.FileStarted("/b.png");
    reporter.FileDone(FileRecord{"/b.png", {}, FileOutcome::Missing, "No such file or directory"});
    reporter.SetSummary(RunTotals{2, 1, 1});
    reporter.ConvertDone();
    auto text = [](FILE *f) {
        std::string s(std::size_t(std::ftell(f)), '\0');
        std::rewind(f);
        s.resize(std::fread(s.data(), 1, s.size(), f));
        std::fclose(f);
        return s;
    };
    EXPECT_EQ(text(out), "从: /a.png\n  到: /a.BMP\n从: /b.png\n  错误: 文件不存在。\n\n总计文件: 2; 已转换: 1; 错误: 1。\n");
    const std::string e = text(err);
    EXPECT_EQ(e.rfind("\r\033[K1/2 files", 0), 0u);
    const std::size_t reason = e.find("velmora-batch: /b.png: No such file or directory\n");
    ASSERT_NE(reason, std::string::npos);
    EXPECT_EQ(e.substr(reason - 4, 4), "\r\033[K");
    EXPECT_NE(e.find("\r\033[K2/2 files", reason), std::string::npos);
    EXPECT_EQ(e.substr(e.size() - 4), "\r\033[K");
}

TEST(VelmoraBatch, PhotosAreTurnedUprightUnlessTheFlagSaysNot)
{
    const struct {
        const char *flag;
        int width, height;
    } rows[] = {{nullptr, 20, 10}, {"--no-autorotate", 10, 20}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.flag ? row.flag : "defaults");
        ScratchDir out;
        QStringList args{"--resize", "fit", "--width", "20",
                         "--height", "20",  "--out",   QString::fromStdString(out.Root())};
        if (row.flag)
            args << row.flag;
        const Result r = RunBatch(args << QString::fromStdString(DataPath("photo/orient6.jpg")));
        EXPECT_EQ(r.exitCode, 0) << r.err;
        CxImage back;
        ASSERT_TRUE(
            back.Load(out.Path("orient6.jpg").c_str(), CXIMAGE_FORMAT_UNKNOWN, {.autoOrient = false}));
        EXPECT_EQ(back.GetWidth(), row.width);
        EXPECT_EQ(back.GetHeight(), row.height);
    }
}

// An encoder setting makes a same-format file a conversion written as it
// asks; without one the file stays a plain copy, byte for byte.
TEST(VelmoraBatch, EncoderSettingsRewriteFilesOfTheirFormat)
{
    const std::string photo = DataPath("photo/meta.jpg");
    const auto isProgressive = [](const std::vector<std::uint8_t> &b) {
        for (std::size_t i = 2; i + 1 < b.size() && b[i] == 0xFF; i += 2 + std::size_t(b[i + 2] << 8 | b[i + 3]))
            if (b[i + 1] == 0xC2)
                return true;
        return false;
    };
    const struct {
        QStringList options;
        bool copy, progressive;
        const char *resolution;
    } rows[] = {
        {{}, true, false, ""},
        {{"--png-level", "9"}, true, false, ""},
        {{"--jpeg-progressive", "--dpi", "300"}, false, true, "300/1"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.options.join(' ').toStdString());
        ScratchDir out;
        const Result r = RunBatch(row.options + QStringList{"--out", QString::fromStdString(out.Root()),
                                                            QString::fromStdString(photo)});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const std::vector<std::uint8_t> bytes = ReadFileBytes(out.Path("meta.jpg"));
        EXPECT_EQ(bytes == ReadFileBytes(photo), row.copy);
        EXPECT_EQ(isProgressive(bytes), row.progressive);
        EXPECT_EQ(MetadataKeys(out.Path("meta.jpg"))["Exif.Image.XResolution"], row.resolution);
    }
}

// On an English desktop the log, the summary, the errors and --help are
// English; --log json is the same in every language.
TEST(VelmoraBatch, SpeaksEnglishOnAnEnglishDesktop)
{
    const auto hasCjk = [](const std::string &text) {
        for (const QChar c : QString::fromStdString(text))
            if ((c.unicode() >= 0x2E80 && c.unicode() <= 0x9FFF) ||
                (c.unicode() >= 0xFF00 && c.unicode() <= 0xFFEF))
                return true;
        return false;
    };
    const QStringList english = {"LANG=en_US.UTF-8", "LANGUAGE", "LC_ALL", "LC_MESSAGES"};
    ScratchDir src, out;
    ASSERT_TRUE(MakeTestImage(40, 20).Save(src.Path("a.png").c_str(), CXIMAGE_FORMAT_PNG));
    const QString a = QString::fromStdString(src.Path("a.png")),
                  none = QString::fromStdString(src.Path("none.png"));
    const QString dest = QString::fromStdString(out.Root());
    const struct {
        QStringList args;
        int exitCode;
        std::string said; // on standard output or error
    } rows[] = {
        {{"--format", "bmp", "--out", dest, a, none},
         1,
         "From: " + src.Path("a.png") + "\n  To: " + out.Path("a.BMP") + "\nFrom: " + src.Path("none.png") +
             "\n  Error: the file is missing.\n\nTotal files: 2; converted: 1; errors: 1.\n"},
        {{"--format", "bmp", "--overwrite", "skip", "--out", dest, a},
         0,
         "Total files: 1; converted: 0; skipped: 1"},
        {{"--format", "bmp", "--out", dest, a}, 1, "there is no terminal to ask"},
        {{"--help"}, 0, "Usage: velmora-batch [options] FILE..."},
        {{"--resize", "fit", "x.png"},
         2,
         "--resize fit needs --width and --height\nTry 'velmora-batch --help'."},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        const Result r = RunBatch(row.args, {}, VELMORA_BATCH_EXE, english);
        EXPECT_EQ(r.exitCode, row.exitCode) << r.err;
        EXPECT_NE((r.out + r.err).find(row.said), std::string::npos) << r.out << r.err;
        EXPECT_FALSE(hasCjk(r.out + r.err)) << r.out << r.err;
    }
    const QStringList json = {"--log",     "json",  "--format", "bmp", "--overwrite",
                              "overwrite", "--out", dest,       a,     none};
    const QRegularExpression time(QStringLiteral("\"ms\":[0-9.]+"));
    const auto jsonLog = [&](const QStringList &vars) {
        return QString::fromStdString(RunBatch(json, {}, VELMORA_BATCH_EXE, vars).out)
            .replace(time, "\"ms\":0");
    };
    EXPECT_EQ(jsonLog(english), jsonLog({"LANG=C", "LANGUAGE", "LC_ALL", "LC_MESSAGES"}));
}

namespace {

// Every entry below root with its size and modification time, hidden ones too.
std::map<std::string, std::pair<long long, long long>> Listing(const std::string &root)
{
    std::map<std::string, std::pair<long long, long long>> entries;
    QDirIterator it(QString::fromStdString(root), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const std::string path = it.next().toStdString();
        struct stat st;
        if (lstat(path.c_str(), &st) == 0)
            entries[path] = {st.st_size, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
    }
    return entries;
}

// The file lines of a JSON log: source, output, status, outcome.
// A dry run's records say "planned" where the run's say what was done (asPlanned
// reads a run's log so); a failure is the same in both.
std::vector<std::string> FileRecords(const std::string &log, bool asPlanned = false)
{
    std::vector<std::string> records;
    for (const QString &line : QString::fromStdString(log).split('\n', Qt::SkipEmptyParts)) {
        const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
        const QString status = o["status"].toString();
        if (o["type"].toString() == "file")
            records.push_back((o["source"].toString() + " > " + o["output"].toString() + " " + status + " " +
                               (asPlanned && status != "error" ? "planned" : o["outcome"].toString()))
                                  .toStdString());
    }
    return records;
}

}  // namespace

// A dry run tells, file for file, what the run after it does, over a
// destination that holds outputs already, and leaves that destination as it
// was.
TEST(VelmoraBatch, DryRunTellsWhatTheRunDoesAndTouchesNothing)
{
    ScratchDir dir;
    mkdir(dir.Path("src").c_str(), 0755);
    for (const char *name : {"a.png", "b.png", "c.png", "d.bmp"})
        ASSERT_TRUE(MakeTestImage(60, 40).Save(dir.Path(std::string("src/") + name).c_str(),
                                               std::string(name).ends_with("bmp") ? CXIMAGE_FORMAT_BMP
                                                                                  : CXIMAGE_FORMAT_PNG));
    // d.bmp is named d.png's twin below: both give d.JPG.
    ASSERT_TRUE(MakeTestImage(30, 20).Save(dir.Path("src/d.png").c_str(), CXIMAGE_FORMAT_PNG));
    const QString src = QString::fromStdString(dir.Path("src")), none = src + "/none.png";
    const struct {
        QStringList args;
        std::vector<std::string> existing; // outputs there before
        std::vector<std::string> actions;  // the dry run's, in order
        int exitCode;
    } rows[] = {
        {{"--format", "jpg", "--overwrite", "rename"},
         {"a.JPG", "a_001.JPG"},
         {"rename", "convert", "convert", "convert", "rename", ""},
         1},
        {{"--format", "jpg", "--overwrite", "overwrite", "--prefix", "p_", "--start", "5"},
         {"p_006.JPG"},
         {"convert", "overwrite", "convert", "convert", "convert", ""},
         1},
        {{"--overwrite", "skip", "--resize", "fit", "--width", "30", "--height", "30", "--name", "{w}x{h}/{n}_{name}"},
         {"30x20/002_b.png"},
         {"convert", "skip", "convert", "convert", "convert", ""},
         1},
        {{"--format", "png", "--overwrite", "skip", "--shard", "2/2"}, {"b.png"}, {"skip", "convert"}, 0},
        {{"--format", "bmp", "--overwrite", "skip"}, {}, {"convert", "convert", "convert", "copy", "skip", ""}, 1},
        // Every size is an output of its own: listed, kept and counted as one.
        {{"--sizes", "320w,20h", "--overwrite", "skip"},
         {"b_20h.png"},
         {"convert", "convert", "convert", "skip", "convert", "convert", "convert", "convert", "convert",
          "convert", "", ""},
         1},
    };
    int n = 0;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        const std::string out = dir.Path("out" + std::to_string(n++));
        for (const std::string &name : row.existing) {
            QDir().mkpath(QFileInfo(QString::fromStdString(out + "/" + name)).path());
            ASSERT_TRUE(WriteFileBytes(out + "/" + name, {'o', 'l', 'd'}));
        }
        QStringList args = row.args + QStringList{"--log", "json", "--out", QString::fromStdString(out)};
        args += row.args.contains("--shard") ? QStringList{src} : QStringList{src, none};
        const auto before = Listing(dir.Root());
        const Result dry = RunBatch(QStringList{"--dry-run"} + args);
        EXPECT_EQ(Listing(dir.Root()), before);
        std::vector<std::string> actions;
        for (const QString &line : QString::fromStdString(dry.out).split('\n', Qt::SkipEmptyParts))
            if (const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object(); o["type"] == "file")
                actions.push_back(o["action"].toString().toStdString());
        EXPECT_EQ(actions, row.actions) << dry.out;
        const Result real = RunBatch(args);
        EXPECT_EQ(FileRecords(dry.out), FileRecords(real.out, true));
        const QJsonObject drySummary =
            QJsonDocument::fromJson(QString::fromStdString(dry.out).trimmed().split('\n').last().toUtf8()).object();
        EXPECT_EQ(drySummary["converted"].toInt(-1), 0);
        EXPECT_EQ(drySummary["planned"].toInt(-1), int(std::count(actions.begin(), actions.end(), "convert") +
                                                       std::count(actions.begin(), actions.end(), "copy") +
                                                       std::count(actions.begin(), actions.end(), "overwrite") +
                                                       std::count(actions.begin(), actions.end(), "rename")));
        EXPECT_EQ(dry.exitCode, row.exitCode) << dry.err;
        EXPECT_EQ(real.exitCode, row.exitCode) << real.err;
    }

    // In the log's words; the question is not asked, and without a terminal
    // it would end the run.
    const std::string out = dir.Path("text");
    mkdir(out.c_str(), 0755);
    ASSERT_TRUE(WriteFileBytes(out + "/a.JPG", {'o', 'l', 'd'}));
    const Result r = RunBatch({"--dry-run", "--format", "jpg", "--out", QString::fromStdString(out), src + "/a.png",
                               src + "/c.png"});
    EXPECT_EQ(r.out, "从: " + dir.Path("src/a.png") + "\n  将询问是否覆盖: " + out + "/a.JPG\n从: " +
                         dir.Path("src/c.png") + "\n  将转换到: " + out + "/c.JPG\n\n总计文件: 2; 将转换: 2; 错误: 0。\n");
    EXPECT_EQ(r.exitCode, 1);
}


TEST(VelmoraBatch, OneSizeWritesWhatItsResizeWrites)
{
    ScratchDir dir;
    const std::string photo = dir.Path("photo.jpg");
    // Large enough for the reduced decode, which both ways keep.
    ASSERT_TRUE(MakeTestImage(2400, 1600).Save(photo.c_str(), CXIMAGE_FORMAT_JPG));
    const struct {
        const char *size;
        QStringList resize;
    } rows[] = {
        {"320w", {"--resize", "width", "--width", "320"}},
        {"500h", {"--resize", "height", "--height", "500"}},
        {"1024", {"--resize", "long", "--size", "1024"}},
        {"800x600", {"--resize", "fit", "--width", "800", "--height", "600"}},
        {"4000w", {"--resize", "width", "--width", "4000", "--no-enlarge"}},
    };
    int n = 0;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.size);
        const QString sized = QString::fromStdString(dir.Path("sized" + std::to_string(n)));
        const QString resized = QString::fromStdString(dir.Path("resized" + std::to_string(n++)));
        const QStringList common{"--sharpen", "--quality", "80", QString::fromStdString(photo)};
        QStringList sizes{"--sizes", row.size, "--out", sized};
        if (row.resize.contains("--no-enlarge"))
            sizes << "--no-enlarge";
        const Result a = RunBatch(sizes + common);
        const Result b = RunBatch(row.resize + QStringList{"--out", resized} + common);
        ASSERT_EQ(a.exitCode, 0) << a.err;
        ASSERT_EQ(b.exitCode, 0) << b.err;
        const std::string tag =
            std::string(row.size) +
            (std::isdigit(row.size[std::strlen(row.size) - 1]) && !std::strchr(row.size, 'x') ? "px" : "");
        const auto written = ReadFileBytes(sized.toStdString() + "/photo_" + tag + ".jpg");
        EXPECT_FALSE(written.empty());
        EXPECT_EQ(written, ReadFileBytes(resized.toStdString() + "/photo.jpg"));
    }
    // Among several, the largest size is decoded as its own resize decodes it.
    const QString several = QString::fromStdString(dir.Path("several"));
    const Result r = RunBatch({"--sizes", "320w,1024", "--sharpen", "--quality", "80", "--out", several,
                               QString::fromStdString(photo)});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFileBytes(several.toStdString() + "/photo_1024px.jpg"),
              ReadFileBytes(dir.Path("resized2") + "/photo.jpg"));
}
