#include "lists/imagelists.h"
#include "tests/mainwindow/mainwindow_fixture.h"
#include "app/optionpanel.h"
#include "viewer/previewdlg.h"
#include "rundialogs/progressdialog.h"
#include "controls/shelltree/shelltreectrl.h"

#include <QFile>
#include <QTimer>

using namespace mainid;
using namespace mwtest;

namespace {

class StartCommands : public MainWindowTest {
protected:
    // Lists a scratch folder of n pictures and adds them all.
    void AddPictures(int n, int w = 64, int h = 48)
    {
        dlgtest::MakePictures(m_src, n, w, h);
        CImageLists *lists = m_dlg->Lists();
        // The tree settles on its root first, as it does when the window takes
        // the focus, so the folder listed below stays listed.
        m_dlg->Tree()->setCurrentItem(m_dlg->Tree()->GetRootItem());
        const QString folder = QString::fromStdString(m_src.Root());
        lists->ListFolder(folder);
        ASSERT_TRUE(dlgtest::WaitFor([&] { return lists->Folder() == folder && !lists->IsLoaderRunning(); }));
        ASSERT_EQ(lists->FileNames().size(), std::size_t(n));
        lists->OnAddAll();
        ASSERT_EQ(lists->SelectedCount(), n);
    }

    testsupport::ScratchDir m_src;
    testsupport::ScratchDir m_out;
};

TEST_F(StartCommands, EmptySelectionIsToldAndNothingIsStored)
{
    Open();
    Edit(IDC_WIDTH)->setText("321");
    const auto before = StoreSnapshot();
    MessageCatcher messages;
    m_dlg->OnOK();
    m_dlg->OnPreview();
    m_dlg->OnViewResults();
    EXPECT_EQ(messages.texts, (QStringList{U("请先选择文件!"), U("请先选择文件!"), U("没有可以查看的结果图像!")}));
    EXPECT_EQ(StoreSnapshot(), before);
}

TEST_F(StartCommands, LettersInTheWidthStopStartBeforeAnythingIsStored)
{
    Open();
    AddPictures(1);
    const auto before = StoreSnapshot();
    int progressShown = 0;
    dlgtest::WhenShown<CProgressDialog> progress([&](CProgressDialog *d) {
        ++progressShown;
        d->reject();
    });
    MessageCatcher messages;
    Edit(IDC_WIDTH)->setText("abc");
    m_dlg->OnOK();
    EXPECT_EQ(messages.texts.size(), 1);
    EXPECT_EQ(progressShown, 0);
    EXPECT_EQ(StoreSnapshot(), before);
}

TEST_F(StartCommands, StartConvertsStoresTheOptionsAndFillsTheResults)
{
    Open();
    AddPictures(3, 200, 100);
    COptionPanel &o = *m_dlg->Options();
    Combo(IDC_FORMAT)->setCurrentIndex(1);
    Check(IDC_RESIZE)->click();
    Edit(IDC_WIDTH)->setText("50");
    Edit(IDC_HEIGHT)->setText("50");
    o.AddBrowsedFolder(QString::fromStdString(m_out.Root()));

    // View results, in the progress dialog and then in the window, opens the
    // viewer over the outputs in results mode.
    std::vector<std::pair<int, int>> opened;
    dlgtest::WhenShown<CPreviewDlg> viewer([&](CPreviewDlg *v) {
        opened.emplace_back(v->GetOpenMode(), v->GetIndex());
        v->reject();
    });
    WriteProfileInt(kSettingsSection, settingskey::kAutoClose, 0);
    dlgtest::WhenShown<CProgressDialog> progress([](CProgressDialog *d) {
        EXPECT_TRUE(dlgtest::WaitFor([&] { return !d->IsRunning(); }));
        d->OnViewResults();
        d->reject();
    });
    m_dlg->OnOK();
    EXPECT_EQ(progress.count, 1);
    ASSERT_EQ(m_dlg->ResultFiles().size(), 3);
    for (const QString &out : m_dlg->ResultFiles()) {
        EXPECT_TRUE(out.startsWith(QString::fromStdString(m_out.Root())));
        EXPECT_TRUE(out.endsWith(".JPG"));
        CxImage img(out.toUtf8().constData(), CXIMAGE_FORMAT_JPG);
        EXPECT_EQ(img.GetWidth(), 50u);
        EXPECT_EQ(img.GetHeight(), 25u);
    }
    using namespace settingskey;
    EXPECT_EQ(GetProfileInt(kSettingsSection, kFormatType, -1), 1);
    EXPECT_EQ(GetProfileInt(kSettingsSection, kResize, -1), 1);
    EXPECT_EQ(GetProfileInt(kSettingsSection, kWidth, -1), 50);
    EXPECT_EQ(GetProfileString(kSettingsSection, kOutDir), QString::fromStdString(m_out.Root()));
    EXPECT_EQ(GetProfileString(kSettingsSection, kCurrentDirectory), QString::fromStdString(m_src.Root()));
    EXPECT_EQ(GetProfileString(kSettingsSection, OutputDirKey(1).constData()), U("源目录"));
    EXPECT_EQ(GetProfileString(kSettingsSection, OutputDirKey(2).constData()), QString::fromStdString(m_out.Root()));

    m_dlg->OnViewResults();
    const std::pair<int, int> results{CPreviewDlg::MODE_RESULTS, 0};
    EXPECT_EQ(opened, (std::vector<std::pair<int, int>>{results, results}));
}

TEST_F(StartCommands, AMissingDestinationIsMadeOrToldBeforeAnyRun)
{
    Open();
    AddPictures(1);
    ASSERT_TRUE(testsupport::WriteFileBytes(m_out.Path("file"), {1}));
    const struct {
        std::string dest;
        int runs;
        const char *made; // output of the run, null: the box instead
    } rows[] = {
        {m_out.Path("gone/deeper"), 1, "gone/deeper/f00.BMP"},
        {m_out.Path("file/sub"), 0, nullptr}, // under a regular file: no one can make it
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.dest);
        Combo(IDC_FORMAT)->setCurrentIndex(2);
        m_dlg->Options()->AddBrowsedFolder(QString::fromStdString(row.dest));
        const auto before = StoreSnapshot();
        // Closed once done, also when every file failed.
        dlgtest::WhenShown<CProgressDialog> progress([](CProgressDialog *d) {
            auto *poll = new QTimer(d);
            QObject::connect(poll, &QTimer::timeout, d, [d] {
                if (!d->IsRunning())
                    d->reject();
            });
            poll->start(5);
        });
        MessageCatcher messages;
        m_dlg->OnOK();
        EXPECT_EQ(progress.count, row.runs);
        if (row.made) {
            EXPECT_TRUE(messages.texts.isEmpty());
            EXPECT_EQ(m_dlg->ResultFiles(), QStringList{QString::fromStdString(m_out.Path(row.made))});
        } else {
            EXPECT_EQ(messages.texts,
                      QStringList{U("无法创建目标文件夹:\n") + QString::fromStdString(row.dest)});
            EXPECT_EQ(StoreSnapshot(), before); // no run, nothing stored
        }
    }
}

