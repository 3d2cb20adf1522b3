#include "platform/bench/disk/Crc32.h"

#include <array>

namespace krv::bench {

namespace {
const std::array<uint32_t, 256>& table()
{
    static const std::array<uint32_t, 256> t = [] {
        std::array<uint32_t, 256> entries{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320U ^ (c >> 1) : c >> 1;
            entries[i] = c;
        }
        return entries;
    }();
    return t;
}
}  // namespace

uint32_t crc32(const uint8_t* data, size_t length, uint32_t crc)
{
    crc = ~crc;
    for (size_t i = 0; i < length; ++i)
        crc = table()[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

}  // namespace krv::bench
