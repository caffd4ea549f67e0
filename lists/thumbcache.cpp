#include "lists/thumbcache.h"

#include "imaging/libraryversions.h"
#include "imaging/thumbnail.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char *kUriKey = "Thumb::URI";
constexpr const char *kMTimeKey = "Thumb::MTime";
constexpr const char *kSizeKey = "Thumb::Size";
constexpr const char *kWidthKey = "Thumb::Image::Width";
constexpr const char *kHeightKey = "Thumb::Image::Height";

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

// The text keys of a PNG and its pixel size, from the chunks before its
// image data (Qt's own text keys cannot hold a colon, as every key here does).
struct PngHead {
    std::map<std::string, std::string> texts;
    QSize size;
};

std::uint32_t BigEndian(const unsigned char *p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// A zlib stream inflated through Qt, which wants the length in front.
std::string Inflate(const QByteArray &data)
{
    QByteArray framed(4, '\0');
    framed[2] = char(0x10); // a first guess of 4 KiB; Qt grows it as needed
    framed += data;
    return qUncompress(framed).toStdString();
}

void AddText(PngHead &head, const std::string &type, const QByteArray &data)
{
    const qsizetype nul = data.indexOf('\0');
    if (nul <= 0)
        return;
    const std::string key = data.left(nul).toStdString();
    if (type == "tEXt") {
        head.texts[key] = data.mid(nul + 1).toStdString();
    } else if (type == "zTXt" && data.size() > nul + 2) {
        head.texts[key] = Inflate(data.mid(nul + 2));
    } else if (type == "iTXt" && data.size() > nul + 3) {
        // flag, method, then language and translated key, each ended by a nul
        const qsizetype lang = data.indexOf('\0', nul + 3);
        const qsizetype tkey = lang < 0 ? -1 : data.indexOf('\0', lang + 1);
        if (tkey < 0)
            return;
        const QByteArray text = data.mid(tkey + 1);
        head.texts[key] = data[nul + 1] ? Inflate(text) : text.toStdString();
    }
}

bool ReadPngHead(const std::string &path, PngHead &head)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly) || file.read(8) != QByteArray("\x89PNG\r\n\x1a\n", 8))
        return false;
    for (;;) {
        const QByteArray header = file.read(8);
        if (header.size() != 8)
            return false;
        const auto *h = reinterpret_cast<const unsigned char *>(header.constData());
        const std::uint32_t length = BigEndian(h);
        const std::string type = header.mid(4, 4).toStdString();
        if (type == "IDAT" || type == "IEND" || length > (1u << 20))
            return head.size.isValid();
        const QByteArray data = file.read(length);
        if (data.size() != qsizetype(length) || file.read(4).size() != 4)
            return false;
        const auto *d = reinterpret_cast<const unsigned char *>(data.constData());
        if (type == "IHDR" && length >= 8)
            head.size = QSize(int(BigEndian(d)), int(BigEndian(d + 4)));
        else
            AddText(head, type, data);
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

QByteArray EncodePng(const QImage &image, const ThumbKey &key, long width, long height)
{
    std::vector<std::pair<std::string, std::string>> texts = {
        {kUriKey, key.uri}, {kMTimeKey, std::to_string(key.mtime)}, {kSizeKey, std::to_string(key.size)}};
    if (width > 0 && height > 0) {
        texts.emplace_back(kWidthKey, std::to_string(width));
        texts.emplace_back(kHeightKey, std::to_string(height));
    }
    texts.emplace_back("Software", std::string("Velmora ") + VelmoraVersion());
    return thumbcache::PngWithTexts(image, texts);
}

// Writes the bytes to a temporary file in target's folder, readable by the
// user alone, and renames it over target.
bool WriteFile(const std::string &target, const QByteArray &bytes)
{
    const std::size_t slash = target.rfind('/');
    if (bytes.isEmpty() || slash == std::string::npos || !MakeFolders(target.substr(0, slash)))
        return false;
    static std::atomic<unsigned> serial{0};
    const QString temp =
        QString::fromStdString(target) + QStringLiteral(".velmora-%1-%2.tmp").arg(::getpid()).arg(serial++);
    QFile file(temp);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                   QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return false;
    const bool written = file.write(bytes) == bytes.size() && file.flush();
    file.close();
    if (written && ::rename(QFile::encodeName(temp).constData(), target.c_str()) == 0)
        return true;
    QFile::remove(temp);
    return false;
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
    return m_root + "/fail/velmora-" + VelmoraVersion() + "/" + thumbcache::ThumbName(uri);
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
    CachedCard found;
    PngHead head;
    if (ReadPngHead(FailPath(key.uri), head) && KeysMatch(head, key)) {
        if (!ImageSize(head, found.width, found.height))
            found.width = found.height = 0;
        found.kind = CachedCard::Kind::Failed;
        return found;
    }
    for (const std::string &path : {NormalPath(key.uri), LargePath(key.uri)}) {
        head = PngHead();
        long width = 0, height = 0;
        if (!ReadPngHead(path, head) || !KeysMatch(head, key) || !ImageSize(head, width, height))
            continue;
        const QRect rect = ThumbnailDrawRect(width, height);
        if (head.size.width() < rect.width() || head.size.height() < rect.height())
            continue; // would be enlarged: blurred beside decoded cards
        QImage picture;
        if (!QImageReader(QString::fromStdString(path), "png").read(&picture))
            continue;
        found.kind = CachedCard::Kind::Card;
        found.width = width;
        found.height = height;
        found.card = DrawCard(picture, rect);
        return found;
    }
    return found;
}

bool CThumbCache::StoreNormal(const ThumbKey &key, const QImage &image, long width, long height) const
{
    if (image.isNull())
        return false;
    const QImage stored = Opaque(image) ? image.convertToFormat(QImage::Format_RGB32)
                                        : image.convertToFormat(QImage::Format_ARGB32);
    return WriteFile(NormalPath(key.uri), EncodePng(stored, key, width, height));
}

bool CThumbCache::StoreFailure(const ThumbKey &key, long width, long height) const
{
    QImage empty(1, 1, QImage::Format_ARGB32);
    empty.fill(Qt::transparent);
    return WriteFile(FailPath(key.uri), EncodePng(empty, key, width, height));
}
