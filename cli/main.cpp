// velmora-batch: converts image files from the command line with the same
// job, pipeline and worker as the desktop program.
#include "batchcommand.h"
#include "convertworker.h"
#include "imagefiles.h"
#include "runresources.h"
#include "stopsignals.h"
#include "terminalreporter.h"

#include <QDir>
#include <QGuiApplication>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

// The terminal shows the run's own lines only; Qt's notes about the
// display-less platform are not for the user.
void QuietQtMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "velmora-batch: %s\n", message.toLocal8Bit().constData());
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const auto cmd = ParseBatchCommand(args, error, CurrentFolder());
    if (!cmd) {
        std::fprintf(stderr, "velmora-batch: %s\nTry 'velmora-batch --help'.\n", error.c_str());
        return 2;
    }
    if (cmd->help) {
        std::fputs(BatchUsage(), stdout);
        return 0;
    }

    RunResources resources;
    resources.workers = cmd->jobs; // 0: one per core
    // One job means one thread, pixel operations included.
    if (resources.Workers() == 1)
        resources.pixelThreads = 1;
    // Only conversions run here: one malloc heap holds least.
    resources.mallocArenas = 1;
    ApplyProcessMemorySettings(resources);

    // Before any other thread starts, so that none of them takes the signals.
    std::stop_source stop;
    StopSignals stopSignals(stop);

    // Text measuring and drawing need a GUI application, but never a display.
    // Without a watermark a core application does, and starts in about half
    // the time (no platform plugin, no font configuration): that counts
    // where a script runs the program once a file.
    qInstallMessageHandler(QuietQtMessages);
    int qtArgc = 1;
    std::unique_ptr<QCoreApplication> app;
    if (cmd->job.m_bStamp) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(qtArgc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(qtArgc, argv);
    }

    // A destination folder named on the command line is made when missing.
    if (!cmd->job.m_szOutDir.empty() && !QDir().mkpath(QString::fromStdString(cmd->job.m_szOutDir))) {
        std::fprintf(stderr, "velmora-batch: cannot create the folder %s\n", cmd->job.m_szOutDir.c_str());
        return 1;
    }

    TerminalReporter reporter(isatty(STDIN_FILENO) ? STDIN_FILENO : -1, stdout, stderr, stop.get_token());
    reporter.SetJson(cmd->jsonLog);
    if (isatty(STDERR_FILENO))
        reporter.ShowProgress(cmd->job.GetFileCount());
    ConvertWorker worker(cmd->job, reporter, resources);
    worker.Run(stop.get_token());
    stopSignals.Finish();
    if (stopSignals.Signal()) {
        // The file in flight was dropped; the finished ones stay.
        std::fflush(stdout);
        std::fputs("velmora-batch: stopped\n", stderr);
        stopSignals.RaiseAgain();
    }
    return reporter.Finished() && worker.GetErrorCount() == 0 ? 0 : 1;
}
