// JPEG decoding over arbitrary bytes, two ways: progressive AC scans read by
// the program's own code (with and without the pdep instruction) and by
// libjpeg must agree on every file, failure for failure and pixel for pixel,
// at full, half and 1/8 size; rows shrunk as they are decoded must match the
// whole picture shrunk.
#include "tests/fuzz/picture_checks.h"
#include "imaging/resampledrows.h"
#include "imaging/testhooks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8)
        return 0;
    int width = 0;
    for (int pass = 0; pass < 3 && (pass == 0 || width >= 2); ++pass) {
        const int hint = pass == 0 ? 0 : pass == 1 ? width / 2 : 1;
        CxImage own, theirs;
        const CxDecodeRequest req{.hintWidth = hint};
        const bool ownOk = own.Decode(data, size, CXIMAGE_FORMAT_UNKNOWN, req);
        cxcodec::testhooks::SetJpegOwnAcScans(false);
        const bool theirOk = theirs.Decode(data, size, CXIMAGE_FORMAT_UNKNOWN, req);
        cxcodec::testhooks::SetJpegOwnAcScans(true);
        fuzzcheck::Require(ownOk == theirOk);
        if (pass == 0) {
            CxImage counted;
            cxcodec::testhooks::SetJpegPdep(false);
            const bool countedOk = counted.Decode(data, size);
            cxcodec::testhooks::SetJpegPdep(true);
            fuzzcheck::Require(countedOk == ownOk);
            for (int y = 0; countedOk && y < own.GetHeight(); ++y)
                fuzzcheck::Require(
                    std::memcmp(own.GetBits(y), counted.GetBits(y), std::size_t(own.GetEffWidth())) == 0);
        }
        if (!ownOk)
            break;
        fuzzcheck::CheckPicture(own);
        fuzzcheck::Require(own.GetWidth() == theirs.GetWidth() && own.GetHeight() == theirs.GetHeight() &&
                           own.GetBpp() == theirs.GetBpp());
        for (int y = 0; y < own.GetHeight(); ++y)
            fuzzcheck::Require(
                std::memcmp(own.GetBits(y), theirs.GetBits(y), std::size_t(own.GetEffWidth())) == 0);
        if (pass == 0) {
            width = own.GetWidth();
            // Shrunk to half as the rows come, on one thread: what shrinking
            // the whole picture gives (or, declined, the whole picture).
            const int w = std::max(1, width / 2), h = std::max(1, own.GetHeight() / 2);
            ResampledRows rows([&](int, int, const CxMetadata &, int &tw, int &th) {
                tw = w;
                th = h;
                return true;
            });
            CxImage shrunk;
            CxImage::SetThreadLimit(1);
            bool ok = shrunk.DecodeRows(data, size, rows);
            CxImage::SetThreadLimit(0);
            if (ok && !shrunk.IsValid()) {
                ok = rows.Take(shrunk, true);
                fuzzcheck::Require(ok && theirs.Resample(w, h, 0));
            }
            fuzzcheck::Require(ok && shrunk.GetWidth() == theirs.GetWidth() &&
                               shrunk.GetHeight() == theirs.GetHeight() && shrunk.GetBpp() == theirs.GetBpp());
            for (int y = 0; y < shrunk.GetHeight(); ++y)
                fuzzcheck::Require(
                    std::memcmp(shrunk.GetBits(y), theirs.GetBits(y), std::size_t(shrunk.GetEffWidth())) == 0);
        }
    }
    return 0;
}
