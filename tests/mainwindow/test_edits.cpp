// The editing steps in the main window: 编辑... and the line beside it, the
// settings, Preview and a run, which writes what velmora-batch writes.
#include "app/dialogs/editstepsdlg.h"
#include "app/optionpanel.h"
#include "controls/elidinglabel.h"
#include "controls/shelltree/shelltreectrl.h"
#include "lists/imagelists.h"
#include "rundialogs/progressdialog.h"
#include "tests/cli/batch_process.h"
#include "tests/mainwindow/mainwindow_fixture.h"
#include "tests/test_support.h"
#include "viewer/previewdlg.h"

#include <QPushButton>
#include <QTimer>

#include <functional>

using namespace mainid;
using namespace mwtest;

namespace {

class WindowEdits : public MainWindowTest {
protected:
    // Chooses edits through 编辑..., as a user would.
    void ChooseEdits(const Edits &edits)
    {
        dlgtest::WhenShown<CEditStepsDlg> answer([&edits](CEditStepsDlg *d) {
            d->SetValues(edits);
            d->findChild<QPushButton *>("ok")->click();
        });
        Ctl<QPushButton>(IDC_EDITS)->click();
        ASSERT_EQ(answer.count, 1);
    }
    QString Summary() const { return Ctl<CElidingLabel>(IDC_EDITS_LABEL)->FullText(); }

    // Lists a scratch folder of n pictures and adds them all.
    void AddPictures(int n, int w, int h)
    {
        dlgtest::MakePictures(m_src, n, w, h);
        CImageLists *lists = m_dlg->Lists();
        m_dlg->Tree()->setCurrentItem(m_dlg->Tree()->GetRootItem());
        const QString folder = QString::fromStdString(m_src.Root());
        lists->ListFolder(folder);
        ASSERT_TRUE(dlgtest::WaitFor([&] { return lists->Folder() == folder && !lists->IsLoaderRunning(); }));
        lists->OnAddAll();
        ASSERT_EQ(lists->SelectedCount(), n);
    }

