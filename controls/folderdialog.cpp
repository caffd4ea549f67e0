#include "controls/folderdialog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QUrl>

CFolderDialog::CFolderDialog(const QString &title, const QString &initialFolder, QWidget *owner,
                             unsigned flags)
    : m_title(title), m_initialFolder(initialFolder), m_owner(owner), m_flags(flags)
{
}

CFolderDialog::~CFolderDialog() = default;

int CFolderDialog::DoModal()
{
    m_folderPath.clear();
    // Our own browser rather than the desktop's: the same look everywhere, and
    // Chinese texts whatever translations are installed.
    QFileDialog browser(m_owner ? m_owner->window() : nullptr, m_title);
    browser.setOption(QFileDialog::DontUseNativeDialog);
    browser.setFileMode(QFileDialog::Directory);
    browser.setOption(QFileDialog::ShowDirsOnly);
    browser.setAcceptMode(QFileDialog::AcceptOpen);
    browser.setLabelText(QFileDialog::LookIn, QCoreApplication::translate("CFolderDialog", "查找范围:"));
    browser.setLabelText(QFileDialog::FileName, QCoreApplication::translate("CFolderDialog", "文件夹:"));
    browser.setLabelText(QFileDialog::Accept, QCoreApplication::translate("CFolderDialog", "选择"));
    browser.setLabelText(QFileDialog::Reject, QCoreApplication::translate("CFolderDialog", "取消"));
    // Names only, as a folder picker shows them; no file-type row for folders.
    browser.setViewMode(QFileDialog::List);
    browser.setSidebarUrls({QUrl::fromLocalFile(QDir::homePath()), QUrl::fromLocalFile(QStringLiteral("/"))});
    for (const char *name : {"fileTypeLabel", "fileTypeCombo"}) {
        if (QWidget *w = browser.findChild<QWidget *>(QLatin1String(name)))
            w->hide();
    }

    if (m_flags & BIF_STATUSTEXT) {
        if (auto *grid = qobject_cast<QGridLayout *>(browser.layout())) {
            m_status = new QLabel(&browser);
            m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
            m_status->setWordWrap(true);
            grid->addWidget(m_status, grid->rowCount(), 0, 1, grid->columnCount());
        }
    }
    QObject::connect(&browser, &QFileDialog::currentChanged, &browser,
                     [this](const QString &path) { OnSelChanged(path); });
    OnInitialized(browser);

    const int result = browser.exec();
    m_status = nullptr;
    if (result != QDialog::Accepted)
        return kCancelled;
    const QList<QUrl> chosen = browser.selectedUrls();
    if (chosen.isEmpty() || !chosen.first().isLocalFile())
        return kNoFileSystemPath;
    const QString path = QDir::cleanPath(chosen.first().toLocalFile());
    if (!QFileInfo(path).isDir())
        return kNoFileSystemPath;
    m_folderPath = path;
    return kPicked;
}

void CFolderDialog::OnInitialized(QFileDialog &browser)
{
    const QString initial = m_initialFolder.trimmed();
    const QFileInfo info(initial);
    if (initial.isEmpty() || !QDir::isAbsolutePath(initial) || !info.isDir()) {
        browser.setDirectory(QDir::homePath());
        return;
    }
    const QString folder = QDir::cleanPath(info.absoluteFilePath());
    if (folder == QLatin1String("/")) {
        browser.setDirectory(folder);
        return;
    }
    // Open its parent with the folder itself selected, so OK picks it.
    browser.setDirectory(QFileInfo(folder).absolutePath());
    browser.selectFile(QFileInfo(folder).fileName());
    OnSelChanged(folder);
}

void CFolderDialog::OnSelChanged(const QString &path)
{
    if (m_status)
        m_status->setText(QDir::toNativeSeparators(path));
}
