// CPreviewDlg's commands on the current file and on the opener's lists.
#include "previewdlg.h"

#include "animatedpicture.h"
#include "backcolourdlg.h"
#include "ids_viewer.h"
#include "settingsstore.h"
#include "viewerfileops.h"
#include "waitcursor.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include <optional>

namespace {

// Holds a value for the span of a scope and puts the old one back.
template <typename T> class ScopedValue {
public:
    ScopedValue(T &ref, T value) : m_ref(ref), m_old(ref) { m_ref = value; }
    ~ScopedValue() { m_ref = m_old; }
    ScopedValue(const ScopedValue &) = delete;
    ScopedValue &operator=(const ScopedValue &) = delete;

private:
    T &m_ref;
    T m_old;
};

} // namespace

void CPreviewDlg::Inform(const QString &text)
{
    QMessageBox::information(this, "Velmora", text);
}

bool CPreviewDlg::AskTarget(const QString &path, const QString &title, QString &target)
{
    const QFileInfo info(path);
    QFileDialog dlg(this, title, info.absolutePath(),
                    viewerfiles::NameFilter(viewerfiles::SaveFilterFor(path)));
    dlg.setObjectName("CFileDialog");
    dlg.setOption(QFileDialog::DontUseNativeDialog);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    dlg.selectFile(info.fileName());
    if (dlg.exec() != QDialog::Accepted)
        return false;
    target = dlg.selectedFiles().value(0);
    return !target.isEmpty();
}

void CPreviewDlg::OnCopyTo()
{
    if (!HasCurrentFile())
        return;
    // A tick during the dialog would change the current file under us.
    ScopedValue<bool> pause(m_bSlideShow, false);
    const QString path = m_pFiles->at(m_nIndex);
    QString target;
    if (!AskTarget(path, QString::fromUtf8("复制到"), target) || viewerfiles::IsSameFile(path, target))
        return;
    QString error;
    {
        WaitCursor wait;
        error = viewerfiles::CopyFileTo(path, target);
    }
    if (!error.isEmpty())
        Inform(error);
}

void CPreviewDlg::OnMoveTo()
{
    if (!HasCurrentFile())
        return;
    ScopedValue<bool> pause(m_bSlideShow, false);
    const QString path = m_pFiles->at(m_nIndex);
    QString target;
    if (!AskTarget(path, QString::fromUtf8("移动到"), target) || viewerfiles::IsSameFile(path, target))
        return;
    QString error;
    {
        WaitCursor wait;
        error = viewerfiles::MoveFileTo(path, target);
    }
    if (!error.isEmpty()) {
        // The file is still where it was: it stays listed and shown.
        Inform(error);
        return;
    }
    RemoveCurrentEntry();
}

void CPreviewDlg::OnDelete()
{
    if (!HasCurrentFile())
        return;
    ScopedValue<bool> pause(m_bSlideShow, false);
    const QString path = m_pFiles->at(m_nIndex);
    const QString question = QString::fromUtf8("确实要把“%1”放入回收站吗?").arg(QFileInfo(path).fileName());
    if (QMessageBox::question(this, "Velmora", question, QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::Yes) != QMessageBox::Yes)
        return;
    QString error;
    {
        WaitCursor wait;
        error = viewerfiles::MoveToTrash(path);
    }
    if (!error.isEmpty()) {
        Inform(error);
        return;
    }
    RemoveCurrentEntry();
}

void CPreviewDlg::OnAddToList()
{
    if (m_nOpenMode != MODE_FOLDER || !m_pHost || !HasCurrentFile())
        return;
    m_pHost->AddFolderRowToSelection(m_nIndex);
}

void CPreviewDlg::OnRemoveFromList()
{
    if (m_nOpenMode != MODE_SELECTED || !HasCurrentFile())
        return;
    std::optional<WaitCursor> wait(std::in_place);
    if (m_pHost)
        m_pHost->RemoveSelectedPath(m_pFiles->at(m_nIndex));
    m_pFiles->removeAt(m_nIndex);
    wait.reset();
    ShowAfterRemoval();
}

void CPreviewDlg::RemoveCurrentEntry()
{
    {
        WaitCursor wait;
        const QString path = m_pFiles->takeAt(m_nIndex);
        // The folder list and the viewer's list stay row for row.
        if (m_nOpenMode == MODE_FOLDER && m_pHost)
            m_pHost->RemoveFolderRow(m_nIndex);
        // A selected image that left its place (the Delete key works in
        // every mode) would otherwise stay listed and fail the next run.
        if (m_nOpenMode == MODE_SELECTED && m_pHost)
            m_pHost->RemoveSelectedPath(path);
    }
    ShowAfterRemoval();
}

void CPreviewDlg::ShowAfterRemoval()
{
    if (m_pFiles->isEmpty()) {
        EndEmptyList();
        return;
    }
    // The first file follows the last.
    if (m_nIndex > FileCount() - 1)
        m_nIndex = 0;
    m_fZoom = 1.0f;
    m_bZoomed = false;
    ShowImage(m_nIndex);
}

void CPreviewDlg::EndEmptyList()
{
    StopSlideShow();
    m_pImage.reset();
    m_bPartial = m_bRegion = false;
    m_display = QImage();
    m_picture->UnloadPicture();
    m_picture->hide();
    m_bPictureMode = m_bError = false;
    ClearLayout();
    Repaint();
    Inform(QString::fromUtf8("没有可以显示的图像。"));
    reject();
}

void CPreviewDlg::OnBackColour()
{
    ScopedValue<bool> pause(m_bSlideShow, false);
    CBackColourDlg dlg(this);
    dlg.SetColour(m_crBack);
    if (dlg.exec() != QDialog::Accepted)
        return;
    m_crBack = dlg.GetColour();
    WritePreviewBackground(m_crBack);
    Repaint();
}
