#pragma once
// The English texts of the user interface: captions, combo-box items,
// results-table heads, the result words and the messages of the settings
// checks. One table, g_GUIText, constant for the life of the process and read
// member by member from any thread without a lock. Empty members are slots
// that show an empty caption.
#include <string>

class CGUIText {
public:
    CGUIText() = default;
    ~CGUIText();
    CGUIText(const CGUIText&) = delete;
    CGUIText& operator=(const CGUIText&) = delete;

    // Empties the window title and the settings-check messages from
    // "Unknown Error" to "Invalid DiskLabel Size". Run when the table goes.
    void vClear();

    // Older results-table heads; kept for the table's shape, read by nobody
    std::string m_strOldHeadPort = "Port#";
    std::string m_strOldHeadVID = "VID";
    std::string m_strOldHeadPID30 = "PID3.0";
    std::string m_strOldHeadPID20 = "PID2.0";
    std::string m_strOldHeadSerialNumber = "Serial Number";
    std::string m_strOldHeadMString = "M. String";
    std::string m_strOldHeadPString = "P. String";
    std::string m_strOldHeadFWVersion = "FW Version";
    std::string m_strOldHeadUpdate = "Update";
    std::string m_strOldHeadUpdateB = "Update_B";
    std::string m_strOldHeadReLink = "ReLink";
    std::string m_strOldHeadVerifyFW = "Verify F/W";
    std::string m_strOldHeadSLTU3 = "SLT U3";
    std::string m_strOldHeadSLTU2 = "SLT U2";
    std::string m_strOldHeadSpare1;
    std::string m_strOldHeadSpare2;

    // Status words
    std::string m_strStatusDeny = "DENY";
    std::string m_strStatusLoad = "LOAD";
    std::string m_strStatusMismatch = "MISMATCH";

    // Port names
    std::string m_strPort0 = "Port0";
    std::string m_strPort1 = "Port1";
    std::string m_strPort2 = "Port2";
    std::string m_strPort3 = "Port3";
    std::string m_strPort4 = "Port4";

    // Window title
    std::string m_strWindowTitle = "Korvane KRV517 MP Tool";

    // Main buttons (the two spare slots are captions too)
    std::string m_strBtnLoadINI = "Load INI";
    std::string m_strBtnSaveINI = "Save INI";
    std::string m_strBtnUnlock = "Unlock";
    std::string m_strBtnLock = "Lock";
    std::string m_strBtnUnlockRegisterTool = "Unlock Register Tool";
    std::string m_strBtnSpare1;
    std::string m_strBtnSpare2;

    // Device descriptor group
    std::string m_strDevDescGroup = "Device Configuration";
    std::string m_strDevDescFormat = "Format";
    std::string m_strDevDescVendorID = "Vendor ID";
    std::string m_strDevDescProductID = "Product ID";
    std::string m_strDevDescRevision = "Device Revision";
    std::string m_strDevDescSerialNumber = "Serial Number";
    std::string m_strDevDescSNIncrease = "S/N Increase";
    std::string m_strDevDescEP0MString = "EP0 M.String";
    std::string m_strDevDescEP0PString = "EP0 P.String";
    std::string m_strDevDescSNEditType = "SN Edit Type";

    // Serial-number edit types (combo items, index = type)
    std::string m_strSNEditUserDefine = "0.User define";
    std::string m_strSNEditIncreaseHex = "1.Increase HEX";
    std::string m_strSNEditIncreaseDec = "2.Increase DEC";
    std::string m_strSNEditFromBarcode = "3.From Barcode";
    std::string m_strSNEditFromHDDSN = "4.From HDDSN";

    // Disk standby times (combo items: "Never" first, then 3 Min .. 5 Hr)
    std::string m_strStandby3Min = "3 Min";
    std::string m_strStandby5Min = "5 Min";
    std::string m_strStandby10Min = "10 Min";
    std::string m_strStandby15Min = "15 Min";
    std::string m_strStandby20Min = "20 Min";
    std::string m_strStandby30Min = "30 Min";
    std::string m_strStandby1Hr = "1 Hr";
    std::string m_strStandby2Hr = "2 Hr";
    std::string m_strStandby3Hr = "3 Hr";
    std::string m_strStandby4Hr = "4 Hr";
    std::string m_strStandby5Hr = "5 Hr";
    std::string m_strStandbyNever = "Never";

