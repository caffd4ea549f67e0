// velmora-progress-bench: a conversion run in the window's own progress
// dialog, as the main window opens it, and what it costs the interface
// thread: its CPU time against the run's wall time, the paints and the
// queued calls it handled; and when the first output came.
//   velmora-progress-bench [--format TIF] [--jobs N] [--details 0|1] FILE...
#include "convert/convertworker.h"
#include "rundialogs/progressdialog.h"
#include "imaging/runresources.h"
#include "settings/settingsstore.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <sys/resource.h>

namespace {

double ThreadCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Counts what the interface thread is asked to do.
class EventCounter : public QObject {
public:
    std::map<QEvent::Type, long> counts;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        ++counts[event->type()];
        return QObject::eventFilter(watched, event);
    }
};

// Passes everything on; notes when the first file was done.
class FirstFileReporter final : public IConvertReporter {
public:
    FirstFileReporter(IConvertReporter &to, std::atomic<long long> &firstNs,
                      std::chrono::steady_clock::time_point t0)
        : m_to(to), m_firstNs(firstNs), m_t0(t0)
    {
    }
    void AnimateStatus() override { m_to.AnimateStatus(); }
    void FileStarted(const std::string &source) override { m_to.FileStarted(source); }
    void FileDone(const FileRecord &record) override
    {
        long long none = -1;
        m_firstNs.compare_exchange_strong(none, std::chrono::duration_cast<std::chrono::nanoseconds>(
                                                    std::chrono::steady_clock::now() - m_t0)
                                                    .count());
        m_to.FileDone(record);
    }
    void SetPercent(int percent) override { m_to.SetPercent(percent); }
    void AddResult(const std::string &outputPath) override { m_to.AddResult(outputPath); }
    void SetSummary(const RunTotals &totals) override { m_to.SetSummary(totals); }
    void ConvertDone() override { m_to.ConvertDone(); }
    OverwriteAnswer AskOverwrite(const std::string &outputPath) override
    {
        return m_to.AskOverwrite(outputPath);
    }

private:
    IConvertReporter &m_to;
    std::atomic<long long> &m_firstNs;
    const std::chrono::steady_clock::time_point m_t0;
};

} // namespace

int main(int argc, char **argv)
{
    // The dialog keeps its preferences in the settings: a scratch home keeps
    // the user's own out of this.
    QTemporaryDir home, out;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    ApplyProcessMemorySettings();
    QApplication app(argc, argv);

    std::string format = "TIF";
    int jobs = 0, details = 1;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--format" && i + 1 < argc)
            format = argv[++i];
        else if (a == "--jobs" && i + 1 < argc)
            jobs = std::atoi(argv[++i]);
        else if (a == "--details" && i + 1 < argc)
            details = std::atoi(argv[++i]);
        else if (!a.empty() && a[0] != '-')
            files.push_back(a);
        else {
            std::fputs("Usage: velmora-progress-bench [--format TIF] [--jobs N] [--details 0|1] FILE...\n",
                       stderr);
            return 2;
        }
    }
    if (files.empty()) {
        std::fputs("velmora-progress-bench: give the files to convert\n", stderr);
        return 2;
    }
    WriteProfileInt(kSettingsSection, settingskey::kProgress, details);

    CConvertJob job;
    job.SetQuality(90);
    job.SetFormat(format);
    job.SetOutputFolder(out.path().toStdString());
    job.SetFileCount(int(files.size()));
    for (std::size_t i = 0; i < files.size(); ++i)
        job.SetFile(int(i), files[i]);

    std::atomic<long long> firstNs{-1};
    const auto t0 = std::chrono::steady_clock::now();
    const RunResources resources{.workers = jobs};
    CProgressDialog dlg(job, nullptr);
    dlg.SetRunBody([&](const CConvertJob &j, IConvertReporter &r, std::stop_token stop) {
        FirstFileReporter first(r, firstNs, t0);
        ConvertWorker worker(j, first, resources);
        worker.Run(std::move(stop));
    });
    EventCounter counter;
    app.installEventFilter(&counter);
    QElapsedTimer wall;
    wall.start();
    const double cpu0 = ThreadCpuSeconds();
    // Modal, as the main window opens it; a slow look at the end of the run
    // costs the thread nothing worth counting.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &dlg, [&] {
        if (!dlg.IsRunning())
            dlg.accept();
    });
    poll.start(100);
    dlg.exec();
    const double cpu = ThreadCpuSeconds() - cpu0;
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    app.removeEventFilter(&counter);

    std::printf("%zu files to %s, %d workers, details %s: %.2f s\n", files.size(), format.c_str(),
                resources.Workers(), details ? "shown" : "hidden", seconds);
    std::printf("  first file done after            %8.2f s\n", double(firstNs.load()) / 1e9);
    std::printf("  interface thread CPU             %8.2f s  (%.1f %% of a core, target < 10 %%: %s)\n", cpu,
                100 * cpu / seconds, 100 * cpu / seconds < 10 ? "holds" : "MISSED");
    std::printf("  paints %ld, queued calls %ld, timers %ld, updates %ld, all events %ld\n",
                counter.counts[QEvent::Paint], counter.counts[QEvent::MetaCall],
                counter.counts[QEvent::Timer], counter.counts[QEvent::UpdateRequest], [&] {
                    long all = 0;
                    for (const auto &c : counter.counts)
                        all += c.second;
                    return all;
                }());
    return 0;
}
