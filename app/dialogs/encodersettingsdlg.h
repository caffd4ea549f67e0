// The output group's encoder settings: those of the chosen format (all of
// them while each source keeps its own) and the DPI written into outputs.
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
    CEncoderSettingsDlg(const CEncoderSettings &settings, std::uint32_t type, QWidget *parent = nullptr);
    // The settings shown, the hidden ones as they came.
    CEncoderSettings Settings() const;

    // Whether outputs of the type have settings here (0: each source's own
    // format, so all of them).
    static bool HasSettings(std::uint32_t type);

    // Shows the dialog over `parent`; true, with `settings` changed, on OK.
    static bool Run(QWidget *parent, CEncoderSettings &settings, std::uint32_t type);

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
};