    // Removable options
    std::string m_strRemovableDevice = "Removable Device";
    std::string m_strRemovableDefaultByFW = "Default by FW";

    // Device function group
    std::string m_strDevFuncGroup = "Device Function";
    std::string m_strDevFuncMPAutoMode = "MP Auto Mode";
    std::string m_strDevFuncUpdateConfig = "Update Config";
    std::string m_strDevFuncUpdateFW = "Update FW";
    std::string m_strDevFuncUpdateExtFW = "Update Ext FW";
    std::string m_strDevFuncUSBStatus = "USB Status";
    std::string m_strDevFuncPartitionFormat = "Partition / Format";
    std::string m_strDevFuncReloadFW = "Reload FW";
    std::string m_strDevFuncWRTest = "W/R Test";
    std::string m_strDevFuncFormatType = "Format Type";
    std::string m_strDevFuncDriveLabel = "Drive Label";
    std::string m_strDevFuncDeviceFirmware = "Device Firmware";
    std::string m_strDevFuncSpare;

    // Results-table column heads
    std::string m_strColPort = "Port#";
    std::string m_strColStatus = "Status";
    std::string m_strColVID = "VID";
    std::string m_strColPID = "PID";
    std::string m_strColSerialNumber = "Serial Number";
    std::string m_strColFWVersion = "FW Version";
    std::string m_strColCapacity = "Capacity";
    std::string m_strColConfigUpdate = "Config Update";
    std::string m_strColUpdate = "Update";
    std::string m_strColReLink = "ReLink";
    std::string m_strColPartition = "Partition";
    std::string m_strColFormat = "Format";
    std::string m_strColRWTest = "R/W Test";
    std::string m_strColPreload = "Preload";
    std::string m_strColQC = "QC";
    std::string m_strColExtFWUpg = "ExtFWUpg";
    std::string m_strColExtFWVer = "ExtFWVer";
    std::string m_strColPartFmt = "Part/Fmt";
    std::string m_strColDeviceConfigChk = "Device Config Chk";
    std::string m_strColLEDCheck = "LED Check";
    std::string m_strColSafelyRemove = "Safely Remove";
    std::string m_strColCC = "CC";
    std::string m_strColFWWD = "FW WD";
    std::string m_strColPD = "PD";
    std::string m_strColU4Mode = "U4 Mode";
    std::string m_strColFWC = "FW/C";
    std::string m_strColLab = "Lab";
    std::string m_strColHFW = "H/FW";
    std::string m_strColCFC = "CFC";

    // Result words (the three spare slots are captions)
    std::string m_strPass = "PASS";
    std::string m_strFail = "FAIL";
    std::string m_strNotDone = "-----";
    std::string m_strResultSpare1;
    std::string m_strResultSpare2;
    std::string m_strResultSpare3;

    // Counters and progress
    std::string m_strCountPass = "Pass";
    std::string m_strCountFail = "Fail";
    std::string m_strCountTotal = "Total";
    std::string m_strProgressBar = "Progress Bar";
    std::string m_strProgress = "Progress";

    // Serial-number modes
    std::string m_strSNModeDisable = "DISABLE";
    std::string m_strSNModeIncrease = "INCREASE";
    std::string m_strSNModeRandom = "RANDOM";
    std::string m_strSNModeDecrease = "DECREASE";
    std::string m_strSNModeUnique = "UNICQUE";
    std::string m_strSNModeUnChanged = "UnChanged";

    // Types
    std::string m_strType1 = "TYPE1";
    std::string m_strType2 = "TYPE2";

    // File systems (Save INI matches them ignoring case)
    std::string m_strFsNTFS = "NTFS";
    std::string m_strFsFAT32 = "FAT32";
    std::string m_strFsExFAT = "exFAT";

