// The bridge status readers against bench bridges whose registers hold the
// values under test (set as the bench's register presets), read through the
// real register commands.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "device/KrvnUSBDev.h"
#include "tests/device/DeviceBenchSupport.h"

namespace krv::test {
namespace {

using bench::FaultKind;

bench::PortSettings portOf(const char* pszChip, const char* pszLink = "USB3", int nRevision = -1,
                           std::map<uint32_t, uint8_t> registers = {}, const char* pszSpeed = "")
{
    bench::PortSettings port;
    port.chip = pszChip;
    port.link = pszLink;
    port.speed = pszSpeed;
    port.revision = nRevision;
    port.registers = std::move(registers);
    return port;
}

// A bench of the given ports, a handle on each and the readers' object.
class StatusBench {
public:
    explicit StatusBench(std::vector<bench::PortSettings> ports) : bench(settingsOf(std::move(ports)))
    {
        for (int p = 1; p <= bench.bench().portCount(); ++p)
            handles.emplace_back(CreateDriveHandle(DriveKind::PhysicalDrive, bench.physicalDrive(p)));
    }
    HANDLE h(int port) { return handles[port - 1].get(); }

    BenchFixture bench;
    std::vector<CDriveHandle> handles;
    CKrvnUSBDev dev;

private:
    static bench::BenchSettings settingsOf(std::vector<bench::PortSettings> ports)
    {
        bench::BenchSettings settings;
        settings.ports = std::move(ports);
        return settings;
    }
};

TEST(StatusReaders, The857xTypeAndRevisionFromTheChipRegister)
{
    struct Case {
        uint8_t ucRevision;
        const char* pszChipText;
        const char* pszRevisionText;
    } cases[] = {{0x10, "857B", "001_B0"}, {0x11, "857B", "001"}, {0x30, "857D", "011"},
                 {0x40, "857E", "00"},     {0x74, "857H", "111"}, {0x03, "857A", "00"}};
    std::vector<bench::PortSettings> ports;
    for (const Case& c : cases)
        ports.push_back(portOf("KRV8574", "USB3", c.ucRevision));
    StatusBench s(ports);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const int port = static_cast<int>(i) + 1;
        DevInfo info;
        EXPECT_EQ(s.dev.ucGet8574DeviceType(s.h(port), info), DEV_TYPE_8574) << int(c.ucRevision);
        EXPECT_EQ(info.m_ucDevType, DEV_TYPE_8574);
        EXPECT_EQ(info.m_strChipText, c.pszChipText) << int(c.ucRevision);
        EXPECT_EQ(info.m_strChipText2, std::to_string(c.ucRevision & 0x0F)) << int(c.ucRevision);
        EXPECT_EQ(s.dev.strGet8574ChipType(s.h(port)), c.pszRevisionText) << int(c.ucRevision);
        EXPECT_EQ(s.dev.ucGet8574VariantCode(s.h(port)), (c.ucRevision >> 4) & 7) << int(c.ucRevision);
    }
}

TEST(StatusReaders, ATunnelledBridgeIsNoLegacy8574Type)
{
    StatusBench s({portOf("KRV8574", "USB4-U3")});
    DevInfo info;
    EXPECT_EQ(s.dev.ucGet8574DeviceType(s.h(1), info), STATUS_READ_FAILED);
    EXPECT_EQ(info.m_strChipText, "Not Defined");
    EXPECT_EQ(info.m_ucDevType, DEV_TYPE_UNKNOWN);
}

TEST(StatusReaders, OlderBridgeTypesAndRevisions)
{
    struct Case {
        bench::PortSettings port;
        uint8_t ucType;
        const char* pszChipText;
        const char* pszRevisionText;
    } cases[] = {
        {portOf("KRV752A", "USB3", 0x00), DEV_TYPE_752A, "752A", "00"},
        {portOf("KRV752B", "USB3", 0x10), DEV_TYPE_752B, "752B", "001_B0"},
        {portOf("KRV6390", "USB3", 0x00), DEV_TYPE_A, "A", "00"},
        {portOf("KRV6390", "USB3", 0x21), DEV_TYPE_C, "C", "010"},
        {portOf("KRV6390", "USB3", 0x30, {{0xC895, 0x02}}), DEV_TYPE_D3, "D", "011_1"},
        {portOf("KRV6390", "USB3", 0x30, {{0xC895, 0x00}}), DEV_TYPE_D4, "D", "011_2"},
        {portOf("KRV6390", "USB3", 0x40), STATUS_READ_FAILED, "Not Defined", "00"},
        {portOf("KRV419x", "USB3", 0x50), DEV_TYPE_E, "E", "101"},
    };
    std::vector<bench::PortSettings> ports;
    for (const Case& c : cases)
        ports.push_back(c.port);
    StatusBench s(ports);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const int port = static_cast<int>(i) + 1;
        DevInfo info;
        EXPECT_EQ(s.dev.ucGetDeviceType(s.h(port), info), cases[i].ucType) << port;
        EXPECT_EQ(info.m_strChipText, cases[i].pszChipText) << port;
        EXPECT_EQ(s.dev.strGetChipRevision(s.h(port)), cases[i].pszRevisionText) << port;
    }
}

