#include "lists/folderlistctrl.h"

#include "resources/ids_lists.h"
#include "imaging/thumbnail.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QStyledItemDelegate>
#include <QToolTip>

static void InitListsResources()
{
    Q_INIT_RESOURCE(lists);
}

namespace {

// Every row is the same size, room for the thumbnail and three lines of
// caption (the size, then a name that may wrap once), whatever its text is
// now: captions grow from the bare name to two lines as thumbnails arrive.
class ThumbnailDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const override
    {
        return CellSize(option.fontMetrics);
    }
    static QSize CellSize(const QFontMetrics &fm)
    {
        return QSize(kThumbWidth + 20, kThumbHeight + 3 * fm.lineSpacing() + 8);
    }
};

} // namespace

FolderListCtrl::FolderListCtrl(QWidget *parent) : ListBehaviour(parent)
{
    InitListsResources();
    setObjectName(QString::number(listsid::IDC_LIST_FOLDER));
    setViewMode(QListView::IconMode);
    setIconSize(QSize(kThumbWidth, kThumbHeight));
    // A fixed grid and uniform items: rows are placed without measuring each
    // one, so tens of thousands of rows list at once.
    setItemDelegate(new ThumbnailDelegate(this));
    setGridSize(ThumbnailDelegate::CellSize(fontMetrics()) + QSize(6, 6));
    setUniformItemSizes(true);
    setLayoutMode(QListView::Batched);
    setBatchSize(500);
    setResizeMode(QListView::Adjust);
    setMovement(QListView::Static);
    setFlow(QListView::LeftToRight);
    setWrapping(true);
    setWordWrap(true);
    setTextElideMode(Qt::ElideMiddle);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    setAcceptDrops(true); // only to show the drop cursor over the list itself
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    KeepSelectionColours();
}

QList<int> FolderListCtrl::SelectedRows() const
{
    QList<int> rows;
    for (const QModelIndex &index : selectionModel()->selectedIndexes())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

int FolderListCtrl::SelectionMark() const
{
    const int current = currentRow();
    if (current >= 0 && item(current)->isSelected())
        return current;
    const QList<int> rows = SelectedRows();
    return rows.isEmpty() ? -1 : rows.first();
}

void FolderListCtrl::SelectAllRows()
{
    if (count() == 0)
        return;
    selectAll();
    if (currentRow() < 0)
        setCurrentRow(0, QItemSelectionModel::NoUpdate);
}

QMenu *FolderListCtrl::CreateContextMenu(QWidget *parent)
{
    auto *menu = new QMenu(QStringLiteral("DIR"), parent);
    menu->setObjectName(QString::number(listsid::IDR_MENU_FOLDER));
    AddCommands(menu,
                {{listsid::ID_ADD, QT_TRANSLATE_NOOP("FolderListCtrl", "添加选定图片到列表中(&A)")},
                 {listsid::ID_VIEW, QT_TRANSLATE_NOOP("FolderListCtrl", "查看(&V)")}},
                [this](int id) { emit commandRequested(id); });
    return menu;
}

QMimeData *FolderListCtrl::MakeDragData()
{
    auto *data = new QMimeData;
    // The process id keeps a drag from another running copy from adding
    // rows of a folder this one does not show.
    data->setData(QString::fromLatin1(kDragMimeType), QByteArray::number(QCoreApplication::applicationPid()));
    return data;
}

bool FolderListCtrl::IsOwnDrag(const QMimeData *data)
{
    return data && data->data(QString::fromLatin1(kDragMimeType)) ==
                       QByteArray::number(QCoreApplication::applicationPid());
}

bool FolderListCtrl::viewportEvent(QEvent *event)
{
    // Long names are cut short under their thumbnails; the tip shows them
    // whole, found on demand rather than stored in every row.
    if (event->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(event);
        if (const QListWidgetItem *row = itemAt(help->pos()))
            QToolTip::showText(help->globalPos(), row->text(), viewport(), visualItemRect(row));
        else
            QToolTip::hideText();
        return true;
    }
    return QListWidget::viewportEvent(event);
}

void FolderListCtrl::mouseDoubleClickEvent(QMouseEvent *event)
{
    QListWidget::mouseDoubleClickEvent(event);
    emit viewRequested();
}

void FolderListCtrl::startDrag(Qt::DropActions)
{
    if (SelectedRows().isEmpty())
        return;
    auto *drag = new QDrag(this);
    drag->setMimeData(MakeDragData());
    const QPixmap cursor(QString::fromLatin1(listsid::kDropCursorPath));
    drag->setDragCursor(cursor, Qt::CopyAction);
    drag->setHotSpot(QPoint(0, 0));
    drag->exec(Qt::CopyAction);
}

void FolderListCtrl::dropEvent(QDropEvent *event)
{
    // Dropping rows back where they came from does nothing.
    event->setDropAction(Qt::IgnoreAction);
    event->accept();
}
