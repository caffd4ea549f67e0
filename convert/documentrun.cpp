#include "convert/documentrun.h"

#include "convert/animation.h"
#include "convert/filepreparer.h"
#include "convert/filltext.h"
#include "convert/naming.h"
#include "convert/prepareahead.h"
#include "convert/safefolders.h"
#include "convert/trash.h"
#include "imaging/atomicfile.h"
#include "imaging/cxfile.h"
#include "imaging/documentwriter.h"
#include "imaging/metadataio.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <vector>

namespace {

std::int64_t FileSize(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? std::int64_t(st.st_size) : 0;
}

// A JPEG page copied as it is: the source's bytes, read with a bound.
bool ReadSource(const std::string &path, std::vector<std::uint8_t> &bytes, std::string &reason)
{
    constexpr std::int64_t kMostBytes = std::int64_t(1) << 31;
    std::ifstream in(path, std::ios::binary);
    const std::int64_t size = FileSize(path);
    if (!in || size <= 0 || size > kMostBytes) {
        reason = in ? QT_TRANSLATE_NOOP("FileRecord", "cannot decode the image") : std::strerror(errno);
        return false;
    }
    bytes.resize(std::size_t(size));
    in.read(reinterpret_cast<char *>(bytes.data()), std::streamsize(size));
    bytes.resize(std::size_t(in.gcount()));
    return !bytes.empty();
}

} // namespace

std::string DocumentLogLine(const DocumentRecord &record)
{
    using State = DocumentRecord::State;
    switch (record.state) {
    case State::Written:
        return FillText(QCoreApplication::translate("convertlog", "文档: %1, %2 页。"),
                        {record.path, std::to_string(record.pages)});
    case State::Planned:
        return FillText(QCoreApplication::translate("convertlog", "将写入文档: %1, %2 页。"),
                        {record.path, std::to_string(record.pages)});
    case State::Skipped:
        return FillText(QCoreApplication::translate("convertlog", "跳过文档: %1"), {record.path});
    case State::Failed:
        break;
    }
    return FillText(QCoreApplication::translate("convertlog", "错误: 文档未写入: %1"), {record.path});
}

DocumentRun::DocumentRun(CConvertJob job, std::string document, PageLayout layout, IConvertReporter &reporter,
                         const RunResources &resources)
    : m_job(std::move(job)), m_document(std::move(document)), m_layout(layout), m_reporter(reporter),
      m_resources(resources)
{
    // The document is the one output: the policy is applied to it here, and
    // no source is left out for an output of its own.
    m_job.m_sizes.clear();
    // Pages in PDF would have to be read back: the pictures go in instead.
    if (m_job.GetOutputType() == CXIMAGE_FORMAT_PDF)
        m_job.SetFormat("");
    m_policy = m_job.m_nOverwrite;
    m_job.SetOverwritePolicy(OVERWRITE_REPLACE);
}

void DocumentRun::Run(std::stop_token stop)
{
    cxmeta::Initialize();
    m_errors = 0;
    m_wouldAsk = false;
    switch (FileExists(m_document) ? Decide() : Start::Write) {
    case Start::Cancel:
        m_reporter.ConvertDone();
        return;
    case Start::Skip:
        Skip();
        return;
    case Start::Write:
        break;
    }
    if (m_dryRun)
        Plan();
    else
        Write(stop);
}

DocumentRun::Start DocumentRun::Decide()
{
    switch (m_policy) {
    case OVERWRITE_SKIP:
        return Start::Skip;
    case OVERWRITE_UPDATE:
        return SourcesOlder() ? Start::Skip : Start::Write;
    case OVERWRITE_RENAME:
        m_document = MakeUniqueName(m_document);
        return Start::Write;
    case OVERWRITE_ASK: {
        if (m_dryRun) {
            m_wouldAsk = true;
            return Start::Write;
        }
        const OverwriteAnswer answer = m_reporter.AskOverwrite(m_document);
        if (answer.choice == OverwriteChoice::Cancel)
            return Start::Cancel;
        if (answer.choice == OverwriteChoice::Skip)
            return Start::Skip;
        if (answer.choice == OverwriteChoice::AutoRename)
            m_document = MakeUniqueName(m_document);
        return Start::Write;
    }
    default:
        return Start::Write;
    }
}

