#pragma once
// What the settings tests share: a test platform whose message boxes are
// recorded, the golden files, and whole-file reads and writes.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "app/Ini.h"
#include "device/DebugLog.h"
#include "platform/MessageBoxes.h"
#include "tests/support/TestPlatform.h"

// Records print as the files both programs would write for them (the keyless
// fields of the one are keys of the other), so a failed comparison shows the
// fields that differ by name.
inline void PrintTo(const IniRecord& r, std::ostream* os)
{
    *os << "\n" << IniFormatText(r, IniProfileProduction()) << IniFormatText(r, IniProfileVariant())
        << "(version " << r.version << ", SN_Numbers " << r.SN_Numbers << ")\n";
}

namespace krv::test {

inline std::string goldenPath(const std::string& name)
{
    // From the source folder: __FILE__ may be relative to the build folder
    // (a compiler cache rewrites paths), which is not where tests run.
    return (std::filesystem::path(KRV_SOURCE_DIR) / "tests" / "app" / "golden" / name).string();
}

inline std::string readFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFileBytes(const std::string& path, const std::string& data)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

class IniRecordingBoxes : public MessageBoxes {
public:
    int show(const std::string& text, const std::string& caption, uint32_t flags) override
    {
        texts.push_back(text);
        return id::kOk;
    }
    std::vector<std::string> texts;
};

// A settings object of its own per test, on a test platform whose boxes are
// recorded and whose debug log is captured.
class IniFixture {
public:
    explicit IniFixture(const IniProfile& profile = IniProfileProduction())
    {
        platform.setMessageBoxes(&boxes);
        vDEBUG_SetLevel(4);
        ini.vSetProfile(profile);
    }
    ~IniFixture()
    {
        vDEBUG_SetLevel(0);
        platform.setMessageBoxes(nullptr);
    }

    bool boxed(const std::string& text) const
    {
        for (const auto& t : boxes.texts)
            if (t.find(text) != std::string::npos)
                return true;
        return false;
    }

    TestPlatform platform;
    IniRecordingBoxes boxes;
    TempDir dir;
    Ini ini;
};

}  // namespace krv::test
