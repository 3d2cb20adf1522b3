// The record's checks: which field a failure clears, which code wins, which
// message the operator sees, and the limits the check hands to the device
// object.
#include <gtest/gtest.h>

#include <functional>

#include "device/KrvnUSBDev.h"
#include "tests/app/IniTestSupport.h"

namespace krv::test {
namespace {

struct CheckCase {
    const char* name;
    std::function<void(IniRecord&)> change;
    uint8_t code;
    std::vector<std::string> messages;   // boxes, in order
    std::function<void(const IniRecord&)> expect;
};

void PrintTo(const CheckCase& c, std::ostream* os)
{
    *os << c.name;
}

const CheckCase kCases[] = {
    {"Defaults", [](IniRecord&) {}, 0, {}, [](const IniRecord&) {}},
    {"SerialOf20Passes", [](IniRecord& r) { r.serial_number.set(std::string(20, '1')); }, 0, {},
     [](const IniRecord& r) { EXPECT_EQ(r.serial_number.length(), 20u); }},
    {"SerialOf21", [](IniRecord& r) { r.serial_number.set(std::string(21, '1')); }, 2, {"Invalid SN Size"},
     [](const IniRecord& r) { EXPECT_TRUE(r.serial_number.empty()); }},
    {"SerialNotHexWhenAsked",
     [](IniRecord& r) {
         r.Check_SerialNumber = 1;
         r.serial_number.set("AAAA-BBBB");
     },
     4, {"Invalid SN String"}, [](const IniRecord& r) { EXPECT_TRUE(r.serial_number.empty()); }},
    {"LowerCaseHexPasses",
     [](IniRecord& r) {
         r.Check_SerialNumber = 1;
         r.serial_number.set("abcdef012345");
     },
     0, {}, [](const IniRecord&) {}},
    {"SerialNotHexWhenNotAsked", [](IniRecord& r) { r.serial_number.set("AAAA-BBBB"); }, 0, {},
     [](const IniRecord& r) { EXPECT_EQ(r.serial_number, "AAAA-BBBB"); }},
    {"Manufacturer37", [](IniRecord& r) { r.manufacturer_string.set(std::string(37, 'm')); }, 2,
     {"Invalid Manufacturer Size"}, [](const IniRecord& r) { EXPECT_TRUE(r.manufacturer_string.empty()); }},
    {"Product33", [](IniRecord& r) { r.product_string.set(std::string(33, 'p')); }, 2, {"Invalid Product Size"},
     [](const IniRecord& r) { EXPECT_TRUE(r.product_string.empty()); }},
    {"Label12OnNtfs",
     [](IniRecord& r) {
         r.format_drive_type = 0;
         r.drive_label_name.set("TWELVE_CHARS");
     },
     0, {}, [](const IniRecord& r) { EXPECT_EQ(r.drive_label_name, "TWELVE_CHARS"); }},
    {"Label12OnFat32",
     [](IniRecord& r) {
         r.format_drive_type = 1;
         r.drive_label_name.set("TWELVE_CHARS");
     },
     5, {"Invalid DiskLabel Size"}, [](const IniRecord& r) { EXPECT_TRUE(r.drive_label_name.empty()); }},
    {"LastFailureDecides",
     [](IniRecord& r) {
         r.serial_number.set(std::string(21, '1'));
         r.format_drive_type = 2;
         r.drive_label_name.set("TWELVE_CHARS");
         r.product_string.set(std::string(33, 'p'));
     },
     5, {"Invalid SN Size", "Invalid Product Size", "Invalid DiskLabel Size"},
     [](const IniRecord& r) {
         EXPECT_TRUE(r.serial_number.empty());
         EXPECT_TRUE(r.product_string.empty());
         EXPECT_EQ(r.manufacturer_string, "Korvane");
     }},
};

class IniCheckTest : public ::testing::TestWithParam<CheckCase> {};

TEST_P(IniCheckTest, Check)
{
    const CheckCase& c = GetParam();
    IniFixture f;
    f.ini.vSetDefaultSettings();
    f.boxes.texts.clear();
    c.change(f.ini.m_pINI);
    EXPECT_EQ(f.ini.vCheckINIType(), c.code);
    EXPECT_EQ(f.boxes.texts, c.messages);
    c.expect(f.ini.m_pINI);
}

INSTANTIATE_TEST_SUITE_P(Records, IniCheckTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(IniCheck, SetsTheLimitsOfTheDeviceObject)
{
    IniFixture f;
    CKrvnUSBDev& device = g_UsbDev;
    f.ini.m_pINI.format_drive_type = 1;
    EXPECT_EQ(f.ini.vCheckINIType(), 0);
    EXPECT_EQ(device.m_ucDevice_DiskLabel_Len, 11);
    EXPECT_EQ(device.m_ucConfig_SN_Len, 20);
    EXPECT_EQ(device.m_ucConfig_Manufacturer_Len, 36);
    EXPECT_EQ(device.m_ucConfig_Product_Len, 32);
    EXPECT_EQ(device.m_ucConfig_VID_Len, 4);
    EXPECT_EQ(device.m_ucConfig_T10Vendor_Len, 8);
    EXPECT_EQ(device.m_ucConfig_T10Product_Len, 16);
    f.ini.m_pINI.format_drive_type = 0;
    f.ini.vCheckINIType();
    EXPECT_EQ(device.m_ucDevice_DiskLabel_Len, 32);
}

TEST(IniCheck, EveryConfigFormatIsAccepted)
{
    for (int format = 0; format < 256; ++format) {
        CConfigFieldLength lengths;
        EXPECT_TRUE(lengths.vSetDefaultConfigFieldLength(static_cast<uint8_t>(format)));
        EXPECT_EQ(lengths.m_ucConfig_SN_Len, 20);
    }
}

}  // namespace
}  // namespace krv::test
