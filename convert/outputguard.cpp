#include "convert/outputguard.h"

#include "imaging/atomicfile.h"
#include "convert/naming.h"

#include <QString>
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

std::string OutputGuard::CaseTwin(const std::string &path) const
{
    if (m_written.empty())
        return {};
    const auto it = m_written.find(Folded(path));
    return it == m_written.end() || it->second == Normal(path) ? std::string() : it->second;
}

void OutputGuard::NoteOutput(const std::string &path)
{
    m_written[Folded(path)] = Normal(path);
}

bool OutputGuard::Wrote(const std::string &path) const
{
    const auto it = m_written.find(Folded(path));
    return it != m_written.end() && it->second == Normal(path);
}

std::string OutputGuard::UniqueName(const std::string &path) const
{
    return MakeUniqueName(path, [this](const std::string &candidate) {
        return !m_written.empty() && m_written.count(Folded(candidate)) != 0;
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
                m_sourceIds.emplace(st.st_dev, st.st_ino);
        }
    }
    return m_sourceIds.count({out.st_dev, out.st_ino})
               ? QT_TRANSLATE_NOOP("FileRecord", "the output is another source of this run")
               : std::string();
}

void OutputGuard::BeforeWritingInto(const std::string &folder)
{
    if (m_swept.insert(Normal(folder.empty() ? "." : folder)).second)
        RemoveStaleTemporaries(folder);
}
