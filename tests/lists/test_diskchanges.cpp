// The folder list following the disk: files added, removed and renamed
// reach the rows by name, bursts are coalesced, holds delay them.
#include "lists_fixture.h"

#include <QFile>
#include <QSignalSpy>

#include <cstdio>

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
        QTRY_COMPARE_WITH_TIMEOUT(Names(), step.names, 10000);
        EXPECT_EQ(SelectedNames(), step.selected);
        QTRY_COMPARE_WITH_TIMEOUT(refreshed.count(), before + 1, 10000);
        ExpectCaptionsMatchFiles();
    }
}

TEST_F(DiskChanges, ABurstIsAppliedInFewRefreshes)
{
    QSignalSpy refreshed(lists.get(), &CImageLists::folderRefreshed);
    for (int i = 0; i < 200; ++i)
        WriteBytes(scratch.Path(QString("n%1.png").arg(i, 3, 10, QChar('0')).toStdString()), 1);
    QTRY_COMPARE_WITH_TIMEOUT(lists->FileNames().size(), 203u, 10000);
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
    QTRY_VERIFY_WITH_TIMEOUT(lists->HasPendingDiskChanges(), 10000);
    lists->Reload(); // waits too
    EXPECT_EQ(Names(), QStringList({"b.png", "d.png", "f.png"}));
    lists->ReleaseDiskChanges();
    EXPECT_EQ(refreshed.count(), 0);
    lists->ReleaseDiskChanges(); // the last hold applies what waited, once
    EXPECT_EQ(refreshed.count(), 1);
    EXPECT_EQ(Names(), QStringList({"a.png", "b.png", "d.png", "f.png"}));
    EXPECT_FALSE(lists->HasPendingDiskChanges());
    ExpectCaptionsMatchFiles();

    // A file rewritten in place gets its new thumbnail on F5 only.
    WritePicture(scratch.Path("b.png"), 60, 10);
    lists->Reload();
    ExpectCaptionsMatchFiles();
}

} // namespace
