#include "controls/shelltree/shelltreectrl.h"

#include "controls/shelltree/shellfolders.h"

#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QPersistentModelIndex>
#include <QStyle>
#include <QTimer>

using namespace shelltree;

namespace {

enum Role { PathRole = Qt::UserRole, KindRole, LoadedRole, LoopRole };

enum class NodeKind { Computer, Place, Folder };

// What a node should hold after a refresh, in display order.
struct WantedChild {
    QString caption;
    QString path;
    QStyle::StandardPixmap icon;
    bool mayHaveChildren;
    bool isLoop;
};

NodeKind KindOf(const QTreeWidgetItem *item)
{
    return NodeKind(item->data(0, KindRole).toInt());
}

void InitItem(QTreeWidgetItem *item, const WantedChild &wanted, NodeKind kind, const QStyle *style)
{
    item->setText(0, wanted.caption);
    item->setToolTip(0, wanted.path);
    item->setIcon(0, style->standardIcon(wanted.icon));
    item->setData(0, PathRole, wanted.path);
    item->setData(0, KindRole, int(kind));
    item->setData(0, LoopRole, wanted.isLoop);
    item->setChildIndicatorPolicy(wanted.mayHaveChildren ? QTreeWidgetItem::ShowIndicator
                                                         : QTreeWidgetItem::DontShowIndicator);
}

// Brings the children of parent to the wanted list, keeping the items (and
// with them their sub-trees, expansion and selection) of paths still wanted.
void Reconcile(QTreeWidgetItem *parent, const QList<WantedChild> &wanted, NodeKind kind, const QStyle *style)
{
    for (int i = 0; i < wanted.size(); ++i) {
        int found = -1;
        for (int j = i; j < parent->childCount(); ++j) {
            if (parent->child(j)->data(0, PathRole).toString() == wanted[i].path) {
                found = j;
                break;
            }
        }
        QTreeWidgetItem *child = nullptr;
        if (found == i) {
            child = parent->child(i);
        } else if (found > i) {
            child = parent->takeChild(found); // out of order: rare (a renamed volume label)
            parent->insertChild(i, child);
        } else {
            child = new QTreeWidgetItem;
            parent->insertChild(i, child);
            InitItem(child, wanted[i], kind, style);
            continue;
        }
        child->setText(0, wanted[i].caption);
        if (!child->data(0, LoadedRole).toBool())
            InitItem(child, wanted[i], kind, style);
    }
    while (parent->childCount() > wanted.size())
        delete parent->takeChild(parent->childCount() - 1);
}

QStyle::StandardPixmap PlaceIcon(ShellPlace::Kind kind)
{
    switch (kind) {
    case ShellPlace::Kind::Home:
        return QStyle::SP_DirHomeIcon;
    case ShellPlace::Kind::FileSystem:
    case ShellPlace::Kind::Volume:
        return QStyle::SP_DriveHDIcon;
    case ShellPlace::Kind::Folder:
        break;
    }
    return QStyle::SP_DirIcon;
}

} // namespace

CShellTreeCtrl::CShellTreeCtrl(QWidget *parent) : QTreeWidget(parent), m_placesProvider(DefaultShellPlaces)
{
    setColumnCount(1);
    header()->hide();
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformRowHeights(true);
    setSortingEnabled(false);
    connect(this, &QTreeWidget::itemExpanded, this, &CShellTreeCtrl::OnItemExpanded);
    connect(this, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem *current) { OnCurrentItemChanged(current); });
}

CShellTreeCtrl::~CShellTreeCtrl() = default;

void CShellTreeCtrl::SetPlacesProvider(PlacesProvider provider)
{
    m_placesProvider = provider ? std::move(provider) : PlacesProvider(DefaultShellPlaces);
}

void CShellTreeCtrl::AddRootFolderContent(const QString &root, unsigned /*flags*/)
{
    clear();
    auto *item = new QTreeWidgetItem;
    if (root.isEmpty()) {
        item->setText(0, tr("计算机"));
        item->setIcon(0, style()->standardIcon(QStyle::SP_ComputerIcon));
        item->setData(0, KindRole, int(NodeKind::Computer));
    } else {
        const QString path = QDir::cleanPath(QFileInfo(root).absoluteFilePath());
        const QString name = QFileInfo(path).fileName();
        item->setText(0, name.isEmpty() ? path : name);
        item->setToolTip(0, path);
        item->setIcon(0, style()->standardIcon(QStyle::SP_DirIcon));
        item->setData(0, PathRole, path);
        item->setData(0, KindRole, int(NodeKind::Folder));
    }
    item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    addTopLevelItem(item);
}

QString CShellTreeCtrl::GetSelectedPath() const
{
    return GetItemPath(currentItem());
}

QTreeWidgetItem *CShellTreeCtrl::GetRootItem() const
{
    return topLevelItemCount() > 0 ? topLevelItem(0) : nullptr;
}

