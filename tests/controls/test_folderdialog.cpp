#include "controls/folderdialog.h"
#include "tests/test_support.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

namespace {

// Answers the browser once it is up: inspect it, then accept or reject it.
class BrowserAnswer {
public:
    explicit BrowserAnswer(std::function<void(QFileDialog *)> answer) : m_answer(std::move(answer))
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto *browser = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!browser || !browser->isVisible())
                return;
            m_timer.stop();
            m_answer(browser);
        });
        m_timer.start(5);
    }

private:
    std::function<void(QFileDialog *)> m_answer;
    QTimer m_timer;
};

class FolderDialog : public ::testing::Test {
protected:
    QString P(const QString &rel) const { return QString::fromStdString(m_dir.Root()) + "/" + rel; }
    void SetUp() override
    {
        for (const char *rel : {"pics/holiday", "pics/work", "out"})
            ASSERT_TRUE(QDir().mkpath(P(rel)));
        QFile f(P("file.txt"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    testsupport::ScratchDir m_dir;
};

} // namespace

TEST_F(FolderDialog, CancelGivesMinusOneAndNoPath)
{
    CFolderDialog dlg("选择目标文件夹", P("pics"));
    QString title;
    BrowserAnswer answer([&](QFileDialog *b) {
        title = b->windowTitle();
        b->reject();
    });
    EXPECT_EQ(dlg.DoModal(), CFolderDialog::kCancelled);
    EXPECT_EQ(dlg.GetFolderPath(), "");
    EXPECT_EQ(title, "选择目标文件夹");
}

TEST_F(FolderDialog, OpensWithTheInitialFolderSelectedSoOkPicksIt)
{
    QWidget owner;
    CFolderDialog dlg("选择目标文件夹", P("pics/holiday/"), &owner,
                      CFolderDialog::BIF_RETURNONLYFSDIRS | CFolderDialog::BIF_NEWDIALOGSTYLE);
    QStringList selected;
    QWidget *parent = nullptr;
    BrowserAnswer answer([&](QFileDialog *b) {
        selected = b->selectedFiles();
        parent = b->parentWidget();
        static_cast<QDialog *>(b)->accept(); // as the OK button does
    });
    EXPECT_EQ(dlg.DoModal(), CFolderDialog::kPicked);
    EXPECT_EQ(selected, QStringList{P("pics/holiday")});
    EXPECT_EQ(dlg.GetFolderPath(), P("pics/holiday"));
    EXPECT_EQ(parent, &owner);
}

TEST_F(FolderDialog, AnotherFolderPickedInTheBrowserIsReturned)
{
    CFolderDialog dlg("选择", P("pics/holiday"));
    BrowserAnswer answer([&](QFileDialog *b) {
        b->setDirectory(P("pics"));
        b->selectFile("work");
        static_cast<QDialog *>(b)->accept(); // as the OK button does
    });
    EXPECT_EQ(dlg.DoModal(), CFolderDialog::kPicked);
    EXPECT_EQ(dlg.GetFolderPath(), P("pics/work"));
}

TEST_F(FolderDialog, AnInitialTextThatIsNoFolderOpensTheHomeFolder)
{
    for (const QString &initial : {QString("源目录"), P("file.txt"), P("file.txt/below"), P("missing")}) {
        CFolderDialog dlg("选择", initial);
        QString opened;
        BrowserAnswer answer([&](QFileDialog *b) {
            opened = b->directory().absolutePath();
            b->reject();
        });
        EXPECT_EQ(dlg.DoModal(), CFolderDialog::kCancelled);
        EXPECT_EQ(opened, QDir::homePath()) << initial.toStdString();
    }
}

TEST_F(FolderDialog, StatusTextFollowsTheSelectionOnlyWhenAskedFor)
{
    auto statusTexts = [](QFileDialog *b) {
        QStringList texts;
        for (QLabel *label : b->findChildren<QLabel *>()) {
            if (label->text().startsWith('/'))
                texts.append(label->text());
        }
        return texts;
    };
    QStringList withFlag, withoutFlag;
    {
        CFolderDialog dlg("选择", P("out"), nullptr,
                          CFolderDialog::BIF_RETURNONLYFSDIRS | CFolderDialog::BIF_STATUSTEXT);
        BrowserAnswer answer([&](QFileDialog *b) {
            withFlag = statusTexts(b);
            b->reject();
        });
        dlg.DoModal();
    }
    {
        CFolderDialog dlg("选择", P("out"));
        BrowserAnswer answer([&](QFileDialog *b) {
            withoutFlag = statusTexts(b);
            b->reject();
        });
        dlg.DoModal();
    }
    EXPECT_EQ(withFlag, QStringList{P("out")});
    EXPECT_TRUE(withoutFlag.isEmpty());
}
