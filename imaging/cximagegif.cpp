// CxImageGIF: the file-level facts of a GIF (comment, loop count) and the
// writer of GIF89a animations through giflib.
#include "imaging/cximagegif.h"

#include "imaging/codecs/codecs.h"

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr std::size_t kMaxFileBytes = std::size_t(1) << 31;
constexpr std::size_t kMaxCommentBytes = 4096;
constexpr int kMaxGifSide = 65535;  // sizes are 16-bit words in the file

// --- Output stream ---------------------------------------------------------

struct Output {
    CxFile *file = nullptr;
    bool failed = false;
};

// giflib ignores the result of many of its writes, so a failure is also
// remembered here and checked after every step.
int WriteToFile(GifFileType *gif, const GifByteType *buf, int len)
{
    auto *out = static_cast<Output *>(gif->UserData);
    if (len <= 0)
        return 0;
    if (out->failed || out->file->Write(buf, 1, std::size_t(len)) != std::size_t(len)) {
        out->failed = true;
        return 0;
    }
    return len;
}

// Owns the giflib writer. Closing writes the trailer, so an abandoned
// output is marked failed first and nothing more reaches the stream.
class GifWriter {
public:
    explicit GifWriter(Output &out) : m_out(out)
    {
        int error = 0;
        m_gif = EGifOpen(&out, WriteToFile, &error);
    }
    ~GifWriter()
    {
        if (m_gif) {
            m_out.failed = true;
            EGifCloseFile(m_gif, nullptr);
        }
    }
    GifWriter(const GifWriter &) = delete;
    GifWriter &operator=(const GifWriter &) = delete;

    GifFileType *get() const { return m_gif; }
    GifFileType *operator->() const { return m_gif; }
    explicit operator bool() const { return m_gif != nullptr; }
    // Writes the trailer and frees the writer; true when every byte got out.
    bool Finish()
    {
        GifFileType *gif = m_gif;
        m_gif = nullptr;
        return EGifCloseFile(gif, nullptr) == GIF_OK && !m_out.failed;
    }

private:
    Output &m_out;
    GifFileType *m_gif = nullptr;
};

// --- Transparency of a frame -------------------------------------------------

// Pixels that are written transparent: the transparent index of a paletted
// frame, alpha below one half in a colour frame.
class ClearTest {
public:
    explicit ClearTest(const CxImage &img) : m_img(img), m_trans(img.GetBpp() == 24 ? -1 : img.GetTransIndex()) {}
    bool Any() const
    {
        for (int y = 0; y < m_img.GetHeight(); ++y)
            for (int x = 0; x < m_img.GetWidth(); ++x)
                if (At(x, y))
                    return true;
        return false;
    }
    bool At(int x, int y) const
    {
        if (m_img.GetBpp() != 24)
            return m_trans >= 0 && m_img.GetBits(y)[x] == m_trans;
        const BYTE *a = m_img.AlphaGetPointer(y);
        return a && a[x] < 128;
    }

private:
    const CxImage &m_img;
    int m_trans;
};

