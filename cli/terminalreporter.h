// Shows a run on a terminal: log lines on standard output, the overwrite
// question on the terminal.
#pragma once

#include "convertreporter.h"

#include <cstdio>
#include <string>

class TerminalReporter : public IConvertReporter {
public:
    // in: where answers are read (null: no terminal, every question is
    // answered with cancel). out: the log. err: the question and notes.
    TerminalReporter(FILE *in, FILE *out, FILE *err) : m_in(in), m_out(out), m_err(err) {}

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
    FILE *m_in;
    FILE *m_out;
    FILE *m_err;
    std::string m_summary;
    bool m_done = false;
};
