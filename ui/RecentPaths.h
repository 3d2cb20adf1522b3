#pragma once
// A combo box of recently used paths (firmware files, folders, PD and MCU
// files): the newest first, at most five kept.
#include <string>
#include <vector>

class QComboBox;

namespace krv::ui {

constexpr int kRecentPathsKept = 5;

// Puts `path` first and selects it; when the box held five entries or more
// before, the one pushed to sixth place goes. The box's entries after.
std::vector<std::string> addRecentPath(QComboBox* combo, const std::string& path);

}  // namespace krv::ui
