#include "tests/support/TestPlatform.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "platform/linux/LinuxProcesses.h"

namespace krv::test {

namespace {
PlatformServices makeServices()
{
    PlatformServices s;
    s.clock = std::make_unique<VirtualClock>();
    s.debugOutput = std::make_unique<CaptureDebugOutput>();
    s.processes = std::make_unique<LinuxProcesses>();
    s.volumes = std::make_unique<LetterTable>();
    return s;
}
}  // namespace

TestPlatform::TestPlatform()
    : Platform("test", makeServices()),
      clock_(static_cast<VirtualClock*>(&clock())),
      capture_(static_cast<CaptureDebugOutput*>(&debugOutput())),
      letters_(static_cast<LetterTable*>(&volumes())),
      previous_(Platform::currentOrNull())
{
    Platform::setCurrent(this);
}

TestPlatform::~TestPlatform() { Platform::setCurrent(previous_); }

TempDir::TempDir()
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "krvtest-XXXXXX").string();
    if (!::mkdtemp(tmpl.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

}  // namespace krv::test
