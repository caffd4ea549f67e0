#include "controls/linklabel.h"

#include <QImage>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// Records what a click asked to open instead of starting a browser.
struct OpenRecorder {
    QList<QUrl> opened;
    bool answer = true;
    CLinkLabel::Opener Opener()
    {
        return [this](const QUrl &url) {
            opened.append(url);
            return answer;
        };
    }
};

// Rows of the label's picture in which most pixels have the link colour.
int SolidLinkRows(CLinkLabel &label)
{
    const QImage img = label.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRgb link = qRgb(0, 0, 238);
    int rows = 0;
    for (int y = 0; y < img.height(); ++y) {
        int hits = 0;
        for (int x = 0; x < img.width(); ++x)
            hits += img.pixel(x, y) == link;
        rows += hits >= img.width() * 3 / 4;
    }
    return rows;
}

} // namespace

TEST(LinkLabel, TextAndTargetStandInForEachOther)
{
    CLinkLabel shown;
    shown.SetLinkTarget("https://example.org/velmora");
    EXPECT_EQ(shown.text(), "https://example.org/velmora");
    EXPECT_EQ(shown.toolTip(), "https://example.org/velmora");

    CLinkLabel taken("https://example.org/");
    EXPECT_EQ(taken.GetLinkTarget(), "https://example.org/");

    CLinkLabel both("说明");
    both.SetLinkTarget("/usr/share/doc/velmora/README.md");
    EXPECT_EQ(both.text(), "说明");
    EXPECT_EQ(both.GetLinkTarget(), "/usr/share/doc/velmora/README.md");
    EXPECT_EQ(both.toolTip(), "/usr/share/doc/velmora/README.md");
}

TEST(LinkLabel, AClickOpensTheTargetAsAUrl)
{
    OpenRecorder rec;
    CLinkLabel label("主页");
    label.SetOpener(rec.Opener());
    label.show();

    label.SetLinkTarget("/tmp/读我 1.md");
    QTest::mouseClick(&label, Qt::LeftButton);
    label.SetLinkTarget("https://example.org/a?b=1");
    QTest::mouseClick(&label, Qt::LeftButton);
    label.SetLinkTarget("example.org");
    QTest::mouseClick(&label, Qt::LeftButton);
    QTest::mouseClick(&label, Qt::RightButton); // not a click on the link

    ASSERT_EQ(rec.opened.size(), 3);
    EXPECT_TRUE(rec.opened[0].isLocalFile());
    EXPECT_EQ(rec.opened[0].toLocalFile(), "/tmp/读我 1.md");
    EXPECT_EQ(rec.opened[1].toString(), "https://example.org/a?b=1");
    EXPECT_EQ(rec.opened[2].scheme(), "http");
    EXPECT_EQ(rec.opened[2].host(), "example.org");

    // Pressed on the label but released elsewhere: no click.
    QTest::mousePress(&label, Qt::LeftButton, {}, QPoint(2, 2));
    QTest::mouseRelease(&label, Qt::LeftButton, {}, QPoint(label.width() + 20, 2));
    EXPECT_EQ(rec.opened.size(), 3);

    rec.answer = false;
    EXPECT_FALSE(label.OpenTarget()); // the desktop's refusal is reported
}

TEST(LinkLabel, FittingKeepsTheLabelWhereItsAlignmentAnchorsIt)
{
    QWidget host;
    host.resize(600, 200);

    CLinkLabel centred(&host);
    centred.setAlignment(Qt::AlignCenter);
    centred.setGeometry(100, 50, 300, 60);
    centred.setText("Velmora");
    const QRect c = centred.geometry();
    EXPECT_LT(c.width(), 300);
    EXPECT_LE(std::abs(c.center().x() - QRect(100, 50, 300, 60).center().x()), 1);
    EXPECT_LE(std::abs(c.center().y() - QRect(100, 50, 300, 60).center().y()), 1);
    EXPECT_NEAR(c.width(), centred.fontMetrics().horizontalAdvance("Velmora"), 2);

    CLinkLabel right(&host);
    right.setAlignment(Qt::AlignRight | Qt::AlignTop);
    right.setGeometry(100, 50, 300, 60);
    right.setText("Velmora");
    EXPECT_EQ(right.geometry().right(), 399);
    EXPECT_EQ(right.geometry().top(), 50);
    // One line high (a Chinese desktop's fallback font may add a pixel).
    EXPECT_NEAR(right.geometry().height(), right.fontMetrics().height(), 1);

    CLinkLabel left(&host);
    left.setGeometry(100, 50, 10, 60);
    left.setText("一段较长的链接文字"); // grows to its text
    EXPECT_EQ(left.geometry().topLeft(), QPoint(100, 50));
    EXPECT_NEAR(left.geometry().width(), left.fontMetrics().horizontalAdvance("一段较长的链接文字"), 2);

    CLinkLabel loose(&host);
    loose.SetFitToText(false);
    loose.setGeometry(100, 50, 300, 60);
    loose.setText("Velmora");
    EXPECT_EQ(loose.geometry(), QRect(100, 50, 300, 60));
}

TEST(LinkLabel, DrawsUnderlinedInTheLinkColourWithItsOwnHandCursor)
{
    CLinkLabel label("Velmora 主页");
    QFont big = label.font();
    big.setPixelSize(20);
    label.setFont(big); // refits to the larger text
    EXPECT_NEAR(label.width(), label.fontMetrics().horizontalAdvance("Velmora 主页"), 2);
    EXPECT_GE(SolidLinkRows(label), 1); // the underline
    label.SetUnderline(false);
    EXPECT_EQ(SolidLinkRows(label), 0);

    EXPECT_EQ(label.cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(label.cursor().hotSpot(), QPoint(10, 1));
    EXPECT_FALSE(label.cursor().pixmap().isNull());
}
