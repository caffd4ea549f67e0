// What a caller asks of one decode. It is passed with each Load, Decode or
// LoadRows and kept nowhere, so a picture reused for many files never
// carries one file's wishes into the next.
#pragma once

#include <atomic>
#include <functional>

struct CxDecodeRequest {
    // Decides the size hint once the file's own size is known (it replaces
    // hintWidth x hintHeight while set): fn(srcWidth, srcHeight, hintWidth,
    // hintHeight) leaves the hint at 0, 0 for a full-size decode.
    using LoadSizeRule = std::function<void(int, int, int &, int &)>;

    // The frame to compose (GIF); other formats give their first.
    int frame = 0;
    // The page of a document (PDF, a TIFF of several pages), from 1; 0 is
    // the file as one picture: its first page.
    int page = 0;
    // A codec that can decode at a reduced scale (JPEG) may return a smaller
    // picture that still covers hintWidth x hintHeight (0, 0: full size).
    int hintWidth = 0;
    int hintHeight = 0;
    LoadSizeRule hintRule = nullptr;
    // For a drawing rendered at any size (SVG): fn(ownWidth, ownHeight, w, h)
    // sets the size the steps after it will make of the picture, larger or
    // smaller than its own, which the drawing is then rendered to cover; 0, 0
    // leaves the hint above to decide. Other formats never call it.
    LoadSizeRule renderRule = nullptr;
    // Dots per inch a drawing is rendered at (its own size is at 96); 0: the
    // format's own default.
    int renderDpi = 0;
    // Only the regionWidth x regionHeight part from regionLeft, regionTop
    // wanted, in the pixels of the picture as decoded (at the hint's scale):
    // a decoder that can skip the rest (a sequential JPEG stored upright)
    // gives just that part, cut to the picture; any other decodes it all.
    // 0, 0 asks for everything.
    int regionLeft = 0;
    int regionTop = 0;
    int regionWidth = 0;
    int regionHeight = 0;
    // A progressive JPEG may stop after its first scans (as far as every
    // component's block averages), given at 1/8 scale whatever the hint.
    bool coarse = false;
    // Raised by another thread to end the decode early (it then fails);
    // must outlive the decode.
    const std::atomic<bool> *cancel = nullptr;
    // Whether the pixels are turned upright or kept as stored.
    bool autoOrient = true;
    // Whether a truncated JPEG or PNG decodes to what arrived (for showing,
    // never for writing) instead of failing.
    bool acceptTruncated = false;
    // Whether a camera raw file may give its embedded preview instead of its
    // sensor data when the preview covers the hint (for showing, never for
    // writing).
    bool embeddedPreview = false;
};
