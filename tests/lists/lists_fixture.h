// Shared set-up of the list tests: the two lists, their labels and the list
// state over them in one shown window, picture files in a scratch folder,
// and message boxes answered and recorded from a timer.
#pragma once

#include "lists/captions.h"
#include "imaging/cximage.h"
#include "lists/folderlistctrl.h"
#include "resources/ids_lists.h"
#include "lists/imagelists.h"
#include "lists/selectedlistctrl.h"
#include "tests/test_support.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <fstream>
#include <memory>

namespace liststest {

inline QString Q(const std::string &s)
{
    return QString::fromStdString(s);
}

// Writes a picture of the given size (each a different size, so a caption
// delivered to the wrong row shows).
inline void WritePicture(const std::string &path, int width, int height,
                         std::uint32_t type = CXIMAGE_FORMAT_PNG)
{
    CxImage img = testsupport::MakeTestImage(width, height);
    ASSERT_TRUE(img.Save(path.c_str(), type)) << path;
}

inline void WriteBytes(const std::string &path, std::size_t count, char fill = 'z')
{
    std::ofstream(path, std::ios::binary) << std::string(count, fill);
}

// Texts of every message box shown while the object lives; each is closed.
class MessageRecorder {
public:
    MessageRecorder()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(w);
                if (box && box->isVisible()) {
                    texts.append(box->windowTitle() + "|" + box->text());
                    box->accept();
                }
            }
        });
        m_timer.start(5);
    }
    QStringList texts;

private:
    QTimer m_timer;
};

class ListsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window = std::make_unique<QWidget>();
        auto *layout = new QVBoxLayout(window.get());
        folder = new FolderListCtrl(window.get());
        selected = new SelectedListCtrl(window.get());
        count = new QLabel(window.get());
        bar = new QProgressBar(window.get());
        layout->addWidget(folder);
        layout->addWidget(count);
        layout->addWidget(selected);
        layout->addWidget(bar);
        window->resize(800, 700);
        lists = std::make_unique<CImageLists>(folder, selected, count, nullptr, bar, window.get());
        window->show();
    }
    void TearDown() override
    {
        lists.reset();
        window.reset();
    }

    bool WaitLoaded()
    {
        return QTest::qWaitFor([this] { return !lists->IsLoaderRunning(); }, 60000);
    }
    QStringList FolderCaptions() const
    {
        QStringList out;
        for (int i = 0; i < folder->count(); ++i)
            out.append(folder->item(i)->text());
        return out;
    }
    void SelectFolderRows(std::initializer_list<int> rows)
    {
        folder->clearSelection();
        for (int row : rows)
            folder->item(row)->setSelected(true);
    }
    void SelectSelectedRows(std::initializer_list<int> rows)
    {
        selected->clearSelection();
        for (int row : rows)
            selected->topLevelItem(row)->setSelected(true);
    }
    QString Dir() const { return Q(scratch.Root()); }

    testsupport::ScratchDir scratch;
    std::unique_ptr<QWidget> window;
    FolderListCtrl *folder = nullptr;
    SelectedListCtrl *selected = nullptr;
    QLabel *count = nullptr;
    QProgressBar *bar = nullptr;
    std::unique_ptr<CImageLists> lists;
};

} // namespace liststest
