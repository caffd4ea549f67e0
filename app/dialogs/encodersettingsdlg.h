// The output group's settings: the chosen format's encoder settings (all of
// them while each source keeps its own), the DPI written into outputs, the
// letter case of the outputs' extensions, the outputs' size limit, the
// DPI drawing sources are rendered at, and whether the run makes one
// document, with the PDF page's size and margin.
#pragma once

#include "imaging/encodersettings.h"

#include <QDialog>

#include <cstdint>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QGroupBox;
class QLayout;
class QSpinBox;

// The size limit as the window keeps it: the bytes, the unit they are
// shown in (SIZEUNIT_*), the lowest quality and whether to shrink.
struct SizeLimitChoices {
    bool on = false;
    std::int64_t bytes = 300 * 1000;
    int unit = 0;
    int minQuality = 30;
    bool shrink = false;
};

// A run whose outputs are the pages of one document: a PDF or a TIFF.
struct DocumentChoices {
    enum Kind { Pdf = 0, Tiff = 1 };
    bool on = false;
    int kind = Pdf;
};

class CEncoderSettingsDlg : public QDialog {
    Q_OBJECT
public:
    // type: the output format's type code; 0 shows every format's settings.
    // extCase: automatic, lower case, upper case (EXTCASE_*).
    CEncoderSettingsDlg(const CEncoderSettings &settings, int extCase, std::uint32_t type,
                        const SizeLimitChoices &limit = {}, QWidget *parent = nullptr, int renderDpi = 0,
                        const DocumentChoices &document = {});
    // The settings shown, the hidden ones as they came.
    CEncoderSettings Settings() const;
    int ExtCase() const;
    SizeLimitChoices SizeLimit() const;
    // 0 for the format's default, else kRenderDpiLeast to kRenderDpiMost.
    int RenderDpi() const;
    DocumentChoices Document() const;

    static const char *const kExtCaseNames[3];

    // Shows the dialog over `parent`; true, with all five changed, on OK.
    static bool Run(QWidget *parent, CEncoderSettings &settings, int &extCase, std::uint32_t type,
                    SizeLimitChoices &limit, int &renderDpi, DocumentChoices &document);

public slots:
    // A limit outside 1 KB to 1 GiB is refused with a prompt.
    void accept() override;

private:
    QGroupBox *MakeSizeLimitGroup(const SizeLimitChoices &limit);
    QLayout *MakeDocumentRows(const DocumentChoices &document);

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
    QSpinBox *m_renderDpi = nullptr;
    QComboBox *m_extCase = nullptr;
    QGroupBox *m_limit = nullptr;
    QDoubleSpinBox *m_limitSize = nullptr;
    QComboBox *m_limitUnit = nullptr;
    QSpinBox *m_minQuality = nullptr;
    QCheckBox *m_shrink = nullptr;
    QCheckBox *m_combine = nullptr;
    QComboBox *m_combineKind = nullptr;
    QComboBox *m_pageSize = nullptr;
    QSpinBox *m_pageMargin = nullptr;
};
