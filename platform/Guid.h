#pragma once
// A globally unique identifier laid out as the window system lays it out, so
// that interface-class ids can be written and compared field by field.
#include <cstdint>

namespace krv {

struct Guid {
    uint32_t Data1 = 0;
    uint16_t Data2 = 0;
    uint16_t Data3 = 0;
    uint8_t Data4[8] = {};

    friend bool operator==(const Guid&, const Guid&) = default;
};

}  // namespace krv