// The document is newer than every source (all of them there).
bool DocumentRun::SourcesOlder() const
{
    struct stat doc;
    if (stat(m_document.c_str(), &doc) != 0)
        return false;
    for (const std::string &source : m_job.GetFiles()) {
        struct stat st;
        if (stat(source.c_str(), &st) != 0 || st.st_mtim.tv_sec > doc.st_mtim.tv_sec ||
            (st.st_mtim.tv_sec == doc.st_mtim.tv_sec && st.st_mtim.tv_nsec >= doc.st_mtim.tv_nsec))
            return false;
    }
    return true;
}

void DocumentRun::Report(const DocumentRecord &record)
{
    if (m_report)
        m_report(record);
}

void DocumentRun::Skip()
{
    Report({DocumentRecord::State::Skipped, m_document});
    const int count = m_job.GetFileCount();
    m_reporter.SetSummary(RunTotals{count, 0, 0, count, m_dryRun});
    m_reporter.ConvertDone();
}

void DocumentRun::End(int files, int converted, int skipped)
{
    m_reporter.SetSummary(RunTotals{files, converted, m_errors, skipped, m_dryRun});
    m_reporter.ConvertDone();
}

void DocumentRun::Plan()
{
    const int count = m_job.GetFileCount();
    int pages = 0;
    for (int i = 0; i < count; ++i) {
        FileRecord record;
        record.source = m_job.GetFile(i);
        m_reporter.FileStarted(record.source);
        const PreparedFile planned = PlanFile(m_job, i);
        record.bytesIn = FileSize(record.source);
        if (planned.kind == PreparedFile::Kind::NotLoaded) {
            record.outcome = FileExists(record.source) ? FileOutcome::OpenError : FileOutcome::Missing;
            record.reason = planned.reason.empty() ? std::strerror(ENOENT) : planned.reason;
            ++m_errors;
        } else {
            record.action = "convert";
            record.output = record.target = m_document;
            ++pages;
        }
        m_reporter.FileDone(record);
    }
    Report({pages > 0 ? DocumentRecord::State::Planned : DocumentRecord::State::Failed,
                             m_document, pages});
    End(count, pages, 0);
}

