#include "rundialogs/progressdialog.h"

#include "convert/convertworker.h"
#include "convert/metadataoptions.h"
#include "convert/documentrun.h"
#include "convert/runjournal.h"
#include "rundialogs/dialogunits.h"
#include "resources/ids_progress.h"
#include "convert/naming.h"
#include "rundialogs/overwritedialog.h"
#include "rundialogs/undorun.h"
#include "settings/settingsstore.h"

#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QShowEvent>
#include <QTextCursor>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <mutex>

// Resource registration must sit outside every namespace.
static void InitProgressResources()
{
    Q_INIT_RESOURCE(progress);
}

namespace {

using namespace progressid;

const char *const kTitle = "Velmora";
const char *const kStatusRunning = QT_TRANSLATE_NOOP("CProgressDialog", "正在转换文件。请稍等");
const char *const kStatusDone = QT_TRANSLATE_NOOP("CProgressDialog", "转换已完成。");
const char *const kStop = QT_TRANSLATE_NOOP("CProgressDialog", "停止");
const char *const kExit = QT_TRANSLATE_NOOP("CProgressDialog", "退出");
const char *const kDetailsShow = QT_TRANSLATE_NOOP("CProgressDialog", "详细信息 >>");
const char *const kDetailsHide = QT_TRANSLATE_NOOP("CProgressDialog", "<< 详细信息");
const char *const kEncodedForMetadata =
    QT_TRANSLATE_NOOP("CProgressDialog", "元数据无法直接写入 AVIF/HEIC 文件:这些文件会重新编码");

constexpr int kWidthUnits = 332;
constexpr int kHeightUnits = 228;
// Part of the client area the details take up.
constexpr double kDetailsShare = 0.67;

QString Text(const char *source)
{
    return QCoreApplication::translate("CProgressDialog", source);
}

QString ForDisplay(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

// The log keeps the line ends it has always had.
QString LogLine(const std::string &line)
{
    return QString::fromStdString(line + "\r\n");
}

// A failure's cause, indented under its error lines, on one line.
std::string ReasonLine(const std::string &reason)
{
    std::string line = "    " + reason;
    for (char &c : line)
        if (c == '\r' || c == '\n')
            c = ' ';
    return line;
}

QIcon ApplicationIcon()
{
    const QIcon own = QApplication::windowIcon();
    if (!own.isNull())
        return own;
    static std::once_flag once;
    std::call_once(once, InitProgressResources);
    return QIcon(QString::fromUtf8(kAppIconResource));
}

// The window's runs keep what they replace in the trash, and a journal, so
// they can be undone.
void DefaultRunBody(const CConvertJob &job, IConvertReporter &reporter, std::stop_token stop,
                    RunJournal *journal, std::vector<std::string> made)
{
    ConvertWorker worker(job, reporter);
    worker.SetJournal(journal);
    worker.SetMadeFolders(std::move(made));
    worker.SetTrashReplaced(true);
    ConvertThreadProc(&worker, std::move(stop));
}

// A run into one document, as velmora-batch's --combine: its log line goes
// with the files' lines, and the journal names it as one output.
void DocumentRunBody(const CConvertJob &job, CScreenReporter &reporter, std::stop_token stop,
                     RunJournal *journal, const std::string &document, PageLayout layout)
{
    DocumentRun run(job, document, layout, reporter);
    run.SetDocumentReport(
        [&reporter](const DocumentRecord &record) { reporter.LogLine(DocumentLogLine(record)); });
    run.SetJournal(journal);
    run.SetTrashReplaced(true);
    run.Run(std::move(stop));
}

template <typename W> W *Named(W *widget, int id)
{
    widget->setObjectName(QString::number(id));
    return widget;
}

} // namespace

CProgressDialog::CProgressDialog(QWidget *parent) : QDialog(parent)
{
    using dlgunits::Rect;
    setObjectName(QString::number(IDD_PROGRESS));
    setWindowTitle(Text(kTitle));
    setModal(true);

    // Created in tab order.
    m_btnViewResults = Named(new QPushButton(tr("查看结果"), this), IDC_VIEW_RESULTS);
    m_btnViewResults->setGeometry(Rect(267, 10, 56, 14));
    m_btnViewResults->setEnabled(false);
    m_btnStop = Named(new QPushButton(Text(kStop), this), IDC_STOP);
    m_btnStop->setGeometry(Rect(267, 27, 56, 14));
    m_btnDetails = Named(new QPushButton(Text(kDetailsShow), this), IDC_DETAILS);
    m_btnDetails->setGeometry(Rect(267, 44, 56, 14));

    m_stcStatus = Named(new QLabel(Text(kStatusRunning), this), IDC_STATUS);
    m_stcStatus->setGeometry(Rect(52, 13, 210, 11));
    m_stcStatus->setTextFormat(Qt::PlainText);

    m_stcIcon = new QLabel(this);
    const QRect iconBox = Rect(14, 12, 20, 20);
    m_stcIcon->setGeometry(QRect(iconBox.topLeft(), QSize(32, 32)));
    m_stcIcon->setPixmap(ApplicationIcon().pixmap(32, 32));

    m_progress = Named(new QProgressBar(this), IDC_PROGRESS);
    m_progress->setGeometry(Rect(9, 45, 250, 12));
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);

