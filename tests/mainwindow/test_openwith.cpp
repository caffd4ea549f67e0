#include "lists/folderlistctrl.h"
#include "lists/imagelists.h"
#include "tests/mainwindow/mainwindow_fixture.h"
#include "app/openrequest.h"
#include "viewer/previewdlg.h"
#include "controls/shelltree/shelltreectrl.h"

#include <QDir>
#include <QSignalSpy>
#include <QUrl>

using namespace mwtest;

namespace {

TEST(OpenArguments, PathsAndUrisPickAFolderAndItsFiles)
{
    testsupport::ScratchDir scratch;
    const QString root = QString::fromStdString(scratch.Root());
    for (const char *dir : {"d", "e", "空 格", "d/.hidden"})
        ASSERT_TRUE(QDir().mkpath(root + "/" + U(dir)));
    for (const char *file : {"d/a.png", "d/b.png", "e/c.png", "空 格/图 1.png"})
        ASSERT_TRUE(testsupport::WriteFileBytes(scratch.Path(file), {1}));
    const QString d = root + "/d", e = root + "/e";
    const struct {
        QStringList args;
        QString cwd; // relative to root
        OpenRequest want;
    } cases[] = {
        {{"d"}, "", {d, {}, {}}},
        {{"d/"}, "", {d, {}, {}}},
        {{"./d/../e"}, "", {e, {}, {}}},
        {{d + "/b.png", d + "/a.png"}, "", {d, {"b.png", "a.png"}, {}}},
        {{"a.png", "./a.png", "../d/b.png"}, "d", {d, {"a.png", "b.png"}, {}}},
        // Files of another folder than the first file's are left out.
        {{"d/a.png", "e/c.png", "d/b.png"}, "", {d, {"a.png", "b.png"}, {}}},
        // A folder first is opened as it is.
        {{"d", "d/a.png"}, "", {d, {}, {}}},
        {{QUrl::fromLocalFile(root + U("/空 格/图 1.png")).toString(QUrl::FullyEncoded)},
         "e",
         {root + U("/空 格"), {U("图 1.png")}, {}}},
        {{"file://" + d}, "", {d, {}, {}}},
        {{"nope.png", "http://example.com/a.png", "d/b.png"},
         "",
         {d, {"b.png"}, {"nope.png", "http://example.com/a.png"}}},
        {{"nope"}, "", {{}, {}, {"nope"}}},
        {{}, "", {}},
    };
    for (const auto &c : cases) {
        const OpenRequest got = ParseOpenArguments(c.args, c.cwd.isEmpty() ? root : root + "/" + c.cwd);
        EXPECT_EQ(got.folder, c.want.folder) << c.args.join(' ').toStdString();
        EXPECT_EQ(got.names, c.want.names) << c.args.join(' ').toStdString();
        EXPECT_EQ(got.missing, c.want.missing) << c.args.join(' ').toStdString();
    }
}

class OpenWith : public MainWindowTest {};

TEST_F(OpenWith, TheFolderIsListedAndTheFilesAreTheSelectedListTheViewerWalks)
{
    testsupport::ScratchDir scratch;
    const QString root = QString::fromStdString(scratch.Root());
    CxImage img = testsupport::MakeTestImage(8, 8);
    for (const char *name : {"pics/a.png", "pics/b.png", "pics/c.png", ".hidden/e.png", ".hidden/f.png"}) {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(root + "/" + name).path()));
        ASSERT_TRUE(img.Save(scratch.Path(name).c_str(), CXIMAGE_FORMAT_PNG));
    }
    const struct {
        QString folder;
        QStringList names;
        bool inTree; // the tree does not show hidden folders
        QStringList selected;
    } cases[] = {
        {root + "/pics", {"c.png", "nope.png", "a.png"}, true, {"a.png", "c.png"}},
        {root + "/pics", {}, true, {}},
        {root + "/.hidden", {"f.png"}, false, {"f.png"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.folder.toStdString());
        m_dlg = std::make_unique<CMainDlg>();
        CImageLists *lists = m_dlg->Lists();
        QString shown;
        QStringList walked;
        dlgtest::WhenShown<CPreviewDlg> viewer([&](CPreviewDlg *v) {
            EXPECT_EQ(v->GetOpenMode(), CPreviewDlg::MODE_SELECTED);
            walked = m_dlg->PreviewFiles();
            shown = walked.value(v->GetIndex());
            dlgtest::Key(v, Qt::Key_Escape);
        });
        m_dlg->OpenAtStart(c.folder, c.names);
        m_dlg->show();
        QStringList want;
        for (const QString &name : c.selected)
            want << c.folder + "/" + name;
        if (!c.selected.isEmpty()) {
            ASSERT_TRUE(
                dlgtest::WaitFor([&] { return viewer.count == 1 && !QApplication::activeModalWidget(); }));
            EXPECT_EQ(shown, c.folder + "/" + c.names.first());
            EXPECT_EQ(walked, want);
        }
        m_dlg->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_dlg.get(), 5000));
        EXPECT_EQ(viewer.count, c.selected.isEmpty() ? 0 : 1);
        // Still so with the window up and focused.
        EXPECT_EQ(m_dlg->Tree()->GetSelectedPath(), c.inTree ? c.folder : QString());
        EXPECT_EQ(lists->Folder(), c.folder);
        EXPECT_EQ(lists->FileNames().size(), 2u + c.inTree);
        QStringList selected;
        for (int row : dlgtest::ById<FolderListCtrl>(m_dlg.get(), mainid::IDC_FOLDER_LIST)->SelectedRows())
            selected << lists->FileNames()[row];
        selected.sort();
        EXPECT_EQ(selected, c.selected);
        // Start converts them without a further step.
        EXPECT_EQ(lists->SelectedPaths(), want);
        EXPECT_FALSE(lists->DiskChangesHeld());
        QSignalSpy reloaded(lists, &CImageLists::folderRefreshed);
        QTest::keyClick(m_dlg.get(), Qt::Key_F5);
        EXPECT_EQ(reloaded.count(), 1);
        m_dlg->reject();
        m_dlg.reset();
    }
}

} // namespace
