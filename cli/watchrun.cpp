#include "cli/watchrun.h"

#include "cli/folderwatch.h"
#include "cli/terminalreporter.h"
#include "cli/terminaltext.h"
#include "convert/convertworker.h"
#include "convert/filltext.h"
#include "convert/imagefiles.h"
#include "convert/runjournal.h"
#include "convert/safefolders.h"
#include "convert/trash.h"
#include "imaging/atomicfile.h"

#include <QCoreApplication>
#include <QDir>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

namespace {

// A file as it was when last taken: it is taken again only once changed.
struct Version {
    off_t size = -1;
    timespec mtime{};
    bool operator==(const Version &o) const
    {
        return size == o.size && mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec;
    }
};

bool Below(const std::string &path, const std::string &folder)
{
    return !folder.empty() && path.size() > folder.size() && path.starts_with(folder) &&
           path[folder.size()] == '/';
}

void Complain(const std::string &line)
{
    std::fprintf(stderr, "velmora-batch: %s\n", ForStream(line, stderr).c_str());
    std::fflush(stderr);
}

// Passes the files' lines on and keeps their records; each small run's
// totals are not the watch's, so they are not shown.
class WatchReporter : public IConvertReporter {
public:
    explicit WatchReporter(TerminalReporter &terminal) : m_terminal(terminal) {}
    void AnimateStatus() override {}
    void FileStarted(const std::string &source) override { m_terminal.FileStarted(source); }
    void FileDone(const FileRecord &record) override
    {
        m_terminal.FileDone(record);
        records.push_back(record);
    }
    void SetPercent(int) override {}
    void AddResult(const std::string &) override {}
    void SetSummary(const RunTotals &) override {}
    void ConvertDone() override {}
    OverwriteAnswer AskOverwrite(const std::string &) override { return {OverwriteChoice::Cancel, false}; }

    std::vector<FileRecord> records;

private:
    TerminalReporter &m_terminal;
};

// Every output the runs' journals name: a restart takes none of them.
void KnownOutputs(std::unordered_set<std::string> &outputs)
{
    const QDir runs(QString::fromStdString(RunJournal::Folder()));
    for (const QString &name : runs.entryList(QDir::Files)) {
        JournalContents contents;
        std::string error;
        if (!ReadJournal(runs.filePath(name).toStdString(), contents, error))
            continue;
        for (const JournalLine &line : contents.lines)
            if (line.kind == JournalLine::Intent)
                outputs.insert(line.entry.path);
    }
}

bool CopyFile(int in, int out)
{
    char buffer[1 << 16];
    ssize_t n;
    while ((n = ::read(in, buffer, sizeof buffer)) > 0)
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buffer + done, std::size_t(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return false;
            done += w;
        }
    return n == 0 && fsync(out) == 0;
}

void FlushFolder(const std::string &folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        ::close(fd);
    }
}

class Watcher {
public:
    Watcher(const BatchCommand &cmd, const RunResources &resources, std::stop_token stop,
            std::vector<std::string> made)
        : m_cmd(cmd), m_watch(cmd.watch), m_resources(resources), m_stop(std::move(stop)),
          m_made(std::move(made)), m_job(cmd.job), m_terminal(-1, stdout, stderr, m_stop)
    {
        m_terminal.SetJson(cmd.jsonLog);
    }

    int Run();

private:
    void Convert(std::vector<std::string> files);
    bool Taken(const std::string &path, Version &version) const;
    void AfterOutputs(const std::vector<FileRecord> &records);

    const BatchCommand &m_cmd;
    const WatchSettings &m_watch;
    const RunResources &m_resources;
    std::stop_token m_stop;
    std::vector<std::string> m_made;
    CConvertJob m_job; // the running number goes on from run to run
    TerminalReporter m_terminal;
    RunJournal m_journal; // the whole watch is one run to undo
    std::unordered_set<std::string> m_outputs;
    std::map<std::string, Version> m_taken;
    std::vector<std::string> m_skip;
    int m_errors = 0;
};