    m_chkAutoClose = Named(new QCheckBox(tr("完成后关闭"), this), IDC_AUTO_CLOSE);
    m_chkAutoClose->setGeometry(Rect(9, 61, 104, 10));
    m_btnOpenDest = Named(new QPushButton(tr("打开文件夹"), this), IDC_OPEN_DEST);
    m_btnOpenDest->setGeometry(Rect(111, 59, 60, 14));
    m_btnOpenDest->hide();

    auto *line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(Rect(8, 76, 315, 1).adjusted(0, 0, 0, 1));

    m_grpDetails = new QGroupBox(tr("详细信息"), this);
    const QRect groupBox = Rect(8, 81, 315, 140);
    m_grpDetails->setGeometry(groupBox);
    m_edtLog = Named(new QPlainTextEdit(m_grpDetails), IDC_LOG);
    m_edtLog->setGeometry(Rect(14, 92, 303, 123).translated(-groupBox.topLeft()));
    m_edtLog->setReadOnly(true);
    m_edtLog->setUndoRedoEnabled(false);
    m_edtLog->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_edtLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_edtLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    setFixedSize(dlgunits::Size(kWidthUnits, kHeightUnits));

    connect(m_btnViewResults, &QPushButton::clicked, this, &CProgressDialog::OnViewResults);
    connect(m_btnStop, &QPushButton::clicked, this, &CProgressDialog::OnStop);
    connect(m_btnDetails, &QPushButton::clicked, this, &CProgressDialog::OnDetails);
    connect(m_btnOpenDest, &QPushButton::clicked, this, &CProgressDialog::OnOpenDestination);
    m_folderOpener = [](const QString &folder) {
        return QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    };

    // Shown once the run is over and has written something.
    m_btnUndo = Named(new QPushButton(tr("撤销上次运行"), this), IDC_UNDO_RUN);
    m_btnUndo->setGeometry(Rect(173, 59, 86, 14));
    m_btnUndo->hide();
    connect(m_btnUndo, &QPushButton::clicked, this, &CProgressDialog::OnUndoRun);
}

void CProgressDialog::OnUndoRun()
{
    if (m_bRunning || !m_journal)
        return;
    ConfirmAndUndoRun(this, m_journal->Path());
    // The journal is spent once the question was answered yes.
    if (!QFile::exists(QString::fromStdString(m_journal->Path()))) {
        m_btnUndo->hide();
        m_pResults->clear();
        m_btnViewResults->setEnabled(false);
    }
}

CProgressDialog::CProgressDialog(const CConvertJob &job, QStringList *results, QWidget *parent)
    : CProgressDialog(parent)
{
    SetJob(job);
    SetResultList(results);
}

