#include "app/dialogs/aboutdlg.h"
#include "app/dialogs/appresources.h"
#include "app/dialogs/appversion.h"
#include "resources/ids_app.h"
#include "resources/ids_controls.h"
#include "controls/linklabel.h"
#include "settings/settingsstore.h"
#include "tests/appdialogs/modal_answer.h"

#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

TEST(AboutDlg, ShowsTheIconTheVersionAndALinkToTheReadme)
{
    CAboutDlg dlg;
    EXPECT_EQ(dlg.windowTitle(), "关于 Velmora");
    EXPECT_EQ(dlg.objectName(), "100");
    auto *version = ById<QLabel>(&dlg, appid::IDC_VERSION);
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->text(), appversion::ProductAndVersion());
    EXPECT_EQ(version->text(), "Velmora 1.00");

    auto *link = ById<CLinkLabel>(&dlg, appid::IDC_HOMEPAGE);
    ASSERT_NE(link, nullptr);
    const QString target = CAboutDlg::HomePageTarget();
    EXPECT_TRUE(QFileInfo(target).isFile()) << target.toStdString();
    EXPECT_TRUE(target.endsWith("/README.md"));
    EXPECT_EQ(link->GetLinkTarget(), target);
    EXPECT_EQ(link->text(), target); // no text of its own: it shows where it leads

    bool iconShown = false;
    for (QLabel *label : dlg.findChildren<QLabel *>())
        iconShown |= !label->pixmap().isNull();
    EXPECT_TRUE(iconShown);

    QList<QUrl> opened;
    link->SetOpener([&](const QUrl &url) {
        opened.append(url);
        return true;
    });
    dlg.show();
    QTest::mouseClick(link, Qt::LeftButton);
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(target));
}

TEST(AboutDlg, OkAndEscapeCloseIt)
{
    for (bool useEscape : {false, true}) {
        CAboutDlg dlg;
        ModalAnswer<CAboutDlg> answer([useEscape](CAboutDlg *shown) {
            if (useEscape)
                QTest::keyClick(shown, Qt::Key_Escape);
            else
                ById<QPushButton>(shown, 1)->click();
        });
        EXPECT_EQ(dlg.DoModal(), useEscape ? QDialog::Rejected : QDialog::Accepted);
        EXPECT_EQ(answer.count, 1);
    }
}

TEST(AboutDlg, TheLanguageChosenIsStoredForTheNextStart)
{
    const struct {
        int index;
        const char *stored;
    } rows[] = {{2, "en"}, {1, "zh"}, {0, ""}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.stored);
        CAboutDlg dlg;
        auto *combo = ById<QComboBox>(&dlg, appid::IDC_LANGUAGE);
        auto *note = ById<QLabel>(&dlg, appid::IDC_LANGUAGE_NOTE);
        ASSERT_NE(combo, nullptr);
        ASSERT_NE(note, nullptr);
        EXPECT_EQ(combo->count(), 3);
        EXPECT_FALSE(note->isVisibleTo(&dlg));
        combo->setCurrentIndex(row.index);
        emit combo->activated(row.index);
        EXPECT_EQ(GetProfileString(kSettingsSection, settingskey::kLanguage, "unset"), row.stored);
        EXPECT_TRUE(note->isVisibleTo(&dlg));
        EXPECT_EQ(note->text(), "重新启动后生效。");
        // The next about box shows what is stored.
        CAboutDlg again;
        EXPECT_EQ(ById<QComboBox>(&again, appid::IDC_LANGUAGE)->currentIndex(), row.index);
    }
}

// A screen scaled by two gets the pictures drawn at twice the size, with a
// device pixel ratio that keeps them at their place's size.
TEST(AppResources, EachPictureHasOneDrawnAtTwiceTheSize)
{
    LoadAppIcon(); // registers the resources
    const CLinkLabel link(QStringLiteral("x")); // registers the link cursor's
    const struct {
        const char *path;
        QSize size;
    } rows[] = {
        {":/BITMAP/135", {20, 20}}, {":/BITMAP/136", {20, 20}}, {":/BITMAP/137", {20, 20}},
        {":/CURSOR/154", {32, 32}}, {":/CURSOR/155", {32, 32}}, {":/CURSOR/143", {32, 32}},
    };
    for (const auto &row : rows) {
        const QImage once(QString::fromLatin1(row.path) + ".png");
        const QImage twice(QString::fromLatin1(row.path) + "@2x.png");
        EXPECT_EQ(once.size(), row.size) << row.path;
        EXPECT_EQ(twice.size(), row.size * 2) << row.path;
        EXPECT_EQ(twice.devicePixelRatio(), 2.0) << row.path;
        EXPECT_EQ(twice.deviceIndependentSize().toSize(), row.size) << row.path;
    }
    // The cursor's hot spot is in the window's units, whatever the drawing's.
    EXPECT_EQ(QCursor(QPixmap(":/CURSOR/154@2x.png")).hotSpot(), QPoint(16, 16));
}

TEST(AppResources, PicturesAndCursorsLoadByTheirIds)
{
    for (int id : {appid::IDB_ROTATE_90, appid::IDB_ROTATE_180, appid::IDB_ROTATE_M90}) {
        const QImage drawn = LoadAppBitmap(id).toImage();
        ASSERT_EQ(drawn.size(), QSize(20, 20)) << id;
        EXPECT_EQ(QColor(drawn.pixel(0, 0)), QColor(214, 211, 206)) << id;
        const QImage keyed = LoadAppBitmapTransparent(id).toImage();
        EXPECT_EQ(qAlpha(keyed.pixel(0, 0)), 0) << id;
        int opaque = 0;
        for (int y = 0; y < 20; ++y) {
            for (int x = 0; x < 20; ++x)
                opaque += qAlpha(keyed.pixel(x, y)) == 255;
        }
        EXPECT_GT(opaque, 20) << id; // the arrow itself stays
    }
    // The three rotation pictures differ from each other.
    EXPECT_NE(LoadAppBitmap(appid::IDB_ROTATE_90).toImage(), LoadAppBitmap(appid::IDB_ROTATE_M90).toImage());
    EXPECT_NE(LoadAppBitmap(appid::IDB_ROTATE_90).toImage(), LoadAppBitmap(appid::IDB_ROTATE_180).toImage());
    EXPECT_TRUE(LoadAppBitmap(999).isNull());

    for (int id : {appid::IDC_CURSOR_SPLITV, appid::IDC_CURSOR_SPLITH}) {
        const QCursor cursor = LoadAppCursor(id);
        EXPECT_EQ(cursor.shape(), Qt::BitmapCursor) << id;
        EXPECT_EQ(cursor.hotSpot(), QPoint(16, 16)) << id;
    }
    EXPECT_EQ(LoadAppCursor(controlsid::IDC_CURSOR_LINK).hotSpot(), QPoint(10, 1));
    EXPECT_EQ(LoadAppCursor(999).shape(), Qt::ArrowCursor);

    const QIcon icon = LoadAppIcon();
    ASSERT_FALSE(icon.isNull());
    EXPECT_TRUE(icon.availableSizes().contains(QSize(16, 16)));
    EXPECT_TRUE(icon.availableSizes().contains(QSize(256, 256)));
}
