// The state and commands of the two image lists of the main window: listing
// a folder with its thumbnail loader, and adding to and removing from the
// selected list. The main window places the widgets and wires its buttons
// to the slots; everything else about the lists happens here.
#pragma once

#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QHash>
#include <QIcon>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class CThumbnailLoader;
class FolderListCtrl;
class QLabel;
class QListWidgetItem;
class QProgressBar;
class QSocketNotifier;
class QWidget;
class SelectedListCtrl;

class CImageLists : public QObject {
    Q_OBJECT
public:
    //: The selected list's columns: title,width in pixels; one after another, split by ";".
    static constexpr const char *kSelectedColumns =
        QT_TRANSLATE_NOOP("CImageLists", "名称,110;大小,60;类型,110;修改日期,150;属性,70;路径,200");

    // The widgets are children of the main window; countLabel is label 1031,
    // loadingLabel (1059) and loadingBar (1030) the loading indicator (may
    // be null). Messages are parented to messageParent.
    CImageLists(FolderListCtrl *folderList, SelectedListCtrl *selectedList, QLabel *countLabel,
                QLabel *loadingLabel, QProgressBar *loadingBar, QWidget *messageParent);
    ~CImageLists() override; // stops and joins the loader

    // The type column's name for the file at path.
    static QString FileTypeName(const QString &path);

    // Lists the image files of path at once with placeholders, then starts
    // the loader that fills in sizes and thumbnails.
    void ListFolder(const QString &path);
    // Ends the loader (a long decode is cut short). The window keeps
    // painting and taking the loader's updates while it waits; afterwards no
    // result of that loader reaches the list. Always true.
    bool StopLoader();

    QString Folder() const { return m_strFolder; }
    const std::vector<QString> &FileNames() const { return m_fileNames; }
    QStringList FolderPaths() const;
    int FolderSelectionMark() const;
    QStringList SelectedPaths() const;
    int SelectedSelectionMark() const;
    int SelectedCount() const;
    bool IsLoaderRunning() const { return m_bLoaderRunning; }

    // Asked each time the thumbnail loader starts: whether photos are turned
    // upright as their file says (the owner's stored choice; yes without one).
    void SetAutoRotateSource(std::function<bool()> source) { m_autoRotate = std::move(source); }
    // Asked likewise: whether cards are shared with the desktop's thumbnail
    // cache (lists/thumbcache.h; yes without a source). Its pictures are
    // upright, so photos kept as stored never use it.
    void SetThumbnailCacheSource(std::function<bool()> source) { m_thumbCache = std::move(source); }

    // Selects the folder-list rows of these names, the first one given
    // becoming the current row, and returns that row (-1 when none is listed).
    int SelectFolderNames(const QStringList &names);

    // The listed folder is watched: files that appear, go or are renamed
    // there reach the rows by name, a moment after the last change and at
    // least once a second while changes keep coming. New rows get their
    // thumbnails, and so do rows whose file changed size or modification
    // time (rewritten in place or replaced); the selection and the other
    // rows stay as they are.
    // While held (the viewer walks the rows, a run writes into the folder)
    // changes wait, and are applied once when the last hold ends.
    void HoldDiskChanges();
    void ReleaseDiskChanges();
    bool HasPendingDiskChanges() const { return m_bDiskPending; }
    bool DiskChangesHeld() const { return m_nHolds > 0; }
    // Brings the rows to the folder's files now and decodes every thumbnail
    // again (F5); waits for a hold like any change.
    void Reload();

    // Adds files given by path (dropped from another program) as Add does:
    // folders stand for their image files, other non-images are passed over.
    void AddPaths(const QStringList &paths);

public slots:
    void OnAdd();
    void OnAddAll();
    void OnRemove();
    void OnRemoveAll();

public:
    // What the viewer's file commands change in the lists.
    // The folder-list row of path, -1 when none holds it.
    int FolderRowOf(const QString &path) const;
    // Removes folder-list row i together with its file name.
    void RemoveFolderRow(int row);
    // Selects folder-list row i and adds it to the selected list.
    void AddFolderRowToSelection(int row);
    // Selects the selected-list row holding path and removes it.
    void RemoveSelectedPath(const QString &path);

signals:
    void viewRequested();
    // The rows were brought to what the disk holds.
    void folderRefreshed();

private:
    void FillFolderList();
    // Starts the loader for the rows whose thumbnail has not arrived.
    void StartLoader();
    void OnDirectoryChanged();
    void ApplyDiskChanges();
    void WatchFolder();
    // Watches the folder for files written and closed there (a file
    // rewritten in place changes no name); again after the folder came back.
    void WatchWrites();
    void OnWritesSeen();
    void InsertFolderRow(int row, const QString &name);
    // Row i's file changed: its caption and thumbnail are made again, under
    // a new serial so that nothing decoded from the old file reaches it.
    void RedoFolderRow(int row);
    // Runs on the interface thread for every wake of loader generation gen.
    void OnLoaderWake(quint64 gen);
    void DrainLoader();
    void FinishLoader();
    void ShowLoading(bool on, int percent);
    void AddRows(const QList<int> &rows);
    // One selected-list row for a file; false when its path is a duplicate.
    bool AddFileRow(const QString &name, const QString &path, long width, long height,
                    const QSet<QString> &existing);
    QSet<QString> ExistingPathKeys() const;
    void UpdateCountLabel();
    void OnFolderCommand(int id);
    void OnSelectedCommand(int id);
    QListWidgetItem *FolderItemBySerial(quint64 serial) const;

    FolderListCtrl *m_folderList;
    SelectedListCtrl *m_selectedList;
    QLabel *m_countLabel;
    QLabel *m_loadingLabel;
    QProgressBar *m_loadingBar;
    QWidget *m_messageParent;

    QString m_strFolder;
    std::function<bool()> m_autoRotate;
    std::function<bool()> m_thumbCache;
    // What a listed file was when its row was made: a change of either
    // means its caption and thumbnail are out of date.
    struct FileStamp {
        std::int64_t size = -1;
        std::int64_t mtimeNs = 0;
        bool operator==(const FileStamp &) const = default;
    };
    FileStamp StampOf(const QString &name) const;

    std::vector<QString> m_fileNames;
    std::vector<FileStamp> m_fileStamps; // one per name
    QIcon m_placeholder;
    QHash<quint64, QListWidgetItem *> m_rowsBySerial;
    quint64 m_nextSerial = 1;

    std::unique_ptr<CThumbnailLoader> m_pLoaderThread;
    quint64 m_loaderGeneration = 0;
    bool m_bLoaderRunning = false;
    bool m_bStopping = false;
    std::size_t m_nLoaded = 0;
    QSet<quint64> m_thumbDone; // rows whose loader result arrived

    QFileSystemWatcher m_watcher;
    int m_nWritesFd = -1; // inotify, where there is one
    QSocketNotifier *m_pWritesNotifier = nullptr;
    int m_nWritesWatch = -1;
    QTimer m_diskTimer;
    QElapsedTimer m_sinceFirstChange; // valid while a change waits for the timer
    int m_nHolds = 0;
    bool m_bDiskPending = false;
    bool m_bReloadThumbs = false;
};
