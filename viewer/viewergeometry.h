// The viewer's display arithmetic as small pure functions: the size a
// picture is shown at, where it lies on the canvas, how the scroll position
// follows a zoom step, and which part of the picture a window shows.
#pragma once

#include "controls/winrect.h"

#include <QRectF>

namespace viewgeom {

// Zoom factors per step; the step out undoes the step in.
inline constexpr double kZoomInStep = 1.33;
inline constexpr double kZoomOutStep = 0.7518796992481203;
// Zooming in stops once the factor is past this.
inline constexpr float kMaxZoomBeforeStep = 4.0f;
// Zooming out stops once the shown picture is narrower or lower than this.
inline constexpr int kMinZoomOutSide = 32;
// Arrow-key scroll steps in pixels.
inline constexpr int kScrollStepX = 30;
inline constexpr int kScrollStepY = 24;
// The slideshow never ticks faster than this, whatever the stored delay.
inline constexpr int kMinSlideIntervalMs = 10;

struct Size {
    int width = 0;
    int height = 0;
    friend bool operator==(const Size &, const Size &) = default;
};

// Where the picture lies on the canvas; right and bottom are exclusive.
struct Layout {
    WinRect image;
    Size canvas;
};

// How the current picture is viewed: its zoom and the scroll position of
// the canvas.
struct View {
    float zoom = 1.0f;
    // The zoom factor applies; otherwise the picture is fitted or at full size.
    bool zoomed = false;
    // The last zoom step was one in.
    bool zoomIn = false;
    // Unzoomed, a picture larger than the screen keeps its size (else it fits).
    bool fullSize = true;
    int scrollX = 0;
    int scrollY = 0;
    // A page turn or a change of size rule starts unzoomed.
    void Unzoom()
    {
        zoom = 1.0f;
        zoomed = false;
    }
};

// Size a w x h picture is shown at. Zoomed: the natural size times the
// factor. Otherwise, fitting: a picture larger than the screen shrinks to it
// keeping its proportions, a smaller one keeps its size; full size: natural.
// A picture is never shown smaller than one pixel on a side.
Size DisplaySize(int w, int h, bool zoomed, float zoom, bool fullSize, Size screen);

// Centres a picture narrower (lower) than the screen on a screen-sized
// canvas; a wider (higher) one starts at 0 and makes the canvas as large.
Layout LayoutImage(Size display, Size screen);

// The scroll value of one axis after a new layout: zooming in keeps the
// screen centre on the same picture point (or centres a picture that has
// just grown past the screen), zooming out likewise; without a zoom the
// view starts at the top left. The result always lies within 0 ... canvas -
// screen.
int ScrollAfterLayout(bool zoomed, bool zoomIn, int old, int display, int canvas, int screen);

// Keeps a scroll value within 0 ... canvas - screen.
int ClampScroll(int value, int canvas, int screen);

// The next factor of a step in or out, in the factor's own precision.
float ZoomedIn(float zoom);
float ZoomedOut(float zoom);
bool CanZoomIn(float zoom);
bool CanZoomOut(const WinRect &shown);

// True when (x, y) lies strictly inside the rectangle.
bool StrictlyInside(const WinRect &r, int x, int y);

// Top left that centres a child of the given size in the screen.
Size CentreOrigin(Size child, Size screen);

// The part of a picture of imageSize pixels, drawn into `shown` on the
// canvas, that a window of windowSize showing the canvas from (scrollX,
// scrollY) needs: source in picture pixels (whole pixels, so scaling never
// samples outside them) and target in window coordinates (it may reach a
// little past the window where a source pixel is cut by the window edge).
struct VisiblePart {
    QRectF source;
    QRectF target;
    bool IsEmpty() const { return source.isEmpty(); }
};
VisiblePart VisibleImagePart(const WinRect &shown, int scrollX, int scrollY, Size windowSize,
                             Size imageSize);

// Actual size on a screen of dpr device pixels to a window pixel: one
// picture pixel to a device pixel. The window pixels a picture of image
// pixels takes (a part pixel counts whole), and the part of it a window
// shows when it is drawn from shown's top left at that scale.
Size ActualSize(Size image, double dpr);
VisiblePart VisibleActualPart(const WinRect &shown, int scrollX, int scrollY, Size windowSize, Size imageSize,
                              double dpr);

// The scroll of one axis of a second canvas that keeps the same share of
// its picture at the middle of the screen as scroll does on the first.
int FollowingScroll(int scroll, int canvas, int otherCanvas, int screen);

// Timer interval of a slideshow delay in seconds.
int SlideIntervalMs(int delaySeconds);

} // namespace viewgeom
