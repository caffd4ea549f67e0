#include "viewer/viewermodel.h"

#include "viewer/previewhost.h"

void CViewerModel::GoTo(int index)
{
    m_nStep = index < m_nIndex ? -1 : 1;
    m_nIndex = index;
}

bool CViewerModel::Next()
{
    if (IsLast())
        return false;
    GoTo(m_nIndex + 1);
    return true;
}

bool CViewerModel::Prev()
{
    if (m_nIndex <= 0)
        return false;
    GoTo(m_nIndex - 1);
    return true;
}

bool CViewerModel::NextOrFirst()
{
    if (!IsLast())
        return Next();
    GoTo(0);
    return true;
}

bool CViewerModel::First()
{
    if (m_nIndex == 0 || IsEmpty())
        return false;
    GoTo(0);
    return true;
}

bool CViewerModel::Last()
{
    if (m_nIndex == Count() - 1 || IsEmpty())
        return false;
    GoTo(Count() - 1);
    return true;
}

bool CViewerModel::Tick()
{
    // From before the first entry the step runs forward.
    if (IsLast())
        m_nIndex = -1;
    return Next();
}

bool CViewerModel::Remove(const QString &path)
{
    const int row = Current() == path ? m_nIndex : int(m_paths.indexOf(path));
    if (row < 0)
        return false;
    m_paths.removeAt(row);
    if (row < m_nIndex)
        --m_nIndex;
    if (m_pHost && m_nMode == MODE_FOLDER)
        m_pHost->RemoveFolderPath(path);
    // A selected image that left its place (the Delete key works in every
    // mode) would otherwise stay listed and fail the next run.
    if (m_pHost && m_nMode == MODE_SELECTED)
        m_pHost->RemoveSelectedPath(path);
    if (!IsEmpty() && m_nIndex > Count() - 1)
        m_nIndex = 0;
    return true;
}

void CViewerModel::AddCurrentToSelection()
{
    if (m_nMode == MODE_FOLDER && m_pHost && HasCurrent())
        m_pHost->AddFolderPathToSelection(Current());
}
