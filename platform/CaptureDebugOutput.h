#pragma once
// A debug-output sink that keeps every line, for tests that check what the
// system traced.
#include <mutex>
#include <string>
#include <vector>

#include "platform/DebugOutput.h"

namespace krv {

class CaptureDebugOutput : public DebugOutput {
public:
    void write(std::string_view text) override;
    std::vector<std::string> lines() const;
    std::string joined() const;
    void clear();
    bool contains(std::string_view needle) const;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace krv
