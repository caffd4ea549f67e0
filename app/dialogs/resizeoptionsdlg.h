// The resize group's further choices: the side length of the long- and
// short-edge rules, the percentage, the list of several sizes, where fill crops and pad places the
// picture, pad's canvas colour, and a crop to a ratio (turned to each
// picture's orientation or not) before resizing. Only
// the fields the chosen rule uses are enabled.
#pragma once

#include "imaging/cxtypes.h"

#include <QDialog>
#include <QString>

class QCheckBox;
class QComboBox;
class QFormLayout;
class QLineEdit;
class QSpinBox;
class CColourPicker;

struct ResizeChoices {
    int edge = 800;     // long or short edge, pixels
    int percent = 50;   // 1 to 1000
    int gravity = 4;    // GRAVITY_*: the nine anchors row by row from the top left
                        // (4 the centre), then attention and entropy
    COLORREF background = RGB(255, 255, 255);
    bool cropRatio = false;
    int ratioWidth = 1; // the ratio's terms, 1 to 1000
    int ratioHeight = 1;
    bool ratioFollows = false; // the ratio turned to each picture's orientation
    QString sizes; // the several sizes' list, as typed ("320w,768w,1024w")
};

// The dialog's fields a resize rule (RESIZE_*) uses; the crop box itself
// goes with every rule.
enum ResizeField : unsigned {
    kFieldEdge = 1,
    kFieldPercent = 2,
    kFieldGravity = 4,
    kFieldBackground = 8,
    kFieldRatio = 16,
    kFieldSizes = 32,
};
unsigned ResizeFieldsFor(int rule, bool cropRatio);

class CResizeOptionsDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxEdge = 1000000;
    static constexpr int kMaxPercent = 1000;
    static constexpr int kMaxRatio = 1000;
    static constexpr int kMaxSizesChars = 400; // 16 sizes of the longest form and their commas

    CResizeOptionsDlg(const ResizeChoices &choices, int rule, QWidget *parent = nullptr);
    ResizeChoices Choices() const;
    void SetRule(int rule);

    // The anchors' names in their order, for the list here and elsewhere.
    static const char *const kGravityNames[9];
    // The gravities that look at the pixels, after the anchors in the list
    // here: crops only, so not offered while the rule is pad.
    static const char *const kContentGravityNames[2];

    // Shows the dialog over `parent`; true, with `choices` changed, on OK.
    static bool Run(QWidget *parent, ResizeChoices &choices, int rule);

private:
    void Refresh();

    int m_rule;
    QSpinBox *m_edge = nullptr;
    QSpinBox *m_percent = nullptr;
    QComboBox *m_gravity = nullptr;
    CColourPicker *m_background = nullptr;
    QCheckBox *m_crop = nullptr;
    QSpinBox *m_ratioW = nullptr;
    QSpinBox *m_ratioH = nullptr;
    QCheckBox *m_ratioFollows = nullptr;
    QLineEdit *m_sizes = nullptr;
    QFormLayout *m_form = nullptr;
};
