// The full-screen viewer over a list of image files.
#pragma once

#include "convertjob.h"
#include "cximage.h"
#include "previewhost.h"

#include <QDialog>
#include <QStringList>

class CPreviewDlg : public QDialog {
    Q_OBJECT
public:
    // Open modes.
    enum { MODE_SELECTED = 0, MODE_FOLDER = 1, MODE_RESULTS = 2 };

    explicit CPreviewDlg(QWidget *parent = nullptr);
    ~CPreviewDlg() override;

    // The opener's list; the viewer reads it and may remove entries (file
    // commands). It must outlive the dialog.
    void SetFileList(QStringList *files) { m_pFiles = files; }
    void SetOpenMode(int mode) { m_nOpenMode = mode; }
    // A negative index counts as 0; an index past the end shows nothing.
    void SetStartIndex(int index) { m_nIndex = index < 0 ? 0 : index; }
    // Preview processing: the job's rotation, resize and stamp settings, and
    // its format as a lower-case extension ("" keeps each file's own).
    void SetPreview(bool on) { m_bPreview = on; }
    void SetPreviewSettings(const CConvertJob &settings) { m_settings = settings; }
    void SetHost(IPreviewHost *host) { m_pHost = host; }

private:
    QStringList *m_pFiles = nullptr;
    int m_nIndex = 0;
    int m_nOpenMode = MODE_SELECTED;
    bool m_bPreview = false;
    CConvertJob m_settings;
    IPreviewHost *m_pHost = nullptr;
};
