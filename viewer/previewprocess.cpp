#include "previewprocess.h"

#include "cximagegif.h"
#include "pipeline.h"

#include <algorithm>
#include <cctype>
#include <memory>

namespace {

bool RotatePreview(CxImage &img, std::int32_t type)
{
    switch (type) {
    case ROTATE_LEFT:
        return img.RotateLeft();
    case ROTATE_RIGHT:
        return img.RotateRight();
    case ROTATE_180:
        return img.Rotate180();
    default:
        return true;
    }
}

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

} // namespace

bool ApplyPreviewSteps(CxImage &img, const CConvertJob &settings, bool stopAtFailure)
{
    bool ok = true;
    if (settings.m_bRotate && !RotatePreview(img, settings.m_nrotateType))
        ok = false;
    if (settings.m_bResize && (ok || !stopAtFailure)) {
        const ResizeTarget t = ComputeResize(img.GetWidth(), img.GetHeight(), settings.m_nResizeType,
                                             settings.m_nWidth, settings.m_nHeight);
        // The resampler refuses sizes it cannot hold; never let a 64-bit size
        // wrap into a plausible one on the way to long.
        const bool representable = t.width > 0 && t.height > 0 && t.width <= CxImage::kMaxDimension &&
                                   t.height <= CxImage::kMaxDimension;
        if (!representable || !img.Resample(long(t.width), long(t.height), 0))
            ok = false;
    }
    if (settings.m_bStamp && !settings.m_szStampText.empty() && (ok || !stopAtFailure))
        DrawStamp(img, settings);
    return ok;
}

bool PreviewKeepsAnimation(bool preview, const std::string &format)
{
    if (!preview)
        return true;
    const std::string f = Lower(format);
    return f.empty() || f == "gif";
}

bool BuildAnimatedPreview(const std::string &path, int frameCount, const CConvertJob &settings,
                          std::vector<std::uint8_t> &bytes)
{
    bytes.clear();
    const int n = std::clamp(frameCount, 0, kMaxPreviewFrames);
    if (n == 0)
        return false;

    std::vector<std::unique_ptr<CxImage>> frames;
    frames.reserve(std::size_t(n));
    bool failed = false;
    bool localColorTables = false;
    int firstBpp = 0;
    for (int k = 0; k < n; ++k) {
        auto frame = std::make_unique<CxImage>();
        frame->SetFrame(k);
        if (!frame->Load(path.c_str(), CXIMAGE_FORMAT_GIF))
            return false;
        const int delay = frame->GetFrameDelay();
        RGBQUAD trans = frame->GetTransColor();
        if (k == 0)
            firstBpp = frame->GetBpp();
        else if (frame->GetBpp() != firstBpp)
            localColorTables = true;
        // Once any frame failed, no further step runs on any frame.
        if (!failed && !ApplyPreviewSteps(*frame, settings, true))
            failed = true;
        frame->SetFrameDelay(delay);
        trans.rgbReserved = 0;
        frame->SetTransColor(trans);
        frames.push_back(std::move(frame));
    }
    if (failed)
        return false;

    CxImageGIF gif;
    std::string comment;
    int loops = 0, disposal = 0;
    {
        CxImageGIF source;
        CxIOFile in;
        if (in.Open(path.c_str(), "rb") && source.Decode(&in)) {
            comment = source.GetComment();
            loops = source.GetLoops();
            disposal = source.GetDisposalMethod();
        }
    }
    gif.SetComment(comment.c_str());
    gif.SetLoops(loops);
    gif.SetDisposalMethod(disposal);

    std::vector<CxImage *> pointers;
    pointers.reserve(frames.size());
    for (auto &f : frames)
        pointers.push_back(f.get());
    CxMemFile mem;
    if (!mem.Open() || !gif.Encode(&mem, pointers.data(), int(pointers.size()), localColorTables))
        return false;
    const std::int64_t size = mem.Size();
    std::uint8_t *data = mem.GetBuffer(true);
    if (!data || size <= 0) {
        CxMemFile::FreeBuffer(data);
        return false;
    }
    bytes.assign(data, data + size);
    CxMemFile::FreeBuffer(data);
    return true;
}
