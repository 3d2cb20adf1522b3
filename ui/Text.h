#pragma once
// Text crosses into the view in one place. The system keeps its texts as
// 8-bit strings; on this platform they are UTF-8 (the locale's encoding and
// the file system's), so the view converts with UTF-8 both ways. QString
// never leaves the window layer.
#include <string>

#include <QString>

namespace krv::ui {

inline QString toQt(const std::string& text) { return QString::fromStdString(text); }
inline std::string fromQt(const QString& text) { return text.toStdString(); }

}  // namespace krv::ui
