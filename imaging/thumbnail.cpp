#include "thumbnail.h"

#include "colourprofile.h"
#include "cximage.h"

#include <QPainter>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The whole content of a regular file. Opened without blocking, so a pipe
// or device that took a picture's name is refused instead of waited on.
bool ReadRegularFile(const std::string &path, std::string &bytes)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0 &&
              static_cast<unsigned long long>(st.st_size) < (1ULL << 31);
    if (ok) {
        bytes.resize(static_cast<std::size_t>(st.st_size));
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        // A file that shrank while being read is decoded from what was there.
        bytes.resize(done);
    }
    ::close(fd);
    return ok;
}

} // namespace

QRect ThumbnailDrawRect(long width, long height)
{
    if (width <= 0 || height <= 0)
        return QRect();
    const double r = double(height) / double(width);
    int left = 0, top = 0, dw = 0, dh = 0;
    if (r > 0.75) {
        dw = int(kThumbHeight / r);
        dh = kThumbHeight;
        // A hair-thin picture still shows as one column rather than nothing.
        dw = dw < 1 ? 1 : dw;
        left = (kThumbWidth - dw) / 2;
    } else {
        dw = kThumbWidth;
        dh = int(r * kThumbWidth);
        dh = dh < 1 ? 1 : dh;
        top = (kThumbHeight - dh) / 2;
    }
    return QRect(left, top, dw, dh);
}

ThumbnailResult MakeThumbnail(const std::string &path, int type, QImage &thumb,
                              const std::atomic<bool> *cancel, bool autoRotate)
{
    thumb = QImage(kThumbWidth, kThumbHeight, QImage::Format_RGB32);
    thumb.fill(Qt::white);

    ThumbnailResult result;
    std::string bytes;
    if (!ReadRegularFile(path, bytes))
        return result;
    CxImage image(static_cast<std::uint32_t>(type));
    // Enough pixels for the card; JPEG then decodes at 1/2, 1/4 or 1/8 scale.
    image.SetLoadSizeHint(kThumbWidth, kThumbHeight);
    image.SetCancelFlag(cancel);
    image.SetAutoOrient(autoRotate);
    // A card shows what arrived of a cut-off file, as image viewers do.
    image.SetAcceptTruncated(true);
    if (!image.Decode(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size(),
                      static_cast<std::uint32_t>(type)) ||
        !image.IsValid())
        return result;
    bytes = std::string();
    cxcolour::ToSrgb(image); // the screen is taken as sRGB

    result.width = image.GetSrcWidth();
    result.height = image.GetSrcHeight();
    result.valid = true;
    const QRect rect = ThumbnailDrawRect(result.width, result.height);
    QPainter painter(&thumb);
    if (!image.Stretch(&painter, rect.left(), rect.top(), rect.width(), rect.height()))
        result.valid = false;
    return result;
}