bool Watcher::Taken(const std::string &path, Version &version) const
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return true; // gone again, or no file: nothing to do
    version = {st.st_size, st.st_mtim};
    if (m_outputs.contains(path) ||
        std::any_of(m_skip.begin(), m_skip.end(), [&](const std::string &s) { return Below(path, s); }))
        return true;
    const auto it = m_taken.find(path);
    return it != m_taken.end() && it->second == version;
}

void Watcher::Convert(std::vector<std::string> files)
{
    std::vector<Version> versions;
    std::erase_if(files, [&](const std::string &path) {
        Version v;
        if (Taken(path, v))
            return true;
        versions.push_back(v);
        return false;
    });
    if (files.empty())
        return;
    CConvertJob job = m_job;
    job.SetFileCount(int(files.size()));
    for (std::size_t i = 0; i < files.size(); ++i) {
        job.SetFile(int(i), files[i]);
        // Under -r the folders below the watched one are made again in the
        // destination, as a run of that folder makes them.
        if (m_watch.recursive && !job.m_szOutDir.empty() && Below(files[i], m_watch.folder)) {
            const std::size_t slash = files[i].rfind('/');
            if (slash > m_watch.folder.size())
                job.SetOutputSubfolder(
                    int(i), files[i].substr(m_watch.folder.size() + 1, slash - m_watch.folder.size() - 1));
        }
    }
    WatchReporter reporter(m_terminal);
    ConvertWorker worker(job, reporter, m_resources);
    worker.SetJournal(&m_journal);
    worker.SetMadeFolders(std::exchange(m_made, {}));
    worker.SetTrashReplaced(m_cmd.trashReplaced);
    worker.Run(m_stop);
    m_job.m_nStartNumber = worker.GetJob().m_nStartNumber;
    m_errors += worker.GetErrorCount();
    for (std::size_t i = 0; i < files.size(); ++i)
        m_taken[files[i]] = versions[i];
    for (const FileRecord &record : reporter.records) {
        for (const std::string *out : {&record.output, &record.target})
            if (!out->empty() && *out != record.source)
                m_outputs.insert(*out);
        // A source rewritten in place by its own output is taken as it is
        // now, or its rewrite would bring it back round and round.
        struct stat st;
        if (record.output == record.source && stat(record.source.c_str(), &st) == 0)
            m_taken[record.source] = {st.st_size, st.st_mtim};
    }
    AfterOutputs(reporter.records);
    std::fflush(stdout);
}

// A source whose every output is in place (the run ends only once its
// outputs are flushed and renamed) is kept, trashed or moved.
void Watcher::AfterOutputs(const std::vector<FileRecord> &records)
{
    if (m_watch.then == WatchSettings::Then::Keep)
        return;
    std::map<std::string, bool> sources; // source -> every output in place
    for (const FileRecord &record : records) {
        const bool done =
            (record.outcome == FileOutcome::Converted || record.outcome == FileOutcome::Copied) &&
            !record.output.empty() && record.output != record.source;
        const auto [it, added] = sources.emplace(record.source, done);
        it->second = it->second && done;
    }
    for (const auto &[source, done] : sources) {
        if (!done)
            continue;
        std::string error;
        if (m_watch.then == WatchSettings::Then::Move) {
            if (!MoveIntoFolder(source, m_watch.moveFolder, error))
                Complain(FillText(QCoreApplication::translate("velmora-batch", "cannot move %1: %2"),
                                  {source, error}));
            continue;
        }
        const std::string kept = trash::KeepCopy(source, error);
        if (kept.empty() || unlink(source.c_str()) != 0) {
            if (!kept.empty()) {
                error = std::strerror(errno);
                trash::Forget(kept);
            }
            Complain(FillText(QCoreApplication::translate("velmora-batch", "cannot move %1 to the trash: %2"),
                              {source, error}));
        }
    }
}

