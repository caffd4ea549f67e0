#include "app/documentstart.h"

#include "imaging/documentwriter.h"
#include "imaging/formats.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QUrl>

QString AskDocumentPath(QWidget *parent, const DocumentChoices &choices, const QString &folder)
{
    const bool tiff = choices.kind == DocumentChoices::Tiff;
    const QString suffix = tiff ? QStringLiteral(".tif") : QStringLiteral(".pdf");
    const QString filter = tiff ? QObject::tr("TIFF 文档 (*.tif *.tiff)") : QObject::tr("PDF 文档 (*.pdf)");
    const QString name = QObject::tr("合并") + suffix;
    QString path = QFileDialog::getSaveFileName(parent, QObject::tr("合并为一个文档"),
                                                QDir(folder).filePath(name), filter);
    DocumentKind kind;
    if (!path.isEmpty() && !DocumentKindOf(QFile::encodeName(path).toStdString(), kind))
        path += suffix;
    return path;
}

bool OpenDocumentResult(const QStringList &results)
{
    if (results.size() != 1)
        return false;
    const QString ext = QFileInfo(results.front()).suffix().toLower();
    if (SourceTypeFromExtension(ext.toStdString()) != CXIMAGE_FORMAT_UNKNOWN)
        return false;
    QDesktopServices::openUrl(QUrl::fromLocalFile(results.front()));
    return true;
}
