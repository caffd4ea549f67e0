// The editing steps' options as a user gives them to velmora-batch.
#include "tests/cli/batch_process.h"
#include "tests/test_support.h"

#include <QProcess>
#include <gtest/gtest.h>

using namespace testsupport;

TEST(EditOptionsOnTheCommandLine, BadValuesAreUsageErrorsNamingTheOption)
{
    ScratchDir dir;
    const std::string photo = dir.Path("a.png");
    ASSERT_TRUE(MakeTestImage(64, 48).Save(photo.c_str(), CXIMAGE_FORMAT_PNG));
    const QString out = QString::fromStdString(dir.Path("out"));
    const struct {
        QStringList args;
        const char *names; // what the message must hold
    } rows[] = {
        {{"--flip", "x"}, "--flip"},
        {{"--gamma", "0"}, "--gamma"},
        {{"--gamma", "1,5"}, "--gamma"},
        {{"--brightness", "300"}, "--brightness"},
        {{"--contrast", "-101"}, "--contrast"},
        {{"--saturation", "x"}, "--saturation"},
        {{"--border-color", "red", "--border", "4"}, "--border-color"},
        {{"--border", "-3"}, "--border"},
        {{"--crop", "0,0,0,10"}, "--crop"},
        {{"--crop-margins", "50%,0,50%,0"}, "--crop-margins"},
        {{"--crop", "0,0,5,5", "--crop-margins", "1,1,1,1"}, "--crop and --crop-margins"},
        {{"--trim-fuzz", "5"}, "--trim-borders"},
        {{"--border-color", "000000"}, "--border"},
        {{"--border", "4", "--border-inside"}, "--border-inside"},
        {{"--border", "4", "--border-inside", "--resize", "percent", "--percent", "50"}, "--border-inside"},
        {{"--crop-ratio-follows"}, "--crop-ratio"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        const Result r = RunBatch(row.args + QStringList{"--out", out, QString::fromStdString(photo)});
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find(row.names), std::string::npos) << r.err;
        EXPECT_FALSE(QDir(out).exists());
    }
}

// A JPEG only flipped keeps its coefficients: the bytes jpegtran writes.
TEST(EditOptionsOnTheCommandLine, AFlipAloneIsLosslessAsJpegtranMakesIt)
{
    ScratchDir dir;
    const std::string photo = dir.Path("p.jpg");
    ASSERT_TRUE(MakeTexturedImage(320, 240).Save(photo.c_str(), CXIMAGE_FORMAT_JPG));
    for (const auto &[flip, jpegtranFlip] : {std::pair{"h", "horizontal"}, {"v", "vertical"}}) {
        SCOPED_TRACE(flip);
        const QString out = QString::fromStdString(dir.Path(std::string("out-") + flip));
        const QStringList args{"--flip", flip, "--strip", "--out", out, QString::fromStdString(photo)};
        const Result dry = RunBatch(args + QStringList{"--dry-run"});
        EXPECT_NE(dry.out.find("将无损变换到"), std::string::npos) << dry.out;
        const Result r = RunBatch(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        QProcess jpegtran;
        jpegtran.start("jpegtran", {"-copy", "none", "-flip", jpegtranFlip, QString::fromStdString(photo)});
        ASSERT_TRUE(jpegtran.waitForFinished(30000)) << "jpegtran (libjpeg-turbo-progs) is needed";
        const QByteArray expected = jpegtran.readAllStandardOutput();
        ASSERT_FALSE(expected.isEmpty());
        EXPECT_EQ(ReadFileBytes(out.toStdString() + "/p.jpg"),
                  std::vector<std::uint8_t>(expected.begin(), expected.end()));
    }
}
