#include <gtest/gtest.h>

#include "app/GUIText.h"

namespace {

TEST(GUIText, ResultWordsAndEmptySlots)
{
    EXPECT_EQ(g_GUIText.m_strPass, "PASS");
    EXPECT_EQ(g_GUIText.m_strFail, "FAIL");
    // Spare slots are readable empty captions.
    for (const std::string* slot : {&g_GUIText.m_strBtnSpare1, &g_GUIText.m_strBtnSpare2, &g_GUIText.m_strResultSpare1,
                                    &g_GUIText.m_strResultSpare2, &g_GUIText.m_strResultSpare3,
                                    &g_GUIText.m_strErrSpare, &g_GUIText.m_strDevFuncSpare})
        EXPECT_TRUE(slot->empty());
}

}  // namespace
