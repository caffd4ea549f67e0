#include "cli/terminalreporter.h"

#include "cli/jsonlog.h"
#include "cli/stoppableinput.h"
#include "cli/terminaltext.h"
#include "convert/filltext.h"
#include "convert/naming.h"

#include <QCoreApplication>

#include <cctype>

void TerminalReporter::WriteLine(const std::string &line)
{
    if (m_outEscaped && !m_json) {
        const std::string shown = EscapeControls(line);
        std::fwrite(shown.data(), 1, shown.size(), m_out);
    } else {
        std::fwrite(line.data(), 1, line.size(), m_out);
    }
    std::fputc('\n', m_out);
}

void TerminalReporter::FileStarted(const std::string &source)
{
    if (m_total > 0 && m_start == std::chrono::steady_clock::time_point{})
        m_start = std::chrono::steady_clock::now();
    if (m_json)
        return;
    if (m_outIsTerminal)
        ClearProgress();
    WriteLine(convertlog::FromLine(source));
    std::fflush(m_out);
}

void TerminalReporter::FileDone(const FileRecord &record)
{
    // The line stays while the log goes elsewhere.
    if (m_outIsTerminal || record.Failed())
        ClearProgress();
    if (m_json) {
        WriteLine(jsonlog::FileLine(record));
    } else {
        for (const std::string &line : convertlog::RecordLines(record))
            WriteLine(line);
    }
    std::fflush(m_out);
    if (record.Failed()) {
        // A failed write is about the output, not the source.
        const std::string &about =
            record.outcome == FileOutcome::SaveError && !record.target.empty() ? record.target : record.source;
        const std::string line = about + ": " + convertlog::ShownReason(record.reason);
        std::fprintf(m_err, "velmora-batch: %s\n", (m_errEscaped ? EscapeControls(line) : line).c_str());
        std::fflush(m_err);
    }
    ++m_finished;
    DrawProgress();
}

void TerminalReporter::DocumentDone(const DocumentRecord &record)
{
    ClearProgress();
    WriteLine(m_json ? jsonlog::DocumentLine(record) : DocumentLogLine(record));
    std::fflush(m_out);
    if (record.state == DocumentRecord::State::Failed && !record.reason.empty()) {
        const std::string line = record.path + ": " + convertlog::ShownReason(record.reason);
        std::fprintf(m_err, "velmora-batch: %s\n", (m_errEscaped ? EscapeControls(line) : line).c_str());
        std::fflush(m_err);
    }
}

void TerminalReporter::SetSummary(const RunTotals &totals)
{
    ClearProgress();
    m_summarised = true;
    if (m_json) {
        WriteLine(jsonlog::SummaryLine(totals));
    } else {
        // A blank line sets the totals apart.
        WriteLine("");
        WriteLine(convertlog::SummaryLine(totals));
    }
    std::fflush(m_out);
}

void TerminalReporter::ConvertDone()
{
    ClearProgress();
    m_done = true;
}

void TerminalReporter::DrawProgress()
{
    if (m_total <= 0)
        return;
    const auto now = std::chrono::steady_clock::now();
    // A few times a second is enough to read, and costs nothing.
    if (m_finished < m_total && m_progressShown && now - m_lastDrawn < std::chrono::milliseconds(200))
        return;
    m_lastDrawn = now;
    const double seconds = std::chrono::duration<double>(now - m_start).count();
    const double rate = seconds > 0 ? m_finished / seconds : 0;
    std::string line = FillText(QCoreApplication::translate("velmora-batch", "%1/%2 files"),
                                {std::to_string(m_finished), std::to_string(m_total)});
    if (rate > 0) {
        const long left = long((m_total - m_finished) / rate + 0.5);
        char rateText[32], leftText[32];
        std::snprintf(rateText, sizeof rateText, "%.1f", rate);
        std::snprintf(leftText, sizeof leftText, "%ld:%02ld", left / 60, left % 60);
        line +=
            FillText(QCoreApplication::translate("velmora-batch", ", %1/s, %2 left"), {rateText, leftText});
    }
    std::fprintf(m_err, "\r\033[K%s", line.c_str());
    std::fflush(m_err);
    m_progressShown = true;
}

void TerminalReporter::ClearProgress()
{
    if (!m_progressShown)
        return;
    std::fputs("\r\033[K", m_err);
    std::fflush(m_err);
    m_progressShown = false;
}

OverwriteAnswer TerminalReporter::AskOverwrite(const std::string &outputPath)
{
    ClearProgress();
    if (m_in < 0) {
        std::fprintf(m_err, "velmora-batch: %s\n",
                     QCoreApplication::translate("velmora-batch",
                                                 "an output exists and there is no terminal to ask; "
                                                 "use --overwrite rename, overwrite or skip")
                         .toStdString()
                         .c_str());
        return OverwriteAnswer{OverwriteChoice::Cancel, false};
    }
    // The question is shown once; an answer not understood (an Enter alone,
    // a slip) asks again for the choice only, below it.
    std::fprintf(m_err, "%s\n",
                 OverwriteQuestion(m_errEscaped ? EscapeControls(outputPath) : outputPath, "\n").c_str());
    for (;;) {
        // The answers stay the English words and their letters in every language.
        std::fputs(QCoreApplication::translate(
                       "velmora-batch",
                       "[r] rename  [o] overwrite  [s] skip  [c] cancel; add ! to keep the answer "
                       "(r!, o!, s!): ")
                       .toUtf8()
                       .constData(),
                   m_err);
        std::fflush(m_err);
        std::string line;
        if (!ReadLine(line))
            return OverwriteAnswer{OverwriteChoice::Cancel, false};
        std::string answer;
        for (const char c : line)
            if (!std::isspace(static_cast<unsigned char>(c)))
                answer += char(std::tolower(static_cast<unsigned char>(c)));
        const bool remember = !answer.empty() && answer.back() == '!';
        if (remember)
            answer.pop_back();
        if (answer == "r" || answer == "rename")
            return OverwriteAnswer{OverwriteChoice::AutoRename, remember};
        if (answer == "o" || answer == "overwrite")
            return OverwriteAnswer{OverwriteChoice::Overwrite, remember};
        if (answer == "s" || answer == "skip")
            return OverwriteAnswer{OverwriteChoice::Skip, remember};
        if (answer == "c" || answer == "cancel")
            return OverwriteAnswer{OverwriteChoice::Cancel, false};
    }
}

bool TerminalReporter::ReadLine(std::string &line)
{
    line.clear();
    // Byte by byte, so that nothing waits unseen in a buffer.
    StoppableInput input(m_in, m_stop);
    for (char c; input.Read(&c, 1) == 1;) {
        if (c == '\n')
            return true;
        if (line.size() < 256)
            line += c;
    }
    return !input.Stopped() && !line.empty(); // a last line without its line end counts
}
