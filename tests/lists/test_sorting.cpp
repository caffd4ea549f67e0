// Column-click sorting of the selected list, and the transparent picture.
#include "tests/lists/lists_fixture.h"
#include "lists/transparentbitmapstatic.h"

#include <QHeaderView>
#include <QPainter>

namespace {

using namespace liststest;

class SortTest : public ListsTest {
protected:
    void Row(const QString &name, const QString &size, const QString &dims)
    {
        selected->AppendRow({name, size, "t", "未知", dims, "/x/" + name});
    }
    void ClickHeader(int column)
    {
        QHeaderView *h = selected->header();
        const QPoint at(h->sectionViewportPosition(column) + 5, h->height() / 2);
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, at);
    }
    QStringList Names() const
    {
        QStringList out;
        for (int row = 0; row < selected->topLevelItemCount(); ++row)
            out.append(selected->RawText(row, 0));
        return out;
    }
};

TEST_F(SortTest, SizeSortsByBytesNotByTheShownText)
{
    Row("big", "2048", "1x1");
    Row("mid", "1500", "1x1");
    Row("small", "999", "1x1");
    Row("huge", "5000000000", "1x1");
    ClickHeader(1);
    EXPECT_EQ(Names(), QStringList({"small", "mid", "big", "huge"}));
    EXPECT_EQ(selected->m_nSortColumn, 1);
    EXPECT_TRUE(selected->m_bSortAscending);
    // What a run takes: the paths in the order shown.
    EXPECT_EQ(lists->SelectedPaths().first(), "/x/small");
    ClickHeader(1);
    EXPECT_EQ(Names(), QStringList({"huge", "big", "mid", "small"}));
    ClickHeader(1);
    EXPECT_TRUE(selected->m_bSortAscending);
}

TEST_F(SortTest, DimensionsSortByArea)
{
    Row("a", "1", "100x100");
    Row("b", "1", "50x300");
    Row("c", "1", "0x0");
    Row("d", "1", "x7");
    ClickHeader(4);
    EXPECT_EQ(Names().mid(2), QStringList({"a", "b"})); // c and d are both area 0
    ClickHeader(4);
    EXPECT_EQ(Names().first(2), QStringList({"b", "a"}));
    // A new column starts ascending again.
    ClickHeader(0);
    EXPECT_TRUE(selected->m_bSortAscending);
}

TEST_F(SortTest, NamesSortInLocaleOrderAndSelectionTravels)
{
    Row("b.png", "1", "1x1");
    Row("c.png", "1", "1x1");
    Row("a.png", "1", "1x1");
    selected->topLevelItem(1)->setSelected(true); // c.png
    ClickHeader(0);
    EXPECT_EQ(Names(), QStringList({"a.png", "b.png", "c.png"}));
    ClickHeader(0);
    EXPECT_EQ(Names(), QStringList({"c.png", "b.png", "a.png"}));
    EXPECT_EQ(selected->SelectedRows(), QList<int>({0}));
    // Rows added after a sort go to the end.
    Row("0.png", "1", "1x1");
    EXPECT_EQ(Names().last(), "0.png");
}

TEST(SelectedListColumns, ColumnStringGivesTitlesAndWidths)
{
    SelectedListCtrl list;
    EXPECT_TRUE(list.SetColumns(QString::fromUtf8(CImageLists::kSelectedColumns)));
    ASSERT_EQ(list.columnCount(), 6);
    EXPECT_EQ(list.headerItem()->text(3), "修改日期");
    EXPECT_EQ(list.header()->sectionSize(5), 200);
    EXPECT_FALSE(list.SetColumns("a,10;b"));
    EXPECT_EQ(list.m_nColumns, 1);
    EXPECT_EQ(list.objectName(), "1013");
}

TEST(TransparentBitmapStatic, KeyColourShowsTheBackground)
{
    QImage picture(4, 1, QImage::Format_RGB32);
    picture.setPixel(0, 0, qRgb(214, 211, 206));
    picture.setPixel(1, 0, qRgb(10, 20, 30));
    picture.setPixel(2, 0, qRgb(214, 211, 207)); // near the key is not the key
    picture.setPixel(3, 0, qRgb(214, 211, 206));
    TransparentBitmapStatic label;
    label.resize(4, 1);
    label.setPixmap(QPixmap::fromImage(picture));

    QImage screen(4, 1, QImage::Format_RGB32);
    screen.fill(qRgb(0, 255, 0));
    label.render(&screen, QPoint(), QRegion(), QWidget::DrawChildren);
    EXPECT_EQ(screen.pixel(0, 0), qRgb(0, 255, 0));
    EXPECT_EQ(screen.pixel(1, 0), qRgb(10, 20, 30));
    EXPECT_EQ(screen.pixel(2, 0), qRgb(214, 211, 207));
    EXPECT_EQ(screen.pixel(3, 0), qRgb(0, 255, 0));
}

} // namespace
