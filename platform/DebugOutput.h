#pragma once
// The sink of the debug log (OutputDebugStringA on the original platform).
// Each call carries one whole line; implementations must emit it at once.
#include <string_view>

namespace krv {

class DebugOutput {
public:
    virtual ~DebugOutput() = default;
    virtual void write(std::string_view text) = 0;
};

}  // namespace krv
