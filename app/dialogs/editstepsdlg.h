// The editing steps behind the main window's 编辑... button: a crop (a
// region or margins), a trim of uniform borders, a flip, tone and colour
// with a before and after sample of the first selected picture, and a
// border. The fields' ranges are the steps' own (editsteps.cpp), so what
// can be entered can be run.
#pragma once

#include "convert/editsteps.h"

#include <QDialog>
#include <QImage>
#include <QString>

#include <array>

class CColourPicker;
class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QSlider;
class QSpinBox;

class CEditStepsDlg : public QDialog {
    Q_OBJECT
public:
    // holdsBorder: whether the window's resize sets a size the border can be
    // held in (else 包含在尺寸内 is off). samplePath: the picture the tone
    // sample is drawn from, "" for none.
    CEditStepsDlg(const Edits &edits, bool holdsBorder, const QString &samplePath, QWidget *parent = nullptr);

    // The steps as the fields have them; what goes with a step left out
    // (the trim's tolerance, the border's colour) has its default.
    Edits Values() const;
    void SetValues(const Edits &edits);

    // The sample as shown: the picture decoded small, and with the tone
    // steps; null without a picture.
    const QImage &SampleBefore() const { return m_before; }
    QImage SampleAfter() const;

    // Shows the dialog over parent; true, with edits changed, on OK.
    static bool Run(QWidget *parent, Edits &edits, bool holdsBorder, const QString &samplePath);
    // The window's line for the chosen steps, "编辑: 翻转、边框"; empty when none.
    static QString Summary(const Edits &edits);

    // The sample's largest side, in pixels.
    static constexpr int kSampleSide = 200;

private:
    struct Length {
        QDoubleSpinBox *value = nullptr;
        QComboBox *unit = nullptr; // px, %
    };
    Length MakeLength(const char *name, double mostPercent);
    void SetLength(const Length &l, const EditLength &value);
    static EditLength LengthOf(const Length &l);
    // A unit chosen: whole pixels up to the step's most, or a percentage.
    void SetUnit(const Length &l, double mostPercent);
    // Margins across or down of 100 % or more would leave nothing.
    void LimitMargins();
    QWidget *MakeCropGroup();
    QWidget *MakeToneGroup();
    QWidget *MakeBorderGroup();
    void LoadSample(const QString &path);
    void Refresh();
    void DrawSample();

    bool m_holdsBorder;
    QButtonGroup *m_cropWay = nullptr; // 0 none, 1 region, 2 margins
    std::array<QSpinBox *, 4> m_region{};
    std::array<Length, 4> m_margins{};
    QCheckBox *m_trim = nullptr;
    QDoubleSpinBox *m_trimFuzz = nullptr;
    QComboBox *m_flip = nullptr;
    QCheckBox *m_autoLevels = nullptr;
    std::array<QSpinBox *, 3> m_levels{}; // brightness, contrast, saturation
    std::array<QSlider *, 3> m_sliders{};
    QDoubleSpinBox *m_gamma = nullptr;
    QCheckBox *m_grayscale = nullptr;
    QCheckBox *m_sepia = nullptr;
    Length m_border;
    CColourPicker *m_borderColour = nullptr;
    QCheckBox *m_borderInside = nullptr;
    QLabel *m_beforeView = nullptr;
    QLabel *m_afterView = nullptr;
    QImage m_before;
};
