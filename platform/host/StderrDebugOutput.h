#pragma once
#include "platform/DebugOutput.h"

namespace krv {

// Debug lines to stderr, one write(2) per line so threads never interleave.
class StderrDebugOutput : public DebugOutput {
public:
    void write(std::string_view text) override;
};

}  // namespace krv
