// velmora --run --preset NAME FILE...: what a file manager's entry starts.
// It converts as velmora-batch --preset NAME does, shows the progress dialog
// alone, which closes by itself at the end (the stored default), and ends.
#include "tests/cli/batch_process.h"
#include "tests/test_support.h"

#include <QUrl>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// Two pictures in a fresh folder, the same bytes in every folder.
QStringList Sources(const ScratchDir &dir)
{
    CxImage picture = MakeTestImage(64, 48);
    EXPECT_TRUE(picture.Save(dir.Path("a.png").c_str(), CXIMAGE_FORMAT_PNG));
    EXPECT_TRUE(picture.Save(dir.Path("b b.bmp").c_str(), CXIMAGE_FORMAT_BMP));
    return {QString::fromStdString(dir.Path("a.png")), QString::fromStdString(dir.Path("b b.bmp"))};
}

} // namespace

TEST(FileManagerRun, WritesWhatVelmoraBatchWritesWithThePresetAndEnds)
{
    ASSERT_EQ(
        RunBatch({"--save-preset", "fm", "--resize", "fit", "--width", "40", "--height", "30", "--sharpen",
                  "--format", "jpg", "--quality", "80", "--prefix", "s_", "--stamp", "Velmora"})
            .exitCode,
        0);
    ScratchDir byBatch, byWindow;
    const Result batch = RunBatch(QStringList{"--preset", "fm"} + Sources(byBatch));
    ASSERT_EQ(batch.exitCode, 0) << batch.err;
    // A file manager may hand over URIs too.
    QStringList files = Sources(byWindow);
    files[1] = QUrl::fromLocalFile(files[1]).toString();
    const Result window = RunBatch(QStringList{"--run", "--preset", "fm"} + files, {}, VELMORA_EXE);
    ASSERT_EQ(window.exitCode, 0) << window.err;
    ASSERT_EQ(Entries(byWindow.Root()), Entries(byBatch.Root()));
    EXPECT_EQ(Entries(byBatch.Root()).size(), 4);
    for (const QString &name : Entries(byBatch.Root()))
        EXPECT_EQ(ReadFileBytes(byWindow.Path(name.toStdString())),
                  ReadFileBytes(byBatch.Path(name.toStdString())))
            << name.toStdString();
}

TEST(FileManagerRun, RefusedRunsWriteNothingAndExitWithTwo)
{
    ScratchDir dir, emptyConfig;
    const QStringList files = Sources(dir);
    ASSERT_TRUE(WriteFileBytes(dir.Path("bad.ini"), {'[', 'X', ']', '\n'}));
    const QString badPreset = QString::fromStdString(dir.Path("bad.ini"));
    ASSERT_EQ(RunBatch({"--save-preset", "fm2", "--format", "png"}).exitCode, 0);
    const struct {
        QStringList args;
        const char *says;
        QStringList vars;
    } rows[] = {
        {QStringList{"--run", "--preset", "no such"} + files, "no such", {}},
        {{"--run", "--preset", "fm2"}, "files", {}},
        {QStringList{"--run", "--preset", badPreset} + files, "bad.ini", {}},
        {QStringList{"--run", "--preset", "fm2", "/no/such.png"}, "/no/such.png", {}},
        {QStringList{"--run", "--preset", "fm2", "http://example.com/a.png"}, "http://example.com/a.png", {}},
        {QStringList{"--run"} + files, "--run", {}},
        {QStringList{"--choose-preset"} + files,
         "Velmora",
         {"XDG_CONFIG_HOME=" + QString::fromStdString(emptyConfig.Root())}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        const Result r = RunBatch(row.args, dir.Root(), VELMORA_EXE,
                                  row.vars + QStringList{"LANGUAGE=en", "LC_ALL=en_US.UTF-8"});
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find(row.says), std::string::npos) << r.err;
        EXPECT_EQ(Entries(dir.Root()), QStringList({"a.png", "b b.bmp", "bad.ini"}));
    }
}
