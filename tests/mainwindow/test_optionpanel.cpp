#include "tests/mainwindow/mainwindow_fixture.h"
#include "app/optionpanel.h"

#include <QPushButton>
#include <QRadioButton>

using namespace mainid;
using namespace mwtest;

namespace {

using OptionPanel = MainWindowTest;

// Whether w has the focus once the window is active again after a prompt.
bool FocusReturnsTo(QWidget &window, QWidget *w)
{
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window, 5000) &&
           dlgtest::WaitFor([&] { return QApplication::focusWidget() == w; });
}

QStringList Items(const QComboBox *c)
{
    QStringList items;
    for (int i = 0; i < c->count(); ++i)
        items << c->itemText(i);
    return items;
}

TEST_F(OptionPanel, FirstRunShowsTheDefaultsInEveryControl)
{
    CMainDlg &dlg = Open();
    EXPECT_EQ(dlg.windowTitle(), "Velmora 1.00");
    EXPECT_EQ(Combo(IDC_FORMAT)->currentText(), U("保持原始格式"));
    EXPECT_EQ(Combo(IDC_FORMAT)->count(), 12);
    EXPECT_EQ(Combo(IDC_FORMAT)->itemText(10), "PDF"); // stored entries keep their meaning
    EXPECT_EQ(Combo(IDC_FORMAT)->itemText(11), "PNM");
    EXPECT_EQ(Edit(IDC_QUALITY)->text(), "95");
    EXPECT_EQ(Items(Combo(IDC_DEST)), QStringList{U("源目录")});
    EXPECT_EQ(Combo(IDC_DEST)->currentIndex(), 0);
    EXPECT_EQ(Combo(IDC_RESIZE_TYPE)->currentText(), U("固定图像"));
    EXPECT_EQ(Edit(IDC_WIDTH)->text(), "800");
    EXPECT_EQ(Edit(IDC_HEIGHT)->text(), "600");
    EXPECT_TRUE(Ctl<QRadioButton>(IDC_ROTATE_LEFT)->isChecked());
    EXPECT_EQ(Edit(IDC_PREFIX)->text(), "pic");
    EXPECT_EQ(Edit(IDC_SUFFIX)->text(), "");
    EXPECT_EQ(Edit(IDC_START_NUMBER)->text(), "1");
    EXPECT_EQ(Edit(IDC_STAMP_TEXT)->text(), "");
    for (int id : {IDC_RESIZE, IDC_ROTATE, IDC_STAMP, IDC_RENAME, IDC_SHARPEN, IDC_DONT_ENLARGE, IDC_IF_LARGER})
        EXPECT_FALSE(Check(id)->isChecked()) << id;
    EXPECT_TRUE(Check(IDC_LOSSLESS)->isChecked());
    // Every group is off, so its controls are disabled; the format keeps the
    // quality disabled.
    for (int id : {IDC_WIDTH, IDC_HEIGHT, IDC_RESIZE_TYPE, IDC_SHARPEN, IDC_ROTATE_LEFT, IDC_LOSSLESS, IDC_STAMP_TEXT,
                   IDC_FONT, IDC_PREFIX, IDC_START_NUMBER, IDC_QUALITY, IDC_QUALITY_SPIN})
        EXPECT_FALSE(Ctl(id)->isEnabled()) << id;
    const COptionPanel &o = *dlg.Options();
    EXPECT_EQ(o.m_crStamp, RGB(0, 0, 0));
    EXPECT_EQ(o.m_lfStamp.lfHeight, -16);
    EXPECT_EQ(o.m_lfStamp.lfWeight, 400);
    EXPECT_STREQ(o.m_lfStamp.lfFaceName, "MS Sans Serif");
}

