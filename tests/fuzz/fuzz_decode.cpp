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
    const CxDecodeRequest hint{.frame = 1,
                               .hintWidth = img.GetWidth() / 3,
                               .hintHeight = img.GetHeight() / 3,
                               .acceptTruncated = true};
    if (hinted.Decode(data, size, CXIMAGE_FORMAT_UNKNOWN, hint))
        fuzzcheck::CheckPicture(hinted);

    // At 1/8 scale a progressive JPEG is read without the scans it needs not.
    CxImage eighth;
    const CxDecodeRequest small{.hintWidth = std::max(1, img.GetWidth() / 8),
                                .hintHeight = std::max(1, img.GetHeight() / 8)};
    if (eighth.Decode(data, size, CXIMAGE_FORMAT_UNKNOWN, small))
        fuzzcheck::CheckPicture(eighth);

    CxImage stored;
    if (stored.Decode(data, size, CXIMAGE_FORMAT_UNKNOWN, {.autoOrient = false}) &&
        stored.ApplyOrientation()) {
        fuzzcheck::Require(stored.GetOrientation() == 1);
        fuzzcheck::Require(stored.GetWidth() == img.GetWidth() && stored.GetHeight() == img.GetHeight());
        fuzzcheck::CheckPicture(stored);
    }
    return 0;
}
