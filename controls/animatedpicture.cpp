#include "controls/animatedpicture.h"

#include "controls/gifblockwalker.h"
#include "imaging/gifcanvas.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPaintEvent>
#include <QPainter>
#include <QtGlobal>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <system_error>

// Resources must be registered from the global namespace.
static void InitControlsResources()
{
    Q_INIT_RESOURCE(controls);
}

namespace {

QColor ToQColor(COLORREF c)
{
    return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}

COLORREF ToColorRef(const QColor &c)
{
    return RGB(c.red(), c.green(), c.blue());
}

bool CanvasSizeOk(std::int64_t width, std::int64_t height)
{
    return width > 0 && height > 0 && width * height <= CAnimatedPicture::kMaxCanvasPixels;
}

// Decodes a whole picture from memory; refuses, before decoding, one whose
// size is beyond the canvas limit.
QImage ReadPicture(const std::uint8_t *data, std::size_t size, const char *format)
{
    if (size > std::size_t(CAnimatedPicture::kMaxFileBytes))
        return {};
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return {};
    QImageReader reader(&buffer, format);
    const QSize announced = reader.size();
    if (announced.isValid() && !CanvasSizeOk(announced.width(), announced.height()))
        return {};
    QImage image;
    if (!reader.read(&image) || !CanvasSizeOk(image.width(), image.height()))
        return {};
    return image;
}

} // namespace

// --- CStopEvent ----------------------------------------------------------------

void CStopEvent::Set()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_set = true;
    }
    m_cv.notify_all();
}

void CStopEvent::Reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_set = false;
}

bool CStopEvent::IsSet() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_set;
}

bool CStopEvent::WaitFor(std::chrono::milliseconds timeout, const std::function<bool()> &wake)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait_for(lock, timeout, [&] { return m_set || (wake && wake()); });
    return m_set;
}

void CStopEvent::Poke()
{
    // Taking the lock orders the waker's change before the waiter's check.
    {
        std::lock_guard<std::mutex> lock(m_mutex);
    }
    m_cv.notify_all();
}

// --- CAnimatedPicture ------------------------------------------------------------

CAnimatedPicture::CAnimatedPicture(QWidget *parent) : QWidget(parent)
{
    // The canvas covers everything painted; nothing needs erasing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(this, &CAnimatedPicture::frameDrawn, this, qOverload<>(&QWidget::update), Qt::QueuedConnection);
}

CAnimatedPicture::~CAnimatedPicture()
{
    // The drawing thread uses this object: it ends before anything goes.
    UnloadPicture();
}

bool CAnimatedPicture::LoadPicture(const QByteArray &bytes)
{
    return LoadPicture(reinterpret_cast<const std::uint8_t *>(bytes.constData()), std::size_t(bytes.size()));
}

bool CAnimatedPicture::LoadPicture(const std::uint8_t *data, std::size_t size)
{
    UnloadPicture();
    if (!data || size == 0)
        return false;
    const bool ok = CGifBlockWalker(data, size).IsGif() ? LoadGif(data, size) : LoadStill(data, size);
    if (!ok)
        ClearState();
    return ok;
}