CProgressDialog::~CProgressDialog()
{
    EndWorker();
    if (m_bInitDone && !m_bSettingsSaved)
        SaveSettings();
}

void CProgressDialog::showEvent(QShowEvent *event)
{
    if (!m_bInitDone)
        OnInitDialog();
    QDialog::showEvent(event);
}

void CProgressDialog::OnInitDialog()
{
    m_bInitDone = true;
    const QSize full = dlgunits::Size(kWidthUnits, kHeightUnits);
    m_nFullWidth = full.width();
    m_nFullHeight = full.height();
    m_nCollapsedHeight = m_nFullHeight - int(std::trunc(m_nFullHeight * kDetailsShare));

    m_chkAutoClose->setChecked(
        GetProfileInt(kSettingsSection, settingskey::kAutoClose, settingsdefault::kAutoClose) != 0);
    const bool shown = GetProfileInt(kSettingsSection, settingskey::kProgress, 0) != 0;
    m_btnDetails->setText(Text(shown ? kDetailsHide : kDetailsShow));
    SetDetailsShown(shown);

    m_nScrollPos = -1;
    m_strLog.clear();
    m_strFirstOutput.clear();
    m_strUnshownLog.clear();
    m_bViewerOpen = false;
    m_nCounter = 0;
    // Said once, before the files, as velmora-batch says it.
    const std::vector<std::string> &files = m_job.GetFiles();
    if (std::any_of(files.begin(), files.end(), [this](const std::string &f) {
            return EncodedForMetadata(m_job, TypeFromExtension(LowerExtension(f)));
        }))
        AppendLog(Text(kEncodedForMetadata) + QStringLiteral("\r\n"));
    StartWorker();
}

void CProgressDialog::StartWorker()
{
    m_bRunning = true;
    m_reporter = CScreenReporter::Create(
        this, [this](std::vector<RunReport> &&batch) { ApplyReports(std::move(batch)); });
    // Shared with the thread: a stopped worker may outlive the dialog.
    m_journal = std::make_shared<RunJournal>();
    RunBody body = m_runBody;
    if (!body && !m_document.empty())
        body = [journal = m_journal, reporter = m_reporter, document = m_document,
                layout = m_layout](const CConvertJob &job, IConvertReporter &, std::stop_token stop) {
            DocumentRunBody(job, *reporter, std::move(stop), journal.get(), document, layout);
        };
    if (!body)
        body = [journal = m_journal, made = m_madeFolders](const CConvertJob &job, IConvertReporter &reporter,
                                                           std::stop_token stop) {
            DefaultRunBody(job, reporter, std::move(stop), journal.get(), made);
        };
    m_thread.Start([body = std::move(body), job = m_job, reporter = m_reporter](std::stop_token stop) {
        body(job, *reporter, std::move(stop));
    });
}

void CProgressDialog::EndWorker()
{
    m_bRunning = false;
    if (!m_reporter || !m_reporter->IsListening())
        return;
    m_thread.RequestStop();
    // Outputs already on disk stay listed even if their report had not
    // arrived yet.
    for (const RunReport &report : m_reporter->StopListening())
        if (report.kind == RunReport::Kind::Result)
            AddResult(QFile::decodeName(QByteArray::fromStdString(report.text)));
    // The worker may be inside a long decode: it finishes on its own,
    // talking to nobody, and is joined later.
    KeepStoppedThread(std::move(m_thread));
}

void CProgressDialog::SaveSettings()
{
    m_bSettingsSaved = true;
    WriteProfileInt(kSettingsSection, settingskey::kProgress, IsLogShown() ? 1 : 0);
    WriteProfileInt(kSettingsSection, settingskey::kAutoClose, m_chkAutoClose->isChecked() ? 1 : 0);
}

