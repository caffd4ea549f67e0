// Shared set-up of the viewer window tests: an empty settings store, picture
// files in a scratch folder, an open viewer and answers to modal windows.
#pragma once

#include "controls/animatedpicture.h"
#include "imaging/cximagegif.h"
#include "viewer/previewdlg.h"
#include "settings/settingsstore.h"
#include "tests/test_support.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QSettings>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace viewertest {

// Pattern pictures are made of 10 x 10 cells, each of its own colour.
constexpr int kCell = 10;
inline QColor CellColour(int cx, int cy)
{
    return QColor((cx * 23) % 256, (cy * 37) % 256, 128);
}

// Input as the window system delivers it to a widget.
inline void KeyClick(QWidget *w, Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QKeyEvent press(QEvent::KeyPress, key, mods);
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, key, mods);
    QApplication::sendEvent(w, &release);
}

inline void Mouse(QWidget *w, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons held)
{
    QMouseEvent e(type, QPointF(pos), w->mapToGlobal(QPointF(pos)), button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}
inline void MouseMove(QWidget *w, QPoint pos, Qt::MouseButtons held = Qt::NoButton)
{
    Mouse(w, QEvent::MouseMove, pos, Qt::NoButton, held);
}
inline void MousePress(QWidget *w, QPoint pos)
{
    Mouse(w, QEvent::MouseButtonPress, pos, Qt::LeftButton, Qt::LeftButton);
}
inline void MouseRelease(QWidget *w, QPoint pos)
{
    Mouse(w, QEvent::MouseButtonRelease, pos, Qt::LeftButton, Qt::NoButton);
}
inline void MouseDoubleClick(QWidget *w, QPoint pos)
{
    MousePress(w, pos);
    MouseRelease(w, pos);
    Mouse(w, QEvent::MouseButtonDblClick, pos, Qt::LeftButton, Qt::LeftButton);
    MouseRelease(w, pos);
}

// Calls handler with the active modal dialog or popup each time the event
// loop turns, until it returns true. Used before a call that blocks in exec().
inline void Answer(std::function<bool(QWidget *)> handler)
{
    auto *timer = new QTimer;
    timer->setInterval(0);
    QObject::connect(timer, &QTimer::timeout, [timer, handler] {
        QWidget *w = QApplication::activePopupWidget();
        if (!w)
            w = QApplication::activeModalWidget();
        if (w && handler(w)) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start();
}

class ViewerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Korvane",
                    QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
        s.clear();
        s.sync();
    }

    QString Pattern(const std::string &name, int w, int h)
    {
        QImage img(w, h, QImage::Format_RGB32);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                img.setPixelColor(x, y, CellColour(x / kCell, y / kCell));
        const QString path = QString::fromStdString(m_dir.Path(name));
        EXPECT_TRUE(img.save(path));
        return path;
    }

    // An animation of `colours.size()` solid frames.
    QString Animation(const std::string &name, int w, int h, const std::vector<RGBQUAD> &colours)
    {
        std::vector<CxImage> frames(colours.size());
        std::vector<CxImage *> pointers;
        for (std::size_t k = 0; k < colours.size(); ++k) {
            frames[k].Create(w, h, 24);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    frames[k].SetPixelColor(x, y, colours[k]);
            frames[k].SetFrameDelay(10);
            pointers.push_back(&frames[k]);
        }
        const std::string path = m_dir.Path(name);
        CxIOFile out;
        CxImageGIF gif;
        EXPECT_TRUE(out.Open(path.c_str(), "wb"));
        EXPECT_TRUE(gif.Encode(&out, pointers.data(), int(pointers.size())));
        out.Close();
        return QString::fromStdString(path);
    }

    QString Missing(const std::string &name) { return QString::fromStdString(m_dir.Path(name)); }

    CPreviewDlg &Open(int start = 0, int mode = CPreviewDlg::MODE_FOLDER)
    {
        m_dlg = std::make_unique<CPreviewDlg>();
        m_dlg->SetFileList(&m_files);
        m_dlg->SetOpenMode(mode);
        m_dlg->SetStartIndex(start);
        m_dlg->show();
        return *m_dlg;
    }

    // The viewer over the selected files, its preview made as job writes.
    CPreviewDlg &OpenSelected(const CConvertJob &job)
    {
        m_dlg = std::make_unique<CPreviewDlg>();
        m_dlg->SetPreviewSettings(job);
        m_dlg->SetFileList(&m_files);
        m_dlg->SetOpenMode(CPreviewDlg::MODE_SELECTED);
        m_dlg->show();
        return *m_dlg;
    }

    void Key(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) { KeyClick(m_dlg.get(), key, mods); }

    testsupport::ScratchDir m_dir;
    QStringList m_files;
    std::unique_ptr<CPreviewDlg> m_dlg;
};

} // namespace viewertest
