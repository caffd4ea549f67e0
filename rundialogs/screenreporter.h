// Carries the reports of a run from the worker's thread to a window's
// thread: queued, in order, delivered a batch at a time so that a run of
// thousands of small files never waits for the screen, and at most one
// batch per pause, so the screen is not redrawn for every file either.
#pragma once

#include "convert/convertreporter.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class QObject;

struct RunReport {
    enum class Kind { Status, Started, File, Percent, Result, Summary, Done, Question, Line };
    RunReport() = default;
    explicit RunReport(Kind k, std::string t = {}, int v = 0) : kind(k), text(std::move(t)), value(v) {}
    Kind kind = Kind::Status;
    std::string text;  // source started, result path, the output asked about or a log line
    int value = 0;     // percent
    FileRecord record; // a file done
    RunTotals totals;  // summary
};

class CScreenReporter final : public IConvertReporter, public std::enable_shared_from_this<CScreenReporter> {
public:
    // Reports reach sink on receiver's thread. A Question report must be
    // answered with Answer(); the worker waits until then.
    using Sink = std::function<void(std::vector<RunReport> &&)>;
    // Called on receiver's thread after each batch: runs its argument there
    // once the pause is over. By default a timer of kPauseMs.
    using Pacer = std::function<void(QObject *receiver, std::function<void()> resume)>;
    static constexpr int kPauseMs = 50;
    static std::shared_ptr<CScreenReporter> Create(QObject *receiver, Sink sink, Pacer pacer = {});

    // Receiver's thread. From now on nothing reaches the sink and every
    // question, waiting or still to come, is answered Cancel. Gives back the
    // reports that were made but not delivered yet.
    std::vector<RunReport> StopListening();
    bool IsListening() const;
    void Answer(const OverwriteAnswer &answer);

    void AnimateStatus() override;
    void FileStarted(const std::string &source) override;
    void FileDone(const FileRecord &record) override;
    void SetPercent(int percent) override;
    void AddResult(const std::string &outputPath) override;
    void SetSummary(const RunTotals &totals) override;
    void ConvertDone() override;
    OverwriteAnswer AskOverwrite(const std::string &outputPath) override;
    // A line of the log of its own (a document's).
    void LogLine(const std::string &line);

private:
    CScreenReporter(QObject *receiver, Sink sink, Pacer pacer);
    void Post(RunReport &&report);
    void PostLocked(RunReport &&report);
    void Deliver();
    void Resume();

    QObject *const m_receiver; // touched only while listening
    const Sink m_sink;
    const Pacer m_pacer;
    mutable std::mutex m_mutex;
    std::condition_variable m_answerReady;
    std::vector<RunReport> m_pending;
    std::optional<OverwriteAnswer> m_answer;
    bool m_listening = true;
    bool m_deliveryPosted = false; // or a pause after a batch is running
};
