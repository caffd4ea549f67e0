// Undoing a run: only what the run did is undone, only from the trash it
// used, never through a link, and a journal nobody's run wrote does nothing.
#include "convert/runjournal.h"
#include "tests/cli/batch_process.h"
#include "tests/test_support.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

using namespace testsupport;

namespace {

std::string Text(const std::string &path)
{
    const std::vector<std::uint8_t> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

void Put(const std::string &path, const std::string &text)
{
    ASSERT_TRUE(WriteFileBytes(path, std::vector<std::uint8_t>(text.begin(), text.end())));
}

bool Exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// The journal's lines but those of a kind.
std::string Without(const std::string &journal, const char *kind)
{
    std::string kept;
    for (const QByteArray &line : QByteArray::fromStdString(Text(journal)).split('\n'))
        if (!line.isEmpty() && !line.contains(QByteArray("\"kind\":\"") + kind + "\""))
            kept += line.toStdString() + "\n";
    return kept;
}

// Three photos converted into out/, the state and the trash in the scratch
// folder.
struct Scene {
    ScratchDir dir;
    const std::string state = dir.Path("state");
    const QStringList env{QString::fromStdString("XDG_STATE_HOME=" + state),
                          QString::fromStdString("XDG_DATA_HOME=" + dir.Path("data"))};
    Scene()
    {
        mkdir(dir.Path("src").c_str(), 0755);
        mkdir(dir.Path("out").c_str(), 0755);
        for (const char *name : {"a.png", "b.png", "c.png"})
            EXPECT_TRUE(MakeTestImage(30, 20).Save(Path(std::string("src/") + name).c_str(), CXIMAGE_FORMAT_PNG));
    }
    std::string Path(const std::string &name) const { return dir.Path(name); }
    std::string Out(const std::string &name) const { return dir.Path("out/" + name); }
    Result Batch(const QStringList &args, const QStringList &more = {}) const
    {
        return RunBatch(args, {}, VELMORA_BATCH_EXE, env + more);
    }
    Result Run(const QStringList &extra = {}, const std::string &out = "out") const
    {
        return Batch(QStringList{"--format", "jpg", "--overwrite", "overwrite", "--out",
                                 QString::fromStdString(Path(out)), QString::fromStdString(Path("src"))} +
                     extra);
    }
    std::string Journal() const { return NewestJournal(state + "/velmora/runs"); }
    Result Undo(const std::string &journal = {}) const
    {
        return journal.empty() ? Batch({"--undo"}) : Batch({"--undo-journal", QString::fromStdString(journal)});
    }
};

} // namespace

// Undo removes what a run wrote and gives back from the trash what it
// replaced, however the run or the world left things since.
TEST(Undo, GivesBackWhatTheRunReplaced)
{
    Scene s;
    const std::string old = "old";
    const auto trashed = [&](const char *name) { return s.Path(std::string("data/Trash/") + name); };
    const struct {
        const char *what;
        bool trash;
        std::function<void()> meddle; // after the run
        int exitCode;
        std::string named;         // in the report
        bool oldBack, bLeft;       // a.JPG is the old file again; b.JPG is still there
        QStringList trashLeft;     // in the trash's files/ after the undo
    } rows[] = {
        {"all back", true, [] {}, 0, "已恢复: " + s.Out("a.JPG"), true, false, {}},
        {"changed output", true, [&] { Put(s.Out("b.JPG"), "new"); }, 1,
         "运行后已更改, 未删除: " + s.Out("b.JPG"), true, true, {}},
        {"emptied trash", true, [&] { QDir(QString::fromStdString(s.Path("data/Trash"))).removeRecursively(); }, 1,
         "无法恢复被替换的文件: " + s.Out("a.JPG"), false, false, {}},
        {"no trash", false, [] {}, 1, "无法恢复被替换的文件: " + s.Out("a.JPG"), false, false, {}},
        // Written ahead: a line cut off, or every line saying an output is in
        // place lost to a kill, still leaves each output accounted for.
        {"cut journal", true,
         [&] {
             const std::string text = Text(s.Journal());
             Put(s.Journal(), text.substr(0, text.size() - 20));
         },
         0, "已删除: " + s.Out("c.JPG"), true, false, {}},
        {"no commit lines", true, [&] { Put(s.Journal(), Without(s.Journal(), "commit")); }, 0,
         "已删除: " + s.Out("b.JPG"), true, false, {}},
        // Killed before a.JPG's rename: the old file is still in its place.
        {"never put in place", true,
         [&] {
             Put(s.Out("a.JPG"), old);
             Put(s.Journal(), Without(s.Journal(), "commit"));
         },
         0, "已删除: " + s.Out("c.JPG"), true, false, {}},
        // The trash holds another a.JPG now, or the run's with its record
        // naming another place: neither is given back, neither is touched.
        {"a stranger in the trash", true, [&] { Put(trashed("files/a.JPG"), "another"); }, 1,
         "无法恢复被替换的文件: " + s.Out("a.JPG"), false, false, {"a.JPG"}},
        {"a record naming another place", true,
         [&] { Put(trashed("info/a.JPG.trashinfo"), "[Trash Info]\nPath=/elsewhere/a.JPG\n"); }, 1,
         "无法恢复被替换的文件: " + s.Out("a.JPG"), false, false, {"a.JPG"}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        QDir(QString::fromStdString(s.Path("data/Trash"))).removeRecursively();
        for (const char *name : {"a.JPG", "b.JPG", "c.JPG"})
            QFile::remove(QString::fromStdString(s.Out(name)));
        Put(s.Out("a.JPG"), old);
        const Result r = s.Run(row.trash ? QStringList{"--trash-replaced"} : QStringList{});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(Text(s.Out("a.JPG")), old);
        row.meddle();
        const Result undo = s.Undo();
        EXPECT_EQ(undo.exitCode, row.exitCode) << undo.out << undo.err;
        EXPECT_NE(undo.out.find(row.named + "\n"), std::string::npos) << undo.out;
        EXPECT_EQ(Text(s.Out("a.JPG")) == old, row.oldBack);
        EXPECT_EQ(Exists(s.Out("b.JPG")), row.bLeft);
        EXPECT_FALSE(Exists(s.Out("c.JPG")));
        EXPECT_EQ(Entries(s.Path("data/Trash/files")), row.trashLeft);
    }
    // Each undo took its run; none is left.
    const Result none = s.Undo();
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_NE(none.err.find("no run to undo"), std::string::npos) << none.err;
}

// A journal is acted on only when this user's own runs signed it: a forged
// or foreign line, however true its checksums, moves and removes nothing.
TEST(Undo, ForgedOrForeignJournalsMoveNothing)
{
    Scene s;
    mkdir(s.Path("victim").c_str(), 0755);
    const std::string precious = s.Path("victim/precious.txt"), stolen = s.Path("out/stolen.txt");
    const auto forged = [&](const std::string &mac) {
        QJsonObject o{{"v", 2},          {"kind", "intent"}, {"n", 999},
                      {"path", QString::fromStdString(stolen)}, {"root", QString::fromStdString(s.Path("out"))},
                      {"size", 6},       {"sha256", QString::fromStdString(Sha256Hex("stolen", 6))},
                      {"replaced_size", 8}, {"replaced_sha256", QString::fromStdString(Sha256Hex("precious", 8))},
                      {"trashed", QString::fromStdString(precious)}};
        std::string line = QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
        if (!mac.empty())
            line.insert(line.size() - 1, ",\"mac\":\"" + mac + "\"");
        return line + "\n";
    };
    const std::string big = s.Path("big.jsonl");
    const struct {
        const char *what;
        std::function<std::string()> journal; // made after a real run
        int exitCode;
        std::string said;
    } rows[] = {
        {"an unsigned line", [&] { Put(s.Journal(), Text(s.Journal()) + forged("")); return s.Journal(); }, 1,
         "已拒绝日志行: "},
        {"a mis-signed line",
         [&] { Put(s.Journal(), Text(s.Journal()) + forged(std::string(64, '0'))); return s.Journal(); }, 1,
         "签名不符"},
        {"another run's line",
         [&] {
             const std::string mine = s.Journal();
             EXPECT_EQ(s.Run({}, "out2").exitCode, 0);
             const std::string theirs = Without(s.Journal(), "run");
             Put(mine, Text(mine) + theirs);
             return mine;
         },
         1, "属于另一次运行"},
        {"the format before",
         [&] {
             Put(big, "{\"path\":\"" + stolen + "\",\"sha256\":\"" + Sha256Hex("stolen", 6) +
                          "\",\"size\":6,\"trashed\":\"" + precious + "\"}\n");
             return big;
         },
         2, "另一版本"},
        {"another user's key",
         [&] {
             EXPECT_EQ(s.Batch({"--format", "jpg", "--out", QString::fromStdString(s.Path("out3")),
                                QString::fromStdString(s.Path("src"))},
                               {QString::fromStdString("XDG_STATE_HOME=" + s.Path("other"))})
                           .exitCode,
                       0);
             return NewestJournal(s.Path("other/velmora/runs"));
         },
         2, "密钥"},
        {"endless", [] { return std::string("/dev/zero"); }, 2, "普通文件"},
        {"a line over 64 KB", [&] { Put(big, Text(s.Journal()) + std::string(70000, 'x') + "\n"); return big; }, 2,
         "64 KB"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        Put(precious, "precious");
        Put(stolen, "stolen");
        ASSERT_EQ(s.Run().exitCode, 0);
        const std::string journal = row.journal();
        const Result undo = s.Undo(journal);
        EXPECT_EQ(undo.exitCode, row.exitCode) << undo.out << undo.err;
        EXPECT_NE((undo.out + undo.err).find(row.said), std::string::npos) << undo.out << undo.err;
        EXPECT_EQ(Text(precious), "precious");
        EXPECT_EQ(Text(stolen), "stolen");
        EXPECT_EQ(Entries(s.Path("victim")), QStringList{"precious.txt"});
    }
}

// Neither a run nor its undo goes through a link below the destination, at
// any depth, even to a file with the very bytes the run wrote; the
// destination named by the user may itself be a link.
TEST(Undo, NothingGoesThroughALinkBelowTheDestination)
{
    Scene s;
    mkdir(s.Path("src/photos").c_str(), 0755);
    mkdir(s.Path("victim").c_str(), 0755);
    ASSERT_TRUE(MakeTestImage(20, 10).Save(s.Path("src/photos/b.png").c_str(), CXIMAGE_FORMAT_PNG));
    const QStringList tree{"--format", "png", "-r", "--out", QString::fromStdString(s.Path("out")),
                           QString::fromStdString(s.Path("src"))};
    // A run into a planted link.
    Put(s.Path("victim/b.PNG"), "victim");
    ASSERT_EQ(symlink("../victim", s.Out("photos").c_str()), 0);
    const Result r = s.Batch(tree + QStringList{"--log", "json"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find(s.Out("photos") + ": a link stands where an output folder goes"), std::string::npos) << r.out;
    EXPECT_EQ(Text(s.Path("victim/b.PNG")), "victim");
    unlink(s.Out("photos").c_str());

    // Folders swapped after the run for links to copies of them.
    const struct {
        const char *what;
        std::string swapped, output; // the folder swapped, the output's name in it
    } rows[] = {
        {"a folder below the destination", s.Out("photos"), "b.PNG"},
        {"the destination itself", s.Path("out"), "a.PNG"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        QDir(QString::fromStdString(s.Path("out"))).removeRecursively();
        QDir(QString::fromStdString(s.Path("victim"))).removeRecursively();
        ASSERT_EQ(s.Batch(tree).exitCode, 0);
        ASSERT_EQ(std::system(("cp -a '" + row.swapped + "' '" + s.Path("victim") + "'").c_str()), 0);
        QDir(QString::fromStdString(row.swapped)).removeRecursively();
        ASSERT_EQ(symlink(s.Path("victim").c_str(), row.swapped.c_str()), 0);
        const std::string kept = Text(s.Path("victim/" + row.output));
        const Result undo = s.Undo();
        EXPECT_EQ(undo.exitCode, 1) << undo.out;
        EXPECT_NE(undo.out.find("错误: "), std::string::npos) << undo.out;
        EXPECT_EQ(Text(s.Path("victim/" + row.output)), kept);
        unlink(row.swapped.c_str());
    }
}

// An undo records what it did in the journal: a second one, after the first
// was stopped or not, reports the truth. Folders the run made and undo left
// empty go; one holding anything else stays.
TEST(Undo, ARepeatKnowsWhatTheFirstDidAndMadeFoldersGo)
{
    Scene s;
    Put(s.Out("a.JPG"), "old");
    ASSERT_EQ(s.Run({"--trash-replaced"}).exitCode, 0);
    const std::string journal = s.Journal();
    Result undo = s.Undo();
    ASSERT_EQ(undo.exitCode, 0) << undo.out;
    ASSERT_EQ(rename((journal + ".undone").c_str(), journal.c_str()), 0); // as if stopped before its end
    undo = s.Undo();
    EXPECT_EQ(undo.exitCode, 0) << undo.out;
    EXPECT_NE(undo.out.find("之前的撤销已处理: " + s.Out("a.JPG") + "\n"), std::string::npos) << undo.out;
    EXPECT_EQ(undo.out.find("运行后已更改"), std::string::npos) << undo.out;
    EXPECT_EQ(Text(s.Out("a.JPG")), "old");

    // Outputs all gone: nothing is called undone.
    QFile::remove(QString::fromStdString(s.Out("a.JPG")));
    ASSERT_EQ(s.Run().exitCode, 0);
    for (const char *name : {"a.JPG", "b.JPG", "c.JPG"})
        QFile::remove(QString::fromStdString(s.Out(name)));
    undo = s.Undo();
    EXPECT_EQ(undo.exitCode, 0);
    EXPECT_NE(undo.out.find("已不存在, 无需删除: " + s.Out("b.JPG") + "\n"), std::string::npos) << undo.out;
    EXPECT_NE(undo.out.find("没有需要撤销的内容。"), std::string::npos) << undo.out;

    for (const bool stranger : {false, true}) {
        SCOPED_TRACE(stranger);
        ASSERT_EQ(s.Run({"--name", "{name}/x/{name}"}, "new/deeper").exitCode, 0);
        if (stranger)
            Put(s.Path("new/keep.txt"), "mine");
        undo = s.Undo();
        EXPECT_EQ(undo.exitCode, 0) << undo.out;
        EXPECT_NE(undo.out.find("已删除空文件夹: " + s.Path("new/deeper/a/x") + "\n"), std::string::npos) << undo.out;
        EXPECT_EQ(Exists(s.Path("new")), stranger);
        EXPECT_FALSE(Exists(s.Path("new/deeper")));
        QDir(QString::fromStdString(s.Path("new"))).removeRecursively();
    }
}

// A journal keeps a name that is not UTF-8 exactly; the journals of the
// last 50 runs stay, none older than 30 days.
TEST(RunJournal, NamesAreKeptExactlyAndOldJournalsArePruned)
{
    ScratchDir dir;
    qputenv("XDG_STATE_HOME", QByteArray::fromStdString(dir.Path("state")));
    {
        RunJournal journal(dir.Path("exact"));
        const long n = journal.Intend({"/p/\xff\xfe.JPG", "/p", "1:2", 3, std::string(64, 'a'), true, 4,
                                       std::string(64, 'b'), "/t/files/\xff.JPG"});
        ASSERT_GT(n, 0);
        ASSERT_TRUE(journal.Committed(n));
        JournalContents contents;
        std::string error;
        ASSERT_TRUE(ReadJournal(journal.Path(), contents, error)) << error;
        ASSERT_EQ(contents.lines.size(), 2u);
        EXPECT_TRUE(contents.refused.empty());
        EXPECT_EQ(contents.lines[0].entry.path, "/p/\xff\xfe.JPG");
        EXPECT_EQ(contents.lines[0].entry.trashed, "/t/files/\xff.JPG");
        EXPECT_EQ(contents.lines[1].of, n);
    }
    const std::time_t now = std::time(nullptr);
    for (int i = 0; i < 53; ++i) {
        const std::string path = dir.Path(QString::asprintf("%020d-1.jsonl", i + 10).toStdString());
        ASSERT_TRUE(WriteFileBytes(path, {'\n'}));
        const time_t when = now - (i == 52 ? 31 : 1) * 86400;
        const timeval times[2] = {{when, 0}, {when, 0}};
        utimes(path.c_str(), times);
    }
    QDir(QString::fromStdString(dir.Path("exact"))).removeRecursively();
    QDir(QString::fromStdString(dir.Path("state"))).removeRecursively();
    PruneJournals(dir.Root(), now);
    const QStringList left = Entries(dir.Root());
    ASSERT_EQ(left.size(), 50);
    EXPECT_EQ(left.first().toStdString(), QString::asprintf("%020d-1.jsonl", 12).toStdString()); // 0, 1 beyond 50
    EXPECT_EQ(left.last().toStdString(), QString::asprintf("%020d-1.jsonl", 61).toStdString());  // 62 too old
    qunsetenv("XDG_STATE_HOME");
}

// An output too large to hold in memory waits in an unnamed file beside
// where it goes, then is named there: written whole, with a new file's
// permission bits, nothing else left in the folder, and the
// journal's checksum of it right, so undo removes it.
TEST(Undo, AnOutputSpooledToDiskIsWrittenWholeAndUndone)
{
    ScratchDir dir;
    const QStringList env{QString::fromStdString("XDG_STATE_HOME=" + dir.Path("state")),
                          QString::fromStdString("XDG_DATA_HOME=" + dir.Path("data"))};
    mkdir(dir.Path("out").c_str(), 0755);
    CxImage source = MakeTestImage(4000, 3000);
    ASSERT_TRUE(source.Save(dir.Path("big.png").c_str(), CXIMAGE_FORMAT_PNG));
    // Stored, not compressed: 36 MB, past what a run holds in memory.
    const Result run =
        RunBatch({"--png-level", "0", "--out", "out", "big.png"}, dir.Root(), VELMORA_BATCH_EXE, env);
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    const QStringList written = Entries(dir.Path("out"));
    ASSERT_EQ(written.size(), 1) << written.join(' ').toStdString();
    const std::string output = dir.Path("out/" + written.front().toStdString());
    EXPECT_GT(ReadFileBytes(output).size(), std::size_t(32) << 20);
    // Named where it lay rather than copied, it has a new file's bits.
    struct stat st;
    ASSERT_EQ(stat(output.c_str(), &st), 0);
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
    CxImage back;
    ASSERT_TRUE(back.Load(output.c_str(), CXIMAGE_FORMAT_PNG));
    EXPECT_EQ(MaxChannelDiff(back, source), 0);
    const Result undo = RunBatch({"--undo"}, dir.Root(), VELMORA_BATCH_EXE, env);
    EXPECT_EQ(undo.exitCode, 0) << undo.out << undo.err;
    EXPECT_TRUE(Entries(dir.Path("out")).isEmpty());
}
