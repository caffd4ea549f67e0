// The about box: the application icon, the product name and version, a link
// to the program's documentation, and the window's language (stored at once,
// used from the next start on), and the Nautilus scripts written on request.
#pragma once

#include <QDialog>

class CLinkLabel;
class QComboBox;
class QLabel;

class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget *parent = nullptr);

    int DoModal() { return exec(); }

    // The README installed with the program, or the one in the source tree
    // when the program runs from its build folder.
    static QString HomePageTarget();

private:
    void OnLanguageChange(int index);
    void OnInstallNautilusScripts();

    CLinkLabel *m_homePage = nullptr;
    QComboBox *m_language = nullptr;
    QLabel *m_languageNote = nullptr;
};