// Chooses each frame's disposal: the requested one, except where it would
// leave an earlier frame visible under a later frame's transparent pixels;
// such a frame restores to background instead. Every frame sits at (0, 0).
std::vector<int> PlanDisposal(CxImage *const *frames, int count, int screenW, int screenH, int requested)
{
    std::vector<int> disposal(std::size_t(count), requested);
    if (count < 2)
        return disposal;
    // Which frame each screen pixel shows, -1 for transparent.
    std::vector<std::int32_t> owner(std::size_t(screenW) * std::size_t(screenH), -1);
    std::vector<std::int32_t> saved;
    auto at = [&](int x, int y) -> std::int32_t & { return owner[std::size_t(y) * std::size_t(screenW) + std::size_t(x)]; };

    for (int j = 0; j < count; ++j) {
        const CxImage &frame = *frames[j];
        const int w = frame.GetWidth(), h = frame.GetHeight();
        if (requested == 3) {
            saved.resize(std::size_t(w) * std::size_t(h));
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    saved[std::size_t(y) * std::size_t(w) + std::size_t(x)] = at(x, y);
        }
        const ClearTest clear(frame);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (!clear.At(x, y))
                    at(x, y) = j;
        if (j + 1 == count)
            break;

        const CxImage &next = *frames[j + 1];
        const ClearTest nextClear(next);
        auto shownAfter = [&](int x, int y, int method) -> std::int32_t {
            if (x >= w || y >= h || method == 0 || method == 1)
                return at(x, y);
            return method == 2 ? -1 : saved[std::size_t(y) * std::size_t(w) + std::size_t(x)];
        };
        bool leaks = false;
        for (int y = 0; y < next.GetHeight() && !leaks; ++y)
            for (int x = 0; x < next.GetWidth() && !leaks; ++x)
                leaks = nextClear.At(x, y) && shownAfter(x, y, requested) >= 0;
        if (leaks) {
            disposal[std::size_t(j)] = 2;
            // What still shows outside this frame was left by earlier frames:
            // they restore to background too (clearing their rectangles then
            // clears every pixel they or older frames left there).
            std::vector<std::int32_t> culprits;
            for (int y = 0; y < next.GetHeight(); ++y)
                for (int x = 0; x < next.GetWidth(); ++x)
                    if ((x >= w || y >= h) && nextClear.At(x, y) && at(x, y) >= 0)
                        culprits.push_back(at(x, y));
            std::sort(culprits.begin(), culprits.end());
            culprits.erase(std::unique(culprits.begin(), culprits.end()), culprits.end());
            for (const std::int32_t i : culprits) {
                disposal[std::size_t(i)] = 2;
                const CxImage &old = *frames[i];
                for (int y = 0; y < old.GetHeight(); ++y)
                    for (int x = 0; x < old.GetWidth(); ++x)
                        if (at(x, y) >= 0 && at(x, y) <= i)
                            at(x, y) = -1;
            }
        }
        const int method = disposal[std::size_t(j)];
        if (method == 2 || method == 3)
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    at(x, y) = shownAfter(x, y, method);
    }
    return disposal;
}

// --- Frame preparation ---------------------------------------------------------

struct PreparedFrame {
    const CxImage *source = nullptr;
    CxImage reduced;  // colour frames: the quantised copy whose indices are written
    std::vector<GifColorType> table;  // padded to a power of two
    int bits = 1;
    int trans = -1;

    const CxImage &Pixels() const { return reduced.IsValid() ? reduced : *source; }
};

bool SameTable(const std::vector<GifColorType> &a, const std::vector<GifColorType> &b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](const GifColorType &p, const GifColorType &q) {
               return p.Red == q.Red && p.Green == q.Green && p.Blue == q.Blue;
           });
}

// Quantises a colour frame to 256 colours; transparency follows the source's
// alpha whatever index the quantiser picked for it.
bool ReduceColourFrame(const CxImage &src, PreparedFrame &p, std::string &error)
{
    p.reduced = src;
    const ClearTest clear(src);
    const bool anyClear = clear.Any();
    if (p.reduced.AlphaIsValid()) {
        if (anyClear) {
            for (int y = 0; y < p.reduced.GetHeight(); ++y) {
                BYTE *a = p.reduced.AlphaGetPointer(y);
                for (int x = 0; x < p.reduced.GetWidth(); ++x)
                    a[x] = a[x] < 128 ? 0 : 255;
            }
        } else {
            p.reduced.AlphaDelete();  // fully opaque: all 256 entries for colours
        }
    }
    if (!p.reduced.DecreaseBpp(8, true, nullptr) || p.reduced.GetBpp() == 24 || p.reduced.GetNumColors() < 1) {
        error = "cannot reduce a frame to 256 colours";
        return false;
    }
    p.trans = -1;
    if (!anyClear)
        return true;

    const int w = src.GetWidth(), h = src.GetHeight();
    std::array<bool, 256> used{};
    for (int y = 0; y < h; ++y) {
        const BYTE *row = p.reduced.GetBits(y);
        for (int x = 0; x < w; ++x)
            if (!clear.At(x, y))
                used[row[x]] = true;
    }
    int n = p.reduced.GetNumColors();
    int t = p.reduced.GetTransIndex();
    if (t < 0 || used[std::size_t(t)]) {
        t = -1;
        for (int i = 0; i < n && t < 0; ++i)
            if (!used[std::size_t(i)])
                t = i;
    }
    if (t < 0) {
        if (n >= 256) {
            error = "no palette entry left for transparency";
            return false;
        }
        std::vector<RGBQUAD> pal(p.reduced.GetPalette(), p.reduced.GetPalette() + n);
        pal.push_back(RGBQUAD{});
        if (!p.reduced.SetPalette(pal.data(), n + 1)) {
            error = "no palette entry left for transparency";
            return false;
        }
        t = n++;
    }
    for (int y = 0; y < h; ++y) {
        BYTE *row = p.reduced.GetBits(y);
        for (int x = 0; x < w; ++x)
            if (clear.At(x, y))
                row[x] = BYTE(t);
    }
    p.trans = t;
    return true;
}

