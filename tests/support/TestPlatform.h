#pragma once
// A platform for unit tests: virtual clock, captured debug output, the real
// process table. It installs itself as the current platform for its life.
#include <memory>

#include "platform/CaptureDebugOutput.h"
#include "platform/Platform.h"
#include "platform/VirtualClock.h"

namespace krv::test {

class TestPlatform : public Platform {
public:
    TestPlatform();
    ~TestPlatform() override;

    VirtualClock& virtualClock() { return *clock_; }
    CaptureDebugOutput& capture() { return *capture_; }
    LetterTable& letters() { return *letters_; }

private:
    VirtualClock* clock_;
    CaptureDebugOutput* capture_;
    LetterTable* letters_;
    Platform* previous_;
};

// A fresh empty folder under the system's temporary folder, removed with
// everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

}  // namespace krv::test
