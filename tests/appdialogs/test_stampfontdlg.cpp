#include "resources/ids_app.h"
#include "tests/appdialogs/modal_answer.h"
#include "settings/settingsstore.h"
#include "app/dialogs/stampfontdlg.h"
#include "app/dialogs/stampfontsample.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QCoreApplication>
#include <QFileInfo>
#include <QFontComboBox>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QSettings Store()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Korvane",
                     QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
}

// The twelve stored values, in the order they are written.
const char *const kKeys[] = {
    "fcr",        "fcg",        "fcb",           "fontHeight",    "fontWidth",   "fontEscapement",
    "fontItalic", "fontWeight", "fontUnderline", "fontStrickOut", "fontCharSet", "fontFaceName"};

QStringList StoredValues()
{
    QSettings s = Store();
    QStringList values;
    for (const char *key : kKeys)
        values.append(s.value(QStringLiteral("Settings2/") + key, QStringLiteral("<absent>")).toString());
    return values;
}

// A record as a store of an older machine may hold: fields the dialog does
// not show (width, escapement, character set) must survive it.
LOGFONT OddFont()
{
    LOGFONT lf;
    lf.lfHeight = -18;
    lf.lfWidth = 7;
    lf.lfEscapement = 450;
    lf.lfWeight = 300;
    lf.lfItalic = 0;
    lf.lfUnderline = 1;
    lf.lfStrikeOut = 0;
    lf.lfCharSet = 134;
    lf.SetFaceName("MS Sans Serif");
    return lf;
}

class StampFontDlg : public ::testing::Test {
protected:
    void SetUp() override
    {
        QSettings s = Store();
        s.clear();
        s.sync();
    }
};

} // namespace

TEST_F(StampFontDlg, PresetsItsControlsFromTheRecordAndColour)
{
    LOGFONT lf = OddFont();
    lf.lfWeight = 700;
    CStampFontDlg dlg(lf, RGB(250, 240, 230));
    EXPECT_EQ(ById<QSpinBox>(&dlg, appid::IDC_FONT_SIZE)->value(), 18);
    EXPECT_TRUE(ById<QCheckBox>(&dlg, appid::IDC_FONT_BOLD)->isChecked());
    EXPECT_FALSE(ById<QCheckBox>(&dlg, appid::IDC_FONT_ITALIC)->isChecked());
    EXPECT_TRUE(ById<QCheckBox>(&dlg, appid::IDC_FONT_UNDERLINE)->isChecked());
    EXPECT_FALSE(ById<QCheckBox>(&dlg, appid::IDC_FONT_STRIKEOUT)->isChecked());
    EXPECT_EQ(dlg.GetColour(), RGB(250, 240, 230));

    // A near-white watermark is shown on a dark sample so it can be seen.
    auto *sample = ById<CStampFontSample>(&dlg, appid::IDC_FONT_SAMPLE);
    ASSERT_NE(sample, nullptr);
    const QImage shown = sample->grab().toImage();
    EXPECT_EQ(QColor(shown.pixel(shown.width() - 3, 3)), CStampFontSample::BackgroundFor(RGB(250, 240, 230)));
    EXPECT_NE(CStampFontSample::BackgroundFor(RGB(250, 240, 230)),
              CStampFontSample::BackgroundFor(RGB(0, 0, 0)));
    bool textInColour = false;
    for (int y = 0; y < shown.height() && !textInColour; ++y) {
        for (int x = 0; x < shown.width() && !textInColour; ++x)
            textInColour = QColor(shown.pixel(x, y)) == QColor(250, 240, 230);
    }
    EXPECT_TRUE(textInColour);
}