TEST_F(OptionPanel, StoredValuesAreRestoredButTheStartNumberIsNot)
{
    using namespace settingskey;
    auto put = [](const char *k, int v) { WriteProfileInt(kSettingsSection, k, v); };
    put(kResize, 1);
    put(kResizeType, 2);
    put(kWidth, 1024);
    put(kHeight, 768);
    put(kSharpen, 1);
    put(kRotate, 1);
    put(kRotateType, 2);
    put(kStamp, 1);
    put(kRename, 1);
    put(kFormatType, 6);
    put(kQuality, 42);
    put(kFontRed, 300);
    WriteProfileString(kSettingsSection, kStampText, U("© 水印"));
    WriteProfileString(kSettingsSection, kRenamePrefix, "holiday_");
    WriteProfileString(kSettingsSection, kRenameSuffix, "_s");
    WriteProfileString(kSettingsSection, kOutDir, "/srv/OUT");
    WriteProfileString(kSettingsSection, OutputDirKey(2).constData(), "/srv/out");
    WriteProfileString(kSettingsSection, OutputDirKey(4).constData(), "/tmp/later");

    CMainDlg &dlg = Open();
    EXPECT_TRUE(Check(IDC_RESIZE)->isChecked());
    EXPECT_EQ(Combo(IDC_RESIZE_TYPE)->currentIndex(), 2);
    // Start-up enables both size boxes whatever the rule.
    EXPECT_TRUE(Edit(IDC_WIDTH)->isEnabled());
    EXPECT_TRUE(Edit(IDC_HEIGHT)->isEnabled());
    EXPECT_EQ(Edit(IDC_WIDTH)->text(), "1024");
    EXPECT_TRUE(Check(IDC_SHARPEN)->isChecked());
    EXPECT_TRUE(Ctl<QRadioButton>(IDC_ROTATE_180)->isChecked());
    EXPECT_TRUE(Ctl(IDC_ROTATE_180)->isEnabled());
    EXPECT_EQ(Edit(IDC_STAMP_TEXT)->text(), U("© 水印"));
    EXPECT_EQ(Edit(IDC_PREFIX)->text(), "holiday_");
    EXPECT_EQ(Edit(IDC_START_NUMBER)->text(), "1");
    EXPECT_EQ(Combo(IDC_FORMAT)->currentText(), "TIF");
    EXPECT_TRUE(Edit(IDC_QUALITY)->isEnabled());
    EXPECT_EQ(Edit(IDC_QUALITY)->text(), "42");
    EXPECT_EQ(GetRValue(dlg.Options()->m_crStamp), 44);
    // An entry after an empty one is kept, not lost; the case-insensitive
    // search starting at the second entry picks "/srv/out" for "/srv/OUT".
    EXPECT_EQ(Items(Combo(IDC_DEST)), (QStringList{U("源目录"), "/srv/out", "/tmp/later"}));
    EXPECT_EQ(Combo(IDC_DEST)->currentText(), "/srv/out");
}

TEST_F(OptionPanel, TheStoredDestinationIsFoundExactlyBeforeByPrefix)
{
    WriteProfileString(kSettingsSection, OutputDirKey(2).constData(), "/data/out-old");
    WriteProfileString(kSettingsSection, OutputDirKey(3).constData(), "/data/out");
    WriteProfileString(kSettingsSection, settingskey::kOutDir, "/data/out");
    Open();
    EXPECT_EQ(Combo(IDC_DEST)->currentText(), "/data/out");
}

TEST_F(OptionPanel, EnablingRulesFollowTheCheckBoxesAndTheResizeRule)
{
    Open();
    Check(IDC_ROTATE)->click();
    EXPECT_TRUE(Ctl(IDC_ROTATE_RIGHT)->isEnabled() && Ctl(IDC_LOSSLESS)->isEnabled());
    Check(IDC_ROTATE)->click();
    EXPECT_FALSE(Ctl(IDC_ROTATE_RIGHT)->isEnabled() || Ctl(IDC_LOSSLESS)->isEnabled());

    Check(IDC_STAMP)->click();
    EXPECT_TRUE(Edit(IDC_STAMP_TEXT)->isEnabled());
    EXPECT_TRUE(Ctl(IDC_FONT)->isEnabled());

    Check(IDC_RENAME)->click();
    for (int id : {IDC_PREFIX, IDC_SUFFIX, IDC_START_NUMBER, IDC_PREFIX_LABEL})
        EXPECT_TRUE(Ctl(id)->isEnabled()) << id;
    EXPECT_EQ(Edit(IDC_PREFIX)->selectedText(), "pic");

    // The resize quirk: ticking enables both boxes whatever rule is shown;
    // picking the rule again applies it.
    QComboBox *rule = Combo(IDC_RESIZE_TYPE);
    rule->setCurrentIndex(2);
    Check(IDC_RESIZE)->click();
    EXPECT_TRUE(Edit(IDC_WIDTH)->isEnabled());
    EXPECT_TRUE(Edit(IDC_HEIGHT)->isEnabled());
    emit rule->activated(2);
    EXPECT_FALSE(Edit(IDC_WIDTH)->isEnabled());
    EXPECT_TRUE(Edit(IDC_HEIGHT)->isEnabled());
    rule->setCurrentIndex(1);
    emit rule->activated(1);
    EXPECT_TRUE(Edit(IDC_WIDTH)->isEnabled());
    EXPECT_FALSE(Edit(IDC_HEIGHT)->isEnabled());
    Check(IDC_RESIZE)->click();
    EXPECT_FALSE(Edit(IDC_WIDTH)->isEnabled());
    EXPECT_FALSE(Ctl(IDC_DONT_ENLARGE)->isEnabled());
}

