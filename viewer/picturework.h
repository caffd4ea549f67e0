// What the viewer does to a picture off its window's thread: decoding files
// for showing, the pictures next to the one on screen read ahead, and the
// copies drawn at the size a picture is shown.
#pragma once

#include "imaging/cximage.h"
#include "viewer/viewergeometry.h"

#include <QImage>
#include <QObject>
#include <QRect>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

class QThreadPool;

namespace viewwork {

// A file decoded for showing: what arrived of a cut-off file, upright unless
// autoOrient is off, in sRGB. Never null; an empty image when the file fails.
// page: a document's page from 1 (0 is its first, as for any file).
std::shared_ptr<CxImage> DecodeForViewing(const std::string &file, bool autoOrient,
                                          const std::atomic<bool> *cancel = nullptr, int page = 0);

// How the screen's first picture of a large JPEG is read before the whole
// of it: fitted to the screen, at the smallest reduced scale that still
// covers the fitted size; at actual size, only the top left part a screen
// of that size shows first (region); a progressive file, only its first
// scans, as far as every colour's block averages, at 1/8; a camera raw file fitted, its embedded preview when that
// covers the fitted size. No image when the file is neither (other decoders
// cannot be quicker than a whole decode) or fails; one of the picture's own
// size when the whole came anyway.
struct FirstLook {
    std::shared_ptr<const CxImage> image;
    bool region = false;
};
FirstLook DecodeFirstLook(const std::string &file, bool autoOrient, bool fullSize, viewgeom::Size screen);

// True when the decode holds fewer pixels than the picture has (reduced or
// only a part).
bool IsPartial(const CxImage &img);
// True when the decode is the whole picture at a reduced scale: both sides
// shrunk alike (not a part, nor a picture turned as decoded).
bool IsReduced(const CxImage &img);

// The copy drawn for a picture shown at `shown`: resampled with the good
// filter when shrunk; otherwise the pixels at their own size, only the
// visible part being scaled when painted.
QImage DisplayCopy(const CxImage &img, viewgeom::Size shown);

// Whether a display copy of `display` pixels is the one DisplayCopy makes
// for a picture of `natural` pixels shown at `shown`.
bool DisplayFits(QSize display, viewgeom::Size natural, viewgeom::Size shown);

// A part of a picture shown from a reduced decode, to be decoded at a
// scale that holds as many pixels as the screen shows of it: the picture
// at 1/denom of its own size (scaled), and the part of that in view with a
// margin around it (region). denom 0: none is needed (the picture held has
// the pixels already, or shows nothing).
struct DetailPlan {
    int denom = 0;
    viewgeom::Size scaled;
    QRect region;
};
// scaledDecode: the file decodes at 1/2, 1/4 and 1/8 too (a JPEG); any
// other is decoded at its own size, for a picture shown at half of it or
// more.
DetailPlan PlanDetail(viewgeom::Size natural, viewgeom::Size held, const WinRect &shown, int scrollX,
                      int scrollY, viewgeom::Size window, bool scaledDecode = true);

// Whether a file decodes at reduced scales (a JPEG).
bool DecodesScaled(const std::string &file);

// The part a plan names, decoded and ready to draw; null when the file
// cannot give just that part: a sequential JPEG stored upright gives it
// straight; a file whose rows come in order (PNG, TIFF, PNM) is read
// through, only the part's rows and columns kept.
// cancel, when raised, ends it early (null).
QImage DecodeDetail(const std::string &file, bool autoOrient, const DetailPlan &plan,
                    const std::atomic<bool> *cancel = nullptr);

// A decoded picture and the copy drawn of it.
struct Picture {
    std::shared_ptr<const CxImage> image; // invalid when the file could not be read
    QImage display;                       // empty when nothing is drawn
    int pages = 0;                        // a PDF's or TIFF's pages; 0 for other files
};

// Reads pictures on two background threads and keeps those of a few files
// (the one on screen and its neighbours), each under the file's size and
// modification time, so a changed file is read anew. Every function is
// called from the window's thread.
class CPictureLoader : public QObject {
    Q_OBJECT
public:
    // Prepares a freshly decoded valid picture (the preview's steps); runs
    // on the window's thread, so pictures needing it are never read ahead.
    using Prepare = std::function<void(CxImage &, const QString &path)>;
    // The size a picture of the given size is first shown at.
    using ShownSize = std::function<viewgeom::Size(viewgeom::Size natural)>;

    explicit CPictureLoader(QObject *parent = nullptr);
    ~CPictureLoader() override;

    // How files are decoded and shown; forgets every picture kept.
    void Configure(bool autoOrient, Prepare prepare, ShownSize shown);
    // The page (from 1) read of path from now on; every other file is read
    // at its first page. A kept picture of another page is read anew.
    void SetPage(const QString &path, int page);
    // Changes only the size display copies are made for, from the next read.
    void SetShownSize(ShownSize shown);
    // Starts reading the file in the background unless it is kept or being
    // read already (never when there is a Prepare).
    void Fetch(const QString &path, bool ahead);
    // The file's picture if it is in, without waiting.
    bool Take(const QString &path, Picture &picture);
    // The file's picture, read on this thread when no background read of
    // it has started, else waited for.
    Picture Wait(const QString &path);
    // Keeps the picture the window has already made for the file.
    void Keep(const QString &path, const Picture &picture);
    // Forgets the file's picture, so the next request reads it anew.
    void Forget(const QString &path);
    // Forgets every file but these, stopping their reads.
    void KeepOnly(const QStringList &paths);
    void Clear();
    // True while a read or a display copy is under way.
    bool IsBusy() const;

    // Makes the display copy of image for `shown` in the background; Shown
    // reports it with the serial it was asked with.
    void MakeDisplay(std::shared_ptr<const CxImage> image, viewgeom::Size shown, int serial);
    // Decodes the part of path a plan names in the background; DetailMade
    // reports it (a null image when it cannot be had) with the serial.
    void MakeDetail(const QString &path, bool autoOrient, const DetailPlan &plan, int serial);
    // Calls off the part being decoded (it is then reported null).
    void CancelDetail();

signals:
    // A background read of the file has ended (successfully or not).
    void Fetched(const QString &path);
    void DisplayMade(int serial, const QImage &display);
    void DetailMade(int serial, const viewwork::DetailPlan &plan, const QImage &detail);

private:
    struct Entry;
    std::shared_ptr<Entry> Find(const QString &path);
    std::shared_ptr<Entry> NewEntry(const QString &path);
    void Run(const std::shared_ptr<Entry> &entry);
    void DropOverBudget();

    QThreadPool *m_pool = nullptr;
    bool m_autoOrient = true;
    Prepare m_prepare;
    ShownSize m_shown;
    std::map<QString, std::shared_ptr<Entry>> m_entries;
    QString m_strPagePath; // the one file read at another page than its first
    int m_nPage = 0;
    std::shared_ptr<std::atomic<int>> m_displaysPending;
    std::shared_ptr<std::atomic<bool>> m_detailCancel;
    mutable std::mutex m_mutex;
    std::condition_variable m_done;
};

} // namespace viewwork
