// velmora-batch: converts image files from the command line with the same
// job, pipeline and worker as the desktop program. This is the program
// proper, velmora-batch-run; launcher.c starts it.
#include "cli/batchcommand.h"
#include "cli/stopsignals.h"
#include "cli/terminalreporter.h"
#include "cli/terminaltext.h"
#include "cli/watchrun.h"
#include "convert/convertworker.h"
#include "convert/documentrun.h"
#include "convert/filltext.h"
#include "convert/imagefiles.h"
#include "convert/metadataoptions.h"
#include "convert/naming.h"
#include "convert/runjournal.h"
#include "convert/safefolders.h"
#include "imaging/formats.h"
#include "imaging/libraryversions.h"
#include "imaging/runresources.h"
#include "settings/presetfile.h"
#include "translations/languages.h"

#include <QDir>
#include <QGuiApplication>
#include <QLocale>

#include <algorithm>
#include <cctype>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The launcher hands the stop signals over held back already; started
// directly, they are held from here on, before any library's constructor
// runs (and any thread those start). A Ctrl-C before main then waits for
// StopSignals and stops the run like any other.
void HoldStopSignals(int, char **, char **)
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

using PreInit = void (*)(int, char **, char **);
[[gnu::section(".preinit_array"), gnu::used]] const PreInit kHoldStopSignals = HoldStopSignals;

// The terminal shows the run's own lines only; Qt's notes about the
// display-less platform are not for the user.
void QuietQtMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "velmora-batch: %s\n", message.toLocal8Bit().constData());
}

// Whether an argument may bring a drawing, whose text needs the fonts: an
// SVG named, a folder, or a list of names.
bool MayBringDrawings(const char *arg)
{
    const std::string_view a(arg);
    const auto endsWith = [a](std::string_view ext) {
        return a.size() >= ext.size() &&
               std::equal(ext.rbegin(), ext.rend(), a.rbegin(), [](char e, char c) { return e == std::tolower(static_cast<unsigned char>(c)); });
    };
    struct stat st;
    return endsWith(".svg") || endsWith(".svgz") || a == "--files-from" || a.starts_with("--files-from=") ||
           (!a.starts_with("-") && stat(arg, &st) == 0 && S_ISDIR(st.st_mode));
}

// Text measuring and drawing need a GUI application, but never a display.
// Without a watermark or a drawing a core application does, and starts in
// about half the time (no platform plugin, no font configuration): that
// counts where a script runs the program once a file. The application comes
// before the command line is read, as its messages are translated; any
// "--stamp" or "--preset" (which may hold one), and any argument that may
// bring a drawing, asks for the GUI one, even as another option's value, so
// none is missed.
std::unique_ptr<QCoreApplication> MakeApplication(int argc, char **argv)
{
    qInstallMessageHandler(QuietQtMessages);
    static int qtArgc = 1;
    const bool stamp =
        std::any_of(argv + 1, argv + argc, [](const char *arg) {
        return std::strcmp(arg, "--stamp") == 0 || std::strcmp(arg, "--preset") == 0 || MayBringDrawings(arg);
    });
    std::unique_ptr<QCoreApplication> app;
    if (stamp) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(qtArgc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(qtArgc, argv);
    }
    // The log's language is the desktop's; --log json is the same in all.
    InstallTranslations(ChooseLanguage(QLocale::system().uiLanguages()), false);
    return app;
}

// Undoes the run of journal, or of the newest one; 0 when nothing was left.
// A journal named on the command line that is refused whole is a usage
// error.
int UndoCommand(const std::string &journal)
{
    const std::string path = journal.empty() ? NewestJournal() : journal;
    if (path.empty()) {
        std::fprintf(
            stderr, "velmora-batch: %s\n",
            QCoreApplication::translate("velmora-batch", "there is no run to undo").toStdString().c_str());
        return 1;
    }
    const UndoReport report = UndoRun(path);
    if (!report.refusedJournal.empty()) {
        std::fprintf(stderr, "velmora-batch: %s\n", ForStream(UndoLines(report).front(), stderr).c_str());
        return journal.empty() ? 1 : 2;
    }
    for (const std::string &line : UndoLines(report))
        std::printf("%s\n", ForStream(line, stdout).c_str());
    if (!report.DidSomething() && report.Complete())
        std::printf("%s\n", QCoreApplication::translate("undolog", "没有需要撤销的内容。").toStdString().c_str());
    return report.Complete() ? 0 : 1;
}

// The values in the order the stored names are listed.
bool SavePreset(const BatchCommand &cmd)
{
    std::vector<std::pair<std::string, std::string>> values;
    for (const StoredName &name : StoredRunNames())
        if (const auto it = cmd.presetValues.find(name.name); it != cmd.presetValues.end())
            values.emplace_back(it->first, it->second);
    QString why;
    if (WritePresetFile(QString::fromStdString(cmd.savePresetPath), values, why))
        return true;
    std::fprintf(
        stderr, "velmora-batch: %s\n",
        ForStream(FillText(QCoreApplication::translate("velmora-batch", "cannot save the preset %1: %2"),
                           {cmd.savePresetPath, why.toStdString()}),
                  stderr)
            .c_str());
    return false;
}

