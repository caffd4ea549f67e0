// CAnimatedPicture: a picture control that shows one picture and plays an
// animated GIF, or frames decoded elsewhere, on a drawing thread of its own.
//
// The drawing thread composes frames into an off-screen canvas and tells the
// widget, through a queued signal, that a frame is ready; only the widget's
// own thread paints, copying the canvas in paintEvent. Pictures are decoded
// with Qt's image readers from memory (each GIF frame as a GIF of its own).
#pragma once

#include "imaging/cxtypes.h"
#include "controls/gifblockwalker.h"

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A manual-reset event: once Set it stays signalled until Reset.
class CStopEvent {
public:
    void Set();
    void Reset();
    bool IsSet() const;
    // Waits until the event is signalled, `wake` (when given) returns true,
    // or the time is up. True when signalled.
    bool WaitFor(std::chrono::milliseconds timeout, const std::function<bool()> &wake = {});
    // Makes waiters look at their `wake` condition again.
    void Poke();

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_set = false;
};

// How the drawing thread lets a frame's delay pass. The control waits on its
// stop event in real time; tests hand in a clock they step themselves.
class CFrameClock {
public:
    virtual ~CFrameClock() = default;
    // Returns after `ms` milliseconds, or earlier once `stop` is signalled.
    virtual void Wait(int ms, CStopEvent &stop) = 0;
};

class CAnimatedPicture : public QWidget {
    Q_OBJECT
public:
    // Largest canvas accepted; bigger pictures fail to load.
    static constexpr std::int64_t kMaxCanvasPixels = std::int64_t(1) << 25;
    // Decoded frames are kept up to this many bytes; later frames are
    // decoded again each time they are shown.
    static constexpr std::int64_t kMaxDecodedBytes = std::int64_t(256) << 20;
    // Files larger than this are not read.
    static constexpr std::int64_t kMaxFileBytes = std::int64_t(512) << 20;

    explicit CAnimatedPicture(QWidget *parent = nullptr);
    ~CAnimatedPicture() override;
    CAnimatedPicture(const CAnimatedPicture &) = delete;
    CAnimatedPicture &operator=(const CAnimatedPicture &) = delete;

    // Parses and prepares a picture from memory (the bytes are copied where
    // needed); the control takes the picture's size.
    bool LoadPicture(const std::uint8_t *data, std::size_t size);
    bool LoadPicture(const QByteArray &bytes);
    bool LoadPictureFile(const QString &path);
    // An animation already composed: frames of one size, each covering the
    // whole canvas (over the back colour), frame k shown delaysMs[k]; a
    // delay of 10 ms or less shows 100 ms, as browsers do.
    bool LoadFrames(std::vector<QImage> frames, const std::vector<int> &delaysMs);
    // A picture of our resources, ":/<type>/<id>".
    bool LoadPictureResource(int id, const char *type);
    // Plays an animation on the drawing thread, or draws a still picture.
    void StartShow();
    void StopAnimation();
    void UnloadPicture();
    // Once prepared: the colour behind the frames; fills the whole canvas.
    void SetBackColour(COLORREF colour);
    // Paints only this part of the canvas; an empty rectangle paints it all.
    void SetPaintRect(const QRect &rect);
    // Delays pass through this clock (null: real time). Change it only while
    // no animation runs; it must outlive the animation.
    void SetFrameClock(CFrameClock *clock) { m_pClock = clock; }
    // Bytes of decoded frames kept from the next load on (kMaxDecodedBytes
    // unless changed).
    void SetFrameMemoryLimit(std::int64_t bytes) { m_nMaxDecodedBytes = bytes; }

    bool IsReady() const { return m_bReady; }
    bool IsGif() const { return m_bIsGif; }
    bool IsAnimating() const { return m_bRunning; }
    QSize GetPictureSize() const { return m_size; }
    // Frames of a loaded animation; 1 for a still picture, 0 when empty.
    int GetFrameCount() const;
    int GetCurrentFrame() const { return m_nCurrentFrame; }
    // Delay of frame k in hundredths of a second.
    int GetFrameDelay(int k) const;
    COLORREF GetBackColour() const;
    // A copy of the canvas as it stands.
    QImage GetCanvas() const;

signals:
    // Sent from the drawing thread once frame `index` is in the canvas.
    void frameDrawn(int index);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    struct PictureFrame {
        QImage picture;                    // the frame's pixels, premultiplied; null when not kept
        QRect drawRect;                    // where they go on the canvas (inside the screen)
        QRect rect;                        // the frame's own rectangle: offset and size
        int delay = 0;                     // hundredths of a second
        int waitMs = 0;                    // when set, how long it shows instead
        bool whole = false;                // covers the canvas: the back colour goes under it
        int disposal = 0;                  // 0 to 7
        bool kept = true;                  // false: decoded again from m_source when shown
        GifFrameInfo source;               // where the frame lies in m_source
    };
    // A GIF of one frame on the composed part of the screen.
    std::vector<std::uint8_t> FrameGif(const CGifBlockWalker &walker, const GifFrameInfo &info) const;

    bool LoadGif(const std::uint8_t *data, std::size_t size);
    bool LoadStill(const std::uint8_t *data, std::size_t size);
    bool Prepare(int width, int height);
    void ClearState();
    // The frame's pixels cut from a decoded one-frame GIF.
    bool DecodeFrame(const std::uint8_t *data, std::size_t size, PictureFrame &frame) const;
    void AnimationThread();
    bool DrawFrame(const PictureFrame &frame);
    void DisposeFrame(const PictureFrame &frame);
    static int WaitMs(const PictureFrame &f)
    {
        return f.waitMs > 0 ? f.waitMs : f.delay > 4 ? f.delay * 10 : 100;
    }

    // Source and layout.
    bool m_bIsGif = false;
    QSize m_size;
    QRect m_area; // the part of a GIF's logical screen composed (see gifcanvas.h)
    QByteArray m_source; // kept only while some frame is not kept decoded
    std::vector<PictureFrame> m_frames;
    QImage m_picture; // a still picture

    // Canvas, guarded by m_canvasMutex: the drawing thread composes into it
    // while the widget paints from it.
    mutable std::mutex m_canvasMutex;
    QImage m_canvas;
    QImage m_saved; // what lay under a frame of disposal 3
    bool m_bSaved = false;
    COLORREF m_crBackground = RGB(255, 255, 255);
    QRect m_rcPaint;

    // Drawing thread.
    bool m_bReady = false;
    std::thread m_hThread;
    std::atomic<bool> m_bRunning{false};
    std::atomic<bool> m_bStop{false};
    std::atomic<int> m_nCurrentFrame{0};
    CStopEvent m_hStopEvent;
    CStopEvent m_threadDone;
    CFrameClock *m_pClock = nullptr;
    std::int64_t m_nMaxDecodedBytes = kMaxDecodedBytes;
};
