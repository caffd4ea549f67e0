#include "convert/losslessway.h"

#include "convert/metadataoptions.h"
#include "imaging/cxfile.h"
#include "imaging/losslessjpeg.h"
#include "imaging/metadataio.h"

#include <algorithm>

namespace {

constexpr std::size_t kMaxSourceBytes = std::size_t(1) << 31;

bool ReadSource(const std::string &source, std::string &bytes)
{
    CxIOFile in;
    return in.Open(source.c_str(), "rb") && in.ReadAll(bytes, kMaxSourceBytes);
}

const std::uint8_t *Data(const std::string &bytes)
{
    return reinterpret_cast<const std::uint8_t *>(bytes.data());
}

bool Take(const std::string &bytes, PreparedFile &r)
{
    CxMemFile mem;
    if (!mem.Open() || mem.Write(bytes.data(), 1, bytes.size()) != bytes.size())
        return false;
    r.bytes.size = std::size_t(mem.Size());
    r.bytes.data.reset(mem.GetBuffer(true));
    return r.bytes.data != nullptr;
}

// The turn the flip and then the rotation ask for, in the orientations'
// numbering.
int RotationTurn(const CConvertJob &job)
{
    static constexpr int kFlips[] = {1, 2, 4, 3}; // none, mirror, flip, both (180 degrees)
    const int flip = kFlips[std::clamp(job.m_edits.flip, 0, 3)];
    switch (job.m_bRotate ? job.m_nrotateType : ROTATE_NONE) {
    case ROTATE_LEFT:
        return cxlossless::ComposeTurns(flip, 8);
    case ROTATE_RIGHT:
        return cxlossless::ComposeTurns(flip, 6);
    case ROTATE_180:
        return cxlossless::ComposeTurns(flip, 3);
    default:
        return flip;
    }
}

// The picture turned as the rotation (and, turned upright, its file's
// orientation) asks, its metadata as the job keeps it, written as the
// encoder would write it.
bool TurnJpeg(const CConvertJob &job, const std::string &source, const std::string &bytes, std::string &out,
              int &width, int &height)
{
    cxlossless::JpegLayout layout;
    CxMetadata meta;
    if (!cxlossless::ReadJpegLayout(Data(bytes), bytes.size(), layout) ||
        !cxlossless::ReadJpegMetadata(Data(bytes), bytes.size(), meta))
        return false;
    const int stored = cxmeta::ExifOrientation(meta.exif);
    const int turn =
        job.m_bAutoRotate ? cxlossless::ComposeTurns(stored, RotationTurn(job)) : RotationTurn(job);
    const int orientation = job.m_bAutoRotate ? 1 : stored;
    const bool trim = job.m_nLossless == LOSSLESS_TRIM;
    std::string turned, reason;
    if ((!trim && !cxlossless::TurnsWhole(layout, turn)) ||
        !cxlossless::TurnJpeg(Data(bytes), bytes.size(), turn, trim, turned, width, height, reason,
                              OutputFolder(job, source)))
        return false;
    ApplyMetadataOptions(meta, job);
    if (meta.Empty() && orientation == 1) {
        out = std::move(turned);
        return true;
    }
    return cxmeta::Embed(Data(turned), turned.size(), meta, width, height, orientation, out);
}

// The JPEG, without what the job strips, into JPEG XL; only an upright one
// when photos are turned upright (JPEG XL keeps the JPEG's orientation).
bool CarryIntoJxl(const CConvertJob &job, std::string &bytes, std::string &out, int &width, int &height)
{
    cxlossless::JpegLayout layout;
    CxMetadata meta;
    std::string stripped, reason;
    if (CopyEditsMetadata(job)) {
        if (!RewriteMetadata(bytes, job, stripped))
            return false;
        bytes.swap(stripped);
    }
    if (!cxlossless::ReadJpegLayout(Data(bytes), bytes.size(), layout) ||
        !cxlossless::ReadJpegMetadata(Data(bytes), bytes.size(), meta) ||
        (job.m_bAutoRotate && cxmeta::ExifOrientation(meta.exif) != 1))
        return false;
    width = layout.width;
    height = layout.height;
    return cxlossless::JpegToJxl(Data(bytes), bytes.size(), out, reason);
}

// The JPEG a JPEG XL file holds, without what the job strips; as with the
// way there, only an upright one when photos are turned upright.
bool GiveBackJpeg(const CConvertJob &job, const std::string &bytes, std::string &out, int &width, int &height)
{
    cxlossless::JpegLayout layout;
    CxMetadata meta;
    std::string jpeg;
    if (!cxlossless::JxlToJpeg(Data(bytes), bytes.size(), jpeg) ||
        !cxlossless::ReadJpegLayout(Data(jpeg), jpeg.size(), layout) ||
        !cxlossless::ReadJpegMetadata(Data(jpeg), jpeg.size(), meta) ||
        (job.m_bAutoRotate && cxmeta::ExifOrientation(meta.exif) != 1))
        return false;
    width = layout.width;
    height = layout.height;
    if (!CopyEditsMetadata(job)) {
        out = std::move(jpeg);
        return true;
    }
    return RewriteMetadata(jpeg, job, out);
}

} // namespace

bool PrepareFromCoefficients(const CConvertJob &job, const std::string &source, PreparedFile &r)
{
    const ImageFormat *from = FormatByType(r.sourceType);
    std::string bytes, out;
    int width = 0, height = 0;
    if (!from || !ReadSource(source, bytes))
        return false;
    bool made = false;
    FileWay way = FileWay::Transcoded;
    if (from->facts.coefficients == Coefficients::CarryJpeg) {
        made = GiveBackJpeg(job, bytes, out, width, height);
    } else if (r.outType == r.sourceType) {
        made = TurnJpeg(job, source, bytes, out, width, height);
        way = FileWay::Lossless;
    } else {
        made = CarryIntoJxl(job, bytes, out, width, height);
    }
    if (!made || !Take(out, r))
        return false;
    r.kind = PreparedFile::Kind::Encoded;
    r.frames = 1;
    r.width = width;
    r.height = height;
    r.way = way;
    return true;
}
