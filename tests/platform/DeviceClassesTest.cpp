// Class GUIDs as text: the registry's upper-case form, the lower-case form
// device paths and driver keys carry, and the way back.
#include <gtest/gtest.h>

#include "platform/DeviceClasses.h"

namespace krv::test {
namespace {

TEST(DeviceClassesTest, GuidTextInBothCasesAndBack)
{
    struct Case {
        Guid guid;
        const char* upper;
        const char* lower;
    };
    const Case cases[] = {
        {setupclass::kUsb, "{36FC9E60-C465-11CF-8056-444553540000}", "{36fc9e60-c465-11cf-8056-444553540000}"},
        {Guid{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}}, "{00000000-0000-0000-0000-000000000000}",
         "{00000000-0000-0000-0000-000000000000}"},
        {Guid{0xFFFFFFFF, 0xFFFF, 0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
         "{FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF}", "{ffffffff-ffff-ffff-ffff-ffffffffffff}"},
        {Guid{0x0A0B0C0D, 0x0102, 0xA0B0, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}},
         "{0A0B0C0D-0102-A0B0-0123-456789ABCDEF}", "{0a0b0c0d-0102-a0b0-0123-456789abcdef}"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(guidText(c.guid), c.upper);
        EXPECT_EQ(guidText(c.guid, true), c.lower);
        for (const char* text : {c.upper, c.lower}) {
            std::optional<Guid> back = parseGuid(text);
            ASSERT_TRUE(back) << text;
            EXPECT_TRUE(*back == c.guid) << text;
        }
    }
}

}  // namespace
}  // namespace krv::test
