// The descriptor texts of a port's device: number formats, trimming and case,
// strings with odd characters, missing strings, and the serial-number cache
// that stands in for a serial string that cannot be read.
#include <gtest/gtest.h>

#include <map>

#include "device/KrvnUSBDev.h"
#include "tests/support/TestPlatform.h"

namespace {

// One hub port with a device whose strings a test chooses; a string it does
// not hold stalls, as a device does.
class OneDeviceHub : public krv::UsbHub {
public:
    std::map<uint8_t, std::u16string> strings;   // index -> text
    bool languages = true;
    int stringRequests = 0;

    bool nodeInformation(krv::UsbNodeInformation& info) override
    {
        info.numberOfPorts = 4;
        return true;
    }
    bool connectionInformation(uint32_t, krv::UsbConnectionInfo&) override { return false; }
    bool driverKeyName(uint32_t, std::string&) override { return false; }
    bool connectionName(uint32_t, std::string&) override { return false; }
    bool descriptor(uint32_t, uint16_t value, uint16_t, uint16_t length, std::vector<uint8_t>& data) override
    {
        ++stringRequests;
        data.clear();
        if ((value >> 8) != krv::usbdesc::kString)
            return false;
        const uint8_t index = value & 0xFF;
        if (index == 0) {
            if (!languages)
                return false;
            data = {4, 3, 0x09, 0x04};
        } else {
            auto it = strings.find(index);
            if (it == strings.end())
                return false;
            data = {static_cast<uint8_t>(2 + 2 * it->second.size()), 3};
            for (char16_t unit : it->second) {
                data.push_back(static_cast<uint8_t>(unit & 0xFF));
                data.push_back(static_cast<uint8_t>(unit >> 8));
            }
        }
        if (data.size() > length)
            data.resize(length);
        return true;
    }
};

krv::UsbDeviceDescriptor descriptorOf(uint16_t vid, uint16_t pid, uint16_t bcd, uint8_t iMfr, uint8_t iProduct,
                                      uint8_t iSerial)
{
    krv::UsbDeviceDescriptor d;
    d.idVendor = vid;
    d.idProduct = pid;
    d.bcdDevice = bcd;
    d.iManufacturer = iMfr;
    d.iProduct = iProduct;
    d.iSerialNumber = iSerial;
    return d;
}

class DeviceDescriptorTexts : public ::testing::Test {
protected:
    krv::test::TestPlatform platform;
    CKrvnUSBDev dev;
    OneDeviceHub hub;
    CUSBWalkState walk;

    void SetUp() override { walk.m_strCurrentHubName = "\\\\.\\USB#ROOT_HUB30#0"; }
};

TEST_F(DeviceDescriptorTexts, NumbersAndStringsTakeTheirTextForms)
{
    hub.strings = {{1, u"  Maker Co. "}, {2, u"Bench Drive"}, {3, u" ab12cd "}};
    EXPECT_EQ(dev.GetDeviceDescriptor(walk, hub, 2, 0, descriptorOf(0x1d6b, 0x857a, 0x010A, 1, 2, 3)), 0);
    EXPECT_EQ(walk.m_strVID, "1D6B");
    EXPECT_EQ(walk.m_strPID, "857A");
    EXPECT_EQ(walk.m_strVersion, "010a");   // the release keeps its case
    EXPECT_EQ(walk.m_strManufacturer, "Maker Co.");
    EXPECT_EQ(walk.m_strProduct, "Bench Drive");
    EXPECT_EQ(walk.m_strSerialNumber, "AB12CD");
}

TEST_F(DeviceDescriptorTexts, CharactersOutsidePrintableAsciiReadAsTwo)
{
    hub.strings = {{1, u"Caf\u00e9\u4e2d"}, {2, u"A\tB"}, {3, u"SN\u00ff1"}};
    dev.GetDeviceDescriptor(walk, hub, 1, 0, descriptorOf(1, 2, 3, 1, 2, 3));
    EXPECT_EQ(walk.m_strManufacturer, "Caf2-");   // only the low byte of each unit counts
    EXPECT_EQ(walk.m_strProduct, "A2B");
    EXPECT_EQ(walk.m_strSerialNumber, "SN21");
}

TEST_F(DeviceDescriptorTexts, DeviceWithoutASerialTextIsReported)
{
    struct Case {
        const char* what;
        uint8_t iSerial;
        bool hasString;
        bool languages;
    } cases[] = {
        {"no serial string index", 0, false, true},
        {"serial string stalls", 3, false, true},
        {"serial string of blanks", 3, true, true},
        {"no language table", 3, true, false},
    };
    for (const Case& c : cases) {
        OneDeviceHub h;
        h.languages = c.languages;
        h.strings = {{1, u"Maker"}, {2, u"Drive"}};
        if (c.hasString)
            h.strings[3] = u"   ";
        CUSBWalkState w;
        w.m_strCurrentHubName = walk.m_strCurrentHubName;
        EXPECT_EQ(dev.GetDeviceDescriptor(w, h, 1, 0, descriptorOf(1, 2, 3, 1, 2, c.iSerial)), DESCRIPTOR_NO_SERIAL)
            << c.what;
        EXPECT_EQ(w.m_strSerialNumber, "") << c.what;
    }
}

TEST_F(DeviceDescriptorTexts, UnreadableSerialComesFromTheCacheOfTheSamePortOnly)
{
    hub.strings = {{1, u"Maker"}, {2, u"Drive"}, {3, u"SN0001"}};
    const auto d = descriptorOf(0x2c4b, 0x8574, 0x100, 1, 2, 3);
    ASSERT_EQ(dev.GetDeviceDescriptor(walk, hub, 2, 0, d), 0);

    // After a reset the serial string stalls: the same port gets its serial back ...
    hub.strings.erase(3);
    CUSBWalkState again;
    again.m_strCurrentHubName = walk.m_strCurrentHubName;
    EXPECT_EQ(dev.GetDeviceDescriptor(again, hub, 2, 0, d), 0);
    EXPECT_EQ(again.m_strSerialNumber, "SN0001");
    // ... a drive of the same model on another port never borrows it.
    EXPECT_EQ(dev.GetDeviceDescriptor(again, hub, 3, 0, d), DESCRIPTOR_NO_SERIAL);
    EXPECT_EQ(again.m_strSerialNumber, "");
}

}  // namespace