TEST_F(StartCommands, ARunWritingIntoTheListedFolderHoldsItsDiskChanges)
{
    Open();
    AddPictures(1);
    const struct {
        std::string dest; // empty: beside the sources
        bool held;
    } rows[] = {{"", true}, {m_out.Root(), false}, {m_src.Root() + "/", true}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.dest);
        if (row.dest.empty())
            Combo(IDC_DEST)->setCurrentIndex(0);
        else
            m_dlg->Options()->AddBrowsedFolder(QString::fromStdString(row.dest));
        bool held = !row.held;
        dlgtest::WhenShown<CProgressDialog> progress([&](CProgressDialog *d) {
            held = m_dlg->Lists()->DiskChangesHeld();
            d->reject();
        });
        m_dlg->OnOK();
        EXPECT_EQ(held, row.held);
        EXPECT_FALSE(m_dlg->Lists()->DiskChangesHeld());
    }
}

TEST_F(StartCommands, PreviewAndViewOpenTheViewerInTheirModes)
{
    Open();
    AddPictures(4);
    int mode = -1, index = -1;
    dlgtest::WhenShown<CPreviewDlg> viewer([&](CPreviewDlg *v) {
        mode = v->GetOpenMode();
        index = v->GetIndex();
        v->reject();
    });
    m_dlg->OnPreview();
    EXPECT_EQ(mode, CPreviewDlg::MODE_SELECTED);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(m_dlg->PreviewFiles(), m_dlg->Lists()->SelectedPaths());
    EXPECT_FALSE(StoreSnapshot().contains("Settings2/m_nWidth"));

    m_dlg->OnView();
    EXPECT_EQ(mode, CPreviewDlg::MODE_FOLDER);
    EXPECT_EQ(viewer.count, 2);
}

}  // namespace