bool CAnimatedPicture::LoadGif(const std::uint8_t *data, std::size_t size)
{
    m_bIsGif = true;
    const CGifBlockWalker walker(data, size);
    if (!walker.HasHeader())
        return false;
    if (walker.GetWidth() <= 0 || walker.GetHeight() <= 0)
        return false;
    const std::vector<GifFrameInfo> infos = walker.Frames();
    if (infos.empty())
        return false;
    // The same canvas the codec composes on: a screen far larger than its
    // frames is clipped to them or refused.
    std::vector<gifcanvas::Frame> extents;
    for (const GifFrameInfo &info : infos)
        if (info.isImage)
            extents.push_back({info.left, info.top, info.width, info.height, info.dataBytes});
    gifcanvas::Area area;
    if (!gifcanvas::Choose(walker.GetWidth(), walker.GetHeight(), extents, area))
        return false;
    m_area = QRect(area.x, area.y, area.width, area.height);
    m_size = m_area.size();
    // A hostile screen size fails here, before anything is decoded.
    if (!CanvasSizeOk(m_size.width(), m_size.height()))
        return false;
    const bool whole = m_size == QSize(walker.GetWidth(), walker.GetHeight());

    if (infos.size() == 1) {
        if (whole)
            m_picture = ReadPicture(data, size, "gif");
        if (m_picture.isNull()) {
            // Whatever follows the frame may be what the reader trips on.
            const std::vector<std::uint8_t> gif = FrameGif(walker, infos[0]);
            m_picture = ReadPicture(gif.data(), gif.size(), "gif");
        }
        return !m_picture.isNull() && Prepare(m_size.width(), m_size.height());
    }

    std::int64_t keptBytes = 0;
    bool dropped = false;
    for (const GifFrameInfo &info : infos) {
        PictureFrame frame;
        frame.rect = QRect(info.left - m_area.x(), info.top - m_area.y(), info.width, info.height);
        frame.delay = info.delay;
        frame.disposal = info.disposal;
        frame.source = info;
        const std::vector<std::uint8_t> gif = FrameGif(walker, info);
        if (!DecodeFrame(gif.data(), gif.size(), frame))
            continue; // a frame that cannot be decoded is left out
        if (keptBytes + frame.picture.sizeInBytes() > m_nMaxDecodedBytes) {
            frame.picture = QImage();
            frame.kept = false;
            dropped = true;
        } else {
            keptBytes += frame.picture.sizeInBytes();
        }
        m_frames.push_back(std::move(frame));
    }
    if (m_frames.empty())
        return false;
    if (dropped)
        m_source = QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
    return Prepare(m_size.width(), m_size.height());
}

std::vector<std::uint8_t> CAnimatedPicture::FrameGif(const CGifBlockWalker &walker, const GifFrameInfo &info) const
{
    if (m_area.topLeft() == QPoint(0, 0) && m_area.size() == QSize(walker.GetWidth(), walker.GetHeight()))
        return walker.BuildFrameGif(info);
    return walker.BuildFrameGif(info, m_area.x(), m_area.y(), m_area.width(), m_area.height());
}

bool CAnimatedPicture::DecodeFrame(const std::uint8_t *data, std::size_t size, PictureFrame &frame) const
{
    if (size == 0)
        return false;
    const QImage screen = ReadPicture(data, size, "gif");
    if (screen.isNull())
        return false;
    // The reader gives the whole screen with the frame painted in; the rest
    // of it is not the frame's to draw.
    frame.drawRect = frame.rect.intersected(QRect(QPoint(0, 0), m_size)).intersected(screen.rect());
    frame.picture = frame.drawRect.isEmpty()
                        ? QImage()
                        : screen.copy(frame.drawRect).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return frame.drawRect.isEmpty() || !frame.picture.isNull();
}

bool CAnimatedPicture::LoadStill(const std::uint8_t *data, std::size_t size)
{
    m_picture = ReadPicture(data, size, nullptr);
    if (m_picture.isNull())
        return false;
    m_size = m_picture.size();
    return Prepare(m_size.width(), m_size.height());
}

bool CAnimatedPicture::LoadFrames(std::vector<QImage> frames, const std::vector<int> &delaysMs)
{
    UnloadPicture();
    if (frames.empty() || frames.size() != delaysMs.size())
        return false;
    m_size = frames.front().size();
    if (!CanvasSizeOk(m_size.width(), m_size.height()))
        return false;
    std::int64_t keptBytes = 0;
    for (std::size_t k = 0; k < frames.size(); ++k) {
        PictureFrame frame;
        frame.picture = frames[k].convertToFormat(QImage::Format_ARGB32_Premultiplied);
        frames[k] = QImage();
        keptBytes += frame.picture.sizeInBytes();
        // Frames past the memory bound are left out: the animation plays
        // the frames that fit.
        if (frame.picture.size() != m_size || keptBytes > m_nMaxDecodedBytes)
            break;
        frame.rect = frame.drawRect = QRect(QPoint(0, 0), m_size);
        frame.delay = (std::max(delaysMs[k], 0) + 5) / 10;
        frame.waitMs = delaysMs[k] > 10 ? delaysMs[k] : 100;
        frame.whole = true;
        m_frames.push_back(std::move(frame));
    }
    if (m_frames.empty() || !Prepare(m_size.width(), m_size.height())) {
        ClearState();
        return false;
    }
    return true;
}

