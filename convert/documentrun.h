// A run into one document (--combine): every source, in list order, made
// by the run's own preparation and added as a page of one PDF or TIFF,
// which is put in place at the end as a single output.
#pragma once

#include "convert/convertjob.h"
#include "convert/convertreporter.h"
#include "convert/runjournal.h"
#include "imaging/documentwriter.h"
#include "imaging/runresources.h"

#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>

// The document of a run into one: written, what a dry run would write,
// left alone by the policy, or not written.
struct DocumentRecord {
    enum class State { Written, Planned, Skipped, Failed };
    State state = State::Written;
    std::string path;
    int pages = 0;
    std::int64_t bytes = 0;
    std::string reason = {};
};

// Its log line, in the program's language (context "convertlog").
std::string DocumentLogLine(const DocumentRecord &record);

class DocumentRun {
public:
    // document: the file written (.pdf, .tif or .tiff); the job's own
    // destination, sizes and naming play no part. Each page is the output
    // the run would write for its source: in a PDF a JPEG one goes in as
    // it is, any other is decoded and drawn losslessly.
    DocumentRun(CConvertJob job, std::string document, PageLayout layout, IConvertReporter &reporter,
                const RunResources &resources = {});
    // Told the document's record once its pages are reported.
    void SetDocumentReport(std::function<void(const DocumentRecord &)> report) { m_report = std::move(report); }

    // A dry run reports each page and the document it would write.
    void SetDryRun(bool on) { m_dryRun = on; }
    bool WouldAsk() const { return m_wouldAsk; }
    void SetJournal(RunJournal *journal) { m_journal = journal; }
    void SetTrashReplaced(bool on) { m_trashReplaced = on; }

    // A source that fails is left out and reported; nothing is written when
    // none is left, when a stop comes, or when the document fails.
    void Run(std::stop_token stop = {});
    int GetErrorCount() const { return m_errors; }
    // Where the document went (a rename under the policy changes it).
    const std::string &Document() const { return m_document; }

private:
    enum class Start { Write, Skip, Cancel };
    Start Decide();
    bool SourcesOlder() const;
    void Skip();
    void Plan();
    void Write(const std::stop_token &stop);
    void End(int files, int converted, int skipped);
    void Report(const DocumentRecord &record);

    CConvertJob m_job;
    std::string m_document;
    PageLayout m_layout;
    IConvertReporter &m_reporter;
    const RunResources m_resources;
    std::function<void(const DocumentRecord &)> m_report;
    std::int32_t m_policy; // the job's, for the document
    bool m_dryRun = false, m_wouldAsk = false, m_trashReplaced = false;
    RunJournal *m_journal = nullptr;
    int m_errors = 0;
};
