#include "platform/SystemInfo.h"

#include <cctype>

#include "platform/LastError.h"

namespace krv {

bool NoSystemInfo::setActivePowerScheme(const std::string&)
{
    setLastError(winerr::kFileNotFound);
    return false;
}

bool isPowerSchemeGuid(const std::string& text)
{
    static constexpr size_t kDashes[] = {8, 13, 18, 23};
    if (text.size() != 36)
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == kDashes[0] || i == kDashes[1] || i == kDashes[2] || i == kDashes[3];
        if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i])))
            return false;
    }
    return true;
}

}  // namespace krv
