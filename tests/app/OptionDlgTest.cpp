// The option dialogs: what each shows when it opens from its members, that
// each control writes its member at once, the variant's window opening them
// and keeping their values only on OK, the device-configuration dialog's
// slow-enumeration action on the main window, and the hidden NVMe Identify
// button. Pictures of each dialog are saved for people to look at (build
// folder, screenshots/).
#include <gtest/gtest.h>

#include <filesystem>

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>

#include "app/DeviceCfgDlg.h"
#include "app/PCIEUSBConfigDlg.h"
#include "app/USB4MoreConfigDlg.h"
#include "tests/app/IniTestSupport.h"
#include "tests/app/VIVadeDlgTestSupport.h"
#include "variant/ShowStatusProfile.h"

namespace krv::test {
namespace {

void saveScreenshot(QWidget& widget, const std::string& name)
{
    const std::string folder = std::string(KRV_BUILD_DIR) + "/screenshots";
    std::filesystem::create_directories(folder);
    widget.adjustSize();
    const QImage image = widget.grab().toImage();
    ASSERT_FALSE(image.isNull());
    ASSERT_TRUE(image.save(QString::fromStdString(folder + "/" + name)));
}

std::vector<std::string> itemsOf(QComboBox* combo)
{
    std::vector<std::string> items;
    for (int i = 0; i < combo->count(); ++i)
        items.push_back(combo->itemText(i).toStdString());
    return items;
}

// What an operator's pick from the list does.
void pick(QComboBox* combo, int nIndex)
{
    combo->setCurrentIndex(nIndex);
    emit combo->activated(nIndex);
}

bool checked(krv::ui::Dialog& dlg, int id) { return dlg.checkState(id) == krv::ui::check::kChecked; }

TEST(OptionDlg, PCIEUSBConfigOpensFromItsMembersAndEachControlWritesItsMember)
{
    DlgFixture f;
    PCIEUSBConfigDlg dlg(f.dlg->m_DevList);
    // Every other box on; LP if U3 holds a value no list has (a file's
    // atoi), PCIE Lane one past the list.
    PCIE_USB_Config& block = dlg;
    block = PCIE_USB_Config{1, 0, 1, 0, 1, 0, 1, 0, 2, 7, 0, 1, 4, 1, 0, 1};
    dlg.OnInitDialog();

    const std::pair<int, bool> kBoxes[] = {
        {IDC_PCIE_USB_REMOVABLE, true}, {IDC_PCIE_EUP, false},   {IDC_PCIE_TWO_LEDS, true},
        {IDC_PCIE_WTG, false},          {IDC_PCIE_U1U2, true},   {IDC_PCIE_LOW_POWER_MODE, false},
        {IDC_PCIE_2TB, true},           {IDC_PCIE_SLOW_ENUMERATION, false}, {IDC_PCIE_IMAGE_1, true},
        {IDC_PCIE_IMAGE_2, false},      {IDC_PCIE_CRC32, true}};
    for (auto [id, on] : kBoxes)
        EXPECT_EQ(checked(dlg, id), on) << id;
    EXPECT_EQ(itemsOf(dlg.control<QComboBox>(IDC_PCIE_COMBO_LP_IF_IDLE)),
              (std::vector<std::string>{"Reserved", "L3 + D3 cold", "L2/L3 Ready + D3 hot", "L1 + D3 hot"}));
    EXPECT_EQ(itemsOf(dlg.control<QComboBox>(IDC_PCIE_COMBO_ASPM)),
              (std::vector<std::string>{"ASPM L0s and ASPM L1", "ASPM L1", "ASPM L0s", "Disable the feature"}));
    const std::pair<int, int> kSelections[] = {{IDC_PCIE_COMBO_LP_IF_IDLE, 2},
                                               {IDC_PCIE_COMBO_LP_IF_U3, -1},
                                               {IDC_PCIE_COMBO_ASPM, 0},
                                               {IDC_PCIE_COMBO_SPEED, 1},
                                               {IDC_PCIE_COMBO_LANE, -1}};
    for (auto [id, index] : kSelections)
        EXPECT_EQ(dlg.control<QComboBox>(id)->currentIndex(), index) << id;
    // Opening changes no member: the stray values stay until a pick.
    EXPECT_EQ(dlg.m_ucLPIfU3, 7);
    EXPECT_EQ(dlg.m_ucPCIELane, 4);
    // CRC32 and Button1 stay hidden; a second open lists each item once.
    EXPECT_FALSE(dlg.isControlShown(IDC_PCIE_CRC32));
    EXPECT_FALSE(dlg.isControlShown(IDC_PCIE_BUTTON1));
    dlg.OnInitDialog();
    EXPECT_EQ(dlg.control<QComboBox>(IDC_PCIE_COMBO_LANE)->count(), 4);
    saveScreenshot(dlg, "option_pcie_usb_config.png");

    // Each box flips its own member and no other.
    for (auto [id, on] : kBoxes) {
        if (id == IDC_PCIE_CRC32)
            continue;  // hidden: no click reaches it
        const PCIE_USB_Config before = block;
        dlg.control<QCheckBox>(id)->click();
        int nChanged = 0;
        for (size_t i = 0; i < sizeof block; ++i)
            nChanged += reinterpret_cast<const uint8_t*>(&block)[i] != reinterpret_cast<const uint8_t*>(&before)[i];
        EXPECT_EQ(nChanged, 1) << id;
    }
    EXPECT_EQ(dlg.m_ucEup, 1);
    EXPECT_EQ(dlg.m_ucImage0, 0);
    // Unchecking both images is accepted here (Start refuses the run).
    EXPECT_EQ(dlg.m_ucImage1, 1);
    dlg.control<QCheckBox>(IDC_PCIE_IMAGE_2)->click();
    EXPECT_EQ(dlg.m_ucImage0 | dlg.m_ucImage1, 0);

    // A pick stores its index; nothing selected stores 255.
    const std::pair<int, uint8_t PCIE_USB_Config::*> kCombos[] = {
        {IDC_PCIE_COMBO_LP_IF_IDLE, &PCIE_USB_Config::m_ucLPIfIdle},
        {IDC_PCIE_COMBO_LP_IF_U3, &PCIE_USB_Config::m_ucLPIfU3},
        {IDC_PCIE_COMBO_ASPM, &PCIE_USB_Config::m_ucASPM},
        {IDC_PCIE_COMBO_SPEED, &PCIE_USB_Config::m_ucPCIESPEED},
        {IDC_PCIE_COMBO_LANE, &PCIE_USB_Config::m_ucPCIELane}};
    for (auto [id, member] : kCombos) {
        pick(dlg.control<QComboBox>(id), 3);
        EXPECT_EQ(block.*member, 3) << id;
        pick(dlg.control<QComboBox>(id), -1);
        EXPECT_EQ(block.*member, 255) << id;
    }
}

TEST(OptionDlg, USB4MoreConfigOpensWithFallbackOnEnableAndItsLinkOnlyFormSetsOnlyItsThreeControls)
{
    DlgFixture f;
    USB4_MoreConfig dlg;
    EXPECT_EQ(dlg.m_ucPO, 0);
    EXPECT_EQ(dlg.m_ucFallbackLegacy, 1);
    EXPECT_EQ(dlg.m_iFallbackIndex, 0);
    dlg.m_uc20G = 1;
    dlg.m_ucX2 = 0;
    dlg.m_iCLIndex = 2;
    dlg.m_ucFallbackLegacy = 0;
    dlg.OnInitDialog();
    EXPECT_TRUE(checked(dlg, IDC_U4MORE_20G));
    EXPECT_FALSE(checked(dlg, IDC_U4MORE_X2));
    EXPECT_FALSE(checked(dlg, IDC_U4MORE_PO));
    auto* cl = dlg.control<QComboBox>(IDC_U4MORE_COMBO_CL);
    auto* fallback = dlg.control<QComboBox>(IDC_U4MORE_COMBO_FALLBACK);
    EXPECT_EQ(itemsOf(cl), (std::vector<std::string>{"0:CL0s/CL1", "1:CL0s/CL1/CL2", "2:Reserved", "3:Disable"}));
    EXPECT_EQ(cl->currentIndex(), 2);
    // "Enable" whatever fallback legacy holds.
    EXPECT_EQ(itemsOf(fallback), (std::vector<std::string>{"Disable", "Enable"}));
    EXPECT_EQ(fallback->currentText().toStdString(), "Enable");
    EXPECT_EQ(dlg.m_iFallbackIndex, 1);
    EXPECT_EQ(dlg.m_ucFallbackLegacy, 0);
    EXPECT_FALSE(dlg.isControlShown(IDC_U4MORE_FALLBACK));
    EXPECT_TRUE(dlg.isControlShown(IDC_U4MORE_PO));
    saveScreenshot(dlg, "option_usb4_more_config.png");

    f.bench.capture().clear();
    pick(fallback, 0);
    EXPECT_EQ(dlg.m_ucFallbackLegacy, 0);
    EXPECT_TRUE(f.bench.capture().contains("fall back legacy: disable"));
    pick(fallback, 1);
    EXPECT_EQ(dlg.m_ucFallbackLegacy, 1);
    EXPECT_TRUE(f.bench.capture().contains("fall back legacy: enable"));
    dlg.control<QCheckBox>(IDC_U4MORE_20G)->click();
    dlg.control<QCheckBox>(IDC_U4MORE_X2)->click();
    dlg.control<QCheckBox>(IDC_U4MORE_PO)->click();
    EXPECT_EQ(dlg.m_uc20G, 0);
    EXPECT_EQ(dlg.m_ucX2, 1);
    EXPECT_EQ(dlg.m_ucPO, 1);
    pick(cl, 0);
    EXPECT_EQ(dlg.m_iCLIndex, 0);
    pick(cl, -1);
    EXPECT_EQ(dlg.m_iCLIndex, -1);

    // The variant's form: a CL index past the list selects nothing and the
    // fallback members are not touched.
    USB4_MoreConfig linkOnly;
    linkOnly.vSetLinkOnly(true);
    linkOnly.m_iCLIndex = 9;
    linkOnly.OnInitDialog();
    EXPECT_EQ(linkOnly.control<QComboBox>(IDC_U4MORE_COMBO_CL)->currentIndex(), -1);
    EXPECT_EQ(linkOnly.m_iFallbackIndex, 0);
    for (int id : {IDC_U4MORE_PO, IDC_U4MORE_FALLBACK, IDC_U4MORE_COMBO_FALLBACK, IDC_U4MORE_FALLBACK_LABEL})
        EXPECT_FALSE(linkOnly.isControlShown(id)) << id;
    saveScreenshot(linkOnly, "option_usb4_more_config_variant.png");
}

using ShowStatusFixture = ShowStatusDlgFixture;

TEST(OptionDlg, VariantMoreConfigKeepsTheDialogsValuesOnlyOnOkAndSaveStoresThem)
{
    ShowStatusFixture f;
    f.writeSettings([](IniRecord& r) {
        r.LPIfIdle = 3;  // past the variant's three items
        r.PCIEASPM = 1;
        r.USB4_20G = 1;
        r.USB4_X2 = 0;
        r.USB4_CLx = 1;
    });
    ASSERT_TRUE(f.dlg->OnInitDialog());
    CVIVadeDlg& dlg = *f.dlg;

    // Cancel after changes: the settings stay as they were.
    const IniRecord before = pIni.m_pINI;
    whenModalOpens<PCIEUSBConfigDlg>([](PCIEUSBConfigDlg& d) {
        d.control<QCheckBox>(IDC_PCIE_EUP)->click();
        d.control<QPushButton>(2)->click();
    });
    dlg.sendCommand(IDC_BUTTON_MORE_CONFIG);
    EXPECT_EQ(pIni.m_pINI, before);

    // OK: the thirteen option bytes come back; the dialog's image boxes
    // mirror nothing here.
    std::vector<std::string> lpItems;
    int nLPSelection = 0;
    bool bEupShown = false;
    whenModalOpens<PCIEUSBConfigDlg>([&](PCIEUSBConfigDlg& d) {
        auto* lp = d.control<QComboBox>(IDC_PCIE_COMBO_LP_IF_IDLE);
        lpItems = itemsOf(lp);
        nLPSelection = lp->currentIndex();
        bEupShown = checked(d, IDC_PCIE_EUP);  // the cancelled click is gone
        saveScreenshot(d, "option_pcie_usb_config_variant.png");
        d.control<QCheckBox>(IDC_PCIE_EUP)->click();
        d.control<QCheckBox>(IDC_PCIE_IMAGE_1)->click();
        pick(d.control<QComboBox>(IDC_PCIE_COMBO_ASPM), 2);
        d.control<QPushButton>(1)->click();
    });
    dlg.sendCommand(IDC_BUTTON_MORE_CONFIG);
    EXPECT_EQ(lpItems, (std::vector<std::string>{"L3 + D3 cold", "L2/L3 Ready + D3 hot", "L1 + D3 hot"}));
    EXPECT_EQ(nLPSelection, -1);
    EXPECT_FALSE(bEupShown);
    EXPECT_EQ(pIni.m_pINI.eup_enable, 1);
    EXPECT_EQ(pIni.m_pINI.PCIEASPM, 2);
    EXPECT_EQ(pIni.m_pINI.LPIfIdle, 3);
    EXPECT_EQ(pIni.m_pINI.image0, before.image0);

    // The USB4 dialog: Cancel keeps, OK takes the three values.
    whenModalOpens<USB4_MoreConfig>([](USB4_MoreConfig& d) {
        d.control<QCheckBox>(IDC_U4MORE_X2)->click();
        d.control<QPushButton>(2)->click();
    });
    dlg.sendCommand(IDC_BUTTON_U4_MORE_CONFIG);
    EXPECT_EQ(pIni.m_pINI.USB4_X2, 0);
    bool bPOShown = true;
    int nCLSelection = -1;
    whenModalOpens<USB4_MoreConfig>([&](USB4_MoreConfig& d) {
        bPOShown = d.isControlShown(IDC_U4MORE_PO);
        nCLSelection = d.control<QComboBox>(IDC_U4MORE_COMBO_CL)->currentIndex();
        d.control<QCheckBox>(IDC_U4MORE_20G)->click();
        d.control<QCheckBox>(IDC_U4MORE_X2)->click();
        pick(d.control<QComboBox>(IDC_U4MORE_COMBO_CL), 3);
        d.control<QPushButton>(1)->click();
    });
    dlg.sendCommand(IDC_BUTTON_U4_MORE_CONFIG);
    EXPECT_FALSE(bPOShown);
    EXPECT_EQ(nCLSelection, 1);
    EXPECT_EQ(pIni.m_pINI.USB4_20G, 0);
    EXPECT_EQ(pIni.m_pINI.USB4_X2, 1);
    EXPECT_EQ(pIni.m_pINI.USB4_CLx, 3);

    // Save INI stores what the dialogs left.
    const std::string saved = f.programDir.file("saved.ini");
    f.pickers.queueAnswer(saved);
    dlg.sendCommand(IDC_BUTTON_SAVEINI);
    const std::string text = readFileBytes(saved);
    for (const char* line : {"\r\neup_enable=1\r\n", "\r\nPCIEASPM=2\r\n", "\r\nLPIfIdle=3\r\n", "\r\nUSB4_20G=0\r\n",
                             "\r\nUSB4_X2=1\r\n", "\r\nUSB4_CLx=3\r\n", "\r\nimage0=1\r\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
}

TEST(OptionDlg, ProductionButtonsOpenNothingAndTheBlockIsTheWorkingCopyOfTheSettings)
{
    DlgFixture f;
    // The production file carries none of these as the window stored them:
    // every load sets them again.
    f.writeSettings([](IniRecord& r) {
        r.image1 = 1;
        r.PCIESpeed = 1;
    });
    ASSERT_TRUE(f.dlg->OnInitDialog());
    CVIVadeDlg& dlg = *f.dlg;
    for (int id : {IDC_BUTTON_MORE_CONFIG, IDC_BUTTON_U4_MORE_CONFIG}) {
        EXPECT_FALSE(dlg.isControlShown(id)) << id;
        dlg.sendCommand(id);  // would stay in a modal loop if one opened
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << id;
    }
    const PCIEUSBConfigDlg& block = dlg.m_PCIEUSBConfigDlg;
    EXPECT_EQ(block.m_ucImage0, 1);
    EXPECT_EQ(block.m_ucImage1, 0);
    EXPECT_EQ(block.m_ucLPIfIdle, 0);
    EXPECT_EQ(block.m_ucPCIESPEED, 3);
    EXPECT_EQ(block.m_ucPCIELane, 3);

    // What the block holds is what Save INI stores.
    dlg.m_PCIEUSBConfigDlg.m_ucImage1 = 1;
    dlg.m_PCIEUSBConfigDlg.m_ucCRC = 1;
    const std::string saved = f.programDir.file("saved.ini");
    f.pickers.queueAnswer(saved);
    dlg.sendCommand(IDC_BUTTON_SAVEINI);
    EXPECT_EQ(pIni.m_pINI.image1, 1);
    const std::string text = readFileBytes(saved);
    EXPECT_NE(text.find("\r\nimage1=1\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\ncrc32=1\r\n"), std::string::npos);
}

TEST(OptionDlg, DeviceConfigShowsTwoBoxesAndSlowEnumerationEmptiesTheSerialNumberAtOnce)
{
    DlgFixture f;
    f.writeSettings([](IniRecord& r) {
        r.fw_enable = 1;
        r.serial_number.set("ABCD00000001");
    });
    ASSERT_TRUE(f.dlg->OnInitDialog());
    CVIVadeDlg& main = *f.dlg;
    ASSERT_TRUE(checked(main, IDC_CHECK_UPDATE_FW));
    ASSERT_EQ(main.controlText(IDC_EDIT_SERIAL_NUMBER), "ABCD00000001");
    CDeviceCfgDlg& dlg = main.m_DeviceCfgDlg;
    dlg.ucCustomizedString = 1;
    dlg.m_bSlowEnumeration = 2;  // only 1 shows checked
    dlg.OnInitDialog();
    for (int id : {IDC_DEVCFG_CUSTOMIZED_STRING, IDC_DEVCFG_SLOW_ENUMERATION})
        EXPECT_TRUE(dlg.isControlShown(id) && dlg.isControlEnabled(id)) << id;
    EXPECT_TRUE(checked(dlg, IDC_DEVCFG_CUSTOMIZED_STRING));
    EXPECT_FALSE(checked(dlg, IDC_DEVCFG_SLOW_ENUMERATION));
    EXPECT_TRUE(checked(dlg, IDC_DEVCFG_IMAGE0));
    for (int id : {IDC_DEVCFG_EUP, IDC_DEVCFG_TWO_LEDS, IDC_DEVCFG_HDD_STANDBY, IDC_DEVCFG_U1U2, IDC_DEVCFG_LOW_POWER,
                   IDC_DEVCFG_2TB, IDC_DEVCFG_WIN8_WTG, IDC_DEVCFG_HDPC, IDC_DEVCFG_QD32, IDC_DEVCFG_IMAGE0,
                   IDC_DEVCFG_IMAGE1, IDC_DEVCFG_CRC32, IDC_DEVCFG_GROUP_DUAL_IMAGE})
        EXPECT_FALSE(dlg.isControlShown(id)) << id;
    EXPECT_EQ(dlg.control(IDC_DEVCFG_SLOW_ENUMERATION)->toolTip().toStdString(), "SE");
    saveScreenshot(dlg, "option_device_config.png");

    // Clicks write the flags, shown box or not.
    dlg.control<QAbstractButton>(IDC_DEVCFG_CUSTOMIZED_STRING)->click();
    EXPECT_EQ(dlg.ucCustomizedString, 0);
    dlg.control<QAbstractButton>(IDC_DEVCFG_QD32)->click();
    EXPECT_EQ(dlg.m_bQD32, 1);

    // Checking slow enumeration: member, edit and setting empty at once, the
    // edit disabled; unchecking enables it and brings nothing back.
    dlg.control<QAbstractButton>(IDC_DEVCFG_SLOW_ENUMERATION)->click();
    EXPECT_EQ(dlg.m_bSlowEnumeration, 1);
    EXPECT_EQ(main.m_strEditDeviceConfigurationSerialNumber, "");
    EXPECT_EQ(main.controlText(IDC_EDIT_SERIAL_NUMBER), "");
    EXPECT_FALSE(main.isControlEnabled(IDC_EDIT_SERIAL_NUMBER));
    EXPECT_EQ(pIni.m_pINI.serial_number, IniText{});
    dlg.control<QAbstractButton>(IDC_DEVCFG_SLOW_ENUMERATION)->click();
    EXPECT_EQ(dlg.m_bSlowEnumeration, 0);
    EXPECT_TRUE(main.isControlEnabled(IDC_EDIT_SERIAL_NUMBER));
    EXPECT_EQ(main.controlText(IDC_EDIT_SERIAL_NUMBER), "");
    EXPECT_TRUE(pIni.m_pINI.serial_number.empty());

    // Without "Update F/W" every box is disabled.
    main.setCheck(IDC_CHECK_UPDATE_FW, krv::ui::check::kUnchecked);
    dlg.OnInitDialog();
    EXPECT_FALSE(dlg.isControlEnabled(IDC_DEVCFG_SLOW_ENUMERATION));
    EXPECT_FALSE(dlg.isControlEnabled(IDC_DEVCFG_CUSTOMIZED_STRING));
}

TEST(OptionDlg, Button1WritesTheFirstDrivesNvmeIdentifyToTheDebuggerOutput)
{
    DlgFixture f;
    PCIEUSBConfigDlg& dlg = f.dlg->m_PCIEUSBConfigDlg;
    f.bench.capture().clear();
    dlg.OnBnClickedButton1();  // no drive in the table: nothing
    EXPECT_TRUE(f.bench.capture().lines().empty());

    f.dlg->m_DevList.Devs[0].m_ucPhysicalAddress = static_cast<uint8_t>(f.bench.physicalDrive(1));
    f.dlg->m_DevList.DevNums = 1;
    dlg.OnBnClickedButton1();
    const std::string out = f.bench.capture().joined();
    EXPECT_NE(out.find("vid[2c4c]\nssvid[2c4c]\n"), std::string::npos) << out;
    EXPECT_NE(out.find("sn[K R V N V M E "), std::string::npos) << out;
    EXPECT_NE(out.find("mn[K R V   B e n c h "), std::string::npos) << out;
    EXPECT_NE(out.find("fr[B N C H 0 1 0 0 ]\n"), std::string::npos) << out;
    EXPECT_NE(out.find("rab[0]\n"), std::string::npos) << out;

    // A drive that is not there: the open's trace line, nothing dumped.
    f.dlg->m_DevList.Devs[0].m_ucPhysicalAddress = 99;
    f.bench.capture().clear();
    dlg.OnBnClickedButton1();
    EXPECT_TRUE(f.bench.capture().contains("vCPURST: [99] CreateFile Fail")) << f.bench.capture().joined();
    EXPECT_FALSE(f.bench.capture().contains("vid["));
}

}  // namespace
}  // namespace krv::test
