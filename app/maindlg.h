// The main window: the folder tree, the folder and selected lists, the
// option panel and the command buttons. It wires them together; the lists,
// the options and the layout each live in their own class.
#pragma once

#include "viewer/previewhost.h"

#include <QDialog>
#include <QStringList>

#include <memory>

class CImageLists;
class CMainLayout;
class COptionPanel;
class CPresetRow;
class CShellTreeCtrl;
class FolderListCtrl;
class SelectedListCtrl;

// The viewer's file commands reach the lists through the window.
class CMainDlg : public QDialog, private IPreviewHost {
    Q_OBJECT
public:
    explicit CMainDlg(QWidget *parent = nullptr);
    ~CMainDlg() override;

    COptionPanel *Options() const { return m_options; }
    CPresetRow *Presets() const { return m_presets; }
    CMainLayout *Layout() const { return m_layout.get(); }
    CImageLists *Lists() const { return m_lists; }
    CShellTreeCtrl *Tree() const { return m_tree; }
    const QStringList &ResultFiles() const { return m_resultFiles; }
    const QStringList &PreviewFiles() const { return m_previewFiles; }

    // Before exec: lists folder, selected in the tree where the tree reaches
    // it; with names, selects their rows, adds them to the selected list and
    // shows them in the viewer, the first one first, once the window runs.
    void OpenAtStart(const QString &folder, const QStringList &names);

public slots:
    void OnOK();
    void OnPreview();
    void OnViewResults();
    void OnUndoRun();
    void OnView();
    void OnAbout();
    void OnFolderSelChanged();
    void done(int result) override;

protected:
    bool event(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void CreateControls();
    void FitCaptions();
    void OnInitDialog();
    void ExpandTreeToDrives();
    void Message(const QString &text);
    // The viewer over the selected list from row start; processed: with the
    // options' steps applied, as Preview shows them.
    void ViewSelected(bool processed, int start);

    void RemoveFolderPath(const QString &path) override;
    void AddFolderPathToSelection(const QString &path) override;
    void RemoveSelectedPath(const QString &path) override;

    COptionPanel *m_options = nullptr;
    CPresetRow *m_presets = nullptr;
    std::unique_ptr<CMainLayout> m_layout;
    CImageLists *m_lists = nullptr;
    CShellTreeCtrl *m_tree = nullptr;
    FolderListCtrl *m_folderList = nullptr;
    SelectedListCtrl *m_selectedList = nullptr;
    QStringList m_previewFiles;
    QStringList m_resultFiles;
    bool m_bDestroyed = false;
};
