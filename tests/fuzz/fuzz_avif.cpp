// AVIF reader over arbitrary bytes; what it accepts must survive a lossless
// write and read back with the same pixels.
#include "tests/fuzz/picture_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    CxImage img;
    if (!cxcodec::DecodeAvif(data, size, img, cxcodec::DecodeRequest{}))
        return 0;
    fuzzcheck::CheckPicture(img);
    // A lossless encode is slow; small pictures find as much.
    if (std::int64_t(img.GetWidth()) * img.GetHeight() > 65536)
        return 0;
    img.SetJpegQuality(100);
    fuzzcheck::CheckRoundTrip(
        img, [](const CxImage &i, CxFile &f) { return cxcodec::EncodeAvif(i, f); }, cxcodec::DecodeAvif,
        65536);
    return 0;
}
