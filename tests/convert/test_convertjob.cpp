#include "convert/convertjob.h"

#include <gtest/gtest.h>

TEST(CConvertJob, DefaultsAndFlagBits)
{
    CConvertJob job;
    EXPECT_EQ(job.GetFlagsByte(), 0);
    EXPECT_EQ(job.m_nrotateType, -1);
    EXPECT_EQ(job.m_crStampColor, 0x007A7AFFu);
    EXPECT_EQ(job.m_bSharpen, 0);
    EXPECT_EQ(job.m_bDontEnlarge, 0);
    EXPECT_EQ(job.GetOutputType(), 0u);
    job.SetResizeFlag(true);
    job.SetRenameFlag(true);
    EXPECT_EQ(job.GetFlagsByte(), 4 | 8);
    job.SetResizeFlag(false);  // clears only its own bit
    EXPECT_EQ(job.GetFlagsByte(), 8);
    job.SetFormat("TIF");
    EXPECT_EQ(job.GetOutputType(), 5u);
    job.SetFileCount(-3);
    EXPECT_EQ(job.GetFileCount(), 0);
}

TEST(CConvertJob, TextsAreCutBetweenCharactersButPathsNever)
{
    std::string chinese;
    for (int i = 0; i < 300; ++i)
        chinese += "图";  // three bytes each
    CConvertJob job;
    job.SetPrefix(chinese);
    job.SetSuffix("ab" + chinese);
    job.SetStamp(chinese, nullptr, RGB(1, 2, 3));
    EXPECT_EQ(job.m_szRenamePrefix.size(), 254u * 3);
    EXPECT_EQ(job.m_szRenameSuffix, "ab" + chinese.substr(0, 252 * 3));
    EXPECT_EQ(job.m_szStampText.size(), 255u * 3);
    EXPECT_FALSE(job.m_lfStampFont.has_value());

    const std::string longFolder = "/tmp/" + std::string(600, 'd') + "/" + chinese;
    job.SetOutputFolder(longFolder);
    EXPECT_EQ(job.m_szOutDir, longFolder);
    job.SetFileCount(1);
    job.SetFile(0, longFolder + "/x.jpg");
    EXPECT_EQ(job.GetFile(0), longFolder + "/x.jpg");

    EXPECT_EQ(CutText("abc", 0), "");
    EXPECT_EQ(CutText("a图b", 2), "a图");
}

TEST(ParseLeadingInt, ReadsLikeAtoiWithoutOverflow)
{
    EXPECT_EQ(ParseLeadingInt(""), 0);
    EXPECT_EQ(ParseLeadingInt("abc"), 0);
    EXPECT_EQ(ParseLeadingInt("  12abc"), 12);
    EXPECT_EQ(ParseLeadingInt("-7"), -7);
    EXPECT_EQ(ParseLeadingInt("+"), 0);
    EXPECT_EQ(ParseLeadingInt("99999999999999"), 2147483647);
    EXPECT_EQ(ParseLeadingInt("-99999999999999"), -2147483647 - 1);
}

TEST(MakeConvertJob, CopiesOnlyTheGroupsThatAreOn)
{
    ConvertOptions o;
    o.m_strRenamePrefix = "pre_";
    o.m_strRenameSuffix = "_suf";
    o.m_strStartNumber = "5";
    o.m_nResizeType = 2;
    o.m_nWidth = 640;
    o.m_nHeight = 480;
    o.m_bSharpen = true;
    o.m_bDontEnlarge = true;
    o.m_nrotateType = 1;
    o.m_strStampText = "mark";
    o.m_nQuality = 60;
    o.m_nFormatType = 0;
    o.m_strOutDir = "源目录";

    CConvertJob job = MakeConvertJob(o, {"/a/1.jpg", "/b/2.png"});
    EXPECT_EQ(job.GetFlagsByte(), 0);
    EXPECT_EQ(job.m_szRenamePrefix, "");
    EXPECT_EQ(job.m_nStartNumber, 0);
    EXPECT_EQ(job.m_nResizeType, 0);
    EXPECT_EQ(job.m_nWidth, 0);
    EXPECT_EQ(job.m_bSharpen, 0);       // resize off leaves these at 0
    EXPECT_EQ(job.m_bDontEnlarge, 0);
    EXPECT_EQ(job.m_nrotateType, -1);
    EXPECT_EQ(job.m_szStampText, "");
    EXPECT_EQ(job.m_nQuality, 60);      // always copied
    EXPECT_EQ(job.m_szFormat, "");
    EXPECT_EQ(job.GetOutputType(), 0u);
    EXPECT_EQ(job.m_szOutDir, "");
    EXPECT_EQ(job.m_nOverwrite, 2);
    ASSERT_EQ(job.GetFileCount(), 2);
    EXPECT_EQ(job.GetFile(1), "/b/2.png");

    o.m_bRename = o.m_bResize = o.m_bRotate = o.m_bStamp = true;
    o.m_nFormatType = 1;
    o.m_strOutDir = "/out";
    o.m_lfStamp.lfHeight = -30;
    job = MakeConvertJob(o, {});
    EXPECT_EQ(job.GetFlagsByte(), 15);
    EXPECT_EQ(job.m_szRenamePrefix, "pre_");
    EXPECT_EQ(job.m_szRenameSuffix, "_suf");
    EXPECT_EQ(job.m_nStartNumber, 5);
    EXPECT_EQ(job.m_nResizeType, 2);
    EXPECT_EQ(job.m_nHeight, 480);
    EXPECT_EQ(job.m_bSharpen, 1);
    EXPECT_EQ(job.m_bDontEnlarge, 1);
    EXPECT_EQ(job.m_nrotateType, 1);
    EXPECT_EQ(job.m_szStampText, "mark");
    EXPECT_EQ(job.m_szFormat, "JPG");
    EXPECT_EQ(job.GetOutputType(), 3u);
    EXPECT_EQ(job.m_szOutDir, "/out");
    EXPECT_EQ(job.GetFileCount(), 0);

    // The job keeps its own font: later changes to the window's do not reach it.
    ASSERT_TRUE(job.m_lfStampFont.has_value());
    o.m_lfStamp.lfHeight = -99;
    EXPECT_EQ(job.m_lfStampFont->lfHeight, -30);

    // A start number that does not read as a number keeps the names.
    o.m_strStartNumber = "abc";
    EXPECT_EQ(MakeConvertJob(o, {}).m_nStartNumber, 0);
    o.m_strStartNumber = "";
    EXPECT_EQ(MakeConvertJob(o, {}).m_nStartNumber, 0);

    // The later rules' values go with resize, the template with rename (in
    // place of prefix and suffix), the crop with its own switch.
    o.m_nPercent = 40;
    o.m_nCropRatioW = o.m_nCropRatioH = 1;
    o.m_bNameTemplate = true;
    o.m_strNameTemplate = "{name}_{n}";
    job = MakeConvertJob(o, {});
    EXPECT_EQ(job.m_nPercent, 40);
    EXPECT_FALSE(job.CropsToRatio());
    EXPECT_EQ(job.m_szNameTemplate, "{name}_{n}");
    EXPECT_EQ(job.m_szRenamePrefix, "");
    o.m_bCropRatio = true;
    o.m_bResize = o.m_bRename = false;
    job = MakeConvertJob(o, {});
    EXPECT_TRUE(job.CropsToRatio() && job.ChangesPixels());
    EXPECT_EQ(job.m_nPercent, 100);
    EXPECT_EQ(job.m_szNameTemplate, "");
}
