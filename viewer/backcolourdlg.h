// The viewer's background colour dialog: one colour picker, OK and Cancel.
#pragma once

#include "imaging/cxtypes.h"

#include <QDialog>

class CColourPicker;

class CBackColourDlg : public QDialog {
    Q_OBJECT
public:
    explicit CBackColourDlg(QWidget *parent = nullptr);

    void SetColour(COLORREF colour);
    // The picked colour; the picker's "automatic" gives the default black.
    COLORREF GetColour() const;
    CColourPicker *GetPicker() const { return m_pPicker; }

private:
    CColourPicker *m_pPicker = nullptr;
};
