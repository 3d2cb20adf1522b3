// Device identification: the descriptor texts of a port's device, the check
// of the drive the disk search found for it (bridge chip, device number) and
// the fill of its record; and the re-read of a known port's descriptor texts
// after a bridge reset.
//
// A record is filled in a copy and written to the table only when the device
// is accepted, so a refused device never leaves its bridge's state (a relink
// signature among it) in a slot that the next device or a worker reads.
#include <algorithm>
#include "device/TextUtil.h"
#include <cctype>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "device/DebugLog.h"
#include "device/KrvnUSBDev.h"
#include "device/USBUtility.h"
#include "platform/LastError.h"
#include "platform/Platform.h"

namespace {

int nLastError() { return static_cast<int>(krv::lastError()); }

constexpr uint32_t REG_FW_VERSION = 0x07F0;
constexpr uint32_t FW_VERSION_READ_LENGTH = 7;
constexpr uint32_t REG_PD_TYPE = 0xE795;
constexpr uint64_t LANE_SETTLE_MS = 200;
// A configured device has endpoints open: its connection answer is longer
// than the fixed part.
constexpr uint32_t CONNECTION_FIXED_PART = 35;

// One descriptor field: its name and its value as printf would show it.
std::string strHex(const char* pszName, unsigned uValue, int nDigits, const char* pszEnd = "\r\n")
{
    char szText[64];
    std::snprintf(szText, sizeof szText, "%s%.*x%s", pszName, nDigits, uValue, pszEnd);
    return szText;
}

bool bSameNoCase(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

// The serial-number cache keys a serial by the port it was read on.
std::string strCacheLocation(const CUSBWalkState& walk, uint32_t ulPort)
{
    return walk.m_strCurrentHubName + "#" + std::to_string(ulPort);
}

// The fields the identification writes, from the record it filled into the
// table's slot (the run's results and the worker's buffers stay the slot's).
void vCommitRecord(const DevInfo& filled, DevInfo& slot)
{
    slot.m_ucPortIndex = filled.m_ucPortIndex;
    slot.m_bIsCDROM = filled.m_bIsCDROM;
    slot.m_ucPhysicalAddress = filled.m_ucPhysicalAddress;
    slot.m_ucCDROMAddress = filled.m_ucCDROMAddress;
    slot.m_strPID = filled.m_strPID;
    slot.m_strVID = filled.m_strVID;
    slot.m_strSerialNumber = filled.m_strSerialNumber;
    slot.m_strManufacturer = filled.m_strManufacturer;
    slot.m_strProduct = filled.m_strProduct;
    slot.m_strVersion = filled.m_strVersion;
    slot.m_iPortLocation = filled.m_iPortLocation;
    slot.m_strFWVersion = filled.m_strFWVersion;
    slot.m_strChipText = filled.m_strChipText;
    slot.m_strChipText2 = filled.m_strChipText2;
    slot.m_ucDevType = filled.m_ucDevType;
    slot.m_ucChipVariant = filled.m_ucChipVariant;
    slot.m_ucChipMajorRev = filled.m_ucChipMajorRev;
    slot.m_ucU4Mode = filled.m_ucU4Mode;
    std::memcpy(slot.m_ucLaneCS, filled.m_ucLaneCS, sizeof slot.m_ucLaneCS);
    std::memcpy(slot.m_dwLaneDS, filled.m_dwLaneDS, sizeof slot.m_dwLaneDS);
    slot.m_ucLinkSpeed = filled.m_ucLinkSpeed;
    slot.m_ucCCOrientation = filled.m_ucCCOrientation;
    slot.m_strHubName = filled.m_strHubName;
    slot.m_ulPortIndex = filled.m_ulPortIndex;
    slot.m_ulPortCount = filled.m_ulPortCount;
    slot.m_strUSBSpeed = filled.m_strUSBSpeed;
    std::memcpy(slot.m_ucU4Config, filled.m_ucU4Config, sizeof slot.m_ucU4Config);
    slot.m_ucPDType = filled.m_ucPDType;
}

}  // namespace

// ---- descriptor texts ----------------------------------------------------------

uint16_t CKrvnUSBDev::GetDeviceDescriptor(CUSBWalkState& walk, krv::UsbHub& hub, uint32_t ulPort,
                                          uint16_t usLanguageID, const krv::UsbDeviceDescriptor& deviceDescriptor)
{
    static const char* const kMethod = "CKrvnUSBDev::GetDeviceDescriptor";
    // The language slot the string reads fill is this call's own; the
    // caller gets back what it passed.
    const uint16_t usPassed = usLanguageID;
    uint16_t usResult = usPassed;
    try {
        const krv::UsbDeviceDescriptor& d = deviceDescriptor;
        std::string strDump = "Device Descriptor\r\n";
        strDump += strHex("bLength ", d.bLength, 2);
        strDump += strHex("bDescriptorType ", d.bDescriptorType, 2);
        strDump += strHex("bcdUSB ", d.bcdUSB, 4);
        strDump += strHex("bDeviceClass ", d.bDeviceClass, 2);
        strDump += strHex("bDeviceSubClass ", d.bDeviceSubClass, 2);
        strDump += strHex("bDeviceProtocol ", d.bDeviceProtocol, 2);
        strDump += strHex("bMaxEP0Size ", d.bMaxPacketSize0, 2);

        walk.m_strVID = strUpper(strTrim(strHex("", d.idVendor, 4, "")));
        strDump += "wVendorID " + walk.m_strVID + strHex(" [", d.idVendor & 0xFF, 2, "]\r\n");
        walk.m_strPID = strUpper(strTrim(strHex("", d.idProduct, 4, "")));
        strDump += "wProductID " + walk.m_strPID + strHex(" [", d.idProduct & 0xFF, 2, "]\r\n");
        walk.m_strVersion = strTrim(strHex("", d.bcdDevice, 4));
        strDump += "wDeviceID " + walk.m_strVersion + strHex(" [", d.bcdDevice & 0xFF, 2, "]\r\n");

        auto readString = [&](uint8_t ucIndex) {
            strDump += strHex("Tmp ", ucIndex, 2);
            return ucIndex == 0 ? std::string() : strTrim(GetStringDescriptor(hub, ulPort, usLanguageID, ucIndex));
        };
        walk.m_strManufacturer = readString(d.iManufacturer);
        strDump += "iManufacturer " + walk.m_strManufacturer + "\r\n";
        walk.m_strProduct = readString(d.iProduct);
        strDump += "iProduct " + walk.m_strProduct + "\r\n";

        strDump += strHex("Tmp ", d.iSerialNumber, 2);
        walk.m_strSerialNumber.clear();
        if (d.iSerialNumber != 0) {
            walk.m_strSerialNumber = strUpper(strTrim(GetStringDescriptor(hub, ulPort, usLanguageID, d.iSerialNumber)));
            const std::string strLocation = strCacheLocation(walk, ulPort);
            if (!walk.m_strSerialNumber.empty())
                vAddStringDescriptorCache(walk.m_strVID, walk.m_strPID, walk.m_strManufacturer, walk.m_strProduct,
                                          walk.m_strSerialNumber, strLocation);
            else
                walk.m_strSerialNumber = bFindStringDescriptorCache(walk.m_strVID, walk.m_strPID,
                                                                    walk.m_strManufacturer, walk.m_strProduct,
                                                                    strLocation);
        }
        strDump += "iSerialNumber " + walk.m_strSerialNumber + "\r\n";
        strDump += strHex("bNumConfigurations ", d.bNumConfigurations, 2, "");
        vDEBUG_MSG_printf("%s:%d: GetDeviceDescriptor:\r\n%s", kMethod, __LINE__, strDump.c_str());
        usResult = walk.m_strSerialNumber.empty() ? DESCRIPTOR_NO_SERIAL : usPassed;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...) , dwErrorCode %d", kMethod, __LINE__, nLastError());
    }
    return usResult;
}

