#include "viewer/outputpreview.h"

#include "convert/naming.h"
#include "imaging/colourprofile.h"
#include "imaging/formats.h"
#include "imaging/metadataio.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QThreadPool>

#include <cmath>

namespace viewout {

namespace {

// Opaque pictures as RGB32, others premultiplied, as the window draws them.
QImage Drawable(CxImage &img)
{
    cxcolour::ToSrgb(img);
    QImage q = img.ToQImage();
    if (q.isNull())
        return q;
    if (!img.AlphaIsValid() && img.GetTransIndex() < 0)
        q = q.convertToFormat(QImage::Format_RGB32);
    else
        q = q.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return q;
}

// The source as the viewer shows it: decoded and turned upright as the run
// turns it, before any step.
QImage AsRead(const CConvertJob &job, const std::string &source)
{
    CxImage img;
    CxDecodeRequest req;
    req.autoOrient = job.m_bAutoRotate;
    req.renderDpi = job.m_nRenderDpi;
    if (!img.Load(source.c_str(), CXIMAGE_FORMAT_UNKNOWN, req))
        return {};
    return Drawable(img);
}

QString GroupedDigits(std::int64_t n)
{
    QString digits = QString::number(n);
    for (int i = int(digits.size()) - 3; i > 0; i -= 3)
        digits.insert(i, QLatin1Char(' '));
    return digits;
}

} // namespace

Result MakeResult(const CConvertJob &job, const QString &path, const std::stop_token &stop)
{
    Result r;
    r.path = path;
    const std::string source = path.toStdString();
    OutputBytes out = MakeOutputBytes(job, source, stop);
    r.kind = out.kind;
    r.outType = out.outType;
    r.bytes = std::int64_t(out.bytes.size);
    r.quality = out.fit.limited ? out.fit.quality : 0;
    if (out.kind == OutputBytes::Kind::Failed)
        r.error = QCoreApplication::translate("FileRecord", out.reason.c_str());
    if (out.kind != OutputBytes::Kind::Encoded && out.kind != OutputBytes::Kind::Copied)
        return r;
    // The pixels as the file holds them, not turned by an orientation it
    // carries.
    CxImage decoded;
    CxDecodeRequest req;
    req.autoOrient = false;
    if (!decoded.Decode(out.bytes.data.get(), out.bytes.size, CXIMAGE_FORMAT_UNKNOWN, req)) {
        r.error = QCoreApplication::translate("CPreviewDlg", "无法解码输出");
        return r;
    }
    out.bytes.data.reset();
    r.output = Drawable(decoded);
    decoded.Destroy();
    if (stop.stop_requested()) {
        r.kind = OutputBytes::Kind::Stopped;
        return r;
    }
    r.source = AsRead(job, source);
    return r;
}

std::vector<int> SampleIndexes(int count, int most)
{
    std::vector<int> picked;
    if (count <= 0 || most <= 0)
        return picked;
    if (count <= most || most == 1) {
        for (int i = 0; i < std::min(count, most); ++i)
            picked.push_back(i);
        return picked;
    }
    for (int i = 0; i < most; ++i)
        picked.push_back(int(std::int64_t(i) * (count - 1) / (most - 1)));
    return picked;
}

Estimate EstimateTotal(const std::vector<Sample> &samples, std::int64_t listSourceBytes, int listCount)
{
    Estimate e;
    if (samples.empty())
        return e;
    double source = 0, output = 0;
    for (const Sample &s : samples) {
        source += double(s.sourceBytes);
        output += double(s.outputBytes);
    }
    e.samples = int(samples.size());
    e.total = listSourceBytes > 0 && source > 0
                  ? std::llround(output * double(listSourceBytes) / source)
                  : std::llround(output / double(samples.size()) * double(listCount));
    return e;
}

QString ShortByteSize(std::int64_t bytes)
{
    static const char *const units[] = {"KB", "MB", "GB", "TB"};
    if (bytes < 1024)
        return QCoreApplication::translate("CPreviewDlg", "%1 字节").arg(bytes);
    double v = double(bytes) / 1024;
    int unit = 0;
    while (v >= 1024 && unit < 3) {
        v /= 1024;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(QString::number(v, 'f', v < 10 ? 1 : 0), QLatin1String(units[unit]));
}

QString ByteSizeText(std::int64_t bytes)
{
    if (bytes < 1024)
        return ShortByteSize(bytes);
    return QCoreApplication::translate("CPreviewDlg", "%1 (%2 字节)")
        .arg(ShortByteSize(bytes), GroupedDigits(bytes));
}

namespace {

COutputPreview::Work WorkWith(const CConvertJob &job)
{
    return [job](const QString &path, const std::stop_token &stop) { return MakeResult(job, path, stop); };
}

COutputPreview::Measure MeasureWith(const CConvertJob &job)
{
    return [job](const QString &path, const std::stop_token &stop) {
        const OutputBytes out = MakeOutputBytes(job, path.toStdString(), stop);
        const bool made = out.kind == OutputBytes::Kind::Encoded || out.kind == OutputBytes::Kind::Copied;
        return made ? std::int64_t(out.bytes.size) : std::int64_t(-1);
    };
}

} // namespace

COutputPreview::COutputPreview(const CConvertJob &job, QObject *parent)
    : COutputPreview(WorkWith(job), MeasureWith(job), parent)
{
}

void COutputPreview::SetJob(const CConvertJob &job)
{
    Cancel();
    CancelEstimate();
    m_work = WorkWith(job);
    m_measure = MeasureWith(job);
}

COutputPreview::COutputPreview(Work work, Measure measure, QObject *parent)
    : QObject(parent), m_work(std::move(work)), m_measure(std::move(measure)), m_pool(new QThreadPool(this))
{
    // The estimate and a page's output, and one more while a stopped
    // encode runs out.
    m_pool->setMaxThreadCount(3);
    cxmeta::Initialize(); // before the threads that prepare files
}

COutputPreview::~COutputPreview()
{
    Cancel();
    CancelEstimate();
    m_pool->waitForDone();
}

void COutputPreview::Cancel()
{
    m_stop.request_stop();
    ++m_nSerial;
}

void COutputPreview::CancelEstimate()
{
    m_estimateStop.request_stop();
    ++m_nEstimateSerial;
}

void COutputPreview::WaitIdle()
{
    m_pool->waitForDone();
}

void COutputPreview::Request(const QString &path)
{
    Cancel();
    m_stop = std::stop_source();
    const int serial = m_nSerial;
    m_pool->start([this, work = m_work, path, serial, stop = m_stop.get_token()] {
        // Pages turned past while it waited for a thread cost nothing.
        if (stop.stop_requested())
            return;
        Result r = work(path, stop);
        if (stop.stop_requested())
            return;
        QMetaObject::invokeMethod(
            this, [this, serial, r = std::move(r)]() mutable { Deliver(serial, std::move(r)); },
            Qt::QueuedConnection);
    });
}

void COutputPreview::RequestEstimate(const QStringList &paths)
{
    CancelEstimate();
    m_estimateStop = std::stop_source();
    const int serial = m_nEstimateSerial;
    m_pool->start([this, measure = m_measure, paths, serial, stop = m_estimateStop.get_token()] {
        std::int64_t listBytes = 0;
        for (const QString &p : paths)
            listBytes += QFileInfo(p).size();
        std::vector<Sample> samples;
        for (const int i : SampleIndexes(int(paths.size()))) {
            if (stop.stop_requested())
                return;
            const std::int64_t made = measure(paths[i], stop);
            if (made >= 0)
                samples.push_back({QFileInfo(paths[i]).size(), made});
        }
        if (stop.stop_requested())
            return;
        const Estimate e = EstimateTotal(samples, listBytes, int(paths.size()));
        QMetaObject::invokeMethod(
            this, [this, serial, e] { DeliverEstimate(serial, e); }, Qt::QueuedConnection);
    });
}

void COutputPreview::Deliver(int serial, Result result)
{
    // A page turned since: the result is for a picture no longer shown.
    if (serial == m_nSerial)
        emit Ready(result);
}

void COutputPreview::DeliverEstimate(int serial, Estimate estimate)
{
    if (serial == m_nEstimateSerial)
        emit Estimated(estimate);
}

} // namespace viewout
