// The table of user-interface texts: every slot, group by group in member
// order, with the text the tool has always shown there.
#include <gtest/gtest.h>

#include <vector>

#include "app/GUIText.h"

namespace {

using Slot = std::string CGUIText::*;

struct Group {
    const char* name;
    std::vector<Slot> slots;
    std::vector<const char*> texts;
};

const std::vector<Group>& groups()
{
    using T = CGUIText;
    static const std::vector<Group> table = {
        {"older results-table heads",
         {&T::m_strOldHeadPort, &T::m_strOldHeadVID, &T::m_strOldHeadPID30, &T::m_strOldHeadPID20,
          &T::m_strOldHeadSerialNumber, &T::m_strOldHeadMString, &T::m_strOldHeadPString, &T::m_strOldHeadFWVersion,
          &T::m_strOldHeadUpdate, &T::m_strOldHeadUpdateB, &T::m_strOldHeadReLink, &T::m_strOldHeadVerifyFW,
          &T::m_strOldHeadSLTU3, &T::m_strOldHeadSLTU2, &T::m_strOldHeadSpare1, &T::m_strOldHeadSpare2},
         {"Port#", "VID", "PID3.0", "PID2.0", "Serial Number", "M. String", "P. String", "FW Version", "Update",
          "Update_B", "ReLink", "Verify F/W", "SLT U3", "SLT U2", "", ""}},
        {"status words",
         {&T::m_strStatusDeny, &T::m_strStatusLoad, &T::m_strStatusMismatch},
         {"DENY", "LOAD", "MISMATCH"}},
        {"port names",
         {&T::m_strPort0, &T::m_strPort1, &T::m_strPort2, &T::m_strPort3, &T::m_strPort4},
         {"Port0", "Port1", "Port2", "Port3", "Port4"}},
        {"window title", {&T::m_strWindowTitle}, {"Korvane KRV517 MP Tool"}},
        {"main buttons",
         {&T::m_strBtnLoadINI, &T::m_strBtnSaveINI, &T::m_strBtnUnlock, &T::m_strBtnLock,
          &T::m_strBtnUnlockRegisterTool, &T::m_strBtnSpare1, &T::m_strBtnSpare2},
         {"Load INI", "Save INI", "Unlock", "Lock", "Unlock Register Tool", "", ""}},
        {"device descriptor group",
         {&T::m_strDevDescGroup, &T::m_strDevDescFormat, &T::m_strDevDescVendorID, &T::m_strDevDescProductID,
          &T::m_strDevDescRevision, &T::m_strDevDescSerialNumber, &T::m_strDevDescSNIncrease,
          &T::m_strDevDescEP0MString, &T::m_strDevDescEP0PString, &T::m_strDevDescSNEditType},
         {"Device Configuration", "Format", "Vendor ID", "Product ID", "Device Revision", "Serial Number",
          "S/N Increase", "EP0 M.String", "EP0 P.String", "SN Edit Type"}},
        {"serial-number edit types",
         {&T::m_strSNEditUserDefine, &T::m_strSNEditIncreaseHex, &T::m_strSNEditIncreaseDec,
          &T::m_strSNEditFromBarcode, &T::m_strSNEditFromHDDSN},
         {"0.User define", "1.Increase HEX", "2.Increase DEC", "3.From Barcode", "4.From HDDSN"}},
        {"disk standby times",
         {&T::m_strStandby3Min, &T::m_strStandby5Min, &T::m_strStandby10Min, &T::m_strStandby15Min,
          &T::m_strStandby20Min, &T::m_strStandby30Min, &T::m_strStandby1Hr, &T::m_strStandby2Hr,
          &T::m_strStandby3Hr, &T::m_strStandby4Hr, &T::m_strStandby5Hr, &T::m_strStandbyNever},
         {"3 Min", "5 Min", "10 Min", "15 Min", "20 Min", "30 Min", "1 Hr", "2 Hr", "3 Hr", "4 Hr", "5 Hr",
          "Never"}},
        {"removable options",
         {&T::m_strRemovableDevice, &T::m_strRemovableDefaultByFW},
         {"Removable Device", "Default by FW"}},
        {"device function group",
         {&T::m_strDevFuncGroup, &T::m_strDevFuncMPAutoMode, &T::m_strDevFuncUpdateConfig, &T::m_strDevFuncUpdateFW,
          &T::m_strDevFuncUpdateExtFW, &T::m_strDevFuncUSBStatus, &T::m_strDevFuncPartitionFormat,
          &T::m_strDevFuncReloadFW, &T::m_strDevFuncWRTest, &T::m_strDevFuncFormatType, &T::m_strDevFuncDriveLabel,
          &T::m_strDevFuncDeviceFirmware, &T::m_strDevFuncSpare},
         {"Device Function", "MP Auto Mode", "Update Config", "Update FW", "Update Ext FW", "USB Status",
          "Partition / Format", "Reload FW", "W/R Test", "Format Type", "Drive Label", "Device Firmware", ""}},
        {"results-table column heads",
         {&T::m_strColPort,        &T::m_strColStatus,     &T::m_strColVID,          &T::m_strColPID,
          &T::m_strColSerialNumber, &T::m_strColFWVersion, &T::m_strColCapacity,     &T::m_strColConfigUpdate,
          &T::m_strColUpdate,      &T::m_strColReLink,     &T::m_strColPartition,    &T::m_strColFormat,
          &T::m_strColRWTest,      &T::m_strColPreload,    &T::m_strColQC,           &T::m_strColExtFWUpg,
          &T::m_strColExtFWVer,    &T::m_strColPartFmt,    &T::m_strColDeviceConfigChk, &T::m_strColLEDCheck,
          &T::m_strColSafelyRemove, &T::m_strColCC,        &T::m_strColFWWD,         &T::m_strColPD,
          &T::m_strColU4Mode,      &T::m_strColFWC,        &T::m_strColLab,          &T::m_strColHFW,
          &T::m_strColCFC},
         {"Port#", "Status", "VID", "PID", "Serial Number", "FW Version", "Capacity", "Config Update", "Update",
          "ReLink", "Partition", "Format", "R/W Test", "Preload", "QC", "ExtFWUpg", "ExtFWVer", "Part/Fmt",
          "Device Config Chk", "LED Check", "Safely Remove", "CC", "FW WD", "PD", "U4 Mode", "FW/C", "Lab", "H/FW",
          "CFC"}},
        {"result words",
         {&T::m_strPass, &T::m_strFail, &T::m_strNotDone, &T::m_strResultSpare1, &T::m_strResultSpare2,
          &T::m_strResultSpare3},
         {"PASS", "FAIL", "-----", "", "", ""}},
        {"counters and progress",
         {&T::m_strCountPass, &T::m_strCountFail, &T::m_strCountTotal, &T::m_strProgressBar, &T::m_strProgress},
         {"Pass", "Fail", "Total", "Progress Bar", "Progress"}},
        {"serial-number modes",
         {&T::m_strSNModeDisable, &T::m_strSNModeIncrease, &T::m_strSNModeRandom, &T::m_strSNModeDecrease,
          &T::m_strSNModeUnique, &T::m_strSNModeUnChanged},
         {"DISABLE", "INCREASE", "RANDOM", "DECREASE", "UNICQUE", "UnChanged"}},
        {"types", {&T::m_strType1, &T::m_strType2}, {"TYPE1", "TYPE2"}},
        {"file systems", {&T::m_strFsNTFS, &T::m_strFsFAT32, &T::m_strFsExFAT}, {"NTFS", "FAT32", "exFAT"}},
        {"USB modes", {&T::m_strUSB20, &T::m_strUSB30, &T::m_strUSB31}, {"USB 2.0", "USB 3.0", "USB 3.1"}},
        {"partition styles", {&T::m_strPartMBR, &T::m_strPartGPT}, {"MBR", "GPT"}},
        {"login dialog",
         {&T::m_strLoginTitle, &T::m_strLoginPassword, &T::m_strLoginOk, &T::m_strLoginCancel},
         {"Login", "Password", "Ok", "Cancel"}},
        // The About box's notice is checked on its own below.
        {"About box", {&T::m_strAboutTitle, &T::m_strAboutVersion, &T::m_strAboutOk}, {"About VIVade", "0.0.0.0", "Ok"}},
        {"settings-check messages",
         {&T::m_strErrUnknown, &T::m_strErrSpare, &T::m_strErrInvalidConfigType, &T::m_strErrInvalidSNSize,
          &T::m_strErrInvalidManufacturerSize, &T::m_strErrInvalidProductSize, &T::m_strErrInvalidSNString,
          &T::m_strErrInvalidDiskLabelSize, &T::m_strErrFilePathNotExist, &T::m_strErrFilePathNotReadWrite,
          &T::m_strErrINIConfigLineInvalid},
         {"Unknown Error", "", "Invalid Config Type", "Invalid SN Size", "Invalid Manufacturer Size",
          "Invalid Product Size", "Invalid SN String", "Invalid DiskLabel Size", "File/Path Not Exist",
          "File/Path Not Read/Write", "Line of Configuration String in INI file is invalid !"}},
        {"identifier format messages of Save INI",
         {&T::m_strErrVIDFormat, &T::m_strErrPIDFormat, &T::m_strErrRevisionFormat},
         {"VID Format not valid", "PID Format not valid", "Device Revision Format not valid"}},
        {"identifier format messages of Start",
         {&T::m_strStartErrVIDFormat, &T::m_strStartErrPIDFormat, &T::m_strStartErrRevisionFormat},
         {"VID Format not valid", "PID Format not valid", "Device Revision Format not valid"}},
        {"run-check messages",
         {&T::m_strErrWrRdTestFileTooLarge, &T::m_strErrSNTooShort},
         {"WrRdTest file size too large", "Serial Number Invalid, at least 12 digits"}},
        {"USB4 configuration group",
         {&T::m_strU4Group, &T::m_strU4VendorName, &T::m_strU4ModelName, &T::m_strU4ComponentID,
          &T::m_strU4CompIDRandom, &T::m_strU4CompIDTime, &T::m_strU4CompIDMix, &T::m_strU4VendorID,
          &T::m_strU4ProductID, &T::m_strU4TestID, &T::m_strU4BcdProductFW, &T::m_strU4ProductHW, &T::m_strU4MinFW,
          &T::m_strU4TBT3, &T::m_strU4TBT3VendorID, &T::m_strU4TBT3ModelID, &T::m_strU4TBT3ModelRev,
          &T::m_strU4Mode, &T::m_strU4PCIVID, &T::m_strU4PCIDID},
         {"USB4 Device Configuration", "Vendor Name", "Model Name", "Component ID", "3.Random", "4.Time", "5.Mix",
          "Vendor ID", "Product ID", "Test ID", "BCD Product FW", "Product HW", "MinFW", "TBT3", "Vendor ID",
          "Model ID", "Model Rev", "U4 Mode", "PCI VID", "PCI DID"}},
        {"USB4 modes",
         {&T::m_strU4ModePDPCIe, &T::m_strU4ModePDPCIeLegacy, &T::m_strU4ModePDU3Legacy, &T::m_strU4ModeAuto},
         {"0:PD+PCIe", "1:PD+PCIe+Lgcy", "2:PD+U3+Lgcy", "3:Auto"}},
    };
    return table;
}

TEST(GUIText, EverySlotHoldsItsText)
{
    size_t slots = 0;
    for (const Group& group : groups()) {
        ASSERT_EQ(group.slots.size(), group.texts.size()) << group.name;
        for (size_t i = 0; i < group.slots.size(); ++i)
            EXPECT_EQ(g_GUIText.*group.slots[i], group.texts[i]) << group.name << ", slot " << i;
        slots += group.slots.size();
    }
    // The notice names the program and a year.
    const std::string& notice = g_GUIText.m_strAboutNotice;
    EXPECT_NE(notice.find("Korvane"), std::string::npos) << notice;
    EXPECT_NE(notice.find_first_of("0123456789"), std::string::npos) << notice;
    ++slots;
    // 181 texts and nothing else: a slot added, dropped or left out of the
    // table above shows here.
    EXPECT_EQ(slots, 181u);
    EXPECT_EQ(sizeof(CGUIText), 181 * sizeof(std::string));
}

TEST(GUIText, ResultWordsAndEmptySlots)
{
    EXPECT_EQ(g_GUIText.m_strPass, "PASS");
    EXPECT_EQ(g_GUIText.m_strFail, "FAIL");
    // Spare slots are readable empty captions.
    for (const std::string* slot : {&g_GUIText.m_strBtnSpare1, &g_GUIText.m_strBtnSpare2, &g_GUIText.m_strResultSpare1,
                                    &g_GUIText.m_strResultSpare2, &g_GUIText.m_strResultSpare3,
                                    &g_GUIText.m_strErrSpare, &g_GUIText.m_strDevFuncSpare})
        EXPECT_TRUE(slot->empty());
}

TEST(GUIText, ClearEmptiesTheTitleAndTheCheckMessagesOnly)
{
    CGUIText texts;
    texts.vClear();
    for (const std::string* cleared :
         {&texts.m_strWindowTitle, &texts.m_strErrUnknown, &texts.m_strErrInvalidConfigType,
          &texts.m_strErrInvalidSNSize, &texts.m_strErrInvalidManufacturerSize, &texts.m_strErrInvalidProductSize,
          &texts.m_strErrInvalidSNString, &texts.m_strErrInvalidDiskLabelSize})
        EXPECT_TRUE(cleared->empty()) << *cleared;
    EXPECT_EQ(texts.m_strErrFilePathNotExist, "File/Path Not Exist");
    EXPECT_EQ(texts.m_strPass, "PASS");
    EXPECT_EQ(texts.m_strU4ModeAuto, "3:Auto");
}

}  // namespace
