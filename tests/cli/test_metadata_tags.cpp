// --set, --set-if-empty and --shift-dates, read back with exiftool and
// exiv2 from every format that carries metadata.
#include "tests/cli/batch_process.h"
#include "tests/test_support.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <ctime>

using namespace testsupport;

namespace {

std::string Tool(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit)
        return {};
    return p.readAllStandardOutput().toStdString();
}

// The tags exiftool reads, by group ("EXIF:Artist"); lists joined by ",".
std::map<std::string, std::string> ExifTool(const std::string &path)
{
    const std::string json = Tool("exiftool", {"-j", "-G0", "-a", "-n", "-Artist", "-Copyright", "-Creator",
                                               "-Rights", "-ImageDescription", "-Description", "-Subject",
                                               "-Keywords", "-Rating", "-RatingPercent", "-DateTimeOriginal",
                                               "-CreateDate", "-DateCreated", "-City", "-Title", "-CodedCharacterSet",
                                               QString::fromStdString(path)});
    std::map<std::string, std::string> tags;
    const QJsonArray files = QJsonDocument::fromJson(QByteArray::fromStdString(json)).array();
    if (files.isEmpty())
        return tags;
    const QJsonObject o = files.first().toObject();
    for (auto it = o.begin(); it != o.end(); ++it) {
        QStringList items;
        for (const QJsonValue &v : it.value().isArray() ? it.value().toArray() : QJsonArray{it.value()})
            items << (v.isDouble() ? QString::number(v.toDouble()) : v.toString());
        tags[it.key().toStdString()] = items.join(',').toStdString();
    }
    return tags;
}

std::string Get(const std::map<std::string, std::string> &tags, const char *key)
{
    const auto it = tags.find(key);
    return it == tags.end() ? "(none)" : it->second;
}

enum class Mode { Set, IfEmpty, Shift, Strip };

struct Source {
    const char *name;    // in the source folder
    const char *fixture; // tests/data/photo/...
    QStringList format;
    const char *output;
    bool exiv2;   // exiv2 reads the output's format
    bool iptc;    // the output has a place for IPTC
    bool dated;   // the source has a DateTimeOriginal (2024:05:06 07:08:09)
    bool artist;  // the source's EXIF names an artist ("Old")
    bool encoded; // a copy the run must encode again (and say so)
};

} // namespace

