#include "viewer/viewergeometry.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

namespace viewgeom {

namespace {

int TruncateToInt(double v)
{
    if (std::isnan(v) || v <= 0.0)
        return 0;
    if (v >= double(INT_MAX))
        return INT_MAX;
    return int(v);
}

} // namespace

Size DisplaySize(int w, int h, bool zoomed, float zoom, bool fullSize, Size screen)
{
    if (w <= 0 || h <= 0)
        return {0, 0};
    Size d{w, h};
    if (zoomed) {
        if (zoom != 1.0f) {
            d.width = TruncateToInt(double(w) * double(zoom));
            d.height = TruncateToInt(double(h) * double(zoom));
        }
    } else if (!fullSize && (w > screen.width || h > screen.height)) {
        const double aspect = double(w) / double(h);
        d.height = screen.height;
        d.width = TruncateToInt(double(screen.height) * aspect);
        if (d.width > screen.width) {
            d.width = screen.width;
            d.height = TruncateToInt(double(screen.width) / aspect);
        }
    }
    // A very thin picture would otherwise vanish.
    d.width = std::max(d.width, 1);
    d.height = std::max(d.height, 1);
    return d;
}

Layout LayoutImage(Size display, Size screen)
{
    Layout l;
    if (display.width < screen.width) {
        l.canvas.width = screen.width;
        l.image.left = (screen.width - display.width) / 2;
    } else {
        l.canvas.width = display.width;
        l.image.left = 0;
    }
    if (display.height < screen.height) {
        l.canvas.height = screen.height;
        l.image.top = (screen.height - display.height) / 2;
    } else {
        l.canvas.height = display.height;
        l.image.top = 0;
    }
    l.image.right = l.image.left + display.width;
    l.image.bottom = l.image.top + display.height;
    return l;
}

int ClampScroll(int value, int canvas, int screen)
{
    const int most = std::max(0, canvas - screen);
    return std::clamp(value, 0, most);
}

int ScrollAfterLayout(bool zoomed, bool zoomIn, int old, int display, int canvas, int screen)
{
    if (!zoomed)
        return 0;
    const int half = screen / 2;
    int value = old;
    if (zoomIn) {
        if (display > screen) {
            if (old > 0)
                value = TruncateToInt((double(old) + half) * kZoomInStep - half);
            else
                value = (display - screen) / 2;
        }
    } else {
        value = display > screen ? TruncateToInt((double(old) + half) * kZoomOutStep - half) : 0;
    }
    // Zooming out from near the far edge would otherwise leave the view past
    // the end of the shrunken picture.
    return ClampScroll(value, canvas, screen);
}

float ZoomedIn(float zoom)
{
    return float(double(zoom) * kZoomInStep);
}
float ZoomedOut(float zoom)
{
    return float(double(zoom) * kZoomOutStep);
}
bool CanZoomIn(float zoom)
{
    return !(zoom > kMaxZoomBeforeStep);
}
bool CanZoomOut(const WinRect &shown)
{
    return shown.Width() >= kMinZoomOutSide && shown.Height() >= kMinZoomOutSide;
}

bool StrictlyInside(const WinRect &r, int x, int y)
{
    return x > r.left && x < r.right && y > r.top && y < r.bottom;
}

Size CentreOrigin(Size child, Size screen)
{
    return {(screen.width - child.width) / 2, (screen.height - child.height) / 2};
}

namespace {

// One axis of VisibleImagePart: picture range [s0, s1) and window range.
struct Span {
    double s0 = 0, s1 = 0, t0 = 0, t1 = 0;
};

// scale: canvas pixels per picture pixel.
Span VisibleSpan(int shownStart, int shownEnd, int scroll, int window, int imageLength, double scale)
{
    Span s;
    const int shownLength = shownEnd - shownStart;
    if (shownLength <= 0 || imageLength <= 0 || window <= 0 || !(scale > 0))
        return s;
    const std::int64_t from = std::max<std::int64_t>(shownStart, scroll);
    const std::int64_t to = std::min<std::int64_t>(shownEnd, std::int64_t(scroll) + window);
    if (to <= from)
        return s;
    s.s0 = std::clamp(std::floor(double(from - shownStart) / scale), 0.0, double(imageLength));
    s.s1 = std::clamp(std::ceil(double(to - shownStart) / scale), 0.0, double(imageLength));
    s.t0 = double(shownStart) + s.s0 * scale - scroll;
    s.t1 = double(shownStart) + s.s1 * scale - scroll;
    return s;
}

VisiblePart PartOf(const Span &x, const Span &y)
{
    VisiblePart part;
    if (x.s1 <= x.s0 || y.s1 <= y.s0)
        return part;
    part.source = QRectF(x.s0, y.s0, x.s1 - x.s0, y.s1 - y.s0);
    part.target = QRectF(x.t0, y.t0, x.t1 - x.t0, y.t1 - y.t0);
    return part;
}

double PixelRatio(double dpr)
{
    return dpr > 0 ? dpr : 1.0;
}

} // namespace

VisiblePart VisibleImagePart(const WinRect &shown, int scrollX, int scrollY, Size windowSize, Size imageSize)
{
    const auto scale = [](int shown, int image) { return image > 0 ? double(shown) / double(image) : 0.0; };
    return PartOf(VisibleSpan(shown.left, shown.right, scrollX, windowSize.width, imageSize.width,
                              scale(shown.Width(), imageSize.width)),
                  VisibleSpan(shown.top, shown.bottom, scrollY, windowSize.height, imageSize.height,
                              scale(shown.Height(), imageSize.height)));
}

Size ActualSize(Size image, double dpr)
{
    const double ratio = PixelRatio(dpr);
    const auto side = [ratio](int pixels) {
        return pixels > 0 ? TruncateToInt(std::ceil(pixels / ratio)) : 0;
    };
    return {side(image.width), side(image.height)};
}

VisiblePart VisibleActualPart(const WinRect &shown, int scrollX, int scrollY, Size windowSize, Size imageSize,
                              double dpr)
{
    const double scale = 1.0 / PixelRatio(dpr);
    return PartOf(VisibleSpan(shown.left, shown.right, scrollX, windowSize.width, imageSize.width, scale),
                  VisibleSpan(shown.top, shown.bottom, scrollY, windowSize.height, imageSize.height, scale));
}

int FollowingScroll(int scroll, int canvas, int otherCanvas, int screen)
{
    if (canvas <= 0 || otherCanvas <= screen)
        return 0;
    const double share = (double(scroll) + screen / 2.0) / double(canvas);
    return ClampScroll(int(std::lround(share * otherCanvas - screen / 2.0)), otherCanvas, screen);
}

int SlideIntervalMs(int delaySeconds)
{
    const std::int64_t ms = std::int64_t(delaySeconds) * 1000;
    return int(std::clamp<std::int64_t>(ms, kMinSlideIntervalMs, INT_MAX));
}

} // namespace viewgeom
