#include "imagefiles.h"
#include "openrequest.h"
#include "runresources.h"
#include "velmoraapp.h"

#include <QApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstdio>

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

    // Paths or file:// URIs, as a file manager or a desktop entry hands them.
    const OpenRequest request = ParseOpenArguments(
        QApplication::arguments().mid(1), QFile::decodeName(QByteArray::fromStdString(CurrentFolder())));
    for (const QString &missing : request.missing)
        std::fprintf(stderr, "velmora: %s: no such file or folder; starting without it\n",
                     missing.toLocal8Bit().constData());

    CVelmoraApp app;
    app.InitInstance(request);
    return 0;
}