TEST(MetadataTags, WrittenIntoEveryFormatAndReadBack)
{
    // Every source is dated 2020 by its file, so {date} tells which date it took.
    const std::time_t fileTime = 1577880000; // 2020-01-01 12:00 UTC
    ScratchDir src;
    const Source sources[] = {
        {"p.jpg", "meta.jpg", {}, "p.jpg", true, true, true, true, false},
        {"p.jpg", "meta.jpg", {"--format", "png"}, "p.PNG", true, true, true, true, false},
        {"p.jpg", "meta.jpg", {"--format", "tif"}, "p.TIF", true, true, true, true, false},
        {"p.jpg", "meta.jpg", {"--format", "webp"}, "p.WEBP", true, false, true, true, false},
        {"p.jpg", "meta.jpg", {"--format", "avif"}, "p.AVIF", false, false, true, true, false},
        {"p.jpg", "meta.jpg", {"--format", "jxl"}, "p.JXL", false, false, true, true, false},
        {"w.webp", "meta.webp", {}, "w.webp", true, false, true, false, false},
        {"a.avif", "orient6.avif", {}, "a.avif", false, false, false, false, true},
    };
    for (const Source &s : sources) {
        const std::string path = src.Path(s.name);
        if (!QFile::exists(QString::fromStdString(path))) {
            ASSERT_TRUE(WriteFileBytes(path, ReadFileBytes(DataPath(std::string("photo/") + s.fixture))));
        }
    }
    ASSERT_EQ(Tool("exiftool", {"-q", "-overwrite_original", "-EXIF:Artist=Old", QString::fromStdString(src.Path("p.jpg"))}), "");
    for (const Source &s : sources) {
        const utimbuf times{fileTime, fileTime};
        ASSERT_EQ(utime(src.Path(s.name).c_str(), &times), 0);
    }
    const std::map<Mode, QStringList> modes = {
        {Mode::Set,
         {"--set", "Artist=Jane", "--set", "copyright=© {date:%Y} Jane", "--set", "Keywords=a, b;c;a", "--set",
          "Rating=4", "--set", "ImageDescription=Über {name}"}},
        {Mode::IfEmpty, {"--set-if-empty", "--set", "Artist=Jane", "--set", "Copyright=C"}},
        {Mode::Shift, {"--shift-dates", "+1h30m", "--date-from-exif", "--name", "{date:%H%M}_{name}"}},
        {Mode::Strip, {"--strip", "--set", "Artist=X"}},
    };
    for (const Source &s : sources) {
        for (const auto &[mode, options] : modes) {
            const QStringList args = s.format + options;
            SCOPED_TRACE(std::string(s.name) + " " + args.join(' ').toStdString());
            ScratchDir out;
            const Result r =
                RunBatch(args + QStringList{"--out", QString::fromStdString(out.Root()), QString::fromStdString(src.Path(s.name))});
            ASSERT_EQ(r.exitCode, 0) << r.err;
            // Said once for the run, and only where a copy is encoded instead.
            const std::string note = "metadata cannot be written into AVIF/HEIC files as they are";
            EXPECT_EQ(r.err.find(note) != std::string::npos, s.encoded) << r.err;
            std::string output = s.output;
            if (mode == Mode::Shift) {
                std::tm local{};
                localtime_r(&fileTime, &local);
                char undated[8];
                std::strftime(undated, sizeof undated, "%H%M_", &local);
                output = (s.dated ? "0838_" : undated) + output;
            }
            const std::string written = out.Path(output);
            ASSERT_TRUE(QFile::exists(QString::fromStdString(written))) << output;
            const auto tags = ExifTool(written);
            const std::string dump = Tool("exiv2", {"-pa", QString::fromStdString(written)});
            switch (mode) {
            case Mode::Set:
                EXPECT_EQ(Get(tags, "EXIF:Artist"), "Jane");
                EXPECT_EQ(Get(tags, "XMP:Creator"), "Jane");
                // Not ASCII: XMP only.
                EXPECT_EQ(Get(tags, "EXIF:Copyright"), "(none)");
                EXPECT_EQ(Get(tags, "XMP:Rights"), s.dated ? "© 2024 Jane" : "© 2020 Jane");
                EXPECT_EQ(Get(tags, "XMP:Description"), "Über " + output.substr(0, 1));
                EXPECT_EQ(Get(tags, "EXIF:ImageDescription"), "(none)");
                EXPECT_EQ(Get(tags, "XMP:Subject"), "a,b,c");
                EXPECT_EQ(Get(tags, "IPTC:Keywords"), s.iptc ? "a,b,c" : "(none)");
                EXPECT_EQ(Get(tags, "IPTC:CodedCharacterSet"), s.iptc ? "\x1b%G" : "(none)");
                EXPECT_EQ(Get(tags, "EXIF:Rating"), "4");
                EXPECT_EQ(Get(tags, "EXIF:RatingPercent"), "75");
                EXPECT_EQ(Get(tags, "XMP:Rating"), "4");
                // What the picture had stays.
                EXPECT_EQ(Get(tags, "XMP:Title"), s.dated ? "Velmora" : "(none)");
                if (s.exiv2) {
                    EXPECT_NE(dump.find("Xmp.dc.creator"), std::string::npos) << dump;
                    EXPECT_NE(dump.find("Exif.Image.Rating"), std::string::npos) << dump;
                    EXPECT_EQ(dump.find("Iptc.Application2.Keywords") != std::string::npos, s.iptc) << dump;
                }
                break;
            case Mode::IfEmpty:
                EXPECT_EQ(Get(tags, "EXIF:Artist"), s.artist ? "Old" : "Jane");
                EXPECT_EQ(Get(tags, "XMP:Creator"), s.artist ? "(none)" : "Jane");
                EXPECT_EQ(Get(tags, "EXIF:Copyright"), "C");
                EXPECT_EQ(Get(tags, "XMP:Rights"), "C");
                break;
            case Mode::Shift: {
                EXPECT_EQ(Get(tags, "EXIF:DateTimeOriginal"), s.dated ? "2024:05:06 08:38:09" : "(none)");
                if (s.exiv2 && s.dated) {
                    EXPECT_NE(dump.find("2024:05:06 08:38:09"), std::string::npos) << dump;
                }
                // --date-from-exif dates the output by the moved date.
                struct stat st;
                ASSERT_EQ(stat(written.c_str(), &st), 0);
                std::tm moved{};
                moved.tm_year = 124;
                moved.tm_mon = 4;
                moved.tm_mday = 6;
                moved.tm_hour = 8;
                moved.tm_min = 38;
                moved.tm_sec = 9;
                moved.tm_isdst = -1;
                EXPECT_EQ(st.st_mtime, s.dated ? std::mktime(&moved) : fileTime);
                break;
            }
            case Mode::Strip:
                EXPECT_EQ(Get(tags, "EXIF:Artist"), "X");
                EXPECT_EQ(Get(tags, "XMP:Creator"), "X");
                for (const char *gone : {"EXIF:DateTimeOriginal", "IPTC:City", "XMP:Title"})
                    EXPECT_EQ(Get(tags, gone), "(none)") << gone;
                break;
            }
        }
    }
}

