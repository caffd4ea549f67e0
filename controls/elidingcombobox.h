// A combo box that shows a current text too long for it cut with "…" at the
// end, rather than clipped in the middle of a letter; the open list shows
// the texts whole.
#pragma once

#include <QComboBox>

class CElidingComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit CElidingComboBox(QWidget *parent = nullptr) : QComboBox(parent) {}

    // The current text as the box shows it at its present width.
    QString ShownText() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    // The style's option for the box, the placeholder as QComboBox shows it.
    void LabelOption(QStyleOptionComboBox &option) const;
    QString Elided(const QStyleOptionComboBox &option) const;
};