TEST_F(OptionPanel, FormatChangeReadsTheControlsAndSetsTheQualityControls)
{
    CMainDlg &dlg = Open();
    QComboBox *format = Combo(IDC_FORMAT);
    const int avif = format->findText("AVIF"), jxl = format->findText("JXL");
    for (auto [index, enabled] :
         {std::pair{4, false}, {1, true}, {5, false}, {6, true}, {avif, true}, {jxl, true}, {0, false}}) {
        format->setCurrentIndex(index);
        emit format->activated(index);
        EXPECT_EQ(dlg.Options()->m_nFormatType, index);
        EXPECT_EQ(Edit(IDC_QUALITY)->isEnabled(), enabled) << index;
        EXPECT_EQ(Ctl(IDC_QUALITY_SPIN)->isEnabled(), enabled) << index;
    }
}

TEST_F(OptionPanel, ValidationNamesTheRangeFocusesTheFieldAndStopsThere)
{
    CMainDlg &dlg = Open();
    COptionPanel &o = *dlg.Options();
    Check(IDC_RESIZE)->click();  // a disabled box cannot take the focus
    {
        MessageCatcher messages;
        Edit(IDC_WIDTH)->setText("12ab");
        Edit(IDC_PREFIX)->setText("changed");
        EXPECT_FALSE(o.UpdateData(true));
        ASSERT_EQ(messages.texts.size(), 1);
        EXPECT_TRUE(messages.texts[0].contains("2147483647")) << messages.texts[0].toStdString();
        EXPECT_TRUE(FocusReturnsTo(dlg, Edit(IDC_WIDTH)));
        // Reading stopped at the width: the prefix later in the order is unread.
        EXPECT_EQ(o.m_strRenamePrefix, "pic");
    }
    Edit(IDC_WIDTH)->setText(" 640 ");
    for (auto [text, ok] : {std::pair{"101", false}, {"-1", false}, {"0", true}, {"100", true}}) {
        MessageCatcher messages;
        Edit(IDC_QUALITY)->setText(text);
        EXPECT_EQ(o.UpdateData(true), ok) << text;
        EXPECT_EQ(messages.texts.size(), ok ? 0 : 1) << text;
        if (!ok) {
            EXPECT_TRUE(messages.texts.value(0).contains("100"));
        }
    }
    EXPECT_EQ(o.m_nWidth, 640);
    EXPECT_EQ(o.m_nQuality, 100);
    // Height is read before width, so a bad height is the one reported.
    MessageCatcher messages;
    Edit(IDC_HEIGHT)->setText("99999999999");
    Edit(IDC_WIDTH)->setText("x");
    EXPECT_FALSE(o.UpdateData(true));
    EXPECT_TRUE(FocusReturnsTo(dlg, Edit(IDC_HEIGHT)));
}

