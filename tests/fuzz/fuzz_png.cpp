// PNG decoding over arbitrary bytes, two ways: 8-bit colour rows read by the
// program's own code and by libpng must agree on every file, failure for
// failure and pixel for pixel; what a cut-off file shows keeps the picture
// model's rules.
#include "tests/fuzz/picture_checks.h"
#include "imaging/testhooks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size < 8 || std::memcmp(data, kSignature, 8) != 0)
        return 0;
    CxImage own, theirs;
    const bool ownOk = own.Decode(data, size);
    cxcodec::testhooks::SetPngOwnRows(false);
    const bool theirOk = theirs.Decode(data, size);
    cxcodec::testhooks::SetPngOwnRows(true);
    fuzzcheck::Require(ownOk == theirOk);
    if (ownOk) {
        fuzzcheck::CheckPicture(own);
        fuzzcheck::Require(own.GetWidth() == theirs.GetWidth() && own.GetHeight() == theirs.GetHeight() &&
                           own.GetBpp() == theirs.GetBpp() && own.AlphaIsValid() == theirs.AlphaIsValid());
        for (int y = 0; y < own.GetHeight(); ++y) {
            fuzzcheck::Require(std::memcmp(own.GetBits(y), theirs.GetBits(y), std::size_t(own.GetEffWidth())) == 0);
            fuzzcheck::Require(!own.AlphaIsValid() || std::memcmp(own.AlphaGetPointer(y), theirs.AlphaGetPointer(y),
                                                                  std::size_t(own.GetWidth())) == 0);
        }
    }
    CxImage cut;
    if (cut.Decode(data, size, CXIMAGE_FORMAT_UNKNOWN, {.acceptTruncated = true}))
        fuzzcheck::CheckPicture(cut);
    return 0;
}