void CProgressDialog::ApplyReports(std::vector<RunReport> &&batch)
{
    const QPointer<CProgressDialog> self(this);
    auto listening = [&] { return self && m_reporter && m_reporter->IsListening(); };
    std::size_t i = 0;
    for (; i < batch.size() && listening(); ++i) {
        RunReport &report = batch[i];
        switch (report.kind) {
        case RunReport::Kind::Status:
            AnimateStatus();
            break;
        case RunReport::Kind::Started:
            AppendLog(LogLine(convertlog::FromLine(report.text)));
            break;
        case RunReport::Kind::Line:
            AppendLog(LogLine(report.text));
            break;
        case RunReport::Kind::File:
            for (const std::string &line : convertlog::RecordLines(report.record))
                AppendLog(LogLine(line));
            if (report.record.Failed()) {
                m_bHadErrors = true;
                // The window has no standard error: why a file failed
                // follows its error lines.
                if (!report.record.reason.empty())
                    AppendLog(LogLine(ReasonLine(convertlog::ShownReason(report.record.reason))));
            }
            break;
        case RunReport::Kind::Percent:
            SetPercent(report.value);
            break;
        case RunReport::Kind::Result:
            AddResult(QFile::decodeName(QByteArray::fromStdString(report.text)));
            break;
        case RunReport::Kind::Summary:
            m_strSummary =
                QStringLiteral("\r\n") + QString::fromStdString(convertlog::SummaryLine(report.totals));
            AppendLog(m_strSummary);
            break;
        case RunReport::Kind::Done:
            FlushView();
            OnConvertDone(1);
            break;
        case RunReport::Kind::Question:
            FlushView();
            AskOverwrite(QString::fromStdString(OverwriteQuestion(report.text)));
            break;
        }
    }
    if (!self)
        return;
    for (; i < batch.size(); ++i)
        if (batch[i].kind == RunReport::Kind::Result)
            AddResult(QFile::decodeName(QByteArray::fromStdString(batch[i].text)));
    FlushView();
}

void CProgressDialog::AnimateStatus()
{
    if (++m_nCounter > 24)
        m_nCounter = 0;
    m_bStatusDirty = true;
}

void CProgressDialog::AppendLog(const QString &text)
{
    m_strLog += text;
    if (IsLogShown())
        m_strUnshownLog += text;
}

void CProgressDialog::SetPercent(int percent)
{
    // The bar paints itself at once on every change: once per batch.
    m_nPercent = percent;
}

void CProgressDialog::AddResult(const QString &path)
{
    m_pResults->append(path);
    if (m_strFirstOutput.isEmpty())
        m_strFirstOutput = path;
    emit resultAdded(path);
    if (!m_btnViewResults->isEnabled())
        m_btnViewResults->setEnabled(true);
}

// The screen catches up once per batch, not once per report.
void CProgressDialog::FlushView()
{
    if (m_nPercent >= 0) {
        m_progress->setValue(m_nPercent);
        m_nPercent = -1;
    }
    if (m_bStatusDirty) {
        m_bStatusDirty = false;
        if (m_bRunning)
            m_stcStatus->setText(Text(kStatusRunning) + QString(m_nCounter / 4, QLatin1Char('.')));
    }
    if (!m_strUnshownLog.isEmpty()) {
        if (IsLogShown())
            AppendToView(m_strUnshownLog);
        m_strUnshownLog.clear();
    }
}

void CProgressDialog::OnConvertDone(int wParam)
{
    m_bRunning = false;
    // A run with failures stays on screen even with auto-close ticked, so
    // the errors are never hidden behind a vanishing window.
    const bool autoClose = m_chkAutoClose->isChecked() && wParam != 0 && !m_bHadErrors;
    if (autoClose && !m_bViewerOpen) {
        OnStop();
        return;
    }
    m_stcStatus->setText(Text(kStatusDone));
    m_btnStop->setText(Text(kExit));
    m_btnUndo->setVisible(m_journal && !m_journal->Path().empty());
    m_btnOpenDest->setVisible(!DestinationFolder().isEmpty());
    if (!m_bViewerOpen)
        return;
    // The viewer runs from this dialog: tell the user over it, and close
    // once it returns.
    m_bCloseAfterViewer = autoClose;
    QWidget *over = QApplication::activeModalWidget();
    QMessageBox::information(over ? over : this, Text(kTitle),
                             ForDisplay(Text(kStatusDone) + "\r\n" + m_strSummary));
}

