#include "convert/runjournal.h"

#include "convert/safefolders.h"
#include "convert/trash.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <openssl/evp.h>
#include <filesystem>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kKeptJournals = 50;
constexpr std::time_t kKeptSeconds = 30 * 24 * 3600;
constexpr const char *kSuffix = ".jsonl";
constexpr qsizetype kKeyBytes = 32;
constexpr qsizetype kMacHex = 64;

QString Q(const std::string &s)
{
    return QString::fromStdString(s);
}

std::string Tr(const char *text)
{
    return QCoreApplication::translate("undolog", text).toStdString();
}

std::string FillLine(std::size_t line, const std::string &why)
{
    return QCoreApplication::translate("undolog", "第 %1 行: %2").arg(line).arg(Q(why)).toStdString();
}

bool IsJournalName(const std::string &name)
{
    return name.size() > 6 && (name.ends_with(kSuffix) || name.ends_with(".jsonl.undone"));
}

std::string StateFolder()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + "/.local/state";
    return state.toStdString() + "/velmora";
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

QByteArray Mac(const QByteArray &key, const QByteArray &body)
{
    return QMessageAuthenticationCode::hash(body, key, QCryptographicHash::Sha256).toHex();
}

// The line as written: the object's text with its signature as the last
// member, over the text without it.
QByteArray Signed(const QByteArray &key, const QJsonObject &o)
{
    QByteArray body = QJsonDocument(o).toJson(QJsonDocument::Compact);
    const QByteArray mac = Mac(key, body);
    body.chop(1);
    return body + ",\"mac\":\"" + mac + "\"}\n";
}

enum class Check { Good, Unsigned, BadMac };

// The object a signed line holds.
Check Verify(const QByteArray &key, const QByteArray &line, QJsonObject &o)
{
    static const QByteArray mark = ",\"mac\":\"";
    const qsizetype at = line.size() - 2 - kMacHex - mark.size();
    if (at < 1 || !line.endsWith("\"}") || line.mid(at, mark.size()) != mark)
        return Check::Unsigned;
    const QByteArray body = line.left(at) + "}";
    const QByteArray expected = Mac(key, body), given = line.mid(at + mark.size(), kMacHex);
    unsigned char differ = 0;
    for (qsizetype i = 0; i < kMacHex; ++i)
        differ |= static_cast<unsigned char>(expected[i] ^ given[i]);
    if (differ)
        return Check::BadMac;
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    if (!doc.isObject())
        return Check::BadMac;
    o = doc.object();
    return Check::Good;
}

std::string RandomHex(int bytes)
{
    QByteArray random(bytes, '\0');
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(random.data()), bytes / 4);
    return random.toHex().toStdString();
}

// Reads a small regular file exactly, never through a link.
bool ReadKeyFile(const std::string &path, QByteArray &key)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    key.resize(kKeyBytes);
    const bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == kKeyBytes &&
                    ::read(fd, key.data(), kKeyBytes) == kKeyBytes;
    const int why = errno;
    ::close(fd);
    errno = ok ? 0 : why ? why : EINVAL;
    return ok;
}

// Makes the key: written whole under a name of its own, then linked into
// place, so two programs starting at once agree on one key.
bool MakeKeyFile(const std::string &path)
{
    const std::string temp = path + ".new-" + std::to_string(getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    QByteArray key(kKeyBytes, '\0');
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(key.data()), kKeyBytes / 4);
    const bool written = ::write(fd, key.constData(), kKeyBytes) == kKeyBytes && fsync(fd) == 0;
    ::close(fd);
    const bool linked = written && (link(temp.c_str(), path.c_str()) == 0 || errno == EEXIST);
    const int why = errno;
    unlink(temp.c_str());
    errno = why;
    return linked;
}

} // namespace

namespace {

struct DigestFree {
    void operator()(EVP_MD_CTX *c) const { EVP_MD_CTX_free(c); }
};

// SHA-256 of what feed gives it (feed calls add for each piece; false when
// the reading failed), as lower-case hex; empty when it cannot be had.
std::string Sha256Of(const std::function<bool(const std::function<bool(const void *, std::size_t)> &)> &feed)
{
    const std::unique_ptr<EVP_MD_CTX, DigestFree> ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1)
        return {};
    if (!feed([&](const void *p, std::size_t n) { return EVP_DigestUpdate(ctx.get(), p, n) == 1; }))
        return {};
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1)
        return {};
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex.push_back(kHex[digest[i] >> 4]);
        hex.push_back(kHex[digest[i] & 15]);
    }
    return hex;
}

} // namespace

std::string Sha256Hex(const void *data, std::size_t size)
{
    return Sha256Of([&](const auto &add) { return add(data, size); });
}

bool FdSha256(int fd, std::string &hex, std::int64_t &size)
{
    size = 0;
    ssize_t n = 0;
    hex = Sha256Of([&](const auto &add) {
        std::vector<char> buffer(std::size_t(1) << 20);
        while ((n = ::pread(fd, buffer.data(), buffer.size(), off_t(size))) > 0) {
            if (!add(buffer.data(), std::size_t(n)))
                return false;
            size += n;
        }
        return n == 0;
    });
    return n == 0 && !hex.empty();
}

