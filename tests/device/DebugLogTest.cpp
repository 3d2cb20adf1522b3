#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "device/DebugLog.h"
#include "platform/LastError.h"
#include "tests/support/TestPlatform.h"

namespace {

class DebugLogTest : public ::testing::Test {
protected:
    void SetUp() override { vDEBUG_Initial_printf(); }
    void TearDown() override { vDEBUG_SetLevel(0); }
    krv::test::TestPlatform platform;
};

TEST_F(DebugLogTest, EachPrinterEmitsFromItsLevelOn)
{
    using Printer = void (*)(const char*, ...);
    struct Row {
        Printer print;
        const char* prefix;
        int threshold;
    };
    const Row rows[] = {
        {vDEBUG_ERR_printf, "\r\nERR::", 1},
        {vDEBUG_WRN_printf, "\r\nWRN::", 2},
        {vDEBUG_MSG_printf, "\r\nMSG::", 3},
    };
    for (int level = 0; level <= 4; ++level) {
        for (const Row& row : rows) {
            SCOPED_TRACE("level " + std::to_string(level) + " printer " + (row.prefix + 2));
            platform.capture().clear();
            vDEBUG_SetLevel(level);
            row.print("%s:%d: value %d", "CTest::vRun", 12, 7);
            row.print("no caller prefix");
            if (level >= row.threshold) {
                EXPECT_EQ(platform.capture().lines(),
                          (std::vector<std::string>{std::string(row.prefix) + "CTest::vRun:12: value 7",
                                                    std::string(row.prefix) + "no caller prefix"}));
            } else {
                EXPECT_TRUE(platform.capture().lines().empty());
            }
        }
    }
}

TEST_F(DebugLogTest, PrintingKeepsTheCallersLastError)
{
    vDEBUG_SetLevel(4);
    krv::setLastError(1117);
    vDEBUG_ERR_printf("%s:%d: failed , dwErrorCode %d", "CTest::vRun", 1, static_cast<int>(krv::lastError()));
    EXPECT_EQ(krv::lastError(), 1117u);
    EXPECT_TRUE(platform.capture().contains("dwErrorCode 1117"));
}

TEST_F(DebugLogTest, TwoThreadsGiveWholeLines)
{
    vDEBUG_SetLevel(3);
    constexpr int kLines = 300;
    const std::string a(700, 'a');
    const std::string b(900, 'b');
    auto writer = [](const std::string& body) {
        for (int i = 0; i < kLines; ++i)
            vDEBUG_MSG_printf("%s:%d: %s", "CTest::vWriter", i, body.c_str());
    };
    std::thread t1(writer, a);
    std::thread t2(writer, b);
    t1.join();
    t2.join();

    auto lines = platform.capture().lines();
    ASSERT_EQ(lines.size(), 2u * kLines);
    int fromA = 0;
    for (const auto& line : lines) {
        const std::string head = "\r\nMSG::CTest::vWriter:";
        ASSERT_EQ(line.compare(0, head.size(), head), 0) << line.substr(0, 40);
        auto colon = line.find(": ", head.size());
        ASSERT_NE(colon, std::string::npos);
        const std::string body = line.substr(colon + 2);
        ASSERT_TRUE(body == a || body == b) << "a line was cut or mixed";
        fromA += body == a;
    }
    EXPECT_EQ(fromA, kLines);
}

TEST_F(DebugLogTest, OverlongTextIsCutToTheLine)
{
    vDEBUG_SetLevel(1);
    const std::string big(5000, 'x');
    vDEBUG_ERR_printf("%s", big.c_str());
    auto lines = platform.capture().lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), static_cast<size_t>(DEBUG_LINE_MAX));
    EXPECT_EQ(lines[0], "\r\nERR::" + std::string(DEBUG_LINE_MAX - 7, 'x'));
}

TEST(DebugLogWithoutPlatform, LinesAreDropped)
{
    ASSERT_EQ(krv::Platform::currentOrNull(), nullptr);
    vDEBUG_SetLevel(4);
    vDEBUG_ERR_printf("%s:%d: nobody listens", "CTest::vRun", 1);
    vDEBUG_SetLevel(0);
}

}  // namespace
