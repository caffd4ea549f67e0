// Behind the metadata list's "..." button: the tags written into every
// output (artist, copyright, caption, keywords, rating), whether only where
// a picture lacks them, and the shot's dates moved. velmora-batch's --set,
// --set-if-empty and --shift-dates.
#pragma once

#include "imaging/metadatatags.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;

class CMetadataTagsDlg : public QDialog {
    Q_OBJECT
public:
    explicit CMetadataTagsDlg(const cxmeta::TagEdits &edits, QWidget *parent = nullptr);
    cxmeta::TagEdits Edits() const;

    // Shows the dialog over parent; true, with edits changed, on OK.
    static bool Run(QWidget *parent, cxmeta::TagEdits &edits);

private:
    // OK only with values the run takes; else the field is named and focused.
    void Accept();

    QLineEdit *m_text[4] = {}; // artist, copyright, caption, keywords
    QComboBox *m_rating = nullptr;
    QCheckBox *m_ifEmpty = nullptr;
    QLineEdit *m_shift = nullptr;
};
