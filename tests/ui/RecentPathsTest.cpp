// The combo of recent paths: newest first, five kept.
#include <gtest/gtest.h>

#include <QComboBox>

#include "ui/RecentPaths.h"

namespace krv::ui {
namespace {

using Entries = std::vector<std::string>;

TEST(RecentPaths, TheNewestComesFirstAndASixthPushesTheOldestOut)
{
    QComboBox combo;
    EXPECT_EQ(addRecentPath(&combo, "a"), Entries{"a"});
    for (const char* path : {"b", "c", "d", "e"})
        addRecentPath(&combo, path);
    EXPECT_EQ(addRecentPath(&combo, "f"), (Entries{"f", "e", "d", "c", "b"}));
    EXPECT_EQ(combo.currentIndex(), 0);
    EXPECT_EQ(combo.currentText().toStdString(), "f");
    // A path already there is put first once more, as it was chosen again.
    EXPECT_EQ(addRecentPath(&combo, "c"), (Entries{"c", "f", "e", "d", "c"}));

    // A box that somehow held more loses only the entry pushed to sixth.
    QComboBox longer;
    for (const char* path : {"1", "2", "3", "4", "5", "6", "7"})
        longer.addItem(path);
    EXPECT_EQ(addRecentPath(&longer, "0"), (Entries{"0", "1", "2", "3", "4", "6", "7"}));
    EXPECT_TRUE(addRecentPath(nullptr, "x").empty());
}

}  // namespace
}  // namespace krv::ui
