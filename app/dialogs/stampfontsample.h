// The sample line of the watermark font dialog: the text drawn as the
// watermark would be, on a background it stands out from.
#pragma once

#include "imaging/cxtypes.h"

#include <QWidget>

class CStampFontSample : public QWidget {
    Q_OBJECT

public:
    explicit CStampFontSample(QWidget *parent = nullptr);

    void SetFont(const LOGFONT &lf, COLORREF colour);
    QSize sizeHint() const override;

    // Light colours are shown on dark grey, dark ones on white.
    static QColor BackgroundFor(COLORREF colour);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    LOGFONT m_lf;
    COLORREF m_colour = 0;
};
