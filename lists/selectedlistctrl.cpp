#include "lists/selectedlistctrl.h"

#include "lists/captions.h"
#include "lists/folderlistctrl.h"
#include "resources/ids_lists.h"

#include <QContextMenuEvent>
#include <QHash>
#include <QSet>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QUrl>

#include <algorithm>

namespace {

// Thin grid lines between cells, as a report list shows them.
class GridDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        painter->save();
        painter->setPen(QColor(220, 220, 220));
        const QRect r = option.rect;
        painter->drawLine(r.bottomLeft(), r.bottomRight());
        painter->drawLine(r.topRight(), r.bottomRight());
        painter->restore();
    }
};

// Width and height of a dimensions text ("WxH"), lower-cased first; no "x",
// or an "x" first, reads as 0 x 0.
long long Area(const QString &text)
{
    const QString t = text.toLower();
    const qsizetype x = t.indexOf(QLatin1Char('x'));
    if (x <= 0)
        return 0;
    return LeadingNumber(t.left(x)) * LeadingNumber(t.mid(x + 1));
}

int Sign(long long v)
{
    return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

} // namespace

SelectedListCtrl::SelectedListCtrl(QWidget *parent) : ListBehaviour(parent)
{
    setObjectName(QString::number(listsid::IDC_LIST_SELECTED));
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false); // sorting is ours, on the raw texts
    setItemDelegate(new GridDelegate(this));
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DropOnly);
    setColumnCount(0);
    header()->setStretchLastSection(false);
    header()->setSectionsClickable(true);
    header()->setSortIndicatorShown(false);
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    connect(header(), &QHeaderView::sectionClicked, this, &SelectedListCtrl::OnColumnClick);
    KeepSelectionColours();
}

bool SelectedListCtrl::SetColumns(const QString &columns)
{
    QStringList titles;
    QList<int> widths;
    bool ok = true;
    for (const QString &segment : columns.split(QLatin1Char(';'))) {
        const qsizetype comma = segment.lastIndexOf(QLatin1Char(','));
        bool numeric = false;
        const int width = comma > 0 ? segment.mid(comma + 1).trimmed().toInt(&numeric) : 0;
        if (!numeric || width < 0) {
            ok = false;
            break;
        }
        titles.append(segment.left(comma));
        widths.append(width);
    }
    setColumnCount(int(titles.size()));
    setHeaderLabels(titles);
    for (int i = 0; i < widths.size(); ++i)
        header()->resizeSection(i, widths[i]);
    m_nColumns = int(titles.size());
    return ok;
}

int SelectedListCtrl::AppendRow(const QStringList &texts)
{
    auto *item = new QTreeWidgetItem;
    for (int c = 0; c < m_nColumns; ++c) {
        const QString raw = c < texts.size() ? texts[c] : QString();
        item->setData(c, RawRole, raw);
        item->setText(c, c > 0 && IsAllDigits(raw) ? FormatSizeText(raw) : raw);
    }
    addTopLevelItem(item);
    return topLevelItemCount() - 1;
}

void SelectedListCtrl::DeleteRow(int row)
{
    delete takeTopLevelItem(row);
}

void SelectedListCtrl::DeleteRows(const QList<int> &rows)
{
    // The rows themselves, not the first row holding the same path in
    // another case: on this file system a.jpg and A.jpg are two files.
    const QSet<int> doomed(rows.begin(), rows.end());
    QTreeWidgetItem *current = currentItem();
    QList<QTreeWidgetItem *> kept;
    const QList<QTreeWidgetItem *> items = invisibleRootItem()->takeChildren();
    for (int row = 0; row < items.size(); ++row) {
        QTreeWidgetItem *item = items[row];
        if (doomed.contains(row)) {
            if (item == current)
                current = nullptr;
            delete item;
        } else {
            kept.append(item);
        }
    }
    addTopLevelItems(kept);
    if (current)
        setCurrentItem(current, 0, QItemSelectionModel::NoUpdate);
}

void SelectedListCtrl::DeleteAllRows()
{
    clear();
}

QString SelectedListCtrl::RawText(int row, int column) const
{
    const QTreeWidgetItem *item = topLevelItem(row);
    return item ? item->data(column, RawRole).toString() : QString();
}

QStringList SelectedListCtrl::RowTexts(int row) const
{
    QStringList texts;
    for (int c = 0; c < m_nColumns; ++c)
        texts.append(RawText(row, c));
    return texts;
}

QStringList SelectedListCtrl::Paths() const
{
    QStringList paths;
    for (int row = 0; row < topLevelItemCount(); ++row)
        paths.append(RawText(row, kPathColumn));
    return paths;
}

