#include "app/runresults.h"

#include "app/documentstart.h"
#include "viewer/previewdlg.h"

#include <QPointer>

CProgressDialog::ResultsViewer ResultsViewerFor(CProgressDialog &dlg)
{
    return [&dlg](QWidget *parent, QStringList *results) {
        if (OpenDocumentResult(*results))
            return;
        // On the heap: the viewer must not outlive its parent if that goes first.
        const QPointer<CPreviewDlg> viewer = new CPreviewDlg(parent);
        viewer->SetFileList(results);
        // The run goes on under the viewer: what it converts joins the list.
        QObject::connect(&dlg, &CProgressDialog::resultAdded, viewer, &CPreviewDlg::AddFile);
        viewer->SetPreview(false);
        viewer->SetOpenMode(CPreviewDlg::MODE_RESULTS);
        viewer->SetStartIndex(0);
        viewer->exec();
        delete viewer.data();
    };
}
