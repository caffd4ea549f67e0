// Which saved preset converts the files a file manager handed over: the
// presets by name, the window's current one chosen to begin with.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QListWidget;
class QPushButton;

class CPresetChooserDlg : public QDialog {
    Q_OBJECT
public:
    // fileCount: how many files the run takes, said above the list.
    CPresetChooserDlg(const QStringList &presets, const QString &current, int fileCount,
                      QWidget *parent = nullptr);
    QString Preset() const;

private:
    QListWidget *m_list = nullptr;
    QPushButton *m_ok = nullptr;
};