// ---- the drive behind a port -------------------------------------------------------

std::string CKrvnUSBDev::strInquiryChipText(const uint8_t* pInquiry)
{
    char szChip[8];
    std::snprintf(szChip, sizeof szChip, "%02X%02X", pInquiry[37], pInquiry[36]);
    return szChip;
}

bool CKrvnUSBDev::bChipOfBridgeType(const std::string& strChip, int iBridgeType)
{
    switch (iBridgeType) {
    case BRIDGE_TYPE_857X: return bSameNoCase(strChip, "8574") || bSameNoCase(strChip, "8576");
    case BRIDGE_TYPE_752X: return bSameNoCase(strChip, "7520");
    case BRIDGE_TYPE_6390: return bSameNoCase(strChip, "6390");
    default: return false;
    }
}

bool CKrvnUSBDev::bReadFWVersion(HANDLE hDev, int iBridgeType, std::string& strVersion)
{
    uint8_t ucVersion[FW_VERSION_READ_LENGTH] = {};
    const int iVersion = iBridgeType == BRIDGE_TYPE_857X
                             ? SCSI8574_AccessRegister(hDev, ACCESS_READ, REG_FW_VERSION, ucVersion, sizeof ucVersion)
                             : SCSI6390_AccessRegister(hDev, ACCESS_READ, REG_FW_VERSION, ucVersion, sizeof ucVersion);
    strVersion.clear();
    if (iVersion != SCSI_RESULT_OK)
        return false;
    char szVersion[16];
    std::snprintf(szVersion, sizeof szVersion, "%02x%02x%02x%02x%02x%02x", ucVersion[0], ucVersion[1], ucVersion[2],
                  ucVersion[3], ucVersion[4], ucVersion[5]);
    strVersion = szVersion;
    return true;
}

