// HEIF reader over arbitrary bytes, as a run and as the thumbnails ask
// (reduced size, where the file's own thumbnail may stand in).
#include "tests/fuzz/picture_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    CxImage img;
    if (!cxcodec::DecodeHeif(data, size, img, cxcodec::DecodeRequest{}))
        return 0;
    fuzzcheck::CheckPicture(img);

    cxcodec::DecodeRequest hint;
    hint.hintWidth = img.GetWidth() / 4;
    hint.hintHeight = img.GetHeight() / 4;
    CxImage small;
    if (cxcodec::DecodeHeif(data, size, small, hint)) {
        fuzzcheck::CheckPicture(small);
        fuzzcheck::Require(small.GetWidth() <= img.GetWidth() && small.GetHeight() <= img.GetHeight());
    }
    return 0;
}
