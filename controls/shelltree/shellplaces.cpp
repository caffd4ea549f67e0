#include "controls/shelltree/shellplaces.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>
#include <array>

namespace {

constexpr std::array<const char *, 30> kPseudoFs = {
    "autofs",   "binfmt_misc", "bpf",      "cgroup",  "cgroup2",     "configfs",        "debugfs",
    "devpts",   "devtmpfs",    "efivarfs", "fusectl", "hugetlbfs",   "mqueue",          "nsfs",
    "overlay",  "proc",        "pstore",   "ramfs",   "rpc_pipefs",  "securityfs",      "selinuxfs",
    "squashfs", "sysfs",       "tmpfs",    "tracefs", "fuse.portal", "fuse.gvfsd-fuse", "fuse.lxcfs",
    "nfsd",     "rootfs"};

// Mounts below these folders are the system's own business; removable media
// under /run/media is the exception.
constexpr std::array<const char *, 7> kSystemPrefixes = {"/proc", "/sys",     "/dev", "/run",
                                                         "/snap", "/var/lib", "/boot"};

bool IsUnder(const QString &path, const QString &folder)
{
    return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

} // namespace

bool IsUserVolume(const QString &rootPath, const QByteArray &fsType, bool isDirectory)
{
    if (rootPath.isEmpty() || rootPath == QLatin1String("/") || !isDirectory)
        return false;
    const QByteArray type = fsType.toLower();
    if (std::find(kPseudoFs.begin(), kPseudoFs.end(), type) != kPseudoFs.end())
        return false;
    if (IsUnder(rootPath, QStringLiteral("/run/media")))
        return true;
    for (const char *prefix : kSystemPrefixes) {
        if (IsUnder(rootPath, QString::fromLatin1(prefix)))
            return false;
    }
    return true;
}

QString VolumeCaption(const QString &rootPath, const QString &label)
{
    return label.trimmed().isEmpty() ? rootPath : label.trimmed();
}

QList<ShellPlace> DefaultShellPlaces()
{
    QList<ShellPlace> places;
    places.append({QCoreApplication::translate("CShellTreeCtrl", "主文件夹"), QDir::homePath(),
                   ShellPlace::Kind::Home});
    places.append({QCoreApplication::translate("CShellTreeCtrl", "文件系统"), QStringLiteral("/"),
                   ShellPlace::Kind::FileSystem});
    QStringList seen;
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes()) {
        const QString root = volume.rootPath();
        if (!volume.isValid() || seen.contains(root) ||
            !IsUserVolume(root, volume.fileSystemType(), QFileInfo(root).isDir()))
            continue;
        seen.append(root);
        places.append({VolumeCaption(root, volume.name()), root, ShellPlace::Kind::Volume});
    }
    return places;
}
