#include <gtest/gtest.h>

#include <string>

#include "device/USBUtility.h"
#include "tests/support/TestPlatform.h"

namespace {

class UtilityConversion : public ::testing::Test {
protected:
    krv::test::TestPlatform platform;
    CUSBUtility utility;
};

TEST_F(UtilityConversion, AddLimitSN)
{
    struct Case {
        const char* serial;
        int count;
        int hex;
        const char* expected;
        bool overflow;
    };
    const Case cases[] = {
        // Decimal mode refuses anything but digits and returns the serial unchanged.
        {"AAAABBBB0001", 1, 0, "AAAABBBB0001", true},
        {"12-34", 1, 0, "12-34", true},
        {"", 1, 0, "", true},
        {"AAAABBBB0001", 1, 1, "AAAABBBB0002", false},
        // Leading zeros kept; carries run left.
        {"0009", 16, 0, "0025", false},
        {"00FF", 1, 1, "0100", false},
        {"0099", 1, 0, "0100", false},
        {"12345", 0, 0, "12345", false},
        // A count above the base.
        {"0000", 255, 0, "0255", false},
        {"0000", 255, 1, "00FF", false},
        {"0001", 255, 1, "0100", false},
        // Lower case comes back upper case.
        {"abc0ff", 1, 1, "ABC100", false},
        // Wrap-around keeps the digits' width and is reported.
        {"999", 1, 0, "000", true},
        {"FFF", 2, 1, "001", true},
        {"95", 10, 0, "05", true},
        // Hex serials with other characters: only the trailing hex run moves.
        {"SN-12345678", 2, 1, "SN-1234567A", false},
        {"SN-0000009", 1, 1, "SN-000000A", false},
        {"sn-00ff", 1, 1, "SN-0100", false},
        {"SN-12X9", 1, 1, "SN-12XA", false},
        {"SN-FFFF", 1, 1, "SN-0000", true},
        {"SN-", 1, 1, "SN-", true},
    };
    for (const Case& c : cases) {
        bool overflow = !c.overflow;
        std::string result =
            utility.vAddLimitSN(c.serial, static_cast<uint8_t>(c.count), static_cast<uint8_t>(c.hex), &overflow);
        EXPECT_EQ(result, c.expected) << c.serial << " + " << c.count << (c.hex ? " hex" : " dec");
        EXPECT_EQ(overflow, c.overflow) << c.serial << " + " << c.count << (c.hex ? " hex" : " dec");
    }
    // The flag is optional.
    EXPECT_EQ(utility.vAddLimitSN("999", 1, 0), "000");
}

TEST_F(UtilityConversion, CharToHex)
{
    struct Case {
        const char* text;
        uint32_t value;
    };
    const Case cases[] = {
        {"", 0}, {"4", 4}, {"1f", 0x1F}, {"1F", 0x1F}, {"FF", 0xFF}, {"12345678", 0x12345678}, {"aBcD", 0xABCD},
        // Reading stops at the first character that is no hex digit.
        {"1G2", 1}, {"x4", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(utility.vCharToHex(c.text), c.value) << c.text;
}

TEST_F(UtilityConversion, GuidRoundTrip)
{
    const krv::Guid diskClass{0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};
    const std::string text = utility.vGUIDToCString(diskClass);
    EXPECT_EQ(text, "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");

    krv::Guid back;
    ASSERT_TRUE(utility.vCStringToGUID(text, back));
    EXPECT_EQ(back, diskClass);
    ASSERT_TRUE(utility.vCStringToGUID("{53F56307-B6BF-11D0-94F2-00A0C91EFB8B}", back));
    EXPECT_EQ(back, diskClass);

    for (const char* bad : {"", "{}", "53f56307-b6bf-11d0-94f2-00a0c91efb8b", "{53f56307-b6bf-11d0-94f2-00a0c91efb8g}",
                            "{53f56307xb6bf-11d0-94f2-00a0c91efb8b}"})
        EXPECT_FALSE(utility.vCStringToGUID(bad, back)) << bad;
}

TEST_F(UtilityConversion, WideTextBecomesUtf8)
{
    EXPECT_EQ(utility.WideStrToMultiStr(u"KRV857x Bridge"), "KRV857x Bridge");
    EXPECT_EQ(utility.WideStrToMultiStr(u"Caf\u00e9 \u20ac"), "Caf\xc3\xa9 \xe2\x82\xac");
    EXPECT_EQ(utility.WideStrToMultiStr(u"\U0001F600"), "\xf0\x9f\x98\x80");
    // A lone surrogate keeps the rest of the text.
    const char16_t lone[] = {u'a', 0xD800, u'b', 0};
    EXPECT_EQ(utility.WideStrToMultiStr(lone), "a\xef\xbf\xbd" "b");
}

TEST_F(UtilityConversion, SetControlTextReachesTheWindow)
{
    struct Window : krv::ControlTextWindow {
        void setControlText(int id, const std::string& text) override
        {
            lastId = id;
            lastText = text;
        }
        int lastId = 0;
        std::string lastText;
    } window;
    utility.vSetControlText(&window, 1022, "Start");
    EXPECT_EQ(window.lastId, 1022);
    EXPECT_EQ(window.lastText, "Start");
    utility.vSetControlText(nullptr, 1022, "ignored");
}

}  // namespace