TEST_F(OptionPanel, NameAndPathPartsAreRefusedInTheRenameFields)
{
    CMainDlg &dlg = Open();
    COptionPanel &o = *dlg.Options();
    Check(IDC_RENAME)->click();
    const struct {
        const char *prefix, *suffix;
        int focused; // 0: accepted
    } rows[] = {
        {"../x", "", IDC_PREFIX}, {"a/b", "", IDC_PREFIX}, {"p", "/../../y", IDC_SUFFIX},
        {"p", "a\tb", IDC_SUFFIX}, {"照片_", "_2026 (1)", 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.prefix + std::string(" ") + row.suffix);
        MessageCatcher messages;
        Edit(IDC_PREFIX)->setText(U(row.prefix));
        Edit(IDC_SUFFIX)->setText(U(row.suffix));
        EXPECT_EQ(o.UpdateData(true), row.focused == 0);
        EXPECT_EQ(messages.texts, row.focused ? QStringList{U("前缀和后缀不能包含 / 或控制字符。")} : QStringList{});
        if (row.focused) {
            EXPECT_TRUE(FocusReturnsTo(dlg, Edit(row.focused)));
        }
    }
    // With renaming off the fields are not used, so they do not stop a run.
    Check(IDC_RENAME)->click();
    Edit(IDC_PREFIX)->setText("a/b");
    MessageCatcher messages;
    EXPECT_TRUE(o.UpdateData(true));
}

TEST_F(OptionPanel, BrowsedFoldersFollowTheListsPrefixSearch)
{
    CMainDlg &dlg = Open();
    COptionPanel &o = *dlg.Options();
    QComboBox *dest = Combo(IDC_DEST);
    o.AddBrowsedFolder("/d/Pictures");
    EXPECT_EQ(Items(dest), (QStringList{U("源目录"), "/d/Pictures"}));
    // A prefix of a listed folder is not that folder: it goes in at position 1.
    o.AddBrowsedFolder("/d/Pic");
    EXPECT_EQ(Items(dest), (QStringList{U("源目录"), "/d/Pic", "/d/Pictures"}));
    EXPECT_EQ(dest->currentText(), "/d/Pic");
    // Another case is another entry.
    o.AddBrowsedFolder("/d/pictures");
    EXPECT_EQ(dest->count(), 4);
    EXPECT_EQ(dest->currentIndex(), 1);
    // Exactly listed and found first: selected, order unchanged.
    o.AddBrowsedFolder("/d/pictures");
    EXPECT_EQ(dest->count(), 4);
    EXPECT_EQ(dest->currentIndex(), 1);
    // Found first by prefix ("/d/Pic" comes before "/d/Pictures"): inserted again.
    o.AddBrowsedFolder("/d/Pictures");
    EXPECT_EQ(Items(dest), (QStringList{U("源目录"), "/d/Pictures", "/d/pictures", "/d/Pic", "/d/Pictures"}));
}

TEST_F(OptionPanel, OnlyTheFirstFiveDestinationsAreStored)
{
    CMainDlg &dlg = Open();
    COptionPanel &o = *dlg.Options();
    for (int i = 1; i <= 6; ++i)
        o.AddBrowsedFolder(QString("/out/folder%1").arg(i));
    o.SaveDestList();
    QStringList stored;
    for (int n = 1; n <= 5; ++n)
        stored << GetProfileString(kSettingsSection, OutputDirKey(n).constData());
    EXPECT_EQ(stored, (QStringList{U("源目录"), "/out/folder6", "/out/folder5", "/out/folder4", "/out/folder3"}));
}

TEST_F(OptionPanel, EnterInAFieldActsAsStartAndEscapeClosesWithoutStoring)
{
    CMainDlg &dlg = Open();
    const auto before = StoreSnapshot();
    {
        MessageCatcher messages;
        Edit(IDC_WIDTH)->setFocus();
        Edit(IDC_WIDTH)->setText("1234");
        QTest::keyClick(Edit(IDC_WIDTH), Qt::Key_Return);
        EXPECT_TRUE(dlgtest::WaitFor([&] { return !messages.texts.isEmpty(); }));
        EXPECT_EQ(messages.texts.value(0), U("请先选择文件!"));
    }
    EXPECT_TRUE(dlg.isVisible());
    QTest::keyClick(Edit(IDC_WIDTH), Qt::Key_Escape);
    EXPECT_FALSE(dlg.isVisible());
    // Closing stores the geometry only.
    auto after = StoreSnapshot();
    for (auto it = after.begin(); it != after.end(); ++it)
        if (!before.contains(it.key())) {
            EXPECT_TRUE(it.key().contains("Split") || it.key().contains("MainDlg") || it.key().contains("bMaximized") ||
                        it.key().contains("nHeightListSel"))
                << it.key().toStdString();
        }
    EXPECT_FALSE(after.contains("Settings2/m_nWidth"));
}

}  // namespace