bool CKrvnUSBDev::bReadBridgeState(HANDLE hDev, const std::string& strChip, int iBridgeType, DevInfo& devInfo,
                                   std::string& strChipRevision)
{
    static const char* const kMethod = "CKrvnUSBDev::vTestHandleFromPhysicalAddress";
    const uint8_t ucSlot = devInfo.m_ucPortIndex;
    switch (iBridgeType) {
    case BRIDGE_TYPE_857X: {
        if (!bChipOfBridgeType(strChip, iBridgeType))
            return false;
        devInfo.m_ucChipMajorRev = ucGet8574VariantCode(hDev);
        vDEBUG_MSG_printf("%s:%d: 857x USB Mode: %s", kMethod, __LINE__,
                          bSameNoCase(strChip, "8574") ? "Legacy" : "Tunnel");
        SCSI8574_AccessConfigEEPROM(hDev, ACCESS_READ, devInfo.m_ucU4Config, CONFIG_BIN_SIZE, 0, CONFIG_TYPE_U4);
        for (int i = 0; i < 4; ++i) {
            devInfo.m_ucLaneCS[i] = 0xFF;
            devInfo.m_dwLaneDS[i] = 0;
        }
        nGet8574LaneStatus(hDev, devInfo.m_ucLaneCS);
        for (int i = 0; i < 4; ++i)
            vDEBUG_MSG_printf("%s:%d: [%d]cs[%d]:%d", kMethod, __LINE__, ucSlot, i, devInfo.m_ucLaneCS[i]);
        for (int i = 0; i < 4; ++i)
            if (devInfo.m_ucLaneCS[i] == 1)
                krv::Platform::current().clock().sleepMs(LANE_SETTLE_MS);
        nGet8574LaneValues(hDev, devInfo.m_ucLaneCS, devInfo.m_dwLaneDS);
        for (int i = 0; i < 4; ++i)
            vDEBUG_MSG_printf("%s:%d: [%d]ds[%d]:%u", kMethod, __LINE__, ucSlot, i, devInfo.m_dwLaneDS[i]);
        devInfo.m_ucU4Mode = ucGet8574U4Mode(hDev);
        vDEBUG_MSG_printf("%s:%d: U4 Mode:%d", kMethod, __LINE__, devInfo.m_ucU4Mode);
        if (devInfo.m_ucU4Mode != U4_MODE_LEGACY && devInfo.m_ucU4Mode != STATUS_READ_FAILED) {
            devInfo.m_ucLinkSpeed = ucGet8574U4Speed(hDev);
            vDEBUG_MSG_printf("%s:%d: U4 Spd:%d", kMethod, __LINE__, devInfo.m_ucLinkSpeed);
        } else {
            devInfo.m_strUSBSpeed = vGet8574UsbConnectionStatus(hDev);
            devInfo.m_ucLinkSpeed = ucGetUSBSpeedCode(devInfo.m_strUSBSpeed);
            vDEBUG_MSG_printf("%s:%d: U3 Spd:%d", kMethod, __LINE__, devInfo.m_ucLinkSpeed);
        }
        uint8_t ucPD = 0xFF;
        devInfo.m_ucPDType = SCSI8574_AccessRegister(hDev, ACCESS_READ, REG_PD_TYPE, &ucPD, 1) == SCSI_RESULT_OK
                                 ? static_cast<uint8_t>((ucPD >> 1) & 1)
                                 : 0xFF;
        strChipRevision.clear();
        return true;
    }
    case BRIDGE_TYPE_752X:
    case BRIDGE_TYPE_6390:
        if (!bChipOfBridgeType(strChip, iBridgeType))
            return false;
        strChipRevision = strGetChipRevision(hDev);
        devInfo.m_ucDevType = ucGetDeviceType(hDev, devInfo);
        devInfo.m_ucChipVariant = ucGetDeviceSubType(hDev, devInfo.m_ucDevType);
        return true;
    default:
        return false;
    }
}

