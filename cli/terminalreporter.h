// Shows a run on a terminal: log lines (or JSON lines) on standard output,
// the reason of each failed file, the overwrite question and, on a terminal,
// a line of progress on standard error.
#pragma once

#include "convert/convertreporter.h"
#include "convert/documentrun.h"

#include <chrono>
#include <cstdio>
#include <stop_token>
#include <string>
#include <unistd.h>

class TerminalReporter : public IConvertReporter {
public:
    // in: the descriptor answers are read from (-1: no terminal, every
    // question is answered with cancel). out: the log. err: the question and
    // notes. A stop requested through stop cancels a question being asked.
    TerminalReporter(int in, FILE *out, FILE *err, std::stop_token stop = {})
        : m_in(in), m_out(out), m_err(err), m_stop(std::move(stop)), m_outEscaped(isatty(fileno(out))),
          m_errEscaped(isatty(fileno(err)))
    {
    }

    // Whether names on out and err have their control characters escaped;
    // by default where the stream is a terminal. The JSON log never is.
    void SetEscaped(bool out, bool err)
    {
        m_outEscaped = out;
        m_errEscaped = err;
    }

    // The log as JSON lines instead of text.
    void SetJson(bool on) { m_json = on; }
    // A line of progress over total files on err, replaced as the run goes
    // and removed before anything else is written there and at the end.
    void ShowProgress(int total)
    {
        m_total = total;
        m_outIsTerminal = isatty(fileno(m_out));
    }

    void AnimateStatus() override {}
    void FileStarted(const std::string &source) override;
    void FileDone(const FileRecord &record) override;
    void SetPercent(int) override {}
    void AddResult(const std::string &) override {}
    // A run into one document: its line.
    void DocumentDone(const DocumentRecord &record);
    void SetSummary(const RunTotals &totals) override;
    void ConvertDone() override;
    OverwriteAnswer AskOverwrite(const std::string &outputPath) override;

    bool Finished() const { return m_done && m_summarised; }
    bool Cancelled() const { return m_done && !m_summarised; }

private:
    void WriteLine(const std::string &line);
    void DrawProgress();
    void ClearProgress();

    // One line of input without its line end; false at the end of the input,
    // on an error, or once a stop is requested.
    bool ReadLine(std::string &line);

    int m_in;
    FILE *m_out;
    FILE *m_err;
    std::stop_token m_stop;
    bool m_summarised = false;
    bool m_done = false;
    bool m_json = false;
    int m_total = 0;    // 0: no progress line
    int m_finished = 0; // files done
    bool m_progressShown = false;
    bool m_outIsTerminal = false;
    bool m_outEscaped, m_errEscaped;
    std::chrono::steady_clock::time_point m_start{}, m_lastDrawn{};
};
