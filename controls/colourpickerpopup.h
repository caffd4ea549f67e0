// CColourPickerPopup: the grid of 40 named colours that drops down from a
// colour picker button, with an optional automatic box above the grid and an
// optional more-colours box below it. It grabs mouse and keyboard while open,
// ends with a choice (CPN_SELENDOK) or a cancel (CPN_SELENDCANCEL) reported
// through Message, and then deletes itself.
#pragma once

#include "controls/colourpickergrid.h"

#include <QString>
#include <QWidget>

class QColorDialog;

class CColourPickerPopup : public QWidget {
    Q_OBJECT
public:
    // button: the picker's rectangle on the screen; the popup opens below it
    // (above it when there is no room below). An empty text leaves its box out.
    CColourPickerPopup(const QRect &button, COLORREF initial, QWidget *picker, const QString &defaultText,
                       const QString &customText);
    ~CColourPickerPopup() override;

    int GetHighlighted() const { return m_nCurrentSel; }
    int GetChosen() const { return m_nChosenColourSel; }
    COLORREF GetColour() const { return m_crColour; }
    const colourgrid::Layout &GetLayout() const { return m_layout; }
    // The tool tip of the box at p ("" between boxes and over the text boxes).
    QString ToolTipAt(QPoint p) const;

signals:
    // CPN_SELCHANGE while open, then one CPN_SELENDOK or CPN_SELENDCANCEL.
    void Message(int message, COLORREF colour);

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void ChangeSelection(int index);
    void EndSelection(int message);
    void OnApplicationStateChanged(Qt::ApplicationState state);
    void DrawBox(class QPainter &p, int index) const;
    void DrawTextBox(class QPainter &p, int index) const;

    colourgrid::Layout m_layout;
    int m_nCurrentSel = colourgrid::kNoBox;
    int m_nChosenColourSel = colourgrid::kNoBox;
    COLORREF m_crInitialColour = 0;
    COLORREF m_crColour = 0;
    QString m_strDefaultText;
    QString m_strCustomText;
    bool m_bEnded = false;
    bool m_bColourDialogOpen = false;
};
