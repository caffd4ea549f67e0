#include "batchcommand.h"
#include "terminalreporter.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using namespace testsupport;

namespace {

struct Result {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// in: the working folder, also given as $PWD, as a shell does.
Result RunBatch(const QStringList &args, const std::string &in = {}, const char *program = VELMORA_BATCH_EXE)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.setStandardInputFile(QProcess::nullDevice());  // no terminal to ask
    if (!in.empty()) {
        p.setWorkingDirectory(QString::fromStdString(in));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PWD", QString::fromStdString(in));
        p.setProcessEnvironment(env);
    }
    p.start(program, args);
    Result r;
    if (!p.waitForFinished(120000))
        return r;
    r.exitCode = p.exitCode();
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
}

std::optional<BatchCommand> Parse(const std::vector<std::string> &args, std::string *error = nullptr,
                                  const std::string &workFolder = "/w")
{
    std::string e;
    auto cmd = ParseBatchCommand(args, e, workFolder);
    if (error)
        *error = e;
    return cmd;
}

QStringList Entries(const std::string &folder)
{
    return QDir(QString::fromStdString(folder))
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// velmora-batch with its log on a pipe (returned in out), no terminal and
// standard error into errPath; the signals start with their usual effect.
pid_t SpawnBatch(const std::vector<std::string> &args, const std::string &errPath, int &out)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
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
}

TEST(BatchCommand, UsageErrors)
{
    std::string error;
    EXPECT_FALSE(Parse({"--width", "10", "a.png"}, &error));
    EXPECT_NE(error.find("--resize"), std::string::npos);
    EXPECT_FALSE(Parse({"--resize", "fit", "--width", "10", "a.png"}, &error));
    EXPECT_NE(error.find("--height"), std::string::npos);
    EXPECT_FALSE(Parse({"--resize", "height", "--width", "10", "a.png"}, &error));
    EXPECT_TRUE(Parse({"--resize", "height", "--height", "10", "a.png"}));
    EXPECT_FALSE(Parse({"--quality", "101", "a.png"}));
    EXPECT_FALSE(Parse({"--format", "webp", "a.png"}));
    EXPECT_FALSE(Parse({"--rotate", "45", "a.png"}));
    EXPECT_FALSE(Parse({"--color", "red", "a.png"}));
    EXPECT_FALSE(Parse({"--bogus", "a.png"}));
    EXPECT_FALSE(Parse({"--quality"}));
    EXPECT_FALSE(Parse({}));
    EXPECT_FALSE(Parse({"--sharpen", "a.png"}));
    // Relative names need the current folder.
    EXPECT_FALSE(Parse({"a.png"}, &error, ""));
    EXPECT_NE(error.find("current folder"), std::string::npos);
    EXPECT_TRUE(Parse({"/a.png"}, &error, ""));
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
    for (const int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(sig);
        ScratchDir out, logs;
        int fd = -1;
        const pid_t pid = SpawnBatch({"--jobs", "1", "--format", "png", "--out", out.Root(), src.Root()},
                                     logs.Path("err"), fd);
        ASSERT_GT(pid, 0);
        FILE *log = fdopen(fd, "r");
        ASSERT_TRUE(log);
        // Once the first output is complete.
        char line[4096];
        bool sent = false;
        while (!sent && std::fgets(line, sizeof line, log))
            if (std::strncmp(line, "  到: ", std::strlen("  到: ")) == 0)
                sent = kill(pid, sig) == 0;
        std::string rest;
        while (std::fgets(line, sizeof line, log))
            rest += line;
        std::fclose(log);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(sent);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
        const std::vector<std::uint8_t> err = ReadFileBytes(logs.Path("err"));
        EXPECT_EQ(std::string(err.begin(), err.end()), "velmora-batch: stopped\n");
        EXPECT_EQ(rest.find("总计"), std::string::npos);
        // What was complete stays and reads back; nothing half-written is left.
        const QStringList written = Entries(out.Root());
        EXPECT_GE(written.size(), 1);
        EXPECT_LT(written.size(), kFiles);
        for (const QString &name : written) {
            EXPECT_FALSE(name.startsWith('.')) << name.toStdString();
            CxImage back(out.Path(name.toStdString()).c_str(), CXIMAGE_FORMAT_PNG);
            EXPECT_EQ(back.GetWidth(), 3000u) << name.toStdString();
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
    } rows[] = {
        {"o\n", false, OverwriteChoice::Overwrite, false},
        {"what\n R! \n", false, OverwriteChoice::AutoRename, true},
        {"r", false, OverwriteChoice::AutoRename, false}, // a last line without its end
        {"", false, OverwriteChoice::Cancel, false},
        {"o\n", true, OverwriteChoice::Cancel, false},
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
        if (row.stopWhileAsking) {
            std::string shown;
            char c;
            while (shown.find("(r!, o!): ") == std::string::npos && read(err[0], &c, 1) == 1)
                shown += c;
            stop.request_stop();
        }
        ASSERT_EQ(write(in[1], row.input.data(), row.input.size()), ssize_t(row.input.size()));
        close(in[1]);
        const OverwriteAnswer answer = asked.get();
        EXPECT_EQ(answer.choice, row.choice);
        EXPECT_EQ(answer.remember, row.remember);
        std::fclose(errFile);
        close(err[0]);
        close(in[0]);
    }
}

TEST(VelmoraBatch, PhotosAreTurnedUprightUnlessTheFlagOrTheSettingSaysNot)
{
    const QString conf = qEnvironmentVariable("XDG_CONFIG_HOME") + "/Korvane/velmora-batch.conf";
    struct Row {
        const char *flag;
        const char *stored; // the settings file's content, null for none
        int width, height;
    };
    const Row rows[] = {
        {nullptr, nullptr, 20, 10},
        {"--no-autorotate", nullptr, 10, 20},
        {nullptr, "[Settings2]\nAutoRotate=0\n", 10, 20},
        {nullptr, "[Settings2]\nAutoRotate=1\n", 20, 10},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.stored ? row.stored : row.flag ? row.flag : "defaults");
        QFile::remove(conf);
        if (row.stored) {
            QDir().mkpath(QFileInfo(conf).path());
            QFile f(conf);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(row.stored);
        }
        ScratchDir out;
        QStringList args{"--resize", "fit", "--width", "20",
                         "--height", "20",  "--out",   QString::fromStdString(out.Root())};
        if (row.flag)
            args << row.flag;
        const Result r = RunBatch(args << QString::fromStdString(DataPath("photo/orient6.jpg")));
        EXPECT_EQ(r.exitCode, 0) << r.err;
        CxImage back;
        back.SetAutoOrient(false);
        ASSERT_TRUE(back.Load(out.Path("orient6.jpg").c_str()));
        EXPECT_EQ(back.GetWidth(), row.width);
        EXPECT_EQ(back.GetHeight(), row.height);
    }
    QFile::remove(conf);
}
