// One document from the window: the choice behind the output group's
// 设置..., kept in the store (never in a preset), and a run that asks for
// the document's name and writes it as velmora-batch's --combine does.
#include "app/dialogs/encodersettingsdlg.h"
#include "app/optionpanel.h"
#include "controls/shelltree/shelltreectrl.h"
#include "lists/imagelists.h"
#include "rundialogs/progressdialog.h"
#include "tests/cli/batch_process.h"
#include "tests/mainwindow/mainwindow_fixture.h"
#include "tests/test_support.h"

#include <QFileDialog>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTimer>

using namespace mainid;
using namespace mwtest;

namespace {

class WindowDocument : public MainWindowTest {
protected:
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

} // namespace

TEST_F(WindowDocument, TheChoiceIsStoredButNotInPresets)
{
    using namespace settingskey;
    Open();
    dlgtest::WhenShown<CEncoderSettingsDlg> answer([](CEncoderSettingsDlg *d) {
        d->findChild<QCheckBox *>("combine")->setChecked(true);
        d->findChild<QComboBox *>("combineFormat")->setCurrentIndex(1);
        d->findChild<QComboBox *>("pageSize")->setCurrentIndex(PAGESIZE_A4);
        d->findChild<QSpinBox *>("pageMargin")->setValue(12);
        d->accept();
    });
    Ctl<QPushButton>(IDC_FORMAT_SETTINGS)->click();
    ASSERT_EQ(answer.count, 1);
    m_dlg->Options()->WriteSettings(QString());
    EXPECT_EQ(GetProfileString(kSettingsSection, kPageSize, QString()), "a4");
    EXPECT_EQ(std::tuple(GetProfileInt(kSettingsSection, kPageMargin, 0),
                         GetProfileInt(kSettingsSection, kCombineOn, 0),
                         GetProfileInt(kSettingsSection, kCombineFormat, 0)),
              std::tuple(12, 1, 1));

    m_dlg->reject();
    COptionPanel &panel = *Open().Options();
    EXPECT_TRUE(panel.m_document.on);
    EXPECT_EQ(panel.m_document.kind, DocumentChoices::Tiff);
    const StoredValues values = panel.Values();
    EXPECT_EQ(values.at(kPageSize), "a4");
    EXPECT_EQ(values.at(kPageMargin), "12");
    EXPECT_FALSE(values.count(kCombineOn) || values.count(kCombineFormat));
    const CConvertJob job = MakeConvertJob(panel.MakeOptions(), {});
    EXPECT_EQ(std::tuple(job.m_encoder.m_nPageSize, job.m_encoder.m_nPageMargin),
              std::tuple(PAGESIZE_A4, 12));
    // A preset's values leave the choice as it is.
    panel.LoadValues({});
    EXPECT_TRUE(panel.m_document.on);
    EXPECT_EQ(panel.Values().at(kPageSize), "image");
}

// Start asks for the name (cancelled, nothing starts), then writes one PDF
// of every selected picture, listed as the run's one result.
TEST_F(WindowDocument, StartWritesOneDocumentUnderTheNameChosen)
{
    WriteProfileInt(kSettingsSection, settingskey::kCombineOn, 1);
    WriteProfileInt(kSettingsSection, settingskey::kAutoClose, 0);
    Open();
    AddPictures(3, 64, 48);
    const QString album = QString::fromStdString(m_out.Path("album"));
    for (const bool cancel : {true, false}) {
        QString offered;
        dlgtest::WhenShown<QFileDialog> save([&](QFileDialog *d) {
            offered = d->selectedFiles().value(0);
            if (cancel) {
                d->reject();
                return;
            }
            d->selectFile(album);
            static_cast<QDialog *>(d)->accept(); // QFileDialog's own, which takes the name
        });
        dlgtest::WhenShown<CProgressDialog> progress([](CProgressDialog *d) {
            auto *poll = new QTimer(d);
            QObject::connect(poll, &QTimer::timeout, d, [d] {
                if (!d->IsRunning())
                    d->reject();
            });
            poll->start(5);
        });
        m_dlg->OnOK();
        EXPECT_EQ(save.count, 1);
        EXPECT_EQ(progress.count, cancel ? 0 : 1);
        EXPECT_EQ(QFileInfo(offered).fileName(), U("合并.pdf"));
    }
    ASSERT_EQ(m_dlg->ResultFiles(), QStringList{album + ".pdf"});
    QProcess info;
    info.start("pdfinfo", {album + ".pdf"});
    ASSERT_TRUE(info.waitForFinished(60000));
    EXPECT_TRUE(
        QString::fromUtf8(info.readAllStandardOutput()).contains(QRegularExpression("Pages:\\s+3\\n")));
    EXPECT_EQ(testsupport::Entries(m_out.Root()), QStringList{"album.pdf"});
}
