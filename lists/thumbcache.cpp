#include "lists/thumbcache.h"

#include "convert/safefolders.h"

#include "imaging/libraryversions.h"
#include "imaging/thumbnail.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QImageWriter>
#include <QPainter>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <map>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <zlib.h>

namespace {

constexpr const char *kUriKey = "Thumb::URI";
constexpr const char *kMTimeKey = "Thumb::MTime";
constexpr const char *kSizeKey = "Thumb::Size";
constexpr const char *kWidthKey = "Thumb::Image::Width";
constexpr const char *kHeightKey = "Thumb::Image::Height";
constexpr const char *kPagesKey = "Thumb::Document::Pages";

// The keys every cached picture is read by; text chunks of other keys are
// passed over unread.
constexpr const char *kKeys[] = {kUriKey, kMTimeKey, kSizeKey, kWidthKey, kHeightKey};
// A key's text is a number or a URI, which escapes a path of at most
// PATH_MAX bytes into three times that: a longer text (a planted chunk that
// inflates to a gigabyte) is passed over, never inflated further.
constexpr std::size_t kMaxText = 16384;
// More pages than a document of ours can hold is no count at all.
constexpr long long kMaxPages = 1000000;
// A normal or large picture takes a few dozen KiB; a bigger file is not one.
constexpr qint64 kMaxCacheFile = qint64(4) << 20;

bool LeftAsIs(unsigned char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return c != 0 && std::strchr("-_.!~*'()/:@&=+$,", c) != nullptr;
}

std::string RealPath(const std::string &path)
{
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

bool Under(const std::string &path, const std::string &root)
{
    return !root.empty() && path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
           path[root.size()] == '/';
}

// Makes every missing folder of path, each private to the user.
bool MakeFolders(const std::string &path)
{
    for (std::size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
        const std::string part = at == std::string::npos ? path : path.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (at == std::string::npos)
            break;
    }
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}


// A folder of the cache ("normal", "fail/velmora-1.0"), entered from the
// root one name at a time and never through a link: one planted there would
// send the cards written, and take the cards read, elsewhere. With make,
// missing folders are made on the way (the root as its path says).
UniqueFd OpenCacheFolder(const std::string &root, const std::string &folder, bool make)
{
    std::vector<std::string> made;
    std::string error;
    if (make && !MakeFolders(root))
        return UniqueFd();
    return OpenFolderBelow(root, folder, error, make ? &made : nullptr, 0700);
}

// A cache file's bytes: a regular file, not a link, of at most
// kMaxCacheFile bytes; empty otherwise.
QByteArray ReadCacheFile(const std::string &root, const std::string &folder, const std::string &name)
{
    const UniqueFd dir = OpenCacheFolder(root, folder, false);
    if (dir.Get() < 0)
        return {};
    // Not blocking: a pipe planted there is not waited on.
    const UniqueFd fd(::openat(dir.Get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxCacheFile)
        return {};
    QByteArray bytes(qsizetype(st.st_size), '\0');
    qsizetype got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd.Get(), bytes.data() + got, std::size_t(bytes.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
    }
    bytes.truncate(got);
    return bytes;
}

// The text keys of a PNG and its pixel size. Some writers put the keys after
// the image data, so the whole file is walked (Qt's own text keys cannot hold
// a colon, as every key here does).
struct PngHead {
    std::map<std::string, std::string> texts;
    QSize size;
};

std::uint32_t BigEndian(const unsigned char *p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// A zlib stream inflated into at most kMaxText bytes; false when it is
// longer or broken.
bool Inflate(QByteArrayView data, std::string &text)
{
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return false;
    char out[kMaxText + 1];
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef *>(out);
    z.avail_out = sizeof out;
    const int status = inflate(&z, Z_FINISH);
    const std::size_t size = sizeof out - z.avail_out;
    inflateEnd(&z);
    if (status != Z_STREAM_END || size > kMaxText)
        return false;
    text.assign(out, size);
    return true;
}

bool KnownKey(QByteArrayView key)
{
    return std::any_of(std::begin(kKeys), std::end(kKeys), [key](const char *k) { return key == k; });
}

// A text chunk's text as it stands, when not over kMaxText.
bool PlainText(QByteArrayView body, std::string &text)
{
    if (body.size() > qsizetype(kMaxText))
        return false;
    text = body.toByteArray().toStdString();
    return true;
}

void AddText(PngHead &head, QByteArrayView type, QByteArrayView data)
{
    const qsizetype nul = data.indexOf('\0');
    if (nul <= 0 || !KnownKey(data.first(nul)))
        return;
    std::string text;
    bool taken = false;
    if (type == "tEXt") {
        taken = PlainText(data.sliced(nul + 1), text);
    } else if (type == "zTXt" && data.size() > nul + 2) {
        taken = Inflate(data.sliced(nul + 2), text);
    } else if (type == "iTXt" && data.size() > nul + 3) {
        // flag, method, then language and translated key, each ended by a nul
        const qsizetype lang = data.indexOf('\0', nul + 3);
        const qsizetype tkey = lang < 0 ? -1 : data.indexOf('\0', lang + 1);
        if (tkey >= 0)
            taken =
                data[nul + 1] ? Inflate(data.sliced(tkey + 1), text) : PlainText(data.sliced(tkey + 1), text);
    }
    if (taken)
        head.texts[data.first(nul).toByteArray().toStdString()] = std::move(text);
}

// The size and the keys from a PNG's chunks, up to its end.
bool ReadPngHead(const QByteArray &png, PngHead &head)
{
    if (!png.startsWith(QByteArrayView("\x89PNG\r\n\x1a\n", 8)))
        return false;
    for (qsizetype at = 8;;) {
        if (png.size() - at < 12)
            return false;
        const auto *h = reinterpret_cast<const unsigned char *>(png.constData() + at);
        const std::uint32_t length = BigEndian(h);
        if (length > std::uint32_t(png.size() - at - 12))
            return false;
        const QByteArrayView type(png.constData() + at + 4, 4);
        const QByteArrayView data(png.constData() + at + 8, qsizetype(length));
        at += 12 + qsizetype(length);
        if (type == "IEND")
            return head.size.isValid();
        if (type == "IHDR" && length >= 8) {
            const auto *d = reinterpret_cast<const unsigned char *>(data.data());
            head.size = QSize(int(BigEndian(d)), int(BigEndian(d + 4)));
        } else {
            AddText(head, type, data);
        }
    }
}

std::string Text(const PngHead &head, const char *key)
{
    const auto it = head.texts.find(key);
    return it == head.texts.end() ? std::string() : it->second;
}

// A whole number of text, or -1.
long long Number(const std::string &text)
{
    bool ok = false;
    const long long n = QByteArray::fromStdString(text).toLongLong(&ok);
    return ok ? n : -1;
}

// The picture's size as the cached file gives it; false without it.
bool ImageSize(const PngHead &head, long &width, long &height)
{
    width = long(Number(Text(head, kWidthKey)));
    height = long(Number(Text(head, kHeightKey)));
    return width > 0 && height > 0;
}

// The cached file stands for the file of key: the same URI and mtime, and
// the same size when it gives one.
bool KeysMatch(const PngHead &head, const ThumbKey &key)
{
    if (Text(head, kUriKey) != key.uri || Number(Text(head, kMTimeKey)) != key.mtime)
        return false;
    const std::string size = Text(head, kSizeKey);
    return size.empty() || Number(size) == key.size;
}

std::uint32_t Crc32(const QByteArray &bytes)
{
    std::uint32_t crc = 0xffffffffu;
    for (const char ch : bytes) {
        crc ^= static_cast<unsigned char>(ch);
        for (int k = 0; k < 8; ++k)
            crc = crc & 1 ? (crc >> 1) ^ 0xedb88320u : crc >> 1;
    }
    return ~crc;
}

void AppendBigEndian(QByteArray &out, std::uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out += char((v >> shift) & 0xff);
}

// One tEXt chunk: the key, a nul, the text.
QByteArray TextChunk(const std::string &key, const std::string &text)
{
    const QByteArray body =
        QByteArray("tEXt") + QByteArray::fromStdString(key) + '\0' + QByteArray::fromStdString(text);
    QByteArray chunk;
    AppendBigEndian(chunk, std::uint32_t(body.size() - 4));
    chunk += body;
    AppendBigEndian(chunk, Crc32(body));
    return chunk;
}

QImage DrawCard(const QImage &picture, const QRect &rect)
{
    QImage card(kThumbWidth, kThumbHeight, QImage::Format_RGB32);
    card.fill(Qt::white);
    QPainter painter(&card);
    painter.drawImage(rect.topLeft(),
                      picture.size() == rect.size()
                          ? picture
                          : picture.scaled(rect.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    return card;
}

bool Opaque(const QImage &image)
{
    if (!image.hasAlphaChannel())
        return true;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        const QRgb *row = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x)
            if (qAlpha(row[x]) != 255)
                return false;
    }
    return true;
}

QByteArray EncodePng(const QImage &image, const ThumbKey &key, long width, long height, int pages = 0)
{
    std::vector<std::pair<std::string, std::string>> texts = {
        {kUriKey, key.uri}, {kMTimeKey, std::to_string(key.mtime)}, {kSizeKey, std::to_string(key.size)}};
    if (width > 0 && height > 0) {
        texts.emplace_back(kWidthKey, std::to_string(width));
        texts.emplace_back(kHeightKey, std::to_string(height));
    }
    if (pages > 0)
        texts.emplace_back(kPagesKey, std::to_string(pages));
    texts.emplace_back("Software", std::string("Velmora ") + VelmoraVersion());
    return thumbcache::PngWithTexts(image, texts);
}

// Writes the bytes to a temporary file in the cache's folder, readable by
// the user alone, and renames it over the file of that name.
bool WriteFile(const std::string &root, const std::string &folder, const std::string &name,
               const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return false;
    const UniqueFd dir = OpenCacheFolder(root, folder, true);
    if (dir.Get() < 0)
        return false;
    static std::atomic<unsigned> serial{0};
    const std::string temp =
        name + ".velmora-" + std::to_string(::getpid()) + "-" + std::to_string(serial++) + ".tmp";
    bool written = false;
    {
        const UniqueFd fd(
            ::openat(dir.Get(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (fd.Get() < 0)
            return false;
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd.Get(), bytes.constData() + done, std::size_t(bytes.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += n;
        }
        written = done == bytes.size();
    }
    if (written && ::renameat(dir.Get(), temp.c_str(), dir.Get(), name.c_str()) == 0)
        return true;
    ::unlinkat(dir.Get(), temp.c_str(), 0);
    return false;
}

std::string FailFolder()
{
    return std::string("fail/velmora-") + VelmoraVersion();
}

} // namespace

namespace thumbcache {

std::string FileUri(const std::string &absolutePath)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    uri.reserve(uri.size() + absolutePath.size() * 3);
    for (const char ch : absolutePath) {
        const auto c = static_cast<unsigned char>(ch);
        if (LeftAsIs(c)) {
            uri += ch;
        } else {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 15];
        }
    }
    return uri;
}

std::string ThumbName(const std::string &uri)
{
    const QByteArray md5 =
        QCryptographicHash::hash(QByteArray::fromStdString(uri), QCryptographicHash::Md5).toHex();
    return md5.toStdString() + ".png";
}

QByteArray PngWithTexts(const QImage &image, const std::vector<std::pair<std::string, std::string>> &texts)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (!QImageWriter(&buffer, "png").write(image) || buffer.data().size() < 33)
        return QByteArray();
    QByteArray chunks;
    for (const auto &[key, text] : texts)
        chunks += TextChunk(key, text);
    // After the signature (8 bytes) and the IHDR chunk (25).
    QByteArray png = buffer.data();
    return png.insert(33, chunks);
}

std::string DefaultRoot()
{
    const char *cache = std::getenv("XDG_CACHE_HOME");
    if (cache && cache[0] == '/')
        return std::string(cache) + "/thumbnails";
    const char *home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.cache/thumbnails";
}

} // namespace thumbcache

CThumbCache::CThumbCache(std::string root) : m_root(std::move(root)), m_realRoot(RealPath(m_root)) {}

std::string CThumbCache::NormalPath(const std::string &uri) const
{
    return m_root + "/normal/" + thumbcache::ThumbName(uri);
}

std::string CThumbCache::LargePath(const std::string &uri) const
{
    return m_root + "/large/" + thumbcache::ThumbName(uri);
}

std::string CThumbCache::FailPath(const std::string &uri) const
{
    return m_root + "/" + FailFolder() + "/" + thumbcache::ThumbName(uri);
}

bool CThumbCache::KeyOf(const std::string &path, ThumbKey &key)
{
    struct stat st;
    if (path.empty() || path[0] != '/' || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    key.uri = thumbcache::FileUri(path);
    key.mtime = std::int64_t(st.st_mtim.tv_sec);
    key.size = std::int64_t(st.st_size);
    return true;
}

bool CThumbCache::Holds(const std::string &path) const
{
    if (Under(path, m_root))
        return true;
    // Through a link to the cache, or the cache reached through one.
    const std::size_t slash = path.rfind('/');
    return slash != std::string::npos && !m_realRoot.empty() &&
           Under(RealPath(path.substr(0, slash)) + "/", m_realRoot);
}

CachedCard CThumbCache::Find(const ThumbKey &key) const
{
    const std::string name = thumbcache::ThumbName(key.uri);
    CachedCard found;
    PngHead head;
    if (ReadPngHead(ReadCacheFile(m_root, FailFolder(), name), head) && KeysMatch(head, key)) {
        if (!ImageSize(head, found.width, found.height))
            found.width = found.height = 0;
        found.kind = CachedCard::Kind::Failed;
        return found;
    }
    for (const char *folder : {"normal", "large"}) {
        const QByteArray png = ReadCacheFile(m_root, folder, name);
        head = PngHead();
        long width = 0, height = 0;
        if (!ReadPngHead(png, head) || !KeysMatch(head, key) || !ImageSize(head, width, height))
            continue;
        const QRect rect = ThumbnailDrawRect(width, height);
        if (head.size.width() < rect.width() || head.size.height() < rect.height())
            continue; // would be enlarged: blurred beside decoded cards
        QImage picture;
        if (!picture.loadFromData(png, "png"))
            continue;
        found.kind = CachedCard::Kind::Card;
        found.width = width;
        found.height = height;
        const long long pages = Number(Text(head, kPagesKey));
        found.pages = pages > 0 && pages <= kMaxPages ? int(pages) : 0;
        found.card = DrawCard(picture, rect);
        return found;
    }
    return found;
}

bool CThumbCache::StoreNormal(const ThumbKey &key, const QImage &image, long width, long height,
                              int pages) const
{
    if (image.isNull())
        return false;
    const QImage stored = Opaque(image) ? image.convertToFormat(QImage::Format_RGB32)
                                        : image.convertToFormat(QImage::Format_ARGB32);
    return WriteFile(m_root, "normal", thumbcache::ThumbName(key.uri),
                     EncodePng(stored, key, width, height, pages));
}

bool CThumbCache::StoreFailure(const ThumbKey &key, long width, long height) const
{
    QImage empty(1, 1, QImage::Format_ARGB32);
    empty.fill(Qt::transparent);
    return WriteFile(m_root, FailFolder(), thumbcache::ThumbName(key.uri),
                     EncodePng(empty, key, width, height));
}
