// The option panel of the main window: output format and quality, the
// destination list, renaming, resizing, rotation and the watermark. Holds
// the option values, moves them between the controls and the values
// (UpdateData), applies the enabling rules and keeps the destination list.
#pragma once

#include "app/controlbyid.h"
#include "app/dialogs/encodersettingsdlg.h"
#include "app/dialogs/nametemplatedlg.h"
#include "app/dialogs/resizeoptionsdlg.h"
#include "app/dialogs/stampoptionsdlg.h"
#include "convert/convertjob.h"
#include "convert/storedoptions.h"
#include "imaging/cximage.h"
#include "imaging/cxtypes.h"
#include "settings/settingsstore.h"

#include <QImage>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class CSpinButtonCtrl;
class QAbstractButton;
class QButtonGroup;
class QComboBox;
class QLineEdit;
class QWidget;

class COptionPanel : public QObject {
    Q_OBJECT
public:
    // The controls are the window's children, found by id.
    explicit COptionPanel(QWidget *window);

    // Option values, as the constructor leaves them before the store is read.
    int m_nFormatType = 0;
    QString m_strOutDir;
    int m_nHeight = 0;
    QString m_strStampText;
    int m_nWidth = 0;
    int m_nrotateType = -1;
    int m_bRotate = 0;
    int m_bResize = 0;
    int m_bStamp = 0;
    QString m_strRenamePrefix;
    int m_nResizeType = -1;
    int m_bRename = 0;
    int m_bSharpen = 0;
    int m_nQuality = 95;
    QString m_strRenameSuffix;
    QString m_strStartNumber = QStringLiteral("1");
    int m_bDontEnlarge = 0;

    int m_bProportion = 1;
    LOGFONT m_lfStamp;
    COLORREF m_crStamp = 0;
    std::vector<QString> m_destDirs;
    // Behind the resize group's and the rename group's buttons.
    ResizeChoices m_resizeChoices;
    NameChoices m_nameChoices;
    StampChoices m_stampChoices;
    // The picture the watermark dialog's sample is drawn on, while it is open.
    mutable std::unique_ptr<CxImage> m_sampleSource;
    mutable QString m_sampleSourcePath;
    int m_bKeepDates = 0;
    int m_nDateSource = 0; // the source file's time, or the photo's
    // Behind the format list's button.
    CEncoderSettings m_encoder;
    SizeLimitChoices m_sizeLimit;
    int m_nRenderDpi = 0; // the dots per inch drawings are rendered at; 0: their own
    DocumentChoices m_document; // the run as one document; the store's, never a preset's
    int m_nExtCase = 0; // EXTCASE_*: with or without renaming
    int m_nMetadata = 0; // as stored: 0 keep all, 1 remove all, 2 drop the location
    cxmeta::TagEdits m_metaEdits; // behind the metadata list's "..."
    int m_bLossless = 1;
    int m_bKeepIfLarger = 0;
    int m_nAutoRotate = -1; // a preset's; -1 as the store has it
    // Behind 编辑... (the crop ratio's turn behind the resize group's 更多...).
    Edits m_edits;

    // The path of the file the name template's example is shown for; empty
    // when none is selected.
    std::function<QString()> m_firstSelectedPath;

    // Moves every value to its control (false) or reads the controls back in
    // the exchange order with validation (true). A failed check shows a
    // prompt naming the allowed range, focuses the control and stops there.
    bool UpdateData(bool saveAndValidate);

    // Start-up: read the values, the watermark colour and font and the quality
    // from the store; set up the spin control.
    void ReadSettings();
    // Start: write the option values in their fixed order, then the list.
    void WriteSettings(const QString &currentFolder);
    void LoadDestList();
    void SaveDestList();

    // The values a run is made from: those of Values(), mapped as a preset's are.
    ConvertOptions MakeOptions() const;
    // Every option by its stored name, as a preset keeps them.
    StoredValues Values() const;
    // A preset's values read as the store's are, then shown in the controls
    // with the enabling rules; a destination not yet listed joins the list.
    void LoadValues(const StoredValues &values);
    void ShowValues();

    // Enabling rules.
    void OnRotateCheck();
    void OnResizeCheck();
    void OnStampCheck();
    void OnRenameCheck();
    void OnResizeTypeChange();
    void OnFormatChange();
    void OnFont();
    void OnBrowseDest();
    void OnResizeMore();
    void OnNameTemplate();
    void OnStampMore();
    void OnKeepDatesCheck();
    void OnFormatSettings();
    void OnEdits();
    void OnMetadataTags();
    // A folder chosen by browsing: selected when listed exactly as found by
    // the list's search, otherwise inserted below the first entry.
    void AddBrowsedFolder(const QString &path);

    // The list's own string search: the first entry that begins with text
    // (any case), starting after entry `after` and wrapping; -1 when none.
    // A destination entry's stored value (its folder, or the source folder
    // entry's source text), and the insertion of one shown in the language.
    static QString StoredDest(const QComboBox *combo, int index);
    static void InsertDest(QComboBox *combo, int index, const QString &stored);
    static int FindStringPrefix(const QComboBox *combo, const QString &text, int after = 0);
    // The stored destination: the entry equal to text when there is one,
    // else what the list's search finds.
    static int FindStoredDest(const QComboBox *combo, const QString &text, int after = 0);

private:
    // The window's control with that id; a wrong id or type stops the program.
    template <typename T = QWidget> T *Control(int id) const
    {
        return ControlById<T>(m_window, id, Qt::FindDirectChildrenOnly);
    }
    void Enable(std::initializer_list<int> ids, bool on);
    bool Fail(int id, const QString &prompt);
    bool ReadInt(int id, int low, int high, int &value);
    bool ReadText(int id, int maxChars, QString &value);
    void ReadValues(const SettingsSource &from);
    void ReadNewSettings(const SettingsSource &from);
    // Whether a list of several sizes can be read.
    static bool SizesReadable(const QString &list);
    // Why the window refuses a template, in its own words; empty when taken.
    static QString TemplateProblem(const QString &nameTemplate);
    // The name the first selected file would get under these choices, the
    // rest of the panel as it stands.
    QString ExampleName(const NameChoices &choices) const;
    // The first selected picture as it would be written with these
    // watermark choices, the rest of the panel as it stands.
    QImage StampSample(const StampChoices &choices) const;
    void ApplyStampChoices(const StampChoices &choices, ConvertOptions &o) const;
    void WriteNewSettings() const;
    void PutNewValues(StoredValues &values) const;
    void ReadEncoderSettings(const SettingsSource &from);
    // The editing steps, each row's text under its key; a value that cannot
    // be read leaves its step out.
    void ReadEdits(const SettingsSource &from);
    // The line above the folder list that says which steps are chosen.
    void ShowEditsSummary();
    void WriteEncoderSettings() const;

    QWidget *m_window;
    QComboBox *m_format;
    QComboBox *m_dest;
    QComboBox *m_resizeType;
    CSpinButtonCtrl *m_spin;
    QButtonGroup *m_rotateGroup;
};
