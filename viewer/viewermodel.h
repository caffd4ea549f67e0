// What the viewer shows, without a window: the list of paths, which of them
// is current, the mode the viewer was opened in, and how paging and the
// removal of an entry move the current one. Removals reach the opener by
// path through its host.
#pragma once

#include <QStringList>

class IPreviewHost;

// The picture on display for the current entry.
enum class PictureState {
    Empty,     // nothing shown
    FirstLook, // a quick first look; the whole picture is still being read
    Whole,     // the whole picture as decoded
    Animation, // an animation playing in the picture control
    Error,     // the error picture
};

class CViewerModel {
public:
    // Open modes: the selected list (preview), the folder list, the results of a run.
    enum { MODE_SELECTED = 0, MODE_FOLDER = 1, MODE_RESULTS = 2 };

    void SetPaths(const QStringList &paths) { m_paths = paths; }
    void Append(const QString &path) { m_paths.append(path); }
    const QStringList &Paths() const { return m_paths; }
    void SetMode(int mode) { m_nMode = mode; }
    int Mode() const { return m_nMode; }
    void SetHost(IPreviewHost *host) { m_pHost = host; }

    // A negative index counts as 0; an index past the end has no current entry.
    void SetIndex(int index) { m_nIndex = index < 0 ? 0 : index; }
    int Index() const { return m_nIndex; }
    int Count() const { return int(m_paths.size()); }
    bool IsEmpty() const { return m_paths.isEmpty(); }
    bool HasCurrent() const { return m_nIndex >= 0 && m_nIndex < Count(); }
    bool IsFirst() const { return m_nIndex == 0; }
    bool IsLast() const { return m_nIndex >= Count() - 1; }
    QString Current() const { return HasCurrent() ? m_paths.at(m_nIndex) : QString(); }
    // The path at index i, empty outside the list.
    QString At(int i) const { return i >= 0 && i < Count() ? m_paths.at(i) : QString(); }
    // The direction of the last page turn, +1 or -1: read ahead that way first.
    int Step() const { return m_nStep; }

    // Page turns; each is true when it went to an entry (possibly the same
    // one again), false when it stays.
    void GoTo(int index);
    // Stop at the last (first) entry.
    bool Next();
    bool Prev();
    // The space key: from the last entry on to the first.
    bool NextOrFirst();
    bool First();
    bool Last();
    // A slideshow tick: runs on from the last entry to the first, for ever.
    bool Tick();

    // Removes the entry of path (the current one when it holds path, else
    // the first that does) and tells the host of the mode. The current
    // entry stays current; when it was removed, the one that followed it
    // is, the first after the last. False when no entry holds path.
    bool Remove(const QString &path);
    // Folder mode: the host adds the current entry to the selected list.
    void AddCurrentToSelection();

private:
    QStringList m_paths;
    int m_nIndex = 0;
    int m_nMode = MODE_SELECTED;
    int m_nStep = 1;
    IPreviewHost *m_pHost = nullptr;
};
