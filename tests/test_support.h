// Helpers shared by the test programs.
#pragma once

#include "cximage.h"

#include <QTemporaryDir>
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

std::vector<std::uint8_t> ReadFileBytes(const std::string &path);
bool WriteFileBytes(const std::string &path, const std::vector<std::uint8_t> &bytes);

// A 24-bit test picture with smooth gradients and some hard edges.
CxImage MakeTestImage(int width, int height);

// Largest per-channel difference of the composited colours, and the PSNR in
// dB over R, G, B (infinity when equal). Images must be the same size.
int MaxChannelDiff(const CxImage &a, const CxImage &b);
double Psnr(const CxImage &a, const CxImage &b);

}  // namespace testsupport
