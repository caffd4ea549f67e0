// Numbers of a file's bytes in their stored order; the caller has checked
// that the bytes are there.
#pragma once

#include <cstdint>

namespace cxbytes {

inline std::uint32_t Le16(const std::uint8_t *p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8;
}

inline std::uint32_t Le32(const std::uint8_t *p)
{
    return Le16(p) | Le16(p + 2) << 16;
}

inline std::uint32_t Be32(const std::uint8_t *p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

} // namespace cxbytes
