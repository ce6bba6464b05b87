// Little-endian loads and stores: every binary format the program reads or writes (registry
// DWORDs, wave formats, message trailers, RIFF chunks) is little-endian and is read and written
// field by field through these, never by casting structures onto bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace korrin::platform {

inline std::uint16_t LoadLE16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

inline std::uint32_t LoadLE32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

inline void StoreLE16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

inline void StoreLE32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

inline void AppendLE16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    std::uint8_t b[2];
    StoreLE16(b, v);
    out.insert(out.end(), b, b + 2);
}

inline void AppendLE32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    std::uint8_t b[4];
    StoreLE32(b, v);
    out.insert(out.end(), b, b + 4);
}

}  // namespace korrin::platform
