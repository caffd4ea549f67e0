// How each format's encoder writes, beyond the quality: a picture carries
// one (CxImage::SetEncoderSettings) as it carries its quality, and every
// encoder reads the fields of its own format. The defaults write what the
// encoders always wrote.
#pragma once

#include <cstdint>

// JPEG chroma subsampling: by the quality (none from 90 up, else 4:2:0),
// or the factors named.
enum : std::int32_t {
    SUBSAMPLING_AUTO = 0,
    SUBSAMPLING_444 = 444,
    SUBSAMPLING_422 = 422,
    SUBSAMPLING_420 = 420,
};

// TIFF compression, in the order --tif-compression lists them.
enum : std::int32_t {
    TIFCOMPRESS_DEFLATE = 0, // with the horizontal predictor on 8-bit samples
    TIFCOMPRESS_LZW = 1,     // the same predictor
    TIFCOMPRESS_JPEG = 2,    // at the picture's quality; paletted and 1-bit pages widened to 8 bits
    TIFCOMPRESS_NONE = 3,
};

struct CEncoderSettings {
    static constexpr std::int32_t kDefaultPngLevel = 4;
    static constexpr std::int32_t kDefaultWebpEffort = 4;
    static constexpr std::int32_t kDefaultAvifSpeed = 6;
    static constexpr std::int32_t kMaxDpi = 65535; // JFIF's density field

    bool m_bJpegProgressive = false;
    std::int32_t m_nJpegSubsampling = SUBSAMPLING_AUTO;
    std::int32_t m_nPngLevel = kDefaultPngLevel; // zlib 0-9
    std::int32_t m_nTifCompression = TIFCOMPRESS_DEFLATE;
    std::int32_t m_nWebpEffort = kDefaultWebpEffort; // libwebp's method 0-6
    bool m_bWebpLossless = false;                    // lossless at any quality (100 always is)
    std::int32_t m_nAvifSpeed = kDefaultAvifSpeed;   // libavif 0 (slowest) - 10
    // libjxl 1-9; 0 keeps the effort chosen by losslessness (5 lossy, 3 lossless).
    std::int32_t m_nJxlEffort = 0;
    // Dots per inch written where the format keeps one (JFIF, pHYs, the TIFF
    // tags, an EXIF block carried); 0 writes what each format always had.
    std::int32_t m_nDpi = 0;
    // A PDF's page: PAGESIZE_* (documentwriter.h) and the margin in millimetres.
    std::int32_t m_nPageSize = 0;
    std::int32_t m_nPageMargin = 0;

    bool operator==(const CEncoderSettings &) const = default;

    // Whether an output of the type comes out other than with the defaults,
    // so that a same-format file can no longer be a plain copy.
    bool ChangesOutput(std::uint32_t type) const;
};
