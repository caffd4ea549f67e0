#include "app/maindlg.h"

#include "app/dialogs/aboutdlg.h"
#include "app/dialogs/appresources.h"
#include "app/dialogs/appversion.h"
#include "app/controlbyid.h"
#include "app/documentstart.h"
#include "convert/pagesources.h"
#include "convert/convertjob.h"
#include "lists/folderlistctrl.h"
#include "resources/ids_main.h"
#include "lists/imagelists.h"
#include "app/mainlayout.h"
#include "app/maintemplate.h"
#include "convert/naming.h"
#include "app/optionpanel.h"
#include "app/presetrow.h"
#include "app/runresults.h"
#include "viewer/previewdlg.h"
#include "rundialogs/progressdialog.h"
#include "rundialogs/undorun.h"
#include "convert/runjournal.h"
#include "convert/safefolders.h"
#include "lists/selectedlistctrl.h"
#include "settings/settingsstore.h"
#include "controls/elidingcombobox.h"
#include "controls/elidinglabel.h"
#include "controls/shelltree/shelltreectrl.h"
#include "controls/spinbuttonctrl.h"
#include "lists/transparentbitmapstatic.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QTimer>

#include <algorithm>
#include <initializer_list>

using namespace mainid;
using maintemplate::Kind;

namespace {

int PictureResource(int id)
{
    switch (id) {
    case IDC_PIC_LEFT:
        return 137;
    case IDC_PIC_RIGHT:
        return 135;
    default:
        return 136;
    }
}

// Room between a label's text and the control it names.
constexpr int kLabelGap = 4;

// Holds the folder list's disk changes for as long as it lives.
class DiskHold {
public:
    DiskHold(CImageLists *lists, bool hold) : m_lists(hold ? lists : nullptr)
    {
        if (m_lists)
            m_lists->HoldDiskChanges();
    }
    ~DiskHold()
    {
        if (m_lists)
            m_lists->ReleaseDiskChanges();
    }
    DiskHold(const DiskHold &) = delete;
    DiskHold &operator=(const DiskHold &) = delete;

private:
    QPointer<CImageLists> m_lists;
};

// Whether a run may write into folder: its destination, or a source's own
// folder when the outputs go beside their sources.
bool WritesInto(const CConvertJob &job, const QString &folder)
{
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    if (canonical.isEmpty())
        return false;
    const auto same = [&](const std::string &dir) {
        return QFileInfo(QString::fromStdString(dir)).canonicalFilePath() == canonical;
    };
    if (!job.m_szOutDir.empty())
        return same(job.m_szOutDir);
    for (int i = 0; i < job.GetFileCount(); ++i)
        if (same(SplitPath(job.GetFile(i)).folder))
            return true;
    return false;
}

}  // namespace

CMainDlg::CMainDlg(QWidget *parent) : QDialog(parent)
{
    setObjectName(QString::number(IDD_MAIN));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setMouseTracking(true);
    resize(maintemplate::kDefaultClientSize);
    setMinimumSize(maintemplate::kMinimumSize);
    OnInitDialog();
}

CMainDlg::~CMainDlg()
{
    // The loader reports to the folder list: stop it before the widgets go.
    delete m_lists;
    m_lists = nullptr;
}

void CMainDlg::CreateControls()
{
    for (const maintemplate::Control &c : maintemplate::Controls()) {
        const QString text = c.text ? tr(c.text) : QString();
        QWidget *w = nullptr;
        switch (c.kind) {
        case Kind::Label:
            w = new QLabel(text, this);
            break;
        case Kind::GroupBox:
            w = new QGroupBox(text, this);
            break;
        case Kind::Button:
        case Kind::DefaultButton: {
            auto *b = new QPushButton(text, this);
            b->setAutoDefault(false);
            b->setDefault(c.kind == Kind::DefaultButton);
            w = b;
            break;
        }
        case Kind::CheckBox: {
            auto *b = new QCheckBox(text, this);
            b->setAutoFillBackground(true);  // covers the group's frame line behind it
            w = b;
            break;
        }
        case Kind::Radio:
            w = new QRadioButton(text, this);
            break;
        case Kind::Edit:
            w = new QLineEdit(this);
            break;
        case Kind::Combo:
            w = new QComboBox(this);
            break;
        case Kind::ElidingCombo:
            w = new CElidingComboBox(this);
            break;
        case Kind::ElidingLabel:
            w = new CElidingLabel(this);
            break;
        case Kind::Spin:
            w = new CSpinButtonCtrl(this);
            break;
        case Kind::Picture: {
            auto *p = new TransparentBitmapStatic(this);
            p->setPixmap(LoadAppBitmap(PictureResource(c.id)));
            w = p;
            break;
        }
        case Kind::ProgressBar: {
            auto *bar = new QProgressBar(this);
            bar->setTextVisible(false);
            bar->hide();
            w = bar;
            break;
        }
        case Kind::Tree:
            w = m_tree = new CShellTreeCtrl(this);
            break;
        case Kind::FolderList:
            w = m_folderList = new FolderListCtrl(this);
            break;
        case Kind::SelectedList:
            w = m_selectedList = new SelectedListCtrl(this);
            break;
        }
        w->setObjectName(QString::number(c.id));
        w->setGeometry(c.rect);
    }
    FitCaptions();
}