bool PrepareFrame(const CxImage &src, PreparedFrame &p, std::string &error)
{
    p.source = &src;
    p.reduced.Destroy();
    if (src.GetBpp() == 24) {
        if (!ReduceColourFrame(src, p, error))
            return false;
    } else {
        const int t = src.GetTransIndex();
        p.trans = t >= 0 && t < src.GetNumColors() ? t : -1;
    }
    const CxImage &pixels = p.Pixels();
    const int n = std::max(1, pixels.GetNumColors());
    p.bits = 1;
    while ((1 << p.bits) < n)
        ++p.bits;
    p.table.assign(std::size_t(1) << p.bits, GifColorType{0, 0, 0});
    for (int i = 0; i < pixels.GetNumColors(); ++i) {
        const RGBQUAD c = pixels.GetPaletteColor(i);
        p.table[std::size_t(i)] = GifColorType{c.rgbRed, c.rgbGreen, c.rgbBlue};
    }
    if (p.trans >= 0) {
        const RGBQUAD c = src.GetTransColor();
        p.table[std::size_t(p.trans)] = GifColorType{c.rgbRed, c.rgbGreen, c.rgbBlue};
    }
    return true;
}

ColorMapObject MapOf(PreparedFrame &p)
{
    ColorMapObject map{};
    map.ColorCount = int(p.table.size());
    map.BitsPerPixel = p.bits;
    map.SortFlag = false;
    map.Colors = p.table.data();
    return map;
}

bool PutLoopExtension(GifFileType *gif, int loops)
{
    const GifByteType data[3] = {1, GifByteType(loops & 0xFF), GifByteType((loops >> 8) & 0xFF)};
    return EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
           EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0") == GIF_OK && EGifPutExtensionBlock(gif, 3, data) == GIF_OK &&
           EGifPutExtensionTrailer(gif) == GIF_OK;
}

bool PutComment(GifFileType *gif, const std::string &comment)
{
    if (EGifPutExtensionLeader(gif, COMMENT_EXT_FUNC_CODE) != GIF_OK)
        return false;
    for (std::size_t pos = 0; pos < comment.size(); pos += 255) {
        const std::size_t len = std::min<std::size_t>(255, comment.size() - pos);
        if (EGifPutExtensionBlock(gif, int(len), comment.data() + pos) != GIF_OK)
            return false;
    }
    return EGifPutExtensionTrailer(gif) == GIF_OK;
}

// The logical screen: the largest frame. Null when every frame can be
// written, else why not.
const char *CheckFrames(CxImage *const *frames, int pagecount, int &screenW, int &screenH)
{
    for (int i = 0; i < pagecount; ++i) {
        if (!frames[i] || !frames[i]->IsValid())
            return "no image to save";
        if (frames[i]->GetWidth() > kMaxGifSide || frames[i]->GetHeight() > kMaxGifSide)
            return "image too large for GIF";
        screenW = std::max(screenW, frames[i]->GetWidth());
        screenH = std::max(screenH, frames[i]->GetHeight());
    }
    // No reader could show a screen beyond the picture limits.
    if (std::int64_t(screenW) * screenH > CxImage::kMaxPixels)
        return "image too large for GIF";
    return nullptr;
}