void CKrvnUSBDev::vReadBridgeDetails(HANDLE hDev, const std::string& strChip, int iBridgeType, DevInfo& devInfo)
{
    bReadFWVersion(hDev, iBridgeType, devInfo.m_strFWVersion);

    if (iBridgeType == BRIDGE_TYPE_857X) {
        devInfo.m_ucDevType = ucGet8574DeviceType(hDev, devInfo);
        devInfo.m_ucChipMajorRev = ucGet8574VariantCode(hDev);
        pUtility.m_strChipVersion = strGet8574ChipType(hDev);
        ucGet8574USBMode(hDev, devInfo);
        devInfo.m_ucCCOrientation = static_cast<uint8_t>(nGet8574CCOrientation(hDev));
    } else {
        devInfo.m_ucDevType = ucGetDeviceType(hDev, devInfo);
        pUtility.m_strChipVersion = strGetChipRevision(hDev);
        ucGetUSBMode(hDev, devInfo);
        devInfo.m_ucCCOrientation = static_cast<uint8_t>(nGetCCOrientation(hDev, devInfo.m_ucDevType));
        devInfo.m_strUSBSpeed = vGetUsbConnectionStatus(hDev, devInfo);
    }
}

bool CKrvnUSBDev::vTestHandleFromPhysicalAddress(CUSBWalkState& walk, const std::string& szDevPath,
                                                 const std::string& strHubName, const std::string& strTargetChip,
                                                 int iBridgeType)
{
    static const char* const kMethod = "CKrvnUSBDev::vTestHandleFromPhysicalAddress";
    ++pUtility.g_ucFoundCount;
    DevList* pDevList = m_pDevList.load();
    const uint8_t ucSlot = walk.m_ucDevIndex;
    if (!pDevList || ucSlot >= MAX_DEV_SLOTS) {
        vDEBUG_ERR_printf("%s:%d: strPhysicalAddress:[%s] no free record (index %d), dwErrorCode %d", kMethod,
                          __LINE__, szDevPath.c_str(), ucSlot, 0);
        return false;
    }
    CDriveHandle hDev(CreateDriveHandle(szDevPath));
    if (!hDev.bIsValid()) {
        vDEBUG_ERR_printf("%s:%d: strPhysicalAddress:[%s] , dwErrorCode %d", kMethod, __LINE__, szDevPath.c_str(), 0);
        return false;
    }
    try {
        uint8_t ucInquiry[INQUIRY_CHIP_ID_LENGTH];
        if (SCSI6390_Inquiry(hDev.get(), ucInquiry, sizeof ucInquiry) != SCSI_RESULT_OK) {
            vDEBUG_ERR_printf("%s:%d: strPhysicalAddress[%s] SCSI_Inquiry Fail , dwErrorCode %d", kMethod, __LINE__,
                              szDevPath.c_str(), 0);
            if (m_bOpen == 1)
                vCountUnidentified(*pDevList, szDevPath, "no answer to the chip query");
            return false;
        }
        const std::string strChip = strInquiryChipText(ucInquiry);

        DevInfo devInfo = pDevList->Devs[ucSlot];
        devInfo.m_ucPortIndex = ucSlot;
        std::string strChipRevision;
        if (!bReadBridgeState(hDev.get(), strChip, iBridgeType, devInfo, strChipRevision))
            return false;

        // An 857x has no chip revision text, so any expected text other
        // than "0" refuses it.
        if (strTargetChip != TARGET_CHIP_ANY &&
            (strChipRevision == TARGET_CHIP_ANY || strChipRevision != strTargetChip)) {
            vDEBUG_MSG_printf("%s:%d: ct0[%s],ct1[%s]", kMethod, __LINE__, strTargetChip.c_str(),
                              strChipRevision.c_str());
            return false;
        }

        krv::StorageDeviceNumber number;
        if (!hDev.get()->deviceNumber(number)) {
            vDEBUG_MSG_printf("%s:%d: vTestHandleFromPhysicalAddress: ucDevIdx:%d szDevPath:%s Error:%d", kMethod,
                              __LINE__, 0, szDevPath.c_str(), nLastError());
            return false;
        }
        const bool bCdRomPath = szDevPath.find("CDROM") != std::string::npos;
        const std::string strReported = strDrivePath(
            bCdRomPath ? krv::DriveKind::CdRom : krv::DriveKind::PhysicalDrive, static_cast<int>(number.deviceNumber));
        if (strcasecmp(strReported.c_str(), szDevPath.c_str()) != 0) {
            vDEBUG_ERR_printf("%s:%d: vTestHandleFromPhysicalAddress: strPhysicalAddress[%s] != "
                              "StoDevNum.DeviceNumber[%d] ",
                              kMethod, __LINE__, szDevPath.c_str(), number.deviceNumber);
            vDEBUG_MSG_printf("%s:%d: vTestHandleFromPhysicalAddress: Devs[%d].m_ucPhysicalAddress:%d , szDevPath:%s "
                              "StoDevNum:%d  ",
                              kMethod, __LINE__, 0, pDevList->Devs[0].m_ucPhysicalAddress, szDevPath.c_str(),
                              number.deviceNumber);
            return false;
        }

        vDEBUG_MSG_printf("%s:%d: vTestHandleFromPhysicalAddress: Get Data[%s] [%d]", kMethod, __LINE__,
                          szDevPath.c_str(), number.deviceNumber);
        if (m_bOpen == 1) {
            devInfo.m_bIsCDROM = walk.m_bIsCDROM;
            if (walk.m_bIsCDROM)
                devInfo.m_ucCDROMAddress = static_cast<uint8_t>(number.deviceNumber);
            else
                devInfo.m_ucPhysicalAddress = static_cast<uint8_t>(number.deviceNumber);
        }
        devInfo.m_iPortLocation = walk.m_iPortLocation;
        devInfo.m_strPID = walk.m_strPID;
        devInfo.m_strVID = walk.m_strVID;
        devInfo.m_strSerialNumber = walk.m_strSerialNumber;
        devInfo.m_strManufacturer = walk.m_strManufacturer;
        devInfo.m_strProduct = walk.m_strProduct;
        devInfo.m_strVersion = walk.m_strVersion;
        devInfo.m_ulPortIndex = walk.m_ulPortIndex;
        devInfo.m_ulPortCount = walk.m_ulPortCount;
        devInfo.m_strHubName = strHubName;

        vReadBridgeDetails(hDev.get(), strChip, iBridgeType, devInfo);

        vCommitRecord(devInfo, pDevList->Devs[ucSlot]);
        if (walk.m_bIsCDROM)
            pDevList->m_bScanFoundCDROMOnly = 1;
        walk.m_ucDevIndex = static_cast<uint8_t>(ucSlot + 1);
        if (m_bOpen == 1)
            pDevList->DevNums = walk.m_ucDevIndex;
        return true;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: strPhysicalAddress:[%s] , dwErrorCode %d", kMethod, __LINE__, szDevPath.c_str(),
                          nLastError());
        return false;
    }
}

