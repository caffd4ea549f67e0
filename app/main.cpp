#include "runresources.h"
#include "velmoraapp.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

int main(int argc, char **argv)
{
    ApplyProcessMemorySettings();
    QApplication qapp(argc, argv);
    // Ties the windows to the installed menu entry and its icon (Wayland).
    QGuiApplication::setDesktopFileName(QStringLiteral("org.velmora.Velmora"));
    // The program speaks Chinese: so do Qt's own dialogs (file, colour,
    // message box buttons) and the file type names of the selected list.
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    QLocale::setDefault(chinese);
    QTranslator qtTranslator;
    if (qtTranslator.load(chinese, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);

    CVelmoraApp app;
    app.InitInstance();
    return 0;
}
