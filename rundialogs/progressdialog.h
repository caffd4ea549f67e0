// The modal window of one conversion run: it starts the worker when it
// opens and shows what the worker reports — an animated status line, a
// progress bar, a collapsible log, the end of the run — with commands to
// stop or leave, to look at the converted files, and to close by itself.
#pragma once

#include "convert/convertjob.h"
#include "convert/convertreporter.h"
#include "imaging/documentwriter.h"
#include "rundialogs/screenreporter.h"
#include "rundialogs/workerthread.h"

#include <QDialog>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <stop_token>
#include <vector>

class COverwriteDialog;
class RunJournal;
class QCheckBox;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

class CProgressDialog : public QDialog {
    Q_OBJECT
public:
    // What the worker thread runs: by default the conversion of the job.
    using RunBody =
        std::function<void(const CConvertJob &job, IConvertReporter &reporter, std::stop_token stop)>;

    explicit CProgressDialog(QWidget *parent = nullptr);
    // results: the opener's list of converted files, appended to by the run;
    // it must outlive the dialog.
    CProgressDialog(const CConvertJob &job, QStringList *results, QWidget *parent = nullptr);
    ~CProgressDialog() override;

    // Before opening.
    void SetJob(const CConvertJob &job) { m_job = job; }
    void SetResultList(QStringList *results) { m_pResults = results ? results : &m_ownResults; }
    void SetRunBody(RunBody body) { m_runBody = std::move(body); }
    // Folders made for the run before it began: undo removes them when empty.
    void SetMadeFolders(std::vector<std::string> folders) { m_madeFolders = std::move(folders); }
    // The run's outputs become the pages of one document at path (.pdf,
    // .tif), as velmora-batch's --combine makes it.
    void SetDocument(std::string path, PageLayout layout)
    {
        m_document = std::move(path);
        m_layout = layout;
    }
    // Shows the converted files and returns when the user leaves them; View
    // results does nothing without it. The dialog never opens a viewer itself.
    using ResultsViewer = std::function<void(QWidget *parent, QStringList *results)>;
    void SetResultsViewer(ResultsViewer viewer) { m_resultsViewer = std::move(viewer); }
    // Opens a folder in the file manager, by default the desktop's; false
    // when none could.
    using FolderOpener = std::function<bool(const QString &folder)>;
    void SetFolderOpener(FolderOpener opener) { m_folderOpener = std::move(opener); }

    const CConvertJob &GetJob() const { return m_job; }
    int GetFileCount() const { return m_job.GetFileCount(); }
    const std::string &GetFile(int index) const { return m_job.GetFile(index); }
    QString GetSummary() const { return m_strSummary; }
    // Every line the worker wrote, as written ("\r\n" line ends).
    QString GetLogText() const { return m_strLog; }
    const QStringList &GetResults() const { return *m_pResults; }
    bool IsRunning() const { return m_bRunning; }
    bool IsViewerOpen() const { return m_bViewerOpen; }
    // Where the run wrote: the job's destination folder, else (outputs
    // beside their sources) the first output's folder; empty when neither
    // is known.
    QString DestinationFolder() const;

signals:
    // A converted file joined the results list: a viewer open over the list
    // shows it too.
    void resultAdded(const QString &path);

public slots:
    void OnDetails();
    void OnStop();
    void OnViewResults();
    // Undoes this run, after asking.
    void OnUndoRun();
    void OnOpenDestination();
    // Esc and the close box end the run like Stop.
    void reject() override;
    void done(int result) override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void OnInitDialog();
    void StartWorker();
    void EndWorker();
    void SaveSettings();

    // The worker's reports, applied on this thread.
    void ApplyReports(std::vector<RunReport> &&batch);
    void AnimateStatus();
    void AppendLog(const QString &text);
    void SetPercent(int percent);
    void AddResult(const QString &path);
    void OnConvertDone(int wParam);
    void AskOverwrite(const QString &message);
    void FlushView();

    bool IsLogShown() const;
    void SetDetailsShown(bool shown);
    void AppendToView(const QString &text);

    CConvertJob m_job;
    QStringList m_ownResults;
    QStringList *m_pResults = &m_ownResults;
    RunBody m_runBody;
    std::vector<std::string> m_madeFolders;
    std::string m_document;
    PageLayout m_layout;
    ResultsViewer m_resultsViewer;
    FolderOpener m_folderOpener;
    QString m_strFirstOutput; // of this run

    QString m_strSummary;
    QString m_strLog;
    QString m_strUnshownLog; // arrived since the view was last brought up to date
    int m_nFullWidth = 0;
    int m_nFullHeight = 0;
    int m_nCollapsedHeight = 0;
    int m_nScrollPos = -1;
    bool m_bViewerOpen = false;
    int m_nCounter = 0;
    int m_nPercent = -1; // to be shown
    bool m_bStatusDirty = false;
    bool m_bInitDone = false;
    bool m_bRunning = false;
    bool m_bHadErrors = false;
    bool m_bCloseAfterViewer = false;
    bool m_bSettingsSaved = false;

    std::shared_ptr<CScreenReporter> m_reporter;
    CWorkerThread m_thread;
    QPointer<COverwriteDialog> m_pQuestion;

    QPushButton *m_btnViewResults;
    QPushButton *m_btnStop;
    QPushButton *m_btnDetails;
    QPushButton *m_btnOpenDest;
    QLabel *m_stcStatus;
    QLabel *m_stcIcon;
    QProgressBar *m_progress;
    QCheckBox *m_chkAutoClose;
    QGroupBox *m_grpDetails;
    QPlainTextEdit *m_edtLog;
    std::shared_ptr<RunJournal> m_journal;
    QPushButton *m_btnUndo;
};
