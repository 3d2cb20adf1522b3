// What KRV857xShowStatus's Start decides differently from the production
// tool's: the PD kind of the firmware file against the drives' running
// firmware, and a reload kept on whatever the configuration format.
#include <gtest/gtest.h>

#include "app/FWPDTypeByVersion.h"
#include "tests/app/VIVadeDlgTestSupport.h"
#include "tests/support/ProductionRunSetup.h"
#include "variant/ShowStatusProfile.h"

namespace krv::test {
namespace {

constexpr const char* kInternalFW = "/fw/KV_USB4_240517_80_02_01.bin";
constexpr const char* kExternalFW = "/fw/KV_USB4_240517_82_02_01.bin";
constexpr const char* kInternalDev = "240517800201";
constexpr const char* kExternalDev = "240517820201";

std::string pdMessage(int fwExternal, int internal, int external)
{
    return CVIVadeDlg::vSprintf127(
        "please check the FW and device PD type\r\n FW ext PD:%d, internal PD device:%d, external PD device:%d",
        fwExternal, internal, external);
}

TEST(ShowStatusStart, PDKindOfTheFileAgainstEveryJudgedDrive)
{
    const FWPDTypeDevice internal{"SERIAL0001", kInternalDev};
    const FWPDTypeDevice external{"SERIAL0002", kExternalDev};
    const FWPDTypeDevice blank{"00000000000000000000", "2405"};
    const struct {
        const char* name;
        const char* file;
        std::vector<FWPDTypeDevice> devices;
        std::optional<std::string> message;
    } cases[] = {
        {"kinds fit", kInternalFW, {internal, internal}, ""},
        {"external file, internal drives", kExternalFW, {internal, internal}, pdMessage(1, 2, 0)},
        {"one fitting drive does not carry another", kExternalFW, {external, internal}, pdMessage(1, 1, 1)},
        {"a drive without its identity is not judged", kExternalFW, {blank, external}, ""},
        {"only such drives", kInternalFW, {blank}, ""},
        {"no drive", kInternalFW, {}, pdMessage(0, 0, 0)},
        {"no SS field in the name", "/fw/KV_USB4_2405.bin", {internal}, std::nullopt},
        {"a version too short to judge", kInternalFW, {{"SERIAL0003", "2405178"}}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(strFWPDTypeByVersionMismatch(c.file, c.devices), c.message);
    }
}

// Start on one hand-filled drive with the firmware update and the reload on
// in configuration format 0: the production tool drops the reload (only its
// formats 3 and 4 carry the signature its rescan looks for); the variant's
// workers sign each image themselves, so its reload stays, and Start reads
// the disk count for it.
TEST(ShowStatusStart, ReloadStaysOnInEveryFormat)
{
    for (const bool variant : {false, true}) {
        SCOPED_TRACE(variant ? "variant" : "production");
        DlgFixture f;
        std::optional<IniProfileScope> profile;
        if (variant) {
            profile.emplace(IniProfileVariant());
            f.dlg->vSetDlgProfile(MainDlgProfileShowStatus());
        }
        writeRunFiles(f.programDir.path());
        f.writeSettings([&](IniRecord& r) {
            setRunSettings(r, f.programDir.path());
            r.config_format = 0;
            r.format_enable = 0;
            r.preload_enable = 0;
            r.USB4_U4Mode = 1;
        });
        ASSERT_TRUE(f.dlg->OnInitDialog());
        DevInfo& d = f.dlg->m_DevList.Devs[0];
        d.m_ucPortIndex = 0;
        d.m_strFWVersion = kInternalDev;
        d.m_strSerialNumber = "SERIAL0001";
        d.m_ucPDType = 1;
        d.m_ucChipMajorRev = 1;
        f.dlg->m_DevList.DevNums = 1;
        f.dlg->sendCommand(IDC_BUTTON_START);
        std::vector<std::string> boxes;
        for (const auto& record : f.messages.records())
            boxes.push_back(record.text);
        ASSERT_NE(f.dlg->m_pMainThread, nullptr) << ::testing::PrintToString(boxes);
        EXPECT_EQ(pIni.m_pINI.fw_reload, variant ? 1 : 0);
        EXPECT_EQ(f.dlg->m_DevList.m_bDoReload, variant ? 1 : 0);
        EXPECT_EQ(f.dlg->checkState(IDC_CHECK_RELOAD_FW), variant ? 1 : 0);
        f.dlg->m_pMainThread->vRequestStop();
        f.dlg->m_pMainThread->bJoin(60'000);
    }
}

}  // namespace
}  // namespace krv::test
