#include "tests/mainwindow/mainwindow_fixture.h"
#include "app/dialogs/encodersettingsdlg.h"
#include "app/dialogs/metadatatagsdlg.h"
#include "app/dialogs/nametemplatedlg.h"
#include "app/dialogs/resizeoptionsdlg.h"
#include "app/dialogs/stampoptionsdlg.h"
#include "app/optionpanel.h"
#include "convert/sizelimit.h"
#include "lists/imagelists.h"
#include "tests/test_support.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include <tuple>

using namespace mainid;
using namespace mwtest;

namespace {

using MoreOptions = MainWindowTest;

TEST_F(MoreOptions, TheLaterResizeRulesEnableTheSizesTheyTake)
{
    Open();
    QComboBox *rule = Combo(IDC_RESIZE_TYPE);
    ASSERT_EQ(rule->count(), 10);
    EXPECT_EQ(rule->itemText(RESIZE_SIZES), U("多个尺寸")); // joins the list at its end
    EXPECT_FALSE(Ctl(IDC_RESIZE_MORE)->isEnabled());
    Check(IDC_RESIZE)->click();
    EXPECT_TRUE(Ctl(IDC_RESIZE_MORE)->isEnabled());
    const struct {
        int rule;
        bool width, height;
    } rows[] = {{RESIZE_LONG_EDGE, false, false}, {RESIZE_SHORT_EDGE, false, false},
                {RESIZE_PERCENT, false, false},   {RESIZE_FILL, true, true},
                {RESIZE_PAD, true, true},         {0, true, true}};
    for (const auto &row : rows) {
        rule->setCurrentIndex(row.rule);
        emit rule->activated(row.rule);
        EXPECT_EQ(Edit(IDC_WIDTH)->isEnabled(), row.width) << row.rule;
        EXPECT_EQ(Edit(IDC_HEIGHT)->isEnabled(), row.height) << row.rule;
    }
    // A later rule stored keeps its fields off when the box is ticked again.
    rule->setCurrentIndex(RESIZE_PERCENT);
    Check(IDC_RESIZE)->click();
    Check(IDC_RESIZE)->click();
    EXPECT_FALSE(Edit(IDC_WIDTH)->isEnabled());
}

TEST_F(MoreOptions, SeveralSizesAreTypedBehindMoreAndCheckedBeforeTheRun)
{
    using namespace settingskey;
    WriteProfileInt(kSettingsSection, kResize, 1);
    WriteProfileInt(kSettingsSection, kResizeType, RESIZE_SIZES);
    WriteProfileString(kSettingsSection, kSizes, "320w,,junk");
    CMainDlg &dlg = Open();
    COptionPanel &panel = *dlg.Options();
    QComboBox *rule = Combo(IDC_RESIZE_TYPE);
    // A stored list that cannot be read is dropped with its entry.
    EXPECT_EQ(rule->currentIndex(), 0);
    EXPECT_EQ(panel.m_resizeChoices.sizes, "");
    // Choosing the entry opens the field; a bad list stops the run at the button.
    const auto choose = [&](const char *typed) {
        bool sizesOn = false, edgeOn = true;
        dlgtest::WhenShown<CResizeOptionsDlg> answer([&](CResizeOptionsDlg *d) {
            sizesOn = d->findChild<QLineEdit *>("sizes")->isEnabled();
            edgeOn = d->findChild<QSpinBox *>("edge")->isEnabled();
            d->findChild<QLineEdit *>("sizes")->setText(typed);
            d->accept();
        });
        rule->setCurrentIndex(RESIZE_SIZES);
        emit rule->activated(RESIZE_SIZES);
        EXPECT_EQ(std::pair(sizesOn, edgeOn), std::pair(true, false));
        EXPECT_FALSE(Edit(IDC_WIDTH)->isEnabled());
    };
    choose("320w,0");
    {
        MessageCatcher messages;
        EXPECT_FALSE(panel.UpdateData(true));
        ASSERT_EQ(messages.texts.size(), 1);
        EXPECT_TRUE(messages.texts[0].contains("WxH")) << messages.texts[0].toStdString();
        dlg.activateWindow();
        EXPECT_TRUE(dlgtest::WaitFor([&] { return QApplication::focusWidget() == Ctl(IDC_RESIZE_MORE); }));
    }
    choose(" 320w,768w ");
    ASSERT_TRUE(panel.UpdateData(true));
    CConvertJob job = MakeConvertJob(panel.MakeOptions(), {});
    EXPECT_EQ(job.m_sizes.size(), 2u);
    EXPECT_EQ(std::pair(job.m_nResizeType, job.m_nWidth), std::pair(1, 320)); // the first size shows
    panel.WriteSettings(QString());
    EXPECT_EQ(GetProfileString(kSettingsSection, kSizes, ""), "320w,768w");
    // A template must tell the sizes apart.
    Check(IDC_RENAME)->click();
    panel.m_nameChoices = {true, "{name}_{w}"};
    MessageCatcher messages;
    EXPECT_FALSE(panel.UpdateData(true));
    ASSERT_EQ(messages.texts.size(), 1);
    EXPECT_TRUE(messages.texts[0].contains("{size}"));
    panel.m_nameChoices = {true, "{size}/{name}"};
    EXPECT_TRUE(panel.UpdateData(true));
}

TEST_F(MoreOptions, StoredChoicesReachTheRunAndTheDialogsChangeThem)
{
    using namespace settingskey;
    auto put = [](const char *k, int v) { WriteProfileInt(kSettingsSection, k, v); };
    put(kResize, 1);
    put(kRename, 1);
    put(kResizeEdge, 640);
    put(kGravity, GRAVITY_TOP_RIGHT);
    put(kCropRatio, 1);
    put(kCropRatioWidth, 16);
    put(kCropRatioHeight, 9);
    put(kNameTemplateOn, 1);
    WriteProfileString(kSettingsSection, kNameTemplate, "{n:2}");
    put(kExtensionCase, EXTCASE_LOWER);
    put(kKeepDates, 1);
    put(kDateSource, 1);
    put(kLosslessRotate, 0);
    put(kKeepIfLarger, 1);
    CMainDlg &dlg = Open();
    COptionPanel &panel = *dlg.Options();
    // The template takes the place of prefix and suffix.
    EXPECT_FALSE(Edit(IDC_PREFIX)->isEnabled());
    EXPECT_TRUE(Edit(IDC_START_NUMBER)->isEnabled());
    EXPECT_TRUE(Combo(IDC_DATE_SOURCE)->isEnabled());
    ASSERT_TRUE(panel.UpdateData(true));
    ConvertOptions o = panel.MakeOptions();
    EXPECT_EQ(o.m_nEdgeSize, 640);
    EXPECT_EQ(o.m_nGravity, GRAVITY_TOP_RIGHT);
    EXPECT_TRUE(o.m_bCropRatio);
    EXPECT_EQ(o.m_nCropRatioW * 100 + o.m_nCropRatioH, 1609);
    EXPECT_TRUE(o.m_bNameTemplate);
    EXPECT_EQ(o.m_strNameTemplate, "{n:2}");
    EXPECT_EQ(o.m_nExtCase, EXTCASE_LOWER);
    EXPECT_EQ(o.m_nOutputDate, OUTDATE_EXIF);
    EXPECT_EQ(std::pair(o.m_bLossless, o.m_bKeepIfLarger), std::pair(false, true));
    EXPECT_EQ(MakeConvertJob(o, {}).m_nLossless, LOSSLESS_OFF);

    // Unticked groups take nothing of what is behind their buttons.
    Check(IDC_RESIZE)->click();
    Check(IDC_RENAME)->click();
    Check(IDC_KEEP_DATES)->click();
    Check(IDC_LOSSLESS)->setChecked(true); // rotation is off: the box is disabled
    Check(IDC_IF_LARGER)->click();
    ASSERT_TRUE(panel.UpdateData(true));
    o = panel.MakeOptions();
    EXPECT_FALSE(o.m_bCropRatio);
    EXPECT_FALSE(o.m_bNameTemplate);
    EXPECT_EQ(o.m_nExtCase, EXTCASE_LOWER); // the extension's case holds without renaming
    EXPECT_EQ(o.m_nOutputDate, OUTDATE_WRITTEN);
    EXPECT_EQ(std::pair(o.m_bLossless, o.m_bKeepIfLarger), std::pair(true, false));

    Check(IDC_RESIZE)->click();
    Combo(IDC_RESIZE_TYPE)->setCurrentIndex(RESIZE_PERCENT);
    {
        // The dialog enables what the window's rule uses.
        bool edgeOn = true, percentOn = false, followsOn = false;
        dlgtest::WhenShown<CResizeOptionsDlg> answer([&](CResizeOptionsDlg *d) {
            edgeOn = d->findChild<QSpinBox *>("edge")->isEnabled();
            percentOn = d->findChild<QSpinBox *>("percent")->isEnabled();
            followsOn = d->findChild<QCheckBox *>("ratioFollows")->isEnabled();
            d->findChild<QSpinBox *>("percent")->setValue(250);
            d->findChild<QCheckBox *>("ratioFollows")->setChecked(true);
            d->accept();
        });
        Ctl<QPushButton>(IDC_RESIZE_MORE)->click();
        EXPECT_EQ(std::tuple(edgeOn, percentOn, followsOn), std::tuple(false, true, true));
    }
    // The ratio's turn is an editing step's value.
    EXPECT_TRUE(panel.m_edits.cropRatioFollows);
    EXPECT_EQ(panel.m_resizeChoices.percent, 250);
    EXPECT_EQ(panel.m_resizeChoices.edge, 640);
    panel.WriteSettings(QString());
    EXPECT_EQ(GetProfileInt(kSettingsSection, kResizePercent, 0), 250);
    EXPECT_EQ(GetProfileString(kSettingsSection, "CropRatioFollows"), "1");
    EXPECT_EQ(GetProfileInt(kSettingsSection, kKeepDates, 1), 0);
    EXPECT_EQ(GetProfileInt(kSettingsSection, kLosslessRotate, 0), 1);
    EXPECT_EQ(GetProfileInt(kSettingsSection, kKeepIfLarger, 1), 0);
}

TEST_F(MoreOptions, TheWatermarkChoicesAreStoredReachTheRunAndAnUnreadableLogoStopsIt)
{
    using namespace settingskey;
    auto put = [](const char *k, int v) { WriteProfileInt(kSettingsSection, k, v); };
    put(kStamp, 1);
    put(kStampPosition, GRAVITY_TOP_LEFT);
    put(kStampOpacity, 40);
    put(kStampSizeOn, 1);
    put(kStampSize, 7);
    put(kStampShadow, 1);
    CMainDlg &dlg = Open();
    COptionPanel &panel = *dlg.Options();
    EXPECT_TRUE(Ctl(IDC_STAMP_MORE)->isEnabled());
    ASSERT_TRUE(panel.UpdateData(true));
    ConvertOptions o = panel.MakeOptions();
    EXPECT_EQ(o.m_nStampPosition, GRAVITY_TOP_LEFT);
    EXPECT_EQ(o.m_nStampMargin, kDefaultStampMargin);
    EXPECT_EQ(o.m_nStampOpacity, 40);
    EXPECT_EQ(o.m_nStampSizePercent, 7);
    EXPECT_TRUE(o.m_bStampShadow);
    EXPECT_TRUE(o.m_strLogoPath.empty());
    {
        dlgtest::WhenShown<CStampOptionsDlg> answer([](CStampOptionsDlg *d) {
            d->findChild<QCheckBox *>("sizeOn")->setChecked(false);
            d->findChild<QLineEdit *>("logo")->setText("/no/such/logo.png");
            d->accept();
        });
        Ctl<QPushButton>(IDC_STAMP_MORE)->click();
    }
    o = panel.MakeOptions();
    EXPECT_EQ(o.m_nStampSizePercent, 0);
    EXPECT_EQ(o.m_strLogoPath, "/no/such/logo.png");
    {
        MessageCatcher messages;
        EXPECT_FALSE(panel.UpdateData(true)); // the run does not start
        ASSERT_EQ(messages.texts.size(), 1);
        EXPECT_TRUE(messages.texts[0].startsWith("无法读取水印图片 /no/such/logo.png")) << messages.texts[0].toStdString();
    }
    panel.WriteSettings(QString());
    EXPECT_EQ(GetProfileInt(kSettingsSection, kStampSizeOn, 1), 0);
    EXPECT_EQ(GetProfileString(kSettingsSection, kLogoFile, QString()), "/no/such/logo.png");
    Check(IDC_STAMP)->click();
    EXPECT_FALSE(Ctl(IDC_STAMP_MORE)->isEnabled());
}

TEST_F(MoreOptions, EncoderSettingsAndTheMetadataChoiceAreStoredAndReachTheRun)
{
    using namespace settingskey;
    auto put = [](const char *k, int v) { WriteProfileInt(kSettingsSection, k, v); };
    put(kPngLevel, 9);
    put(kDpi, 300);
    put(kStripMetadata, 2);
    put(kFormatType, 1); // JPG
    CMainDlg &dlg = Open();
    COptionPanel &panel = *dlg.Options();
    EXPECT_EQ(Combo(IDC_METADATA)->currentText(), U("去除位置"));
    ASSERT_TRUE(panel.UpdateData(true));
    ConvertOptions o = panel.MakeOptions();
    EXPECT_EQ(std::tuple(o.m_encoder.m_nPngLevel, o.m_encoder.m_nDpi, o.m_bStripLocation, o.m_bStripMetadata),
              std::tuple(9, 300, true, false));

    // The dialog shows the chosen format's settings and leaves the others.
    // The extension's case is there too, renaming or not.
    EXPECT_FALSE(Check(IDC_RENAME)->isChecked());
    bool pngShown = true;
    dlgtest::WhenShown<CEncoderSettingsDlg> answer([&](CEncoderSettingsDlg *d) {
        pngShown = d->findChild<QSpinBox *>("pngLevel")->isVisibleTo(d);
        d->findChild<QCheckBox *>("jpegProgressive")->setChecked(true);
        d->findChild<QComboBox *>("jpegSubsampling")->setCurrentIndex(2);
        d->findChild<QSpinBox *>("dpi")->setValue(150);
        d->findChild<QSpinBox *>("renderDpi")->setValue(192);
        auto *extCase = d->findChild<QComboBox *>("extCase");
        if (extCase)
            extCase->setCurrentIndex(EXTCASE_UPPER);
        // The size limit: 250 KB typed as 0.25 MB.
        d->findChild<QGroupBox *>("maxFileSize")->setChecked(true);
        d->findChild<QComboBox *>("maxFileSizeUnit")->setCurrentIndex(SIZEUNIT_MB);
        d->findChild<QDoubleSpinBox *>("maxFileSizeValue")->setValue(0.25);
        d->findChild<QSpinBox *>("minQuality")->setValue(40);
        d->findChild<QCheckBox *>("maxFileSizeShrink")->setChecked(true);
        d->accept();
    });
    Ctl<QPushButton>(IDC_FORMAT_SETTINGS)->click();
    EXPECT_FALSE(pngShown);
    Combo(IDC_METADATA)->setCurrentIndex(2);
    ASSERT_TRUE(panel.UpdateData(true));
    o = panel.MakeOptions();
    EXPECT_EQ(std::tuple(o.m_encoder.m_bJpegProgressive, o.m_encoder.m_nJpegSubsampling,
                         o.m_encoder.m_nPngLevel, o.m_encoder.m_nDpi, o.m_bStripMetadata, o.m_bStripLocation,
                         o.m_nExtCase),
              std::tuple(true, SUBSAMPLING_422, 9, 150, true, false, EXTCASE_UPPER));
    EXPECT_EQ(std::tuple(o.m_bMaxFileSize, o.m_nMaxFileSize, o.m_nMaxFileSizeUnit, o.m_nMinQuality,
                         o.m_bMaxFileSizeShrink),
              std::tuple(true, std::int64_t(250000), int(SIZEUNIT_MB), 40, true));
    EXPECT_EQ(MakeConvertJob(o, {}).m_nRenderDpi, 192);
    panel.WriteSettings(QString());
    const auto stored = [](const char *k) { return GetProfileInt(kSettingsSection, k, 0); };
    EXPECT_EQ(std::tuple(stored(kJpegProgressive), stored(kJpegSubsampling), stored(kDpi),
                         stored(kStripMetadata), stored(kExtensionCase), stored(kMaxFileSizeOn),
                         stored(kMaxFileSize), stored(kMaxFileSizeUnit), stored(kRenderDpi)),
              std::tuple(1, 422, 150, 1, EXTCASE_UPPER, 1, 250000, int(SIZEUNIT_MB), 192));

    // Every format has an extension: the button stays on whatever the format.
    for (const std::uint32_t type : {0u, std::uint32_t(CXIMAGE_FORMAT_GIF), std::uint32_t(CXIMAGE_FORMAT_BMP),
                                     std::uint32_t(CXIMAGE_FORMAT_TIF)}) {
        int entry = type == 0 ? 0 : 1;
        while (type != 0 && FormatOfListEntry(entry) && FormatOfListEntry(entry)->type != type)
            ++entry;
        Combo(IDC_FORMAT)->setCurrentIndex(entry);
        emit Combo(IDC_FORMAT)->activated(entry);
        EXPECT_TRUE(Ctl(IDC_FORMAT_SETTINGS)->isEnabled()) << type;
    }
}

TEST_F(MoreOptions, TheTemplateDialogShowsTheFirstSelectedFilesNameAndRefusesBadTemplates)
{
    testsupport::ScratchDir src;
    const std::vector<std::string> files = dlgtest::MakePictures(src, 2, 64, 48);
    CMainDlg &dlg = Open();
    dlg.Lists()->AddPaths({QString::fromStdString(files[1]), QString::fromStdString(files[0])});
    Check(IDC_RENAME)->click();
    const QString first = QFileInfo(QString::fromStdString(files[1])).completeBaseName();
    // The help's examples of the running number among them: what it says
    // of each is the name a file gets.
    const struct {
        const char *text;
        QString sample;             // empty: refused
        const char *help = nullptr; // what the help says of the token, when it names it
    } rows[] = {{"{name}_{w}x{h}", first + "_64x48.png"},
                {"{folder}/{n:3}", QFileInfo(QString::fromStdString(src.Root())).fileName() + "/001.png"},
                {"{n}", "001.png", "{n} 序号, 补零到三位(001)"},
                {"{n:1}", "1.png", "{n:1} 不补零"},
                {"{n:5}", "00001.png", "{n:5} 五位"},
                {"../up", QString()},
                {"{nope}", QString()}};
    for (const auto &row : rows) {
        QString sample, help;
        bool accepted = false;
        MessageCatcher messages;
        dlgtest::WhenShown<CNameTemplateDlg> answer([&](CNameTemplateDlg *d) {
            d->findChild<QCheckBox *>("useTemplate")->setChecked(true);
            d->findChild<QLineEdit *>("template")->setText(QString::fromUtf8(row.text));
            sample = d->findChild<QLabel *>("sample")->text();
            for (const QLabel *label : d->findChildren<QLabel *>())
                help += label->text();
            d->findChild<QPushButton *>("ok")->click();
            accepted = d->result() == QDialog::Accepted;
            if (!accepted)
                d->reject();
        });
        Ctl<QPushButton>(IDC_NAME_TEMPLATE)->click();
        if (row.sample.isEmpty()) {
            EXPECT_FALSE(accepted) << row.text;
            EXPECT_TRUE(sample.startsWith(U("文件名模板无效"))) << sample.toStdString();
            EXPECT_EQ(messages.texts.size(), 1) << row.text;
        } else {
            EXPECT_TRUE(accepted) << row.text;
            EXPECT_EQ(sample, row.sample) << row.text;
        }
        if (row.help) {
            EXPECT_TRUE(help.contains(U(row.help))) << help.toStdString();
        }
    }
    EXPECT_EQ(dlg.Options()->m_nameChoices.nameTemplate, "{n:5}");
}

} // namespace