void CMainDlg::FitCaptions()
{
    // In common CJK fonts "JPEG，TIFF 品质:" is wider than its slot, and so
    // are some translations of the other captions: the controls they name
    // move right to keep a gap after the text, the lists keeping their right
    // edge, the edit and spin button their size.
    const struct {
        int caption;
        std::initializer_list<int> named;
        bool keepRight;
    } rows[] = {
        {IDC_QUALITY_LABEL, {IDC_QUALITY, IDC_QUALITY_SPIN}, false},
        {IDC_FORMAT_LABEL, {IDC_FORMAT}, true},
        {IDC_DEST_LABEL, {IDC_DEST}, true},
    };
    for (const auto &row : rows) {
        auto *caption = ControlById<QLabel>(this, row.caption);
        const int textRight = caption->x() + caption->fontMetrics().horizontalAdvance(caption->text());
        const int shift = textRight + kLabelGap - ControlById<QWidget>(this, *row.named.begin())->x();
        if (shift <= 0)
            continue;
        caption->resize(caption->width() + shift, caption->height());
        for (int id : row.named) {
            QWidget *w = ControlById<QWidget>(this, id);
            w->setGeometry(w->x() + shift, w->y(), w->width() - (row.keepRight ? shift : 0), w->height());
        }
    }
    // The quality row's check box takes the room after the spin button, up
    // to the output group's edge.
    const QWidget *spin = ControlById<QWidget>(this, IDC_QUALITY_SPIN);
    QWidget *ifLarger = ControlById<QWidget>(this, IDC_IF_LARGER);
    const int left = spin->x() + spin->width() + kLabelGap, right = ifLarger->x() + ifLarger->width();
    ifLarger->setGeometry(left, ifLarger->y(), std::max(0, right - left), ifLarger->height());
    // A group's check box, its title, is as wide as its text.
    for (int id : {IDC_RENAME, IDC_RESIZE, IDC_ROTATE, IDC_STAMP}) {
        auto *box = ControlById<QCheckBox>(this, id);
        box->resize(std::max(box->width(), box->sizeHint().width()), box->height());
    }
    // Undo Last Run grows to the left, keeping its gap to Start.
    auto *undo = ControlById<QPushButton>(this, IDC_UNDO_RUN);
    const int width = std::max(undo->width(), undo->sizeHint().width());
    undo->setGeometry(undo->geometry().right() + 1 - width, undo->y(), width, undo->height());
}

