// The slideshow delay dialog: a whole number of seconds from 0 to 100, read
// from and written back to the settings store.
#pragma once

#include <QDialog>

class QLineEdit;
class CSpinButtonCtrl;

class CSlideDelayDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMinDelay = 0;
    static constexpr int kMaxDelay = 100;

    explicit CSlideDelayDlg(QWidget *parent = nullptr);

    // Moves the delay between the edit and m_nDelay. Reading validates the
    // edit, tells the user the allowed range, focuses the edit and returns
    // false when it holds no whole number from 0 to 100.
    bool UpdateData(bool saveAndValidate = true);
    int GetDelay() const { return m_nDelay; }

public slots:
    void OnOK();

private:
    QLineEdit *m_pEdit = nullptr;
    CSpinButtonCtrl *m_pSpin = nullptr;
    int m_nDelay = 0;
};
