#pragma once
// The platform on the emulated bench in a folder.
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace krv {

std::unique_ptr<Platform> createBenchPlatform(const std::string& folder, std::string& error);

}  // namespace krv
