// The selected list: report rows of name, size, type, date, dimensions and
// path. Every cell keeps its raw text beside the shown one; sorting compares
// the raw texts. Delete, Ctrl+A, a context menu, column-click sorting, and
// drops from the folder list or of files from outside.
#pragma once

#include "lists/listbehaviour.h"

#include <QStringList>
#include <QTreeWidget>

class QMenu;

class SelectedListCtrl : public ListBehaviour<QTreeWidget> {
    Q_OBJECT
public:
    static constexpr int RawRole = Qt::UserRole; // each cell's raw text
    static constexpr int kPathColumn = 5;
    static constexpr int kDimensionsColumn = 4;

    explicit SelectedListCtrl(QWidget *parent = nullptr);

    // "title,width;title,width;..." to left-aligned columns of those widths.
    // False (and the columns read so far kept) at a malformed segment.
    bool SetColumns(const QString &columns);
    // Appends a row: texts[0] is the name, one text per further column
    // (missing ones empty, extra ones ignored). Returns the row index.
    int AppendRow(const QStringList &texts);
    void DeleteRow(int row);
    void DeleteAllRows();
    // Deletes these rows (indexes into the list as it is now) in one pass.
    void DeleteRows(const QList<int> &rows);

    QString RawText(int row, int column) const;
    QStringList RowTexts(int row) const;
    // Column 5 of every row, in the order shown.
    QStringList Paths() const;
    // Selected rows in index order.
    QList<int> SelectedRows() const;
    int SelectionMark() const;
    void SelectAllRows() override;

    // Column click: same column flips the direction, another sorts ascending.
    void OnColumnClick(int column);
    void SortByColumn(int column, bool ascending);
    // <0, 0, >0 for the raw texts of two rows in the sort column and
    // direction: column 4 by pixel area, all-digit texts by value, the
    // rest by the locale's text order.
    int CompareRows(const QStringList &row1, const QStringList &row2) const;
    static int CompareTexts(const QString &t1, const QString &t2, int column, bool ascending);

    // Menu 141: Remove (1002).
    QMenu *CreateContextMenu(QWidget *parent) override;

    int m_nColumns = 0;
    int m_nSortColumn = -1;
    bool m_bSortAscending = true;

signals:
    void commandRequested(int id);
    // Rows dragged from the folder list were dropped here.
    void folderRowsDropped();
    // Local files dropped from another program.
    void filesDropped(const QStringList &paths);

protected:
    bool AcceptsDrag(const QMimeData *data) const override;
    void OnDeleteKey() override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void dropEvent(QDropEvent *event) override;
};
