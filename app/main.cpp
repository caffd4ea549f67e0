#include "app/openrequest.h"
#include "app/presetrun.h"
#include "app/velmoraapp.h"
#include "convert/imagefiles.h"
#include "imaging/libraryversions.h"
#include "imaging/runresources.h"
#include "settings/settingsstore.h"
#include "translations/languages.h"

#include <QApplication>
#include <QFile>
#include <QLocale>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

enum class Answer { None, Help, Version };

const struct {
    const char *shortName, *name, *help;
    Answer answer;
} kOptions[] = {
    {"-h", "--help", QT_TRANSLATE_NOOP("velmora", "this text"), Answer::Help},
    {"-V", "--version",
     QT_TRANSLATE_NOOP("velmora", "the version of the program and of the libraries it runs with"),
     Answer::Version},
};

// The options of a run without the window, for a file manager's entries.
const struct {
    const char *name, *help;
} kRunOptions[] = {
    {"--run", QT_TRANSLATE_NOOP("velmora", "convert the files with --preset, in the progress window alone")},
    {"--preset NAME", QT_TRANSLATE_NOOP("velmora", "the saved preset --run converts with")},
    {"--choose-preset", QT_TRANSLATE_NOOP("velmora", "ask for the preset, then convert as --run")},
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

// The language of the window: the stored choice, else the desktop's.
UiLanguage WindowLanguage()
{
    return ChooseLanguage(QLocale::system().uiLanguages(),
                          GetProfileString(kSettingsSection, settingskey::kLanguage));
}

void PrintUsage(int argc, char **argv)
{
    const QCoreApplication qapp(argc, argv);
    InstallTranslations(WindowLanguage(), false);
    std::string text =
        QCoreApplication::translate("velmora", "Usage: velmora [FILE|FOLDER|URI]...").toStdString() + "\n" +
        QCoreApplication::translate("velmora", "   or: velmora --run --preset NAME FILE...").toStdString() +
        "\n" +
        QCoreApplication::translate("velmora", "   or: velmora --choose-preset FILE...").toStdString() + "\n";
    for (const auto &option : kOptions) {
        std::string names = std::string("  ") + option.shortName + ", " + option.name;
        names.resize(17, ' '); // the texts in one column
        text += names + QCoreApplication::translate("velmora", option.help).toStdString() + "\n";
    }
    for (const auto &option : kRunOptions) {
        std::string names = std::string("      ") + option.name;
        // A name too long for the column has its text on the next line.
        names =
            names.size() < 16 ? names.append(17 - names.size(), ' ') : names + "\n" + std::string(17, ' ');
        text += names + QCoreApplication::translate("velmora", option.help).toStdString() + "\n";
    }
    std::fputs(text.c_str(), stdout);
}

} // namespace

int main(int argc, char **argv)
{
    switch (TerminalAnswer(argc, argv)) {
    case Answer::Help:
        PrintUsage(argc, argv);
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
    // Qt's own dialogs (file, colour, message box buttons) and the file type
    // names of the selected list speak the window's language too.
    InstallTranslations(WindowLanguage(), true);

    // Paths or file:// URIs, as a file manager or a desktop entry hands them.
    const QStringList arguments = QApplication::arguments().mid(1);
    const QString currentFolder = QFile::decodeName(QByteArray::fromStdString(CurrentFolder()));
    if (const PresetRunRequest run = ParsePresetRunArguments(arguments); run.mode != PresetRunRequest::None)
        return RunFromFileManager(run, currentFolder);
    const OpenRequest request = ParseOpenArguments(arguments, currentFolder);
    for (const QString &missing : request.missing)
        std::fprintf(stderr, "velmora: %s\n",
                     QCoreApplication::translate("velmora", "%1: no such file or folder; starting without it")
                         .arg(missing)
                         .toLocal8Bit()
                         .constData());

    CVelmoraApp app;
    app.InitInstance(request);
    return 0;
}