void DocumentRun::Write(const std::stop_token &stop)
{
    const int count = m_job.GetFileCount();
    DocumentRecord doc{DocumentRecord::State::Failed, m_document};
    AtomicFileWriter file;
    if (!file.Begin(m_document)) {
        doc.reason = file.Error();
        ++m_errors;
        Report(doc);
        End(count, 0, 0);
        return;
    }
    DocumentKind kind = DocumentKind::Pdf;
    DocumentKindOf(m_document, kind);
    DocumentWriter writer(kind, file.Stream(), m_layout, std::filesystem::path(m_document).stem().string(),
                          std::time(nullptr));
    // A TIFF's pages are encoded as the job encodes TIFFs.
    CxImage settings;
    settings.SetEncoderSettings(m_job.m_encoder);
    settings.SetJpegQuality(BYTE(m_job.m_nQuality));
    {
        // Helpers prepare pages ahead; they are taken, and added, in order.
        const int workers = m_resources.Workers();
        // A JPEG taken as it is is never decoded: its bytes are the page.
        const CConvertJob job = m_job;
        PrepareAhead ahead(m_job, workers > 1 ? workers : 0, 16 * workers, stop, m_resources,
                           [&job](int index, CxImage &image, const std::stop_token &s) {
                               return PrepareForDocument(job, index, image, s);
                           });
        for (int i = 0; i < count && writer.Error().empty(); ++i) {
            if (stop.stop_requested())
                return; // the temporary file goes with file
            FileRecord record;
            record.source = m_job.GetFile(i);
            m_reporter.FileStarted(record.source);
            const auto started = std::chrono::steady_clock::now();
            PreparedFile prepared = ahead.Take(i);
            record.bytesIn = FileSize(record.source);
            record.target = m_document;
            using Kind = PreparedFile::Kind;
            if (stop.stop_requested() || prepared.kind == Kind::Stopped)
                return;
            bool added = false;
            switch (prepared.kind) {
            case Kind::Copy:
            case Kind::Encoded:
            case Kind::Animated: {
                std::vector<std::uint8_t> source;
                EncodedBytes animation;
                const EncodedBytes *bytes = &prepared.bytes;
                bool ready = prepared.bytes.data != nullptr;
                if (prepared.kind == Kind::Animated) {
                    // Its first frame is the page, after every step.
                    ready = AnimationBytes(record.source, prepared.frames, prepared.outType, m_job, nullptr, stop,
                                           animation, &record.reason) == AnimatedResult::Written;
                    bytes = &animation;
                } else if (!ready) {
                    ready = ReadSource(record.source, source, record.reason);
                }
                if (ready)
                    added = bytes == &prepared.bytes && !prepared.bytes.data
                                ? writer.AddEncoded(source.data(), source.size(), settings)
                                : writer.AddEncoded(bytes->data.get(), bytes->size, settings);
                record.outcome = added ? FileOutcome::Converted : FileOutcome::SaveError;
                if (!added && record.reason.empty())
                    record.reason = writer.Error().empty() ? writer.PageError() : writer.Error();
                break;
            }
            case Kind::Failed:
                record.outcome = FileOutcome::ConvertError;
                break;
            case Kind::EncodeFailed:
                record.outcome = FileOutcome::SaveError;
                break;
            default:
                record.outcome = FileExists(record.source) ? FileOutcome::OpenError : FileOutcome::Missing;
                break;
            }
            if (added) {
                record.output = m_document;
            } else {
                ++m_errors;
                if (record.reason.empty())
                    record.reason = prepared.reason.empty() ? std::strerror(ENOENT) : prepared.reason;
            }
            record.microseconds = prepared.microseconds +
                                  std::chrono::duration_cast<std::chrono::microseconds>(
                                      std::chrono::steady_clock::now() - started)
                                      .count();
            m_reporter.FileDone(record);
            m_reporter.SetPercent(int((i + 1) * 100LL / count));
        }
    }
    doc.pages = writer.Pages();
    // A page the writer failed on leaves the document unfinished: none is
    // written rather than one that lacks it.
    const bool broken = !writer.Error().empty();
    if (broken || doc.pages == 0 || !writer.Finish() || std::fflush(file.Stream()) != 0) {
        doc.reason = writer.Error().empty() ? std::string(std::strerror(errno ? errno : EIO)) : writer.Error();
        if (broken || doc.pages > 0)
            ++m_errors;
        file.Abort();
        Report(doc);
        End(count, 0, 0);
        return;
    }
    if (stop.stop_requested())
        return;
    JournalEntry entry;
    entry.path = std::filesystem::absolute(m_document).string();
    entry.root = SplitPath(entry.path).folder;
    entry.rootId = FolderIdentity(entry.root);
    struct stat st;
    if (lstat(m_document.c_str(), &st) == 0) {
        entry.replaces = true;
        if (!S_ISREG(st.st_mode) || !FileSha256(m_document, entry.replacedSha256, entry.replacedSize))
            entry.replacedSha256.assign(64, '0');
        else if (m_trashReplaced) {
            std::string error;
            entry.trashed = trash::KeepCopy(m_document, error);
            if (entry.trashed.empty()) {
                doc.reason = error;
                ++m_errors;
                file.Abort();
                Report(doc);
                End(count, 0, 0);
                return;
            }
        }
    }
    StagedFile staged;
    if (!file.Stage(staged)) {
        doc.reason = file.Error();
    } else if (m_journal && !FileSha256(staged.Temp(), entry.sha256, entry.size)) {
        doc.reason = std::strerror(EIO);
    } else {
        doc.bytes = m_journal ? entry.size : FileSize(staged.Temp());
        const long intent = m_journal ? m_journal->Intend(entry) : 0;
        if (m_journal)
            m_journal->Sync();
        std::vector<StagedFile *> one{&staged};
        CommitGroup(one);
        if (staged.Committed()) {
            if (m_journal)
                m_journal->Committed(intent);
            doc.state = DocumentRecord::State::Written;
            m_reporter.AddResult(m_document);
        } else {
            if (m_journal)
                m_journal->Dropped(intent);
            doc.reason = staged.Error();
        }
    }
    const bool written = doc.state == DocumentRecord::State::Written;
    m_errors += !written;
    Report(doc);
    End(count, written ? doc.pages : 0, 0);
}
