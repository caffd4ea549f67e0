#include "lists/imagelists.h"

#include "lists/captions.h"
#include "lists/folderlistctrl.h"
#include "imaging/formats.h"
#include "resources/ids_lists.h"
#include "convert/imagefiles.h"
#include "lists/selectedlistctrl.h"
#include "imaging/formats.h"
#include "imaging/imageheader.h"
#include "imaging/thumbnail.h"
#include "lists/thumbnailloader.h"
#include "controls/waitcursor.h"

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QProgressBar>
#include <QSet>
#include <QTimer>

#include <algorithm>

#include <sys/stat.h>
#ifdef Q_OS_LINUX
#include <QSocketNotifier>
#include <sys/inotify.h>
#include <unistd.h>
#endif

static void InitListsResources()
{
    Q_INIT_RESOURCE(lists);
}

namespace {

const char *const kTitle = "Velmora";
const char *const kAddFirst =
    QT_TRANSLATE_NOOP("CImageLists", "请先在上方点击你想要选择的图像，然后请点击“添加”按钮!");
const char *const kRemoveFirst =
    QT_TRANSLATE_NOOP("CImageLists", "请先在下方点击你想要移除的图像，然后请点击“移除”按钮!");

// A burst of changes (a copy of many files) is applied once it settles,
// and at least this often while it goes on.
constexpr int kSettleMs = 300;
constexpr int kMaxWaitMs = 1000;

QString FromFs(const std::string &s)
{
    return QFile::decodeName(QByteArray::fromStdString(s));
}

std::string ToFs(const QString &s)
{
    return QFile::encodeName(s).toStdString();
}

bool HasHan(const QString &text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.script() == QChar::Script_Han; });
}

} // namespace

// The desktop's name for the file's type, in the language the window speaks:
// where its MIME database has no Chinese name for a type (AVIF, JPEG XL),
// a name made from the English one stands in, so the column never mixes languages.
QString CImageLists::FileTypeName(const QString &path)
{
    static const QMimeDatabase mimeDb;
    const QMimeType mime = mimeDb.mimeTypeForFile(path);
    // A file of a format only read (or kept as another: PNM) that the
    // desktop knows by none of its row's types (a raw extension it lacks, taken for the TIFF it is in
    // form) is named after the row.
    const ImageFormat *format = FormatByType(GetImageType(ToFs(path)));
    const std::string mimeName = mime.name().toStdString();
    if (format &&
        (!format->Writable() || (format->writtenAs != CXIMAGE_FORMAT_UNKNOWN && !format->facts.pages)) &&
        std::ranges::find(format->MimeTypes(), mimeName) == format->MimeTypes().end())
        return QString::fromLatin1(format->name);
    const QString comment = mime.comment();
    if (QLocale().language() != QLocale::Chinese || HasHan(comment))
        return comment;
    // The untranslated name is English: "JPEG XL image".
    QString name = comment;
    if (name.endsWith(QLatin1String(" image")))
        name.chop(6);
    else if (format)
        name = QString::fromLatin1(format->name);
    return tr("%1 图像").arg(name);
}

namespace {

// Paths compare without regard to case; the folded form is the set key.
QString PathKey(const QString &path)
{
    return path.toCaseFolded();
}

} // namespace

QSet<QString> CImageLists::ExistingPathKeys() const
{
    QSet<QString> keys;
    for (const QString &path : m_selectedList->Paths())
        keys.insert(PathKey(path));
    return keys;
}

CImageLists::CImageLists(FolderListCtrl *folderList, SelectedListCtrl *selectedList, QLabel *countLabel,
                         QLabel *loadingLabel, QProgressBar *loadingBar, QWidget *messageParent)
    : QObject(messageParent), m_folderList(folderList), m_selectedList(selectedList),
      m_countLabel(countLabel), m_loadingLabel(loadingLabel), m_loadingBar(loadingBar),
      m_messageParent(messageParent)
{
    InitListsResources();
    m_placeholder =
        QIcon(QPixmap(QString::fromLatin1(listsid::kPlaceholderPath)).copy(0, 0, kThumbWidth, kThumbHeight));
    if (m_selectedList->m_nColumns == 0)
        m_selectedList->SetColumns(tr(kSelectedColumns));
    connect(m_folderList, &FolderListCtrl::commandRequested, this, &CImageLists::OnFolderCommand);
    connect(m_folderList, &FolderListCtrl::viewRequested, this, &CImageLists::viewRequested);
    connect(m_selectedList, &SelectedListCtrl::commandRequested, this, &CImageLists::OnSelectedCommand);
    connect(m_selectedList, &SelectedListCtrl::folderRowsDropped, this, &CImageLists::OnAdd);
    connect(m_selectedList, &SelectedListCtrl::filesDropped, this, &CImageLists::AddPaths);
    ShowLoading(false, 0);
    UpdateCountLabel();

    m_diskTimer.setSingleShot(true);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &CImageLists::OnDirectoryChanged);
    connect(&m_diskTimer, &QTimer::timeout, this, [this] {
        m_sinceFirstChange.invalidate();
        if (m_nHolds > 0)
            m_bDiskPending = true;
        else
            ApplyDiskChanges();
    });
