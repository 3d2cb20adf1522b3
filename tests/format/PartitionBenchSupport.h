#pragma once
// A bench with drives to partition and format, the test run from a folder
// of its own (the diskpart script is written to the current folder), and
// the disk image's bytes to judge.
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "device/DebugLog.h"
#include "platform/bench/BenchLayout.h"
#include "tests/support/BenchFixture.h"

namespace krv::test {

class InFolder {
public:
    explicit InFolder(const std::string& folder)
    {
        char buffer[4096];
        previous_ = ::getcwd(buffer, sizeof buffer) ? buffer : ".";
        if (::chdir(folder.c_str()) != 0)
            previous_.clear();
    }
    ~InFolder()
    {
        if (!previous_.empty() && ::chdir(previous_.c_str()) != 0)
            previous_.clear();
    }

private:
    std::string previous_;
};

struct DebugLevel {
    DebugLevel() { vDEBUG_SetLevel(4); }
    ~DebugLevel() { vDEBUG_SetLevel(0); }
};

inline bench::BenchSettings drives(std::vector<uint64_t> sizes, uint32_t sectorSize = 512)
{
    bench::BenchSettings s;
    s.ports.resize(sizes.size());
    for (size_t i = 0; i < sizes.size(); ++i) {
        s.ports[i].diskSize = sizes[i];
        s.ports[i].sectorSize = sectorSize;
    }
    return s;
}

inline std::vector<uint8_t> imageBytes(const std::string& path, uint64_t offset, size_t length)
{
    std::vector<uint8_t> bytes(length);
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(length));
    return bytes;
}

inline uint32_t le32At(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 | uint32_t{b[at + 3]} << 24;
}

}  // namespace krv::test
