#include "imaging/cximage.h"

#include "imaging/colourprofile.h"
#include "imaging/metadataio.h"

#include <utility>

bool CxImage::EncodeWithMetadata(CxFile *file, std::uint32_t imagetype)
{
    const bool fits = m_meta.icc.empty() || cxcolour::DescribesDecodedPixels(m_meta.icc);
    // exiv2 cannot write into these files: their encoders write the edited
    // blocks themselves, and the orientation as the format records it.
    if (cxmeta::WrittenByEncoder(imagetype)) {
        const ImageFormat *writer = FormatByType(imagetype);
        CxMetadata edited = cxmeta::EditedBlocks(m_meta, m_width, m_height, m_orientation, m_encoder.m_nDpi);
        if (!fits)
            edited.icc.clear();
        CxMetadata meta = std::exchange(m_meta, std::move(edited));
        bool ok = writer && writer->Writable() && writer->encode(*this, *file, &m_lastError);
        m_meta = std::move(meta);
        if (ok && (!file->Flush() || file->Error()))
            ok = false;
        if (!ok && m_lastError.empty())
            SetError("cannot write image");
        return ok;
    }
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
    CxMetadata withoutProfile;
    if (!fits) {
        withoutProfile = m_meta;
        withoutProfile.icc.clear();
    }
    const bool embedded = cxmeta::Embed(pixels, pixelBytes, fits ? m_meta : withoutProfile, m_width, m_height,
                                        m_orientation, bytes, m_encoder.m_nDpi);
    const void *data = embedded ? static_cast<const void *>(bytes.data()) : pixels;
    const std::size_t size = embedded ? bytes.size() : pixelBytes;
    if (file->Write(data, 1, size) != size || !file->Flush() || file->Error()) {
        SetError("cannot write image");
        return false;
    }
    return true;
}
