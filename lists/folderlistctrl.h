// The folder list: one large-icon row per image file of the current folder,
// with the row's own file name and serial kept as row data. Ctrl+A selects
// every row; its context menu raises Add and View; rows are dragged out with
// the drop cursor.
#pragma once

#include "lists/listbehaviour.h"

#include <QListWidget>

class QMenu;
class QMimeData;

class FolderListCtrl : public ListBehaviour<QListWidget> {
    Q_OBJECT
public:
    static constexpr int NameRole = Qt::UserRole;       // the file name (QString)
    static constexpr int SerialRole = Qt::UserRole + 1; // identity of the row (qulonglong)
    static constexpr int PagesRole = Qt::UserRole + 2;  // a document's pages (int), unset below 2
    // Drag payload of rows dragged from a folder list of this process.
    static constexpr const char *kDragMimeType = "application/x-velmora-folder-rows";

    explicit FolderListCtrl(QWidget *parent = nullptr);

    // Selected rows in index order.
    QList<int> SelectedRows() const;
    // The row last marked by the user: the current row when it is selected,
    // else the first selected row, else -1.
    int SelectionMark() const;
    // "12 页": the pages of a document, as its badge and tooltip say them.
    static QString PagesText(int pages);
    // The caption, and the pages of a document of several.
    static QString ToolTipOf(const QListWidgetItem &row);
    // The badge of a document of several pages, at the bottom right of the
    // picture in iconRect; empty for other rows.
    static QRect BadgeRect(const QRect &iconRect, const QFontMetrics &fm, int pages);

    // Every row selected, the first one current.
    void SelectAllRows() override;

    // Menu 140: Add (1000) and View (1004), whether or not rows are selected.
    QMenu *CreateContextMenu(QWidget *parent) override;
    // What a drag from this list carries.
    static QMimeData *MakeDragData();
    static bool IsOwnDrag(const QMimeData *data);

signals:
    void commandRequested(int id);
    void viewRequested();

protected:
    bool AcceptsDrag(const QMimeData *data) const override { return IsOwnDrag(data); }
    bool viewportEvent(QEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dropEvent(QDropEvent *event) override;
};
