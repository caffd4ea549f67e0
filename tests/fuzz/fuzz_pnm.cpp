// PNM reader over arbitrary bytes (see CheckReadOnlyFormat).
#include "tests/fuzz/picture_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    return fuzzcheck::CheckReadOnlyFormat(cxcodec::DecodePnm, data, size);
}
