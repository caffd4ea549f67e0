// Driving the run dialogs in tests: controls by id, synthetic clicks and
// keys, modal dialogs answered from a timer, scratch pictures and jobs.
#pragma once

#include "convert/convertjob.h"
#include "settings/settingsstore.h"
#include "tests/test_support.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QtCore/qtestsupport_core.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

namespace dlgtest {

template <typename T = QWidget> T *ById(QWidget *parent, int id)
{
    return parent->findChild<T *>(QString::number(id));
}

inline void Click(QWidget *w)
{
    const QPointF c = QRectF(w->rect()).center();
    for (auto [type, buttons] :
         {std::pair{QEvent::MouseButtonPress, Qt::LeftButton}, {QEvent::MouseButtonRelease, Qt::NoButton}}) {
        QMouseEvent e(type, c, w->mapToGlobal(c), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(w, &e);
    }
}

inline void Key(QWidget *w, int key)
{
    for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
        QKeyEvent e(type, key, Qt::NoModifier);
        QApplication::sendEvent(w, &e);
    }
}

// Events are processed until pred holds; false after a minute.
inline bool WaitFor(const std::function<bool()> &pred)
{
    return QTest::qWaitFor(pred, 60000);
}

// Calls handle once for every T that becomes visible while the object lives
// (a polling timer, so it also runs inside modal loops).
template <typename T> class WhenShown {
public:
    explicit WhenShown(std::function<void(T *)> handle) : m_handle(std::move(handle))
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                T *t = qobject_cast<T *>(w);
                if (t && t->isVisible() && t != m_last.data()) {
                    m_last = t;
                    ++count;
                    m_handle(t);
                    return;
                }
            }
        });
        m_timer.start(5);
    }
    int count = 0;

private:
    std::function<void(T *)> m_handle;
    QPointer<T> m_last;
    QTimer m_timer;
};

// folder/fNN<suffix>.ext
inline std::string Name(const std::string &folder, int i, const char *ext, const char *suffix = "")
{
    char name[48];
    std::snprintf(name, sizeof name, "/f%02d%s.%s", i, suffix, ext);
    return folder + name;
}

inline std::vector<std::string> MakePictures(const testsupport::ScratchDir &dir, int count, int w, int h)
{
    std::vector<std::string> files;
    CxImage img = testsupport::MakeTestImage(w, h);
    for (int i = 0; i < count; ++i) {
        files.push_back(Name(dir.Root(), i, "png"));
        EXPECT_TRUE(img.Save(files.back().c_str(), CXIMAGE_FORMAT_PNG));
    }
    return files;
}

// As Start fills it; format index 2 is BMP.
inline CConvertJob JobFor(const std::vector<std::string> &sources, const std::string &outDir)
{
    ConvertOptions options;
    options.m_nFormatType = 2;
    options.m_strOutDir = outDir;
    return MakeConvertJob(options, sources);
}

inline void SetPrefs(int progress, int autoClose)
{
    WriteProfileInt(kSettingsSection, settingskey::kProgress, progress);
    WriteProfileInt(kSettingsSection, settingskey::kAutoClose, autoClose);
}

inline QString Lf(QString s)
{
    return s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

inline QString U(const char *s)
{
    return QString::fromUtf8(s);
}

} // namespace dlgtest
