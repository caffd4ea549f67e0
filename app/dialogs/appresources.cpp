#include "app/dialogs/appresources.h"

#include "resources/ids_app.h"
#include "resources/ids_controls.h"

#include <QBitmap>
#include <QColor>
#include <QFile>
#include <QGuiApplication>
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

// On a screen scaled up, the picture drawn at twice the size where there is
// one; its "@2x" name gives it a device pixel ratio of 2 as it is read.
QString ResourcePath(const char *type, int id)
{
    const QString plain = QStringLiteral(":/%1/%2.png").arg(QLatin1String(type)).arg(id);
    if (qApp && qApp->devicePixelRatio() > 1.0) {
        const QString twice = QStringLiteral(":/%1/%2@2x.png").arg(QLatin1String(type)).arg(id);
        if (QFile::exists(twice))
            return twice;
    }
    return plain;
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
    return QCursor(picture); // the hot spot in the middle
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
