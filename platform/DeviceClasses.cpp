#include "platform/DeviceClasses.h"

#include <cstdio>

namespace krv {

namespace {
int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool readHex(std::string_view text, size_t at, size_t digits, uint64_t& value)
{
    value = 0;
    for (size_t i = 0; i < digits; ++i) {
        int d = hexValue(text[at + i]);
        if (d < 0)
            return false;
        value = value << 4 | static_cast<uint64_t>(d);
    }
    return true;
}
}  // namespace

std::string guidText(const Guid& g, bool lowerCase)
{
    // Written out by hand: scans compare class texts of every device node.
    const char* digits = lowerCase ? "0123456789abcdef" : "0123456789ABCDEF";
    std::string text(38, '-');
    size_t at = 0;
    text[at++] = '{';
    auto put = [&](uint64_t value, int count) {
        for (int i = count - 1; i >= 0; --i)
            text[at++] = digits[(value >> (4 * i)) & 0xF];
    };
    put(g.Data1, 8);
    ++at;
    put(g.Data2, 4);
    ++at;
    put(g.Data3, 4);
    ++at;
    put(uint64_t{g.Data4[0]} << 8 | g.Data4[1], 4);
    ++at;
    for (int i = 2; i < 8; ++i)
        put(g.Data4[i], 2);
    text[at] = '}';
    return text;
}

std::optional<Guid> parseGuid(std::string_view t)
{
    if (t.size() != 38 || t[0] != '{' || t[37] != '}' || t[9] != '-' || t[14] != '-' || t[19] != '-' || t[24] != '-')
        return std::nullopt;
    Guid g;
    uint64_t v = 0;
    if (!readHex(t, 1, 8, v))
        return std::nullopt;
    g.Data1 = static_cast<uint32_t>(v);
    if (!readHex(t, 10, 4, v))
        return std::nullopt;
    g.Data2 = static_cast<uint16_t>(v);
    if (!readHex(t, 15, 4, v))
        return std::nullopt;
    g.Data3 = static_cast<uint16_t>(v);
    const size_t at[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (size_t i = 0; i < 8; ++i) {
        if (!readHex(t, at[i], 2, v))
            return std::nullopt;
        g.Data4[i] = static_cast<uint8_t>(v);
    }
    return g;
}

}  // namespace krv