bool FileSha256(const std::string &path, std::string &hex, std::int64_t &size)
{
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    return fd.Valid() && FdSha256(fd.Get(), hex, size);
}

bool JournalKey(QByteArray &key, bool make, std::string &error)
{
    // One key a process for each state folder; tests move the folder.
    static std::mutex mutex;
    static std::string cachedFolder;
    static QByteArray cachedKey;
    const std::string folder = StateFolder();
    std::lock_guard lock(mutex);
    if (folder == cachedFolder && !cachedKey.isEmpty()) {
        key = cachedKey;
        return true;
    }
    const std::string path = folder + "/key";
    bool ok = ReadKeyFile(path, key);
    if (!ok && errno == ENOENT && make)
        ok = (QDir().mkpath(Q(folder)) && MakeKeyFile(path)) && ReadKeyFile(path, key);
    if (!ok) {
        error = path + ": " + (errno == ENOENT ? Tr(QT_TRANSLATE_NOOP("undolog", "没有密钥")) : std::string(std::strerror(errno)));
        return false;
    }
    cachedFolder = folder;
    cachedKey = key;
    return true;
}

std::string RunJournal::Folder()
{
    return StateFolder() + "/runs";
}

RunJournal::~RunJournal()
{
    if (m_file)
        std::fclose(m_file);
}

bool RunJournal::Begin()
{
    if (m_file)
        return true;
    std::string error;
    if (!m_path.empty() || !QDir().mkpath(Q(m_folder)) || !JournalKey(m_key, true, error))
        return false;
    PruneJournals(m_folder);
    // Names sort by the time the run began.
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const long long ns = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
    char name[64];
    std::snprintf(name, sizeof name, "/%020lld-%ld%s", ns, long(getpid()), kSuffix);
    m_path = m_folder + name;
    const int fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 || !(m_file = fdopen(fd, "wb"))) {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    m_fd = fd;
    m_run = RandomHex(16);
    QJsonObject header{{"v", kJournalVersion}, {"kind", "run"}, {"run", Q(m_run)}, {"n", 0}};
    PutName(header, "trash", trash::HomeTrash());
    const QByteArray line = Signed(m_key, header);
    return std::fwrite(line.constData(), 1, std::size_t(line.size()), m_file) == std::size_t(line.size()) &&
           std::fflush(m_file) == 0;
}

void RunJournal::Sync()
{
    if (const int fd = m_fd.load(); fd >= 0)
        fdatasync(fd);
}

long RunJournal::Put(const char *kind, QJsonObject o)
{
    if (!Begin())
        return 0;
    o["v"] = kJournalVersion;
    o["kind"] = kind;
    o["run"] = Q(m_run);
    const long n = m_next++;
    o["n"] = double(n);
    const QByteArray line = Signed(m_key, o);
    // Through to the system before the caller goes on: a killed run's
    // journal still holds every line it wrote.
    const bool written =
        std::fwrite(line.constData(), 1, std::size_t(line.size()), m_file) == std::size_t(line.size()) &&
        std::fflush(m_file) == 0;
    return written ? n : 0;
}

long RunJournal::Intend(const JournalEntry &e)
{
    QJsonObject o{{"size", double(e.size)}, {"sha256", Q(e.sha256)}};
    PutName(o, "path", e.path);
    PutName(o, "root", e.root);
    o["root_id"] = Q(e.rootId);
    if (e.replaces) {
        o["replaced_size"] = double(e.replacedSize);
        o["replaced_sha256"] = Q(e.replacedSha256);
        if (!e.trashed.empty())
            PutName(o, "trashed", e.trashed);
    }
    return Put("intent", std::move(o));
}

bool RunJournal::Committed(long intent)
{
    return intent > 0 && Put("commit", {{"of", double(intent)}}) != 0;
}

bool RunJournal::Dropped(long intent)
{
    return intent > 0 && Put("drop", {{"of", double(intent)}}) != 0;
}

bool RunJournal::MadeFolder(const std::string &path, const std::string &root)
{
    QJsonObject o{{"root_id", Q(FolderIdentity(root))}};
    PutName(o, "path", path);
    PutName(o, "root", root);
    return Put("folder", std::move(o)) != 0;
}

namespace {

// Reads the journal's lines with a bound on each; a last line without its
// end (a killed run's) is not one.
bool ReadLines(int fd, std::vector<QByteArray> &lines, std::string &error)
{
    QByteArray pending;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = std::strerror(errno);
            return false;
        }
        if (n == 0)
            return true;
        pending.append(buffer, n);
        qsizetype from = 0;
        for (qsizetype end; (end = pending.indexOf('\n', from)) >= 0; from = end + 1) {
            if (std::size_t(end - from) > kMaxJournalLine)
                break;
            lines.push_back(pending.mid(from, end - from));
        }
        pending.remove(0, from);
        if (std::size_t(pending.size()) > kMaxJournalLine) {
            error = Tr(QT_TRANSLATE_NOOP("undolog", "有一行超过 64 KB"));
            return false;
        }
    }
}

