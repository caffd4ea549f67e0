#include "app/openrequest.h"

#include "convert/imagefiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

QString LocalPath(const QString &argument, const QString &currentFolder)
{
    QString path = argument;
    if (argument.startsWith(QStringLiteral("file:"), Qt::CaseInsensitive)) {
        const QUrl url(argument);
        if (!url.isValid() || !url.isLocalFile())
            return {};
        path = url.toLocalFile();
    }
    if (path.isEmpty())
        return {};
    path = QFile::decodeName(QByteArray::fromStdString(
        AbsolutePath(QFile::encodeName(path).toStdString(), QFile::encodeName(currentFolder).toStdString())));
    // ".." may lead back through a link: the disk says where it goes.
    if (path.endsWith(QStringLiteral("/..")) || path.contains(QStringLiteral("/../"))) {
        const QString real = QFileInfo(path).canonicalFilePath();
        if (!real.isEmpty())
            return real;
    }
    return QDir::cleanPath(path);
}

OpenRequest ParseOpenArguments(const QStringList &arguments, const QString &currentFolder)
{
    OpenRequest request;
    bool decided = false;
    bool byFiles = false;
    for (const QString &argument : arguments) {
        const QString path = LocalPath(argument, currentFolder);
        const QFileInfo info(path);
        if (path.isEmpty() || !info.exists()) {
            request.missing.append(argument);
            continue;
        }
        if (!decided) {
            decided = true;
            byFiles = !info.isDir();
            request.folder = byFiles ? info.path() : path;
        }
        if (byFiles && !info.isDir() && info.path() == request.folder &&
            !request.names.contains(info.fileName()))
            request.names.append(info.fileName());
    }
    return request;
}