bool CAnimatedPicture::LoadPictureFile(const QString &path)
{
    // Only regular files: a pipe or device could block or never end.
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > kMaxFileBytes) {
        UnloadPicture();
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        UnloadPicture();
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError || bytes.size() != file.size()) {
        UnloadPicture();
        return false;
    }
    return LoadPicture(bytes);
}

bool CAnimatedPicture::LoadPictureResource(int id, const char *type)
{
    static std::once_flag registered;
    std::call_once(registered, InitControlsResources);
    if (!type || !*type) {
        UnloadPicture();
        return false;
    }
    QFile file(QStringLiteral(":/%1/%2").arg(QString::fromLatin1(type)).arg(id));
    if (!file.open(QIODevice::ReadOnly)) {
        UnloadPicture();
        return false;
    }
    return LoadPicture(file.readAll());
}

bool CAnimatedPicture::Prepare(int width, int height)
{
    QImage canvas(width, height, QImage::Format_RGB32);
    if (canvas.isNull())
        return false;
    canvas.fill(palette().color(QPalette::Window));
    {
        std::lock_guard<std::mutex> lock(m_canvasMutex);
        m_canvas = std::move(canvas);
        m_crBackground = ToColorRef(palette().color(QPalette::Button));
    }
    resize(width, height);
    m_bReady = true;
    return true;
}

void CAnimatedPicture::StartShow()
{
    if (!m_bReady || m_hThread.joinable())
        return;
    if (m_frames.size() > 1) {
        m_bStop = false;
        m_nCurrentFrame = 0;
        m_threadDone.Reset();
        {
            std::lock_guard<std::mutex> lock(m_canvasMutex);
            m_saved = QImage();
            m_bSaved = false;
        }
        try {
            m_hThread = std::thread(&CAnimatedPicture::AnimationThread, this);
            return;
        } catch (const std::system_error &) {
            // No thread to be had: show the first frame still.
        }
    }
    if (!m_frames.empty()) {
        DrawFrame(m_frames.front());
    } else {
        std::lock_guard<std::mutex> lock(m_canvasMutex);
        QPainter painter(&m_canvas);
        painter.drawImage(QRect(QPoint(0, 0), m_size), m_picture);
    }
    update();
}

void CAnimatedPicture::StopAnimation()
{
    m_bRunning = false;
    m_bStop = true;
    m_hStopEvent.Set();
    if (m_hThread.joinable()) {
        // A frame being drawn always finishes; the thread is never left
        // running, since what it draws from is freed after a stop.
        if (!m_threadDone.WaitFor(std::chrono::milliseconds(5000)))
            qWarning("CAnimatedPicture: drawing thread still busy after 5 s, waiting for it");
        m_hThread.join();
    }
    m_hStopEvent.Reset();
    m_bStop = false;
}

void CAnimatedPicture::UnloadPicture()
{
    StopAnimation();
    ClearState();
    update();
}

void CAnimatedPicture::ClearState()
{
    m_picture = QImage();
    m_frames.clear();
    m_source.clear();
    {
        std::lock_guard<std::mutex> lock(m_canvasMutex);
        m_canvas = QImage();
        m_saved = QImage();
        m_bSaved = false;
        m_rcPaint = QRect();
        m_crBackground = RGB(255, 255, 255);
    }
    m_size = QSize();
    m_area = QRect();
    m_bIsGif = false;
    m_bReady = false;
    m_nCurrentFrame = 0;
}

void CAnimatedPicture::SetBackColour(COLORREF colour)
{
    if (!m_bReady)
        return;
    {
        std::lock_guard<std::mutex> lock(m_canvasMutex);
        m_crBackground = colour;
        m_canvas.fill(ToQColor(colour));
    }
    update();
}