// The tags behind the metadata list's "...": read from the store, changed in
// the dialog (a bad shift refused there), stored, and in the run's job.
TEST_F(MoreOptions, TheMetadataTagsAreStoredAndReachTheRun)
{
    using namespace settingskey;
    WriteProfileString(kSettingsSection, kSetTags, QStringLiteral("Artist=Jane|Rating=4"));
    WriteProfileString(kSettingsSection, kShiftDates, QStringLiteral("not a shift"));
    CMainDlg &dlg = Open();
    COptionPanel &panel = *dlg.Options();
    ASSERT_TRUE(panel.UpdateData(true));
    CConvertJob job = MakeConvertJob(panel.MakeOptions(), {});
    EXPECT_EQ(job.m_metaEdits.values,
              (std::vector<cxmeta::TagValue>{{cxmeta::Tag::Artist, "Jane"}, {cxmeta::Tag::Rating, "4"}}));
    EXPECT_EQ(job.m_metaEdits.shiftSeconds, 0);
    bool refused = false;
    dlgtest::WhenShown<CMetadataTagsDlg> answer([&](CMetadataTagsDlg *d) {
        EXPECT_EQ(d->findChild<QLineEdit *>("Artist")->text(), "Jane");
        d->findChild<QLineEdit *>("Keywords")->setText(QStringLiteral("山, sea"));
        d->findChild<QComboBox *>("Rating")->setCurrentIndex(0);
        d->findChild<QCheckBox *>("ifEmpty")->setChecked(true);
        d->findChild<QLineEdit *>("shift")->setText(QStringLiteral("+2x"));
        {
            MessageCatcher told;
            d->findChild<QPushButton *>("ok")->click();
            refused = told.texts.size() == 1 && told.texts[0].contains("+2x");
        }
        EXPECT_TRUE(d->isVisible());
        d->findChild<QLineEdit *>("shift")->setText(QStringLiteral("-1h"));
        d->findChild<QPushButton *>("ok")->click();
    });
    Ctl<QPushButton>(IDC_METADATA_TAGS)->click();
    EXPECT_TRUE(refused);
    job = MakeConvertJob(panel.MakeOptions(), {});
    EXPECT_EQ(job.m_metaEdits.values,
              (std::vector<cxmeta::TagValue>{{cxmeta::Tag::Artist, "Jane"}, {cxmeta::Tag::Keywords, "山, sea"}}));
    EXPECT_EQ(std::tuple(job.m_metaEdits.ifEmpty, job.m_metaEdits.shiftSeconds), std::tuple(true, std::int64_t(-3600)));
    panel.WriteSettings(QString());
    EXPECT_EQ(GetProfileString(kSettingsSection, kSetTags, QString()), QStringLiteral("Artist=Jane|Keywords=山, sea"));
    EXPECT_EQ(GetProfileString(kSettingsSection, kShiftDates, QString()), QStringLiteral("-1h"));
    EXPECT_EQ(GetProfileInt(kSettingsSection, kSetTagsIfEmpty, 0), 1);
}
