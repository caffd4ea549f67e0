// The whole decode path (format detection and every codec) over arbitrary
// bytes, once plainly and once asking for a later frame at a reduced size.
#include "picture_checks.h"

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
    if (hinted.Decode(data, size))
        fuzzcheck::CheckPicture(hinted);
    return 0;
}
