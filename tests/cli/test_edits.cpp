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
        const Result r = RunBatch({"--flip", flip, "--strip", "--out", out, QString::fromStdString(photo)});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        QProcess jpegtran;
        jpegtran.start("jpegtran", {"-copy", "none", "-flip", jpegtranFlip, QString::fromStdString(photo)});
        ASSERT_TRUE(jpegtran.waitForFinished(30000)) << "jpegtran (libjpeg-turbo-progs) is needed";
        const QByteArray expected = jpegtran.readAllStandardOutput();
        const auto written = ReadFileBytes(out.toStdString() + "/p.jpg");
        ASSERT_FALSE(expected.isEmpty());
        // The pixels' coefficients are jpegtran's; the headers are ours.
        CxImage a, b;
        ASSERT_TRUE(a.Load((out.toStdString() + "/p.jpg").c_str(), CXIMAGE_FORMAT_JPG));
        const std::string mine = dir.Path("jpegtran.jpg");
        ASSERT_TRUE(WriteFileBytes(mine, std::vector<std::uint8_t>(expected.begin(), expected.end())));
        ASSERT_TRUE(b.Load(mine.c_str(), CXIMAGE_FORMAT_JPG));
        EXPECT_EQ(MaxChannelDiff(a, b), 0);
        EXPECT_NE(r.out.find("无损"), std::string::npos) << r.out;
    }
}
