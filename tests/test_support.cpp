#include "test_support.h"

#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>

namespace testsupport {

std::string DataPath(const std::string &name)
{
    return std::string(VELMORA_TEST_DATA) + "/" + name;
}

ScratchDir::ScratchDir() : m_dir(QDir::tempPath() + "/velmora-test-XXXXXX") {}

std::string ScratchDir::Path(const std::string &name) const
{
    return Root() + "/" + name;
}

std::string ScratchDir::Root() const
{
    return m_dir.path().toStdString();
}

std::vector<std::uint8_t> ReadFileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool WriteFileBytes(const std::string &path, const std::vector<std::uint8_t> &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

CxImage MakeTestImage(int width, int height)
{
    CxImage img;
    img.Create(width, height, 24);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            RGBQUAD c;
            c.rgbRed = BYTE(x * 255 / (width > 1 ? width - 1 : 1));
            c.rgbGreen = BYTE(y * 255 / (height > 1 ? height - 1 : 1));
            c.rgbBlue = BYTE(((x / 8 + y / 8) % 2) ? 200 : 40);
            img.SetPixelColor(x, y, c);
        }
    }
    return img;
}

static RGBQUAD Composited(const CxImage &img, int x, int y)
{
    RGBQUAD c = img.GetPixelColor(x, y);
    const int a = c.rgbReserved;
    auto blend = [a](int v) { return BYTE((v * a + 255 * (255 - a) + 127) / 255); };
    return RGBQUAD{blend(c.rgbBlue), blend(c.rgbGreen), blend(c.rgbRed), 255};
}

int MaxChannelDiff(const CxImage &a, const CxImage &b)
{
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight())
        return 256;
    int worst = 0;
    for (int y = 0; y < a.GetHeight(); ++y) {
        for (int x = 0; x < a.GetWidth(); ++x) {
            const RGBQUAD p = Composited(a, x, y), q = Composited(b, x, y);
            worst = std::max({worst, std::abs(p.rgbRed - q.rgbRed), std::abs(p.rgbGreen - q.rgbGreen),
                              std::abs(p.rgbBlue - q.rgbBlue)});
        }
    }
    return worst;
}

double Psnr(const CxImage &a, const CxImage &b)
{
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight() || a.GetWidth() == 0)
        return 0.0;
    double sum = 0;
    for (int y = 0; y < a.GetHeight(); ++y) {
        for (int x = 0; x < a.GetWidth(); ++x) {
            const RGBQUAD p = Composited(a, x, y), q = Composited(b, x, y);
            const double dr = p.rgbRed - q.rgbRed, dg = p.rgbGreen - q.rgbGreen, db = p.rgbBlue - q.rgbBlue;
            sum += dr * dr + dg * dg + db * db;
        }
    }
    const double mse = sum / (3.0 * a.GetWidth() * a.GetHeight());
    if (mse == 0)
        return std::numeric_limits<double>::infinity();
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace testsupport
