#include "tests/rundialogs/dialog_helpers.h"
#include "resources/ids_progress.h"
#include "rundialogs/overwritedialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

using namespace dlgtest;
using namespace progressid;

namespace {

// Opens the dialog, lets act answer it, and gives the worker's answer.
OverwriteAnswer Ask(const std::function<void(COverwriteDialog *)> &act,
                    const QString &message = U("文件 \"/out/a.JPG\" 已存在!\r\n\r\n请选择你想要的设置。"))
{
    COverwriteDialog dlg;
    dlg.SetMessage(message);
    WhenShown<COverwriteDialog> answer(act);
    const int result = dlg.exec();
    EXPECT_EQ(answer.count, 1);
    return dlg.GetAnswer(result);
}

} // namespace

TEST(OverwriteDialog, LayoutAndTexts)
{
    Ask([](COverwriteDialog *dlg) {
        EXPECT_EQ(dlg->windowTitle(), "Velmora");
        EXPECT_EQ(dlg->size(), QSize(449, 156)); // 299 x 96 units
        auto *rename = ById<QPushButton>(dlg, IDC_AUTO_RENAME);
        EXPECT_TRUE(rename->isDefault());
        EXPECT_EQ(rename->geometry(), QRect(83, 122, 84, 26));
        // Four answers in a row, the last one ending at the message's right edge.
        int left = 83;
        for (int id : {IDC_AUTO_RENAME, IDC_OVERWRITE, IDC_SKIP, IDCANCEL}) {
            EXPECT_EQ(ById(dlg, id)->geometry(), QRect(left, 122, 84, 26)) << id;
            left += 90;
        }
        for (auto [id, text] : {std::pair{IDC_AUTO_RENAME, "自动重命名"},
                                {IDC_OVERWRITE, "覆盖"},
                                {IDC_SKIP, "跳过"},
                                {IDCANCEL, "取消"},
                                {IDC_REMEMBER, "为该任务保存该设置"}})
            EXPECT_EQ(ById<QAbstractButton>(dlg, id)->text(), U(text));
        EXPECT_FALSE(ById<QCheckBox>(dlg, IDC_REMEMBER)->isChecked());
        auto *message = ById<QLabel>(dlg, IDC_MESSAGE);
        EXPECT_EQ(message->geometry(), QRect(81, 18, 356, 71));
        EXPECT_TRUE(message->text().endsWith(U("已存在!\n\n请选择你想要的设置。")));
        EXPECT_FALSE(ById<QLabel>(dlg, IDC_WARNING_ICON)->pixmap().isNull());
        dlg->reject();
    });
}

TEST(OverwriteDialog, EachWayOfAnswering)
{
    const struct {
        std::function<void(COverwriteDialog *)> act;
        OverwriteChoice choice;
        bool remember;
    } cases[] = {
        {[](COverwriteDialog *d) { Click(ById(d, IDC_AUTO_RENAME)); }, OverwriteChoice::AutoRename, false},
        {[](COverwriteDialog *d) { Click(ById(d, IDC_REMEMBER)), Click(ById(d, IDC_OVERWRITE)); },
         OverwriteChoice::Overwrite, true},
        {[](COverwriteDialog *d) { Click(ById(d, IDC_SKIP)); }, OverwriteChoice::Skip, false},
        {[](COverwriteDialog *d) { Click(ById(d, IDC_REMEMBER)), Click(ById(d, IDC_SKIP)); },
         OverwriteChoice::Skip, true},
        {[](COverwriteDialog *d) { Key(d, Qt::Key_Return); }, OverwriteChoice::AutoRename, false},
        // A ticked box does not survive Cancel.
        {[](COverwriteDialog *d) { Click(ById(d, IDC_REMEMBER)), Click(ById(d, IDCANCEL)); },
         OverwriteChoice::Cancel, false},
        {[](COverwriteDialog *d) { Key(d, Qt::Key_Escape); }, OverwriteChoice::Cancel, false},
        {[](COverwriteDialog *d) { d->close(); }, OverwriteChoice::Cancel, false},
    };
    for (const auto &c : cases) {
        const OverwriteAnswer a = Ask(c.act);
        EXPECT_EQ(a.choice, c.choice);
        EXPECT_EQ(a.remember, c.remember);
    }
}

TEST(OverwriteDialog, DeepPathWrapsAndGrowsTheDialog)
{
    QString deep = "/out";
    for (int i = 0; i < 12; ++i)
        deep += U("/一个很长的文件夹名称_folder%1").arg(i);
    Ask(
        [](COverwriteDialog *d) {
            auto *label = ById<QLabel>(d, IDC_MESSAGE);
            EXPECT_EQ(label->width(), 356);
            EXPECT_GE(label->height(), label->heightForWidth(356));
            EXPECT_GT(label->height(), 71);
            // Check box and buttons moved below the grown message.
            EXPECT_GT(ById(d, IDC_REMEMBER)->y(), label->geometry().bottom());
            EXPECT_EQ(ById(d, IDC_AUTO_RENAME)->geometry().bottom() + 1, d->height() - 8);
            d->reject();
        },
        U("文件 \"%1/a.JPG\" 已存在!\r\n\r\n请选择你想要的设置。").arg(deep));
}
