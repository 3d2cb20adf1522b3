#pragma once
// The bench a drive benchmark runs on: one bridge drive on USB 3, on the
// real-time clock (time scale 1), with the disk layout it asks for, made in
// a folder of its own.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "benchmarks/SideProcess.h"
#include "platform/bench/Bench.h"
#include "platform/bench/disk/DiskLayoutPlan.h"

namespace krv::benchmark {

struct BenchFolders {
    std::string made;     // what the run made and removes again
    std::string folder;   // the bench's own folder
};

// `given` must not exist yet; empty: a new folder named `prefix`-XXXXXX
// under the system's temporary folder, with the bench inside it.
inline BenchFolders makeOneDriveBench(const std::string& given, const char* prefix, const char* layoutText,
                                      uint64_t diskSize)
{
    BenchFolders f;
    if (given.empty()) {
        std::string pattern = (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
        if (!mkdtemp(pattern.data()))
            fail("cannot make a temporary folder");
        f.made = pattern;
        f.folder = pattern + "/bench";
    } else {
        f.made = given;
        f.folder = given;
    }
    krv::bench::BenchSettings settings;
    settings.timeScale = 1.0;
    settings.systemDiskSize = 256ULL << 20;
    settings.ports.resize(1);
    settings.ports[0].diskSize = diskSize;
    // The benchmarks measure the tool's own cost against the same system
    // calls: a line faster than any link keeps the bench's line model out.
    settings.ports[0].linkMbps = krv::bench::kMaxLinkMbps;
    std::vector<krv::bench::PortStart> starts(1);
    krv::bench::DiskLayoutPlan layout;
    std::string why;
    if (!krv::bench::parseDiskLayoutPlan(layoutText, layout, why))
        fail(why);
    starts[0].disk = layout;
    krv::bench::BenchError error;
    if (!krv::bench::Bench::create(f.folder, settings, error, starts))
        fail("cannot make the bench: " + error.message);
    return f;
}

}  // namespace krv::benchmark
