// Temporary: replaced as the real code lands.
#include "codecs.h"
#include "cximagegif.h"

namespace cxcodec {
bool DecodeGif(const std::uint8_t *, std::size_t, CxImage &, const DecodeRequest &, GifFileInfo *) { return false; }
bool EncodeGif(const CxImage &, CxFile &) { return false; }
}  // namespace cxcodec

bool CxImageGIF::Decode(CxFile *) { return false; }
bool CxImageGIF::Encode(CxFile *, CxImage **, int, bool) { return false; }
void CxImageGIF::SetComment(const char *) {}
void CxImageGIF::GetComment(char *, std::size_t) const {}