bool ReadHeader(const QByteArray &key, const QByteArray &line, JournalContents &contents, std::string &error)
{
    QJsonObject o;
    const Check check = Verify(key, line, o);
    if (check == Check::Good && o["v"].toInt() == kJournalVersion && o["kind"] == "run" &&
        o["run"].toString().size() == 32) {
        contents.run = o["run"].toString().toStdString();
        contents.trash = GetName(o, "trash");
        return true;
    }
    const QJsonObject plain = QJsonDocument::fromJson(line).object();
    if (check == Check::Unsigned || plain["v"].toInt() != kJournalVersion)
        error = Tr(QT_TRANSLATE_NOOP("undolog", "由另一版本的 Velmora 写成, 或不是运行日志"));
    else
        error = Tr(QT_TRANSLATE_NOOP("undolog", "不是用此用户的密钥签名的"));
    return false;
}

std::optional<JournalLine> ParseLine(const QJsonObject &o)
{
    static const std::pair<const char *, JournalLine::Kind> kinds[] = {
        {"intent", JournalLine::Intent}, {"commit", JournalLine::Commit}, {"drop", JournalLine::Drop},
        {"folder", JournalLine::Folder}, {"undone", JournalLine::Undone}};
    JournalLine line;
    const auto kind = std::find_if(std::begin(kinds), std::end(kinds),
                                   [&](const auto &k) { return o["kind"] == k.first; });
    if (kind == std::end(kinds))
        return std::nullopt;
    line.kind = kind->second;
    line.n = long(o["n"].toDouble());
    line.of = long(o["of"].toDouble());
    line.result = o["result"].toString().toStdString();
    JournalEntry &e = line.entry;
    e.path = GetName(o, "path");
    e.root = GetName(o, "root");
    e.rootId = o["root_id"].toString().toStdString();
    e.size = std::int64_t(o["size"].toDouble());
    e.sha256 = o["sha256"].toString().toStdString();
    e.replaces = o.contains("replaced_sha256");
    e.replacedSize = std::int64_t(o["replaced_size"].toDouble());
    e.replacedSha256 = o["replaced_sha256"].toString().toStdString();
    e.trashed = GetName(o, "trashed");
    const bool named = !e.path.empty() && !e.root.empty();
    if (line.kind == JournalLine::Intent &&
        (!named || e.sha256.size() != 64 || (e.replaces && e.replacedSha256.size() != 64)))
        return std::nullopt;
    if (line.kind == JournalLine::Folder && !named)
        return std::nullopt;
    return line;
}

} // namespace

bool ReadJournal(const std::string &path, JournalContents &contents, std::string &error)
{
    contents = {};
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = fd < 0 && errno != ELOOP ? std::string(std::strerror(errno)) : Tr(QT_TRANSLATE_NOOP("undolog", "不是普通文件"));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    std::vector<QByteArray> lines;
    const bool read = ReadLines(fd, lines, error);
    ::close(fd);
    QByteArray key;
    if (!read || !JournalKey(key, false, error))
        return false;
    if (lines.empty() || !ReadHeader(key, lines[0], contents, error))
        return lines.empty() ? (error = Tr(QT_TRANSLATE_NOOP("undolog", "是空的")), false) : false;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const auto refuse = [&](const char *why) {
            contents.refused.push_back(FillLine(i + 1, Tr(why)));
        };
        QJsonObject o;
        const Check check = Verify(key, lines[i], o);
        if (check != Check::Good) {
            refuse(check == Check::Unsigned ? QT_TRANSLATE_NOOP("undolog", "没有签名")
                                            : QT_TRANSLATE_NOOP("undolog", "签名不符"));
            continue;
        }
        const std::optional<JournalLine> line = ParseLine(o);
        if (o["v"].toInt() != kJournalVersion || o["run"].toString().toStdString() != contents.run)
            refuse(QT_TRANSLATE_NOOP("undolog", "属于另一次运行"));
        else if (!line || line->n <= contents.last)
            refuse(QT_TRANSLATE_NOOP("undolog", "无法理解"));
        else {
            contents.last = line->n;
            contents.lines.push_back(*line);
        }
    }
    return true;
}

UndoProgress::UndoProgress(const std::string &journal, const JournalContents &contents)
    : m_run(contents.run), m_next(contents.last + 1)
{
    std::string error;
    if (JournalKey(m_key, false, error))
        m_fd = ::open(journal.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
}

UndoProgress::~UndoProgress()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool UndoProgress::Note(long of, const char *result)
{
    if (m_fd < 0)
        return false;
    const QJsonObject o{{"v", kJournalVersion}, {"kind", "undone"}, {"run", Q(m_run)},
                        {"n", double(m_next++)},   {"of", double(of)},    {"result", result}};
    const QByteArray line = Signed(m_key, o);
    return ::write(m_fd, line.constData(), std::size_t(line.size())) == line.size();
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
        if (!IsJournalName(name) || lstat(e.path().c_str(), &st) != 0)
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
