#include "controls/shelltree/shellfolders.h"

#include <QCollator>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <algorithm>

namespace {

constexpr QDir::Filters kVisibleFolders = QDir::Dirs | QDir::NoDotAndDotDot;

} // namespace

namespace shelltree {

QString JoinTreePath(const QString &folder, const QString &name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

void SortFolderNames(QStringList &names)
{
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(names.begin(), names.end(), [&collator](const QString &a, const QString &b) {
        const int c = collator.compare(a, b);
        return c != 0 ? c < 0 : a < b; // equal under the collator: keep a stable, exact order
    });
}

bool HasVisibleSubFolder(const QString &path)
{
    QDirIterator it(path, kVisibleFolders);
    return it.hasNext();
}

QList<SubFolder> ListSubFolders(const QString &path, const QStringList &ancestors)
{
    QList<SubFolder> result;
    const QFileInfo self(path);
    if (!self.isDir() || !self.isReadable())
        return result;
    QStringList names = QDir(path).entryList(kVisibleFolders, QDir::NoSort);
    SortFolderNames(names);
    for (const QString &name : names) {
        SubFolder sub;
        sub.name = name;
        sub.path = JoinTreePath(path, name);
        const QString canonical = QFileInfo(sub.path).canonicalFilePath();
        if (canonical.isEmpty())
            continue; // gone since the listing
        sub.isLoop = ancestors.contains(canonical);
        sub.mayHaveChildren = !sub.isLoop && HasVisibleSubFolder(sub.path);
        result.append(sub);
    }
    return result;
}

} // namespace shelltree
