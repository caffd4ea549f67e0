// Times the steps of a typical batch job on a photo-sized picture: decode,
// reduced decode, resample, the content-aware crop's placing, sharpen,
// quantise and encode; then the tone steps against the decode and encode of
// a 2560 x 1600 photo, on one thread. Prints the median of several rounds of
// each, in milliseconds.
#include "convert/contentgravity.h"
#include "convert/convertjob.h"
#include "imaging/cximage.h"
#include "imaging/cximagegif.h"
#include "imaging/formats.h"
#include "imaging/octreequantizer.h"
#include "convert/pipeline.h"
#include "imaging/adjust.h"
#include "imaging/runresources.h"

#include <QGuiApplication>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

CxImage MakePhoto(int w, int h)
{
    // Smooth fields with fine texture: compresses and resamples like a photo.
    CxImage img;
    img.Create(w, h, 24);
    for (int y = 0; y < h; ++y) {
        BYTE *row = img.GetBits(y);
        for (int x = 0; x < w; ++x) {
            const double fx = double(x) / w, fy = double(y) / h;
            const double tex = std::sin(x * 0.9 + std::cos(y * 0.37) * 3) * 12;
            row[x * 3] = BYTE(std::clamp(128 + 100 * std::sin(fx * 6 + fy * 2) + tex, 0.0, 255.0));
            row[x * 3 + 1] = BYTE(std::clamp(120 + 90 * std::cos(fy * 5 - fx) + tex, 0.0, 255.0));
            row[x * 3 + 2] = BYTE(std::clamp(110 + 80 * std::sin(fx * fy * 9) - tex, 0.0, 255.0));
        }
    }
    return img;
}

double MedianMs(int rounds, const std::function<void()> &work)
{
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char **argv)
{
    ApplyProcessMemorySettings();
    QGuiApplication app(argc, argv);
    const int w = 6000, h = 4000, rounds = 5;
    const CxImage photo = MakePhoto(w, h);

    CxMemFile jpegOut;
    jpegOut.Open();
    CxImage encoder = photo;
    encoder.SetJpegQuality(90);
    if (!encoder.Encode(&jpegOut, TypeFromExtension("jpg"))) {
        std::fprintf(stderr, "cannot encode the test photo\n");
        return 1;
    }
    const std::int64_t jpegSize = jpegOut.Size();
    const std::uint8_t *jpeg = jpegOut.GetBuffer(false);

    std::printf("picture %dx%d, JPEG %lld bytes, median of %d rounds\n", w, h, (long long)jpegSize, rounds);
    auto report = [](const char *what, double ms) { std::printf("  %-34s %9.1f ms\n", what, ms); };

    report("decode JPEG", MedianMs(rounds, [&] {
               CxImage img;
               img.Decode(jpeg, std::size_t(jpegSize));
           }));
    report("decode JPEG reduced for 800x600", MedianMs(rounds, [&] {
               CxImage img;
               img.Decode(jpeg, std::size_t(jpegSize), {},
                          {.hintWidth = 800, .hintHeight = 600});
           }));
    report("resample to 800x533", MedianMs(rounds, [&] {
               CxImage img = photo;
               img.Resample(800, 533, 0);
           }));
    report("resample to 96x64", MedianMs(rounds, [&] {
               CxImage img = photo;
               img.Resample(96, 64, 0);
           }));
    // Quarter and half turns share the transform that turns a file's
    // recorded orientation upright (6 and 3).
    CxImage turned = photo;
    report("turn right 6000x4000", MedianMs(rounds, [&] {
               CxImage img;
               turned.RotateRight(&img);
           }));
    report("turn half 6000x4000", MedianMs(rounds, [&] {
               CxImage img;
               turned.Rotate180(&img);
           }));
    // Where the content-aware gravities place a 1:1 crop of the whole photo.
    report("place 4000x4000 by attention",
           MedianMs(rounds, [&] { ContentCrop(photo, 4000, 4000, GRAVITY_ATTENTION); }));
    report("place 4000x4000 by entropy",
           MedianMs(rounds, [&] { ContentCrop(photo, 4000, 4000, GRAVITY_ENTROPY); }));
    CxImage small = photo;
    small.Resample(800, 533, 0);
    report("sharpen 800x533", MedianMs(rounds, [&] {
               CxImage img = small;
               img.Filter(kSharpenKernel, 3, 7, 0);
           }));
    report("encode JPEG q95 800x533", MedianMs(rounds, [&] {
               CxMemFile out;
               out.Open();
               CxImage img = small;
               img.SetJpegQuality(95);
               img.Encode(&out, TypeFromExtension("jpg"));
           }));
    report("octree + dither 800x533 for GIF", MedianMs(rounds, [&] {
               CxImage img = small;
               CConvertJob job;
               PrepareForOutput(img, TypeFromExtension("gif"), job, false);
           }));
    report("encode PNG 800x533", MedianMs(rounds, [&] {
               CxMemFile out;
               out.Open();
               CxImage img = small;
               img.Encode(&out, TypeFromExtension("png"));
           }));

    // The tone steps bench/tone.sh runs, on one thread as a batch runs
    // them, against what a plain run does with such a photo.
    CxImage::SetThreadLimit(1);
    const CxImage wide = MakePhoto(2560, 1600);
    CxMemFile wideJpeg;
    wideJpeg.Open();
    CxImage wideEncoder = wide;
    wideEncoder.SetJpegQuality(90);
    wideEncoder.Encode(&wideJpeg, TypeFromExtension("jpg"));
    const std::uint8_t *wideBytes = wideJpeg.GetBuffer(false);
    const std::size_t wideSize = std::size_t(wideJpeg.Size());
    const double plain = MedianMs(rounds * 2, [&] {
        CxImage img;
        img.Decode(wideBytes, wideSize);
        CxMemFile out;
        out.Open();
        img.SetJpegQuality(90);
        img.Encode(&out, TypeFromExtension("jpg"));
    });
    cxadjust::ToneSettings tone;
    tone.autoLevels = true;
    tone.brightness = tone.contrast = 10;
    tone.gamma = 1.2;
    tone.saturation = 20;
    CxImage toned = wide;
    // Applied again and again to the same pixels: the same work each time.
    const double adjust = MedianMs(rounds * 2, [&] { cxadjust::ApplyTone(toned, tone); });
    cxadjust::ToneSettings curve = tone;
    curve.saturation = 0;
    const double curveOnly = MedianMs(rounds * 2, [&] { cxadjust::ApplyTone(toned, curve); });
    std::printf("2560x1600, one thread\n");
    report("decode + encode JPEG q90", plain);
    report("tone steps (levels to saturation)", adjust);
    report("tone steps without saturation", curveOnly);
    std::printf("  tone steps / plain run: %.1f %% (target at most 10 %%)\n", 100.0 * adjust / plain);
    return 0;
}