TEST(StatusReaders, UsbConnectionTexts)
{
    struct Case {
        bench::PortSettings port;
        const char* pszChipText;   // what the scan found, for the 752x/419x reader
        const char* pszSpeed;
        uint8_t ucCode;
        const char* pszRecordSpeed = "";   // the record's speed text before the read
    } cases[] = {
        {portOf("KRV8574", "USB3", -1, {{0x9100, 2}, {0x92F8, 0x14}}), nullptr, "PLUSx2", USB_SPEED_PLUS_X2},
        {portOf("KRV8574", "USB3", -1, {}, "Gen2x1"), nullptr, "PLUSx1", USB_SPEED_PLUS},
        {portOf("KRV8574", "USB3", -1, {}, "Gen1x2"), nullptr, "SUPERx2", USB_SPEED_SUPER_X2},
        {portOf("KRV8574", "USB2", -1, {}, "High"), nullptr, "HIGH", USB_SPEED_HIGH},
        {portOf("KRV8574", "USB3", -1, {{0x9100, 7}}), nullptr, "", STATUS_READ_FAILED},
        {portOf("KRV752B", "USB3", 0x10, {}, "Gen2x2"), "752B", "PLUS x2", USB_SPEED_PLUS_X2},
        {portOf("KRV752B", "USB3", 0x10, {}, "Gen1x1"), "752B", "SUPER x1", USB_SPEED_SUPER},
        // The 752B reads its lanes whatever the speed.
        {portOf("KRV752B", "USB2", 0x10, {}, "High"), "752B", "HIGH x1", USB_SPEED_HIGH},
        // The 752A adds its lane only to a SuperSpeed text the record holds
        // already: during a scan the record's text is empty.
        {portOf("KRV752A", "USB3", 0x00, {}, "Gen2x1"), "752A", "PLUS", USB_SPEED_PLUS},
        {portOf("KRV752A", "USB3", 0x00, {}, "Gen2x1"), "752A", "PLUS x1", USB_SPEED_PLUS, "SUPER"},
        {portOf("KRV752A", "USB2", 0x00, {}, "Full"), "752A", "FULL", USB_SPEED_FULL},
        {portOf("KRV419x", "USB3", 0x50, {}, "Gen1x1"), "E", "SUPER", USB_SPEED_SUPER},
    };
    std::vector<bench::PortSettings> ports;
    for (const Case& c : cases)
        ports.push_back(c.port);
    StatusBench s(ports);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const int port = static_cast<int>(i) + 1;
        std::string strSpeed;
        if (cases[i].pszChipText) {
            DevInfo info;
            info.m_strChipText = cases[i].pszChipText;
            info.m_strUSBSpeed = cases[i].pszRecordSpeed;
            strSpeed = s.dev.vGetUsbConnectionStatus(s.h(port), info);
        } else {
            strSpeed = s.dev.vGet8574UsbConnectionStatus(s.h(port));
        }
        EXPECT_EQ(strSpeed, cases[i].pszSpeed) << port;
        EXPECT_EQ(CKrvnUSBDev::ucGetUSBSpeedCode(strSpeed), cases[i].ucCode) << port;
    }
}

