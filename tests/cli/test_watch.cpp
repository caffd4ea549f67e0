// velmora-batch --watch as a user runs it: a child process stopped with
// SIGTERM (or killed), files arriving while it runs.
#include "cli/folderwatch.h"
#include "tests/cli/batch_process.h"
#include "tests/test_support.h"

#include <QProcess>

#include <algorithm>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <mutex>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

using namespace testsupport;
using namespace std::chrono_literals;

namespace {

bool Exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Polls until done holds or ten seconds passed.
bool Eventually(const std::function<bool()> &done)
{
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

std::vector<std::uint8_t> Png(int w = 40, int h = 30)
{
    ScratchDir dir;
    EXPECT_TRUE(MakeTestImage(w, h).Save(dir.Path("p.png").c_str(), CXIMAGE_FORMAT_PNG));
    return ReadFileBytes(dir.Path("p.png"));
}

int Count(const std::string &text, const std::string &what)
{
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// A watched folder in/, the state and the trash in the scratch folder.
struct WatchScene {
    ScratchDir dir;
    QProcess p;
    std::string log;
    WatchScene() { mkdir(Path("in").c_str(), 0755); }
    ~WatchScene() { Stop(); }
    std::string Path(const std::string &name) const { return dir.Path(name); }
    void Start(const QStringList &args)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_STATE_HOME", QString::fromStdString(Path("state")));
        env.insert("XDG_DATA_HOME", QString::fromStdString(Path("data")));
        p.setProcessEnvironment(env);
        p.setStandardInputFile(QProcess::nullDevice());
        p.start(VELMORA_BATCH_EXE, QStringList{"--watch", QString::fromStdString(Path("in")), "--format",
                                               "jpg", "--log", "json"} +
                                       args);
        ASSERT_TRUE(p.waitForStarted());
    }
    // SIGTERM, as systemd stops it; the log is kept.
    void Stop(int sig = SIGTERM)
    {
        if (p.state() == QProcess::NotRunning)
            return;
        kill(pid_t(p.processId()), sig);
        p.waitForFinished(20000);
        log += p.readAllStandardOutput().toStdString();
    }
    void Put(const std::string &name, const std::vector<std::uint8_t> &bytes = Png())
    {
        ASSERT_TRUE(WriteFileBytes(Path(name), bytes));
    }
    bool Has(const std::string &name)
    {
        return Eventually([&] { return Exists(Path(name)); });
    }
};

TEST(Watch, FileWrittenInPiecesIsConvertedOnceAfterItsClose)
{
    WatchScene s;
    // No settle in time: only the close can start the conversion.
    s.Start({"--settle", "30", "--out", QString::fromStdString(s.Path("out"))});
    const std::vector<std::uint8_t> png = Png(400, 300);
    const int fd = open(s.Path("in/a.png").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const std::size_t piece = png.size() / 5 + 1;
    for (std::size_t at = 0; at < png.size(); at += piece) {
        ASSERT_GT(write(fd, png.data() + at, std::min(piece, png.size() - at)), 0);
        std::this_thread::sleep_for(400ms);
        EXPECT_FALSE(Exists(s.Path("out/a.JPG"))) << "converted before its close";
    }
    close(fd);
    ASSERT_TRUE(s.Has("out/a.JPG"));
    std::this_thread::sleep_for(500ms);
    s.Stop();
    EXPECT_EQ(Count(s.log, "\"source\""), 1) << s.log;
    CxImage out;
    ASSERT_TRUE(out.Load(s.Path("out/a.JPG").c_str(), CXIMAGE_FORMAT_JPG));
    EXPECT_EQ(out.GetWidth(), 400u);
    EXPECT_EQ(out.GetHeight(), 300u);
}

// Each row: how a file arrives, where its output must appear, and that no
// output is taken as a source again.
TEST(Watch, ArrivalsAreConvertedAndOutputsNeverTaken)
{
    struct Row {
        const char *what;
        QStringList args;
        std::function<void(WatchScene &)> arrive;
        const char *output;
    };
    const Row rows[] = {
        {"moved in",
         {"--out", "@out"},
         [](WatchScene &s) {
             s.Put("a.png");
             ASSERT_EQ(rename(s.Path("a.png").c_str(), s.Path("in/a.png").c_str()), 0);
         },
         "out/a.JPG"},
        {"output beside the source", {}, [](WatchScene &s) { s.Put("in/a.png"); }, "in/a.JPG"},
        {"destination inside, recursive",
         {"-r", "--out", "@in/out"},
         [](WatchScene &s) { s.Put("in/a.png"); },
         "in/out/a.JPG"},
        {"new subfolder, recursive",
         {"-r", "--out", "@out"},
         [](WatchScene &s) {
             mkdir(s.Path("in/sub").c_str(), 0755);
             mkdir(s.Path("in/sub/deeper").c_str(), 0755);
             s.Put("in/sub/deeper/a.png");
         },
         "out/sub/deeper/a.JPG"},
        {"not settled without a close",
         {"--settle", "0.3", "--out", "@out"},
         [](WatchScene &s) {
             // Written and left open, as a network folder shows a copy.
             const std::vector<std::uint8_t> png = Png();
             const int fd = open(s.Path("in/a.png").c_str(), O_WRONLY | O_CREAT, 0644);
             ASSERT_EQ(write(fd, png.data(), png.size()), ssize_t(png.size()));
             ASSERT_TRUE(s.Has("out/a.JPG"));
             close(fd);
         },
         "out/a.JPG"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        WatchScene s;
        QStringList args;
        for (const QString &a : row.args)
            args << (a.startsWith('@') ? QString::fromStdString(s.Path(a.mid(1).toStdString())) : a);
        s.Start(args);
        std::this_thread::sleep_for(300ms); // watching
        row.arrive(s);
        ASSERT_TRUE(s.Has(row.output));
        std::this_thread::sleep_for(700ms);
        s.Stop();
        EXPECT_EQ(Count(s.log, "\"source\""), 1) << s.log;
    }
}

TEST(Watch, RestartConvertsNothingTwiceAndLosesNoSourceWhenKilled)
{
    WatchScene s;
    s.Put("in/a.png");
    s.Put("in/big.png", Png(3000, 3000));
    s.Start({});
    ASSERT_TRUE(s.Has("in/a.JPG"));
    ASSERT_TRUE(s.Has("in/big.JPG"));
    s.Stop();
    struct stat before;
    ASSERT_EQ(stat(s.Path("in/a.JPG").c_str(), &before), 0);

    // Killed while a large file is converted: the source stays, and the
    // restart leaves no temporary behind.
    s.log.clear();
    s.Start({"--out", QString::fromStdString(s.Path("out"))});
    // (Under a heavy load the write may pass between two looks: then the
    // kill comes after it, which the rest must take as well.)
    ASSERT_TRUE(Eventually([&] {
        const QStringList out = Entries(s.Path("out"));
        return !out.filter(".big.JPG.part-").isEmpty() || out.contains("big.JPG");
    }));
    s.Stop(SIGKILL);
    EXPECT_TRUE(Exists(s.Path("in/big.png")));
    s.log.clear();
    s.Start({"--out", QString::fromStdString(s.Path("out"))});
    ASSERT_TRUE(s.Has("out/big.JPG"));
    ASSERT_TRUE(s.Has("out/a.JPG"));
    std::this_thread::sleep_for(300ms);
    s.Stop();
    for (const QString &name : Entries(s.Path("out")))
        EXPECT_FALSE(name.startsWith('.')) << name.toStdString();

    // Beside the sources: the outputs of the first watch are neither taken
    // again nor rewritten.
    s.log.clear();
    s.Start({});
    s.Put("in/b.png");
    ASSERT_TRUE(s.Has("in/b.JPG"));
    std::this_thread::sleep_for(300ms);
    s.Stop();
    EXPECT_EQ(Count(s.log, "\"converted\""), 1) << s.log;
    EXPECT_EQ(Count(s.log, "a.JPG\",\"status\":\"ok\",\"outcome\":\"converted"), 0) << s.log;
    struct stat after;
    ASSERT_EQ(stat(s.Path("in/a.JPG").c_str(), &after), 0);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}

// A file is taken again only once changed: a failed one not before, and
// one its output rewrote in place not for that rewrite.
TEST(Watch, EachVersionIsTakenOnce)
{
    {
        WatchScene s;
        s.Start({"--out", QString::fromStdString(s.Path("out"))});
        std::this_thread::sleep_for(300ms);
        s.Put("in/a.png", {'n', 'o', 't', ' ', 'a', ' ', 'p', 'n', 'g'});
        ASSERT_TRUE(Eventually([&] {
            s.p.waitForReadyRead(10);
            s.log += s.p.readAllStandardOutput().toStdString();
            return s.log.find("\"error\"") != std::string::npos;
        }));
        // Opened for writing and closed unchanged: no new try.
        close(open(s.Path("in/a.png").c_str(), O_WRONLY));
        std::this_thread::sleep_for(500ms);
        s.Put("in/a.png");
        ASSERT_TRUE(s.Has("out/a.JPG"));
        std::this_thread::sleep_for(300ms);
        s.Stop();
        EXPECT_EQ(Count(s.log, "\"source\""), 2) << s.log;
    }
    WatchScene s;
    s.Start({"--format", "png", "--resize", "percent", "--percent", "50", "--overwrite", "overwrite"});
    std::this_thread::sleep_for(300ms);
    s.Put("in/a.png");
    ASSERT_TRUE(Eventually([&] {
        CxImage out;
        return out.Load(s.Path("in/a.png").c_str(), CXIMAGE_FORMAT_PNG) && out.GetWidth() == 20;
    }));
    std::this_thread::sleep_for(700ms);
    s.Stop();
    EXPECT_EQ(Count(s.log, "\"converted\""), 1) << s.log;
}

// The source goes only once its output is complete in place.
TEST(Watch, ThenActsOnlyOnceTheOutputIsWritten)
{
    struct Row {
        const char *then;
        const char *taken; // a name already there in the move's folder
        const char *whereTo;
    };
    for (const Row &row : {Row{"move:@done", "done/a.png", "done/a (2).png"},
                           Row{"trash", nullptr, "data/Trash/files/a.png"}}) {
        SCOPED_TRACE(row.then);
        WatchScene s;
        QString then = row.then;
        then.replace("@", QString::fromStdString(s.Path("")));
        if (row.taken) {
            mkdir(s.Path("done").c_str(), 0755);
            s.Put(row.taken);
        }
        s.Start({"--then", then, "--out", QString::fromStdString(s.Path("out"))});
        std::this_thread::sleep_for(300ms);
        s.Put("in/a.png", Png(2000, 1500));
        bool gone = false;
        ASSERT_TRUE(Eventually([&] {
            gone = !Exists(s.Path("in/a.png"));
            if (gone) {
                CxImage out;
                EXPECT_TRUE(out.Load(s.Path("out/a.JPG").c_str(), CXIMAGE_FORMAT_JPG)) << "source gone first";
            }
            return gone;
        }));
        EXPECT_TRUE(Exists(s.Path(row.whereTo)));
        s.Stop();
    }
}

TEST(Watch, UsageErrorsNameTheOptionAndWriteNothing)
{
    ScratchDir dir;
    mkdir(dir.Path("in").c_str(), 0755);
    ASSERT_TRUE(WriteFileBytes(dir.Path("in/a.png"), Png()));
    ASSERT_TRUE(WriteFileBytes(dir.Path("bad.conf"), {'F', 'O', 'L', 'D', 'E', 'R'}));
    const QString in = QString::fromStdString(dir.Path("in"));
    const struct {
        QStringList args;
        const char *says;
    } rows[] = {
        {{"--watch", QString::fromStdString(dir.Path("missing"))}, "--watch: "},
        {{"--watch", in + "/a.png"}, "--watch: "},
        {{"--watch", in, "--overwrite", "ask"}, "--overwrite ask"},
        {{"--watch", in, "--settle", "-1"}, "--settle"},
        {{"--watch", in, "--settle", "3600.5"}, "--settle"},
        {{"--watch", in, "--settle", "inf"}, "--settle"},
        {{"--watch", in, "--then", "delete"}, "--then"},
        {{"--watch", in, "--then", "move:"}, "--then"},
        {{"--then", "trash", in}, "--then goes with --watch"},
        {{"--watch", in, in + "/a.png"}, "--watch takes no files"},
        {{"--watch-config", QString::fromStdString(dir.Path("bad.conf"))}, "bad.conf:1"},
    };
    for (const auto &row : rows) {
        const Result r = RunBatch(row.args, dir.Root());
        EXPECT_EQ(r.exitCode, 2) << row.says;
        EXPECT_NE(r.err.find(row.says), std::string::npos) << r.err;
    }
    EXPECT_EQ(Entries(dir.Path("in")), QStringList{"a.png"});
}

TEST(Watch, ConfigFileNamesFolderPresetAndDestinationWithSpaces)
{
    WatchScene s;
    mkdir(s.Path("in/with space").c_str(), 0755);
    const std::string conf = "# a watch\nFOLDER=" + s.Path("in/with space") + "\nOUT=" + s.Path("out dir") +
                             "\nTHEN=keep\nSETTLE=0.5\nRECURSIVE=no\n";
    s.Put("w.conf", std::vector<std::uint8_t>(conf.begin(), conf.end()));
    s.Put("in/with space/a b.png");
    // The folder the file names takes the place of --watch in/.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_STATE_HOME", QString::fromStdString(s.Path("state")));
    s.p.setProcessEnvironment(env);
    s.p.start(VELMORA_BATCH_EXE,
              {"--watch-config", QString::fromStdString(s.Path("w.conf")), "--format", "png"});
    ASSERT_TRUE(s.Has("out dir/a b.png"));
    s.Stop();
}

// More events than the kernel queues: the queue overflows, and the files
// whose events were lost are found by the rescan that follows.
TEST(Watch, OverflowedEventQueueIsMadeGoodByARescan)
{
    int queued = 0;
    std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> queued;
    if (queued <= 0 || queued > 100000)
        GTEST_SKIP() << "max_queued_events is " << queued;
    ScratchDir dir;
    FolderWatch watch({dir.Root(), false, {}, 0.05});
    std::string error;
    ASSERT_TRUE(watch.Start(error)) << error;
    // Each file queues a create and a close-write.
    const int files = queued / 2 + 500;
    for (int i = 0; i < files; ++i) {
        const int fd = ::open(dir.Path("f" + std::to_string(i) + ".png").c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    // Twenty seconds at most: a wait that nothing ends is woken.
    const int wake = eventfd(0, EFD_CLOEXEC);
    ASSERT_GE(wake, 0);
    std::jthread timer([wake](const std::stop_token &stop) {
        std::mutex m;
        std::condition_variable_any cv;
        std::unique_lock lock(m);
        cv.wait_for(lock, stop, 20s, [] { return false; });
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wake, &one, sizeof one);
    });
    std::vector<std::string> ready;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
        ASSERT_TRUE(watch.Wait(wake, ready, error)) << error;
        std::sort(ready.begin(), ready.end());
        ready.erase(std::unique(ready.begin(), ready.end()), ready.end());
        if (int(ready.size()) >= files)
            break;
    }
    timer.request_stop();
    timer.join();
    ::close(wake);
    EXPECT_EQ(int(ready.size()), files);
}

// The inotify watch limit of a user namespace of our own, set below the
// folders to watch: the run stops at once with the limit to raise.
TEST(Watch, TooFewInotifyWatchesIsAClearError)
{
    if (RunBatch({"-Ur", "sh", "-c", "echo 3 > /proc/sys/user/max_inotify_watches"}, {}, "unshare").exitCode != 0)
        GTEST_SKIP() << "no user namespaces here";
    ScratchDir dir;
    std::string folder = dir.Path("in");
    for (int depth = 0; depth < 6; ++depth, folder += "/d")
        ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    const Result r = RunBatch({"-Ur", "sh", "-c", "echo 3 > /proc/sys/user/max_inotify_watches && exec \"$0\" \"$@\"",
                               VELMORA_BATCH_EXE, "--watch", QString::fromStdString(dir.Path("in")), "-r"},
                              dir.Root(), "unshare", {"XDG_STATE_HOME=" + QString::fromStdString(dir.Path("state"))});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("too few inotify watches"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("/proc/sys/fs/inotify/max_user_watches"), std::string::npos) << r.err;
}

} // namespace