QString CProgressDialog::DestinationFolder() const
{
    if (!m_job.m_szOutDir.empty())
        return QString::fromStdString(m_job.m_szOutDir);
    return m_strFirstOutput.isEmpty() ? QString() : QFileInfo(m_strFirstOutput).absolutePath();
}

void CProgressDialog::OnOpenDestination()
{
    const QString folder = DestinationFolder();
    if (folder.isEmpty() || !m_folderOpener)
        return;
    // Without a file manager the desktop refuses quietly: say so.
    if (!m_folderOpener(folder))
        QMessageBox::information(this, Text(kTitle), tr("无法打开文件夹 %1:找不到文件管理器。").arg(folder));
}

void CProgressDialog::AskOverwrite(const QString &message)
{
    const QPointer<CProgressDialog> self(this);
    const QPointer<COverwriteDialog> question = new COverwriteDialog(this);
    m_pQuestion = question;
    question->SetMessage(message);
    const int result = question->exec();
    const OverwriteAnswer answer = question ? question->GetAnswer(result) : OverwriteAnswer{};
    delete question.data();
    // When the dialog went away meanwhile, its reporter already answered Cancel.
    if (self && m_reporter)
        m_reporter->Answer(answer);
}

bool CProgressDialog::IsLogShown() const
{
    return m_btnDetails->text() != Text(kDetailsShow);
}

void CProgressDialog::SetDetailsShown(bool shown)
{
    // Hidden details take no keyboard focus.
    m_grpDetails->setVisible(shown);
    setFixedSize(m_nFullWidth, shown ? m_nFullHeight : m_nCollapsedHeight);
}

void CProgressDialog::AppendToView(const QString &text)
{
    QTextCursor end(m_edtLog->document());
    end.movePosition(QTextCursor::End);
    end.insertText(ForDisplay(text));
    m_edtLog->moveCursor(QTextCursor::End);
    m_edtLog->ensureCursorVisible();
}

void CProgressDialog::OnDetails()
{
    if (!IsLogShown()) {
        m_btnDetails->setText(Text(kDetailsHide));
        SetDetailsShown(true);
        m_edtLog->setPlainText(ForDisplay(m_strLog));
        m_strUnshownLog.clear();
        if (m_nScrollPos > 0) {
            QScrollBar *bar = m_edtLog->verticalScrollBar();
            bar->setValue(bar->value() + m_nScrollPos);
        }
        m_nScrollPos = -1;
    } else {
        FlushView();
        m_nScrollPos = m_edtLog->verticalScrollBar()->value();
        m_btnDetails->setText(Text(kDetailsShow));
        SetDetailsShown(false);
    }
}

void CProgressDialog::OnStop()
{
    if (m_bRunning)
        EndWorker();
    m_job.SetFileCount(0);
    QDialog::reject();
}

void CProgressDialog::reject()
{
    OnStop();
}

void CProgressDialog::done(int result)
{
    // Whatever way the dialog closes, the worker stops talking to it.
    EndWorker();
    if (m_pQuestion)
        m_pQuestion->reject();
    if (m_bInitDone)
        SaveSettings();
    QDialog::done(result);
}

void CProgressDialog::OnViewResults()
{
    if (m_pResults->isEmpty() || !m_resultsViewer)
        return;
    const QPointer<CProgressDialog> self(this);
    m_bViewerOpen = true;
    m_resultsViewer(this, m_pResults);
    if (!self)
        return;
    m_bViewerOpen = false;
    // The viewer's file commands may have emptied the list.
    m_btnViewResults->setEnabled(!m_pResults->isEmpty());
    if (m_bCloseAfterViewer) {
        m_bCloseAfterViewer = false;
        OnStop();
    }
}
