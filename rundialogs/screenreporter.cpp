#include "rundialogs/screenreporter.h"

#include <QMetaObject>
#include <QObject>
#include <QTimer>

std::shared_ptr<CScreenReporter> CScreenReporter::Create(QObject *receiver, Sink sink, Pacer pacer)
{
    if (!pacer)
        pacer = [](QObject *on, std::function<void()> resume) {
            QTimer::singleShot(kPauseMs, on, std::move(resume));
        };
    return std::shared_ptr<CScreenReporter>(new CScreenReporter(receiver, std::move(sink), std::move(pacer)));
}

CScreenReporter::CScreenReporter(QObject *receiver, Sink sink, Pacer pacer)
    : m_receiver(receiver), m_sink(std::move(sink)), m_pacer(std::move(pacer))
{
}

std::vector<RunReport> CScreenReporter::StopListening()
{
    std::vector<RunReport> undelivered;
    {
        std::lock_guard lock(m_mutex);
        m_listening = false;
        undelivered.swap(m_pending);
    }
    m_answerReady.notify_all();
    return undelivered;
}

bool CScreenReporter::IsListening() const
{
    std::lock_guard lock(m_mutex);
    return m_listening;
}

void CScreenReporter::Answer(const OverwriteAnswer &answer)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_listening)
            return;
        m_answer = answer;
    }
    m_answerReady.notify_all();
}

void CScreenReporter::AnimateStatus()
{
    Post(RunReport(RunReport::Kind::Status));
}

void CScreenReporter::FileStarted(const std::string &source)
{
    Post(RunReport(RunReport::Kind::Started, source));
}

void CScreenReporter::FileDone(const FileRecord &record)
{
    RunReport report(RunReport::Kind::File);
    report.record = record;
    Post(std::move(report));
}

void CScreenReporter::SetPercent(int percent)
{
    Post(RunReport(RunReport::Kind::Percent, {}, percent));
}

void CScreenReporter::AddResult(const std::string &outputPath)
{
    Post(RunReport(RunReport::Kind::Result, outputPath));
}

void CScreenReporter::SetSummary(const RunTotals &totals)
{
    RunReport report(RunReport::Kind::Summary);
    report.totals = totals;
    Post(std::move(report));
}

void CScreenReporter::LogLine(const std::string &line)
{
    Post(RunReport(RunReport::Kind::Line, line));
}

void CScreenReporter::ConvertDone()
{
    Post(RunReport(RunReport::Kind::Done));
}

OverwriteAnswer CScreenReporter::AskOverwrite(const std::string &outputPath)
{
    std::unique_lock lock(m_mutex);
    if (!m_listening)
        return OverwriteAnswer{};
    m_answer.reset();
    PostLocked(RunReport(RunReport::Kind::Question, outputPath));
    m_answerReady.wait(lock, [this] { return m_answer.has_value() || !m_listening; });
    const OverwriteAnswer answer = m_answer.value_or(OverwriteAnswer{});
    m_answer.reset();
    return answer;
}

void CScreenReporter::Post(RunReport &&report)
{
    std::lock_guard lock(m_mutex);
    if (m_listening)
        PostLocked(std::move(report));
}

void CScreenReporter::PostLocked(RunReport &&report)
{
    m_pending.push_back(std::move(report));
    if (m_deliveryPosted)
        return;
    m_deliveryPosted = true;
    // Dropped by Qt if the receiver is gone; the receiver stops listening
    // before it goes, so m_receiver is never used after that.
    QMetaObject::invokeMethod(
        m_receiver,
        [weak = weak_from_this()] {
            if (const auto self = weak.lock())
                self->Deliver();
        },
        Qt::QueuedConnection);
}

void CScreenReporter::Deliver()
{
    std::vector<RunReport> batch;
    {
        std::lock_guard lock(m_mutex);
        if (!m_listening)
            return;
        batch.swap(m_pending);
    }
    if (!batch.empty())
        m_sink(std::move(batch));
    {
        // Reports made meanwhile wait for the end of the pause; the sink may
        // have stopped listening, and then the receiver may be gone.
        std::lock_guard lock(m_mutex);
        if (!m_listening)
            return;
    }
    m_pacer(m_receiver, [weak = weak_from_this()] {
        if (const auto self = weak.lock())
            self->Resume();
    });
}

void CScreenReporter::Resume()
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_listening)
            return;
        if (m_pending.empty()) {
            // Quiet: the next report goes out at once.
            m_deliveryPosted = false;
            return;
        }
    }
    Deliver();
}
