#include <gtest/gtest.h>

#include "platform/Paths.h"

namespace {

TEST(Paths, JoinAcceptsEitherSeparator)
{
    struct Case {
        const char* folder;
        const char* name;
        const char* joined;
    };
    const Case cases[] = {
        {"/opt/tool", "kv_mp_Toolv0.6.ini", "/opt/tool/kv_mp_Toolv0.6.ini"},
        {"/opt/tool/", "a.txt", "/opt/tool/a.txt"},
        {"/opt/tool", "fw\\KV_USB4_1.bin", "/opt/tool/fw/KV_USB4_1.bin"},
        {"C:\\tool\\", "\\res\\pd.bmp", "C:/tool/res/pd.bmp"},
        {".\\res", "pd.bmp", "./res/pd.bmp"},
        {"", "a.txt", "a.txt"},
        {"/opt/tool", "", "/opt/tool"},
        {"/", "a.txt", "/a.txt"},
        {"/", "/a.txt", "/a.txt"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(krv::joinPath(c.folder, c.name), c.joined) << c.folder << " + " << c.name;
}

TEST(Paths, FolderAndFileName)
{
    EXPECT_EQ(krv::parentFolder("/opt/tool/KRV857xVIVade"), "/opt/tool");
    EXPECT_EQ(krv::parentFolder("C:\\tool\\VIVade.exe"), "C:/tool");
    EXPECT_EQ(krv::parentFolder("/KRV857xVIVade"), "/");
    EXPECT_EQ(krv::parentFolder("KRV857xVIVade"), "");
    EXPECT_EQ(krv::fileNameOf("fw\\KV_USB4_1.bin"), "KV_USB4_1.bin");
    EXPECT_EQ(krv::fileNameOf("plain"), "plain");
}

}  // namespace
