// The configuration check and device information dialogs on a bench, opened
// from the main window's button: what they show is what the bridge's
// EEPROM holds. Their pictures are saved for people to look at (build
// folder, screenshots/).
#include <gtest/gtest.h>

#include <filesystem>

#include <QComboBox>
#include <QImage>
#include <QPushButton>
#include <QTableWidget>

#include "app/DebugDlg.h"
#include "app/DeviceInfoDlg.h"
#include "device/Krv857xPcieCtrl.h"
#include "tests/app/IniTestSupport.h"
#include "tests/app/VIVadeDlgTestSupport.h"

namespace krv::test {
namespace {

void saveScreenshot(QWidget& widget, const std::string& name)
{
    const std::string folder = std::string(KRV_BUILD_DIR) + "/screenshots";
    std::filesystem::create_directories(folder);
    const QImage image = widget.grab().toImage();
    ASSERT_FALSE(image.isNull());
    ASSERT_TRUE(image.save(QString::fromStdString(folder + "/" + name)));
}

// Two hex digits per byte, sixteen to a line, under a header of sixteen
// rows: the 128 bytes fill eight lines, eight blank ones follow.
std::string dumpOf(const bench::Bytes& bytes)
{
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
        text += hex;
        text += (i % 16 == 15) ? "\n" : " ";
    }
    for (int line = 0; line < 8; ++line)
        text += std::string(47, ' ') + "\n";
    return text;
}

struct TwoDrives {
    static bench::BenchSettings settings()
    {
        bench::BenchSettings s;
        s.timeScale = 50;
        s.ports.resize(2);
        for (bench::PortSettings& port : s.ports)
            port.diskSize = 1ull << 30;
        return s;
    }
    static std::vector<bench::PortStart> starts()
    {
        // Bench port 1's USB-3 image as the factory makes it, but with
        // the option byte 0x81 (two features off) and an unknown standby.
        std::vector<bench::PortStart> s(2);
        bench::Bytes image = bench::factoryState(1, settings().ports[0]).stored.config[0][0];
        // The last byte sums the others.
        image[127] = static_cast<uint8_t>(image[127] + (0xF0 - image[122]) + (0x81 - image[125]));
        image[122] = 0xF0;
        image[125] = 0x81;
        s[0].usb3Config = image;  // bench port 1
        return s;
    }
};

TEST(EngineeringDlg, ConfigurationDumpAndDeviceInfoShowWhatTheBridgeHolds)
{
    DlgFixture f(TwoDrives::settings(), TwoDrives::starts(), BenchTime::Real);
    f.dlg->OnInitDialog();
    CVIVadeDlg::CScanSettings scan;
    scan.strTargetChipCode = "0";
    f.dlg->vScanUSBPort(scan);
    ASSERT_EQ(f.dlg->m_DevList.DevNums.load(), 2);
    int record = -1;
    for (int i = 0; i < 2; ++i)
        if (f.dlg->m_DevList.Devs[i].m_ucPhysicalAddress == f.bench.physicalDrive(1))
            record = i;
    ASSERT_GE(record, 0);
    const bench::PortState state = f.bench.devices().state(1);

    bool opened = false;
    std::vector<std::string> statusRow;
    std::string usbMode;
    whenModalOpens<CDebugDlg>([&](CDebugDlg& dlg) {
        opened = true;
        EXPECT_EQ(dlg.windowTitle().toStdString(), "Check Configuration Dialog");
        auto* ports = dlg.control<QComboBox>(IDC_DEBUG_PORT);
        EXPECT_EQ(ports->count(), 2);
        EXPECT_FALSE(dlg.isControlShown(IDC_DEBUG_READ_REGISTER));
        ports->setCurrentIndex(record);
        emit ports->activated(record);

        dlg.control<QPushButton>(IDC_DEBUG_READ_U4_CONFIG)->click();
        EXPECT_EQ(dlg.controlText(IDC_DEBUG_DUMP), dumpOf(state.stored.config[0][1]));
        dlg.control<QPushButton>(IDC_DEBUG_READ_CONFIG)->click();
        EXPECT_EQ(dlg.controlText(IDC_DEBUG_DUMP), dumpOf(state.stored.config[0][0]));
        saveScreenshot(dlg, "check-configuration-dialog.png");

        whenModalOpens<CDeviceInfoDlg>([&](CDeviceInfoDlg& info) {
            auto* list = info.control<QTableWidget>(IDC_DEVINFO_LIST);
            for (int col = 0; list->rowCount() == 1 && col < list->columnCount(); ++col)
                statusRow.push_back(list->item(0, col)->text().toStdString());
            usbMode = info.controlText(IDC_DEVINFO_USB_MODE);
            saveScreenshot(info, "device-info-dialog.png");
            info.reject();
        });
        dlg.control<QPushButton>(IDC_DEBUG_DEVICE_INFO)->click();
        dlg.reject();
    });
    f.dlg->sendCommand(IDC_BUTTON_DEBUG);
    ASSERT_TRUE(opened);
    EXPECT_EQ(statusRow, (std::vector<std::string>{"Status", "X", "O", "O", "O", "O", "O", "O", "X", "NULL"}));
    EXPECT_EQ(usbMode, "USB Mode: Legacy");
}

// Two USB drives and, on bench port 2, a bridge reached through PCIe only:
// its record is the third (slot 2), its number among the targets 0. The
// dumps and the register panels go through its mailbox with that number.
TEST(EngineeringDlg, APcieTargetIsReadAndWrittenThroughItsOwnMailbox)
{
    bench::BenchSettings settings = TwoDrives::settings();
    settings.ports.resize(3);
    settings.ports[1].link = "USB4";
    DlgFixture f(settings, BenchTime::Real);
    f.writeSettings([](IniRecord& r) { r.PCIE_Scan = 1; });
    f.dlg->bRealScans = true;
    f.dlg->OnInitDialog();
    ASSERT_TRUE(runEventsUntil([&] {
        return !f.dlg->bScanActive() && f.dlg->m_DevList.DevNums == 2 && g_PcieCtrl.ucTargetCount() == 1;
    }));
    ASSERT_EQ(f.dlg->m_DevList.Devs[2].m_bPCIE, 1);
    const bench::PortState state = f.bench.devices().state(2);
    // Registers 0x7F0.. hold the running firmware's version, as the scan read it.
    const uint8_t* version = g_PcieCtrl.targetInfo(0).m_ucFWVersion;
    char versionDump[16];
    std::snprintf(versionDump, sizeof versionDump, "%02X %02X ", version[0], version[1]);
    // What the USB drives received meanwhile: nothing may go to them.
    const size_t usbCommands = f.bench.devices().log(1).size() + f.bench.devices().log(3).size();

    bool opened = false;
    std::vector<std::string> dumps;
    whenModalOpens<CDebugDlg>([&](CDebugDlg& dlg) {
        opened = true;
        auto* ports = dlg.control<QComboBox>(IDC_DEBUG_PORT);
        ASSERT_EQ(ports->count(), 3);
        ports->setCurrentIndex(2);
        emit ports->activated(2);
        for (int image : {0, 1}) {
            auto* images = dlg.control<QComboBox>(IDC_DEBUG_IMAGE);
            images->setCurrentIndex(image);
            emit images->activated(image);
            dlg.control<QPushButton>(IDC_DEBUG_READ_CONFIG)->click();
            dumps.push_back(dlg.controlText(IDC_DEBUG_DUMP));
            dlg.control<QPushButton>(IDC_DEBUG_READ_U4_CONFIG)->click();
            dumps.push_back(dlg.controlText(IDC_DEBUG_DUMP));
        }
        dlg.setControlText(IDC_DEBUG_REG_ADDR, "7F0");
        dlg.setControlText(IDC_DEBUG_REG_LEN, "2");
        dlg.sendCommand(IDC_DEBUG_READ_REGISTER);
        dumps.push_back(dlg.controlText(IDC_DEBUG_DUMP));
        dlg.setControlText(IDC_DEBUG_WRITE_ADDR, "E302");
        dlg.setControlText(IDC_DEBUG_WRITE_VALUE, "3C");
        dlg.sendCommand(IDC_DEBUG_WRITE_REGISTER);
        // A length of 0 has nothing to move: the mailbox's refusal, shown.
        dlg.setControlText(IDC_DEBUG_REG_LEN, "0");
        dlg.sendCommand(IDC_DEBUG_READ_REGISTER);
        dlg.reject();
    });
    f.dlg->sendCommand(IDC_BUTTON_DEBUG);
    ASSERT_TRUE(opened);
    EXPECT_EQ(dumps, (std::vector<std::string>{dumpOf(state.stored.config[0][0]), dumpOf(state.stored.config[0][1]),
                                               dumpOf(state.stored.config[1][0]), dumpOf(state.stored.config[1][1]),
                                               versionDump}));
    EXPECT_EQ(f.bench.devices().state(2).running.registerWrites.at(0xE302), 0x3C);
    EXPECT_EQ(f.bench.devices().log(1).size() + f.bench.devices().log(3).size(), usbCommands);
    std::vector<std::string> boxes;
    for (const auto& record : f.messages.records())
        boxes.push_back(record.text);
    EXPECT_EQ(boxes, std::vector<std::string>{"Access Device is Failed ! (-10)"});
}

TEST(EngineeringDlg, WithoutDevicesEveryActionIsGreyAndTheDecodersFollowTheBits)
{
    DlgFixture f;
    f.dlg->OnInitDialog();
    bool opened = false;
    whenModalOpens<CDebugDlg>([&](CDebugDlg& dlg) {
        opened = true;
        for (int id : {IDC_DEBUG_READ_CONFIG, IDC_DEBUG_READ_U4_CONFIG, IDC_DEBUG_DEVICE_INFO})
            EXPECT_FALSE(dlg.isControlEnabled(id)) << id;
        dlg.reject();
    });
    f.dlg->sendCommand(IDC_BUTTON_DEBUG);
    EXPECT_TRUE(opened);

    struct Case {
        uint8_t standby;
        const char* text;
    };
    for (const Case& c : {Case{0xFF, "Never"}, Case{0xF1, "3 min"}, Case{0xFB, "5 hr"}, Case{0xF0, "NULL"},
                          Case{0x00, "NULL"}})
        EXPECT_EQ(CDeviceInfoDlg::strStandbyText(c.standby), c.text) << int(c.standby);
    std::vector<uint8_t> ff(128, 0xFF);
    const std::string dump = CDebugDlg::strConfigDump(ff.data());
    EXPECT_EQ(dump.size(), 16u * 48u);
    EXPECT_EQ(dump.substr(7 * 48, 48), "FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF\n");
    EXPECT_EQ(dump.substr(8 * 48, 48), std::string(47, ' ') + "\n");
    EXPECT_EQ(CDebugDlg::strRegisterDump(ff.data(), 17).substr(45, 5), "FF\nFF");
}

TEST(EngineeringDlg, Button4WritesTheWholeImageEvenWhenTheReadFails)
{
    DlgFixture f;
    f.dlg->OnInitDialog();
    // No device scanned: the read fails and zeros are written.
    f.dlg->sendCommand(IDC_BUTTON_BTN4);
    const std::string dump = readFileBytes(f.programDir.file("uReadFW.bin"));
    EXPECT_EQ(dump.size(), 98016u);
    EXPECT_EQ(dump.find_first_not_of('\0'), std::string::npos);
    EXPECT_TRUE(f.bench.capture().contains("btn 4"));
}

}  // namespace
}  // namespace krv::test
