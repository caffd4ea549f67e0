// PDF pages through Poppler over arbitrary bytes (see CheckReadOnlyFormat),
// a later page asked for as well as the first, and the page count.
#include "tests/fuzz/picture_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    cxcodec::CountPdfPages(data, size);
    CxImage second;
    cxcodec::DecodeRequest req;
    req.page = 2;
    req.hintWidth = req.hintHeight = 256;
    if (cxcodec::DecodePdf(data, size, second, req))
        fuzzcheck::CheckPicture(second);
    return fuzzcheck::CheckReadOnlyFormat(cxcodec::DecodePdf, data, size);
}
