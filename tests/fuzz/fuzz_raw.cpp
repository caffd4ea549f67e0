// The camera raw reader over arbitrary bytes: developed whole, at half size,
// as a thumbnail asks (where the embedded preview may stand in), and the
// header probe, which must agree with the decode on the size.
#include "imaging/imageheader.h"
#include "tests/fuzz/picture_checks.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    CxImage img;
    const cxcodec::DecodeRequest whole;
    if (!cxcodec::DecodeRaw(data, size, img, whole)) {
        fuzzcheck::Require(!img.IsValid() && *img.GetLastError() != '\0');
        return 0;
    }
    fuzzcheck::CheckPicture(img);
    ImageHeader h;
    if (cxcodec::IsCameraRaw(data, size) && ProbeImageHeader(data, size, h) && h.type == CXIMAGE_FORMAT_RAW)
        fuzzcheck::Require(h.width == img.GetSrcWidth() && h.height == img.GetSrcHeight());

    for (const bool preview : {false, true}) {
        cxcodec::DecodeRequest small;
        small.hintWidth = std::max(1, img.GetWidth() / 2);
        small.hintHeight = std::max(1, img.GetHeight() / 2);
        small.embeddedPreview = preview;
        CxImage reduced;
        if (cxcodec::DecodeRaw(data, size, reduced, small))
            fuzzcheck::CheckPicture(reduced);
    }
    return 0;
}
