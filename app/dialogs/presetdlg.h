// Saving the window's options as a preset: a name (the chosen preset's to
// begin with), a question before one that exists is replaced, and deleting
// the preset named (to the trash), after asking.
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;

class CPresetDlg : public QDialog {
    Q_OBJECT
public:
    enum Outcome { Cancelled, Save, Delete };

    explicit CPresetDlg(const QString &name, QWidget *parent = nullptr);
    QString Name() const;
    Outcome GetOutcome() const { return m_outcome; }

    // Shows the dialog; name is then the preset's to save or delete.
    static Outcome Run(QWidget *parent, QString &name);

private:
    void OnOK();
    void OnDelete();
    void Refresh();

    QLineEdit *m_name = nullptr;
    QPushButton *m_delete = nullptr;
    Outcome m_outcome = Cancelled;
};
