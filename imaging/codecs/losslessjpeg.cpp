#include "imaging/losslessjpeg.h"

#include "imaging/codecs/codecs.h"
#include "imaging/codecs/jpegcoefficients.h"
#include "imaging/testhooks.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <jxl/decode.h>
#include <jxl/encode.h>
#include <turbojpeg.h>

namespace cxlossless {

namespace {

std::atomic<bool> g_turnOnDisk{false};

// Each turn as the matrix taking a stored pixel's place (x, y), measured
// from the centre with y down, to its upright place.
struct Turn {
    int a, b, c, d; // x' = a x + b y, y' = c x + d y
};
constexpr std::array<Turn, 8> kTurns = {{
    {1, 0, 0, 1},   // 1
    {-1, 0, 0, 1},  // 2 mirror
    {-1, 0, 0, -1}, // 3 180
    {1, 0, 0, -1},  // 4 flip
    {0, 1, 1, 0},   // 5 transpose
    {0, -1, 1, 0},  // 6 90 clockwise
    {0, -1, -1, 0}, // 7 transverse
    {0, 1, -1, 0},  // 8 90 anticlockwise
}};

constexpr std::array<int, 8> kTjOps = {TJXOP_NONE,      TJXOP_HFLIP, TJXOP_ROT180,     TJXOP_VFLIP,
                                       TJXOP_TRANSPOSE, TJXOP_ROT90, TJXOP_TRANSVERSE, TJXOP_ROT270};

bool Valid(int turn)
{
    return turn >= 1 && turn <= 8;
}

struct TjDeleter {
    void operator()(void *handle) const { tjDestroy(handle); }
};
using TjHandle = std::unique_ptr<void, TjDeleter>;

struct TjBufferDeleter {
    void operator()(unsigned char *p) const { tjFree(p); }
};

} // namespace

int ComposeTurns(int first, int then)
{
    if (!Valid(first) || !Valid(then))
        return 1;
    const Turn &f = kTurns[std::size_t(first - 1)], &t = kTurns[std::size_t(then - 1)];
    const Turn m{t.a * f.a + t.b * f.c, t.a * f.b + t.b * f.d, t.c * f.a + t.d * f.c, t.c * f.b + t.d * f.d};
    for (std::size_t i = 0; i < kTurns.size(); ++i)
        if (kTurns[i].a == m.a && kTurns[i].b == m.b && kTurns[i].c == m.c && kTurns[i].d == m.d)
            return int(i) + 1;
    return 1;
}

bool ReadJpegLayout(const std::uint8_t *data, std::size_t size, JpegLayout &layout)
{
    TjHandle tj(tjInitTransform());
    int width = 0, height = 0, subsamp = -1, colourspace = 0;
    if (!tj || !data || size == 0 || size > ULONG_MAX ||
        tjDecompressHeader3(tj.get(), data, static_cast<unsigned long>(size), &width, &height, &subsamp,
                            &colourspace) != 0 ||
        subsamp < 0 || subsamp >= TJ_NUMSAMP)
        return false;
    layout = {width, height, tjMCUWidth[subsamp], tjMCUHeight[subsamp]};
    return true;
}

bool TurnsWhole(const JpegLayout &layout, int turn)
{
    const bool wholeRight = layout.width % layout.mcuWidth == 0;
    const bool wholeBottom = layout.height % layout.mcuHeight == 0;
    switch (turn) {
    case 2: // mirror and 90 anticlockwise move the right edge
    case 8:
        return wholeRight;
    case 4: // flip and 90 clockwise move the bottom edge
    case 6:
        return wholeBottom;
    case 3:
    case 7:
        return wholeRight && wholeBottom;
    default:
        return true;
    }
}

bool TurnJpeg(const std::uint8_t *data, std::size_t size, int turn, bool trim, std::string &out, int &width,
              int &height, std::string &reason, const std::string &scratchFolder)
{
    // A picture too large to hold keeps its coefficients on disk.
    JpegLayout layout;
    if (g_turnOnDisk.load(std::memory_order_relaxed) ||
        (ReadJpegLayout(data, size, layout) && !cxcodec::FitsPixelLimits(layout.width, layout.height)))
        return cxjpeg::TurnOnDisk(data, size, turn, trim, scratchFolder, out, width, height, reason);
    TjHandle tj(tjInitTransform());
    if (!tj || !Valid(turn) || !data || size == 0 || size > ULONG_MAX) {
        reason = "cannot turn the JPEG";
        return false;
    }
    tjtransform xf{};
    xf.op = kTjOps[std::size_t(turn - 1)];
    xf.options = TJXOPT_COPYNONE | (trim ? TJXOPT_TRIM : TJXOPT_PERFECT);
    unsigned char *turned = nullptr;
    unsigned long turnedSize = 0;
    const int failed =
        tjTransform(tj.get(), data, static_cast<unsigned long>(size), 1, &turned, &turnedSize, &xf, 0);
    std::unique_ptr<unsigned char, TjBufferDeleter> holder(turned);
    int subsamp = 0, colourspace = 0;
    if (failed || !turned ||
        tjDecompressHeader3(tj.get(), turned, turnedSize, &width, &height, &subsamp, &colourspace) != 0) {
        reason = tjGetErrorStr2(tj.get());
        return false;
    }
    try {
        out.assign(reinterpret_cast<const char *>(turned), turnedSize);
    } catch (const std::bad_alloc &) {
        reason = "out of memory";
        return false;
    }
    return true;
}

bool ReadJpegMetadata(const std::uint8_t *data, std::size_t size, CxMetadata &meta)
{
    return cxcodec::ReadJpegMetadata(data, size, meta);
}

namespace {

struct JxlEncoderDeleter {
    void operator()(JxlEncoder *enc) const { JxlEncoderDestroy(enc); }
};
struct JxlDecoderDeleter {
    void operator()(JxlDecoder *dec) const { JxlDecoderDestroy(dec); }
};

// Files larger than this are not believed of a JPEG given back.
constexpr std::size_t kMaxJpegBytes = std::size_t(1) << 30;

bool GrowFor(std::string &out, std::size_t used)
{
    if (out.size() >= kMaxJpegBytes)
        return false;
    try {
        out.resize(std::max<std::size_t>(out.size() * 2, used + (std::size_t(1) << 16)));
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

// Whether a colour profile segment comes after the frame header, which
// libjxl cannot put back where it was.
bool ProfileAfterFrame(const std::uint8_t *data, std::size_t size)
{
    static const char kIcc[] = "ICC_PROFILE";
    bool frame = false;
    for (std::size_t i = 2; i + 4 <= size && data[i] == 0xFF;) {
        const std::uint8_t marker = data[i + 1];
        const std::size_t length = std::size_t(data[i + 2]) << 8 | data[i + 3];
        if (marker == 0xDA || length < 2)
            break;
        frame = frame || (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC);
        if (frame && marker == 0xE2 && i + 4 + sizeof kIcc <= size &&
            std::memcmp(data + i + 4, kIcc, sizeof kIcc) == 0)
            return true;
        i += 2 + length;
    }
    return false;
}

// libjxl refuses what it cannot carry, telling standard error why: CMYK,
// a profile after the frame header, and data libjpeg reads only with
// warnings (cut off, damaged), which are looked for here first.
bool Carriable(const std::uint8_t *data, std::size_t size)
{
    if (ProfileAfterFrame(data, size))
        return false;
    TjHandle tj(tjInitTransform());
    int width = 0, height = 0, subsamp = -1, colourspace = 0;
    if (!tj || !data || size == 0 || size > ULONG_MAX ||
        tjDecompressHeader3(tj.get(), data, static_cast<unsigned long>(size), &width, &height, &subsamp,
                            &colourspace) != 0 ||
        colourspace == TJCS_CMYK || colourspace == TJCS_YCCK)
        return false;
    tjtransform xf{};
    xf.options = TJXOPT_NOOUTPUT;
    unsigned char *none = nullptr;
    unsigned long noneSize = 0;
    const int failed = tjTransform(tj.get(), data, static_cast<unsigned long>(size), 1, &none, &noneSize, &xf,
                                   TJFLAG_STOPONWARNING);
    std::unique_ptr<unsigned char, TjBufferDeleter> holder(none);
    return failed == 0;
}

} // namespace

bool JpegToJxl(const std::uint8_t *data, std::size_t size, std::string &out, std::string &reason)
{
    std::unique_ptr<JxlEncoder, JxlEncoderDeleter> enc(JxlEncoderCreate(nullptr));
    JxlEncoderFrameSettings *settings = enc ? JxlEncoderFrameSettingsCreate(enc.get(), nullptr) : nullptr;
    reason = "cannot encode JPEG XL";
    if (!settings || !Carriable(data, size) || JxlEncoderStoreJPEGMetadata(enc.get(), JXL_TRUE) != JXL_ENC_SUCCESS ||
        JxlEncoderAddJPEGFrame(settings, data, size) != JXL_ENC_SUCCESS)
        return false;
    JxlEncoderCloseInput(enc.get());
    out.clear();
    std::size_t used = 0;
    for (;;) {
        if (used == out.size() && !GrowFor(out, used))
            return false;
        auto *next = reinterpret_cast<std::uint8_t *>(out.data()) + used;
        std::size_t avail = out.size() - used;
        const JxlEncoderStatus status = JxlEncoderProcessOutput(enc.get(), &next, &avail);
        used = std::size_t(next - reinterpret_cast<std::uint8_t *>(out.data()));
        if (status == JXL_ENC_SUCCESS)
            break;
        if (status != JXL_ENC_NEED_MORE_OUTPUT)
            return false;
    }
    out.resize(used);
    // Only a file that gives the very JPEG back is one.
    std::string back;
    if (!JxlToJpeg(reinterpret_cast<const std::uint8_t *>(out.data()), out.size(), back) ||
        back.size() != size || std::memcmp(back.data(), data, size) != 0)
        return false;
    reason.clear();
    return true;
}

bool JxlToJpeg(const std::uint8_t *data, std::size_t size, std::string &out)
{
    std::unique_ptr<JxlDecoder, JxlDecoderDeleter> dec(JxlDecoderCreate(nullptr));
    if (!dec ||
        JxlDecoderSubscribeEvents(dec.get(), JXL_DEC_JPEG_RECONSTRUCTION | JXL_DEC_FULL_IMAGE) !=
            JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(dec.get(), data, size) != JXL_DEC_SUCCESS)
        return false;
    JxlDecoderCloseInput(dec.get());
    out.clear();
    bool reconstructing = false;
    std::size_t used = 0;
    for (;;) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(dec.get());
        if (status == JXL_DEC_JPEG_RECONSTRUCTION || status == JXL_DEC_JPEG_NEED_MORE_OUTPUT) {
            if (status == JXL_DEC_JPEG_NEED_MORE_OUTPUT)
                used = out.size() - JxlDecoderReleaseJPEGBuffer(dec.get());
            if (!GrowFor(out, used) ||
                JxlDecoderSetJPEGBuffer(dec.get(), reinterpret_cast<std::uint8_t *>(out.data()) + used,
                                        out.size() - used) != JXL_DEC_SUCCESS)
                return false;
            reconstructing = true;
        } else if (status == JXL_DEC_FULL_IMAGE && reconstructing) {
            used = out.size() - JxlDecoderReleaseJPEGBuffer(dec.get());
            out.resize(used);
            return true;
        } else {
            // Pixels were asked for (the file holds no JPEG), or it is damaged.
            return false;
        }
    }
}

} // namespace cxlossless

void cxcodec::testhooks::SetJpegTurnsOnDisk(bool always)
{
    cxlossless::g_turnOnDisk.store(always);
}
