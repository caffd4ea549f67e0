// PCX reader over arbitrary bytes; what it accepts must also survive a
// write and read back unchanged.
#include "tests/fuzz/picture_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    CxImage img;
    if (!cxcodec::DecodePcx(data, size, img, cxcodec::DecodeRequest{}))
        return 0;
    fuzzcheck::CheckPicture(img);
    fuzzcheck::CheckRoundTrip(img, cxcodec::EncodePcx,
                              [](const std::uint8_t *d, std::size_t n, CxImage &out,
                                 const cxcodec::DecodeRequest &req) { return cxcodec::DecodePcx(d, n, out, req); },
                              65534);  // 16-bit header fields, even line length
    return 0;
}