TEST(StatusReaders, SpeedCodesAreSubstringTestsInOrder)
{
    struct Case {
        const char* pszText;
        uint8_t ucCode;
    } cases[] = {{"FULL", 0},      {"HIGH", 1},       {"SUPER", 2},       {"SUPER x1", 2}, {"SUPERx2", 3},
                 {"PLUS", 4},      {"PLUS x2", 5},    {"", 0xFF},         {"Gen2x1", 0xFF}, {"HIGH SUPER", 1}};
    for (const Case& c : cases)
        EXPECT_EQ(CKrvnUSBDev::ucGetUSBSpeedCode(c.pszText), c.ucCode) << c.pszText;
}

TEST(StatusReaders, Usb4ModeSpeedAndInfoByte)
{
    StatusBench s({portOf("KRV8574", "USB3"),
                   portOf("KRV8574", "USB3", -1, {{0x20000, 0x02}, {0x22805, 0x00}}),
                   portOf("KRV8574", "USB3", -1, {{0x20000, 0x02}, {0x22805, 0x80}}),
                   portOf("KRV8574", "USB3", -1, {{0x20000, 0x06}, {0x22805, 0x80}}),
                   portOf("KRV8574", "USB4-U3", -1, {}, "Gen3x2"),
                   portOf("KRV8574", "USB4-U3", -1, {}, "Gen2x1")});
    const uint8_t modes[] = {U4_MODE_LEGACY, U4_MODE_TBT3, U4_MODE_PCIE_TNL, U4_MODE_U3_TNL, U4_MODE_U3_TNL,
                             U4_MODE_U3_TNL};
    for (int port = 1; port <= 6; ++port)
        EXPECT_EQ(s.dev.ucGet8574U4Mode(s.h(port)), modes[port - 1]) << port;
    EXPECT_EQ(s.dev.ucGet8574U4Speed(s.h(5)), U4_SPEED_GEN3X2);
    EXPECT_EQ(s.dev.ucGet8574U4Speed(s.h(6)), U4_SPEED_GEN2X1);
    int nInfo = -1;
    EXPECT_EQ(s.dev.nGet8574U4InfoByte(s.h(5), &nInfo), SCSI_RESULT_OK);
    EXPECT_EQ(nInfo, 3);
}

