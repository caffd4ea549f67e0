// Temporary: replaced as the real code lands.
#include "codecs.h"
#include "cximagegif.h"

namespace cxcodec {
bool DecodeJpeg(const std::uint8_t *, std::size_t, CxImage &, const DecodeRequest &) { return false; }
bool DecodePng(const std::uint8_t *, std::size_t, CxImage &, const DecodeRequest &) { return false; }
bool DecodeTiff(const std::uint8_t *, std::size_t, CxImage &, const DecodeRequest &) { return false; }
bool EncodeJpeg(const CxImage &, CxFile &) { return false; }
bool EncodePng(const CxImage &, CxFile &) { return false; }
bool EncodeTiff(const CxImage &, CxFile &) { return false; }
}  // namespace cxcodec