int Watcher::Run()
{
    // Outputs of this watch, of an earlier one and of other runs are never
    // sources, nor is the destination or the folder sources are moved to.
    KnownOutputs(m_outputs);
    for (const std::string &folder : {m_job.m_szOutDir, m_watch.moveFolder})
        if (!folder.empty())
            m_skip.push_back(TrimFolder(folder));
    if (m_watch.then == WatchSettings::Then::Move) {
        std::vector<std::string> made;
        std::string why;
        if (!MakeFolderPath(m_watch.moveFolder, made, why)) {
            Complain(FillText(QCoreApplication::translate("velmora-batch", "cannot create the folder %1"),
                              {m_watch.moveFolder}));
            return 1;
        }
    }
    // A watch killed mid-file left its temporary there.
    RemoveStaleTemporaries(m_job.m_szOutDir.empty() ? m_watch.folder : m_job.m_szOutDir);

    FolderWatch watch({m_watch.folder, m_watch.recursive, m_skip, m_watch.settle});
    std::string error;
    // Watching starts before the listing, so nothing arriving in between is
    // missed.
    if (!watch.Start(error)) {
        Complain(error);
        return 1;
    }
    const int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        Complain(std::strerror(errno));
        return 1;
    }
    std::stop_callback onStop(m_stop, [wake] {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wake, &one, sizeof one);
    });
    if (!m_watch.newOnly) {
        // A file changed within the settling time may be written still.
        std::vector<std::string> files;
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        for (std::string &path : watch.Existing()) {
            struct stat st;
            const double age = stat(path.c_str(), &st) != 0 ? 0
                                                            : double(now.tv_sec - st.st_mtim.tv_sec) +
                                                                  (now.tv_nsec - st.st_mtim.tv_nsec) / 1e9;
            if (age >= m_watch.settle)
                files.push_back(std::move(path));
            else
                watch.Hold(path);
        }
        Convert(std::move(files));
    }
    bool ok = true;
    while (!m_stop.stop_requested()) {
        std::vector<std::string> ready;
        if (!watch.Wait(wake, ready, error)) {
            Complain(error);
            ok = false;
            break;
        }
        if (!m_stop.stop_requested())
            Convert(std::move(ready));
    }
    ::close(wake);
    return ok && m_errors == 0 ? 0 : 1;
}

} // namespace

bool MoveIntoFolder(const std::string &source, const std::string &folder, std::string &error)
{
    const std::size_t slash = source.rfind('/');
    const std::string from = slash == 0 ? "/" : source.substr(0, slash);
    const std::string name = source.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    const std::string base = dot == 0 || dot == std::string::npos ? name : name.substr(0, dot);
    const std::string ext = name.substr(base.size());
    const std::string prefix = TrimFolder(folder) == "/" ? "/" : TrimFolder(folder) + "/";
    for (int n = 1; n < 10000; ++n) {
        const std::string target = prefix + (n == 1 ? name : base + " (" + std::to_string(n) + ")" + ext);
        // A second name first, then the first one goes: a taken name is never
        // replaced, and a crash leaves the file in one place at least.
        if (link(source.c_str(), target.c_str()) == 0) {
            FlushFolder(folder);
            if (unlink(source.c_str()) != 0) {
                error = std::strerror(errno);
                unlink(target.c_str());
                return false;
            }
            FlushFolder(from);
            return true;
        }
        if (errno == EEXIST)
            continue;
        if (errno != EXDEV && errno != EPERM) {
            error = std::strerror(errno);
            return false;
        }
        const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (out < 0 && errno == EEXIST)
            continue;
        const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
        if (out < 0 || in < 0) {
            error = std::strerror(errno);
            if (out >= 0) {
                ::close(out);
                unlink(target.c_str());
            }
            if (in >= 0)
                ::close(in);
            return false;
        }
        const bool copied = CopyFile(in, out);
        const int copyError = errno;
        ::close(in);
        if (::close(out) != 0 || !copied) {
            error = std::strerror(copied ? errno : copyError);
            unlink(target.c_str());
            return false;
        }
        FlushFolder(folder);
        if (unlink(source.c_str()) != 0) {
            error = std::strerror(errno);
            return false;
        }
        return true;
    }
    error = "no free name";
    return false;
}

int RunWatch(const BatchCommand &cmd, const RunResources &resources, std::stop_token stop,
             std::vector<std::string> made)
{
    return Watcher(cmd, resources, std::move(stop), std::move(made)).Run();
}
