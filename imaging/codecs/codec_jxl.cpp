// JPEG XL reading and writing through libjxl. libjxl 0.7 sets no limits of
// its own: the declared size is checked against ours before any pixel is
// allocated, and what the decoder asks of its memory manager is capped.
// libjxl 0.7 asks its manager only for the decoder's own state and takes
// its working memory (a few bytes a pixel on photos, decoding group by
// group) from malloc, so the size check is what bounds that. It cannot
// decode at a reduced scale cheaply, so size hints are ignored and
// pictures decode at full size.
#include "imaging/codecs/codecs.h"
#include "imaging/cxmetadata.h"
#include "imaging/testhooks.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include <jxl/decode.h>
#include <jxl/encode.h>

namespace {

std::atomic<std::size_t> g_capOverride{0};
std::atomic<std::size_t> g_lastPeak{0};

// Besides what the picture's size explains: headers, tables, boxes.
constexpr std::size_t kMemoryMargin = std::size_t(64) << 20;
// Metadata boxes and profiles larger than this are left out.
constexpr std::size_t kMaxBlock = std::size_t(16) << 20;

bool Refuse(CxImage &out, const std::string &why)
{
    out.Destroy();
    CxImageAccess::SetError(out, why.c_str());
    return false;
}

// Colour and extra channels (alpha, depth, spot colours and the like),
// each a plane of its own in the decoder.
std::uint64_t Channels(const JxlBasicInfo &info)
{
    return std::uint64_t(info.num_color_channels) + info.num_extra_channels;
}

// Our picture limits, and no more channels than the largest picture with
// alpha has.
bool FitsLimits(const JxlBasicInfo &info)
{
    const std::uint64_t w = info.xsize, h = info.ysize;
    return w > 0 && h > 0 && w <= std::uint64_t(CxImage::kMaxDimension) &&
           h <= std::uint64_t(CxImage::kMaxDimension) && w * h <= std::uint64_t(CxImage::kMaxPixels) &&
           w * h * Channels(info) <= std::uint64_t(CxImage::kMaxPixels) * 4;
}

// The decoder's allocations, counted against a cap; each block's size is
// kept in front of it so frees are counted too. One decoder runs on one
// thread, so no lock.
struct MemoryCap {
    static constexpr std::size_t kHeader = 16; // keeps blocks 16-byte aligned
    std::size_t cap = g_capOverride.load() ? g_capOverride.load() : kMemoryMargin;
    std::size_t used = 0;
    std::size_t peak = 0;
    bool refused = false;

