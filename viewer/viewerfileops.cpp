#include "viewer/viewerfileops.h"

#include "imaging/formats.h"
#include "convert/naming.h"
#include "convert/trash.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace viewerfiles {

namespace {

fs::path ToPath(const QString &s)
{
    return fs::path(s.toStdString());
}

QString Quoted(const QString &path)
{
    return QString::fromUtf8("“%1”").arg(path);
}

// Keeps the copy's modification time that of the original, as a file
// manager does; a failure here is not worth failing the copy for.
void CopyModificationTime(const QString &source, const QString &target)
{
    std::error_code ec;
    const auto when = fs::last_write_time(ToPath(source), ec);
    if (!ec)
        fs::last_write_time(ToPath(target), when, ec);
}

} // namespace

SaveFilter SaveFilterFor(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    const int dot = name.lastIndexOf('.');
    const QString ext = dot < 0 ? QString() : name.mid(dot + 1).toLower();
    // A ".jpeg" name gets the all-files filter, as it always has.
    if (ext != QLatin1String("jpeg") && FormatByExtension(ext.toStdString()))
        return {QCoreApplication::translate("CPreviewDlg", "%1 文件 (*.%2) ").arg(ext.toUpper(), ext),
                "*." + ext};
    return {QCoreApplication::translate("CPreviewDlg", "所有文件 (*.*) "), "*.*"};
}

QString NameFilter(const SaveFilter &filter)
{
    // The dialog reads the patterns from the parentheses at the very end.
    return filter.description.trimmed();
}

bool IsSameFile(const QString &a, const QString &b)
{
    std::error_code ec;
    const bool same = fs::equivalent(ToPath(a), ToPath(b), ec);
    return !ec && same;
}

QString CopyFileTo(const QString &source, const QString &target)
{
    if (!CopyFileAtomically(source.toStdString(), target.toStdString()))
        return QCoreApplication::translate("CPreviewDlg", "无法将%1复制到%2。")
            .arg(Quoted(source), Quoted(target));
    CopyModificationTime(source, target);
    return {};
}

QString MoveFileTo(const QString &source, const QString &target)
{
    const std::string from = source.toStdString(), to = target.toStdString();
    if (std::rename(from.c_str(), to.c_str()) == 0)
        return {};
    const int renameError = errno;  // before anything else can change it
    const QString failed =
        QCoreApplication::translate("CPreviewDlg", "无法将%1移动到%2。").arg(Quoted(source), Quoted(target));
    if (renameError != EXDEV)
        return failed;
    // Another file system: the source goes only once the copy is complete.
    if (!CopyFileAtomically(from, to))
        return failed;
    CopyModificationTime(source, target);
    std::error_code ec;
    if (!fs::remove(ToPath(source), ec) || ec)
        return QCoreApplication::translate("CPreviewDlg", "已将%1复制到%2,但无法删除原文件。")
            .arg(Quoted(source), Quoted(target));
    return {};
}

QString MoveToTrash(const QString &path)
{
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(ToPath(path), ec);
    if (st.type() == fs::file_type::not_found)
        return {};
    // The home trash lives in the user's data folder, which a new account
    // may not have yet; Qt only makes the trash inside an existing one.
    trash::HomeTrash();
    QFile file(path);
    if (file.moveToTrash()) {
        // Without a usable trash folder Qt reports success for a move into
        // "files" under the working folder: put such a file back.
        const QString moved = file.fileName();
        if (!QFileInfo(moved).isRelative())
            return {};
        const QString movedAbs = QFileInfo(moved).absoluteFilePath();
        if (std::rename(movedAbs.toStdString().c_str(), path.toStdString().c_str()) == 0) {
            // Clear up what Qt left there; rmdir spares folders that hold more.
            QDir files = QFileInfo(movedAbs).dir();
            QFile::remove(files.filePath("../info/" + QFileInfo(movedAbs).fileName() + ".trashinfo"));
            const QString root = QFileInfo(files.absolutePath()).path();
            QDir(root).rmdir("info");
            QDir(root).rmdir(files.dirName());
            return QCoreApplication::translate("CPreviewDlg", "无法将%1移到回收站:找不到可用的回收站。")
                .arg(Quoted(path));
        }
        return QCoreApplication::translate("CPreviewDlg", "无法将%1移到回收站,它已被移到%2。")
            .arg(Quoted(path), Quoted(movedAbs));
    }
    QString text = QCoreApplication::translate("CPreviewDlg", "无法将%1移到回收站。").arg(Quoted(path));
    if (!file.errorString().isEmpty())
        text += "\n" + file.errorString();
    return text;
}

} // namespace viewerfiles
