#include "convert/metadataedits.h"
#include "imaging/metadatatags.h"

#include <gtest/gtest.h>

TEST(MetadataEdits, ShiftsParseAndPrintBack)
{
    const struct {
        const char *text;
        bool ok;
        std::int64_t seconds;
        const char *printed;
    } rows[] = {
        {"+1h30m", true, 5400, "+1h30m"},
        {"-2d", true, -172800, "-2d"},
        {"45s", true, 45, "+45s"},
        {"+1D2H3M4S", true, 93784, "+1d2h3m4s"},
        {"+90m", true, 5400, "+1h30m"},
        {"-36525d", true, -3155760000LL, "-36525d"},
        {"+36525d1s", false, 0, ""},
        {"+999999999999999d", false, 0, ""},
        {"", false, 0, ""},
        {"+", false, 0, ""},
        {"1h1h", false, 0, ""},
        {"1w", false, 0, ""},
        {"h", false, 0, ""},
        {"+1h 30m", false, 0, ""},
    };
    for (const auto &row : rows) {
        std::int64_t seconds = 0;
        const std::string problem = ParseDateShift(row.text, seconds);
        EXPECT_EQ(problem.empty(), row.ok) << row.text << ": " << problem;
        if (!row.ok) {
            EXPECT_NE(problem.find(row.text), std::string::npos) << problem;
            continue;
        }
        EXPECT_EQ(seconds, row.seconds) << row.text;
        EXPECT_EQ(DateShiftText(seconds), row.printed);
    }
}

TEST(MetadataEdits, DatesMoveAcrossMonthsYearsAndLeapDays)
{
    const struct {
        const char *in;
        std::int64_t seconds;
        const char *out; // "" when refused
    } exif[] = {
        {"2024:02:28 23:00:00", 3600, "2024:02:29 00:00:00"},
        {"2023:12:31 23:59:59", 1, "2024:01:01 00:00:00"},
        {"2024:03:01 00:00:00", -86400, "2024:02:29 00:00:00"},
        {"0001:01:01 00:00:00", -1, ""},
        {"2024:05:06", 1, ""},
        {"    :  :     :  :  ", 1, ""},
        {"2024:13:01 00:00:00", 1, ""},
    };
    for (const auto &row : exif) {
        std::string out;
        EXPECT_EQ(cxmeta::ShiftExifDate(row.in, row.seconds, out), *row.out != '\0') << row.in;
        if (*row.out) {
            EXPECT_EQ(out, row.out);
        }
    }
    const struct {
        const char *in;
        std::int64_t seconds;
        const char *out;
    } xmp[] = {
        {"2024-05-06T07:08:09.25+02:00", 3600, "2024-05-06T08:08:09.25+02:00"},
        {"2024-05-06T23:30Z", 1800, "2024-05-07T00:00Z"},
        {"2024-05-06", 86400 * 2 + 3600, "2024-05-08"},
        {"2024-05-06", -3600, "2024-05-06"},
        {"2024-05", 3600, ""},
        {"2024-05-06T7:08", 1, ""},
    };
    for (const auto &row : xmp) {
        std::string out;
        EXPECT_EQ(cxmeta::ShiftXmpDate(row.in, row.seconds, out), *row.out != '\0') << row.in;
        if (*row.out) {
            EXPECT_EQ(out, row.out);
        }
    }
}

TEST(MetadataEdits, TagListsSurviveTheirStoredForm)
{
    const std::vector<cxmeta::TagValue> values = {{cxmeta::Tag::Artist, "A|B\\C"},
                                                  {cxmeta::Tag::Keywords, "x; y,z"},
                                                  {cxmeta::Tag::Caption, "={name}="},
                                                  {cxmeta::Tag::Rating, "0"}};
    std::vector<cxmeta::TagValue> back;
    std::string problem;
    ASSERT_TRUE(ReadTagValuesText(TagValuesText(values), back, problem)) << problem;
    EXPECT_EQ(back, values);
    ASSERT_TRUE(ReadTagValuesText("", back, problem));
    EXPECT_TRUE(back.empty());
    for (const char *bad : {"Artist", "Artist=a|", "Lens=1", "Rating=x", "Artist=a\\", "Artist=a\\n", "Artist=\x01"})
        EXPECT_FALSE(ReadTagValuesText(bad, back, problem)) << bad;
    EXPECT_EQ(cxmeta::SplitKeywords(" a ;b,, a;c "), (std::vector<std::string>{"a", "b", "c"}));
}

// Blocks made where the picture has none; a packet exiv2 refuses is kept;
// only what is missing is written when asked.
TEST(MetadataEdits, EditsMakeKeepAndSpareBlocks)
{
    cxmeta::TagEdits set;
    set.values = {{cxmeta::Tag::Artist, "Jane"}, {cxmeta::Tag::Keywords, "k"}, {cxmeta::Tag::Artist, "Ann"}};
    CxMetadata meta;
    cxmeta::EditTags(meta, set);
    EXPECT_FALSE(meta.exif.empty());
    EXPECT_NE(meta.xmp.find("Ann"), std::string::npos);
    EXPECT_EQ(meta.xmp.find("Jane"), std::string::npos);
    EXPECT_NE(meta.iptc.find("\x1b%G"), std::string::npos);

    CxMetadata broken;
    broken.xmp = "<x:xmpmeta><rdf:RDF><not closed";
    cxmeta::EditTags(broken, set);
    EXPECT_EQ(broken.xmp, "<x:xmpmeta><rdf:RDF><not closed");
    EXPECT_FALSE(broken.exif.empty());

    cxmeta::TagEdits ifEmpty = set;
    ifEmpty.ifEmpty = true;
    ifEmpty.values = {{cxmeta::Tag::Artist, "New"}, {cxmeta::Tag::Rating, "3"}};
    cxmeta::EditTags(meta, ifEmpty);
    EXPECT_NE(meta.xmp.find("Ann"), std::string::npos);
    EXPECT_EQ(meta.xmp.find("New"), std::string::npos);
    EXPECT_NE(meta.xmp.find("Rating"), std::string::npos);
}
