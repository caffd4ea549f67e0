#include "cximage.h"

#include "colourprofile.h"
#include "metadataio.h"

#include <utility>

bool CxImage::EncodeWithMetadata(CxFile *file, std::uint32_t imagetype)
{
    CxMemFile mem;
    // The encoder proper sees neither the blocks nor the orientation.
    CxMetadata meta = std::exchange(m_meta, CxMetadata{});
    const int orientation = std::exchange(m_orientation, 1);
    const bool encoded = mem.Open() && Encode(&mem, imagetype) && !mem.Error();
    m_meta = std::move(meta);
    m_orientation = orientation;
    if (!encoded)
        return false;
    const std::uint8_t *pixels = mem.GetBuffer(false);
    const std::size_t pixelBytes = std::size_t(mem.Size());
    std::string bytes;
    const bool fits = m_meta.icc.empty() || cxcolour::DescribesDecodedPixels(m_meta.icc);
    CxMetadata withoutProfile;
    if (!fits) {
        withoutProfile = m_meta;
        withoutProfile.icc.clear();
    }
    const bool embedded = cxmeta::Embed(pixels, pixelBytes, fits ? m_meta : withoutProfile, m_width, m_height,
                                        m_orientation, bytes);
    const void *data = embedded ? static_cast<const void *>(bytes.data()) : pixels;
    const std::size_t size = embedded ? bytes.size() : pixelBytes;
    if (file->Write(data, 1, size) != size || !file->Flush() || file->Error()) {
        SetError("cannot write image");
        return false;
    }
    return true;
}
