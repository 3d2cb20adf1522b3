#pragma once
// Helpers shared by the utility object's tests.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "device/DebugLog.h"
#include "platform/MessageBoxes.h"
#include "tests/support/TestPlatform.h"

namespace krv::test {

inline std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeAll(const std::string& path, const std::string& data)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

// Message boxes that record what was asked and give a fixed answer.
class RecordingMessageBoxes : public MessageBoxes {
public:
    struct Box {
        std::string text;
        std::string caption;
        uint32_t flags;
    };
    int show(const std::string& text, const std::string& caption, uint32_t flags) override
    {
        boxes.push_back({text, caption, flags});
        return answer;
    }
    std::vector<Box> boxes;
    int answer = id::kOk;
};

// Runs a test in a fresh current folder and goes back afterwards.
class InTempCurrentFolder {
public:
    InTempCurrentFolder() : previous_(std::filesystem::current_path()) { std::filesystem::current_path(dir_.path()); }
    ~InTempCurrentFolder() { std::filesystem::current_path(previous_); }
    const TempDir& dir() const { return dir_; }

private:
    TempDir dir_;
    std::filesystem::path previous_;
};

}  // namespace krv::test
