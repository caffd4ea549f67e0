// The whole decode path (format detection and every codec) over arbitrary
// bytes: once plainly, once as the viewer asks (a later frame at a reduced
// size, cut-off files shown as far as they go), once at 1/8 scale, and once
// as stored, turned upright afterwards.
#include "tests/fuzz/picture_checks.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    CxImage img;
    if (!img.Decode(data, size)) {
        fuzzcheck::Require(!img.IsValid() && *img.GetLastError() != '\0');
        return 0;
    }
    fuzzcheck::CheckPicture(img);
    fuzzcheck::Require(img.GetNumFrames() >= 1);

    CxImage hinted;
    hinted.SetFrame(1);
    hinted.SetLoadSizeHint(img.GetWidth() / 3, img.GetHeight() / 3);
    hinted.SetAcceptTruncated(true);
    if (hinted.Decode(data, size))
        fuzzcheck::CheckPicture(hinted);

    // At 1/8 scale a progressive JPEG is read without the scans it needs not.
    CxImage eighth;
    eighth.SetLoadSizeHint(std::max(1, img.GetWidth() / 8), std::max(1, img.GetHeight() / 8));
    if (eighth.Decode(data, size))
        fuzzcheck::CheckPicture(eighth);

    CxImage stored;
    stored.SetAutoOrient(false);
    if (stored.Decode(data, size) && stored.ApplyOrientation()) {
        fuzzcheck::Require(stored.GetOrientation() == 1);
        fuzzcheck::Require(stored.GetWidth() == img.GetWidth() && stored.GetHeight() == img.GetHeight());
        fuzzcheck::CheckPicture(stored);
    }
    return 0;
}
