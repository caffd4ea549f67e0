// Editing an EXIF block where it stands, over arbitrary bytes: never a read
// or write outside the block, and an edit it accepts says what was asked.
#include "imaging/cxmetadata.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    for (const int orientation : {1, 6}) {
        std::string block(reinterpret_cast<const char *>(data), size);
        if (!cxmeta::EditExifInPlace(block, 800, 70000, orientation)) {
            if (block != std::string(reinterpret_cast<const char *>(data), size))
                std::abort(); // a refused edit leaves the block alone
            continue;
        }
        if (block.size() > size || cxmeta::ExifOrientation(block) != orientation)
            std::abort();
    }
    return 0;
}