    static void *Alloc(void *opaque, std::size_t size)
    {
        auto *m = static_cast<MemoryCap *>(opaque);
        if (size > m->cap - std::min(m->cap, m->used)) {
            m->refused = true;
            return nullptr;
        }
        void *p = std::malloc(size + kHeader);
        if (!p)
            return nullptr;
        *static_cast<std::size_t *>(p) = size;
        m->used += size;
        m->peak = std::max(m->peak, m->used);
        return static_cast<char *>(p) + kHeader;
    }
    static void Free(void *opaque, void *address)
    {
        if (!address)
            return;
        auto *m = static_cast<MemoryCap *>(opaque);
        char *base = static_cast<char *>(address) - kHeader;
        m->used -= *reinterpret_cast<std::size_t *>(base);
        std::free(base);
    }
    // What a picture of this size may take: two float planes a channel,
    // far more than decoding group by group needs, plus the margin.
    void SetFor(const JxlBasicInfo &info)
    {
        const std::size_t over = g_capOverride.load();
        const std::size_t channels = std::size_t(Channels(info));
        cap = over ? over : kMemoryMargin + std::size_t(info.xsize) * info.ysize * channels * 4 * 2;
    }
};

struct DecoderDeleter {
    void operator()(JxlDecoder *d) const { JxlDecoderDestroy(d); }
};
struct EncoderDeleter {
    void operator()(JxlEncoder *e) const { JxlEncoderDestroy(e); }
};

bool IsSrgb(const JxlColorEncoding &c)
{
    return (c.color_space == JXL_COLOR_SPACE_RGB || c.color_space == JXL_COLOR_SPACE_GRAY) &&
           c.white_point == JXL_WHITE_POINT_D65 &&
           (c.color_space == JXL_COLOR_SPACE_GRAY || c.primaries == JXL_PRIMARIES_SRGB) &&
           c.transfer_function == JXL_TRANSFER_FUNCTION_SRGB;
}

// Where decoded rows go: straight into the picture, R, G, B turned into
// B, G, R and alpha split off.
struct RowSink {
    CxImage *out;
    int channels;
    static void Write(void *opaque, std::size_t x, std::size_t y, std::size_t n, const void *pixels)
    {
        const auto *s = static_cast<const RowSink *>(opaque);
        const auto *p = static_cast<const std::uint8_t *>(pixels);
        if (y >= std::size_t(s->out->GetHeight()) || x + n > std::size_t(s->out->GetWidth()))
            return;
        BYTE *row = s->out->GetBits(int(y));
        if (s->channels == 1) {
            std::memcpy(row + x, p, n);
            return;
        }
        BYTE *bgr = row + x * 3;
        BYTE *alpha = s->channels == 4 ? s->out->AlphaGetPointer(int(y)) + x : nullptr;
        for (std::size_t i = 0; i < n; ++i, p += s->channels, bgr += 3) {
            bgr[0] = p[2];
            bgr[1] = p[1];
            bgr[2] = p[0];
            if (alpha)
                alpha[i] = p[3];
        }
    }
};

// One pass of libjxl's decoder over bytes held by the caller: headers
// checked, profile and metadata boxes kept, events handed out in order.
class Stream {
public:
    bool Open(const std::uint8_t *data, std::size_t size, int events, bool boxes, std::string &why)
    {
        const JxlMemoryManager manager{&m_mem, &MemoryCap::Alloc, &MemoryCap::Free};
        m_dec.reset(JxlDecoderCreate(&manager));
        if (!m_dec) {
            why = "out of memory";
            return false;
        }
        events |= JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | (boxes ? JXL_DEC_BOX : 0);
        // The orientation is applied once, by the caller, so that keeping
        // the stored pixels stays possible.
        if (JxlDecoderSubscribeEvents(m_dec.get(), events) != JXL_DEC_SUCCESS ||
            JxlDecoderSetKeepOrientation(m_dec.get(), JXL_TRUE) != JXL_DEC_SUCCESS ||
            JxlDecoderSetUnpremultiplyAlpha(m_dec.get(), JXL_TRUE) != JXL_DEC_SUCCESS ||
            JxlDecoderSetInput(m_dec.get(), data, size) != JXL_DEC_SUCCESS) {
            why = "cannot decode JPEG XL";
            return false;
        }
        // Without Brotli the compressed boxes are only skipped.
        if (boxes)
            JxlDecoderSetDecompressBoxes(m_dec.get(), JXL_TRUE);
        return true;
    }

    // Everything the caller wanted has come: running short of input now
    // is the end of the file, where the decoder waits for more boxes.
    void PixelsDone() { m_pixelsDone = true; }

    // Runs to the next frame event or the end: JXL_DEC_FRAME,
    // JXL_DEC_NEED_IMAGE_OUT_BUFFER, JXL_DEC_FULL_IMAGE or JXL_DEC_SUCCESS;
    // JXL_DEC_ERROR with why set.
    JxlDecoderStatus Next(std::string &why, const std::atomic<bool> *cancel = nullptr)
    {
        for (;;) {
            if (cancel && cancel->load()) {
                why = "cancelled";
                return JXL_DEC_ERROR;
            }
            const JxlDecoderStatus status = JxlDecoderProcessInput(m_dec.get());
            switch (status) {
            case JXL_DEC_BASIC_INFO:
                if (JxlDecoderGetBasicInfo(m_dec.get(), &m_info) != JXL_DEC_SUCCESS)
                    return Fail(why, "cannot decode JPEG XL");
                // Checked before the decoder allocates anything for the pixels.
                if (!FitsLimits(m_info))
                    return Fail(why, "image too large");
                m_mem.SetFor(m_info);
                m_haveInfo = true;
                break;
            case JXL_DEC_COLOR_ENCODING:
                if (!ReadProfile())
                    return Fail(why, m_mem.refused ? "out of memory" : "cannot decode JPEG XL");
                break;
            case JXL_DEC_BOX:
                EndBox();
                BeginBox();
                break;
            case JXL_DEC_BOX_NEED_MORE_OUTPUT:
                if (!GrowBox())
                    return Fail(why, "cannot decode JPEG XL");
                break;
            case JXL_DEC_SUCCESS:
                EndBox();
                return status;
            case JXL_DEC_FRAME:
            case JXL_DEC_NEED_IMAGE_OUT_BUFFER:
            case JXL_DEC_FULL_IMAGE:
                if (!m_haveInfo)
                    return Fail(why, "cannot decode JPEG XL");
                return status;
            case JXL_DEC_NEED_MORE_INPUT:
                // All the bytes are there from the start: before the
                // pixels, running short is a cut-off file, never a wait.
                if (!m_pixelsDone || m_closed)
                    return Fail(why, "truncated JPEG XL file");
                JxlDecoderCloseInput(m_dec.get());
                m_closed = true;
                break;
            default:
                return Fail(why, m_mem.refused ? "out of memory" : "cannot decode JPEG XL");
            }
        }
    }

