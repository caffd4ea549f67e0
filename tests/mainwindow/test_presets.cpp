#include "app/dialogs/editstepsdlg.h"
#include "app/dialogs/presetdlg.h"
#include "app/maintemplate.h"
#include "app/optionpanel.h"
#include "app/presetrow.h"
#include "cli/batchcommand.h"
#include "controls/elidingcombobox.h"
#include "controls/elidinglabel.h"
#include "settings/presetfile.h"
#include "tests/convert/job_fields.h"
#include "tests/mainwindow/mainwindow_fixture.h"
#include "tests/test_support.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTranslator>
#include <QUrl>

#include <functional>

using namespace mainid;
using namespace mwtest;

namespace {

using Presets = MainWindowTest;

// Saves the window's options through Save... under name, answering the
// dialog and, when the name exists, the question before it is replaced.
void SaveAs(QWidget *window, const QString &name)
{
    dlgtest::WhenShown<CPresetDlg> answer([name](CPresetDlg *d) {
        d->findChild<QLineEdit *>("name")->setText(name);
        d->findChild<QPushButton *>("ok")->click();
    });
    dlgtest::WhenShown<QMessageBox> replace([](QMessageBox *box) { box->button(QMessageBox::Yes)->click(); });
    dlgtest::ById<QPushButton>(window, IDC_PRESET_SAVE)->click();
}

void Choose(QComboBox *combo, const QString &name)
{
    const int at = combo->findText(name);
    ASSERT_GT(at, 0) << name.toStdString();
    combo->setCurrentIndex(at);
    emit combo->activated(at);
}

} // namespace

// Each family of options saved in the window comes back when the preset is
// chosen again, and velmora-batch makes the same job of the file.
TEST_F(Presets, SavedOptionsComeBackAndVelmoraBatchReadsThemAlike)
{
    CMainDlg &dlg = Open();
    COptionPanel &p = *dlg.Options();
    const std::string logo = testsupport::DataPath("photo/orient1.png");
    const std::function<void()> rows[] = {
        [&] { p.m_bResize = 1, p.m_nResizeType = 0, p.m_nWidth = 800, p.m_nHeight = 600, p.m_bSharpen = 1; },
        [&] {
            p.m_bResize = 1, p.m_nResizeType = RESIZE_PAD, p.m_resizeChoices.background = RGB(1, 2, 3),
            p.m_resizeChoices.gravity = 1, p.m_resizeChoices.cropRatio = true,
            p.m_resizeChoices.ratioWidth = 4;
        },
        [&] {
            p.m_bRename = 1, p.m_strRenamePrefix = "a,b", p.m_strRenameSuffix = " s ",
            p.m_strStartNumber = "9";
        },
        [&] {
            p.m_bRename = 1, p.m_nameChoices = {true, "{name}/{n:2}"};
        },
        [&] { p.m_bRotate = 1, p.m_nrotateType = 2, p.m_bLossless = 0; },
        [&] {
            p.m_bStamp = 1, p.m_strStampText = "V \"q\"", p.m_crStamp = RGB(9, 8, 7),
            p.m_stampChoices = {0, 12, 50, true, 7, true, QString::fromStdString(logo), 33};
        },
        [&] {
            p.m_nFormatType = 7, p.m_nQuality = 70, p.m_encoder.m_nWebpEffort = 1, p.m_encoder.m_nDpi = 96,
            p.m_nExtCase = EXTCASE_UPPER;
        },
        [&] {
            p.AddBrowsedFolder("/tmp/目标"), p.m_strOutDir = "/tmp/目标", p.m_nMetadata = 2,
                                             p.m_bKeepDates = 1, p.m_nDateSource = 1, p.m_bKeepIfLarger = 1;
        },
        [&] {
            p.m_bResize = 1, p.m_nResizeType = 0, p.m_resizeChoices.cropRatio = true,
            p.m_resizeChoices.ratioWidth = 4, p.m_resizeChoices.ratioHeight = 3;
            Edits &e = p.m_edits;
            e.margins = {{{10, false}, {2.5, true}, {0, false}, {0, false}}}, e.trim = true, e.trimFuzz = 4,
            e.flip = FLIP_VERTICAL, e.tone = {true, 5, -5, 0.8, 20, true, false}, e.border = {3, true},
            e.borderColor = RGB(1, 2, 3), e.borderInside = true, e.cropRatioFollows = true;
        },
    };
    int n = 0;
    for (const auto &set : rows) {
        const QString name = QStringLiteral("family %1").arg(++n);
        p.LoadValues({}); // the defaults
        set();
        p.ShowValues();
        ASSERT_TRUE(p.UpdateData(true)) << n;
        const StoredValues saved = p.Values();
        SaveAs(&dlg, name);
        ASSERT_TRUE(QFileInfo::exists(PresetPath(name))) << n;
        EXPECT_EQ(Combo(IDC_PRESET)->currentText(), name);
        EXPECT_EQ(GetProfileString(kSettingsSection, settingskey::kPreset), name);

        p.LoadValues({});
        p.m_edits.flip = FLIP_BOTH; // a preset without edits leaves none
        Choose(Combo(IDC_PRESET), name);
        ASSERT_TRUE(p.UpdateData(true)) << n;
        EXPECT_EQ(p.Values(), saved) << n;
        EXPECT_EQ(Ctl<CElidingLabel>(IDC_EDITS_LABEL)->FullText(), CEditStepsDlg::Summary(p.m_edits)) << n;
        std::string error;
        const auto cmd = ParseBatchCommand({"--preset", name.toStdString(), "a.png"}, error, "/w");
        ASSERT_TRUE(cmd) << error;
        EXPECT_EQ(testsupport::JobFields(cmd->job),
                  testsupport::JobFields(MakeConvertJob(p.MakeOptions(), {})))
            << n;
    }
}

