#include "settings/settingsstore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <gtest/gtest.h>

namespace {

// Starts every test from an empty store.
class SettingsStore : public ::testing::Test {
protected:
    void SetUp() override
    {
        QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Korvane",
                    QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
        s.clear();
        s.sync();
    }
};

}  // namespace

TEST_F(SettingsStore, LivesInTheScratchConfigFolderUnderKorvane)
{
    WriteProfileInt(kSettingsSection, "probe", 1);
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Korvane",
                QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
    EXPECT_TRUE(s.fileName().startsWith(qEnvironmentVariable("XDG_CONFIG_HOME"))) << s.fileName().toStdString();
    EXPECT_TRUE(s.fileName().contains("/Korvane/"));
    EXPECT_EQ(s.value("Settings2/probe").toInt(), 1);
}

TEST_F(SettingsStore, EmptyStoreGivesTheDefaults)
{
    using namespace settingskey;
    EXPECT_EQ(GetProfileInt(kSettingsSection, kWidth, settingsdefault::kWidth), 800);
    EXPECT_EQ(GetProfileString(kSettingsSection, kRenamePrefix, settingsdefault::kRenamePrefix), "pic");
    EXPECT_EQ(GetProfileString(kSettingsSection, kRenameSuffix), "");
    EXPECT_EQ(ReadStampColour(), RGB(0, 0, 0));
    const LOGFONT lf = ReadStampFont();
    EXPECT_EQ(lf.lfHeight, -16);
    EXPECT_EQ(lf.lfWeight, 400);
    EXPECT_STREQ(lf.lfFaceName, "MS Sans Serif");
    EXPECT_EQ(ReadPreviewBackground(), RGB(0, 0, 0));
    EXPECT_EQ(OutputDirKey(3), "OutputDir3");
}

TEST_F(SettingsStore, ValuesRoundTripWithTheirQuirks)
{
    using namespace settingskey;
    WriteProfileInt(kSettingsSection, kHeightListSel, -42);
    EXPECT_EQ(GetProfileInt(kSettingsSection, kHeightListSel, 0), -42);
    WriteProfileString(kSettingsSection, kOutDir, "/home/用户/输出");
    EXPECT_EQ(GetProfileString(kSettingsSection, kOutDir, "源目录"), "/home/用户/输出");

    // Numbers stored unsigned read back signed; junk reads as the default.
    WriteProfileString(kSettingsSection, kPosX, "4294967295");
    EXPECT_EQ(GetProfileInt(kSettingsSection, kPosX, 7), -1);
    WriteProfileString(kSettingsSection, kPosY, "not a number");
    EXPECT_EQ(GetProfileInt(kSettingsSection, kPosY, 7), 7);

    // Only the low 8 bits of a colour component count.
    WriteProfileInt(kSettingsSection, kFontRed, 300);
    EXPECT_EQ(GetRValue(ReadStampColour()), 44);

    LOGFONT lf;
    lf.lfHeight = -30;
    lf.lfWeight = 700;
    lf.lfItalic = 1;
    lf.lfStrikeOut = 1;
    lf.SetFaceName("Noto Sans CJK SC");
    WriteStampFontAndColour(lf, RGB(1, 2, 3));
    const LOGFONT back = ReadStampFont();
    EXPECT_EQ(back.lfHeight, -30);
    EXPECT_EQ(back.lfWeight, 700);
    EXPECT_EQ(back.lfItalic, 1);
    EXPECT_EQ(GetProfileInt(kSettingsSection, "fontStrickOut", 0), 1);
    EXPECT_STREQ(back.lfFaceName, "Noto Sans CJK SC");
    EXPECT_EQ(ReadStampColour(), RGB(1, 2, 3));

    // An over-long stored face name is cut to what the record holds.
    WriteProfileString(kSettingsSection, kFontFaceName, QString(80, 'F'));
    EXPECT_EQ(std::string(ReadStampFont().lfFaceName), std::string(31, 'F'));

    WritePreviewBackground(RGB(10, 20, 30));
    EXPECT_EQ(GetProfileInt(kSettingsSection, "iGreen", 0), 20);
    EXPECT_EQ(ReadPreviewBackground(), RGB(10, 20, 30));

    // Commas: written quoted, and a value typed into the file without
    // quotes (a list to the file's reader) is read as typed.
    WriteProfileString(kSettingsSection, "CropMargins", "0,0,10%,0");
    EXPECT_EQ(GetProfileString(kSettingsSection, "CropMargins"), "0,0,10%,0");
    {
        QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Korvane",
                    QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
        s.setValue("Settings2/Sizes", QStringList{"320w", "768w", "1024"});
    }
    EXPECT_EQ(GetProfileString(kSettingsSection, "Sizes"), "320w,768w,1024");
}