    testsupport::ScratchDir m_src;
    testsupport::ScratchDir m_out;
};

Edits With(const std::function<void(Edits &)> &set)
{
    Edits e;
    set(e);
    return e;
}

// Each step chosen in the dialog is stored as its row's text under its key
// and comes back in the next window, named on the line above the list.
TEST_F(WindowEdits, EachStepIsStoredAsItsRowsTextAndComesBack)
{
    const struct {
        Edits edits;
        const char *key, *stored; // one of the values, as written
        const char *summary;
    } rows[] = {
        {With([](Edits &e) {
             e.crop = EditRegion{3, 4, 50, 60};
         }),
         "Crop", "3,4,50,60", "编辑: 裁剪"},
        {With([](Edits &e) {
             e.margins = {{{10, false}, {12.5, true}, {0, false}, {8, false}}};
         }),
         "CropMargins", "10,12.5%,0,8", "编辑: 裁剪"},
        {With([](Edits &e) { e.trim = true, e.trimFuzz = 22.5; }), "TrimFuzz", "22.5", "编辑: 修剪边框"},
        {With([](Edits &e) {
             e.flip = FLIP_BOTH, e.border = {4, false};
         }),
         "Flip", "hv", "编辑: 翻转、边框"},
        {With([](Edits &e) { e.tone = {true, -20, 35, 2.25, 40, false, true}; }), "Gamma", "2.25",
         "编辑: 色调与颜色"},
        {With([](Edits &e) {
             e.border = {3.5, true}, e.borderColor = RGB(16, 32, 48), e.borderInside = true;
         }),
         "BorderColor", "102030", "编辑: 边框"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.key);
        ClearStore();
        Open();
        EXPECT_EQ(Summary(), QString());
        ChooseEdits(row.edits);
        EXPECT_EQ(Summary(), U(row.summary));
        m_dlg->Options()->WriteSettings(QString());
        EXPECT_EQ(GetProfileString(kSettingsSection, row.key), row.stored);
        for (const EditOption &o : EditOptions())
            EXPECT_EQ(GetProfileString(kSettingsSection, o.key).toStdString(), o.text(row.edits)) << o.key;
        m_dlg.reset();
        COptionPanel &p = *Open().Options();
        EXPECT_EQ(p.m_edits, row.edits);
        EXPECT_EQ(Summary(), U(row.summary));
        EXPECT_EQ(p.MakeOptions().m_edits, row.edits);
    }
}

// A stored value that cannot be read leaves its step out and only it.
TEST_F(WindowEdits, UnreadableStoredValuesLeaveTheirStepOut)
{
    for (const auto &[key, value] : {std::pair{"Gamma", QString("1,5")},
                                     {"Flip", QString("x")},
                                     {"Border", QString("-3")},
                                     {"Crop", QString("1,2,3,") + QString(300, '9')},
                                     {"TrimBorders", QString("yes")}})
        WriteProfileString(kSettingsSection, key, value);
    WriteProfileString(kSettingsSection, "Sepia", "1");
    const Edits e = Open().Options()->m_edits;
    EXPECT_EQ(e, With([](Edits &e) { e.tone.sepia = true; }));
}

// Preview draws edits even when no group of the panel is on.
TEST_F(WindowEdits, PreviewDrawsEditsAlone)
{
    Open();
    AddPictures(1, 64, 48);
    for (const bool edits : {false, true}) {
        ChooseEdits(edits ? With([](Edits &e) { e.flip = FLIP_VERTICAL; }) : Edits{});
        bool drawn = !edits;
        dlgtest::WhenShown<CPreviewDlg> viewer([&](CPreviewDlg *v) {
            drawn = v->IsPreview();
            v->reject();
        });
        m_dlg->OnPreview();
        EXPECT_EQ(drawn, edits);
    }
}

// A run from the window with edits writes the bytes velmora-batch writes
// with the same options.
TEST_F(WindowEdits, ARunWithEditsWritesWhatVelmoraBatchWrites)
{
    Open();
    AddPictures(2, 160, 120);
    Combo(IDC_FORMAT)->setCurrentIndex(1); // JPEG
    m_dlg->Options()->AddBrowsedFolder(QString::fromStdString(m_out.Path("window")));
    ChooseEdits(With([](Edits &e) {
        e.margins = {{{10, false}, {5, true}, {0, false}, {8, false}}};
        e.flip = FLIP_HORIZONTAL;
        e.tone.gamma = 1.5;
        e.border = {4, false};
        e.borderColor = RGB(0x10, 0x20, 0x30);
    }));
    WriteProfileInt(kSettingsSection, settingskey::kAutoClose, 0);
    dlgtest::WhenShown<CProgressDialog> progress([](CProgressDialog *d) {
        auto *poll = new QTimer(d);
        QObject::connect(poll, &QTimer::timeout, d, [d] {
            if (!d->IsRunning())
                d->reject();
        });
        poll->start(5);
    });
    m_dlg->OnOK();
    ASSERT_EQ(m_dlg->ResultFiles().size(), 2);

    QStringList args{"--format",       "jpg",
                     "--crop-margins", "10,5%,0,8",
                     "--flip",         "h",
                     "--gamma",        "1.5",
                     "--border",       "4",
                     "--border-color", "102030",
                     "--out",          QString::fromStdString(m_out.Path("batch"))};
    for (const QString &path : m_dlg->Lists()->SelectedPaths())
        args << path;
    const testsupport::Result r = testsupport::RunBatch(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const QString &written : m_dlg->ResultFiles()) {
        SCOPED_TRACE(written.toStdString());
        const std::string name = QFileInfo(written).fileName().toStdString();
        const auto bytes = testsupport::ReadFileBytes(written.toStdString());
        ASSERT_FALSE(bytes.empty());
        EXPECT_EQ(bytes, testsupport::ReadFileBytes(m_out.Path("batch/" + name)));
        // The steps ran: 160 - 8 - 8 (5 %) + 2 * 4 wide, 120 - 10 + 8 high.
        CxImage img(written.toUtf8().constData(), CXIMAGE_FORMAT_JPG);
        EXPECT_EQ(QSize(int(img.GetWidth()), int(img.GetHeight())), QSize(152, 118));
    }
}

// The button keeps the right end of the folder list's caption row, and the
// line beside it lies between the caption and the button, at any width and
// wherever the splitter is.
TEST_F(WindowEdits, TheButtonAndItsLineKeepToTheCaptionRow)
{
    CMainDlg &dlg = Open();
    ChooseEdits(With([](Edits &e) {
        e.crop = EditRegion{0, 0, 9, 9}, e.trim = true, e.flip = FLIP_BOTH, e.tone.sepia = true,
        e.border = {1, false};
    }));
    for (const QSize size : {QSize(960, 660), QSize(810, 530), QSize(1300, 700)}) {
        SCOPED_TRACE(size.width());
        dlg.resize(size);
        QCoreApplication::processEvents();
        const QRect button = Ctl(IDC_EDITS)->geometry(), line = Ctl(IDC_EDITS_LABEL)->geometry(),
                    caption = Ctl(IDC_FOLDER_LABEL)->geometry(), list = Ctl(IDC_FOLDER_LIST)->geometry();
        EXPECT_EQ(button.right(), list.right());
        EXPECT_LT(button.bottom(), list.top());
        EXPECT_GT(line.left(), caption.right());
        EXPECT_LT(line.right(), button.left());
        // The whole line in its tip when it is cut.
        auto *label = Ctl<CElidingLabel>(IDC_EDITS_LABEL);
        EXPECT_TRUE(label->text() == label->FullText() || label->toolTip() == label->FullText());
    }
}

} // namespace
