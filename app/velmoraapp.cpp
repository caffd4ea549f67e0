#include "app/velmoraapp.h"

#include "app/maindlg.h"
#include "app/openrequest.h"

#include <QCoreApplication>

CVelmoraApp::CVelmoraApp() = default;

bool CVelmoraApp::InitInstance(const OpenRequest &request)
{
    // The store's organisation is fixed in the settings store; the
    // application name stays the executable's base name, as Qt takes it.
    auto dlg = std::make_unique<CMainDlg>();
    if (!request.folder.isEmpty())
        dlg->OpenAtStart(request.folder, request.names);
    dlg->exec();
    // The window leaves the screen at once; what is left to end (a thumbnail
    // being decoded, the stores) ends unseen.
    dlg->hide();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    dlg.reset();
    return false;
}
