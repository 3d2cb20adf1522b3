#pragma once
// format.com, label.exe and the volume-label request (SetVolumeLabel) on the
// bench. The real Linux tools lay down what the machine's own programs
// would: mkntfs an NTFS, mkfs.exfat an exFAT, ntfslabel, exfatlabel and
// mlabel (FAT) the label. A tool works on a sparse scratch copy of the
// volume's byte range; what it changed goes back to the disk through the
// device's transfers, so a drive that fails or has gone fails the format and
// the port's log shows the writes. What the volume carries afterwards is
// read from its bytes like that of any volume.
//
//   format X: /FS:NTFS|EXFAT /Q [/V:label] [/Y]    ("X:/Q" is read as "X: /Q")
//   label X: label words
//
// format locks the volume (an open handle of anyone else refuses it), writes,
// dismounts and unlocks it. It makes the file system the way the machine's
// format picks by default: the sector size of the disk, NTFS clusters of 4 KiB
// up to 16 TiB (8, 16 KiB above), exFAT clusters of 4 KiB up to 256 MiB,
// 32 KiB up to 32 GiB, 128 KiB above; the boot sector counts the sectors
// before the volume. Only the quick format (/Q) is modelled. mkfs.exfat takes
// its sector size from the device, so an exFAT on a 4096-byte-sector disk is
// made through a loop device of that sector size (the bench then needs root).
//
// Exit codes as format's: 0 done, 1 bad parameters, 4 failed, 5 declined;
// label's: 0 done, 1 failed.
#include <string>
#include <vector>

#include "platform/ConsolePrograms.h"

namespace krv::bench {

class BenchDevices;

ConsoleResult runFormat(BenchDevices& devices, const std::vector<std::string>& args, const std::string& input);
ConsoleResult runLabel(BenchDevices& devices, const std::vector<std::string>& args);

// SetVolumeLabel("X:\", label): an empty label removes it. False with the
// last error: 2 no such volume, 1005 no file system, 154 longer than the
// file system takes (NTFS 32 characters, exFAT and FAT 11), 123 a character
// FAT refuses, 32 someone holds the volume exclusively (a format), 1117 the
// tool or the disk failed.
bool setVolumeLabel(BenchDevices& devices, char letter, const std::string& label);

}  // namespace krv::bench
