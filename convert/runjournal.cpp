#include "convert/runjournal.h"

#include "convert/trash.h"
#include "imaging/cxfile.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr int kKeptJournals = 50;
constexpr std::time_t kKeptSeconds = 30 * 24 * 3600;
constexpr const char *kSuffix = ".jsonl";

bool IsJournalName(const std::string &name)
{
    return name.size() > 6 && (name.ends_with(kSuffix) || name.ends_with(".jsonl.undone"));
}

// Hashes the file as it is now, or false when it cannot be read.
bool FileSha256(const std::string &path, std::string &hex, std::int64_t &size)
{
    CxIOFile in;
    if (!in.Open(path.c_str(), "rb"))
        return false;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    char buffer[1 << 16];
    size = 0;
    for (std::size_t n; (n = in.Read(buffer, 1, sizeof buffer)) > 0; size += std::int64_t(n))
        hash.addData(QByteArrayView(buffer, qsizetype(n)));
    if (in.Error())
        return false;
    hex = hash.result().toHex().toStdString();
    return true;
}

QString Q(const std::string &s)
{
    return QString::fromStdString(s);
}

// A name that is not UTF-8 is kept exactly too, in base64.
void PutName(QJsonObject &o, const char *key, const std::string &name)
{
    const QString text = Q(name);
    o[key] = text;
    if (text.toStdString() != name)
        o[QString(key) + "_b64"] = QString::fromLatin1(QByteArray::fromStdString(name).toBase64());
}

std::string GetName(const QJsonObject &o, const char *key)
{
    const QJsonValue exact = o[QString(key) + "_b64"];
    return exact.isString() ? QByteArray::fromBase64(exact.toString().toLatin1()).toStdString()
                            : o[key].toString().toStdString();
}

} // namespace

std::string Sha256Hex(const void *data, std::size_t size)
{
    return QCryptographicHash::hash(QByteArrayView(static_cast<const char *>(data), qsizetype(size)),
                                    QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

std::string RunJournal::Folder()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + "/.local/state";
    return state.toStdString() + "/velmora/runs";
}

RunJournal::~RunJournal()
{
    if (m_file)
        std::fclose(m_file);
}

bool RunJournal::Add(const JournalEntry &entry)
{
    if (!m_file) {
        if (!m_path.empty() || !QDir().mkpath(Q(m_folder)))
            return false;
        PruneJournals(m_folder);
        // Names sort by the time the run began.
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        const long long ns = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
        char name[64];
        std::snprintf(name, sizeof name, "/%020lld-%ld%s", ns, long(getpid()), kSuffix);
        m_path = m_folder + name;
        m_file = std::fopen(m_path.c_str(), "wbx");
        if (!m_file)
            return false;
    }
    QJsonObject o{{"size", double(entry.size)}, {"sha256", Q(entry.sha256)}};
    PutName(o, "path", entry.path);
    if (!entry.trashed.empty())
        PutName(o, "trashed", entry.trashed);
    if (entry.replacedLost)
        o["replaced_lost"] = true;
    const QByteArray line = QJsonDocument(o).toJson(QJsonDocument::Compact) + "\n";
    return std::fwrite(line.constData(), 1, std::size_t(line.size()), m_file) == std::size_t(line.size()) &&
           std::fflush(m_file) == 0;
}

bool ReadJournal(const std::string &path, std::vector<JournalEntry> &entries)
{
    QFile file(Q(path));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !doc.isObject())
            continue;
        const QJsonObject o = doc.object();
        JournalEntry e{GetName(o, "path"), std::int64_t(o["size"].toDouble()),
                       o["sha256"].toString().toStdString(), GetName(o, "trashed"),
                       o["replaced_lost"].toBool()};
        if (!e.path.empty() && e.sha256.size() == 64)
            entries.push_back(std::move(e));
    }
    return true;
}

std::string NewestJournal(const std::string &folder)
{
    std::string newest;
    std::error_code ec;
    for (const fs::directory_entry &e : fs::directory_iterator(folder, ec)) {
        const std::string name = e.path().filename().string();
        if (name.ends_with(kSuffix) && name > newest)
            newest = name;
    }
    return newest.empty() ? std::string() : folder + "/" + newest;
}

void PruneJournals(const std::string &folder, std::time_t now)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const fs::directory_entry &e : fs::directory_iterator(folder, ec)) {
        const std::string name = e.path().filename().string();
        struct stat st;
        if (!IsJournalName(name) || stat(e.path().c_str(), &st) != 0)
            continue;
        if (now - st.st_mtime > kKeptSeconds)
            unlink(e.path().c_str());
        else
            names.push_back(name);
    }
    std::sort(names.begin(), names.end(), std::greater<>());
    for (std::size_t i = kKeptJournals; i < names.size(); ++i)
        unlink((folder + "/" + names[i]).c_str());
}

namespace {

// One output: removed when it is as written, then what it replaced back.
void UndoEntry(const JournalEntry &e, UndoReport &report)
{
    std::string hex;
    std::int64_t size = 0;
    struct stat st;
    const bool there = lstat(e.path.c_str(), &st) == 0;
    if (there) {
        if (!S_ISREG(st.st_mode) || !FileSha256(e.path, hex, size) || size != e.size || hex != e.sha256) {
            report.changed.push_back(e.path); // what it replaced stays in the trash
            return;
        }
        if (unlink(e.path.c_str()) != 0) {
            report.failed.push_back(e.path + ": " + std::strerror(errno));
            return;
        }
        report.removed.push_back(e.path);
    }
    if (e.replacedLost) {
        report.lost.push_back(e.path);
    } else if (!e.trashed.empty()) {
        std::string error;
        if (lstat(e.trashed.c_str(), &st) != 0)
            report.lost.push_back(e.path);
        else if (trash::Restore(e.trashed, e.path, error))
            report.restored.push_back(e.path);
        else
            report.failed.push_back(error);
    }
}

} // namespace

UndoReport UndoRun(const std::string &journal)
{
    UndoReport report;
    std::vector<JournalEntry> entries;
    if (!ReadJournal(journal, entries)) {
        report.failed.push_back(journal + ": " + std::strerror(errno));
        return report;
    }
    // Last first: a name written twice ends as it was before the run.
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
        UndoEntry(*it, report);
    if (journal.ends_with(kSuffix))
        std::rename(journal.c_str(), (journal + ".undone").c_str());
    return report;
}

std::vector<std::string> UndoLines(const UndoReport &report)
{
    const auto tr = [](const char *text) {
        return QCoreApplication::translate("undolog", text).toStdString();
    };
    std::vector<std::string> lines;
    const std::pair<const std::vector<std::string> *, const char *> groups[] = {
        {&report.removed, QT_TRANSLATE_NOOP("undolog", "已删除: ")},
        {&report.restored, QT_TRANSLATE_NOOP("undolog", "已恢复: ")},
        {&report.changed, QT_TRANSLATE_NOOP("undolog", "运行后已更改, 未删除: ")},
        {&report.lost, QT_TRANSLATE_NOOP("undolog", "无法恢复被替换的文件: ")},
        {&report.failed, QT_TRANSLATE_NOOP("undolog", "错误: ")},
    };
    for (const auto &[paths, text] : groups)
        for (const std::string &path : *paths)
            lines.push_back(tr(text) + path);
    return lines;
}