void CMainDlg::OnInitDialog()
{
    CreateControls();
    setWindowIcon(LoadAppIcon());
    m_lists = new CImageLists(m_folderList, m_selectedList, ControlById<QLabel>(this, IDC_COUNT_LABEL),
                              ControlById<QLabel>(this, IDC_LOADING_LABEL),
                              ControlById<QProgressBar>(this, IDC_LOADING_BAR), this);
    m_lists->SetAutoRotateSource(
        [] { return GetProfileInt(kSettingsSection, settingskey::kAutoRotate, 1) != 0; });
    m_lists->SetThumbnailCacheSource(
        [] { return GetProfileInt(kSettingsSection, settingskey::kThumbnailCache, 1) != 0; });
    setWindowTitle(appversion::ProductAndVersion());
    m_options = new COptionPanel(this);
    m_options->m_firstSelectedPath = [this] {
        const QStringList paths = m_lists ? m_lists->SelectedPaths() : QStringList();
        return paths.isEmpty() ? QString() : paths.first();
    };

    m_tree->AddRootFolderContent();
    m_tree->ExpandToFirstDriveContainer();
    connect(m_tree, &CShellTreeCtrl::selectedPathChanged, this, &CMainDlg::OnFolderSelChanged);

    m_layout = std::make_unique<CMainLayout>(this);
    m_layout->CaptureLayout();
    m_layout->RestoreLayout();
    m_layout->ApplyStoredGeometry();

    m_options->ReadSettings();
    m_options->UpdateData(false);
    m_options->LoadDestList();
    m_options->OnRotateCheck();
    m_options->OnRenameCheck();
    m_options->OnKeepDatesCheck();
    m_options->OnResizeCheck();
    m_options->OnStampCheck();
    m_options->OnFormatChange();
    m_presets = new CPresetRow(this, m_options);

    auto connectButton = [this](int id, auto slot) {
        connect(ControlById<QPushButton>(this, id), &QPushButton::clicked, this, slot);
    };
    connectButton(IDOK, &CMainDlg::OnOK);
    connectButton(IDCANCEL, &CMainDlg::reject);
    connectButton(IDC_PREVIEW, &CMainDlg::OnPreview);
    connectButton(IDC_VIEW_RESULTS, &CMainDlg::OnViewResults);
    connectButton(IDC_ABOUT, &CMainDlg::OnAbout);
    connectButton(IDC_UNDO_RUN, &CMainDlg::OnUndoRun);
    connectButton(IDC_VIEW, &CMainDlg::OnView);
    connect(ControlById<QPushButton>(this, IDC_ADD), &QPushButton::clicked, m_lists, &CImageLists::OnAdd);
    connect(ControlById<QPushButton>(this, IDC_ADD_ALL), &QPushButton::clicked, m_lists,
            &CImageLists::OnAddAll);
    connect(ControlById<QPushButton>(this, IDC_REMOVE), &QPushButton::clicked, m_lists,
            &CImageLists::OnRemove);
    connect(ControlById<QPushButton>(this, IDC_REMOVE_ALL), &QPushButton::clicked, m_lists,
            &CImageLists::OnRemoveAll);
    connect(m_lists, &CImageLists::viewRequested, this, &CMainDlg::OnView);
    auto *reload = new QShortcut(QKeySequence(Qt::Key_F5), this);
    connect(reload, &QShortcut::activated, m_lists, &CImageLists::Reload);
}

void CMainDlg::Message(const QString &text)
{
    QMessageBox::information(this, QString::fromLatin1(appversion::kProductName), text);
}

void CMainDlg::OnFolderSelChanged()
{
    m_lists->ListFolder(m_tree->GetSelectedPath());
}

void CMainDlg::OpenAtStart(const QString &folder, const QStringList &names)
{
    // A folder the tree does not show (a hidden one) is listed all the same;
    // the tree then rests on its root, so taking the focus changes nothing.
    if (!m_tree->SelectFolder(folder))
        m_tree->setCurrentItem(m_tree->GetRootItem());
    if (m_lists->Folder() != folder)
        m_lists->ListFolder(folder);
    if (names.isEmpty() || m_lists->SelectFolderNames(names) < 0)
        return;
    // The files handed over are the ones to convert, added as Add adds them;
    // the viewer walks them, from the first one named.
    m_lists->OnAdd();
    const QString first = m_lists->FolderPaths().value(m_lists->FolderSelectionMark());
    QTimer::singleShot(0, this,
                       [this, first] { ViewSelected(false, int(m_lists->SelectedPaths().indexOf(first))); });
}

void CMainDlg::OnOK()
{
    if (m_lists->SelectedCount() == 0) {
        Message(tr("请先选择文件!"));
        return;
    }
    if (!m_options->UpdateData(true))
        return;
    std::vector<std::string> sources;
    for (const QString &path : m_lists->SelectedPaths())
        sources.push_back(path.toStdString());
    CConvertJob job = MakeConvertJob(m_options->MakeOptions(), sources);
    // Each document becomes its pages, as velmora-batch makes them.
    PageChoice pages;
    ParsePageChoice(job.m_szPages, pages);
    if (std::string problem; !ExpandPages(job, pages, problem)) {
        Message(QString::fromStdString(problem));
        return;
    }
    // One document: named before anything starts, in the destination (or
    // the first source's folder); cancelled, nothing starts.
    const DocumentChoices document = m_options->m_document;
    QString documentPath;
    if (document.on) {
        const QString out = QString::fromStdString(job.m_szOutDir);
        documentPath = AskDocumentPath(
            this, document,
            !out.isEmpty() && QFileInfo(out).isDir() ? out : QFileInfo(sources.front().c_str()).path());
        if (documentPath.isEmpty())
            return;
    }
    // A destination removed since it was chosen is made again; one that
    // cannot be made would turn every file into a save error.
    std::vector<std::string> made;
    std::string why;
    if (!document.on && !job.m_szOutDir.empty() && !MakeFolderPath(job.m_szOutDir, made, why)) {
        Message(tr("无法创建目标文件夹:\n%1").arg(QString::fromStdString(job.m_szOutDir)));
        return;
    }
    m_options->WriteSettings(m_lists->Folder());
    m_options->SaveDestList();

    m_resultFiles.clear();
    // The listed folder's changes wait for the end of a run that writes there.
    const DiskHold hold(m_lists, WritesInto(job, m_lists->Folder()));
    CProgressDialog dlg(job, &m_resultFiles, this);
    dlg.SetMadeFolders(std::move(made));
    if (document.on) {
        const CEncoderSettings &e = job.m_encoder;
        dlg.SetDocument(QFile::encodeName(documentPath).toStdString(),
                        {e.m_nPageSize, e.m_nPageMargin, e.m_nDpi});
    }
    dlg.SetResultsViewer(ResultsViewerFor(dlg));
    dlg.exec();
}

