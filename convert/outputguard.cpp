#include "convert/outputguard.h"

#include "imaging/atomicfile.h"
#include "convert/naming.h"

#include <QString>
#include <algorithm>
#include <filesystem>
#include <sys/stat.h>

namespace {

std::string Normal(const std::string &path)
{
    return std::filesystem::path(path).lexically_normal().string();
}

std::string Folded(const std::string &path)
{
    return QString::fromUtf8(Normal(path)).toCaseFolded().toStdString();
}

} // namespace

std::size_t OutputGuard::FoldedHash::operator()(const std::string &name) const
{
    return std::hash<std::string>{}(Folded(name));
}

bool OutputGuard::FoldedEqual::operator()(const std::string &a, const std::string &b) const
{
    return a == b || Folded(a) == Folded(b);
}

std::string OutputGuard::CaseTwin(const std::string &path) const
{
    if (m_written.empty())
        return {};
    const std::string name = Normal(path);
    const auto it = m_written.find(name);
    return it == m_written.end() || *it == name ? std::string() : *it;
}

void OutputGuard::NoteOutput(const std::string &path)
{
    std::string name = Normal(path);
    const auto [it, added] = m_written.insert(name);
    if (!added && *it != name) {
        // The newest case is the one on the disk.
        m_written.erase(it);
        m_written.insert(std::move(name));
    }
}

bool OutputGuard::Wrote(const std::string &path) const
{
    const std::string name = Normal(path);
    const auto it = m_written.find(name);
    return it != m_written.end() && *it == name;
}

std::string OutputGuard::UniqueName(const std::string &path) const
{
    return MakeUniqueName(path, [this](const std::string &candidate) {
        return !m_written.empty() && m_written.count(Normal(candidate)) != 0;
    });
}

std::string OutputGuard::SourceClash(const std::string &source, const std::string &output)
{
    struct stat out;
    if (stat(output.c_str(), &out) != 0)
        return {}; // nothing there, or a dangling link: the link itself is replaced
    struct stat in;
    if (stat(source.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino)
        return Normal(source) == Normal(output)
                   ? std::string()
                   : std::string(QT_TRANSLATE_NOOP("FileRecord",
                                                   "the output is this file's source under another name"));
    if (!m_haveSourceIds) {
        m_haveSourceIds = true;
        for (int i = 0; i < m_job.GetFileCount(); ++i) {
            struct stat st;
            if (stat(m_job.GetFile(i).c_str(), &st) == 0)
                m_sourceIds.emplace_back(st.st_dev, st.st_ino);
        }
        std::sort(m_sourceIds.begin(), m_sourceIds.end());
    }
    return std::binary_search(m_sourceIds.begin(), m_sourceIds.end(), std::pair(out.st_dev, out.st_ino))
               ? QT_TRANSLATE_NOOP("FileRecord", "the output is another source of this run")
               : std::string();
}

void OutputGuard::BeforeWritingInto(const std::string &folder)
{
    if (m_swept.insert(Normal(folder.empty() ? "." : folder)).second)
        RemoveStaleTemporaries(folder);
}
