// The desktop's shared thumbnail cache (the freedesktop Thumbnail Managing
// Standard, as file managers and other viewers keep it): cards of the
// folder listing are read from its normal (128) and large (256) pictures
// when they still describe the file, and the pictures the listing decodes
// are written back as normal ones. No widgets; safe on the loader thread.
#pragma once

#include <QByteArray>
#include <QImage>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace thumbcache {

inline constexpr int kNormalSide = 128;
inline constexpr int kLargeSide = 256;

// "file://" and the absolute path, escaped as GLib's g_filename_to_uri does
// (every byte but ASCII letters, digits and -_.!~*'()/:@&=+$, as %XX), so
// the names match those the file manager made.
std::string FileUri(const std::string &absolutePath);
// A cache file's name: the MD5 of the URI in lowercase hex, and ".png".
std::string ThumbName(const std::string &uri);
// A PNG of image with these tEXt keys and texts before its image data.
// (QImageWriter's text keys cannot hold the colons every key here has.)
QByteArray PngWithTexts(const QImage &image, const std::vector<std::pair<std::string, std::string>> &texts);
// $XDG_CACHE_HOME/thumbnails, or ~/.cache/thumbnails without it.
std::string DefaultRoot();

} // namespace thumbcache

// What a cached picture must carry to stand for a file.
struct ThumbKey {
    std::string uri;
    std::int64_t mtime = 0; // whole seconds
    std::int64_t size = 0;
};

// What the cache knows of a file. Card: card holds the listing's card drawn
// from a cached picture. Failed: an earlier decode of the file as it is now
// failed; width and height are what it reported then (0 when nothing).
struct CachedCard {
    enum class Kind { Miss, Card, Failed };
    Kind kind = Kind::Miss;
    long width = 0;
    long height = 0;
    int pages = 0; // a document's pages as the card gives them, 0 when it does not
    QImage card;
};

// The folders below the root are entered one by one without following a
// link, so a link planted there neither takes a picture nor gives one.
class CThumbCache {
public:
    explicit CThumbCache(std::string root = thumbcache::DefaultRoot());

    const std::string &Root() const { return m_root; }
    std::string NormalPath(const std::string &uri) const;
    std::string LargePath(const std::string &uri) const;
    std::string FailPath(const std::string &uri) const; // under fail/velmora-VERSION

    // The key of the regular file at an absolute path; false for anything else.
    static bool KeyOf(const std::string &path, ThumbKey &key);
    // Files inside the cache are never thumbnailed into it.
    bool Holds(const std::string &path) const;
    // A card from normal when it is at least the card's size for this
    // picture, else from large; shrunk, never enlarged. A picture without
    // the picture's size in it is passed over: the caption needs that size.
    CachedCard Find(const ThumbKey &key) const;
    // Writes image (the picture fitted inside kNormalSide) as the normal
    // thumbnail of a width x height picture, atomically, mode 0600. A
    // document's pages (above 0) go in its Thumb::Document::Pages key.
    bool StoreNormal(const ThumbKey &key, const QImage &image, long width, long height, int pages = 0) const;
    // Notes that the file could not be decoded, so it is not tried again
    // while it stays as it is.
    bool StoreFailure(const ThumbKey &key, long width, long height) const;

private:
    std::string m_root;
    std::string m_realRoot; // the root with its links resolved, when it exists
};