void CMainDlg::OnPreview()
{
    if (m_lists->SelectedCount() == 0) {
        Message(tr("请先选择文件!"));
        return;
    }
    ViewSelected(true, m_lists->SelectedSelectionMark());
}

void CMainDlg::ViewSelected(bool processed, int start)
{
    if (!m_options->UpdateData(true))
        return;

    const ConvertOptions o = m_options->MakeOptions();
    CPreviewDlg dlg(this);
    m_previewFiles = m_lists->SelectedPaths();
    // The list gives a watermark that names its file that file's text.
    std::vector<std::string> sources;
    for (const QString &path : m_previewFiles)
        sources.push_back(path.toStdString());
    const CConvertJob job = MakeConvertJob(o, sources);
    // Editing steps alone change the picture too.
    dlg.SetPreview(processed && (o.m_bResize || o.m_bRotate || o.m_bStamp || job.m_edits.ChangesPixels()));
    dlg.SetPreviewSettings(job);
    dlg.SetFileList(&m_previewFiles);
    dlg.SetOpenMode(CPreviewDlg::MODE_SELECTED);
    dlg.SetStartIndex(start);
    dlg.SetHost(this);
    dlg.exec();
}

void CMainDlg::OnUndoRun()
{
    // The results of the run undone are gone.
    if (ConfirmAndUndoRun(this, NewestJournal()))
        m_resultFiles.clear();
}

void CMainDlg::OnViewResults()
{
    if (m_resultFiles.isEmpty()) {
        Message(tr("没有可以查看的结果图像!"));
        return;
    }
    if (OpenDocumentResult(m_resultFiles))
        return;
    CPreviewDlg dlg(this);
    dlg.SetFileList(&m_resultFiles);
    dlg.SetPreview(false);
    dlg.SetOpenMode(CPreviewDlg::MODE_RESULTS);
    dlg.SetStartIndex(0);
    dlg.SetHost(this);
    dlg.exec();
}

void CMainDlg::OnView()
{
    if (m_lists->FileNames().empty())
        return;
    QStringList files = m_lists->FolderPaths();
    // The folder list keeps the rows the viewer names while it is open.
    const DiskHold hold(m_lists, true);
    CPreviewDlg dlg(this);
    dlg.SetFileList(&files);
    dlg.SetPreview(false);
    dlg.SetOpenMode(CPreviewDlg::MODE_FOLDER);
    dlg.SetStartIndex(m_lists->FolderSelectionMark());
    dlg.SetHost(this);
    dlg.exec();
}

void CMainDlg::RemoveFolderPath(const QString &path)
{
    m_lists->RemoveFolderRow(m_lists->FolderRowOf(path));
}

void CMainDlg::AddFolderPathToSelection(const QString &path)
{
    m_lists->AddFolderRowToSelection(m_lists->FolderRowOf(path));
}

void CMainDlg::RemoveSelectedPath(const QString &path)
{
    m_lists->RemoveSelectedPath(path);
}

void CMainDlg::OnAbout()
{
    CAboutDlg about(this);
    about.exec();
}

void CMainDlg::done(int result)
{
    if (!m_bDestroyed) {
        m_bDestroyed = true;
        m_layout->OnDestroy();
    }
    QDialog::done(result);
}

bool CMainDlg::event(QEvent *event)
{
    // A child asks for room as its text changes (the window has no layout to
    // do it): the count of selected images moves the preset row.
    if (event->type() == QEvent::LayoutRequest && m_layout)
        m_layout->FitPresetRow();
    return QDialog::event(event);
}

void CMainDlg::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    if (m_layout)
        m_layout->OnSize();
}

void CMainDlg::moveEvent(QMoveEvent *event)
{
    QDialog::moveEvent(event);
    if (m_layout)
        m_layout->OnMove();
}

void CMainDlg::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_layout->OnLButtonDown(event->position().toPoint());
    QDialog::mousePressEvent(event);
}

void CMainDlg::mouseMoveEvent(QMouseEvent *event)
{
    m_layout->OnMouseMove(event->position().toPoint());
    QDialog::mouseMoveEvent(event);
}

void CMainDlg::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_layout->OnLButtonUp(event->position().toPoint());
    QDialog::mouseReleaseEvent(event);
}