// A damaged preset is not loaded: the window says where, and keeps its options.
TEST_F(Presets, ADamagedPresetLeavesTheOptionsAlone)
{
    CMainDlg &dlg = Open();
    QString why;
    ASSERT_TRUE(WritePresetFile(PresetPath("broken"), {{"m_nWidth", "640"}, {"Output Quality", "900"}}, why));
    dlg.Presets()->Fill(QString());
    const StoredValues before = dlg.Options()->Values();
    MessageCatcher messages;
    Choose(Combo(IDC_PRESET), "broken");
    ASSERT_EQ(messages.texts.size(), 1);
    EXPECT_TRUE(messages.texts[0].contains(PresetPath("broken")) && messages.texts[0].contains(" 3 "))
        << messages.texts[0].toStdString();
    EXPECT_EQ(dlg.Options()->Values(), before);
    EXPECT_EQ(Combo(IDC_PRESET)->currentIndex(), 0);
}

// The row fits between the count of selected images, five digits of it, and
// Add, in both languages.
TEST_F(Presets, TheRowFitsBesideTheCountAndAdd)
{
    CMainDlg &dlg = Open();
    auto *count = Ctl<QLabel>(IDC_COUNT_LABEL);
    count->setText(QCoreApplication::translate("CImageLists", "选定的图像: %1").arg(99999));
    QCoreApplication::processEvents(); // the row follows the count
    const int textRight = count->x() + count->fontMetrics().horizontalAdvance(count->text());
    int left = textRight;
    for (int id : {IDC_PRESET_LABEL, IDC_PRESET, IDC_PRESET_SAVE}) {
        QWidget *w = Ctl(id);
        ASSERT_TRUE(w->isVisible()) << id;
        EXPECT_GE(w->x(), left) << id;
        left = w->geometry().right() + 1;
    }
    EXPECT_LE(left, Ctl(IDC_ADD)->x());
    auto *save = Ctl<QPushButton>(IDC_PRESET_SAVE);
    EXPECT_GT(save->width(), save->fontMetrics().horizontalAdvance(save->text()));
    // Narrowed to the least, nothing of the row lies over Add.
    dlg.resize(maintemplate::kMinimumSize);
    QCoreApplication::processEvents();
    for (int id : {IDC_PRESET_LABEL, IDC_PRESET, IDC_PRESET_SAVE})
        EXPECT_TRUE(!Ctl(id)->isVisible() || Ctl(id)->geometry().right() < Ctl(IDC_ADD)->x()) << id;
}

