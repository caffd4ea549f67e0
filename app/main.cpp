#include "convert/imagefiles.h"
#include "imaging/libraryversions.h"
#include "app/openrequest.h"
#include "imaging/runresources.h"
#include "app/velmoraapp.h"

#include <QApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

enum class Answer { None, Help, Version };

const struct {
    const char *shortName, *name, *help;
    Answer answer;
} kOptions[] = {
    {"-h", "--help", "this text", Answer::Help},
    {"-V", "--version", "the version of the program and of the libraries it runs with", Answer::Version},
};

// --help and --version are answered on the terminal, before a display is
// opened, so they work where there is none.
Answer TerminalAnswer(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i)
        for (const auto &option : kOptions)
            if (std::strcmp(argv[i], option.shortName) == 0 || std::strcmp(argv[i], option.name) == 0)
                return option.answer;
    return Answer::None;
}

void PrintUsage()
{
    std::string text = "Usage: velmora [FILE|FOLDER|URI]...\n";
    for (const auto &option : kOptions) {
        std::string names = std::string("  ") + option.shortName + ", " + option.name;
        names.resize(17, ' '); // the texts in one column
        text += names + option.help + "\n";
    }
    std::fputs(text.c_str(), stdout);
}

} // namespace

int main(int argc, char **argv)
{
    switch (TerminalAnswer(argc, argv)) {
    case Answer::Help:
        PrintUsage();
        return 0;
    case Answer::Version:
        std::fputs(VersionText("velmora").c_str(), stdout);
        return 0;
    case Answer::None:
        break;
    }
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
