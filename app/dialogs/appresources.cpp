#include "app/dialogs/appresources.h"

#include "resources/ids_app.h"
#include "resources/ids_controls.h"

#include <QBitmap>
#include <QColor>
#include <QImage>

static void InitAppResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(app);
        return true;
    }();
    (void)done;
}

namespace {

QString ResourcePath(const char *type, int id)
{
    return QStringLiteral(":/%1/%2.png").arg(QLatin1String(type)).arg(id);
}

} // namespace

QPixmap LoadAppBitmap(int id)
{
    InitAppResources();
    return QPixmap(ResourcePath("BITMAP", id));
}

QPixmap LoadAppBitmapTransparent(int id)
{
    QPixmap picture = LoadAppBitmap(id);
    if (picture.isNull())
        return picture;
    const QColor key(appid::kKeyRed, appid::kKeyGreen, appid::kKeyBlue);
    picture.setMask(picture.createMaskFromColor(key, Qt::MaskInColor));
    return picture;
}

QCursor LoadAppCursor(int id)
{
    InitAppResources();
    const QPixmap picture(ResourcePath("CURSOR", id));
    if (picture.isNull())
        return QCursor(Qt::ArrowCursor);
    if (id == controlsid::IDC_CURSOR_LINK)
        return QCursor(picture, controlsid::kLinkCursorHotX, controlsid::kLinkCursorHotY);
    return QCursor(picture, picture.width() / 2, picture.height() / 2);
}

QIcon LoadAppIcon()
{
    InitAppResources();
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/ICON/%1/%2.png").arg(appid::IDR_MAINFRAME).arg(size),
                     QSize(size, size));
    return icon;
}