// The screen descriptor (with the first frame's table as the global one
// unless every frame has its own), the loop count and the comment. Null
// when written, else what was not.
const char *WriteFileHead(GifFileType *gif, const Output &output, PreparedFrame &first, int screenW, int screenH,
                          bool localMaps, int loops, const std::string &comment)
{
    ColorMapObject globalMap = MapOf(first);
    if (EGifPutScreenDesc(gif, screenW, screenH, 8, 0, localMaps ? nullptr : &globalMap) != GIF_OK ||
        output.failed)
        return "cannot write the screen descriptor";
    if (loops >= 0 && (!PutLoopExtension(gif, loops) || output.failed))
        return "cannot write the loop count";
    if (!comment.empty() && (!PutComment(gif, comment) || output.failed))
        return "cannot write the comment";
    return nullptr;
}

// One frame: its graphic control, descriptor (with a local table where
// its colours differ from the global ones) and data. Null when written,
// else what was not.
const char *WriteFrame(GifFileType *gif, const Output &output, PreparedFrame &p, const PreparedFrame &first,
                       int disposal, int delay, bool localMaps, std::vector<GifPixelType> &line)
{
    const CxImage &pixels = p.Pixels();
    GraphicsControlBlock gcb{};
    gcb.DisposalMode = disposal;
    gcb.UserInputFlag = false;
    gcb.DelayTime = std::min(delay, 65535);
    gcb.TransparentColor = p.trans >= 0 ? p.trans : NO_TRANSPARENT_COLOR;
    GifByteType gce[4];
    EGifGCBToExtension(&gcb, gce);
    if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, gce) != GIF_OK || output.failed)
        return "cannot write a frame header";

    const bool local = localMaps || !SameTable(p.table, first.table);
    if (!local && gif->Image.ColorMap) {
        // giflib forgets the previous local table without freeing it when
        // the next frame has none.
        GifFreeMapObject(gif->Image.ColorMap);
        gif->Image.ColorMap = nullptr;
    }
    ColorMapObject localMap = MapOf(p);
    const int w = pixels.GetWidth(), h = pixels.GetHeight();
    if (EGifPutImageDesc(gif, 0, 0, w, h, false, local ? &localMap : nullptr) != GIF_OK || output.failed)
        return "cannot write a frame header";
    line.resize(std::size_t(w));
    for (int y = 0; y < h; ++y) {
        // EGifPutLine masks the pixels in place: hand it a copy.
        std::memcpy(line.data(), pixels.GetBits(y), std::size_t(w));
        if (EGifPutLine(gif, line.data(), w) != GIF_OK || output.failed)
            return "cannot write the image data";
    }
    return nullptr;
}

}  // namespace

bool CxImageGIF::Decode(CxFile *file, const CxDecodeRequest &asked)
{
    Destroy();
    std::string bytes;
    if (!file || !file->ReadAll(bytes, kMaxFileBytes)) {
        SetError("cannot read file");
        return false;
    }
    cxcodec::DecodeRequest req(asked);
    req.frame = std::max(0, req.frame);
    CxImageAccess::SetFrameIndex(*this, req.frame);
    cxcodec::GifFileInfo info;
    CxImageGIF out;
    if (!cxcodec::DecodeGif(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size(), out, req, &info) ||
        !out.IsValid()) {
        m_lastError = out.m_lastError.empty() ? "cannot decode image" : out.m_lastError;
        return false;
    }
    if (!AdoptDecoded(std::move(out), CXIMAGE_FORMAT_GIF, req.autoOrient))
        return false;
    m_comment = std::move(info.comment);
    cxcodec::CutUtf8(m_comment, kMaxCommentBytes);
    m_loops = info.loops;
    m_lastError.clear();
    return true;
}

