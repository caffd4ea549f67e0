#include "controls/shelltree/shellfolders.h"
#include "controls/shelltree/shellplaces.h"
#include "controls/shelltree/shelltreectrl.h"
#include "tests/test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <unistd.h>

namespace {

// A scratch folder tree and a control whose places are folders inside it.
class ShellTree : public ::testing::Test {
protected:
    QString P(const QString &rel) const { return QString::fromStdString(m_dir.Root()) + "/" + rel; }
    void Mkdir(const QString &rel) { ASSERT_TRUE(QDir().mkpath(P(rel))) << rel.toStdString(); }
    void Touch(const QString &rel)
    {
        QFile f(P(rel));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }

    void UsePlaces(const QList<std::pair<QString, QString>> &captionAndRel)
    {
        QList<ShellPlace> places;
        for (const auto &[caption, rel] : captionAndRel)
            places.append({caption, P(rel), ShellPlace::Kind::Folder});
        m_places = places;
        m_tree.SetPlacesProvider([this] { return m_places; });
        m_tree.AddRootFolderContent();
    }

    static QStringList Captions(const QTreeWidgetItem *item)
    {
        QStringList texts;
        for (int i = 0; i < item->childCount(); ++i)
            texts.append(item->child(i)->text(0));
        return texts;
    }

    static QTreeWidgetItem *Child(QTreeWidgetItem *item, const QString &caption)
    {
        for (int i = 0; i < item->childCount(); ++i) {
            if (item->child(i)->text(0) == caption)
                return item->child(i);
        }
        return nullptr;
    }

    testsupport::ScratchDir m_dir;
    QList<ShellPlace> m_places;
    CShellTreeCtrl m_tree;
};

} // namespace

