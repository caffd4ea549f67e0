#include "app/presetrun.h"

#include "app/dialogs/presetchooserdlg.h"
#include "app/openrequest.h"
#include "app/runresults.h"
#include "cli/batchcommand.h"
#include "convert/safefolders.h"
#include "rundialogs/progressdialog.h"
#include "settings/presetfile.h"
#include "settings/settingsstore.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>

#include <cstdio>

namespace {

struct PresetRun {
    Q_DECLARE_TR_FUNCTIONS(PresetRun)
};

int Refuse(const QString &why, QMessageBox::Icon icon = QMessageBox::Critical)
{
    std::fprintf(stderr, "velmora: %s\n", why.toLocal8Bit().constData());
    // Where nothing is shown, a message box would only keep the program
    // from ending; the line above says it.
    const QString platform = QGuiApplication::platformName();
    if (platform != QLatin1String("offscreen") && platform != QLatin1String("minimal"))
        QMessageBox(icon, QStringLiteral("Velmora"), why).exec();
    return 2;
}

// The files as local paths; empty with why set when one is no local file.
QStringList LocalPaths(const QStringList &files, const QString &currentFolder, QString &why)
{
    QStringList paths;
    for (const QString &file : files) {
        const QString path = LocalPath(file, currentFolder);
        if (path.isEmpty()) {
            why = PresetRun::tr("%1: 不是本机上的文件").arg(file);
            return {};
        }
        // Gone since the file manager listed it, or never there: the run
        // would end in an error for it after converting the others.
        if (!QFileInfo::exists(path)) {
            why = PresetRun::tr("%1: 没有这个文件或文件夹").arg(file);
            return {};
        }
        paths.push_back(path);
    }
    return paths;
}

int RunPreset(const QString &preset, const QStringList &paths, const QString &currentFolder)
{
    // A name (not a path, which velmora-batch takes too) that names no
    // preset says so plainly, not as a file that cannot be opened.
    if (IsPresetName(preset) && !QFileInfo::exists(PresetPath(preset)))
        return Refuse(PresetRun::tr("没有名为“%1”的预设。").arg(preset));
    // velmora-batch's own reading of the command line: the same preset
    // reading, folder expansion and job.
    std::vector<std::string> args = {"--preset", QFile::encodeName(preset).toStdString(), "--"};
    for (const QString &path : paths)
        args.push_back(QFile::encodeName(path).toStdString());
    std::string error;
    std::optional<BatchCommand> cmd =
        ParseBatchCommand(args, error, QFile::encodeName(currentFolder).toStdString());
    if (!cmd)
        return Refuse(PresetRun::tr("无法用预设“%1”转换:\n%2").arg(preset, QString::fromStdString(error)));
    std::vector<std::string> made;
    std::string why;
    if (!cmd->job.m_szOutDir.empty() && !MakeFolderPath(cmd->job.m_szOutDir, made, why))
        return Refuse(
            PresetRun::tr("无法创建目标文件夹:\n%1").arg(QString::fromStdString(cmd->job.m_szOutDir)));

    QStringList results;
    CProgressDialog dlg(cmd->job, &results);
    dlg.SetMadeFolders(std::move(made));
    dlg.SetResultsViewer(ResultsViewerFor(dlg));
    dlg.exec();
    return 0;
}

int ChooseAndRun(const QStringList &paths, const QString &currentFolder)
{
    const QStringList presets = ListPresets();
    if (presets.isEmpty())
        return Refuse(PresetRun::tr("还没有保存的预设。在 Velmora 窗口中设好选项，再点“预设”旁的“保存...”。"),
                      QMessageBox::Information);
    CPresetChooserDlg chooser(presets, GetProfileString(kSettingsSection, settingskey::kPreset),
                              int(paths.size()));
    if (chooser.exec() != QDialog::Accepted)
        return 0;
    return RunPreset(chooser.Preset(), paths, currentFolder);
}

} // namespace

PresetRunRequest ParsePresetRunArguments(const QStringList &arguments)
{
    PresetRunRequest request;
    bool run = false, choose = false, presetGiven = false, optionsDone = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        if (optionsDone || !a.startsWith(QLatin1Char('-')) || a == QLatin1String("-")) {
            request.files.push_back(a);
        } else if (a == QLatin1String("--")) {
            optionsDone = true;
        } else if (a == QLatin1String("--run")) {
            run = true;
        } else if (a == QLatin1String("--choose-preset")) {
            choose = true;
        } else if (a == QLatin1String("--preset") || a.startsWith(QLatin1String("--preset="))) {
            presetGiven = true;
            if (a != QLatin1String("--preset"))
                request.preset = a.mid(9);
            else if (i + 1 < arguments.size())
                request.preset = arguments[++i];
            else if (request.error.isEmpty())
                request.error = PresetRun::tr("--preset 需要一个预设名称");
        } else if (request.error.isEmpty()) {
            request.error = PresetRun::tr("未知的选项 %1").arg(a);
        }
    }
    // Without these the arguments are the window's, read as they always were.
    if (!run && !choose && !presetGiven)
        return {};
    request.mode = choose ? PresetRunRequest::Choose : PresetRunRequest::Run;
    if (!request.error.isEmpty())
        return request;
    if (run && choose)
        request.error = PresetRun::tr("--run 与 --choose-preset 不能同时使用");
    else if (choose && presetGiven)
        request.error = PresetRun::tr("--choose-preset 自己询问预设，不带 --preset");
    else if (!choose && !(run && presetGiven))
        request.error = PresetRun::tr("用法: velmora --run --preset 名称 文件...");
    else if (presetGiven && request.preset.isEmpty())
        request.error = PresetRun::tr("--preset 需要一个预设名称");
    else if (request.files.isEmpty())
        request.error = PresetRun::tr("没有给出要转换的文件");
    return request;
}

int RunFromFileManager(const PresetRunRequest &request, const QString &currentFolder)
{
    if (!request.error.isEmpty())
        return Refuse(request.error);
    QString why;
    const QStringList paths = LocalPaths(request.files, currentFolder, why);
    if (!why.isEmpty())
        return Refuse(why);
    return request.mode == PresetRunRequest::Choose ? ChooseAndRun(paths, currentFolder)
                                                    : RunPreset(request.preset, paths, currentFolder);
}
