// Temporary: replaced as the real code lands.
#include "codecs.h"
#include "cximagegif.h"

#include "cxtext.h"
#include "octreequantizer.h"

bool CxImage::Resample(long, long, int, CxImage *) { return false; }
bool CxImage::RotateLeft(CxImage *) { return false; }
bool CxImage::RotateRight(CxImage *) { return false; }
bool CxImage::Rotate180(CxImage *) { return false; }
bool CxImage::Filter(const long *, long, long, long) { return false; }
bool CxImage::IsGrayScale() const { return false; }
bool CxImage::IncreaseBpp(DWORD) { return false; }
bool CxImage::DecreaseBpp(DWORD, bool, const RGBQUAD *, DWORD) { return false; }
bool CxImage::DrawStringEx(long, long, const CXTEXTINFO *, bool) { return false; }
bool CxImage::Stretch(QPainter *, long, long, long, long, DWORD) const { return false; }
QFont FontFromLogFont(const LOGFONT &) { return QFont(); }
int TextExtentWidth(const LOGFONT &, const std::string &) { return 0; }
struct COctreeQuantizer::Node {};
COctreeQuantizer::COctreeQuantizer(int maxColors, int colorBits) : m_maxColors(maxColors), m_colorBits(colorBits) {}
COctreeQuantizer::~COctreeQuantizer() {}
bool COctreeQuantizer::ProcessImage(const CxImage &) { return false; }
void COctreeQuantizer::SetColorTable(RGBQUAD *) const {}
