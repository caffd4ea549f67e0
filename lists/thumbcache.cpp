#include "lists/thumbcache.h"

#include "imaging/libraryversions.h"
#include "imaging/thumbnail.h"

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

// The picture's size as the cached file gives it; false without it.
bool ImageSize(const QImageReader &reader, long &width, long &height)
{
    bool okW = false, okH = false;
    width = reader.text(kWidthKey).toLong(&okW);
    height = reader.text(kHeightKey).toLong(&okH);
    return okW && okH && width > 0 && height > 0;
}

// The cached file stands for the file of key: the same URI and mtime, and
// the same size when it gives one.
bool KeysMatch(const QImageReader &reader, const ThumbKey &key)
{
    if (reader.text(kUriKey).toStdString() != key.uri)
        return false;
    bool ok = false;
    if (reader.text(kMTimeKey).toLongLong(&ok) != key.mtime || !ok)
        return false;
    const QString size = reader.text(kSizeKey);
    return size.isEmpty() || size.toLongLong() == key.size;
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

// Writes a PNG with the key's texts to a temporary file in target's folder,
// readable by the user alone, and renames it over target.
bool WritePng(const std::string &target, const QImage &image, const ThumbKey &key, long width, long height)
{
    const std::size_t slash = target.rfind('/');
    if (slash == std::string::npos || !MakeFolders(target.substr(0, slash)))
        return false;
    static std::atomic<unsigned> serial{0};
    const QString temp =
        QString::fromStdString(target) + QStringLiteral(".velmora-%1-%2.tmp").arg(::getpid()).arg(serial++);
    QFile file(temp);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                   QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return false;
    QImageWriter writer(&file, "png");
    writer.setText(kUriKey, QString::fromStdString(key.uri));
    writer.setText(kMTimeKey, QString::number(key.mtime));
    writer.setText(kSizeKey, QString::number(key.size));
    if (width > 0 && height > 0) {
        writer.setText(kWidthKey, QString::number(width));
        writer.setText(kHeightKey, QString::number(height));
    }
    writer.setText(QStringLiteral("Software"), QStringLiteral("Velmora %1").arg(VelmoraVersion()));
    const bool written = writer.write(image) && file.flush();
    file.close();
    if (written && ::rename(temp.toLocal8Bit().constData(), target.c_str()) == 0)
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
    {
        QImageReader failed(QString::fromStdString(FailPath(key.uri)), "png");
        if (KeysMatch(failed, key)) {
            if (!ImageSize(failed, found.width, found.height))
                found.width = found.height = 0;
            found.kind = CachedCard::Kind::Failed;
            return found;
        }
    }
    for (const std::string &path : {NormalPath(key.uri), LargePath(key.uri)}) {
        QImageReader reader(QString::fromStdString(path), "png");
        long width = 0, height = 0;
        if (!KeysMatch(reader, key) || !ImageSize(reader, width, height))
            continue;
        const QRect rect = ThumbnailDrawRect(width, height);
        const QSize held = reader.size();
        if (held.width() < rect.width() || held.height() < rect.height())
            continue; // would be enlarged: blurred beside decoded cards
        QImage picture;
        if (!reader.read(&picture))
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
    return WritePng(NormalPath(key.uri), stored, key, width, height);
}

bool CThumbCache::StoreFailure(const ThumbKey &key, long width, long height) const
{
    QImage empty(1, 1, QImage::Format_ARGB32);
    empty.fill(Qt::transparent);
    return WritePng(FailPath(key.uri), empty, key, width, height);
}
