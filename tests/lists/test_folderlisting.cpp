// Listing a folder: which files, their order, placeholder rows at once,
// thumbnails and captions from the loader, and a listing that changes while
// the loader runs.
#include "imaging/thumbnail.h"
#include "tests/dng_maker.h"
#include "tests/lists/lists_fixture.h"
#include "tests/pdf_maker.h"

#include <QDir>
#include <QFile>
#include <QScrollBar>
#include <QSignalSpy>
#include <sys/stat.h>

namespace {

using namespace liststest;

QImage IconImage(const QListWidgetItem *item)
{
    return item->icon().pixmap(96, 72).toImage().convertToFormat(QImage::Format_RGB32);
}

QImage Placeholder()
{
    return QImage(QString::fromLatin1(listsid::kPlaceholderPath))
        .copy(0, 0, 96, 72)
        .convertToFormat(QImage::Format_RGB32);
}

TEST_F(ListsTest, ListsRegularImageFilesByNameEnding)
{
    // Names without a dot before the extension are programs (cjpeg), not pictures.
    for (const char *name : {"a.JPG", "b.jpeg", "c.TIFF", "d.txt", "epcx", "cjpeg", "h.WebP"})
        WriteBytes(scratch.Path(name), 10);
    ASSERT_EQ(::mkdir(scratch.Path("f.bmp").c_str(), 0700), 0);
    ASSERT_EQ(::mkfifo(scratch.Path("g.jpg").c_str(), 0600), 0);
    // Formats read through Qt, listed with their sizes.
    const char *const copies[][2] = {
        {"pnm/p4.pbm", "i.pbm"}, {"ico/two_sizes.ico", "j.ICO"}, {"tga/rgb24.tga", "k.tga"}};
    for (const auto &copy : copies)
        ASSERT_TRUE(testsupport::WriteFileBytes(scratch.Path(copy[1]),
                                                testsupport::ReadFileBytes(testsupport::DataPath(copy[0]))));
    // A drawing, listed at its own size with its rendered card.
    const std::string svg = R"(<svg xmlns="http://www.w3.org/2000/svg" width="30" height="12">)"
                            R"(<rect width="30" height="12" fill="#00f"/></svg>)";
    ASSERT_TRUE(testsupport::WriteFileBytes(scratch.Path("l.svg"), std::vector<std::uint8_t>(svg.begin(), svg.end())));

    lists->ListFolder(Dir() + "//");
    EXPECT_EQ(lists->Folder(), Dir());
    EXPECT_EQ(FolderCaptions(),
              QStringList({"a.JPG", "b.jpeg", "c.TIFF", "h.WebP", "i.pbm", "j.ICO", "k.tga", "l.svg"}));
    ASSERT_TRUE(WaitLoaded());
    // The first ones do not decode: they keep the placeholder and read 0x0.
    EXPECT_EQ(FolderCaptions(), QStringList({"0x0\na.JPG", "0x0\nb.jpeg", "0x0\nc.TIFF", "0x0\nh.WebP",
                                             "13x7\ni.pbm", "16x16\nj.ICO", "13x7\nk.tga", "30x12\nl.svg"}));
    EXPECT_NE(IconImage(folder->item(7)), Placeholder());
}

TEST_F(ListsTest, NamesSortByTheirBytes)
{
    for (const char *name : {"B.jpg", "a.jpg", "10.jpg", "9.jpg"})
        WriteBytes(scratch.Path(name), 1);
    lists->ListFolder(Dir());
    const std::vector<QString> expected = {"10.jpg", "9.jpg", "B.jpg", "a.jpg"};
    EXPECT_EQ(lists->FileNames(), expected);
    EXPECT_EQ(lists->FolderPaths().first(), Dir() + "/10.jpg");
    EXPECT_TRUE(WaitLoaded());
}

TEST_F(ListsTest, PlaceholderRowsFirstThenSizesAndThumbnails)
{
    WritePicture(scratch.Path("a.png"), 800, 600);
    WritePicture(scratch.Path("b.png"), 600, 800);
    WriteBytes(scratch.Path("q.png"), 300); // corrupt, and not the last file
    WritePicture(scratch.Path("z.png"), 1000, 100);

    lists->ListFolder(Dir());
    // Nothing was decoded on this thread: the rows are there, bare.
    ASSERT_EQ(folder->count(), 4);
    EXPECT_EQ(FolderCaptions(), QStringList({"a.png", "b.png", "q.png", "z.png"}));
    const QImage placeholder = Placeholder();
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(IconImage(folder->item(i)), placeholder) << i;
    EXPECT_TRUE(lists->IsLoaderRunning());

    ASSERT_TRUE(WaitLoaded());
    EXPECT_EQ(FolderCaptions(),
              QStringList({"800x600\na.png", "600x800\nb.png", "0x0\nq.png", "1000x100\nz.png"}));
    EXPECT_EQ(IconImage(folder->item(2)), placeholder); // also after the last thumbnail came
    // The thumbnails: white where the drawn rectangle leaves room.
    const QImage b = IconImage(folder->item(1));
    EXPECT_NE(b, placeholder);
    EXPECT_EQ(b.pixel(5, 36), qRgb(255, 255, 255)); // left of (21, 0, 54, 72)
    EXPECT_NE(b.pixel(48, 36), qRgb(255, 255, 255));
    const QImage z = IconImage(folder->item(3));
    EXPECT_EQ(z.pixel(48, 10), qRgb(255, 255, 255)); // above (0, 31, 96, 9)
    EXPECT_NE(z.pixel(48, 35), qRgb(255, 255, 255));
    EXPECT_FALSE(bar->isVisible());
}

// A camera raw file lists its size upright and its own preview turned as
// the file says; a raw extension the desktop has no type for is typed RAW.
TEST_F(ListsTest, CameraRawFilesListUprightFromTheirPreview)
{
    // The preview covers the cache's 128 x 128 as well as the card.
    ASSERT_TRUE(testsupport::WriteDng(scratch.Path("p.dng"), {.width = 640,
                                                              .height = 480,
                                                              .patches = {{0.2, 0.2, 0.2}},
                                                              .patchColumns = 1,
                                                              .orientation = 6,
                                                              .previewWidth = 320,
                                                              .previewHeight = 240}));
    ASSERT_TRUE(QFile::copy(Dir() + "/p.dng", Dir() + "/q.srw"));
    lists->ListFolder(Dir());
    ASSERT_TRUE(WaitLoaded());
    EXPECT_EQ(FolderCaptions(), QStringList({"480x640\np.dng", "480x640\nq.srw"}));
    const QImage p = IconImage(folder->item(0));
    EXPECT_EQ(p.pixel(5, 36), qRgb(255, 255, 255)); // upright: left of (21, 0, 54, 72)
    EXPECT_EQ(p.pixel(48, 36), qRgb(255, 0, 255));
    lists->OnAddAll();
    ASSERT_EQ(selected->topLevelItemCount(), 2);
    EXPECT_NE(selected->RowTexts(0)[2], "RAW"); // the desktop's name for DNG
    EXPECT_EQ(selected->RowTexts(1)[2], "RAW");
}

TEST_F(ListsTest, NewFolderMidLoadShowsNothingOfTheOldOne)
{
    const QString old = Dir() + "/old";
    const QString fresh = Dir() + "/new";
    QDir().mkpath(old);
    QDir().mkpath(fresh);
    // Big enough that the loader is still decoding when the folder changes.
    WritePicture((old + "/o00.png").toStdString(), 1200, 900);
    for (int i = 1; i < 40; ++i)
        ASSERT_TRUE(QFile::copy(old + "/o00.png", old + QString("/o%1.png").arg(i, 2, 10, QChar('0'))));
    WritePicture((fresh + "/n1.png").toStdString(), 50, 40);
    WritePicture((fresh + "/n2.png").toStdString(), 60, 40);

    lists->ListFolder(old);
    // Let the first results arrive, so the loader is surely mid-way.
    ASSERT_TRUE(QTest::qWaitFor([&] { return folder->item(0)->text().contains('\n'); }, 60000));
    lists->ListFolder(fresh);
    EXPECT_EQ(FolderCaptions(), QStringList({"n1.png", "n2.png"}));
    ASSERT_TRUE(WaitLoaded());
    QCoreApplication::sendPostedEvents(); // anything the old loader queued has had its chance
    EXPECT_EQ(FolderCaptions(), QStringList({"50x40\nn1.png", "60x40\nn2.png"}));
    EXPECT_EQ(lists->FileNames().size(), 2u);

    // Stopping by itself: afterwards nothing runs and nothing arrives.
    lists->ListFolder(old);
    // A folder listed anew starts at the top, wherever the last one was scrolled.
    folder->scrollToBottom();
    ASSERT_GT(folder->verticalScrollBar()->value(), 0);
    lists->ListFolder(old);
    EXPECT_EQ(folder->verticalScrollBar()->value(), 0);
    EXPECT_TRUE(lists->StopLoader());
    EXPECT_FALSE(lists->IsLoaderRunning());
    const QStringList frozen = FolderCaptions();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(FolderCaptions(), frozen);
}

TEST_F(ListsTest, RowRemovedDuringLoadKeepsEveryCaptionOnItsOwnFile)
{
    for (int i = 0; i < 12; ++i)
        WritePicture(scratch.Path("f" + std::string(1, char('a' + i)) + ".png"), 100 + i, 50);
    lists->ListFolder(Dir());
    // The viewer moved files away while the loader still had them all ahead;
    // it names them by path, and only the exact path is their row.
    EXPECT_EQ(lists->FolderRowOf(Dir() + "/FF.png"), -1);
    EXPECT_EQ(lists->FolderRowOf(Dir() + "/ff.png"), 5);
    lists->RemoveFolderRow(lists->FolderRowOf(Dir() + "/fa.png"));
    lists->RemoveFolderRow(lists->FolderRowOf(Dir() + "/ff.png"));
    EXPECT_EQ(lists->FolderRowOf(Dir() + "/ff.png"), -1);
    ASSERT_TRUE(WaitLoaded());
    ASSERT_EQ(folder->count(), 10);
    ASSERT_EQ(lists->FileNames().size(), 10u);
    for (int row = 0; row < folder->count(); ++row) {
        const QString name = lists->FileNames()[std::size_t(row)];
        const int i = name.at(1).unicode() - 'a';
        EXPECT_EQ(folder->item(row)->text(), FormatCaption(100 + i, 50, name)) << row;
    }
    EXPECT_FALSE(lists->FileNames()[4] == "ff.png");
}

TEST_F(ListsTest, EmptyOrMissingFolderListsNothing)
{
    lists->ListFolder(Dir() + "/nope");
    EXPECT_EQ(folder->count(), 0);
    EXPECT_TRUE(WaitLoaded());
    lists->ListFolder(QString());
    EXPECT_EQ(folder->count(), 0);
    EXPECT_TRUE(lists->FolderPaths().isEmpty());
    lists->ListFolder("///");
    EXPECT_EQ(lists->Folder(), "/");
    EXPECT_TRUE(lists->StopLoader());
}

TEST_F(ListsTest, ViewStartsAtTheMarkedFileAndDoubleClickAsksForIt)
{
    for (const char *name : {"1.gif", "2.gif", "3.gif", "4.gif", "5.gif"})
        WriteBytes(scratch.Path(name), 4);
    lists->ListFolder(Dir());
    EXPECT_EQ(lists->FolderSelectionMark(), -1);
    folder->setCurrentRow(3);
    EXPECT_EQ(lists->FolderSelectionMark(), 3);

    QSignalSpy view(lists.get(), &CImageLists::viewRequested);
    const QRect r = folder->visualItemRect(folder->item(1));
    QTest::mouseDClick(folder->viewport(), Qt::LeftButton, {}, r.center());
    EXPECT_EQ(view.count(), 1);
    ASSERT_TRUE(WaitLoaded());
}

} // namespace

