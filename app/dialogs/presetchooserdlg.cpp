#include "app/dialogs/presetchooserdlg.h"

#include "app/dialogs/appresources.h"
#include "app/dialogs/dialogbuttons.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

CPresetChooserDlg::CPresetChooserDlg(const QStringList &presets, const QString &current, int fileCount,
                                     QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("PresetChooser"));
    setWindowTitle(tr("用预设转换"));
    setWindowIcon(LoadAppIcon());
    auto *caption = new QLabel(tr("用哪个预设转换所选的 %1 个文件?").arg(fileCount), this);
    caption->setWordWrap(true);

    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("presets"));
    m_list->addItems(presets);
    // Long names are shown whole where the list cuts them.
    for (int i = 0; i < m_list->count(); ++i)
        m_list->item(i)->setToolTip(m_list->item(i)->text());
    const int rowHeight = m_list->fontMetrics().height() + 4;
    m_list->setMinimumSize(m_list->fontMetrics().averageCharWidth() * 36,
                           rowHeight * int(std::clamp<qsizetype>(presets.size(), 4, 12)) + 6);
    const QList<QListWidgetItem *> found =
        m_list->findItems(current, Qt::MatchExactly | Qt::MatchCaseSensitive);
    m_list->setCurrentRow(found.isEmpty() ? 0 : m_list->row(found.first()));

    QDialogButtonBox *buttons = OkCancelButtons(this);
    m_ok = buttons->findChild<QPushButton *>(QStringLiteral("ok"));
    connect(m_list, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    connect(m_list, &QListWidget::currentRowChanged, this, [this](int row) { m_ok->setEnabled(row >= 0); });
    m_ok->setEnabled(m_list->currentRow() >= 0);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(caption);
    layout->addWidget(m_list, 1);
    layout->addWidget(buttons);
    m_list->setFocus();
}

QString CPresetChooserDlg::Preset() const
{
    const QListWidgetItem *item = m_list->currentItem();
    return item ? item->text() : QString();
}
