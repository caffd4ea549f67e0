// TGA reader over arbitrary bytes; what it accepts must also survive being
// written as PNG (what a TGA becomes) and read back unchanged.
#include "tests/fuzz/picture_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    CxImage img;
    if (!cxcodec::DecodeTga(data, size, img, cxcodec::DecodeRequest{}))
        return 0;
    fuzzcheck::CheckPicture(img);
    fuzzcheck::CheckRoundTrip(img, cxcodec::EncodePng,
                              [](const std::uint8_t *d, std::size_t n, CxImage &out,
                                 const cxcodec::DecodeRequest &req) { return cxcodec::DecodePng(d, n, out, req); },
                              CxImage::kMaxDimension);
    return 0;
}