#ifdef Q_OS_LINUX
    m_nWritesFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_nWritesFd >= 0) {
        m_pWritesNotifier = new QSocketNotifier(m_nWritesFd, QSocketNotifier::Read, this);
        connect(m_pWritesNotifier, &QSocketNotifier::activated, this, &CImageLists::OnWritesSeen);
    }
#endif
}

CImageLists::~CImageLists()
{
    // Joins after the file being decoded; its wakes die with this object.
    m_pLoaderThread.reset();
#ifdef Q_OS_LINUX
    delete m_pWritesNotifier;
    if (m_nWritesFd >= 0)
        close(m_nWritesFd);
#endif
}

CImageLists::FileStamp CImageLists::StampOf(const QString &name) const
{
    struct stat st;
    if (stat(ToFs(JoinPath(m_strFolder, name)).c_str(), &st) != 0)
        return {};
    return {std::int64_t(st.st_size), std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

void CImageLists::ListFolder(const QString &path)
{
    if (m_bStopping) {
        // Asked again while waiting for the old loader: list once that is over.
        QTimer::singleShot(0, this, [this, path] { ListFolder(path); });
        return;
    }
    StopLoader();
    m_strFolder = FromFs(TrimFolder(ToFs(path)));
    m_fileNames.clear();
    for (const std::string &name : ListImageFiles(ToFs(m_strFolder)))
        m_fileNames.push_back(FromFs(name));
    FillFolderList();
    WatchFolder();
    StartLoader();
}

void CImageLists::WatchFolder()
{
    const QStringList watched = m_watcher.directories();
    if (!watched.isEmpty())
        m_watcher.removePaths(watched);
    m_diskTimer.stop();
    m_sinceFirstChange.invalidate();
    m_bDiskPending = false;
    m_bReloadThumbs = false;
    if (!m_strFolder.isEmpty() && QFileInfo(m_strFolder).isDir())
        m_watcher.addPath(m_strFolder);
    WatchWrites();
}

void CImageLists::WatchWrites()
{
#ifdef Q_OS_LINUX
    if (m_nWritesFd < 0)
        return;
    const int watch = m_strFolder.isEmpty() ? -1
                                            : inotify_add_watch(m_nWritesFd, ToFs(m_strFolder).c_str(),
                                                                IN_CLOSE_WRITE | IN_ONLYDIR);
    if (m_nWritesWatch >= 0 && m_nWritesWatch != watch)
        inotify_rm_watch(m_nWritesFd, m_nWritesWatch);
    m_nWritesWatch = watch;
#endif
}

void CImageLists::OnWritesSeen()
{
#ifdef Q_OS_LINUX
    bool seen = false;
    alignas(inotify_event) char buf[4096];
    for (ssize_t n; (n = read(m_nWritesFd, buf, sizeof buf)) > 0;) {
        for (const char *p = buf; p < buf + n;) {
            const auto *e = reinterpret_cast<const inotify_event *>(p);
            // Only pictures of the listed folder: the removal of an old
            // watch and a text file saved there change no row.
            if (e->wd == m_nWritesWatch && (e->mask & IN_CLOSE_WRITE) && e->len > 0 &&
                GetImageType(e->name) != 0)
                seen = true;
            p += sizeof(inotify_event) + e->len;
        }
    }
    if (seen)
        OnDirectoryChanged();
#endif
}

void CImageLists::OnDirectoryChanged()
{
    if (!m_sinceFirstChange.isValid())
        m_sinceFirstChange.start();
    const qint64 left = kMaxWaitMs - m_sinceFirstChange.elapsed();
    m_diskTimer.start(int(std::clamp<qint64>(left, 0, kSettleMs)));
}

void CImageLists::HoldDiskChanges()
{
    ++m_nHolds;
}

void CImageLists::ReleaseDiskChanges()
{
    if (m_nHolds > 0 && --m_nHolds == 0 && m_bDiskPending)
        ApplyDiskChanges();
}

void CImageLists::Reload()
{
    m_bReloadThumbs = true;
    if (m_nHolds > 0)
        m_bDiskPending = true;
    else
        ApplyDiskChanges();
}

void CImageLists::ApplyDiskChanges()
{
    if (m_bStopping) {
        // Inside the wait for the old loader: try again once it is over.
        m_diskTimer.start(kSettleMs);
        return;
    }
    m_bDiskPending = false;
    if (m_strFolder.isEmpty()) {
        m_bReloadThumbs = false;
        return;
    }
    // A folder that went away and came back is watched again.
    if (m_watcher.directories().isEmpty() && QFileInfo(m_strFolder).isDir()) {
        m_watcher.addPath(m_strFolder);
        WatchWrites();
    }
    // Nothing decoded before the reload may reach the rows after it.
    if (m_bReloadThumbs)
        StopLoader();
    std::vector<QString> names;
    for (const std::string &name : ListImageFiles(ToFs(m_strFolder)))
        names.push_back(FromFs(name));
    // Both lists are in listing order: one walk finds the gone, the new and
    // the changed.
    bool added = false;
    m_folderList->setUpdatesEnabled(false);
    std::size_t row = 0, next = 0;
    while (row < m_fileNames.size() || next < names.size()) {
        if (row < m_fileNames.size() && next < names.size() && m_fileNames[row] == names[next]) {
            const FileStamp now = StampOf(names[next]);
            if (now != m_fileStamps[row]) {
                m_fileStamps[row] = now;
                RedoFolderRow(int(row));
                added = true;
            }
            ++row;
            ++next;
        } else if (next == names.size() ||
                   (row < m_fileNames.size() && !ImageNameLess(ToFs(names[next]), ToFs(m_fileNames[row])))) {
            RemoveFolderRow(int(row));
        } else {
            InsertFolderRow(int(row++), names[next++]);
            added = true;
        }
    }
    if (m_bReloadThumbs) {
        m_thumbDone.clear();
        for (int i = 0; i < m_folderList->count(); ++i) {
            QListWidgetItem *item = m_folderList->item(i);
            item->setIcon(m_placeholder);
            item->setText(item->data(FolderListCtrl::NameRole).toString());
        }
    }
    m_folderList->setUpdatesEnabled(true);
    if (added || m_bReloadThumbs) {
        m_bReloadThumbs = false;
        StopLoader();
        StartLoader();
    }
    emit folderRefreshed();
}

void CImageLists::InsertFolderRow(int row, const QString &name)
{
    auto *item = new QListWidgetItem(m_placeholder, name);
    const quint64 serial = m_nextSerial++;
    item->setData(FolderListCtrl::NameRole, name);
    item->setData(FolderListCtrl::SerialRole, QVariant::fromValue<qulonglong>(serial));
    m_folderList->insertItem(row, item);
    m_rowsBySerial.insert(serial, item);
    m_fileNames.insert(m_fileNames.begin() + row, name);
    m_fileStamps.insert(m_fileStamps.begin() + row, StampOf(name));
}

void CImageLists::RedoFolderRow(int row)
{
    QListWidgetItem *item = m_folderList->item(row);
    const quint64 old = item->data(FolderListCtrl::SerialRole).toULongLong();
    m_rowsBySerial.remove(old);
    m_thumbDone.remove(old);
    const quint64 serial = m_nextSerial++;
    item->setData(FolderListCtrl::SerialRole, QVariant::fromValue<qulonglong>(serial));
    m_rowsBySerial.insert(serial, item);
    item->setIcon(m_placeholder);
    item->setText(item->data(FolderListCtrl::NameRole).toString());
    item->setData(FolderListCtrl::PagesRole, QVariant());
}

void CImageLists::FillFolderList()
{
    WaitCursor wait;
    m_folderList->setUpdatesEnabled(false);
    m_folderList->clear();
    m_rowsBySerial.clear();
    m_rowsBySerial.reserve(qsizetype(m_fileNames.size()));
    m_thumbDone.clear();
    const std::vector<QString> names = std::move(m_fileNames);
    m_fileNames.clear();
    m_fileNames.reserve(names.size());
    m_fileStamps.clear();
    m_fileStamps.reserve(names.size());
    for (const QString &name : names)
        InsertFolderRow(m_folderList->count(), name);
    // A folder listed anew starts at its top, wherever the last one was.
    m_folderList->scrollToTop();
    m_folderList->setUpdatesEnabled(true);
}

void CImageLists::StartLoader()
{
    std::vector<LoaderJob> jobs;
    jobs.reserve(m_fileNames.size());
    const bool autoRotate = !m_autoRotate || m_autoRotate();
    for (int row = 0; row < m_folderList->count(); ++row) {
        const QListWidgetItem *item = m_folderList->item(row);
        LoaderJob job;
        job.serial = item->data(FolderListCtrl::SerialRole).toULongLong();
        if (m_thumbDone.contains(job.serial))
            continue;
        job.path = ToFs(JoinPath(m_strFolder, item->data(FolderListCtrl::NameRole).toString()));
        job.type = int(GetImageType(job.path));
        job.autoRotate = autoRotate;
        jobs.push_back(std::move(job));
    }
    const quint64 gen = ++m_loaderGeneration;
    auto wake = [this, gen] {
        QMetaObject::invokeMethod(
            this, [this, gen] { OnLoaderWake(gen); }, Qt::QueuedConnection);
    };
    m_nLoaded = 0;
    m_bLoaderRunning = true;
    std::shared_ptr<const CThumbCache> cache;
    if (autoRotate && (!m_thumbCache || m_thumbCache()))
        cache = std::make_shared<const CThumbCache>();
    m_pLoaderThread = std::make_unique<CThumbnailLoader>(std::move(jobs), wake, std::move(cache));
    ShowLoading(m_pLoaderThread->JobCount() > 0, 0);
    m_pLoaderThread->Start();
}

bool CImageLists::StopLoader()
{
    if (!m_pLoaderThread || m_bStopping) {
        if (!m_bStopping)
            m_bLoaderRunning = false;
        return true;
    }
    m_bStopping = true;
    {
        WaitCursor wait;
        m_pLoaderThread->RequestStop();
        // The thread ends soon: a long decode is cut short. Meanwhile the
        // window keeps painting and applying what the loader delivers; input
        // waits.
        while (!m_pLoaderThread->IsFinished())
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                            QEventLoop::WaitForMoreEvents);
        m_pLoaderThread->Join();
        m_pLoaderThread.reset();
        // Wakes of that loader still queued now find nothing to do.
        ++m_loaderGeneration;
    }
    m_bStopping = false;
    m_bLoaderRunning = false;
    ShowLoading(false, 0);
    m_folderList->setUpdatesEnabled(true);
    m_folderList->viewport()->update();
    return true;
}

void CImageLists::OnLoaderWake(quint64 gen)
{
    if (gen != m_loaderGeneration || !m_pLoaderThread)
        return;
    const bool finished = m_pLoaderThread->IsFinished();
    DrainLoader();
    if (finished && !m_bStopping)
        FinishLoader();
}

void CImageLists::DrainLoader()
{
    std::vector<LoaderResult> results = m_pLoaderThread->TakeResults();
    if (results.empty())
        return;
    for (LoaderResult &r : results) {
        ++m_nLoaded;
        QListWidgetItem *item = FolderItemBySerial(r.serial);
        if (!item)
            continue; // the row went away while its file was decoded
        m_thumbDone.insert(r.serial);
        item->setText(FormatCaption(r.width, r.height, item->data(FolderListCtrl::NameRole).toString()));
        item->setData(FolderListCtrl::PagesRole, r.pages > 1 ? QVariant(r.pages) : QVariant());
        // An undecodable file keeps the placeholder.
        if (r.valid)
            item->setIcon(QIcon(QPixmap::fromImage(std::move(r.thumb))));
    }
    const std::size_t total = m_pLoaderThread->JobCount();
    ShowLoading(true, total ? int(m_nLoaded * 100 / total) : 100);
}

void CImageLists::FinishLoader()
{
    m_pLoaderThread->Join();
    m_pLoaderThread.reset();
    m_bLoaderRunning = false;
    ShowLoading(false, 100);
    m_folderList->viewport()->update();
}

void CImageLists::ShowLoading(bool on, int percent)
{
    if (m_loadingBar) {
        m_loadingBar->setRange(0, 100);
        m_loadingBar->setValue(percent);
        m_loadingBar->setVisible(on);
    }
    if (m_loadingLabel)
        m_loadingLabel->setVisible(on);
}

QListWidgetItem *CImageLists::FolderItemBySerial(quint64 serial) const
{
    return m_rowsBySerial.value(serial, nullptr);
}

QStringList CImageLists::FolderPaths() const
{
    QStringList paths;
    paths.reserve(qsizetype(m_fileNames.size()));
    for (const QString &name : m_fileNames)
        paths.append(JoinPath(m_strFolder, name));
    return paths;
}

int CImageLists::FolderRowOf(const QString &path) const
{
    // Names in a folder are unique: at most one row holds the path.
    for (std::size_t row = 0; row < m_fileNames.size(); ++row)
        if (JoinPath(m_strFolder, m_fileNames[row]) == path)
            return int(row);
    return -1;
}

int CImageLists::FolderSelectionMark() const
{
    return m_folderList->SelectionMark();
}

QStringList CImageLists::SelectedPaths() const
{
    return m_selectedList->Paths();
}

int CImageLists::SelectedSelectionMark() const
{
    return m_selectedList->SelectionMark();
}

int CImageLists::SelectedCount() const
{
    return m_selectedList->topLevelItemCount();
}

void CImageLists::OnAdd()
{
    const QList<int> rows = m_folderList->SelectedRows();
    if (rows.isEmpty()) {
        QMessageBox::information(m_messageParent, QString::fromLatin1(kTitle), tr(kAddFirst));
        return;
    }
    AddRows(rows);
}

void CImageLists::OnAddAll()
{
    QList<int> rows;
    for (int row = 0; row < m_folderList->count(); ++row)
        rows.append(row);
    if (!rows.isEmpty())
        AddRows(rows);
}

void CImageLists::AddRows(const QList<int> &rows)
{
    // Duplicates are the paths present when the command began.
    const QSet<QString> existing = ExistingPathKeys();
    WaitCursor wait;
    m_selectedList->setUpdatesEnabled(false);
    for (int row : rows) {
        const QListWidgetItem *item = m_folderList->item(row);
        if (!item)
            continue;
        // The row's own name, not the caption's, so any name maps to its file.
        const QString name = item->data(FolderListCtrl::NameRole).toString();
        const CaptionParts parts = CaptionDimensions(item->text(), name);
        AddFileRow(name, JoinPath(m_strFolder, name), parts.width, parts.height, existing);
    }
    m_selectedList->setUpdatesEnabled(true);
    UpdateCountLabel();
}

bool CImageLists::AddFileRow(const QString &name, const QString &path, long width, long height,
                             const QSet<QString> &existing)
{
    if (existing.contains(PathKey(path)))
        return false;

    const QFileInfo info(path);
    const QString date =
        info.exists() ? info.lastModified().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : tr("未知");
    qint64 size = 0;
    // Only regular files are opened: a pipe would block the window.
    if (info.isFile()) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            size = file.size();
    }
    const QString type = FileTypeName(path);
    m_selectedList->AppendRow(
        {name, QString::number(size), type, date, QStringLiteral("%1x%2").arg(width).arg(height), path});
    return true;
}

