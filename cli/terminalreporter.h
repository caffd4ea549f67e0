// Shows a run on a terminal: log lines on standard output, the overwrite
// question on the terminal.
#pragma once

#include "convertreporter.h"

#include <cstdio>
#include <stop_token>
#include <string>

class TerminalReporter : public IConvertReporter {
public:
    // in: the descriptor answers are read from (-1: no terminal, every
    // question is answered with cancel). out: the log. err: the question and
    // notes. A stop requested through stop cancels a question being asked.
    TerminalReporter(int in, FILE *out, FILE *err, std::stop_token stop = {})
        : m_in(in), m_out(out), m_err(err), m_stop(std::move(stop))
    {
    }

    void AnimateStatus() override {}
    void AppendLog(const std::string &text) override;
    void SetPercent(int) override {}
    void AddResult(const std::string &) override {}
    void SetSummary(const std::string &summary) override { m_summary = summary; }
    void ConvertDone() override { m_done = true; }
    OverwriteAnswer AskOverwrite(const std::string &message) override;

    bool Finished() const { return m_done && !m_summary.empty(); }
    bool Cancelled() const { return m_done && m_summary.empty(); }

    // Text with each "\r\n" turned into the terminal's "\n".
    static std::string TerminalText(const std::string &text);

private:
    // One line of input without its line end; false at the end of the input,
    // on an error, or once a stop is requested.
    bool ReadLine(std::string &line);

    int m_in;
    FILE *m_out;
    FILE *m_err;
    std::stop_token m_stop;
    std::string m_summary;
    bool m_done = false;
};