// Deleting a preset moves its file to the desktop trash, where it can be
// had back, with the record of where it came from.
TEST_F(Presets, DeleteMovesThePresetToTheTrash)
{
    const QString trash = QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME")) + "/Trash";
    QDir(trash).removeRecursively();
    QString why;
    ASSERT_TRUE(WritePresetFile(PresetPath("Web 800"), {{"m_nWidth", "800"}}, why));
    const auto bytes = testsupport::ReadFileBytes(PresetPath("Web 800").toStdString());
    CMainDlg &dlg = Open();
    Choose(Combo(IDC_PRESET), "Web 800");
    dlgtest::WhenShown<CPresetDlg> answer(
        [](CPresetDlg *d) { dlgtest::ById<QPushButton>(d, IDC_PRESET_DELETE)->click(); });
    dlgtest::WhenShown<QMessageBox> yes([](QMessageBox *box) { box->button(QMessageBox::Yes)->click(); });
    dlgtest::ById<QPushButton>(&dlg, IDC_PRESET_SAVE)->click();
    EXPECT_FALSE(QFileInfo::exists(PresetPath("Web 800")));
    EXPECT_EQ(Combo(IDC_PRESET)->findText("Web 800"), -1);
    EXPECT_EQ(GetProfileString(kSettingsSection, settingskey::kPreset), QString());
    EXPECT_EQ(testsupport::ReadFileBytes((trash + "/files/Web 800.ini").toStdString()), bytes);
    QFile info(trash + "/info/Web 800.ini.trashinfo");
    ASSERT_TRUE(info.open(QIODevice::ReadOnly));
    const QString record = QString::fromUtf8(info.readAll());
    const qsizetype at = record.indexOf("\nPath=");
    ASSERT_GE(at, 0) << record.toStdString();
    EXPECT_EQ(QUrl::fromPercentEncoding(record.mid(at + 6).section('\n', 0, 0).toUtf8()),
              PresetPath("Web 800"));
}

// The box takes the row's room: at the window's first size a short name
// shows whole in either language, and one too long ends in "…", whole in
// its tip.
TEST_F(Presets, ShortNamesShowWholeAndLongOnesEndInAnEllipsis)
{
    const QString names[] = {"Web 800", U("网页 800"), "Archive copies for the printer, full size"};
    QString why;
    for (const QString &name : names)
        ASSERT_TRUE(WritePresetFile(PresetPath(name), {{"m_nWidth", "800"}}, why));
    for (const bool english : {false, true}) {
        SCOPED_TRACE(english ? "English" : "Chinese");
        QTranslator translator;
        if (english) {
            ASSERT_TRUE(translator.load(":/translations/velmora_en.qm"));
            QCoreApplication::installTranslator(&translator);
        }
        CMainDlg &dlg = Open();
        EXPECT_EQ(dlg.size(), maintemplate::kDefaultClientSize);
        auto *combo = Ctl<CElidingComboBox>(IDC_PRESET);
        for (const QString &name : names) {
            Choose(combo, name);
            const bool tooLong = name.size() > 20;
            EXPECT_EQ(combo->ShownText() == name, !tooLong) << combo->ShownText().toStdString();
            EXPECT_EQ(combo->ShownText().endsWith(QChar(0x2026)), tooLong)
                << combo->ShownText().toStdString();
            EXPECT_EQ(combo->toolTip(), name);
        }
        m_dlg.reset();
        QCoreApplication::removeTranslator(&translator);
    }
}