    // Called at JXL_DEC_NEED_IMAGE_OUT_BUFFER: the picture the frame is
    // written into, stored as the file keeps it.
    bool SetOutput(CxImage &out, std::string &why)
    {
        const bool alpha = m_info.alpha_bits > 0;
        const bool grey = m_info.num_color_channels == 1 && !alpha;
        m_sink = RowSink{&out, grey ? 1 : alpha ? 4 : 3};
        if (!CxImageAccess::CreateForDecode(out, int(m_info.xsize), int(m_info.ysize), grey ? 8 : 24,
                                            CXIMAGE_FORMAT_JXL) ||
            (alpha && !out.AlphaCreate())) {
            why = "out of memory";
            return false;
        }
        const JxlPixelFormat format{std::uint32_t(m_sink.channels), JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
        if (JxlDecoderSetImageOutCallback(m_dec.get(), &format, &RowSink::Write, &m_sink) !=
            JXL_DEC_SUCCESS) {
            why = "cannot decode JPEG XL";
            return false;
        }
        return true;
    }

    JxlDecoder *Get() const { return m_dec.get(); }
    const JxlBasicInfo &Info() const { return m_info; }
    int Orientation() const { return int(m_info.orientation); }
    CxMetadata TakeMetadata() { return std::move(m_meta); }
    std::size_t PeakBytes() const { return m_mem.peak; }

private:
    JxlDecoderStatus Fail(std::string &why, const char *text)
    {
        why = text;
        return JXL_DEC_ERROR;
    }

    // Pixels come as sRGB where the decoder has the choice (lossy files);
    // otherwise they are in the file's own space, whose profile is kept.
    bool ReadProfile()
    {
        if (!m_info.uses_original_profile) {
            JxlColorEncoding srgb;
            JxlColorEncodingSetToSRGB(&srgb, m_info.num_color_channels == 1);
            if (JxlDecoderSetPreferredColorProfile(m_dec.get(), &srgb) != JXL_DEC_SUCCESS)
                return false;
        }
        JxlColorEncoding data;
        if (JxlDecoderGetColorAsEncodedProfile(m_dec.get(), nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &data) ==
                JXL_DEC_SUCCESS &&
            IsSrgb(data))
            return true;
        // Grey with alpha comes out as RGB, which a grey profile cannot
        // describe: shown as sRGB grey.
        if (m_info.num_color_channels == 1 && m_info.alpha_bits > 0)
            return true;
        std::size_t size = 0;
        if (JxlDecoderGetICCProfileSize(m_dec.get(), nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size) !=
                JXL_DEC_SUCCESS ||
            size == 0 || size > kMaxBlock)
            return true; // nothing usable to keep: shown as sRGB
        std::string icc(size, '\0');
        if (JxlDecoderGetColorAsICCProfile(m_dec.get(), nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                           reinterpret_cast<std::uint8_t *>(icc.data()),
                                           size) == JXL_DEC_SUCCESS)
            m_meta.icc = std::move(icc);
        return true;
    }

    void BeginBox()
    {
        JxlBoxType type;
        if (JxlDecoderGetBoxType(m_dec.get(), type, JXL_TRUE) != JXL_DEC_SUCCESS)
            return;
        const std::string name(type, 4);
        if ((name != "Exif" || !m_meta.exif.empty()) && (name != "xml " || !m_meta.xmp.empty()))
            return;
        m_boxName = name;
        m_box.assign(4096, '\0');
        m_boxFilled = 0;
        m_boxOpen = JxlDecoderSetBoxBuffer(m_dec.get(), reinterpret_cast<std::uint8_t *>(m_box.data()),
                                           m_box.size()) == JXL_DEC_SUCCESS;
    }

    bool GrowBox()
    {
        // Only a buffer of ours can run full.
        if (!m_boxOpen)
            return false;
        const std::size_t left = JxlDecoderReleaseBoxBuffer(m_dec.get());
        m_boxFilled = m_box.size() - left;
        if (m_box.size() >= kMaxBlock) {
            // Too large to keep: the rest of the box is skipped.
            m_boxOpen = false;
            m_boxName.clear();
            return true;
        }
        m_box.resize(std::min(m_box.size() * 2, kMaxBlock));
        return JxlDecoderSetBoxBuffer(m_dec.get(),
                                      reinterpret_cast<std::uint8_t *>(m_box.data()) + m_boxFilled,
                                      m_box.size() - m_boxFilled) == JXL_DEC_SUCCESS;
    }

    void EndBox()
    {
        if (!m_boxOpen)
            return;
        m_boxOpen = false;
        m_box.resize(m_box.size() - JxlDecoderReleaseBoxBuffer(m_dec.get()));
        if (m_boxName == "xml ") {
            m_meta.xmp = std::move(m_box);
        } else if (m_box.size() >= 4) {
            // A big-endian offset to the TIFF header comes first.
            const auto *b = reinterpret_cast<const std::uint8_t *>(m_box.data());
            const std::uint64_t offset =
                (std::uint64_t(b[0]) << 24) | (std::uint64_t(b[1]) << 16) | (std::uint64_t(b[2]) << 8) | b[3];
            if (offset < m_box.size() - 4)
                m_meta.exif = m_box.substr(4 + std::size_t(offset));
        }
        m_box.clear();
    }

    MemoryCap m_mem;
    std::unique_ptr<JxlDecoder, DecoderDeleter> m_dec;
    JxlBasicInfo m_info{};
    bool m_haveInfo = false;
    bool m_pixelsDone = false;
    bool m_closed = false;
    CxMetadata m_meta;
    std::string m_box, m_boxName;
    std::size_t m_boxFilled = 0;
    bool m_boxOpen = false;
    RowSink m_sink{nullptr, 0};
};

// Hundredths of a second and milliseconds of a frame lasting ticks.
double TicksToMs(const JxlBasicInfo &info, std::uint32_t ticks)
{
    if (!info.have_animation || info.animation.tps_numerator == 0)
        return 0;
    return double(ticks) * 1000.0 * info.animation.tps_denominator / info.animation.tps_numerator;
}

// Encoder effort, measured on 5-megapixel photos on one thread: lossy at 5
// takes about three quarters of the time of cjxl's default 7 for files of
// much the same size; lossless at 3 takes a fifth of the time of 5 for
// files a tenth larger.
constexpr int kLossyEffort = 5;
constexpr int kLosslessEffort = 3;

int ClampMs(double ms)
{
    return int(std::clamp(std::lround(ms), 0L, long(std::numeric_limits<int>::max())));
}

} // namespace

namespace cxcodec {

bool DecodeJxl(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req)
{
    Stream s;
    std::string why;
    if (!s.Open(data, size, JXL_DEC_FULL_IMAGE, true, why))
        return Refuse(out, why);
    bool done = false;
    for (;;) {
        const JxlDecoderStatus status = s.Next(why, req.cancel);
        // Once the picture is whole, a damaged or cut-off tail costs only
        // the metadata boxes it held.
        if (status == JXL_DEC_ERROR && (!done || why == "cancelled")) {
            g_lastPeak = s.PeakBytes();
            return Refuse(out, why);
        }
        if (status == JXL_DEC_SUCCESS || status == JXL_DEC_ERROR)
            break;
        if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER && !s.SetOutput(out, why))
            return Refuse(out, why);
        if (status == JXL_DEC_FULL_IMAGE && !done) {
            done = true;
            s.PixelsDone();
            // An animation's later frames are skipped; boxes after them
            // still come.
            if (s.Info().have_animation)
                JxlDecoderSkipFrames(s.Get(), std::numeric_limits<std::uint32_t>::max());
        }
    }
    g_lastPeak = s.PeakBytes();
    if (!done)
        return Refuse(out, "cannot decode JPEG XL");
    CxMetadata meta = s.TakeMetadata();
    if (!meta.Empty())
        CxImageAccess::SetMetadata(out, std::move(meta));
    CxImageAccess::SetOrientation(out, s.Orientation());
    CxImageAccess::SetSourceSize(out, int(s.Info().xsize), int(s.Info().ysize));
    // An animation says how many frames it has, from their headers alone.
    if (s.Info().have_animation) {
        JxlFrameWalker frames;
        if (frames.Open(data, size, why) && frames.NumFrames() > 1)
            CxImageAccess::SetFrameInfo(out, frames.NumFrames(), (frames.DurationMs(0) + 5) / 10, 0);
    }
    return true;
}

struct JxlFrameWalker::State {
    const std::uint8_t *data = nullptr;
    std::size_t size = 0;
    JxlBasicInfo info{};
    std::vector<int> durations; // ms
    Stream stream;
    bool started = false;
    bool failed = false;
    int next = 0;
};

JxlFrameWalker::JxlFrameWalker() : m(std::make_unique<State>()) {}
JxlFrameWalker::~JxlFrameWalker() = default;

bool JxlFrameWalker::Open(const std::uint8_t *data, std::size_t size, std::string &error)
{
    m = std::make_unique<State>();
    m->data = data;
    m->size = size;
    // Frame headers only: the pixels are not decoded for counting.
    Stream count;
    if (!count.Open(data, size, JXL_DEC_FRAME, false, error))
        return false;
    for (;;) {
        const JxlDecoderStatus status = count.Next(error);
        if (status == JXL_DEC_ERROR)
            return false;
        if (status == JXL_DEC_SUCCESS)
            break;
        if (status == JXL_DEC_FRAME) {
            JxlFrameHeader header;
            if (JxlDecoderGetFrameHeader(count.Get(), &header) != JXL_DEC_SUCCESS) {
                error = "cannot decode JPEG XL";
                return false;
            }
            m->durations.push_back(ClampMs(TicksToMs(count.Info(), header.duration)));
            if (header.is_last)
                count.PixelsDone();
        }
    }
    if (m->durations.empty()) {
        error = "cannot decode JPEG XL";
        return false;
    }
    m->info = count.Info();
    return true;
}

int JxlFrameWalker::NumFrames() const
{
    return int(m->durations.size());
}

int JxlFrameWalker::DurationMs(int frame) const
{
    return frame >= 0 && frame < NumFrames() ? m->durations[std::size_t(frame)] : 0;
}

int JxlFrameWalker::Loops() const
{
    return m->info.have_animation ? int(std::min<std::uint32_t>(m->info.animation.num_loops, 0x7FFFFFFF)) : 0;
}

bool JxlFrameWalker::Read(int frame, CxImage &out)
{
    std::string why;
    if (m->failed || frame < m->next || frame >= NumFrames()) {
        m->failed = true;
        return Refuse(out, "no such frame");
    }
    if (!m->started) {
        m->started = true;
        if (!m->stream.Open(m->data, m->size, JXL_DEC_FULL_IMAGE, false, why)) {
            m->failed = true;
            return Refuse(out, why);
        }
    }
    if (frame > m->next)
        JxlDecoderSkipFrames(m->stream.Get(), std::size_t(frame - m->next));
    for (;;) {
        const JxlDecoderStatus status = m->stream.Next(why);
        if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER && m->stream.SetOutput(out, why))
            continue;
        if (status == JXL_DEC_FULL_IMAGE)
            break;
        m->failed = true;
        return Refuse(out, why.empty() ? "cannot decode JPEG XL" : why);
    }
    m->next = frame + 1;
    const int ms = DurationMs(frame);
    CxImageAccess::SetFrameInfo(out, NumFrames(), (ms + 5) / 10, 0);
    CxImageAccess::SetOrientation(out, m->stream.Orientation());
    CxImageAccess::SetSourceSize(out, int(m->info.xsize), int(m->info.ysize));
    return true;
}

