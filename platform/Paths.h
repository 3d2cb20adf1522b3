#pragma once
// The one way paths are put together. Stored settings and typed entries may
// carry a Windows separator ("fw\\KV_USB4_x.bin"); it is accepted and turned
// into '/', the only separator this system passes to the file system.
#include <string>
#include <string_view>

namespace krv {

// The path with every '\\' turned into '/'.
std::string toNativeSeparators(std::string_view path);

// `folder` and `name` joined by exactly one '/'. An empty folder gives the
// name alone; an empty name gives the folder. Separators of either kind are
// accepted in both parts.
std::string joinPath(std::string_view folder, std::string_view name);

// The part of `path` before its last separator ("" when there is none; "/"
// for a file in the root).
std::string parentFolder(std::string_view path);

// The part of `path` after its last separator.
std::string fileNameOf(std::string_view path);

}  // namespace krv