// A date moved in every form XMP writes it, and the bounds of a shift.
TEST(MetadataTags, DatesMoveAndBadShiftsWriteNothing)
{
    ScratchDir src, out;
    ASSERT_TRUE(WriteFileBytes(src.Path("p.jpg"), ReadFileBytes(DataPath("photo/meta.jpg"))));
    ASSERT_EQ(Tool("exiftool", {"-q", "-overwrite_original", "-XMP-xmp:CreateDate=2024:12:31 23:30:00+02:00",
                                "-XMP-photoshop:DateCreated=2024:12:31", "-EXIF:CreateDate=2024:12:31 23:59:30",
                                QString::fromStdString(src.Path("p.jpg"))}),
              "");
    Result r = RunBatch({"--shift-dates", "+1d45s", "--out", QString::fromStdString(out.Root()),
                         QString::fromStdString(src.Path("p.jpg"))});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto tags = ExifTool(out.Path("p.jpg"));
    EXPECT_EQ(Get(tags, "EXIF:DateTimeOriginal"), "2024:05:07 07:08:54");
    EXPECT_EQ(Get(tags, "EXIF:CreateDate"), "2025:01:02 00:00:15");
    EXPECT_EQ(Get(tags, "XMP:CreateDate"), "2025:01:01 23:30:45+02:00");
    EXPECT_EQ(Get(tags, "XMP:DateCreated"), "2025:01:01");

    const std::string dest = out.Path("bad");
    for (const QStringList &bad : {QStringList{"--shift-dates", "+1y"}, QStringList{"--shift-dates", "+36526d"},
                                   QStringList{"--set", "Artist"}, QStringList{"--set", "Lens=x"},
                                   QStringList{"--set", "Rating=9"}}) {
        r = RunBatch(bad + QStringList{"--out", QString::fromStdString(dest), QString::fromStdString(src.Path("p.jpg"))});
        EXPECT_EQ(r.exitCode, 2) << bad.join(' ').toStdString();
        EXPECT_NE(r.err.find(bad[0].toStdString()), std::string::npos) << r.err;
        EXPECT_FALSE(QFile::exists(QString::fromStdString(dest)));
    }
}