    // USB modes (matched like the file systems)
    std::string m_strUSB20 = "USB 2.0";
    std::string m_strUSB30 = "USB 3.0";
    std::string m_strUSB31 = "USB 3.1";

    // Partition styles
    std::string m_strPartMBR = "MBR";
    std::string m_strPartGPT = "GPT";

    // Login dialog
    std::string m_strLoginTitle = "Login";
    std::string m_strLoginPassword = "Password";
    std::string m_strLoginOk = "Ok";
    std::string m_strLoginCancel = "Cancel";

    // About box
    std::string m_strAboutTitle = "About VIVade";
    std::string m_strAboutVersion = "0.0.0.0";
    std::string m_strAboutNotice = "Copyright (C) 2024 Korvane";
    std::string m_strAboutOk = "Ok";

    // Settings-check messages
    std::string m_strErrUnknown = "Unknown Error";
    std::string m_strErrSpare;
    std::string m_strErrInvalidConfigType = "Invalid Config Type";
    std::string m_strErrInvalidSNSize = "Invalid SN Size";
    std::string m_strErrInvalidManufacturerSize = "Invalid Manufacturer Size";
    std::string m_strErrInvalidProductSize = "Invalid Product Size";
    std::string m_strErrInvalidSNString = "Invalid SN String";
    std::string m_strErrInvalidDiskLabelSize = "Invalid DiskLabel Size";
    std::string m_strErrFilePathNotExist = "File/Path Not Exist";
    std::string m_strErrFilePathNotReadWrite = "File/Path Not Read/Write";
    std::string m_strErrINIConfigLineInvalid = "Line of Configuration String in INI file is invalid !";

    // Identifier format messages of Save INI
    std::string m_strErrVIDFormat = "VID Format not valid";
    std::string m_strErrPIDFormat = "PID Format not valid";
    std::string m_strErrRevisionFormat = "Device Revision Format not valid";

    // Identifier format messages of Start
    std::string m_strStartErrVIDFormat = "VID Format not valid";
    std::string m_strStartErrPIDFormat = "PID Format not valid";
    std::string m_strStartErrRevisionFormat = "Device Revision Format not valid";

    // Run-check messages of Start
    std::string m_strErrWrRdTestFileTooLarge = "WrRdTest file size too large";
    std::string m_strErrSNTooShort = "Serial Number Invalid, at least 12 digits";

    // USB4 configuration group ("3.Random", "4.Time", "5.Mix" are combo items)
    std::string m_strU4Group = "USB4 Device Configuration";
    std::string m_strU4VendorName = "Vendor Name";
    std::string m_strU4ModelName = "Model Name";
    std::string m_strU4ComponentID = "Component ID";
    std::string m_strU4CompIDRandom = "3.Random";
    std::string m_strU4CompIDTime = "4.Time";
    std::string m_strU4CompIDMix = "5.Mix";
    std::string m_strU4VendorID = "Vendor ID";
    std::string m_strU4ProductID = "Product ID";
    std::string m_strU4TestID = "Test ID";
    std::string m_strU4BcdProductFW = "BCD Product FW";
    std::string m_strU4ProductHW = "Product HW";
    std::string m_strU4MinFW = "MinFW";
    std::string m_strU4TBT3 = "TBT3";
    std::string m_strU4TBT3VendorID = "Vendor ID";
    std::string m_strU4TBT3ModelID = "Model ID";
    std::string m_strU4TBT3ModelRev = "Model Rev";
    std::string m_strU4Mode = "U4 Mode";
    std::string m_strU4PCIVID = "PCI VID";
    std::string m_strU4PCIDID = "PCI DID";

    // USB4 modes (combo items, index = mode)
    std::string m_strU4ModePDPCIe = "0:PD+PCIe";
    std::string m_strU4ModePDPCIeLegacy = "1:PD+PCIe+Lgcy";
    std::string m_strU4ModePDU3Legacy = "2:PD+U3+Lgcy";
    std::string m_strU4ModeAuto = "3:Auto";
};

extern CGUIText g_GUIText;
