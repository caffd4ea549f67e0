// The folder tree of the main window: a root item whose children are the
// places a user browses from (home, the file system, mounted volumes), each
// expandable down to its folders. A node's folders are read with QDir when
// it expands, synchronously, so code that expands nodes sees them at once;
// every expansion reads the folder again, so vanished and new folders show.
#pragma once

#include "controls/shelltree/shellplaces.h"

#include <QTreeWidget>

#include <functional>

class CShellTreeCtrl : public QTreeWidget {
    Q_OBJECT

public:
    using PlacesProvider = std::function<QList<ShellPlace>()>;

    explicit CShellTreeCtrl(QWidget *parent = nullptr);
    ~CShellTreeCtrl() override;

    // Where the root's children come from; DefaultShellPlaces unless replaced.
    // The list is read again whenever the root expands.
    void SetPlacesProvider(PlacesProvider provider);

    // Clears the tree and adds the root item. With no folder the root is the
    // computer ("计算机") over the places; with a folder it is that folder.
    // No flags are defined; callers pass 0.
    void AddRootFolderContent(const QString &root = {}, unsigned flags = 0);

    // The file-system path of the selected item; empty for the computer root
    // or when nothing is selected.
    QString GetSelectedPath() const;

    QTreeWidgetItem *GetRootItem() const;
    static QString GetItemPath(const QTreeWidgetItem *item);

    // Opens the way to the drives: expands the root, then each child of the
    // root in turn until one has a child whose caption holds ":" after its
    // first character; that child stays expanded, the ones before it are
    // collapsed again. Returns the child left expanded, or nullptr.
    QTreeWidgetItem *ExpandToFirstDriveContainer();

    // Expands the way down to folder (an absolute, clean path) from the
    // place that holds it most closely and makes it the current item, which
    // reports it as selected. Returns the item, or nullptr when the tree does
    // not reach it (a hidden folder): then the selection is left alone.
    QTreeWidgetItem *SelectFolder(const QString &folder);

    // True for a caption with ":" at a position after its first character.
    static bool IsDriveCaption(const QString &caption);

signals:
    // The selection moved; the path is that of GetSelectedPath.
    void selectedPathChanged(const QString &path);

private:
    void OnItemExpanded(QTreeWidgetItem *item);
    void OnCurrentItemChanged(QTreeWidgetItem *current);
    void FillFolderItem(QTreeWidgetItem *item);
    void FillPlacesItem(QTreeWidgetItem *item);
    QStringList AncestorFolders(const QTreeWidgetItem *item) const;
    void RemoveVanishedLater(QTreeWidgetItem *item);

    PlacesProvider m_placesProvider;
};