QString CShellTreeCtrl::GetItemPath(const QTreeWidgetItem *item)
{
    return item ? item->data(0, PathRole).toString() : QString();
}

bool CShellTreeCtrl::IsDriveCaption(const QString &caption)
{
    return caption.indexOf(QLatin1Char(':'), 1) >= 1;
}

QTreeWidgetItem *CShellTreeCtrl::ExpandToFirstDriveContainer()
{
    QTreeWidgetItem *root = GetRootItem();
    if (!root)
        return nullptr;
    root->setExpanded(true);
    for (int i = 0; i < root->childCount(); ++i) {
        QTreeWidgetItem *child = root->child(i);
        child->setExpanded(true);
        for (int k = 0; k < child->childCount(); ++k) {
            if (IsDriveCaption(child->child(k)->text(0)))
                return child;
        }
        child->setExpanded(false);
    }
    return nullptr;
}

namespace {

// Whether folder is path itself or lies below it.
bool IsAtOrBelow(const QString &folder, const QString &path)
{
    if (path.isEmpty() || !folder.startsWith(path))
        return false;
    return folder.size() == path.size() || path.endsWith(QLatin1Char('/')) ||
           folder[path.size()] == QLatin1Char('/');
}

// The child of item on the way to folder: the deepest one, so home wins
// over the file system for a folder under home.
QTreeWidgetItem *ChildTowards(QTreeWidgetItem *item, const QString &folder)
{
    QTreeWidgetItem *best = nullptr;
    for (int i = 0; i < item->childCount(); ++i) {
        QTreeWidgetItem *child = item->child(i);
        const QString path = CShellTreeCtrl::GetItemPath(child);
        if (IsAtOrBelow(folder, path) && (!best || path.size() > CShellTreeCtrl::GetItemPath(best).size()))
            best = child;
    }
    return best;
}

} // namespace

QTreeWidgetItem *CShellTreeCtrl::SelectFolder(const QString &folder)
{
    QTreeWidgetItem *item = GetRootItem();
    if (!item || folder.isEmpty())
        return nullptr;
    if (KindOf(item) != NodeKind::Computer && !IsAtOrBelow(folder, GetItemPath(item)))
        return nullptr;
    while (GetItemPath(item) != folder) {
        item->setExpanded(true); // reads the folder's children now
        item = ChildTowards(item, folder);
        if (!item)
            return nullptr;
    }
    setCurrentItem(item);
    scrollToItem(item);
    return item;
}

void CShellTreeCtrl::OnItemExpanded(QTreeWidgetItem *item)
{
    if (KindOf(item) == NodeKind::Computer)
        FillPlacesItem(item);
    else
        FillFolderItem(item);
}

void CShellTreeCtrl::FillPlacesItem(QTreeWidgetItem *item)
{
    QList<WantedChild> wanted;
    for (const ShellPlace &place : m_placesProvider()) {
        const QString path = QDir::cleanPath(place.path);
        wanted.append({place.caption, path, PlaceIcon(place.kind), HasVisibleSubFolder(path), false});
    }
    Reconcile(item, wanted, NodeKind::Place, style());
    item->setData(0, LoadedRole, true);
    item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

void CShellTreeCtrl::FillFolderItem(QTreeWidgetItem *item)
{
    if (item->data(0, LoopRole).toBool())
        return;
    const QString path = GetItemPath(item);
    if (!QFileInfo(path).isDir()) {
        // Gone, or replaced by a file: drop what it showed and the node itself.
        Reconcile(item, {}, NodeKind::Folder, style());
        item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
        if (KindOf(item) == NodeKind::Folder && item->parent())
            RemoveVanishedLater(item);
        return;
    }
    QList<WantedChild> wanted;
    for (const SubFolder &sub : ListSubFolders(path, AncestorFolders(item)))
        wanted.append({sub.name, sub.path, QStyle::SP_DirIcon, sub.mayHaveChildren, sub.isLoop});
    Reconcile(item, wanted, NodeKind::Folder, style());
    item->setData(0, LoadedRole, true);
    item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

QStringList CShellTreeCtrl::AncestorFolders(const QTreeWidgetItem *item) const
{
    QStringList folders;
    for (const QTreeWidgetItem *at = item; at; at = at->parent()) {
        const QString canonical = QFileInfo(GetItemPath(at)).canonicalFilePath();
        if (!canonical.isEmpty())
            folders.append(canonical);
    }
    return folders;
}

void CShellTreeCtrl::RemoveVanishedLater(QTreeWidgetItem *item)
{
    // Not from inside the expansion that found it gone: the view is still using the item.
    const QPersistentModelIndex index = indexFromItem(item);
    QTimer::singleShot(0, this, [this, index] {
        if (QTreeWidgetItem *gone = itemFromIndex(index))
            delete gone;
    });
}

void CShellTreeCtrl::OnCurrentItemChanged(QTreeWidgetItem *current)
{
    emit selectedPathChanged(GetItemPath(current));
}