void CImageLists::AddPaths(const QStringList &paths)
{
    const QSet<QString> existing = ExistingPathKeys();
    // Rows of the folder on show lend their loaded dimensions.
    const QString shownFolder = QFileInfo(m_strFolder).absoluteFilePath();
    QHash<QString, const QListWidgetItem *> shownRows;
    for (int row = 0; row < m_folderList->count(); ++row)
        shownRows.insert(m_folderList->item(row)->data(FolderListCtrl::NameRole).toString(),
                         m_folderList->item(row));
    QSet<QString> dropped; // the same file named twice in one drop is added once
    WaitCursor wait;
    m_selectedList->setUpdatesEnabled(false);
    const auto addFile = [&](const QFileInfo &info) {
        const QString path = info.absoluteFilePath();
        const QString name = info.fileName();
        if (!info.isFile() || GetImageType(ToFs(name)) == 0 || dropped.contains(PathKey(path)))
            return;
        dropped.insert(PathKey(path));
        long width = 0, height = 0;
        const QListWidgetItem *row = info.absolutePath() == shownFolder ? shownRows.value(name) : nullptr;
        if (row) {
            const CaptionParts parts = CaptionDimensions(row->text(), name);
            width = parts.width;
            height = parts.height;
        } else {
            // Only the header is read; formats Qt cannot read show 0x0.
            int drawnW = 0, drawnH = 0;
            const QSize size = IsDrawingFile(ToFs(path).c_str(), drawnW, drawnH) ? QSize(drawnW, drawnH)
                                                                                 : QImageReader(path).size();
            if (size.isValid()) {
                width = size.width();
                height = size.height();
            }
        }
        AddFileRow(name, path, width, height, existing);
    };
    for (const QString &path : paths) {
        const QFileInfo info(path);
        if (info.isDir()) {
            const QString dir = info.absoluteFilePath();
            for (const std::string &name : ListImageFiles(ToFs(dir)))
                addFile(QFileInfo(JoinPath(dir, FromFs(name))));
        } else {
            addFile(info);
        }
    }
    m_selectedList->setUpdatesEnabled(true);
    UpdateCountLabel();
}

