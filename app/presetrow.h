// The preset row of the main window: the list of saved presets (choosing one
// fills every option control from it) and Save..., which saves the window's
// options under a name or deletes a preset.
#pragma once

#include "convert/storedoptions.h"

#include <QObject>
#include <QString>

class COptionPanel;
class QComboBox;
class QWidget;

class CPresetRow : public QObject {
    Q_OBJECT
public:
    // The controls are the window's children, found by id; the preset last
    // chosen shows selected, its values not loaded again.
    CPresetRow(QWidget *window, COptionPanel *options);

    // The presets listed again, name selected (none when it is not there).
    void Fill(const QString &name);
    void OnChoose(int index);
    void OnSave();

    // A preset file's values, each checked; false with the line at fault
    // (0 when the file cannot be read).
    static bool ReadValues(const QString &path, StoredValues &values, int &badLine);

private:
    void Choose(const QString &name);

    QWidget *m_window;
    COptionPanel *m_options;
    QComboBox *m_combo;
};
