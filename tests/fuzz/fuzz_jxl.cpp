// JPEG XL reader over arbitrary bytes, as a still (the first frame) and as
// an animation walked frame by frame; what it accepts must survive a
// lossless write and read back with the same pixels.
#include "tests/fuzz/picture_checks.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    CxImage img;
    if (!cxcodec::DecodeJxl(data, size, img, cxcodec::DecodeRequest{})) {
        fuzzcheck::Require(!img.IsValid() && *img.GetLastError() != '\0');
        return 0;
    }
    fuzzcheck::CheckPicture(img);

    cxcodec::JxlFrameWalker walker;
    std::string error;
    if (walker.Open(data, size, error)) {
        fuzzcheck::Require(walker.NumFrames() >= 1 && walker.Loops() >= 0);
        for (int k = 0; k < walker.NumFrames() && k < 4; ++k) {
            CxImage frame;
            if (!walker.Read(k, frame))
                break;
            fuzzcheck::CheckPicture(frame);
            fuzzcheck::Require(frame.GetWidth() == img.GetWidth() && frame.GetHeight() == img.GetHeight());
            fuzzcheck::Require(walker.DurationMs(k) >= 0);
        }
    }

    img.SetJpegQuality(100);
    fuzzcheck::CheckRoundTrip(
        img, [](const CxImage &i, CxFile &f) { return cxcodec::EncodeJxl(i, f); }, cxcodec::DecodeJxl,
        CxImage::kMaxDimension);
    return 0;
}
