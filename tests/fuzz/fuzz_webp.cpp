// WebP reader over arbitrary bytes, as a run and as the thumbnails ask
// (reduced size), frame by frame as an animation's conversion reads it, and
// the metadata rewrite of a plain copy; what it accepts must survive a
// lossless write and read back with the same pixels.
#include "imaging/metadataio.h"
#include "tests/fuzz/picture_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    cxcodec::WebpFrames frames;
    std::string why;
    if (frames.Open(data, size, why)) {
        CxImage frame;
        int ms = -1;
        for (int k = 0; k < 32 && frames.Next(frame, ms); ++k) {
            fuzzcheck::CheckPicture(frame);
            fuzzcheck::Require(ms >= 0);
        }
    }
    std::string stripped;
    cxmeta::StripFile(std::string(reinterpret_cast<const char *>(data), size), false, stripped);

    CxImage img;
    if (!cxcodec::DecodeWebp(data, size, img, cxcodec::DecodeRequest{}))
        return 0;
    fuzzcheck::CheckPicture(img);

    cxcodec::DecodeRequest hint;
    hint.hintWidth = img.GetWidth() / 3;
    hint.hintHeight = img.GetHeight() / 3;
    CxImage small;
    if (cxcodec::DecodeWebp(data, size, small, hint)) {
        fuzzcheck::CheckPicture(small);
        fuzzcheck::Require(small.GetWidth() <= img.GetWidth() && small.GetHeight() <= img.GetHeight());
    }

    img.SetJpegQuality(100);
    fuzzcheck::CheckRoundTrip(
        img, [](const CxImage &i, CxFile &f) { return cxcodec::EncodeWebp(i, f); }, cxcodec::DecodeWebp,
        16383);
    return 0;
}