void CImageLists::OnRemove()
{
    const QList<int> rows = m_selectedList->SelectedRows();
    if (rows.isEmpty()) {
        QMessageBox::information(m_messageParent, QString::fromLatin1(kTitle), tr(kRemoveFirst));
        return;
    }
    WaitCursor wait;
    m_selectedList->setUpdatesEnabled(false);
    m_selectedList->DeleteRows(rows);
    m_selectedList->setUpdatesEnabled(true);
    UpdateCountLabel();
}

void CImageLists::OnRemoveAll()
{
    m_selectedList->DeleteAllRows();
    UpdateCountLabel();
}

void CImageLists::UpdateCountLabel()
{
    if (m_countLabel)
        m_countLabel->setText(tr("选定的图像: %1").arg(m_selectedList->topLevelItemCount()));
}

void CImageLists::OnFolderCommand(int id)
{
    if (id == listsid::ID_ADD)
        OnAdd();
    else if (id == listsid::ID_VIEW)
        emit viewRequested();
}

void CImageLists::OnSelectedCommand(int id)
{
    if (id == listsid::ID_REMOVE)
        OnRemove();
}

void CImageLists::RemoveFolderRow(int row)
{
    if (row < 0 || row >= int(m_fileNames.size()) || row >= m_folderList->count())
        return;
    QListWidgetItem *item = m_folderList->takeItem(row);
    const quint64 serial = item->data(FolderListCtrl::SerialRole).toULongLong();
    m_rowsBySerial.remove(serial);
    m_thumbDone.remove(serial);
    delete item;
    m_fileNames.erase(m_fileNames.begin() + row);
    m_fileStamps.erase(m_fileStamps.begin() + row);
}

