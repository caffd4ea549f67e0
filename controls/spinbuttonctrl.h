// An up-down control: two small arrow buttons beside an edit (its buddy)
// that step an integer within a range and show it in the edit. The arrow
// keys in the edit step it too.
#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

class CSpinButtonCtrl : public QWidget {
    Q_OBJECT
public:
    explicit CSpinButtonCtrl(QWidget *parent = nullptr);

    void SetBuddy(QLineEdit *edit);
    // Range limits may come in either order; the position is kept inside.
    void SetRange(int lower, int upper);
    void SetPos(int pos);
    int GetPos() const { return m_nPos; }
    int GetLower() const { return m_nLower; }
    int GetUpper() const { return m_nUpper; }

    // One step up (+1) or down (-1) from what the buddy shows.
    void Step(int delta);

signals:
    void PosChanged(int pos);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void ShowPos();

    QLineEdit *m_pBuddy = nullptr;
    QToolButton *m_pUp = nullptr;
    QToolButton *m_pDown = nullptr;
    int m_nLower = 0;
    int m_nUpper = 100;
    int m_nPos = 0;
};
