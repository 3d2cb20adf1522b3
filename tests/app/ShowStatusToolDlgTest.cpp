// The variant's configuration check and device information dialogs on a
// bench, opened from its window: the "Read Register" frame stays, USB4
// information is the error-recovery count alone, and the device information
// shows the device code made from register 0xC8FF with its UASP rule. The
// device information's picture is saved for people to look at.
#include <gtest/gtest.h>

#include <filesystem>

#include <QImage>
#include <QPushButton>

#include "app/DebugDlg.h"
#include "app/DeviceCodeText.h"
#include "platform/VirtualClock.h"
#include "tests/app/VIVadeDlgTestSupport.h"
#include "variant/ShowStatusProfile.h"

namespace krv::test {
namespace {

LocalTime noonOf(int second)
{
    LocalTime t;
    t.year = 2026;
    t.month = 12;
    t.day = 11;
    t.hour = 12;
    t.second = second;
    return t;
}

TEST(ShowStatusToolDlg, DeviceCodeNumbersAndBitCodes)
{
    // The standard's rand() seeded with 7 draws 19564 and 9806.
    EXPECT_EQ(strDeviceCodeText(0x52, 7), "4777" "5-" "14389" "2");
    struct Case {
        uint8_t c8ff;
        const char* code;
        const char* tail;
    };
    for (const Case& c : {Case{0x00, "1-", "0"}, Case{0x40, "1-", "0"}, Case{0x0D, "1-", "13"}, Case{0x10, "2-", "0"},
                          Case{0x20, "3-", "0"}, Case{0x30, "4-", "0"}, Case{0x52, "5-", "2"}, Case{0x60, "6-", "0"},
                          Case{0x7F, "7-", "2"}})
        EXPECT_EQ(strDeviceCodeText(c.c8ff, 7), std::string("4777") + c.code + "14389" + c.tail) << int(c.c8ff);
    // Every seed of a byte: the first number may be negative, the second
    // is at least 10.
    bool negative = false;
    for (uint32_t seed = 0; seed < 256; ++seed) {
        CCRandom random;
        random.vSeed(seed);
        const int r1 = random.nRand(), r2 = random.nRand();
        ASSERT_LE(r1, 32767);
        negative = negative || r1 % 9991 - r2 % 5000 + 10 < 0;
        EXPECT_GE(r1 % 9991 + r2 % 5000 + 10, 10);
    }
    EXPECT_TRUE(negative);
}

struct Opened {
    bool readFrameShown = false;
    std::vector<std::string> uaspTexts;
    std::vector<std::string> boxes;
};

// The variant's window on one drive whose registers 0xC8FF and 0xC890 hold
// the given values; the device information opened twice in one second.
Opened openVariantDialogs(uint8_t c8ff, uint8_t c890, const std::string& picture = "")
{
    bench::BenchSettings settings = runBenchSettings(1);
    settings.ports[0].registers = {{0xC8FF, c8ff}, {0xC890, c890}};
    DlgFixture f(settings, BenchTime::Virtual);
    f.dlg->vSetDlgProfile(MainDlgProfileShowStatus());
    f.bench.clock().pinLocalTime(noonOf(30));
    f.dlg->OnInitDialog();
    CVIVadeDlg::CScanSettings scan;
    scan.strTargetChipCode = "0";
    f.dlg->vScanUSBPort(scan);
    Opened opened;
    if (f.dlg->m_DevList.DevNums.load() != 1) {
        ADD_FAILURE() << "no drive";
        return opened;
    }
    whenModalOpens<CDebugDlg>([&](CDebugDlg& dlg) {
        opened.readFrameShown = dlg.isControlShown(IDC_DEBUG_READ_GROUP);
        dlg.sendCommand(IDC_DEBUG_U4_INFO);
        for (int open = 0; open < 2; ++open) {
            whenModalOpens<CDeviceInfoDlg>([&](CDeviceInfoDlg& info) {
                opened.uaspTexts.push_back(info.controlText(IDC_DEVINFO_UASP));
                if (!picture.empty()) {
                    const std::string folder = std::string(KRV_BUILD_DIR) + "/screenshots";
                    std::filesystem::create_directories(folder);
                    EXPECT_TRUE(info.grab().toImage().save(QString::fromStdString(folder + "/" + picture)));
                }
                info.reject();
            });
            dlg.control<QPushButton>(IDC_DEBUG_DEVICE_INFO)->click();
        }
        dlg.reject();
    });
    f.dlg->sendCommand(IDC_BUTTON_DEBUG);
    for (const auto& record : f.messages.records())
        opened.boxes.push_back(record.text);
    return opened;
}

TEST(ShowStatusToolDlg, DeviceInfoShowsTheDeviceCodeAndTheUaspRuleOfRegisterC8FF)
{
    const uint32_t seed = [] {
        VirtualClock clock;
        clock.pinLocalTime(noonOf(30));
        return dwSecondsSeed(clock);
    }();
    // Bits 6, 4 and 1: "5-" and "2"; UAS is supported and on.
    Opened a = openVariantDialogs(0x52, 0x00, "variant-device-info-dialog.png");
    EXPECT_TRUE(a.readFrameShown);
    ASSERT_EQ(a.uaspTexts.size(), 2u);
    EXPECT_EQ(a.uaspTexts[0], strDeviceCodeText(0x52, seed) + "\n\nSupport UASP : Yes \n\nEnable UASP : Yes \n");
    EXPECT_EQ(a.uaspTexts[1], a.uaspTexts[0]) << "two opens in one second";
    ASSERT_EQ(a.boxes.size(), 1u);
    EXPECT_EQ(a.boxes[0].rfind("U4 info\r\n ErrRecovCnt: ", 0), 0u) << a.boxes[0];
    EXPECT_EQ(a.boxes[0].find("UUID"), std::string::npos);

    // Bits 5 and 4 clear with bit 1 set in both registers: no UASP.
    Opened b = openVariantDialogs(0x02, 0x02);
    ASSERT_FALSE(b.uaspTexts.empty());
    EXPECT_EQ(b.uaspTexts[0], strDeviceCodeText(0x02, seed) + "\n\nSupport UASP : No \n\nEnable UASP : Yes \n");
    EXPECT_NE(b.uaspTexts[0].find("1-"), std::string::npos);
}

}  // namespace
}  // namespace krv::test