// cjxl's mapping of a JPEG quality to a butteraugli distance: 90 gives 1,
// 30 gives 6.4, and below 30 a parabola reaches 25 at 0.
float JxlDistanceForQuality(int quality)
{
    if (quality >= 100)
        return 0;
    if (quality >= 30)
        return 0.1f + float(100 - quality) * 0.09f;
    const double q = std::max(quality, 0);
    return float(53.0 / 3000.0 * q * q - 23.0 / 20.0 * q + 25.0);
}

namespace {

// What the encoder is told of the picture: its size, channels, orientation
// and colours (a profile libjxl refuses leaves the pixels described as
// sRGB). False when libjxl takes none of it.
bool DescribePicture(JxlEncoder *enc, const CxImage &img, bool grey, bool alpha, bool lossless, bool boxes)
{
    JxlBasicInfo info;
    JxlEncoderInitBasicInfo(&info);
    info.xsize = std::uint32_t(img.GetWidth());
    info.ysize = std::uint32_t(img.GetHeight());
    info.bits_per_sample = 8;
    info.num_color_channels = grey ? 1 : 3;
    info.alpha_bits = alpha ? 8 : 0;
    info.num_extra_channels = alpha ? 1 : 0;
    // Lossless keeps the samples as given; lossy goes through XYB.
    info.uses_original_profile = lossless ? JXL_TRUE : JXL_FALSE;
    info.orientation = JxlOrientation(img.GetOrientation());
    if ((boxes && JxlEncoderUseBoxes(enc) != JXL_ENC_SUCCESS) ||
        JxlEncoderSetBasicInfo(enc, &info) != JXL_ENC_SUCCESS)
        return false;
    const std::string &icc = img.GetMetadata().icc;
    if (!icc.empty() && JxlEncoderSetICCProfile(enc, reinterpret_cast<const std::uint8_t *>(icc.data()),
                                                icc.size()) == JXL_ENC_SUCCESS)
        return true;
    JxlColorEncoding srgb;
    JxlColorEncodingSetToSRGB(&srgb, grey ? JXL_TRUE : JXL_FALSE);
    return JxlEncoderSetColorEncoding(enc, &srgb) == JXL_ENC_SUCCESS;
}

// The frame's effort and distance (or losslessness); null when refused.
// effort 0 takes the one chosen by losslessness.
JxlEncoderFrameSettings *MakeFrameSettings(JxlEncoder *enc, int quality, int effort)
{
    const bool lossless = quality >= 100;
    if (effort <= 0)
        effort = lossless ? kLosslessEffort : kLossyEffort;
    JxlEncoderFrameSettings *settings = JxlEncoderFrameSettingsCreate(enc, nullptr);
    if (!settings ||
        JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_EFFORT, std::min(effort, 9)) !=
            JXL_ENC_SUCCESS ||
        (lossless ? JxlEncoderSetFrameLossless(settings, JXL_TRUE)
                  : JxlEncoderSetFrameDistance(settings, JxlDistanceForQuality(quality))) != JXL_ENC_SUCCESS)
        return nullptr;
    return settings;
}