TEST_F(ShellTree, RootHoldsThePlacesAndAFolderShowsItsVisibleSubFoldersInOrder)
{
    for (const char *rel : {"a/zeta", "a/Beta", "a/alpha/deep", "a/.hidden", "b"})
        Mkdir(rel);
    Touch("a/file.txt");
    UsePlaces({{"第一", "a"}, {"第二", "b"}});

    QTreeWidgetItem *root = m_tree.GetRootItem();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->text(0), "计算机");
    EXPECT_EQ(root->childCount(), 0); // nothing read before the root expands
    root->setExpanded(true);
    EXPECT_EQ(Captions(root), QStringList({"第一", "第二"}));

    QTreeWidgetItem *a = root->child(0);
    EXPECT_EQ(a->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    EXPECT_EQ(root->child(1)->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
    a->setExpanded(true);
    EXPECT_EQ(Captions(a), QStringList({"alpha", "Beta", "zeta"})); // case-insensitive, no hidden, no files
    EXPECT_EQ(Child(a, "alpha")->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    EXPECT_EQ(Child(a, "zeta")->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
    EXPECT_EQ(CShellTreeCtrl::GetItemPath(Child(a, "Beta")), P("a/Beta"));
}

TEST_F(ShellTree, SelectionReportsTheFileSystemPathAndNothingForTheRoot)
{
    Mkdir("a/sub");
    UsePlaces({{"A", "a"}});
    QSignalSpy spy(&m_tree, &CShellTreeCtrl::selectedPathChanged);
    QTreeWidgetItem *root = m_tree.GetRootItem();
    root->setExpanded(true);
    root->child(0)->setExpanded(true);

    m_tree.setCurrentItem(root->child(0)->child(0));
    EXPECT_EQ(m_tree.GetSelectedPath(), P("a/sub"));
    m_tree.setCurrentItem(root);
    EXPECT_EQ(m_tree.GetSelectedPath(), "");
    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(spy.at(0).at(0).toString(), P("a/sub"));
    EXPECT_EQ(spy.at(1).at(0).toString(), "");
}

TEST_F(ShellTree, SelectFolderOpensTheWayFromTheClosestPlace)
{
    for (const char *dir : {"p/q/r", "p/s/t", "p/.hid/x", "other"})
        Mkdir(dir);
    UsePlaces({{"P", "p"}, {"Q", "p/q"}});
    QSignalSpy spy(&m_tree, &CShellTreeCtrl::selectedPathChanged);
    const struct {
        QString folder;
        QString placeCaption; // of the place the item hangs under; empty: not reached
    } cases[] = {
        {P("p/s/t"), "P"},
        {P("p/q/r"), "Q"}, // the deeper place wins
        {P("p"), "P"},
        {P("p/.hid/x"), ""},
        {P("other"), ""},
        {P("p/s/t/nope"), ""},
    };
    QString selected;
    for (const auto &c : cases) {
        QTreeWidgetItem *item = m_tree.SelectFolder(c.folder);
        if (c.placeCaption.isEmpty()) {
            EXPECT_EQ(item, nullptr) << c.folder.toStdString();
        } else {
            ASSERT_NE(item, nullptr) << c.folder.toStdString();
            QTreeWidgetItem *place = item;
            while (place->parent() != m_tree.GetRootItem())
                place = place->parent();
            EXPECT_EQ(place->text(0), c.placeCaption);
            selected = c.folder;
        }
        EXPECT_EQ(m_tree.GetSelectedPath(), selected); // left alone when not reached
    }
    EXPECT_EQ(spy.count(), 3);
}

TEST_F(ShellTree, StartupExpansionStopsAtTheFirstPlaceListingADriveCaption)
{
    Mkdir("one/:x"); // a leading colon is not after the first character
    Mkdir("one/plain");
    Mkdir("two/data");
    Mkdir("three/D:");
    Mkdir("four/E:");
    UsePlaces({{"1", "one"}, {"2", "two"}, {"3", "three"}, {"4", "four"}});

    QTreeWidgetItem *found = m_tree.ExpandToFirstDriveContainer();
    QTreeWidgetItem *root = m_tree.GetRootItem();
    EXPECT_EQ(found, root->child(2));
    EXPECT_TRUE(root->isExpanded());
    EXPECT_TRUE(found->isExpanded());
    EXPECT_FALSE(root->child(0)->isExpanded());
    EXPECT_FALSE(root->child(1)->isExpanded());
    EXPECT_EQ(root->child(1)->childCount(), 1);  // read on the way, kept
    EXPECT_FALSE(root->child(3)->isExpanded());
    EXPECT_EQ(root->child(3)->childCount(), 0);  // never tried
    EXPECT_TRUE(CShellTreeCtrl::IsDriveCaption("x:"));
    EXPECT_FALSE(CShellTreeCtrl::IsDriveCaption(":x"));
    EXPECT_FALSE(CShellTreeCtrl::IsDriveCaption("plain"));
}

TEST_F(ShellTree, StartupExpansionLeavesOnlyTheRootWhenNoPlaceQualifies)
{
    Mkdir("one/:leading");
    Mkdir("two/plain");
    UsePlaces({{"1", "one"}, {"2", "two"}});
    EXPECT_EQ(m_tree.ExpandToFirstDriveContainer(), nullptr);
    QTreeWidgetItem *root = m_tree.GetRootItem();
    EXPECT_TRUE(root->isExpanded());
    EXPECT_FALSE(root->child(0)->isExpanded());
    EXPECT_FALSE(root->child(1)->isExpanded());
    EXPECT_EQ(root->child(0)->childCount(), 1); // read on the way, kept
}

TEST_F(ShellTree, ExpandingAgainShowsNewFoldersDropsVanishedOnesAndKeepsTheSelection)
{
    Mkdir("a/keep/inner");
    Mkdir("a/old");
    UsePlaces({{"A", "a"}});
    QTreeWidgetItem *root = m_tree.GetRootItem();
    root->setExpanded(true);
    QTreeWidgetItem *a = root->child(0);
    a->setExpanded(true);
    QTreeWidgetItem *keep = Child(a, "keep");
    keep->setExpanded(true);
    m_tree.setCurrentItem(keep->child(0));
    QSignalSpy spy(&m_tree, &CShellTreeCtrl::selectedPathChanged);

    a->setExpanded(false);
    ASSERT_TRUE(QDir(P("a/old")).removeRecursively());
    Mkdir("a/new");
    a->setExpanded(true);
    EXPECT_EQ(Captions(a), QStringList({"keep", "new"}));
    EXPECT_EQ(Child(a, "keep"), keep); // same item, its sub-tree and the selection intact
    EXPECT_EQ(m_tree.GetSelectedPath(), P("a/keep/inner"));
    EXPECT_EQ(spy.count(), 0);
}

TEST_F(ShellTree, AFolderGoneOrReplacedByAFileLeavesTheTreeWhenExpanded)
{
    Mkdir("a/gone/child");
    Mkdir("a/file/child");
    UsePlaces({{"A", "a"}});
    QTreeWidgetItem *root = m_tree.GetRootItem();
    root->setExpanded(true);
    QTreeWidgetItem *a = root->child(0);
    a->setExpanded(true);
    ASSERT_EQ(a->childCount(), 2);

    ASSERT_TRUE(QDir(P("a/gone")).removeRecursively());
    ASSERT_TRUE(QDir(P("a/file")).removeRecursively());
    Touch("a/file");
    Child(a, "gone")->setExpanded(true);
    Child(a, "file")->setExpanded(true);
    QCoreApplication::processEvents();
    EXPECT_EQ(a->childCount(), 0);
}

TEST_F(ShellTree, LinksBackUpTheTreeAreShownButNeverExpanded)
{
    Mkdir("a/b/c");
    ASSERT_EQ(symlink(P("a").toUtf8().constData(), P("a/b/up").toUtf8().constData()), 0);
    ASSERT_EQ(symlink(P("a/b/c").toUtf8().constData(), P("a/side").toUtf8().constData()), 0);
    ASSERT_EQ(symlink(P("nowhere").toUtf8().constData(), P("a/dangling").toUtf8().constData()), 0);
    UsePlaces({{"A", "a"}});
    QTreeWidgetItem *root = m_tree.GetRootItem();
    root->setExpanded(true);
    QTreeWidgetItem *a = root->child(0);
    a->setExpanded(true);
    EXPECT_EQ(Captions(a), QStringList({"b", "side"})); // the dangling link is no folder

    QTreeWidgetItem *b = Child(a, "b");
    b->setExpanded(true);
    QTreeWidgetItem *up = Child(b, "up");
    ASSERT_NE(up, nullptr);
    EXPECT_EQ(up->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
    up->setExpanded(true);
    EXPECT_EQ(up->childCount(), 0);
    // A link to a folder elsewhere opens like any folder.
    QTreeWidgetItem *side = Child(a, "side");
    side->setExpanded(true);
    EXPECT_EQ(side->childCount(), 0);
    EXPECT_EQ(CShellTreeCtrl::GetItemPath(side), P("a/side"));
}

TEST_F(ShellTree, AFolderAsRootShowsItsOwnFolders)
{
    Mkdir("top/one");
    Mkdir("top/two");
    m_tree.AddRootFolderContent(P("top/"));
    QTreeWidgetItem *root = m_tree.GetRootItem();
    EXPECT_EQ(root->text(0), "top");
    EXPECT_EQ(CShellTreeCtrl::GetItemPath(root), P("top"));
    root->setExpanded(true);
    EXPECT_EQ(Captions(root), QStringList({"one", "two"}));
    m_tree.AddRootFolderContent(P("top/one")); // a second call replaces the tree
    EXPECT_EQ(m_tree.topLevelItemCount(), 1);
    EXPECT_EQ(m_tree.GetRootItem()->text(0), "one");
}

TEST(ShellPlaces, OnlyVolumesAUserBrowsesAreListed)
{
    EXPECT_TRUE(IsUserVolume("/media/me/USB", "vfat", true));
    EXPECT_TRUE(IsUserVolume("/run/media/me/Disk", "ext4", true));
    EXPECT_TRUE(IsUserVolume("/home", "ext4", true));
    EXPECT_TRUE(IsUserVolume("/mnt/share", "cifs", true));
    EXPECT_FALSE(IsUserVolume("/", "ext4", true));
    EXPECT_FALSE(IsUserVolume("/tmp", "tmpfs", true));
    EXPECT_FALSE(IsUserVolume("/proc", "proc", true));
    EXPECT_FALSE(IsUserVolume("/run/user/1000", "ext4", true));
    EXPECT_FALSE(IsUserVolume("/snap/core/1", "squashfs", true));
    EXPECT_FALSE(IsUserVolume("/boot/efi", "vfat", true));
    EXPECT_FALSE(IsUserVolume("/etc/hosts", "ext4", false)); // a container's bind-mounted file
    EXPECT_EQ(VolumeCaption("/media/me/USB", "  "), "/media/me/USB");
    EXPECT_EQ(VolumeCaption("/media/me/USB", "Stick"), "Stick");

    const QList<ShellPlace> places = DefaultShellPlaces();
    ASSERT_GE(places.size(), 2);
    EXPECT_EQ(places[0].path, QDir::homePath());
    EXPECT_EQ(places[1].path, "/");
    for (qsizetype i = 2; i < places.size(); ++i)
        EXPECT_NE(places[i].path, "/");
}