TEST(StatusReaders, LanesOrientationStreamModeAndSubType)
{
    StatusBench s({portOf("KRV8574", "USB3", -1, {}, "Gen2x2"),
                   portOf("KRV8574", "USB2", -1, {{0xE302, 0xC0}}, "High"),
                   portOf("KRV752B", "USB3", 0x10, {{0xE495, 0x14}}),
                   portOf("KRV752B", "USB3", 0x10, {{0xE495, 0x10}}),
                   portOf("KRV752A", "USB3", 0x00)});

    uint8_t ucCS[4];
    uint32_t dwDS[4] = {9, 9, 9, 9};
    EXPECT_EQ(s.dev.nGet8574LaneStatus(s.h(1), ucCS), SCSI_RESULT_OK);
    EXPECT_EQ(std::vector<uint8_t>(ucCS, ucCS + 4), (std::vector<uint8_t>{1, 1, 0xFF, 0xFF}));
    EXPECT_EQ(s.dev.nGet8574LaneValues(s.h(1), ucCS, dwDS), SCSI_RESULT_OK);
    // Low nibble the hundreds, high nibble the units; unread lanes keep theirs.
    EXPECT_EQ(dwDS[0], 302u);
    EXPECT_EQ(dwDS[1], 303u);
    EXPECT_EQ(dwDS[2], 9u);

    EXPECT_EQ(s.dev.nGet8574CCOrientation(s.h(1)), 1);
    EXPECT_EQ(s.dev.nGet8574CCOrientation(s.h(2)), 3);
    EXPECT_EQ(s.dev.nGet8574CCOrientation(nullptr), 0xFF);
    EXPECT_EQ(s.dev.nGetCCOrientation(s.h(3), DEV_TYPE_752B), 1);
    EXPECT_EQ(s.dev.nGetCCOrientation(s.h(5), DEV_TYPE_752A), 1);

    DevInfo info8574;
    EXPECT_EQ(s.dev.ucGet8574USBMode(s.h(1), info8574), USB_MODE_UAS);
    EXPECT_EQ(s.dev.ucGet8574USBMode(s.h(2), info8574), USB_MODE_BOT);
    DevInfo info752B;
    info752B.m_ucDevType = DEV_TYPE_752B;
    EXPECT_EQ(s.dev.ucGetUSBMode(s.h(3), info752B), USB_MODE_UAS);
    DevInfo info752A;
    info752A.m_ucDevType = DEV_TYPE_752A;
    EXPECT_EQ(s.dev.ucGetUSBMode(s.h(5), info752A), USB_MODE_UAS);

    EXPECT_EQ(s.dev.ucGetDeviceSubType(s.h(3), DEV_TYPE_752B), 3);
    EXPECT_EQ(s.dev.ucGetDeviceSubType(s.h(4), DEV_TYPE_752B), 4);
    EXPECT_EQ(s.dev.ucGetDeviceSubType(s.h(5), DEV_TYPE_752B), 5);

    // Readers that need no register send none.
    const size_t nBefore = commandsOf(s.bench, 5).size();
    EXPECT_EQ(s.dev.nGetCCOrientation(s.h(5), DEV_TYPE_UNKNOWN), 0xFF);
    EXPECT_EQ(s.dev.nGetCCOrientation(s.h(5), DEV_TYPE_B), 0);
    EXPECT_EQ(s.dev.ucGetDeviceSubType(s.h(5), DEV_TYPE_752A), STATUS_READ_FAILED);
    EXPECT_EQ(commandsOf(s.bench, 5).size(), nBefore);
}

TEST(StatusReaders, AnUnreadableRegisterGivesEachReadersFailureValue)
{
    StatusBench s({portOf("KRV8574", "USB3", -1, {}, "Gen2x2")});
    addFault(s.bench, 1, FaultKind::Check, {0xE4}, 1000);
    DevInfo info;
    EXPECT_EQ(s.dev.ucGet8574DeviceType(s.h(1), info), STATUS_READ_FAILED);
    EXPECT_EQ(info.m_ucDevType, DEV_TYPE_UNKNOWN);
    EXPECT_EQ(s.dev.ucGet8574VariantCode(s.h(1)), STATUS_READ_FAILED);
    EXPECT_EQ(s.dev.strGet8574ChipType(s.h(1)), "0");
    EXPECT_EQ(s.dev.strGetChipRevision(s.h(1)), "0");
    EXPECT_EQ(s.dev.ucGet8574USBMode(s.h(1), info), STATUS_READ_FAILED);
    EXPECT_EQ(s.dev.nGet8574CCOrientation(s.h(1)), 0xFF);
    EXPECT_EQ(s.dev.ucGet8574U4Mode(s.h(1)), STATUS_READ_FAILED);
    EXPECT_EQ(s.dev.ucGet8574U4Speed(s.h(1)), STATUS_READ_FAILED);
    EXPECT_EQ(s.dev.vGet8574UsbConnectionStatus(s.h(1)), "");
    int nInfo = -7;
    EXPECT_NE(s.dev.nGet8574U4InfoByte(s.h(1), &nInfo), SCSI_RESULT_OK);
    EXPECT_EQ(nInfo, -7);
    uint8_t ucCS[4] = {1, 1, 1, 1};
    EXPECT_NE(s.dev.nGet8574LaneStatus(s.h(1), ucCS), SCSI_RESULT_OK);
    EXPECT_EQ(ucCS[0], 0xFF);

    // A failed INQUIRY fails the type before any register is read.
    addFault(s.bench, 1, FaultKind::Check, {0x12});
    EXPECT_EQ(s.dev.ucGetDeviceType(s.h(1), info), STATUS_READ_FAILED);
}

}  // namespace
}  // namespace krv::test
