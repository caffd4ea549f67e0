#include "tests/test_support.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>

#include <QProcess>
#include <gtest/gtest.h>

#include <exiv2/exiv2.hpp>
#include <jpeglib.h>

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

bool RunConvert(const QStringList &args, std::string *output)
{
    QProcess convert;
    convert.start("convert", args);
    if (!convert.waitForStarted()) {
        ADD_FAILURE() << "ImageMagick's convert cannot be started: these tests compare with it "
                         "(`make deps` or scripts/install-deps installs the imagemagick package)";
        return false;
    }
    convert.closeWriteChannel();
    const bool finished = convert.waitForFinished(120000);
    if (!finished || convert.exitStatus() != QProcess::NormalExit || convert.exitCode() != 0) {
        ADD_FAILURE() << "convert " << args.join(' ').toStdString()
                      << " failed: " << convert.readAllStandardError().toStdString();
        return false;
    }
    if (output)
        *output = convert.readAllStandardOutput().toStdString();
    return true;
}

CxImage MakeTexturedImage(int width, int height, unsigned seed)
{
    CxImage img;
    img.Create(width, height, 24);
    unsigned state = seed * 2654435761u + 1;
    const auto noise = [&state] {
        state = state * 1664525u + 1013904223u;
        return int(state >> 27) - 16; // -16 .. 15
    };
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int edge = ((x / 37 + y / 23) % 3) * 40;
            RGBQUAD c;
            c.rgbRed = BYTE(std::clamp(x * 200 / std::max(1, width - 1) + edge / 2 + noise(), 0, 255));
            c.rgbGreen = BYTE(std::clamp(y * 200 / std::max(1, height - 1) + noise(), 0, 255));
            c.rgbBlue = BYTE(std::clamp(128 + edge - 40 + noise(), 0, 255));
            c.rgbReserved = 0;
            img.SetPixelColor(x, y, c);
        }
    }
    return img;
}

std::vector<std::uint8_t> WriteProgressiveJpeg(const CxImage &src, ScanScript script, bool subsample,
                                               int restartRows, int quality)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char *buf = nullptr;
    unsigned long len = 0;
    jpeg_mem_dest(&cinfo, &buf, &len);
    cinfo.image_width = JDIMENSION(src.GetWidth());
    cinfo.image_height = JDIMENSION(src.GetHeight());
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.comp_info[0].h_samp_factor = cinfo.comp_info[0].v_samp_factor = subsample ? 2 : 1;
    cinfo.restart_in_rows = restartRows;
    // component count, components..., Ss, Se, Ah, Al
    static const int kPerComponent[][8] = {
        {1, 0, 0, 0, 0, 0, 0, 0},  {1, 1, 0, 0, 0, 0, 0, 0},   {1, 2, 0, 0, 0, 0, 0, 0},
        {1, 0, 1, 18, 0, 1, 0, 0}, {1, 0, 19, 63, 0, 1, 0, 0}, {1, 1, 1, 63, 0, 2, 0, 0},
        {1, 2, 1, 63, 0, 2, 0, 0}, {1, 1, 1, 63, 2, 1, 0, 0},  {1, 2, 1, 63, 2, 1, 0, 0},
        {1, 0, 1, 63, 1, 0, 0, 0}, {1, 1, 1, 63, 1, 0, 0, 0},  {1, 2, 1, 63, 1, 0, 0, 0},
    };
    static const int kIncomplete[][8] = {
        {3, 0, 1, 2, 0, 0, 0, 1},  {1, 0, 1, 5, 0, 2, 0, 0},  {1, 2, 1, 63, 0, 1, 0, 0},
        {1, 1, 1, 63, 0, 1, 0, 0}, {1, 0, 6, 63, 0, 2, 0, 0}, {1, 0, 1, 63, 2, 1, 0, 0},
        {3, 0, 1, 2, 0, 0, 1, 0},
    };
    std::vector<jpeg_scan_info> scans;
    const auto use = [&scans](const int(*table)[8], std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            const int *t = table[i];
            jpeg_scan_info s{};
            s.comps_in_scan = t[0];
            for (int c = 0; c < t[0]; ++c)
                s.component_index[c] = t[1 + c];
            const int *p = t + 1 + t[0];
            s.Ss = p[0];
            s.Se = p[1];
            s.Ah = p[2];
            s.Al = p[3];
            scans.push_back(s);
        }
    };
    switch (script) {
    case ScanScript::Standard:
        jpeg_simple_progression(&cinfo);
        break;
    case ScanScript::DcPerComponent:
        use(kPerComponent, std::size(kPerComponent));
        break;
    case ScanScript::Incomplete:
        use(kIncomplete, std::size(kIncomplete));
        break;
    }
    if (!scans.empty()) {
        cinfo.scan_info = scans.data();
        cinfo.num_scans = int(scans.size());
    }
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(std::size_t(src.GetWidth()) * 3);
    for (int y = 0; y < src.GetHeight(); ++y) {
        for (int x = 0; x < src.GetWidth(); ++x) {
            const RGBQUAD c = src.GetPixelColor(x, y);
            row[std::size_t(x) * 3] = c.rgbRed;
            row[std::size_t(x) * 3 + 1] = c.rgbGreen;
            row[std::size_t(x) * 3 + 2] = c.rgbBlue;
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<std::uint8_t> out(buf, buf + len);
    std::free(buf);
    return out;
}

}  // namespace testsupport

std::map<std::string, std::string> testsupport::MetadataKeys(const std::string &path)
{
    std::map<std::string, std::string> keys;
    try {
        Exiv2::enableBMFF(); // AVIF outputs too
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(path);
        image->readMetadata();
        for (const auto &d : image->exifData())
            keys[d.key()] = d.toString();
        for (const auto &d : image->xmpData())
            keys[d.key()] = d.toString();
        for (const auto &d : image->iptcData())
            keys[d.key()] = d.toString();
        if (image->iccProfileDefined())
            keys["icc"] = std::to_string(image->iccProfile()->size_);
    } catch (...) {
        keys.clear();
    }
    return keys;
}
