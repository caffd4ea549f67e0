// The size a drawing or a document's page is rendered at, shared by the
// formats drawn at any size (SVG, PDF).
#pragma once

#include "imaging/codecs/codecs.h"

namespace cxcodec {

// Covering the size the steps after want (the render rule's, any size),
// else the hint's when that is smaller than the drawing's own ownW x ownH;
// the shape kept.
void RenderSize(const DecodeRequest &req, int ownW, int ownH, double &w, double &h);

} // namespace cxcodec