// The EXIF and XMP boxes; the EXIF box starts with the offset of its TIFF
// header: 0.
bool AddMetadataBoxes(JxlEncoder *enc, const CxMetadata &meta)
{
    const std::string exif = meta.exif.empty() ? std::string() : std::string(4, '\0') + meta.exif;
    const bool added =
        (exif.empty() || JxlEncoderAddBox(enc, "Exif", reinterpret_cast<const std::uint8_t *>(exif.data()),
                                          exif.size(), JXL_FALSE) == JXL_ENC_SUCCESS) &&
        (meta.xmp.empty() ||
         JxlEncoderAddBox(enc, "xml ", reinterpret_cast<const std::uint8_t *>(meta.xmp.data()), meta.xmp.size(),
                          JXL_FALSE) == JXL_ENC_SUCCESS);
    if (added)
        JxlEncoderCloseBoxes(enc);
    return added;
}

// Every row as grey, RGB or RGBA samples. Throws bad_alloc.
void PackPixels(const CxImage &img, int channels, std::vector<std::uint8_t> &pixels)
{
    const int w = img.GetWidth(), h = img.GetHeight();
    std::vector<std::uint8_t> bgr;
    pixels.resize(std::size_t(w) * std::size_t(h) * std::size_t(channels));
    if (channels != 4)
        bgr.resize(std::size_t(w) * 3);
    for (int y = 0; y < h; ++y) {
        std::uint8_t *row = pixels.data() + std::size_t(y) * std::size_t(w) * std::size_t(channels);
        if (channels == 4) {
            RowToRGBA(img, y, row);
            continue;
        }
        RowToBGR(img, y, bgr.data(), false);
        for (int x = 0; x < w; ++x) {
            const std::uint8_t *p = bgr.data() + std::size_t(x) * 3;
            if (channels == 1) {
                row[x] = p[0];
            } else {
                row[x * 3] = p[2];
                row[x * 3 + 1] = p[1];
                row[x * 3 + 2] = p[0];
            }
        }
    }
}

