// The question asked when an output file exists: auto-rename, overwrite,
// skip the file or cancel the run, optionally for the rest of the run.
#pragma once

#include "convert/convertreporter.h"

#include <QDialog>
#include <QString>

class QCheckBox;
class QLabel;
class QPushButton;

class COverwriteDialog : public QDialog {
    Q_OBJECT
public:
    enum { CHOICE_OVERWRITE = 0, CHOICE_RENAME = 1, CHOICE_SKIP = 2 };

    explicit COverwriteDialog(QWidget *parent = nullptr);

    // The question as the worker words it ("\r\n" line ends).
    void SetMessage(const QString &message) { m_strMessage = message; }
    QString GetMessage() const { return m_strMessage; }
    int GetChoice() const { return m_nChoice; }
    bool GetRemember() const { return m_bRemember; }
    // The worker's answer for a finished exec(): Cancel unless accepted.
    OverwriteAnswer GetAnswer(int dialogResult) const;

public slots:
    void OnOverwrite();
    void OnAutoRename();
    void OnSkip();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void OnInitDialog();
    void UpdateData(bool saveAndValidate);
    void FitMessage();
    void Choose(int choice);

    QString m_strMessage;
    bool m_bRemember = false;
    int m_nChoice = CHOICE_OVERWRITE;

    QPushButton *m_btnAutoRename;
    QPushButton *m_btnOverwrite;
    QPushButton *m_btnSkip;
    QPushButton *m_btnCancel;
    QLabel *m_stcMessage;
    QCheckBox *m_chkRemember;
    QLabel *m_stcIcon;
};
