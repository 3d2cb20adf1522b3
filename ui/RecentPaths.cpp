#include "ui/RecentPaths.h"

#include <QComboBox>

namespace krv::ui {

std::vector<std::string> addRecentPath(QComboBox* combo, const std::string& path)
{
    std::vector<std::string> entries;
    if (!combo)
        return entries;
    const int before = combo->count();
    combo->insertItem(0, QString::fromStdString(path));
    if (before >= kRecentPathsKept)
        combo->removeItem(kRecentPathsKept);
    combo->setCurrentIndex(0);
    for (int i = 0; i < combo->count(); ++i)
        entries.push_back(combo->itemText(i).toStdString());
    return entries;
}

}  // namespace krv::ui