bool CKrvnUSBDev::bBridgeBeyondFullTable(CUSBWalkState& walk, int iBridgeType)
{
    static const char* const kMethod = "CKrvnUSBDev::bBridgeBeyondFullTable";
    const uint8_t ucPhysicalAddress = ucGetPhysicalAddressFromSN(walk, SN_SEARCH_DISK, iBridgeType);
    if (ucPhysicalAddress == PHYSICAL_ADDRESS_NONE)
        return bOwnDiskOutOfTable(walk.m_strDevDriverKeyName);
    const std::string strPath = strDrivePath(krv::DriveKind::PhysicalDrive, ucPhysicalAddress);
    CDriveHandle hDev(CreateDriveHandle(strPath));
    if (!hDev.bIsValid())
        return false;
    try {
        uint8_t ucInquiry[INQUIRY_CHIP_ID_LENGTH];
        if (SCSI6390_Inquiry(hDev.get(), ucInquiry, sizeof ucInquiry) != SCSI_RESULT_OK)
            return true;
        return bChipOfBridgeType(strInquiryChipText(ucInquiry), iBridgeType);
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: strPhysicalAddress:[%s] , dwErrorCode %d", kMethod, __LINE__, strPath.c_str(),
                          nLastError());
        return false;
    }
}

// ---- a known port again ------------------------------------------------------------------

