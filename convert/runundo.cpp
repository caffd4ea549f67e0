// Undoing a run from its journal: each output the run put in place is
// removed while it is still as written, and the file it replaced comes back
// from the trash; what cannot be accounted for is named.
#include "convert/runjournal.h"
#include "convert/safefolders.h"
#include "convert/trash.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Tr(const char *text)
{
    return QCoreApplication::translate("undolog", text).toStdString();
}

// What the journal tells of one output.
struct Output {
    const JournalEntry *entry = nullptr;
    long n = 0;
    bool committed = false, dropped = false, removed = false, done = false;
};

// What stands at a name in an open folder.
enum class There { Nothing, Written, Replaced, Other };

There Look(int folder, const std::string &name, const JournalEntry &e)
{
    const int fd = ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        struct stat st;
        return ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? There::Other : There::Nothing;
    }
    struct stat st;
    std::string hex;
    std::int64_t size = 0;
    const bool read = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && FdSha256(fd, hex, size);
    ::close(fd);
    if (read && size == e.size && hex == e.sha256)
        return There::Written;
    if (read && e.replaces && size == e.replacedSize && hex == e.replacedSha256)
        return There::Replaced;
    return There::Other;
}

// The folder an output went into, opened without following a link below
// the folder the run wrote into, which must still be that very folder.
UniqueFd OutputFolder(const JournalEntry &e, std::string &name, std::string &error)
{
    std::string relative;
    if (!PathBelow(e.root, e.path, relative) || FolderIdentity(e.root) != e.rootId) {
        error = e.root + ": " + Tr(QT_TRANSLATE_NOOP("undolog", "已不是运行写入的那个文件夹"));
        errno = EXDEV;
        return {};
    }
    const std::size_t slash = relative.rfind('/');
    name = relative.substr(slash == std::string::npos ? 0 : slash + 1);
    return OpenFolderBelow(e.root, slash == std::string::npos ? std::string() : relative.substr(0, slash), error);
}

class Undoer {
public:
    Undoer(const std::string &journal, const JournalContents &contents, UndoReport &report)
        : m_contents(contents), m_report(report), m_progress(journal, contents)
    {
    }
    void Run();

private:
    void UndoOutput(Output &o);
    // Gives back the file o's output replaced; path is free now.
    void GiveBack(const Output &o, int folder, const std::string &name);
    void RemoveFolders(const std::set<long> &done);

    const JournalContents &m_contents;
    UndoReport &m_report;
    UndoProgress m_progress;
};

void Undoer::Run()
{
    std::map<long, Output> outputs;
    std::set<long> foldersDone;
    for (const JournalLine &line : m_contents.lines) {
        if (line.kind == JournalLine::Intent) {
            outputs[line.n] = Output{&line.entry, line.n};
            continue;
        }
        const auto it = outputs.find(line.of);
        if (line.kind == JournalLine::Undone && line.result == "folder")
            foldersDone.insert(line.of);
        if (it == outputs.end())
            continue;
        Output &o = it->second;
        o.committed |= line.kind == JournalLine::Commit;
        o.dropped |= line.kind == JournalLine::Drop;
        o.removed |= line.kind == JournalLine::Undone && line.result == "removed";
        o.done |= line.kind == JournalLine::Undone && line.result == "done";
    }
    // Last first: a name written twice ends as it was before the run.
    for (auto it = outputs.rbegin(); it != outputs.rend(); ++it) {
        Output &o = it->second;
        if (o.done)
            m_report.earlier.push_back(o.entry->path);
        else if (!o.dropped)
            UndoOutput(o);
    }
    RemoveFolders(foldersDone);
}