int RunCommand(int argc, char **argv, RunResources &resources, const std::stop_source &stop,
               StopSignals &stopSignals)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const auto cmd = ParseBatchCommand(args, error, CurrentFolder(), stop.get_token());
    if (!cmd && stop.stop_requested())
        return 1; // stopped while reading a list: main tells so
    if (!cmd) {
        std::fprintf(stderr, "velmora-batch: %s\n%s\n", ForStream(error, stderr).c_str(),
                     QCoreApplication::translate("velmora-batch", "Try 'velmora-batch --help'.")
                         .toStdString()
                         .c_str());
        return 2;
    }
    if (cmd->help) {
        std::fputs(BatchUsage(), stdout);
        return 0;
    }
    if (cmd->version) {
        std::fputs(VersionText("velmora-batch").c_str(), stdout);
        return 0;
    }

    if (cmd->listPresets) {
        for (const QString &name : ListPresets())
            std::printf("%s\n", name.toUtf8().constData());
        return 0;
    }
    if (cmd->undo)
        return UndoCommand(cmd->undoJournal);
    if (!cmd->savePresetPath.empty() && !SavePreset(*cmd))
        return 1;
    if (cmd->saveOnly)
        return 0;

    resources.workers = cmd->jobs; // 0: one per core
    // One job means one file decoded at a time, its pixel operations on
    // the thread that decodes it.
    if (resources.Workers() == 1)
        resources.pixelThreads = 1;

    // A destination folder named on the command line is made when missing
    // (a dry run makes nothing); undo removes what was made if left empty.
    std::vector<std::string> made;
    std::string why;
    if (!cmd->dryRun && !cmd->job.m_szOutDir.empty() && !MakeFolderPath(cmd->job.m_szOutDir, made, why)) {
        std::fprintf(
            stderr, "velmora-batch: %s\n",
            ForStream(FillText(QCoreApplication::translate("velmora-batch", "cannot create the folder %1"),
                               {cmd->job.m_szOutDir}),
                      stderr)
                .c_str());
        return 1;
    }

    if (cmd->watch.Active()) {
        stopSignals.TakePending();
        return RunWatch(*cmd, resources, stop.get_token(), std::move(made));
    }
    const std::vector<std::string> &files = cmd->job.GetFiles();
    if (std::any_of(files.begin(), files.end(), [&](const std::string &f) {
            return EncodedForMetadata(cmd->job, TypeFromExtension(LowerExtension(f)));
        }))
        std::fprintf(stderr, "velmora-batch: %s\n",
                     QCoreApplication::translate("velmora-batch", kEncodedForMetadataNote).toStdString().c_str());

    const bool canAsk = isatty(STDIN_FILENO);
    TerminalReporter reporter(canAsk ? STDIN_FILENO : -1, stdout, stderr, stop.get_token());
    reporter.SetJson(cmd->jsonLog);
    if (isatty(STDERR_FILENO))
        reporter.ShowProgress(int(std::min<long long>( // outputs, not sources
            INT_MAX, (long long)cmd->job.GetFileCount() * cmd->job.OutputsPerSource())));
    if (!cmd->combine.empty()) {
        DocumentRun document(cmd->job, cmd->combine, cmd->pages, reporter, resources);
        document.SetDocumentReport([&reporter](const DocumentRecord &record) { reporter.DocumentDone(record); });
        document.SetDryRun(cmd->dryRun);
        RunJournal journal;
        if (!cmd->dryRun)
            document.SetJournal(&journal);
        document.SetTrashReplaced(cmd->trashReplaced && !cmd->dryRun);
        stopSignals.TakePending();
        document.Run(stop.get_token());
        const bool wouldCancel = document.WouldAsk() && !canAsk;
        return reporter.Finished() && document.GetErrorCount() == 0 && !wouldCancel ? 0 : 1;
    }
    ConvertWorker worker(cmd->job, reporter, resources);
    worker.SetDryRun(cmd->dryRun);
    RunJournal journal;
    if (!cmd->dryRun)
        worker.SetJournal(&journal);
    worker.SetMadeFolders(made);
    worker.SetTrashReplaced(cmd->trashReplaced && !cmd->dryRun);
    // A signal sent while the command line was read stops the run before
    // its first file, however late the watcher takes it.
    stopSignals.TakePending();
    worker.Run(stop.get_token());
    // A question without a terminal to answer it would end the run.
    const bool wouldCancel = worker.WouldAsk() && !canAsk;
    return reporter.Finished() && worker.GetErrorCount() == 0 && !wouldCancel ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    // Only conversions run here: one malloc heap holds least. Set before any
    // thread starts; nothing of it depends on the command line.
    RunResources resources;
    resources.mallocArenas = 1;
    ApplyProcessMemorySettings(resources);

    // Before any other thread starts, so that none of them takes the signals,
    // and before the command line is read: a list read from a slow pipe or a
    // large folder takes time too.
    std::stop_source stop;
    StopSignals stopSignals(stop);
    const std::unique_ptr<QCoreApplication> app = MakeApplication(argc, argv);
    const int code = RunCommand(argc, argv, resources, stop, stopSignals);
    stopSignals.Finish();
    if (stopSignals.Signal()) {
        // The file in flight was dropped; the finished ones stay.
        std::fflush(stdout);
        std::fprintf(stderr, "velmora-batch: %s\n",
                     QCoreApplication::translate("velmora-batch", "stopped").toStdString().c_str());
        stopSignals.RaiseAgain();
    }
    return code;
}
