#include "app/presetrow.h"

#include "app/controlbyid.h"
#include "app/dialogs/presetdlg.h"
#include "app/optionpanel.h"
#include "resources/ids_main.h"
#include "settings/presetfile.h"
#include "settings/settingsstore.h"
#include "viewer/viewerfileops.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>

#include <utility>
#include <vector>

using namespace mainid;

CPresetRow::CPresetRow(QWidget *window, COptionPanel *options)
    : QObject(window), m_window(window), m_options(options),
      m_combo(ControlById<QComboBox>(window, IDC_PRESET, Qt::FindDirectChildrenOnly))
{
    m_combo->setEditable(false);
    // The row leaves the box little room: the open list shows whole names.
    m_combo->view()->setMinimumWidth(160);
    // ...and the box, where the name is cut, says it whole when pointed at.
    connect(m_combo, &QComboBox::currentTextChanged, m_combo, &QWidget::setToolTip);
    Fill(GetProfileString(kSettingsSection, settingskey::kPreset));
    connect(m_combo, &QComboBox::activated, this, &CPresetRow::OnChoose);
    connect(ControlById<QPushButton>(window, IDC_PRESET_SAVE, Qt::FindDirectChildrenOnly),
            &QPushButton::clicked, this, &CPresetRow::OnSave);
}

void CPresetRow::Fill(const QString &name)
{
    m_combo->clear();
    m_combo->addItem(QString()); // no preset chosen
    m_combo->addItems(ListPresets());
    const int at = name.isEmpty() ? 0 : m_combo->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
    m_combo->setCurrentIndex(std::max(0, at));
}

bool CPresetRow::ReadValues(const QString &path, StoredValues &values, int &badLine)
{
    std::vector<PresetEntry> entries;
    PresetFault fault;
    const auto check = [](const PresetEntry &entry) {
        return CheckStoredValue(entry.name, entry.value) == StoredFault::None;
    };
    if (!ReadPresetFile(path, entries, fault, check)) {
        badLine = fault.line;
        return false;
    }
    values.clear();
    for (const PresetEntry &entry : entries)
        values[entry.name] = entry.value;
    return true;
}

void CPresetRow::OnChoose(int index)
{
    Choose(index > 0 ? m_combo->itemText(index) : QString());
}

void CPresetRow::Choose(const QString &name)
{
    if (!name.isEmpty()) {
        const QString path = PresetPath(name);
        StoredValues values;
        int badLine = 0;
        if (!ReadValues(path, values, badLine)) {
            QMessageBox::information(m_window, QStringLiteral("Velmora"),
                                     badLine > 0
                                         ? tr("预设文件 %1 第 %2 行有误，未载入。").arg(path).arg(badLine)
                                         : tr("无法读取预设文件 %1。").arg(path));
            Fill(GetProfileString(kSettingsSection, settingskey::kPreset));
            return;
        }
        m_options->LoadValues(values);
    }
    WriteProfileString(kSettingsSection, settingskey::kPreset, name);
}

void CPresetRow::OnSave()
{
    if (!m_options->UpdateData(true))
        return;
    QString name = m_combo->currentText();
    const CPresetDlg::Outcome outcome = CPresetDlg::Run(m_window, name);
    if (outcome == CPresetDlg::Cancelled)
        return;
    if (outcome == CPresetDlg::Delete) {
        // To the trash, as the viewer deletes: a preset deleted by mistake
        // can be had back.
        if (const QString error = viewerfiles::MoveToTrash(PresetPath(name)); !error.isEmpty()) {
            QMessageBox::information(m_window, QStringLiteral("Velmora"), error);
            return;
        }
        const QString chosen = GetProfileString(kSettingsSection, settingskey::kPreset);
        if (chosen == name)
            WriteProfileString(kSettingsSection, settingskey::kPreset, QString());
        Fill(chosen == name ? QString() : chosen);
        return;
    }
    // In the order the names are listed, so the file reads group by group.
    const StoredValues values = m_options->Values();
    std::vector<std::pair<std::string, std::string>> ordered;
    for (const StoredName &n : StoredRunNames())
        if (const auto it = values.find(n.name); it != values.end())
            ordered.emplace_back(it->first, it->second);
    QString why;
    if (!WritePresetFile(PresetPath(name), ordered, why)) {
        QMessageBox::information(m_window, QStringLiteral("Velmora"),
                                 tr("无法保存预设 %1:\n%2").arg(name, why));
        return;
    }
    WriteProfileString(kSettingsSection, settingskey::kPreset, name);
    Fill(name);
}
