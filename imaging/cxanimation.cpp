#include "imaging/cxanimation.h"

#include "imaging/codecs/codecs.h"
#include "imaging/colourprofile.h"
#include "imaging/cximagegif.h"
#include "imaging/cxmetadata.h"
#include "imaging/formats.h"
#include "imaging/metadataio.h"

#include <algorithm>

namespace {

constexpr std::size_t kMaxFileBytes = std::size_t(1) << 31;

class CxWebpFrameReader : public CxFrameReader {
public:
    CxWebpFrameReader(std::string bytes, bool autoOrient)
        : CxFrameReader(autoOrient), m_bytes(std::move(bytes))
    {
        const auto *data = reinterpret_cast<const std::uint8_t *>(m_bytes.data());
        if (!m_frames.Open(data, m_bytes.size(), m_error))
            return;
        m_loops = GifLoops(m_frames.LoopCount());
        m_background = m_frames.Background();
        m_orientation = cxmeta::ExifOrientation(m_frames.Metadata().exif);
        m_open = true;
    }

    bool Next(CxImage &img) override
    {
        img.Destroy();
        CxImageAccess::SetFrameIndex(img, m_next);
        if (!m_open) {
            CxImageAccess::SetError(img, m_error.empty() ? "cannot decode image" : m_error.c_str());
            return false;
        }
        CxImage out;
        if (!m_frames.Next(out, m_delayMs)) {
            m_open = false;
            m_error = *out.GetLastError() ? out.GetLastError() : "cannot decode image";
            CxImageAccess::SetError(img, m_error.c_str());
            return false;
        }
        // The blocks travel with the first frame, as they would with a
        // still; the colour profile with every frame, since each one's
        // pixels are in its terms. Every frame is turned upright as a still
        // would be.
        if (m_next++ == 0) {
            out.SetMetadata(m_frames.Metadata());
        } else if (!m_frames.Metadata().icc.empty()) {
            CxMetadata profile;
            profile.icc = m_frames.Metadata().icc;
            out.SetMetadata(std::move(profile));
        }
        CxImageAccess::SetOrientation(out, m_orientation);
        return CxImageAccess::Adopt(img, std::move(out), CXIMAGE_FORMAT_WEBP, m_autoOrient);
    }

    int GetNumFrames() const override { return m_frames.NumFrames(); }

private:
    std::string m_bytes;
    cxcodec::WebpFrames m_frames;
    std::string m_error;
    bool m_open = false;
    int m_next = 0;
    int m_orientation = 1;
};

// A JPEG XL animation's frames, each the whole canvas. Its loop count counts
// plays, as WebP's does.
class CxJxlFrameReader : public CxFrameReader {
public:
    CxJxlFrameReader(std::string bytes, bool autoOrient)
        : CxFrameReader(autoOrient), m_bytes(std::move(bytes))
    {
        const auto *data = reinterpret_cast<const std::uint8_t *>(m_bytes.data());
        m_open = m_frames.Open(data, m_bytes.size(), m_error);
        if (m_open)
            m_loops = GifLoops(m_frames.Loops());
    }

    bool Next(CxImage &img) override
    {
        img.Destroy();
        CxImageAccess::SetFrameIndex(img, m_next);
        CxImage out;
        if (!m_open || !m_frames.Read(m_next, out)) {
            m_open = false;
            if (m_error.empty())
                m_error = *out.GetLastError() ? out.GetLastError() : "cannot decode image";
            CxImageAccess::SetError(img, m_error.c_str());
            return false;
        }
        m_delayMs = m_frames.DurationMs(m_next++);
        return CxImageAccess::Adopt(img, std::move(out), CXIMAGE_FORMAT_JXL, m_autoOrient);
    }

    int GetNumFrames() const override { return m_frames.NumFrames(); }

private:
    std::string m_bytes;
    cxcodec::JxlFrameWalker m_frames;
    std::string m_error;
    bool m_open = false;
    int m_next = 0;
};

// Fails every Next with the reason the file could not be opened.
class CxUnreadableFrames : public CxFrameReader {
public:
    explicit CxUnreadableFrames(std::string why) : m_why(std::move(why)) {}
    bool Next(CxImage &img) override
    {
        img.Destroy();
        CxImageAccess::SetError(img, m_why.c_str());
        return false;
    }
    int GetNumFrames() const override { return 0; }

private:
    std::string m_why;
};

} // namespace

std::unique_ptr<CxFrameReader> OpenFrameReader(const char *filename, bool autoOrient)
{
    // The same checks and words as Load.
    CxIOFile file;
    if (!filename || !file.Open(filename, "rb"))
        return std::make_unique<CxUnreadableFrames>("cannot open file");
    std::string bytes;
    if (!file.ReadAll(bytes, kMaxFileBytes))
        return std::make_unique<CxUnreadableFrames>("cannot read file");
    file.Close();
    const ImageFormat *format = FormatByType(
        CxImage::DetectFormat(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size()));
    switch (format ? format->facts.frames : FrameCodec::None) {
    case FrameCodec::GifComposer:
        return std::make_unique<CxGifFrameReader>(std::move(bytes));
    case FrameCodec::WebpFrames:
        return std::make_unique<CxWebpFrameReader>(std::move(bytes), autoOrient);
    case FrameCodec::JxlWalker:
        return std::make_unique<CxJxlFrameReader>(std::move(bytes), autoOrient);
    case FrameCodec::None:
        break;
    }
    return std::make_unique<CxUnreadableFrames>("unknown file format");
}

bool IsAnimationType(std::uint32_t type)
{
    const ImageFormat *format = FormatByType(type);
    return format && format->WalksFrames();
}

bool IsAnimationOutputType(std::uint32_t type)
{
    const ImageFormat *format = FormatByType(type);
    return format && format->Writable() && format->Has(FORMAT_ANIMATION);
}

int WebpLoopCount(int gifLoops)
{
    if (gifLoops == 0)
        return 0;
    return gifLoops < 0 ? 1 : std::min(gifLoops + 1, 65535);
}

int GifLoops(int webpLoopCount)
{
    if (webpLoopCount <= 0)
        return 0;
    return webpLoopCount == 1 ? -1 : webpLoopCount - 1;
}

bool WriteWebpAnimation(CxFile &file, const CxImage *const *frames, const int *delaysMs, int count, int loops,
                        std::uint32_t background, std::string *why)
{
    CxMemFile mem;
    if (!mem.Open() || count <= 0 ||
        !cxcodec::EncodeWebpAnimation(frames, delaysMs, count, WebpLoopCount(loops), background, mem, why) ||
        mem.Error())
        return false;
    const std::uint8_t *data = mem.GetBuffer(false);
    std::size_t size = std::size_t(mem.Size());
    const CxImage &first = *frames[0];
    CxMetadata meta = first.GetMetadata();
    // A profile the pixels no longer match is left out (see EncodeWithMetadata).
    if (!meta.icc.empty() && !cxcolour::DescribesDecodedPixels(meta.icc))
        meta.icc.clear();
    std::string withMeta;
    if (!meta.Empty() && cxmeta::Embed(data, size, meta, first.GetWidth(), first.GetHeight(),
                                       first.GetOrientation(), withMeta, first.GetEncoderSettings().m_nDpi)) {
        data = reinterpret_cast<const std::uint8_t *>(withMeta.data());
        size = withMeta.size();
    }
    if (file.Write(data, 1, size) != size || !file.Flush() || file.Error()) {
        if (why)
            *why = "cannot write image";
        return false;
    }
    return true;
}
