// The watermark beyond today's lower-right text: a place at one of nine
// anchors with a margin, an opacity, a size that follows the picture, a
// shadow under the text, and a picture (a logo) above it or alone.
#pragma once

#include "imaging/cximage.h"

#include <memory>
#include <string>

class CConvertJob;

// Reads the logo for a run: any picture the program reads, its alpha kept.
// Null (why says it) when it cannot be read.
std::shared_ptr<const CxImage> ReadLogo(const std::string &path, std::string &why);

// Whether the job's watermark is the plain one (the text at the lower right,
// 10 pixels in, fully opaque, at its font's own size, no shadow or logo).
bool IsPlainStamp(const CConvertJob &job);

// Where img lies in the picture it is drawn on: rows [top, top + its
// height) of a width x height picture (width 0: img is the whole picture).
struct RowsOfPicture {
    long width = 0, height = 0, top = 0;
};

// Draws the job's text and logo on img as its watermark choices say.
// False when there was nothing to draw.
bool DrawWatermark(CxImage &img, const CConvertJob &job, const RowsOfPicture &at = {});

// The rows [top, bottom) of a width x height picture that the job's
// watermark (the plain stamp's too) may touch: its block, what the text's
// marks and shadow may reach past it, and the frame a fade works in.
void WatermarkRows(const CConvertJob &job, long width, long height, long &top, long &bottom);
