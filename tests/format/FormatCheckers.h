#pragma once
// The outside checkers that judge a volume the tool wrote: fsck.fat for the
// FAT32 structure, mtools for reading and writing files on it, the exFAT and
// NTFS checkers for the volumes format.com made. A volume is an image file,
// or a byte range of one ("file@@offset" for mtools).
#include <string>

#include "tests/support/RunTool.h"

namespace krv::test {

inline ToolRun runChecker(const std::string& program, const std::vector<std::string>& args)
{
    RunOptions options;
    options.timeoutSeconds = 120;
    options.env = {"MTOOLS_SKIP_CHECK=1", "MTOOLS_NO_VFAT=0", "LC_ALL=C"};
    return runProgram(program, args, options);
}

inline ToolRun fsckFat(const std::string& image) { return runChecker("/usr/sbin/fsck.fat", {"-n", "-v", image}); }

// mtools' label line, e.g. " Volume label is STORE"; empty when none.
inline std::string mtoolsLabel(const std::string& image)
{
    ToolRun run = runChecker("/usr/bin/mlabel", {"-s", "-i", image, "::"});
    return run.exitCode == 0 ? run.out : std::string();
}

}  // namespace krv::test
