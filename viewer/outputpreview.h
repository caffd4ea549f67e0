// The viewer's look at what a run would write for the picture on screen: its
// output encoded in memory by the run's own code, decoded again, beside the
// source as read; and an estimate of the whole list's output size from a few
// of its files. Both are made off the window's thread.
#pragma once

#include "convert/convertjob.h"
#include "convert/outputbytes.h"

#include <QImage>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <vector>

class QThreadPool;

namespace viewout {

// One file's output as a run would write it.
struct Result {
    QString path;
    OutputBytes::Kind kind = OutputBytes::Kind::Failed;
    std::uint32_t outType = 0;
    std::int64_t bytes = 0; // the output's size
    int quality = 0;        // the quality a size limit chose; 0 for none
    QImage output;          // the output decoded, as the file stores its pixels
    QImage source;          // the source decoded and turned upright, before the steps
    QString error;          // why nothing would be written (translated)
};

// The output of path with job's options.
Result MakeResult(const CConvertJob &job, const QString &path, const std::stop_token &stop);

// At most `most` indexes of a list of count, spread evenly from the first
// to the last.
std::vector<int> SampleIndexes(int count, int most = 8);

struct Sample {
    std::int64_t sourceBytes = 0;
    std::int64_t outputBytes = 0;
};
struct Estimate {
    std::int64_t total = 0;
    int samples = 0; // 0: nothing could be measured
};
// The list's output scaled from the samples by its sources' bytes, or by
// its count where the sources' bytes are not known.
Estimate EstimateTotal(const std::vector<Sample> &samples, std::int64_t listSourceBytes, int listCount);

// "1.2 MB" (1024 to a step), and with the exact count after it:
// "1.2 MB (1 234 567 字节)".
QString ShortByteSize(std::int64_t bytes);
QString ByteSizeText(std::int64_t bytes);

class COutputPreview : public QObject {
    Q_OBJECT
public:
    using Work = std::function<Result(const QString &path, const std::stop_token &stop)>;
    // The output's size in bytes; -1 when nothing would be written.
    using Measure = std::function<std::int64_t(const QString &path, const std::stop_token &stop)>;

    // Results from MakeResult and sizes from MakeOutputBytes with job.
    explicit COutputPreview(const CConvertJob &job, QObject *parent = nullptr);
    COutputPreview(Work work, Measure measure, QObject *parent = nullptr);
    // Stops what is under way and waits for it.
    ~COutputPreview() override;

    // Starts making path's output. One still under way is told to stop and
    // is never reported; the call does not wait for it.
    void Request(const QString &path);
    // Stops the request under way; nothing more is reported for it.
    void Cancel();
    // Starts the estimate over paths, stopping one under way.
    void RequestEstimate(const QStringList &paths);
    void CancelEstimate();
    // Waits until nothing runs any more (results still arrive queued).
    void WaitIdle();
    // What is asked from now on is made with job; what is under way is
    // stopped and never reported.
    void SetJob(const CConvertJob &job);

signals:
    void Ready(const viewout::Result &result);
    void Estimated(const viewout::Estimate &estimate);

private:
    void Deliver(int serial, Result result);
    void DeliverEstimate(int serial, Estimate estimate);

    Work m_work;
    Measure m_measure;
    QThreadPool *m_pool = nullptr;
    int m_nSerial = 0;
    int m_nEstimateSerial = 0;
    std::stop_source m_stop;
    std::stop_source m_estimateStop;
};

} // namespace viewout