// A document of several pages carries a badge with its count over its
// card's corner and a line in its tooltip; the caption keeps its two lines.
TEST_F(ListsTest, DocumentsOfSeveralPagesShowTheirCount)
{
    const testsupport::PdfPage red{144, 108, 1, 0, 0};
    testsupport::MakePdf(scratch.Path("a.pdf"), {red, red, red});
    testsupport::MakePdf(scratch.Path("b.pdf"), {red});
    WritePicture(scratch.Path("c.png"), 80, 60);
    lists->ListFolder(Dir());
    ASSERT_TRUE(WaitLoaded());
    ASSERT_EQ(folder->count(), 3);
    const QImage shot = folder->viewport()->grab().toImage();
    const int pages[] = {3, 0, 0};
    for (int i = 0; i < 3; ++i) {
        const QListWidgetItem &row = *folder->item(i);
        EXPECT_EQ(row.text().count('\n'), 1) << i;
        EXPECT_EQ(row.data(FolderListCtrl::PagesRole).toInt(), pages[i]) << i;
        EXPECT_EQ(FolderListCtrl::ToolTipOf(row), pages[i] ? row.text() + "\n3 页" : row.text()) << i;
        // The badge is dark over the picture; the red page has nothing dark.
        const QRect cell = folder->visualItemRect(&row);
        int dark = 0;
        for (int y = cell.top(); y < cell.top() + kThumbHeight; ++y)
            for (int x = cell.left(); x <= cell.right(); ++x)
                dark += qRed(shot.pixel(x, y)) < 120 && qGreen(shot.pixel(x, y)) < 120 ? 1 : 0;
        if (i < 2) {
            EXPECT_EQ(dark > 20, pages[i] > 1) << i << " dark pixels: " << dark;
        }
    }
    const QRect icon(0, 0, kThumbWidth, kThumbHeight);
    const QRect badge = FolderListCtrl::BadgeRect(icon, folder->fontMetrics(), 1234);
    EXPECT_TRUE(icon.contains(badge)) << badge.x() << "," << badge.y() << " " << badge.width();
    EXPECT_TRUE(FolderListCtrl::BadgeRect(icon, folder->fontMetrics(), 1).isEmpty());
}
