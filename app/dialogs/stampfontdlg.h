// The watermark's font and colour: face, size, bold, italic, underline,
// strike-out and colour, with a sample. Fields the user leaves alone keep
// their values exactly (a face this machine lacks, a height in cell units,
// a weight of 300), so confirming without changes stores what was read.
#pragma once

#include "imaging/cxtypes.h"

#include <QDialog>

class QCheckBox;
class QFontComboBox;
class QPushButton;
class QSpinBox;
class CStampFontSample;

class CStampFontDlg : public QDialog {
    Q_OBJECT

public:
    CStampFontDlg(const LOGFONT &lf, COLORREF colour, QWidget *parent = nullptr);

    LOGFONT GetLogFont() const;
    COLORREF GetColour() const { return m_colour; }

    // Shows the dialog over parent. On OK: lf and colour take the choice and
    // both are stored at once (colour, then the nine font values); true.
    // On Cancel nothing changes; false.
    static bool Run(QWidget *parent, LOGFONT &lf, COLORREF &colour);

public slots:
    void OnColour();

private:
    void UpdateSample();
    void UpdateColourButton();

    LOGFONT m_initial;
    COLORREF m_colour;
    int m_initialSize;
    bool m_faceChanged = false;

    QFontComboBox *m_face = nullptr;
    QSpinBox *m_size = nullptr;
    QCheckBox *m_bold = nullptr;
    QCheckBox *m_italic = nullptr;
    QCheckBox *m_underline = nullptr;
    QCheckBox *m_strikeOut = nullptr;
    QPushButton *m_colourButton = nullptr;
    CStampFontSample *m_sample = nullptr;
};