const char *EncoderError(JxlEncoder *enc)
{
    return JxlEncoderGetError(enc) == JXL_ENC_ERR_OOM ? "out of memory" : "cannot encode JPEG XL";
}

// The encoded file into out (its first used bytes); false with error set.
bool ProcessOutput(JxlEncoder *enc, std::vector<std::uint8_t> &out, std::size_t &used, std::string &error)
{
    out.resize(std::size_t(1) << 16);
    used = 0;
    for (;;) {
        std::uint8_t *next = out.data() + used;
        std::size_t avail = out.size() - used;
        const JxlEncoderStatus status = JxlEncoderProcessOutput(enc, &next, &avail);
        used = std::size_t(next - out.data());
        if (status == JXL_ENC_SUCCESS)
            return true;
        if (status != JXL_ENC_NEED_MORE_OUTPUT) {
            error = EncoderError(enc);
            return false;
        }
        try {
            out.resize(out.size() * 2);
        } catch (const std::bad_alloc &) {
            error = "out of memory";
            return false;
        }
    }
}

} // namespace

bool EncodeJxl(const CxImage &img, CxFile &file, std::string *why)
{
    std::string ignored;
    std::string &error = why ? *why : ignored;
    if (!img.IsValid())
        return false;
    const bool alpha = img.AlphaIsValid() || (img.GetNumColors() != 0 && img.GetTransIndex() >= 0);
    const bool grey = !alpha && img.GetNumColors() != 0 && img.IsGrayScale();
    const int channels = grey ? 1 : alpha ? 4 : 3;
    const int quality = img.GetJpegQuality();
    const CxMetadata &meta = img.GetMetadata();

    std::unique_ptr<JxlEncoder, EncoderDeleter> enc(JxlEncoderCreate(nullptr));
    if (!enc) {
        error = "out of memory";
        return false;
    }
    const bool boxes = !meta.exif.empty() || !meta.xmp.empty();
    JxlEncoderFrameSettings *settings = nullptr;
    if (!DescribePicture(enc.get(), img, grey, alpha, quality >= 100, boxes) ||
        !(settings = MakeFrameSettings(enc.get(), quality, img.GetEncoderSettings().m_nJxlEffort)) ||
        (boxes && !AddMetadataBoxes(enc.get(), meta))) {
        error = "cannot encode JPEG XL";
        return false;
    }
    std::vector<std::uint8_t> pixels;
    try {
        PackPixels(img, channels, pixels);
    } catch (const std::bad_alloc &) {
        error = "out of memory";
        return false;
    }
    const JxlPixelFormat format{std::uint32_t(channels), JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    if (JxlEncoderAddImageFrame(settings, &format, pixels.data(), pixels.size()) != JXL_ENC_SUCCESS) {
        error = EncoderError(enc.get());
        return false;
    }
    JxlEncoderCloseInput(enc.get());
    std::vector<std::uint8_t>().swap(pixels);

    std::vector<std::uint8_t> out;
    std::size_t used = 0;
    return ProcessOutput(enc.get(), out, used, error) && file.Write(out.data(), 1, used) == used;
}

} // namespace cxcodec

std::size_t cxcodec::testhooks::JxlDecodePeakBytes()
{
    return g_lastPeak.load();
}

void cxcodec::testhooks::SetJxlMemoryCap(std::size_t bytes)
{
    g_capOverride = bytes;
}
