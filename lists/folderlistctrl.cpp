#include "lists/folderlistctrl.h"

#include "resources/ids_lists.h"
#include "imaging/thumbnail.h"

#include <algorithm>

#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
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
    // A document of several pages carries its count on the picture's corner.
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        const int pages = index.data(FolderListCtrl::PagesRole).toInt();
        if (pages < 2)
            return;
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QWidget *widget = option.widget;
        QStyle *style = widget ? widget->style() : QApplication::style();
        const QRect icon = style->subElementRect(QStyle::SE_ItemViewItemDecoration, &opt, widget);
        QFont font = opt.font;
        font.setBold(true);
        const QFontMetrics fm(font);
        const QRect badge = FolderListCtrl::BadgeRect(icon, fm, pages);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(Qt::NoPen);
        painter->setBrush(QColor(0, 0, 0, 170));
        painter->drawRoundedRect(badge, 4, 4);
        // The page glyph: a sheet with a folded corner, left of the number.
        const int h = badge.height() - 6;
        const QRectF sheet(badge.left() + 4, badge.top() + 3, h * 0.75, h);
        const qreal fold = sheet.width() * 0.4;
        QPainterPath path;
        path.moveTo(sheet.topLeft());
        path.lineTo(sheet.right() - fold, sheet.top());
        path.lineTo(sheet.right(), sheet.top() + fold);
        path.lineTo(sheet.bottomRight());
        path.lineTo(sheet.bottomLeft());
        path.closeSubpath();
        painter->setBrush(Qt::white);
        painter->drawPath(path);
        painter->setFont(font);
        painter->setPen(Qt::white);
        const QRect text = badge.adjusted(int(sheet.width()) + 6, 0, -4, 0);
        painter->drawText(text, Qt::AlignCenter, QString::number(pages));
        painter->restore();
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

QString FolderListCtrl::PagesText(int pages)
{
    return tr("%1 页").arg(pages);
}

QString FolderListCtrl::ToolTipOf(const QListWidgetItem &row)
{
    const int pages = row.data(PagesRole).toInt();
    return pages > 1 ? row.text() + QLatin1Char('\n') + PagesText(pages) : row.text();
}

QRect FolderListCtrl::BadgeRect(const QRect &iconRect, const QFontMetrics &fm, int pages)
{
    if (pages < 2 || iconRect.isEmpty())
        return {};
    const int h = fm.height() + 4;
    const int glyph = (h - 6) * 3 / 4;
    const int w = std::min(iconRect.width(), fm.horizontalAdvance(QString::number(pages)) + glyph + 14);
    return QRect(iconRect.right() - w - 1, iconRect.bottom() - h - 1, w, h);
}

bool FolderListCtrl::viewportEvent(QEvent *event)
{
    // Long names are cut short under their thumbnails; the tip shows them
    // whole, found on demand rather than stored in every row.
    if (event->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(event);
        if (const QListWidgetItem *row = itemAt(help->pos()))
            QToolTip::showText(help->globalPos(), ToolTipOf(*row), viewport(), visualItemRect(row));
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
