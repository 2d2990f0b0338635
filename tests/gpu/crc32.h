// CRC-32 as zlib and FFmpeg's framehash compute it, for comparing decoded planes with the reference.
#pragma once

#include <cstdint>
#include <vector>

namespace tav::test::gpu {

inline uint32_t crc32(const std::vector<uint8_t>& bytes)
{
    uint32_t crc = 0xffffffffu;
    for (const uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

}  // namespace tav::test::gpu
