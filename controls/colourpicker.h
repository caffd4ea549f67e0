// CColourPicker: a push button that shows a colour and drops down a
// CColourPickerPopup to choose another. It tells its owner what happens
// through Notify with the numbers of ids_colourpicker.h and its own id (its
// objectName as a number).
#pragma once

#include "controls/colourpickerpopup.h"
#include "imaging/cxtypes.h"

#include <QPointer>
#include <QPushButton>

class CColourPicker : public QPushButton {
    Q_OBJECT
public:
    // Selection modes: the picker edits the text colour or the background.
    enum { CP_MODE_TEXT = 1, CP_MODE_BK = 2 };

    explicit CColourPicker(QWidget *parent = nullptr);
    ~CColourPicker() override;

    // The colour being edited: the text colour in text mode, the swatch otherwise.
    COLORREF GetColour() const;
    void SetColour(COLORREF colour);
    COLORREF GetBkColour() const { return m_crSwatch; }
    void SetBkColour(COLORREF colour);
    COLORREF GetTextColour() const { return m_crText; }
    void SetTextColour(COLORREF colour);
    // An empty text leaves the automatic or the more-colours box out.
    void SetDefaultText(const QString &text) { m_strAutoText = text; }
    void SetCustomText(const QString &text) { m_strMoreText = text; }
    void SetSelectionMode(int mode) { m_nMode = mode; }
    int GetSelectionMode() const { return m_nMode; }
    // Follow the highlighted colour while the popup is open (off by default).
    void SetTrackSelection(bool track) { m_bFollowHighlight = track; }
    bool GetTrackSelection() const { return m_bFollowHighlight; }

    bool IsPopupOpen() const { return m_bPopupOpen; }
    CColourPickerPopup *GetPopup() const { return m_pPopup; }
    QRect GetArrowRect() const { return m_rcArrow; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void Notify(int message, COLORREF colour, int id);

public slots:
    void OnClicked();
    // What the popup reports.
    void OnPopupMessage(int message, COLORREF colour);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    int ArrowSize() const;
    int ControlId() const;

    COLORREF m_crSwatch;
    COLORREF m_crText;
    int m_nMode = CP_MODE_BK;
    bool m_bPopupOpen = false;
    bool m_bFollowHighlight = false;
    QString m_strAutoText;
    QString m_strMoreText;
    QRect m_rcArrow;
    QPointer<CColourPickerPopup> m_pPopup;
};
