#include "controls/elidingcombobox.h"

#include <QStyleOptionComboBox>
#include <QStylePainter>

#include <algorithm>

QString CElidingComboBox::Elided(const QStyleOptionComboBox &option) const
{
    QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    if (!option.currentIcon.isNull())
        field.setLeft(field.left() + option.iconSize.width() + 4);
    // The style draws the label one pixel in from either side of the field.
    return fontMetrics().elidedText(option.currentText, Qt::ElideRight, std::max(0, field.width() - 2));
}

void CElidingComboBox::LabelOption(QStyleOptionComboBox &option) const
{
    initStyleOption(&option);
    if (currentIndex() < 0 && !placeholderText().isEmpty()) {
        option.palette.setBrush(QPalette::ButtonText, option.palette.placeholderText());
        option.currentText = placeholderText();
    }
}

QString CElidingComboBox::ShownText() const
{
    QStyleOptionComboBox option;
    LabelOption(option);
    return Elided(option);
}

void CElidingComboBox::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox option;
    LabelOption(option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    option.currentText = Elided(option);
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}