QList<int> SelectedListCtrl::SelectedRows() const
{
    QList<int> rows;
    for (int row = 0; row < topLevelItemCount(); ++row)
        if (topLevelItem(row)->isSelected())
            rows.append(row);
    return rows;
}

int SelectedListCtrl::SelectionMark() const
{
    const QTreeWidgetItem *current = currentItem();
    if (current && current->isSelected())
        return indexOfTopLevelItem(const_cast<QTreeWidgetItem *>(current));
    const QList<int> rows = SelectedRows();
    return rows.isEmpty() ? -1 : rows.first();
}

void SelectedListCtrl::SelectAllRows()
{
    if (topLevelItemCount() == 0)
        return;
    selectAll();
    if (!currentItem())
        setCurrentItem(topLevelItem(0), 0, QItemSelectionModel::NoUpdate);
}

void SelectedListCtrl::OnColumnClick(int column)
{
    const bool ascending = column == m_nSortColumn ? !m_bSortAscending : true;
    SortByColumn(column, ascending);
}

void SelectedListCtrl::SortByColumn(int column, bool ascending)
{
    m_nSortColumn = column;
    m_bSortAscending = ascending;
    if (column < 0 || column >= m_nColumns)
        return;
    // Take the rows out, order them, put them back: selection and current
    // row travel with their items.
    QTreeWidgetItem *current = currentItem();
    QList<QTreeWidgetItem *> selected = selectedItems();
    QList<QTreeWidgetItem *> items = invisibleRootItem()->takeChildren();
    std::stable_sort(items.begin(), items.end(), [&](QTreeWidgetItem *a, QTreeWidgetItem *b) {
        return CompareTexts(a->data(column, RawRole).toString(), b->data(column, RawRole).toString(), column,
                            ascending) < 0;
    });
    addTopLevelItems(items);
    for (QTreeWidgetItem *item : selected)
        item->setSelected(true);
    if (current)
        setCurrentItem(current, 0, QItemSelectionModel::NoUpdate);
}

int SelectedListCtrl::CompareRows(const QStringList &row1, const QStringList &row2) const
{
    const int c = m_nSortColumn;
    if (c < 0)
        return 0;
    return CompareTexts(row1.value(c), row2.value(c), c, m_bSortAscending);
}

int SelectedListCtrl::CompareTexts(const QString &t1, const QString &t2, int column, bool ascending)
{
    int result = 0;
    if (column == kDimensionsColumn)
        result = Sign(Area(t1) - Area(t2));
    else if (IsAllDigits(t1))
        result = Sign(LeadingNumber(t1) - LeadingNumber(t2));
    else
        result = Sign(QString::localeAwareCompare(t1, t2));
    return ascending ? result : -result;
}

QMenu *SelectedListCtrl::CreateContextMenu(QWidget *parent)
{
    auto *menu = new QMenu(QStringLiteral("Sel"), parent);
    menu->setObjectName(QString::number(listsid::IDR_MENU_SELECTED));
    AddCommands(menu, {{listsid::ID_REMOVE, QT_TRANSLATE_NOOP("SelectedListCtrl", "从列表中移除(&R)")}},
                [this](int id) { emit commandRequested(id); });
    return menu;
}

void SelectedListCtrl::OnDeleteKey()
{
    emit commandRequested(listsid::ID_REMOVE);
}

void SelectedListCtrl::mouseDoubleClickEvent(QMouseEvent *event)
{
    QTreeWidget::mouseDoubleClickEvent(event);
    emit commandRequested(listsid::ID_REMOVE);
}

bool SelectedListCtrl::AcceptsDrag(const QMimeData *data) const
{
    if (FolderListCtrl::IsOwnDrag(data))
        return true;
    if (!data || !data->hasUrls())
        return false;
    const QList<QUrl> urls = data->urls();
    return std::any_of(urls.begin(), urls.end(), [](const QUrl &u) { return u.isLocalFile(); });
}

void SelectedListCtrl::dropEvent(QDropEvent *event)
{
    const QMimeData *data = event->mimeData();
    if (FolderListCtrl::IsOwnDrag(data)) {
        event->acceptProposedAction();
        // Run the command once the drag has ended, not inside its loop.
        QMetaObject::invokeMethod(
            this, [this] { emit folderRowsDropped(); }, Qt::QueuedConnection);
        return;
    }
    QStringList paths;
    if (data && data->hasUrls())
        for (const QUrl &url : data->urls())
            if (url.isLocalFile())
                paths.append(url.toLocalFile());
    if (paths.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    QMetaObject::invokeMethod(
        this, [this, paths] { emit filesDropped(paths); }, Qt::QueuedConnection);
}
