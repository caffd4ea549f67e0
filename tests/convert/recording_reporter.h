// A reporter that writes down every call of a run, for tests. The log is
// written from the records as the progress dialog writes it, a line each.
#pragma once

#include "convert/convertreporter.h"
#include "convert/naming.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

class RecordingReporter : public IConvertReporter {
public:
    void AnimateStatus() override
    {
        ++statusTicks;
        if (onStatus)
            onStatus(); // at each file's start
    }
    void FileStarted(const std::string &source) override { Line(convertlog::FromLine(source) + "\r\n"); }
    void FileDone(const FileRecord &record) override
    {
        records.push_back(record);
        for (const std::string &line : convertlog::RecordLines(record))
            Line(line + "\r\n");
    }
    void SetPercent(int p) override { percents.push_back(p); }
    void AddResult(const std::string &path) override { results.push_back(path); }
    void SetSummary(const RunTotals &totals) override
    {
        summary = "\r\n" + convertlog::SummaryLine(totals);
        Line(summary);
    }
    void ConvertDone() override { ++doneCount; }
    OverwriteAnswer AskOverwrite(const std::string &outputPath) override
    {
        questions.push_back(OverwriteQuestion(outputPath));
        if (answers.empty())
            return OverwriteAnswer{OverwriteChoice::Cancel, false};
        const OverwriteAnswer a = answers.front();
        answers.pop_front();
        return a;
    }

    std::string Log() const
    {
        std::string all;
        for (const auto &l : log)
            all += l;
        return all;
    }

    int statusTicks = 0;
    std::vector<std::string> log;
    std::vector<FileRecord> records;
    std::vector<int> percents;
    std::vector<std::string> results;
    std::vector<std::string> questions;
    std::deque<OverwriteAnswer> answers;
    std::string summary;
    int doneCount = 0;
    std::function<void(const std::string &)> onLog;
    std::function<void()> onStatus;

private:
    void Line(const std::string &text)
    {
        log.push_back(text);
        if (onLog)
            onLog(text);
    }
};
