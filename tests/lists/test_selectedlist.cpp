// The selected list: adding from the folder list with its columns and
// duplicate rule, removing, the messages, drops and the count label.
#include "tests/lists/lists_fixture.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QUrl>

namespace {

using namespace liststest;

const QString kAddFirst = "Velmora|请先在上方点击你想要选择的图像，然后请点击“添加”按钮!";
const QString kRemoveFirst = "Velmora|请先在下方点击你想要移除的图像，然后请点击“移除”按钮!";

TEST_F(ListsTest, AddTakesTheCaptionSizeOnceLoaded)
{
    WritePicture(scratch.Path("box.jpg"), 320, 240, CXIMAGE_FORMAT_JPG);
    lists->ListFolder(Dir());
    // Before the loader reached it (no queued result handled yet).
    SelectFolderRows({0});
    lists->OnAdd();
    ASSERT_EQ(selected->topLevelItemCount(), 1);
    EXPECT_EQ(selected->RowTexts(0)[0], "box.jpg");
    EXPECT_EQ(selected->RowTexts(0)[4], "0x0");
    EXPECT_EQ(selected->RowTexts(0)[5], Dir() + "/box.jpg");
    EXPECT_FALSE(selected->RowTexts(0)[2].isEmpty()); // some type name
    EXPECT_EQ(count->text(), "选定的图像: 1");

    ASSERT_TRUE(WaitLoaded());
    lists->OnRemoveAll();
    EXPECT_EQ(count->text(), "选定的图像: 0");
    lists->OnAdd();
    EXPECT_EQ(selected->RowTexts(0)[4], "320x240");
    EXPECT_TRUE(QDateTime::fromString(selected->RowTexts(0)[3], "yyyy-MM-dd HH:mm:ss").isValid());
}

TEST_F(ListsTest, NamesThatLookLikeCaptionsStillNameTheirOwnFiles)
{
    const std::string odd = "1x2\nq.png"; // a line feed and an "x"
    WritePicture(scratch.Path(odd), 30, 20);
    lists->ListFolder(Dir());
    ASSERT_EQ(folder->count(), 1);
    SelectFolderRows({0});
    lists->OnAdd(); // bare caption: no size yet, whatever the name says
    EXPECT_EQ(selected->RowTexts(0).mid(4), QStringList({"0x0", Dir() + "/" + Q(odd)}));
    ASSERT_TRUE(WaitLoaded());
    lists->OnRemoveAll();
    lists->OnAdd();
    EXPECT_EQ(selected->RowTexts(0)[0], Q(odd));
    EXPECT_EQ(selected->RowTexts(0).mid(4), QStringList({"30x20", Dir() + "/" + Q(odd)}));
    EXPECT_EQ(selected->RawText(0, 1), QString::number(QFileInfo(Dir() + "/" + Q(odd)).size()));
}

TEST_F(ListsTest, DuplicatePathsAreSkippedWhateverTheirCase)
{
    for (const char *name : {"p.jpg", "q.jpg", "r.jpg"})
        WriteBytes(scratch.Path(name), 3);
    lists->ListFolder(Dir());
    lists->OnAddAll();
    lists->OnAddAll();
    EXPECT_EQ(selected->Paths(), QStringList({Dir() + "/p.jpg", Dir() + "/q.jpg", Dir() + "/r.jpg"}));

    lists->OnRemoveAll();
    selected->AppendRow({"P.JPG", "3", "JPEG", "未知", "0x0", Dir().toUpper() + "/P.JPG"});
    lists->OnAddAll();
    EXPECT_EQ(selected->topLevelItemCount(), 3); // p.jpg was there already
    EXPECT_EQ(count->text(), "选定的图像: 3");
    EXPECT_TRUE(WaitLoaded());
}

TEST_F(ListsTest, SizeColumnShowsBytesOrKilobytes)
{
    WriteBytes(scratch.Path("a.png"), 1024);
    WriteBytes(scratch.Path("b.png"), 1536);
    WriteBytes(scratch.Path("c.png"), 0);
    lists->ListFolder(Dir());
    lists->OnAddAll();
    ASSERT_EQ(selected->topLevelItemCount(), 3);
    EXPECT_EQ(selected->topLevelItem(0)->text(1), "1024 字节");
    EXPECT_EQ(selected->topLevelItem(1)->text(1), "1KB");
    EXPECT_EQ(selected->RawText(1, 1), "1536");
    EXPECT_EQ(selected->topLevelItem(2)->text(1), "0 字节");
    EXPECT_TRUE(WaitLoaded());

    // A file gone since the listing still gets its row.
    lists->OnRemoveAll();
    ASSERT_TRUE(QFile::remove(Dir() + "/b.png"));
    SelectFolderRows({1});
    lists->OnAdd();
    EXPECT_EQ(selected->RowTexts(0).mid(0, 2), QStringList({"b.png", "0"}));
    EXPECT_EQ(selected->RowTexts(0)[3], "未知");
}

TEST_F(ListsTest, MessagesWhenNothingIsSelected)
{
    MessageRecorder messages;
    lists->OnAddAll(); // empty folder list: silently nothing
    lists->OnAdd();
    lists->OnRemove();
    // Delete in the selected list, and a double click on its empty space.
    QTest::keyClick(selected, Qt::Key_Delete);
    QTest::mouseDClick(selected->viewport(), Qt::LeftButton, {}, QPoint(200, 150));
    EXPECT_EQ(messages.texts, QStringList({kAddFirst, kRemoveFirst, kRemoveFirst, kRemoveFirst}));
    EXPECT_EQ(count->text(), "选定的图像: 0");
}

TEST_F(ListsTest, RemoveKeepsTheOthersInOrder)
{
    for (int i = 0; i < 6; ++i)
        selected->AppendRow({QString("n%1").arg(i), "1", "t", "d", "0x0", QString("/x/n%1.png").arg(i)});
    SelectSelectedRows({1, 3, 4});
    lists->OnRemove();
    EXPECT_EQ(selected->Paths(), QStringList({"/x/n0.png", "/x/n2.png", "/x/n5.png"}));
    EXPECT_EQ(count->text(), "选定的图像: 3");

    // A double click on a row removes it together with the other selected.
    selected->topLevelItem(0)->setSelected(true);
    const QRect r = selected->visualItemRect(selected->topLevelItem(2));
    QTest::mouseDClick(selected->viewport(), Qt::LeftButton, Qt::ControlModifier, r.center());
    EXPECT_EQ(selected->Paths(), QStringList({"/x/n2.png"}));
    EXPECT_EQ(count->text(), "选定的图像: 1");
}

TEST_F(ListsTest, NamesDifferingOnlyInCaseAreTwoFilesWhenRemoving)
{
    for (const char *name : {"a.jpg", "A.jpg"})
        WriteBytes(scratch.Path(name), 3);
    lists->ListFolder(Dir());
    lists->OnAddAll();
    ASSERT_EQ(selected->Paths(), QStringList({Dir() + "/A.jpg", Dir() + "/a.jpg"}));
    // The row the user picked goes, not the first one holding the path in
    // another case.
    SelectSelectedRows({1});
    lists->OnRemove();
    EXPECT_EQ(selected->Paths(), QStringList({Dir() + "/A.jpg"}));
    // The viewer names its file exactly; the row holding that spelling goes.
    lists->OnRemoveAll();
    lists->OnAddAll();
    lists->RemoveSelectedPath(Dir() + "/a.jpg");
    EXPECT_EQ(selected->Paths(), QStringList({Dir() + "/A.jpg"}));
    lists->RemoveSelectedPath(Dir() + "/a.JPG");
    EXPECT_TRUE(selected->Paths().isEmpty());
    EXPECT_TRUE(WaitLoaded());
}

TEST_F(ListsTest, CtrlAThenAddTakesEveryRowAndTheMenuRunsAdd)
{
    for (const char *name : {"a.bmp", "b.bmp", "c.bmp"})
        WriteBytes(scratch.Path(name), 3);
    lists->ListFolder(Dir());
    folder->setFocus();
    QTest::keyClick(folder, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(folder->SelectedRows(), QList<int>({0, 1, 2}));

    std::unique_ptr<QMenu> menu(folder->CreateContextMenu(folder));
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_EQ(menu->actions()[1]->text(), "查看(&V)");
    menu->findChild<QAction *>("1000")->trigger();
    EXPECT_EQ(selected->topLevelItemCount(), 3);

    QTest::keyClick(selected, Qt::Key_A, Qt::ControlModifier);
    std::unique_ptr<QMenu> selMenu(selected->CreateContextMenu(selected));
    EXPECT_EQ(selMenu->actions().first()->text(), "从列表中移除(&R)");
    selMenu->findChild<QAction *>("1002")->trigger();
    EXPECT_EQ(selected->topLevelItemCount(), 0);
    EXPECT_TRUE(WaitLoaded());
}

TEST_F(ListsTest, DropsFromTheFolderListAndFromOutside)
{
    for (const char *name : {"a.png", "b.png"})
        WritePicture(scratch.Path(name), 40, 30);
    const QString other = Dir() + "/other";
    QDir().mkpath(other);
    WritePicture((other + "/c.png").toStdString(), 20, 10);
    WriteBytes((other + "/notes.txt").toStdString(), 5);
    WriteBytes((other + "/cwebp").toStdString(), 5);
    WriteBytes(scratch.Path("cjpeg"), 5);
    lists->ListFolder(Dir());
    ASSERT_TRUE(WaitLoaded());

    const auto drop = [&](QMimeData *data) {
        const QPoint at(50, 50);
        QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, {});
        QApplication::sendEvent(selected->viewport(), &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent dropped(QPointF(at), Qt::CopyAction, data, Qt::LeftButton, {});
        QApplication::sendEvent(selected->viewport(), &dropped);
        QCoreApplication::sendPostedEvents();
        delete data;
    };
    SelectFolderRows({1});
    drop(FolderListCtrl::MakeDragData());
    EXPECT_EQ(selected->Paths(), QStringList({Dir() + "/b.png"}));

    // From the file manager: a file twice, a folder with non-images in it, a
    // program whose name ends like a format.
    auto *files = new QMimeData;
    files->setUrls({QUrl::fromLocalFile(Dir() + "/a.png"), QUrl::fromLocalFile(Dir() + "/b.png"),
                    QUrl::fromLocalFile(Dir() + "/a.png"), QUrl::fromLocalFile(other),
                    QUrl::fromLocalFile(Dir() + "/cjpeg")});
    drop(files);
    EXPECT_EQ(selected->Paths(), QStringList({Dir() + "/b.png", Dir() + "/a.png", other + "/c.png"}));
    EXPECT_EQ(selected->RawText(1, 4), "40x30");
    EXPECT_EQ(selected->RawText(2, 4), "20x10");
    EXPECT_EQ(count->text(), "选定的图像: 3");
}

TEST_F(ListsTest, ViewerCommandsWorkOnSingleRows)
{
    for (const char *name : {"a.gif", "b.gif", "c.gif"})
        WriteBytes(scratch.Path(name), 3);
    lists->ListFolder(Dir());
    SelectFolderRows({0, 2});
    lists->AddFolderRowToSelection(1);
    EXPECT_EQ(selected->Paths(), QStringList({Dir() + "/b.gif"}));
    lists->OnAddAll();
    lists->RemoveSelectedPath((Dir() + "/C.GIF").toUpper());
    EXPECT_EQ(selected->Paths(), QStringList({Dir() + "/b.gif", Dir() + "/a.gif"}));
    EXPECT_EQ(count->text(), "选定的图像: 2");
    EXPECT_TRUE(WaitLoaded());
}

} // namespace

// The type column speaks the window's language: the desktop's name where it
// has one in that language, else one made from the English name.
TEST(FileTypeName, OneLanguagePerColumn)
{
    struct Row {
        QLocale::Language language;
        const char *file;
        const char *expected;
    };
    const Row rows[] = {
        {QLocale::Chinese, "a.jpg", "JPEG 图像"},     {QLocale::Chinese, "a.avif", "AVIF 图像"},
        {QLocale::Chinese, "a.jxl", "JPEG XL 图像"},  {QLocale::English, "a.jpg", "JPEG image"},
        {QLocale::English, "a.avif", "AVIF image"},   {QLocale::English, "a.jxl", "JPEG XL image"},
    };
    const QLocale before;
    for (const Row &row : rows) {
        QLocale::setDefault(QLocale(row.language));
        EXPECT_EQ(CImageLists::FileTypeName(QDir::temp().filePath(row.file)), QString::fromUtf8(row.expected))
            << row.file;
    }
    QLocale::setDefault(before);
}
