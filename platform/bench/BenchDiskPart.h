#pragma once
// diskpart on the bench: "diskpart /s SCRIPT" reads the script and carries
// out what its lines ask of the bench's disks, with diskpart's own rules:
// `clean` removes the partition table, `convert gpt` puts the reserved
// partition first (so a disk's first partition of its own is partition 2),
// a new partition fills the free space from 1 MiB (or from its offset in
// KB) and its first sectors are cleared, `assign` gives its volume the
// letter. The whole script is checked before the first change: a line it
// does not know, a disk that does not exist, the system disk, a letter in
// use or a partition that does not fit fails the run (non-zero exit code)
// with every disk as it was.
#include <string>
#include <vector>

#include "platform/ConsolePrograms.h"

namespace krv::bench {

class BenchDevices;

ConsoleResult runDiskPart(BenchDevices& devices, const std::vector<std::string>& args);

}  // namespace krv::bench
