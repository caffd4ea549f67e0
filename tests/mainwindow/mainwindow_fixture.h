// A main window over an empty (or prepared) settings store, with helpers to
// reach its controls by id and answer its message boxes.
#pragma once

#include "tests/rundialogs/dialog_helpers.h"
#include "resources/ids_main.h"
#include "app/maindlg.h"
#include "settings/settingsstore.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QSettings>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

namespace mwtest {

using dlgtest::U;

inline QSettings Store()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Korvane",
                     QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
}

inline void ClearStore()
{
    QSettings s = Store();
    s.clear();
    s.sync();
}

// Every key and value of the section, to compare before and after.
inline QMap<QString, QVariant> StoreSnapshot()
{
    QSettings s = Store();
    QMap<QString, QVariant> all;
    for (const QString &key : s.allKeys())
        all.insert(key, s.value(key));
    return all;
}

// Texts of every message box shown while the object lives; each is closed
// with OK.
class MessageCatcher {
public:
    MessageCatcher()
        : m_when([this](QMessageBox *box) {
              texts << box->text();
              box->accept();
          })
    {
    }
    QStringList texts;

private:
    dlgtest::WhenShown<QMessageBox> m_when;
};

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override { ClearStore(); }
    void TearDown() override
    {
        if (m_dlg)
            m_dlg->reject();
        m_dlg.reset();
    }

    CMainDlg &Open()
    {
        // Shown, so that moves and resizes reach the window as they do on screen.
        m_dlg = std::make_unique<CMainDlg>();
        m_dlg->show();
        m_dlg->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(m_dlg.get(), 5000));
        return *m_dlg;
    }

    template <typename T = QWidget> T *Ctl(int id) const { return dlgtest::ById<T>(m_dlg.get(), id); }
    QLineEdit *Edit(int id) const { return Ctl<QLineEdit>(id); }
    QComboBox *Combo(int id) const { return Ctl<QComboBox>(id); }
    QCheckBox *Check(int id) const { return Ctl<QCheckBox>(id); }

    std::unique_ptr<CMainDlg> m_dlg;
};

}  // namespace mwtest
