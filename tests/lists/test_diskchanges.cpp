// The folder list following the disk: files added, removed and renamed
// reach the rows by name, rewritten ones by size and time, bursts are
// coalesced, holds delay them.
#include "tests/lists/lists_fixture.h"

#include <QFile>
#include <QSignalSpy>

#include <cstdio>
#include <fstream>
#include <utime.h>

namespace {

using namespace liststest;

class DiskChanges : public ListsTest {
protected:
    void SetUp() override
    {
        ListsTest::SetUp();
        WritePicture(scratch.Path("b.png"), 30, 20);
        WritePicture(scratch.Path("d.png"), 40, 20);
        WritePicture(scratch.Path("f.png"), 50, 20);
        lists->ListFolder(Dir());
        ASSERT_TRUE(WaitLoaded());
    }
    QStringList Names() const { return QStringList(lists->FileNames().begin(), lists->FileNames().end()); }
    QStringList SelectedNames() const
    {
        QStringList out;
        for (int row : folder->SelectedRows())
            out << folder->item(row)->data(FolderListCtrl::NameRole).toString();
        return out;
    }
    // Each row's caption must be its own file's size.
    void ExpectCaptionsMatchFiles()
    {
        ASSERT_TRUE(WaitLoaded());
        for (int row = 0; row < folder->count(); ++row) {
            const QString name = folder->item(row)->data(FolderListCtrl::NameRole).toString();
            CxImage img((Dir() + "/" + name).toUtf8().constData(), 0);
            EXPECT_EQ(folder->item(row)->text(),
                      FormatCaption(long(img.GetWidth()), long(img.GetHeight()), name));
        }
    }
};

TEST_F(DiskChanges, AddedRemovedAndRenamedFilesReachTheRowsAndTheSelectionStays)
{
    SelectFolderRows({1, 2}); // d, f
    QSignalSpy refreshed(lists.get(), &CImageLists::folderRefreshed);
    const struct {
        std::function<void()> change;
        QStringList names;
        QStringList selected;
    } steps[] = {
        {[&] { WritePicture(scratch.Path("a.png"), 11, 10), WritePicture(scratch.Path("e.png"), 12, 10); },
         {"a.png", "b.png", "d.png", "e.png", "f.png"},
         {"d.png", "f.png"}},
        {[&] { QFile::remove(Q(scratch.Path("d.png"))); }, {"a.png", "b.png", "e.png", "f.png"}, {"f.png"}},
        // A rename is the old name gone and the new one added.
        {[&] { std::rename(scratch.Path("f.png").c_str(), scratch.Path("c.png").c_str()); },
         {"a.png", "b.png", "c.png", "e.png"},
         {}},
        {[&] { WriteBytes(scratch.Path("notes.txt"), 3); }, {"a.png", "b.png", "c.png", "e.png"}, {}},
    };
    for (const auto &step : steps) {
        const int before = refreshed.count();
        step.change();
        ASSERT_TRUE(QTest::qWaitFor([&] { return Names() == step.names; }, 10000))
            << Names().join(' ').toStdString();
        EXPECT_EQ(SelectedNames(), step.selected);
        EXPECT_TRUE(QTest::qWaitFor([&] { return refreshed.count() == before + 1; }, 10000))
            << refreshed.count();
        ExpectCaptionsMatchFiles();
    }
}

TEST_F(DiskChanges, ABurstIsAppliedInFewRefreshes)
{
    QSignalSpy refreshed(lists.get(), &CImageLists::folderRefreshed);
    for (int i = 0; i < 200; ++i)
        WriteBytes(scratch.Path(QString("n%1.png").arg(i, 3, 10, QChar('0')).toStdString()), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return lists->FileNames().size() == 203u; }, 10000));
    EXPECT_LE(refreshed.count(), 3);
    EXPECT_EQ(folder->count(), 203);
    ASSERT_TRUE(WaitLoaded());
}

TEST_F(DiskChanges, HeldChangesWaitAndF5ReloadsThumbnails)
{
    QSignalSpy refreshed(lists.get(), &CImageLists::folderRefreshed);
    lists->HoldDiskChanges();
    lists->HoldDiskChanges();
    WritePicture(scratch.Path("a.png"), 11, 10);
    ASSERT_TRUE(QTest::qWaitFor([&] { return lists->HasPendingDiskChanges(); }, 10000));
    lists->Reload(); // waits too
    EXPECT_EQ(Names(), QStringList({"b.png", "d.png", "f.png"}));
    lists->ReleaseDiskChanges();
    EXPECT_EQ(refreshed.count(), 0);
    lists->ReleaseDiskChanges(); // the last hold applies what waited, once
    EXPECT_EQ(refreshed.count(), 1);
    EXPECT_EQ(Names(), QStringList({"a.png", "b.png", "d.png", "f.png"}));
    EXPECT_FALSE(lists->HasPendingDiskChanges());
    ExpectCaptionsMatchFiles();

    // F5 brings a rewritten file's thumbnail at once, before the watcher.
    WritePicture(scratch.Path("b.png"), 60, 10);
    lists->Reload();
    ExpectCaptionsMatchFiles();
}

TEST_F(DiskChanges, AFileRewrittenUnderItsNameGetsItsCaptionAndThumbnailAgain)
{
    testsupport::ScratchDir elsewhere;
    const auto picture = [&](int width) {
        WritePicture(elsewhere.Path("p.png"), width, 10);
        return elsewhere.Path("p.png");
    };
    const struct {
        const char *what;
        int row;
        std::function<void()> change;
    } steps[] = {
        {"written over in place", 0,
         [&] {
             const std::vector<std::uint8_t> bytes = testsupport::ReadFileBytes(picture(60));
             std::ofstream(scratch.Path("b.png"), std::ios::binary | std::ios::trunc)
                 .write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
         }},
        {"replaced by a rename", 1, [&] { std::rename(picture(70).c_str(), scratch.Path("d.png").c_str()); }},
        {"dated anew", 2,
         [&] {
             const utimbuf when{1000000000, 1000000000};
             utime(scratch.Path("f.png").c_str(), &when);
         }},
    };
    SelectFolderRows({1});
    for (const auto &step : steps) {
        SCOPED_TRACE(step.what);
        std::vector<qint64> icons;
        for (int row = 0; row < folder->count(); ++row)
            icons.push_back(folder->item(row)->icon().cacheKey());
        step.change();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return folder->item(step.row)->icon().cacheKey() != icons[step.row] &&
                       !lists->IsLoaderRunning();
            },
            10000));
        ExpectCaptionsMatchFiles();
        for (int row = 0; row < folder->count(); ++row) {
            if (row != step.row) {
                EXPECT_EQ(folder->item(row)->icon().cacheKey(), icons[row]) << row;
            }
        }
        EXPECT_EQ(Names(), QStringList({"b.png", "d.png", "f.png"}));
        EXPECT_EQ(SelectedNames(), QStringList({"d.png"}));
    }
}

} // namespace
