#pragma once
// Whole-file reads and crash-safe whole-file writes for the bench's state:
// a rewrite goes to a temporary file beside the target, is flushed to disk and
// renamed over it, so a reader sees the old or the new file, never half of one.
#include <string>
#include <string_view>

namespace krv::bench {

// A regular file's whole content; anything else (a pipe, a folder) is refused
// at once.
bool readTextFile(const std::string& path, std::string& content, std::string& error);
// Replaces a file whole (a temporary renamed over it): whoever reads it, in
// this process or another, sees the old content or the new, even when the
// writer dies in between. Not flushed to the disk: the files are the state
// of emulated devices, which a crash of the host machine need not keep, and
// a flush per EEPROM write would make every port of a run wait for the
// host's disk in turn.
bool writeFileAtomically(const std::string& path, std::string_view content, std::string& error);
// Adds to the end of a file (created when missing) in one write, unflushed.
bool appendToTextFile(const std::string& path, std::string_view content, std::string& error);

}  // namespace krv::bench
