// Thumbnails of the folder listing: a 96 x 72 card with the picture drawn
// as large as it fits, decoded at reduced size where the format allows.
#pragma once

#include <QImage>
#include <QRect>
#include <QSize>

#include <atomic>
#include <string>

inline constexpr int kThumbWidth = 96;
inline constexpr int kThumbHeight = 72;

// What the file held; width and height are the file's own size, not the
// size of the (possibly reduced) decode, and zero when it could not be
// decoded. valid: the picture was decoded and drawn on the card.
struct ThumbnailResult {
    long width = 0;
    long height = 0;
    bool valid = false;
};

// Where a picture of width x height is drawn inside the card: pictures taller
// than 4:3 fill the height and are centred across, the others fill the width
// and are centred down. Empty for an empty size.
QRect ThumbnailDrawRect(long width, long height);

// A picture of width x height fitted inside side x side, never enlarged;
// empty for an empty size.
QSize FittedSize(long width, long height, int side);

// Decodes path (type: the listing's type code) and fills thumb with a white
// 96 x 72 RGB card with the picture drawn in ThumbnailDrawRect. Only regular
// files are opened, so a pipe or device never blocks the caller. When the
// file cannot be decoded, thumb is the blank card and valid is false. Safe to
// call from any thread. A raised cancel flag ends a long decode early, with
// the result of a file that could not be decoded. With autoRotate false a
// photo is drawn as stored, whatever its file says is up. With fitted given,
// the same decode also gives the picture at FittedSize(side) there (null
// when the card is not valid), for a thumbnail cache.
ThumbnailResult MakeThumbnail(const std::string &path, int type, QImage &thumb,
                              const std::atomic<bool> *cancel = nullptr, bool autoRotate = true,
                              QImage *fitted = nullptr, int side = 0);
