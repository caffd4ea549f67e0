#include "app/dialogs/nautilusscripts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Nautilus hands the selection over one path a line; a name holding a line
// break cannot come through it.
QByteArray ScriptText(const char *command)
{
    return QByteArray("#!/bin/sh\n"
                      "# Written by Velmora's about box: Nautilus lists it under Scripts.\n"
                      "IFS='\n'\n"
                      "set -f\n"
                      "exec ") +
           command + " $NAUTILUS_SCRIPT_SELECTED_FILE_PATHS\n";
}

QString SystemWhy(int error = errno)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool WriteAll(int fd, const QByteArray &bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Written beside its place and renamed over it: what stands there, a link
// too, is replaced as a whole.
bool WriteScript(int dir, const QByteArray &name, const QByteArray &text, QString &why)
{
    const QByteArray temp = "." + name + ".new";
    ::unlinkat(dir, temp.constData(), 0);
    const int fd =
        ::openat(dir, temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0755);
    if (fd < 0) {
        why = SystemWhy();
        return false;
    }
    const bool wrote = WriteAll(fd, text);
    const int writeError = errno;
    if (::close(fd) != 0 || !wrote) {
        why = SystemWhy(wrote ? errno : writeError);
        ::unlinkat(dir, temp.constData(), 0);
        return false;
    }
    if (::renameat(dir, temp.constData(), dir, name.constData()) != 0) {
        why = SystemWhy();
        ::unlinkat(dir, temp.constData(), 0);
        return false;
    }
    return true;
}

} // namespace

QString NautilusScriptsFolder()
{
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty() || !QDir::isAbsolutePath(data))
        data = QDir::homePath() + QStringLiteral("/.local/share");
    return data + QStringLiteral("/nautilus/scripts");
}

QList<NautilusScript> NautilusScripts()
{
    return {
        {QCoreApplication::translate("NautilusScripts", "用 Velmora 转换"), ScriptText("velmora")},
        {QCoreApplication::translate("NautilusScripts", "用 Velmora 预设转换…"),
         ScriptText("velmora --choose-preset --")},
    };
}

bool InstallNautilusScripts(const QString &folder, QStringList &written, QString &why)
{
    written.clear();
    if (!QDir().mkpath(folder)) {
        why = QCoreApplication::translate("NautilusScripts", "无法创建文件夹 %1").arg(folder);
        return false;
    }
    const int dir =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) {
        why = folder + QStringLiteral(": ") + SystemWhy();
        return false;
    }
    bool ok = true;
    for (const NautilusScript &script : NautilusScripts()) {
        const QString path = folder + QLatin1Char('/') + script.name;
        if (!WriteScript(dir, QFile::encodeName(script.name), script.text, why)) {
            why = path + QStringLiteral(": ") + why;
            ok = false;
            break;
        }
        written.push_back(path);
    }
    ::close(dir);
    return ok;
}
