// Temporary: replaced as the real code lands.
#include "codecs.h"
#include "cximagegif.h"

namespace cxcodec {
bool DecodeBmp(const std::uint8_t *, std::size_t, CxImage &, const DecodeRequest &) { return false; }
bool DecodePcx(const std::uint8_t *, std::size_t, CxImage &, const DecodeRequest &) { return false; }
bool EncodeBmp(const CxImage &, CxFile &) { return false; }
bool EncodePcx(const CxImage &, CxFile &) { return false; }
}  // namespace cxcodec