int CImageLists::SelectFolderNames(const QStringList &names)
{
    QHash<QString, int> rows;
    for (int row = 0; row < m_folderList->count(); ++row)
        rows.insert(m_folderList->item(row)->data(FolderListCtrl::NameRole).toString(), row);
    m_folderList->clearSelection();
    int first = -1;
    for (const QString &name : names) {
        const int row = rows.value(name, -1);
        if (row < 0)
            continue;
        if (first < 0) {
            first = row;
            m_folderList->setCurrentRow(row, QItemSelectionModel::Select);
        } else {
            m_folderList->item(row)->setSelected(true);
        }
    }
    if (first >= 0)
        m_folderList->scrollToItem(m_folderList->item(first));
    return first;
}

void CImageLists::AddFolderRowToSelection(int row)
{
    QListWidgetItem *item = m_folderList->item(row);
    if (!item)
        return;
    m_folderList->clearSelection();
    m_folderList->setCurrentItem(item, QItemSelectionModel::ClearAndSelect);
    OnAdd();
}

void CImageLists::RemoveSelectedPath(const QString &path)
{
    // The row holding exactly this path; failing that, one holding it in
    // another case.
    int found = -1;
    for (int row = 0; row < m_selectedList->topLevelItemCount() && found < 0; ++row)
        if (m_selectedList->RawText(row, SelectedListCtrl::kPathColumn) == path)
            found = row;
    for (int row = 0; row < m_selectedList->topLevelItemCount(); ++row) {
        if (found >= 0 ? row == found
                       : m_selectedList->RawText(row, SelectedListCtrl::kPathColumn)
                                 .compare(path, Qt::CaseInsensitive) == 0) {
            QTreeWidgetItem *item = m_selectedList->topLevelItem(row);
            m_selectedList->clearSelection();
            m_selectedList->setCurrentItem(item, 0,
                                           QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            OnRemove();
            return;
        }
    }
}