void CAnimatedPicture::SetPaintRect(const QRect &rect)
{
    {
        std::lock_guard<std::mutex> lock(m_canvasMutex);
        m_rcPaint = rect.normalized();
    }
    update();
}

int CAnimatedPicture::GetFrameCount() const
{
    if (!m_bReady)
        return 0;
    return m_frames.empty() ? 1 : int(m_frames.size());
}

int CAnimatedPicture::GetFrameDelay(int k) const
{
    return k >= 0 && std::size_t(k) < m_frames.size() ? m_frames[std::size_t(k)].delay : 0;
}

COLORREF CAnimatedPicture::GetBackColour() const
{
    std::lock_guard<std::mutex> lock(m_canvasMutex);
    return m_crBackground;
}

QImage CAnimatedPicture::GetCanvas() const
{
    std::lock_guard<std::mutex> lock(m_canvasMutex);
    return m_canvas.copy();
}

void CAnimatedPicture::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    std::lock_guard<std::mutex> lock(m_canvasMutex);
    painter.fillRect(event->rect(), ToQColor(m_crBackground));
    if (m_canvas.isNull())
        return;
    const QRect part = m_rcPaint.isEmpty() ? m_canvas.rect() : m_rcPaint.intersected(m_canvas.rect());
    painter.drawImage(part.topLeft(), m_canvas, part);
}

// --- Drawing thread --------------------------------------------------------------

void CAnimatedPicture::AnimationThread()
{
    m_bRunning = true;
    DisposeFrame(m_frames.front());
    std::size_t k = 0;
    while (!m_bStop) {
        const PictureFrame &frame = m_frames[k];
        m_nCurrentFrame = int(k);
        if (DrawFrame(frame))
            emit frameDrawn(int(k));
        if (m_bStop)
            break;
        // A frame that could not be drawn still takes its time, so the
        // thread never spins.
        if (m_pClock)
            m_pClock->Wait(WaitMs(frame), m_hStopEvent);
        else
            m_hStopEvent.WaitFor(std::chrono::milliseconds(WaitMs(frame)));
        if (m_bStop)
            break;
        DisposeFrame(frame);
        if (++k == m_frames.size()) {
            k = 0;
            std::lock_guard<std::mutex> lock(m_canvasMutex);
            m_canvas.fill(ToQColor(m_crBackground));
        }
    }
    m_bRunning = false;
    m_threadDone.Set();
}

bool CAnimatedPicture::DrawFrame(const PictureFrame &frame)
{
    QImage decoded;
    const QImage *picture = &frame.picture;
    if (!frame.kept) {
        // Decoded for this showing only, so memory stays within bounds.
        const auto *bytes = reinterpret_cast<const std::uint8_t *>(m_source.constData());
        const std::vector<std::uint8_t> gif =
            FrameGif(CGifBlockWalker(bytes, std::size_t(m_source.size())), frame.source);
        PictureFrame copy = frame;
        if (!DecodeFrame(gif.data(), gif.size(), copy))
            return false;
        decoded = std::move(copy.picture);
        picture = &decoded;
    }
    std::lock_guard<std::mutex> lock(m_canvasMutex);
    if (frame.disposal == 3) {
        m_saved = m_canvas.copy(frame.drawRect);
        m_bSaved = !frame.drawRect.isEmpty();
    }
    if (!picture->isNull()) {
        QPainter painter(&m_canvas);
        if (frame.whole)
            painter.fillRect(frame.drawRect, ToQColor(m_crBackground));
        painter.drawImage(frame.drawRect.topLeft(), *picture);
    }
    return true;
}

void CAnimatedPicture::DisposeFrame(const PictureFrame &frame)
{
    std::lock_guard<std::mutex> lock(m_canvasMutex);
    if (frame.disposal == 2) {
        QPainter painter(&m_canvas);
        painter.fillRect(frame.rect, ToQColor(m_crBackground));
    } else if (frame.disposal == 3 && m_bSaved) {
        QPainter painter(&m_canvas);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(frame.drawRect.topLeft(), m_saved);
        m_saved = QImage();
        m_bSaved = false;
    }
}
