#include "imaging/gifcanvas.h"

#include <algorithm>
#include <array>

namespace gifcanvas {

namespace {

// Screens up to this many pixels are always composed whole.
constexpr std::uint64_t kFreePixels = std::uint64_t(1) << 16;
constexpr std::uint64_t kSlack = 4;
constexpr int kCodes = 4096; // codes after a clear before strings stop growing

// Bits and pixels of the first k codes after a clear, each as cheap and as
// long as it can be: code k needs at least bit_width(k + 1) bits (at most 12)
// and yields at most min(k + 1, 4096) pixels.
struct Prefix {
    std::array<std::uint64_t, kCodes + 1> bits{}, pixels{};
    Prefix()
    {
        for (int k = 0; k < kCodes; ++k) {
            int w = 1;
            while (w < 12 && (1 << w) <= k + 1)
                ++w;
            bits[k + 1] = bits[k] + std::uint64_t(w);
            pixels[k + 1] = pixels[k] + std::uint64_t(k + 1);
        }
    }
};

} // namespace

std::uint64_t MaxLzwPixels(std::uint64_t dataBytes)
{
    static const Prefix prefix;
    if (dataBytes > (std::uint64_t(1) << 40))
        return std::uint64_t(1) << 62;
    const std::uint64_t bits = dataBytes * 8;
    if (bits >= prefix.bits[kCodes])
        return prefix.pixels[kCodes] + (bits - prefix.bits[kCodes]) / 12 * kCodes;
    const auto *end = std::upper_bound(prefix.bits.begin(), prefix.bits.end(), bits);
    return prefix.pixels[std::size_t(end - prefix.bits.begin() - 1)];
}

bool Choose(int width, int height, const std::vector<Frame> &frames, Area &area)
{
    area = Area{0, 0, width, height};
    std::uint64_t painted = 0;
    std::int64_t x0 = width, y0 = height, x1 = 0, y1 = 0;
    for (const Frame &f : frames) {
        const std::int64_t l = std::max<std::int64_t>(0, f.left), t = std::max<std::int64_t>(0, f.top);
        const std::int64_t r = std::min<std::int64_t>(width, f.left + f.width);
        const std::int64_t b = std::min<std::int64_t>(height, f.top + f.height);
        if (l >= r || t >= b)
            continue;
        painted += std::min(std::uint64_t((r - l) * (b - t)), MaxLzwPixels(f.dataBytes));
        x0 = std::min(x0, l);
        y0 = std::min(y0, t);
        x1 = std::max(x1, r);
        y1 = std::max(y1, b);
    }
    const std::uint64_t allowed = std::max(kFreePixels, painted * kSlack);
    if (std::uint64_t(width) * std::uint64_t(height) <= allowed)
        return true;
    if (x0 >= x1 || std::uint64_t(x1 - x0) * std::uint64_t(y1 - y0) > allowed)
        return false;
    area = Area{int(x0), int(y0), int(x1 - x0), int(y1 - y0)};
    return true;
}

} // namespace gifcanvas
