// Helpers shared by the test programs.
#pragma once

#include "imaging/cximage.h"

#include <QStringList>
#include <QTemporaryDir>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

// Path of a committed fixture under tests/data.
std::string DataPath(const std::string &name);

// A scratch folder removed when the object goes away.
class ScratchDir {
public:
    ScratchDir();
    std::string Path(const std::string &name) const;
    std::string Root() const;

private:
    QTemporaryDir m_dir;
};

// Every metadata key exiv2 reads in a file with its value as text ("icc":
// the colour profile's size), empty when the file has none or is unreadable.
std::map<std::string, std::string> MetadataKeys(const std::string &path);

std::vector<std::uint8_t> ReadFileBytes(const std::string &path);
bool WriteFileBytes(const std::string &path, const std::vector<std::uint8_t> &bytes);

// A 24-bit test picture with smooth gradients and some hard edges.
CxImage MakeTestImage(int width, int height);

// Largest per-channel difference of the composited colours, and the PSNR in
// dB over R, G, B (infinity when equal). Images must be the same size.
int MaxChannelDiff(const CxImage &a, const CxImage &b);
double Psnr(const CxImage &a, const CxImage &b);

// Runs ImageMagick's `convert` with the arguments and gives its standard
// output; false (with a test failure saying why) when it is missing or fails.
bool RunConvert(const QStringList &args, std::string *output = nullptr);

// A textured photo-like picture: gradients, edges and fine noise in every
// channel, so a JPEG of it has energy in every coefficient band.
CxImage MakeTexturedImage(int width, int height, unsigned seed = 1);

// How WriteProgressiveJpeg lays out its scans.
enum class ScanScript {
    Standard,       // libjpeg's own: DC of all components in one scan
    DcPerComponent, // each component's DC in its own scan, bands split
    Incomplete,     // the last refinement of every AC band left out
};

// The picture as a progressive JPEG written with libjpeg: chroma subsampled
// 2 x 2 or not, with a restart interval of that many MCU rows (0: none).
std::vector<std::uint8_t> WriteProgressiveJpeg(const CxImage &src, ScanScript script, bool subsample,
                                               int restartRows = 0, int quality = 90);

}  // namespace testsupport
