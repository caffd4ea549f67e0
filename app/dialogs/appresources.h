// The application's own pictures by resource id (resources/ids_app.h).
#pragma once

#include <QCursor>
#include <QIcon>
#include <QPixmap>

// A bitmap as drawn (the rotation pictures keep their key-colour
// background); a null pixmap for an unknown id.
QPixmap LoadAppBitmap(int id);
// The same bitmap with the key colour RGB(214, 211, 206) made transparent.
QPixmap LoadAppBitmapTransparent(int id);
// A cursor with its hot spot (the splitters' middle, the hand's fingertip);
// the arrow cursor for an unknown id.
QCursor LoadAppCursor(int id);
// The application icon, resource 128, in all its sizes.
QIcon LoadAppIcon();
