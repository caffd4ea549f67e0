// A JPEG's header read by libjpeg: the frame's size, and the APP1 EXIF and
// APP2 profile markers before it.
#include "imaging/codecs/codecs.h"
#include "imaging/codecs/probes.h"
#include "imaging/cxmetadata.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <jpeglib.h>

namespace {

struct ProbeError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

void OnError(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<ProbeError *>(cinfo->err)->jump, 1);
}

void OnMessage(j_common_ptr, int) {}

bool StartsWith(const jpeg_saved_marker_ptr m, const char *tag, std::size_t n)
{
    return m->data_length >= n && std::memcmp(m->data, tag, n) == 0;
}

// Reads the header into h; only plain values live across the long jump.
bool ReadHeader(jpeg_decompress_struct &cinfo, const std::uint8_t *data, std::size_t size, ImageHeader &h)
{
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK)
        return false;
    h.width = int(cinfo.image_width);
    h.height = int(cinfo.image_height);
    h.frames = 1;
    bool exifSeen = false;
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next) {
        if (m->marker == JPEG_APP0 + 1 && !exifSeen && StartsWith(m, "Exif\0\0", 6)) {
            exifSeen = true;
            h.orientation = cxmeta::ExifOrientation(m->data + 6, m->data_length - 6);
        } else if (m->marker == JPEG_APP0 + 2 && StartsWith(m, "ICC_PROFILE\0", 12) && m->data_length > 14) {
            h.hasProfile = true;
        }
    }
    return cxcodec::FitsPixelLimits(h.width, h.height);
}

} // namespace

namespace cxprobe {

bool ProbeJpeg(const std::uint8_t *data, std::size_t size, ImageHeader &h)
{
    if (!data || size < 4)
        return false;
    jpeg_decompress_struct cinfo;
    ProbeError err;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = OnError;
    err.mgr.emit_message = OnMessage;
    jpeg_create_decompress(&cinfo);
    bool ok = false;
    if (setjmp(err.jump) == 0)
        ok = ReadHeader(cinfo, data, size, h);
    jpeg_destroy_decompress(&cinfo);
    return ok;
}

} // namespace cxprobe
