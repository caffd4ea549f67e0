#include "imaging/imageheader.h"

#include "imaging/codecs/codecs.h"
#include "imaging/codecs/probes.h"
#include "imaging/cxfile.h"
#include "imaging/cximage.h"
#include "imaging/mappedfile.h"

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t kMaxFileBytes = std::size_t(1) << 31;
constexpr std::size_t kMapFrom = 128 * 1024;

using Probe = bool (*)(const std::uint8_t *, std::size_t, ImageHeader &);

Probe ProbeFor(std::uint32_t type)
{
    switch (type) {
    case CXIMAGE_FORMAT_JPG:
        return cxprobe::ProbeJpeg;
    case CXIMAGE_FORMAT_PNG:
        return cxprobe::ProbePng;
    case CXIMAGE_FORMAT_GIF:
        return cxprobe::ProbeGif;
    case CXIMAGE_FORMAT_WEBP:
        return cxprobe::ProbeWebp;
    case CXIMAGE_FORMAT_TIF:
        return cxprobe::ProbeTiff;
    case CXIMAGE_FORMAT_AVIF:
        return cxprobe::ProbeAvif;
    case CXIMAGE_FORMAT_HEIF:
        return cxprobe::ProbeHeif;
    case CXIMAGE_FORMAT_JXL:
        return cxprobe::ProbeJxl;
    case CXIMAGE_FORMAT_BMP:
        return cxprobe::ProbeBmp;
    case CXIMAGE_FORMAT_PCX:
        return cxprobe::ProbePcx;
    case CXIMAGE_FORMAT_RAW:
        return cxprobe::ProbeRaw;
    case CXIMAGE_FORMAT_SVG:
        return cxprobe::ProbeSvg;
    case CXIMAGE_FORMAT_PDF:
        return cxprobe::ProbePdf;
    default:
        return nullptr; // read through Qt: decoded to answer
    }
}

bool ProbeByDecoding(const std::uint8_t *data, std::size_t size, ImageHeader &h)
{
    CxImage img;
    if (!img.Decode(data, size, CXIMAGE_FORMAT_UNKNOWN, {.autoOrient = false}))
        return false;
    h.width = img.GetWidth();
    h.height = img.GetHeight();
    h.orientation = img.GetOrientation();
    h.frames = img.GetNumFrames();
    h.hasProfile = !img.GetMetadata().icc.empty();
    return true;
}

} // namespace

bool ProbeImageHeader(const std::uint8_t *data, std::size_t size, ImageHeader &header)
{
    header = ImageHeader{};
    ImageHeader h;
    h.type = data ? CxImage::DetectFormat(data, size) : CXIMAGE_FORMAT_UNKNOWN;
    if (h.type == CXIMAGE_FORMAT_UNKNOWN)
        return false;
    const Probe probe = ProbeFor(h.type);
    if (!(probe ? probe(data, size, h) : ProbeByDecoding(data, size, h)))
        return false;
    header = h;
    return true;
}

bool ProbeImageHeader(const char *filename, ImageHeader &header)
{
    header = ImageHeader{};
    // Never blocks on a pipe or device: only regular files are read.
    const int fd = filename ? open(filename, O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1;
    if (fd < 0)
        return false;
    struct stat st;
    bool ok = false;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        // A JPEG is read where it lies, as Load reads it; other libraries
        // are given a copy.
        MappedFile mapped;
        if (std::size_t(st.st_size) >= kMapFrom && mapped.Map(fd) &&
            CxImage::DetectFormat(mapped.Data(), mapped.Size()) == CXIMAGE_FORMAT_JPG) {
            ok = ProbeImageHeader(mapped.Data(), mapped.Size(), header) && !mapped.Changed();
        } else {
            mapped.Unmap();
            std::FILE *fp = fdopen(fd, "rb");
            if (!fp) {
                close(fd);
                return false;
            }
            std::string bytes;
            {
                CxIOFile file(fp);
                ok = file.ReadAll(bytes, kMaxFileBytes);
            }
            std::fclose(fp); // closes the descriptor too
            return ok && ProbeImageHeader(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size(),
                                          header);
        }
    }
    close(fd);
    return ok;
}

std::uint32_t ProbeImageType(const char *filename)
{
    const int fd = filename ? open(filename, O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1;
    if (fd < 0)
        return CXIMAGE_FORMAT_UNKNOWN;
    std::uint8_t head[4096];
    struct stat st;
    ssize_t n = -1;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        n = pread(fd, head, sizeof head, 0);
    close(fd);
    return n > 0 ? CxImage::DetectFormat(head, std::size_t(n)) : CXIMAGE_FORMAT_UNKNOWN;
}

bool IsDrawingFile(const char *filename, int &width, int &height)
{
    const ImageFormat *format = FormatByType(ProbeImageType(filename));
    if (!format || !format->facts.rendered)
        return false;
    ImageHeader h;
    const bool ok = ProbeImageHeader(filename, h);
    width = ok ? h.width : 0;
    height = ok ? h.height : 0;
    return true;
}

int CountPages(const char *filename)
{
    const std::uint32_t type = ProbeImageType(filename);
    if (type != CXIMAGE_FORMAT_PDF && type != CXIMAGE_FORMAT_TIF)
        return type == CXIMAGE_FORMAT_UNKNOWN ? 0 : 1;
    const int fd = open(filename, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return 0;
    struct stat st;
    std::FILE *fp = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? fdopen(fd, "rb") : nullptr;
    if (!fp) {
        close(fd);
        return 0;
    }
    std::string bytes;
    bool ok = false;
    {
        CxIOFile file(fp);
        ok = file.ReadAll(bytes, kMaxFileBytes);
    }
    std::fclose(fp);
    if (!ok)
        return 0;
    const auto *data = reinterpret_cast<const std::uint8_t *>(bytes.data());
    return type == CXIMAGE_FORMAT_PDF ? cxcodec::CountPdfPages(data, bytes.size())
                                      : cxcodec::CountTiffPages(data, bytes.size(), 10000);
}

bool JpegRunsWhole(const std::uint8_t *data, std::size_t size)
{
    if (!data || size < 4 || data[0] != 0xFF || data[1] != 0xD8)
        return false;
    const auto standalone = [](std::uint8_t m) { return m == 0x01 || (m >= 0xD0 && m <= 0xD7); };
    bool scanned = false;
    std::size_t at = 2;
    while (at + 1 < size) {
        if (data[at] != 0xFF)
            return false;
        const std::uint8_t marker = data[at + 1];
        if (marker == 0xFF) { // fill byte
            ++at;
            continue;
        }
        at += 2;
        if (marker == 0xD9)
            return scanned;
        if (standalone(marker))
            continue;
        if (at + 2 > size)
            return false;
        const std::size_t length = std::size_t(data[at]) << 8 | data[at + 1];
        if (length < 2 || length > size - at)
            return false;
        at += length;
        if (marker != 0xDA)
            continue;
        scanned = true;
        // The entropy-coded data: up to the next marker that is neither a
        // stuffed zero nor a restart.
        while (at + 1 < size && !(data[at] == 0xFF && data[at + 1] != 0 && !standalone(data[at + 1])))
            ++at;
    }
    return false;
}