bool CKrvnUSBDev::bUpdateDeviceInfo(CUSBWalkState& walk, const std::string& RootHubName, uint32_t PortIndex,
                                    uint32_t ulPortCount)
{
    static const char* const kMethod = "CKrvnUSBDev::bUpdateDeviceInfo";
    std::unique_ptr<krv::UsbHub> hub = krv::Platform::current().usbTree().openHub(RootHubName);
    if (!hub) {
        vDEBUG_ERR_printf("%s:%d: bUpdateDeviceInfo, create root hub handle Fail , RootHubName: %s PortIndex %d",
                          kMethod, __LINE__, RootHubName.c_str(), PortIndex);
        return false;
    }
    auto configuredDevice = [&hub](uint32_t ulPort, krv::UsbConnectionInfo& info) {
        return hub->connectionInformation(ulPort, info) && info.bytesReturned() > CONNECTION_FIXED_PART &&
               !info.deviceIsHub;
    };

    bool bResult = false;
    uint32_t ulChosen = PortIndex;
    krv::UsbConnectionInfo info;
    if (configuredDevice(PortIndex, info)) {
        bResult = true;
    } else {
        CUSBWalkState::HUB_ENTRY hubTable[WALK_HUB_TABLE_SIZE];
        vGetHubTable(hubTable);
        // Ports the last scan saw as hubs or devices without a serial, and
        // ports where another record's drive sits, hold no drive of ours.
        auto stepOver = [&](uint32_t ulPort) {
            for (const CUSBWalkState::HUB_ENTRY& entry : hubTable)
                if (entry.ulPortCount != 0 && entry.strHubName == RootHubName && ulPort < WALK_HUB_PORT_MARKS &&
                    entry.ucPortMark[ulPort] == 1)
                    return true;
            const DevList* pDevList = m_pDevList.load();
            if (pDevList)
                for (const DevInfo& other : pDevList->Devs)
                    if (other.m_ucPortIndex != DEV_PORT_INDEX_EMPTY && other.m_strHubName == RootHubName &&
                        other.m_ulPortIndex == ulPort && ulPort != PortIndex)
                        return true;
            return false;
        };
        for (uint32_t p = 1; p <= ulPortCount; ++p) {
            if (stepOver(p))
                continue;
            if (configuredDevice(p, info)) {
                ulChosen = p;
                bResult = true;
                break;
            }
        }
        if (!bResult)
            hub->connectionInformation(PortIndex, info);
    }
    walk.m_strCurrentHubName = RootHubName;
    walk.m_ulPortIndex = ulChosen;
    GetDeviceDescriptor(walk, *hub, ulChosen, 0, info.deviceDescriptor);
    return bResult;
}
