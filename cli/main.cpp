// velmora-batch: converts image files from the command line with the same
// job, pipeline and worker as the desktop program.
#include "batchcommand.h"
#include "convertworker.h"
#include "terminalreporter.h"

#include <QGuiApplication>

#include <cstdio>
#include <unistd.h>

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const auto cmd = ParseBatchCommand(args, error);
    if (!cmd) {
        std::fprintf(stderr, "velmora-batch: %s\nTry 'velmora-batch --help'.\n", error.c_str());
        return 2;
    }
    if (cmd->help) {
        std::fputs(BatchUsage(), stdout);
        return 0;
    }

    // Text measuring and drawing need a GUI application, but never a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);

    FILE *terminal = isatty(STDIN_FILENO) ? stdin : nullptr;
    TerminalReporter reporter(terminal, stdout, stderr);
    ConvertWorker worker(cmd->job, reporter);
    worker.Run();
    return reporter.Finished() && worker.GetErrorCount() == 0 ? 0 : 1;
}