void Undoer::UndoOutput(Output &o)
{
    const JournalEntry &e = *o.entry;
    std::string name, error;
    const UniqueFd folder = OutputFolder(e, name, error);
    if (!folder.Valid()) {
        if (errno == ENOENT && o.committed)
            m_report.gone.push_back(e.path);
        else if (errno != ENOENT)
            m_report.failed.push_back(error);
        return;
    }
    switch (Look(folder.Get(), name, e)) {
    case There::Written:
        if (::unlinkat(folder.Get(), name.c_str(), 0) != 0) {
            m_report.failed.push_back(e.path + ": " + std::strerror(errno));
            return;
        }
        m_report.removed.push_back(e.path);
        m_progress.Note(o.n, "removed");
        GiveBack(o, folder.Get(), name);
        break;
    case There::Nothing:
        // Gone since the run (or never put in place): what it replaced
        // still comes back.
        if (o.committed && !o.removed)
            m_report.gone.push_back(e.path);
        GiveBack(o, folder.Get(), name);
        break;
    case There::Replaced:
        // The output never replaced it, or an earlier undo gave it back:
        // a copy in the trash is not needed.
        if (!e.trashed.empty()) {
            trash::KeptFile kept;
            std::string why;
            if (kept.Find(m_contents.trash, e.trashed, e.path, e.replacedSize, e.replacedSha256, why))
                kept.Forget();
        }
        if (o.removed)
            m_report.restored.push_back(e.path);
        m_progress.Note(o.n, "done");
        break;
    case There::Other:
        // Changed since the run; what it replaced stays in the trash.
        m_report.changed.push_back(e.path);
        break;
    }
}

void Undoer::GiveBack(const Output &o, int folder, const std::string &name)
{
    const JournalEntry &e = *o.entry;
    if (e.replaces && e.trashed.empty()) {
        m_report.lost.push_back(e.path);
    } else if (e.replaces) {
        trash::KeptFile kept;
        std::string why;
        if (!kept.Find(m_contents.trash, e.trashed, e.path, e.replacedSize, e.replacedSha256, why))
            m_report.lost.push_back(e.path);
        else if (!kept.RestoreInto(folder, name, why))
            m_report.failed.push_back(e.path + ": " + why);
        else
            m_report.restored.push_back(e.path);
    }
    m_progress.Note(o.n, "done");
}

// The folders the run made go when empty, deepest first; one holding
// anything stays, which is no failure.
void Undoer::RemoveFolders(const std::set<long> &done)
{
    for (auto it = m_contents.lines.rbegin(); it != m_contents.lines.rend(); ++it) {
        if (it->kind != JournalLine::Folder || done.count(it->n))
            continue;
        std::string name, error;
        const UniqueFd parent = OutputFolder(it->entry, name, error);
        struct stat st;
        if (parent.Valid() && ::fstatat(parent.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISDIR(st.st_mode) && ::unlinkat(parent.Get(), name.c_str(), AT_REMOVEDIR) == 0) {
            m_report.folders.push_back(it->entry.path);
            m_progress.Note(it->n, "folder");
        }
    }
}

} // namespace

UndoReport UndoRun(const std::string &journal)
{
    UndoReport report;
    JournalContents contents;
    std::string error;
    if (!ReadJournal(journal, contents, error)) {
        report.refusedJournal = journal + ": " + error;
        return report;
    }
    for (const std::string &why : contents.refused)
        report.refused.push_back(journal + ": " + why);
    Undoer(journal, contents, report).Run();
    if (journal.ends_with(".jsonl"))
        std::rename(journal.c_str(), (journal + ".undone").c_str());
    return report;
}

std::vector<std::string> UndoLines(const UndoReport &report)
{
    std::vector<std::string> lines;
    if (!report.refusedJournal.empty())
        lines.push_back(Tr(QT_TRANSLATE_NOOP("undolog", "日志被拒绝, 未做任何操作: ")) + report.refusedJournal);
    const std::pair<const std::vector<std::string> *, const char *> groups[] = {
        {&report.removed, QT_TRANSLATE_NOOP("undolog", "已删除: ")},
        {&report.restored, QT_TRANSLATE_NOOP("undolog", "已恢复: ")},
        {&report.folders, QT_TRANSLATE_NOOP("undolog", "已删除空文件夹: ")},
        {&report.gone, QT_TRANSLATE_NOOP("undolog", "已不存在, 无需删除: ")},
        {&report.earlier, QT_TRANSLATE_NOOP("undolog", "之前的撤销已处理: ")},
        {&report.changed, QT_TRANSLATE_NOOP("undolog", "运行后已更改, 未删除: ")},
        {&report.lost, QT_TRANSLATE_NOOP("undolog", "无法恢复被替换的文件: ")},
        {&report.failed, QT_TRANSLATE_NOOP("undolog", "错误: ")},
        {&report.refused, QT_TRANSLATE_NOOP("undolog", "已拒绝日志行: ")},
    };
    for (const auto &[paths, text] : groups)
        for (const std::string &path : *paths)
            lines.push_back(Tr(text) + path);
    return lines;
}