TEST_F(StampFontDlg, OkWithoutChangesStoresTheValuesAsTheyWere)
{
    LOGFONT lf = OddFont();
    COLORREF colour = RGB(1, 2, 3);
    ModalAnswer<CStampFontDlg> answer([](CStampFontDlg *dlg) { ById<QPushButton>(dlg, 1)->click(); });
    ASSERT_TRUE(CStampFontDlg::Run(nullptr, lf, colour));
    EXPECT_EQ(StoredValues(),
              QStringList({"1", "2", "3", "-18", "7", "450", "0", "300", "1", "0", "134", "MS Sans Serif"}));
    EXPECT_EQ(colour, RGB(1, 2, 3));
    EXPECT_EQ(lf.lfWidth, 7);
    EXPECT_EQ(lf.lfWeight, 300);
    EXPECT_EQ(lf.lfCharSet, 134);
    const LOGFONT back = ReadStampFont();
    EXPECT_EQ(back.lfHeight, -18);
    EXPECT_STREQ(back.lfFaceName, "MS Sans Serif");
    EXPECT_EQ(ReadStampColour(), RGB(1, 2, 3));
}

TEST_F(StampFontDlg, OkStoresEveryChoiceOfTheUser)
{
    LOGFONT lf = OddFont();
    COLORREF colour = RGB(0, 0, 0);
    QString chosenFace;
    ModalAnswer<QColorDialog> colourAnswer([](QColorDialog *picker) {
        picker->setCurrentColor(QColor(10, 200, 30));
        static_cast<QDialog *>(picker)->accept();
    });
    ModalAnswer<CStampFontDlg> answer([&](CStampFontDlg *dlg) {
        auto *face = ById<QFontComboBox>(dlg, appid::IDC_FONT_FACE);
        face->setCurrentIndex(face->currentIndex() == 0 ? 1 : 0);
        chosenFace = face->currentFont().family();
        ById<QSpinBox>(dlg, appid::IDC_FONT_SIZE)->setValue(40);
        for (int id : {appid::IDC_FONT_BOLD, appid::IDC_FONT_ITALIC, appid::IDC_FONT_UNDERLINE,
                       appid::IDC_FONT_STRIKEOUT})
            QTest::mouseClick(ById<QCheckBox>(dlg, id), Qt::LeftButton);
        // The colour dialog is answered by its own timer while this one waits.
        QTimer::singleShot(0, dlg, [dlg] {
            ById<QPushButton>(dlg, appid::IDC_FONT_COLOUR)->click();
            ById<QPushButton>(dlg, 1)->click();
        });
    });
    ASSERT_TRUE(CStampFontDlg::Run(nullptr, lf, colour));
    EXPECT_EQ(colourAnswer.count, 1);
    ASSERT_FALSE(chosenFace.isEmpty());
    EXPECT_EQ(colour, RGB(10, 200, 30));
    EXPECT_EQ(lf.lfHeight, -40);
    EXPECT_EQ(lf.lfWeight, 700);
    EXPECT_EQ(lf.lfItalic, 1);
    EXPECT_EQ(lf.lfUnderline, 0);
    EXPECT_EQ(lf.lfStrikeOut, 1);
    EXPECT_EQ(QString::fromUtf8(lf.lfFaceName), chosenFace.left(31));
    EXPECT_EQ(StoredValues(), QStringList({"10", "200", "30", "-40", "7", "450", "1", "700", "0", "1", "134",
                                           QString::fromUtf8(lf.lfFaceName)}));
}

TEST_F(StampFontDlg, CancelChangesNothingInTheRecordOrTheStore)
{
    WriteStampFontAndColour(OddFont(), RGB(5, 6, 7));
    const QStringList before = StoredValues();
    LOGFONT lf = OddFont();
    COLORREF colour = RGB(5, 6, 7);
    ModalAnswer<CStampFontDlg> answer([](CStampFontDlg *dlg) {
        ById<QSpinBox>(dlg, appid::IDC_FONT_SIZE)->setValue(99);
        QTest::mouseClick(ById<QCheckBox>(dlg, appid::IDC_FONT_BOLD), Qt::LeftButton);
        ById<QPushButton>(dlg, 2)->click();
    });
    EXPECT_FALSE(CStampFontDlg::Run(nullptr, lf, colour));
    EXPECT_EQ(answer.count, 1);
    EXPECT_EQ(StoredValues(), before);
    EXPECT_EQ(lf.lfHeight, -18);
    EXPECT_EQ(lf.lfWeight, 300);
    EXPECT_EQ(colour, RGB(5, 6, 7));
}
