// Animations as the program handles them, whatever file they come from: a
// walk over their frames (GIF or WebP), each composed on the file's canvas,
// and the WebP animation writer. Runs, the preview and the viewer all read
// animations through CxFrameReader.
//
// Delays are kept in milliseconds between reader and writer, so a GIF's
// hundredths become WebP milliseconds exactly (x 10); WebP milliseconds
// going to a GIF are rounded to the nearest hundredth, the only place a
// delay can change. Loop counts are held as a GIF counts them (-1: plays
// once, 0: for ever, n: repeats n times); WebP counts plays, so n repeats
// are n + 1 plays.
#pragma once

#include "imaging/cximage.h"

#include <cstdint>
#include <memory>
#include <string>

class CxFrameReader {
public:
    // autoOrient: every frame turned upright, as a still's decode does.
    explicit CxFrameReader(bool autoOrient = true) : m_autoOrient(autoOrient) {}
    virtual ~CxFrameReader() = default;
    // The next frame into img (GetFrameDelay in hundredths, rounded); false
    // when it cannot be read (img's GetLastError says why), and for every
    // call after.
    virtual bool Next(CxImage &img) = 0;
    virtual int GetNumFrames() const = 0;
    // How long the frame Next gave last is shown, in milliseconds.
    int GetDelayMs() const { return m_delayMs; }
    // The file's comment and loop count (GIF's way of counting).
    const std::string &GetComment() const { return m_comment; }
    int GetLoops() const { return m_loops; }
    // The colour a WebP asks to be shown on, 0xAARRGGBB; 0 for a GIF.
    std::uint32_t GetBackground() const { return m_background; }

protected:
    std::string m_comment;
    int m_loops = 0;
    int m_delayMs = 0;
    std::uint32_t m_background = 0;
    bool m_autoOrient = true;
};

// A reader for the file, the frame codec of the row its bytes are (GIF,
// WebP or JPEG XL). For any other file, or one that cannot be read, every
// Next fails with the reason. With autoOrient false the frames stay as
// stored, their orientation reported.
std::unique_ptr<CxFrameReader> OpenFrameReader(const char *filename, bool autoOrient = true);

// Whether a file of the type can hold frames that OpenFrameReader walks.
bool IsAnimationType(std::uint32_t type);
// Whether an animation written as the type stays one (a written row with
// FORMAT_ANIMATION: GIF, WebP); others take the first frame.
bool IsAnimationOutputType(std::uint32_t type);

// WebP's loop count for a GIF's, and back.
int WebpLoopCount(int gifLoops);
int GifLoops(int webpLoopCount);

// A WebP's delay in milliseconds as a GIF's hundredths, to the nearest.
inline int GifDelay(int ms)
{
    return ms <= 0 ? 0 : (ms + 5) / 10;
}

// Writes count frames of one size as an animated WebP, frame k shown
// delaysMs[k]: lossy at the first frame's GetJpegQuality, lossless at 100,
// as a still is. The first frame's metadata goes in with its orientation
// (1 once applied) and sizes. why (when given) says why it failed.
bool WriteWebpAnimation(CxFile &file, const CxImage *const *frames, const int *delaysMs, int count,
                        int loops, std::uint32_t background, std::string *why = nullptr);
