// The about box: the application icon, the product name and version, and a
// link to the program's documentation.
#pragma once

#include <QDialog>

class CLinkLabel;

class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget *parent = nullptr);

    int DoModal() { return exec(); }

    // The README installed with the program, or the one in the source tree
    // when the program runs from its build folder.
    static QString HomePageTarget();

private:
    CLinkLabel *m_homePage = nullptr;
};
