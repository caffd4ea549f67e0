// A reporter that writes down every call of a run, for tests.
#pragma once

#include "convertreporter.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

class RecordingReporter : public IConvertReporter {
public:
    void AnimateStatus() override { ++statusTicks; }
    void AppendLog(const std::string &text) override
    {
        log.push_back(text);
        if (onLog)
            onLog(text);
    }
    void SetPercent(int p) override { percents.push_back(p); }
    void AddResult(const std::string &path) override { results.push_back(path); }
    void SetSummary(const std::string &s) override { summary = s; }
    void ConvertDone() override { ++doneCount; }
    OverwriteAnswer AskOverwrite(const std::string &message) override
    {
        questions.push_back(message);
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
    std::vector<int> percents;
    std::vector<std::string> results;
    std::vector<std::string> questions;
    std::deque<OverwriteAnswer> answers;
    std::string summary;
    int doneCount = 0;
    std::function<void(const std::string &)> onLog;
};
