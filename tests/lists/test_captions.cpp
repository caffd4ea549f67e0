// Captions read back from the folder list, size texts and path joining.
#include "lists/captions.h"

#include <gtest/gtest.h>

namespace {

TEST(Captions, TwoLineFormSplitsIntoSizeAndName)
{
    const CaptionParts p = ParseCaption(FormatCaption(1024, 768, "box.jpg"));
    EXPECT_EQ(p.name, "box.jpg");
    EXPECT_EQ(p.width, 1024);
    EXPECT_EQ(p.height, 768);

    // Before the loader: the bare name, even one holding an "x".
    const CaptionParts bare = ParseCaption("box.jpg");
    EXPECT_EQ(bare.name, "box.jpg");
    EXPECT_EQ(bare.width, 0);
    EXPECT_EQ(bare.height, 0);
}

TEST(Captions, KnownNameKeepsOddNamesWhole)
{
    // A name with a line feed and an "x" in it: splitting the caption alone
    // would misread both the size and the name.
    const QString name = "a\nx1.png";
    CaptionParts p = CaptionDimensions(name, name);
    EXPECT_EQ(p.width, 0);
    EXPECT_EQ(p.height, 0);
    EXPECT_EQ(p.name, name);
    p = CaptionDimensions(FormatCaption(30, 40, name), name);
    EXPECT_EQ(p.width, 30);
    EXPECT_EQ(p.height, 40);
    EXPECT_EQ(CaptionDimensions(FormatCaption(0, 0, "q.png"), "q.png").width, 0);
}

TEST(Captions, SizeTextsSwitchToKilobytesAbove1024)
{
    EXPECT_EQ(FormatSizeText("0"), "0 字节");
    EXPECT_EQ(FormatSizeText(""), "0 字节");
    EXPECT_EQ(FormatSizeText("1024"), "1024 字节");
    EXPECT_EQ(FormatSizeText("1025"), "1KB");
    EXPECT_EQ(FormatSizeText("1536"), "1KB");
    EXPECT_EQ(FormatSizeText("2047"), "1KB");
    EXPECT_EQ(FormatSizeText("2048"), "2KB");
    EXPECT_EQ(FormatSizeText("5000000000"), "4882812KB"); // beyond 32 bits
}

} // namespace
