#pragma once
// CRC-32 (IEEE 802.3, reflected, as GPT headers and entries carry it).
#include <cstddef>
#include <cstdint>

namespace krv::bench {

uint32_t crc32(const uint8_t* data, size_t length, uint32_t crc = 0);

}  // namespace krv::bench