bool CxImageGIF::Encode(CxFile *file, CxImage **frames, int pagecount, bool bLocalColorMap)
{
    if (!file || !file->IsOpen()) {
        SetError("output not open");
        return false;
    }
    if (!frames || pagecount < 1) {
        SetError("no image to save");
        return false;
    }
    int screenW = 0, screenH = 0;
    if (const char *why = CheckFrames(frames, pagecount, screenW, screenH)) {
        SetError(why);
        return false;
    }
    const int requested = GetDisposalMethod() <= 3 ? GetDisposalMethod() : 0;
    std::vector<int> disposal;
    try {
        disposal = PlanDisposal(frames, pagecount, screenW, screenH, requested);
    } catch (const std::bad_alloc &) {
        SetError("out of memory");
        return false;
    }

    std::string error;
    PreparedFrame first;
    if (!PrepareFrame(*frames[0], first, error)) {
        SetError(error.c_str());
        return false;
    }

    Output output{file, false};
    GifWriter gif(output);
    if (!gif) {
        SetError("cannot start GIF output");
        return false;
    }
    EGifSetGifVersion(gif.get(), true);
    auto failed = [&](const char *what) {
        const char *lib = gif->Error ? GifErrorString(gif->Error) : nullptr;
        SetError(output.failed ? "cannot write image" : (lib ? lib : what));
        return false;
    };
    if (const char *what = WriteFileHead(gif.get(), output, first, screenW, screenH, bLocalColorMap, GetLoops(),
                                         m_comment))
        return failed(what);

    std::vector<GifPixelType> line;
    PreparedFrame current;
    for (int i = 0; i < pagecount; ++i) {
        PreparedFrame &p = i == 0 ? first : current;
        if (i > 0 && !PrepareFrame(*frames[i], p, error)) {
            SetError(error.c_str());
            return false;
        }
        if (const char *what = WriteFrame(gif.get(), output, p, first, disposal[std::size_t(i)],
                                          frames[i]->GetFrameDelay(), bLocalColorMap, line))
            return failed(what);
    }
    if (!gif.Finish()) {
        SetError("cannot write image");
        return false;
    }
    m_lastError.clear();
    return true;
}

void CxImageGIF::SetComment(const char *comment)
{
    m_comment = comment ? comment : "";
    cxcodec::CutUtf8(m_comment, kMaxCommentBytes);
}

void CxImageGIF::GetComment(char *buffer, std::size_t size) const
{
    if (!buffer || size == 0)
        return;
    std::string text = m_comment;
    cxcodec::CutUtf8(text, size - 1);
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
}

CxGifFrameReader::CxGifFrameReader(const char *filename)
{
    // The same checks and words as Load.
    CxIOFile file;
    if (!filename || !file.Open(filename, "rb")) {
        m_error = "cannot open file";
        return;
    }
    if (!file.ReadAll(m_bytes, kMaxFileBytes)) {
        m_error = "cannot read file";
        return;
    }
    Open();
}

CxGifFrameReader::CxGifFrameReader(std::string bytes) : m_bytes(std::move(bytes))
{
    Open();
}

void CxGifFrameReader::Open()
{
    const auto *data = reinterpret_cast<const std::uint8_t *>(m_bytes.data());
    if (CxImage::DetectFormat(data, m_bytes.size()) != CXIMAGE_FORMAT_GIF) {
        m_error = "unknown file format";
        return;
    }
    if (m_bytes.size() < 13) {
        m_error = "GIF: truncated file header";
        return;
    }
    auto decoder = std::make_unique<cxcodec::GifDecoder>();
    if (!decoder->Open(data, m_bytes.size(), m_error))
        return;
    const cxcodec::GifFileInfo info = decoder->Info();
    m_comment = info.comment;
    cxcodec::CutUtf8(m_comment, kMaxCommentBytes);
    m_loops = info.loops;
    m_decoder = std::move(decoder);
}

CxGifFrameReader::~CxGifFrameReader() = default;

int CxGifFrameReader::GetNumFrames() const
{
    return m_decoder ? m_decoder->NumFrames() : 0;
}

bool CxGifFrameReader::Next(CxImage &img)
{
    img.Destroy();
    CxImageAccess::SetFrameIndex(img, m_next);
    if (!m_decoder) {
        CxImageAccess::SetError(img, m_error.empty() ? "cannot decode image" : m_error.c_str());
        return false;
    }
    CxImage out;
    if (!m_decoder->Read(m_next++, out) || !out.IsValid()) {
        CxImageAccess::SetError(img, *out.GetLastError() ? out.GetLastError() : "cannot decode image");
        return false;
    }
    m_delayMs = out.GetFrameDelay() * 10;
    return CxImageAccess::Adopt(img, std::move(out), CXIMAGE_FORMAT_GIF, m_autoOrient);
}
