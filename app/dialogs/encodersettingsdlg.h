// The output group's settings: the chosen format's encoder settings (all of
// them while each source keeps its own), the DPI written into outputs and
// the letter case of the outputs' extensions.
#pragma once

#include "imaging/encodersettings.h"

#include <QDialog>

#include <cstdint>

class QCheckBox;
class QComboBox;
class QSpinBox;

class CEncoderSettingsDlg : public QDialog {
    Q_OBJECT
public:
    // type: the output format's type code; 0 shows every format's settings.
    // extCase: automatic, lower case, upper case (EXTCASE_*).
    CEncoderSettingsDlg(const CEncoderSettings &settings, int extCase, std::uint32_t type,
                        QWidget *parent = nullptr);
    // The settings shown, the hidden ones as they came.
    CEncoderSettings Settings() const;
    int ExtCase() const;

    static const char *const kExtCaseNames[3];

    // Shows the dialog over `parent`; true, with both changed, on OK.
    static bool Run(QWidget *parent, CEncoderSettings &settings, int &extCase, std::uint32_t type);

private:
    // The settings' controls, each set from m_settings.
    void MakeControls();

    CEncoderSettings m_settings;
    std::uint32_t m_type;
    QCheckBox *m_jpegProgressive = nullptr;
    QComboBox *m_jpegSubsampling = nullptr;
    QSpinBox *m_pngLevel = nullptr;
    QComboBox *m_tifCompression = nullptr;
    QSpinBox *m_webpEffort = nullptr;
    QCheckBox *m_webpLossless = nullptr;
    QSpinBox *m_avifSpeed = nullptr;
    QSpinBox *m_jxlEffort = nullptr;
    QSpinBox *m_dpi = nullptr;
    QComboBox *m_extCase = nullptr;
};
