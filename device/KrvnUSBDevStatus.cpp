// The bridge status readers: a few register bytes turned into the codes and
// texts the device table and the results table show. They run on a drive the
// caller has open; a failed read gives the reader's failure value and an
// error line, and is never retried beyond the register command's own
// retries. 857x bridges are read with the 857x register command (it reaches
// registers above 0xFFFF), the others with the 6390 one.
#include <cstdio>
#include <string>

#include "device/DebugLog.h"
#include "device/KrvnUSBDev.h"
#include "platform/LastError.h"
#include "platform/Platform.h"

namespace {

int nLastError() { return static_cast<int>(krv::lastError()); }

// Registers.
constexpr uint32_t REG_USB_STREAM_MODE = 0x9000;
constexpr uint32_t REG_USB_CONNECTION_419X = 0x9002;
constexpr uint32_t REG_USB_CONNECTION = 0x9100;
constexpr uint32_t REG_USB_SPEED_419X = 0x90E5;
constexpr uint32_t REG_USB_SPEED_752B = 0x92B8;
constexpr uint32_t REG_USB_SPEED_857X = 0x92F8;
constexpr uint32_t REG_LANE_SELECT = 0xB404;
constexpr uint32_t REG_LANE_CS_FIRST = 0xE765;   // lanes 8 apart
constexpr uint32_t REG_LANE_DS_FIRST = 0x24092;  // lanes 0x400 apart
constexpr uint32_t REG_CC_ORIENTATION_857X = 0xE302;
constexpr uint16_t REG_CC_ORIENTATION_752A = 0xCACB;
constexpr uint16_t REG_CC_ORIENTATION_752B = 0xC6DB;
constexpr uint16_t REG_CHIP_REVISION = 0xC8FF;
constexpr uint16_t REG_CHIP_BOUNDING_OPTION = 0xC895;
constexpr uint16_t REG_CHIP_SUBTYPE = 0xE495;
constexpr uint32_t REG_U4_LINK = 0x20000;
constexpr uint32_t REG_U4_TUNNEL = 0x22805;
constexpr uint32_t REG_U4_GEN = 0x22865;
constexpr uint32_t REG_U4_WIDTH = 0x22871;
constexpr uint32_t REG_U4_LANE0 = 0x228A0;
constexpr uint32_t REG_U4_LANE1 = 0x228A1;
constexpr uint32_t REG_U4_INFO = 0x2601A;

constexpr uint64_t USB_SPEED_SETTLE_MS = 500;

bool bBit(uint8_t ucValue, int nBit) { return (ucValue >> nBit) & 1; }

int nRead8574(HANDLE hDev, uint32_t dwAddress, uint8_t& ucValue)
{
    return CKrvnUSBDev::SCSI8574_AccessRegister(hDev, ACCESS_READ, dwAddress, &ucValue, 1);
}

int nRead6390(HANDLE hDev, uint16_t wAddress, uint8_t& ucValue)
{
    return CKrvnUSBDev::SCSI6390_AccessRegister(hDev, ACCESS_READ, wAddress, &ucValue, 1);
}

// The chip identity of INQUIRY bytes 37 and 36: "8574", "7520", "6390" ...
bool bReadChipIdentity(HANDLE hDev, const char* pszMethod, std::string& strChip)
{
    uint8_t ucInquiry[INQUIRY_CHIP_ID_LENGTH];
    int iResult = CKrvnUSBDev::SCSI6390_Inquiry(hDev, ucInquiry, sizeof ucInquiry);
    if (iResult != SCSI_RESULT_OK) {
        vDEBUG_ERR_printf("%s:%d: SCSI6390_Inquiry Faiiled: iResult =%d", pszMethod, __LINE__, iResult);
        return false;
    }
    char szChip[8];
    std::snprintf(szChip, sizeof szChip, "%02X%02X", ucInquiry[37], ucInquiry[36]);
    strChip = szChip;
    return true;
}

std::string strRevisionDigit(uint8_t ucRevision)
{
    char szDigit[4];
    std::snprintf(szDigit, sizeof szDigit, "%x", ucRevision & 0x0F);
    return szDigit;
}

// The revision text of the chip register: bits 6, 5, 4 as "0"/"1" when bit 5
// or 4 is set, else "00"; "001" of a first silicon (low nibble 0) is B0.
std::string strRevisionBits(uint8_t ucRevision)
{
    std::string strText;
    if (bBit(ucRevision, 5) || bBit(ucRevision, 4)) {
        strText += bBit(ucRevision, 6) ? '1' : '0';
        strText += bBit(ucRevision, 5) ? '1' : '0';
        strText += bBit(ucRevision, 4) ? '1' : '0';
    } else {
        strText = "00";
    }
    if (strText == "001" && (ucRevision & 0x0F) == 0)
        strText += "_B0";
    return strText;
}

const char* pszConnectionText(uint8_t ucConnection)
{
    switch (ucConnection) {
    case 0: return "FULL";
    case 1: return "HIGH";
    case 2: return "SUPER";
    default: return "";
    }
}

}  // namespace

uint8_t CKrvnUSBDev::ucGet8574USBMode(HANDLE hDev, const DevInfo& devInfo)
{
    static const char* const kMethod = "CKrvnUSBDev::ucGet8574USBMode";
    uint8_t ucMode = 0;
    if (nRead8574(hDev, REG_USB_STREAM_MODE, ucMode) != SCSI_RESULT_OK) {
        vDEBUG_ERR_printf("%s:%d: SCSI8574_AccessRegister Failed, Error =0x%02x", kMethod, __LINE__, nLastError());
        return STATUS_READ_FAILED;
    }
    const bool bUas = devInfo.m_ucDevType == DEV_TYPE_752B ? ucMode == 1 : bBit(ucMode, 7);
    vDEBUG_MSG_printf("%s:%d: CurrentStreamMode:[%s]", kMethod, __LINE__, bUas ? "UAS" : "BOT");
    return bUas ? USB_MODE_UAS : USB_MODE_BOT;
}

uint8_t CKrvnUSBDev::ucGetUSBMode(HANDLE hDev, const DevInfo& devInfo)
{
    static const char* const kMethod = "CKrvnUSBDev::ucGetUSBMode";
    uint8_t ucMode = 0;
    if (nRead6390(hDev, REG_USB_STREAM_MODE, ucMode) != SCSI_RESULT_OK) {
        vDEBUG_ERR_printf("%s:%d: SCSI6390_AccessRegister Failed, Error =0x%02x", kMethod, __LINE__, nLastError());
        return STATUS_READ_FAILED;
    }
    const bool bUas = devInfo.m_ucDevType == DEV_TYPE_752B ? ucMode == 1 : bBit(ucMode, 7);
    vDEBUG_MSG_printf("%s:%d: CurrentStreamMode:[%s]", kMethod, __LINE__, bUas ? "UAS" : "BOT");
    return bUas ? USB_MODE_UAS : USB_MODE_BOT;
}

uint8_t CKrvnUSBDev::ucGet8574DeviceType(HANDLE hDev, DevInfo& devInfo)
{
    static const char* const kMethod = "CKrvnUSBDev::ucGet8574DeviceType";
    try {
        std::string strChip;
        if (!bReadChipIdentity(hDev, kMethod, strChip))
            return STATUS_READ_FAILED;
        uint8_t ucRevision = 0;
        int iResult = nRead8574(hDev, REG_CHIP_REVISION, ucRevision);
        if (iResult != SCSI_RESULT_OK) {
            vDEBUG_ERR_printf("%s:%d: SCSI8574_AccessRegister Faiiled: iResult =%d", kMethod, __LINE__, iResult);
            return STATUS_READ_FAILED;
        }
        devInfo.m_strChipText2 = strRevisionDigit(ucRevision);
        if (strChip != "8574") {
            devInfo.m_strChipText = "Not Defined";
            return STATUS_READ_FAILED;
        }
        devInfo.m_ucDevType = DEV_TYPE_8574;
        devInfo.m_strChipText = std::string("857") + static_cast<char>('A' + ((ucRevision >> 4) & 7));
        return DEV_TYPE_8574;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: : catch(...) dwErrorCode %d", kMethod, __LINE__, nLastError());
        return STATUS_READ_FAILED;
    }
}

uint8_t CKrvnUSBDev::ucGetDeviceType(HANDLE hDev, DevInfo& devInfo)
{
    static const char* const kMethod = "CKrvnUSBDev::ucGetDeviceType";
    try {
        std::string strChip;
        if (!bReadChipIdentity(hDev, kMethod, strChip))
            return STATUS_READ_FAILED;
        uint8_t ucRevision = 0;
        int iResult = nRead6390(hDev, REG_CHIP_REVISION, ucRevision);
        if (iResult != SCSI_RESULT_OK) {
            vDEBUG_ERR_printf("%s:%d: SCSI6390_AccessRegister Faiiled: iResult =%d", kMethod, __LINE__, iResult);
            return STATUS_READ_FAILED;
        }
        devInfo.m_strChipText2 = strRevisionDigit(ucRevision);
        const uint8_t v = (ucRevision >> 4) & 7;
        if (strChip == "7520") {
            if (v == 0) {
                devInfo.m_strChipText = "752A";
                devInfo.m_ucDevType = DEV_TYPE_752A;
                return DEV_TYPE_752A;
            }
            if (v == 1) {
                devInfo.m_strChipText = "752B";
                devInfo.m_ucDevType = DEV_TYPE_752B;
                return DEV_TYPE_752B;
            }
            devInfo.m_strChipText = "Not Defined";
            return STATUS_READ_FAILED;
        }
        // Older bridges: the caller stores the type.
        switch (v) {
        case 0: devInfo.m_strChipText = "A"; return DEV_TYPE_A;
        case 1: devInfo.m_strChipText = "B"; return DEV_TYPE_B;
        case 2: devInfo.m_strChipText = "C"; return DEV_TYPE_C;
        case 3: {
            uint8_t ucOption = 0;
            iResult = nRead6390(hDev, REG_CHIP_BOUNDING_OPTION, ucOption);
            if (iResult != SCSI_RESULT_OK) {
                vDEBUG_ERR_printf("%s:%d: SCSI6390_AccessRegister Faiiled(SCSI_USB_CHIP_BOUNDING_OPTION): iResult =%d",
                                  kMethod, __LINE__, iResult);
                return STATUS_READ_FAILED;
            }
            devInfo.m_strChipText = "D";
            return bBit(ucOption, 1) ? DEV_TYPE_D3 : DEV_TYPE_D4;
        }
        case 5: devInfo.m_strChipText = "E"; return DEV_TYPE_E;
        default: devInfo.m_strChipText = "Not Defined"; return STATUS_READ_FAILED;
        }
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: : catch(...) dwErrorCode %d", kMethod, __LINE__, nLastError());
        return STATUS_READ_FAILED;
    }
}

uint8_t CKrvnUSBDev::ucGet8574VariantCode(HANDLE hDev)
{
    uint8_t ucRevision = 0;
    if (nRead8574(hDev, REG_CHIP_REVISION, ucRevision) != SCSI_RESULT_OK) {
        vDEBUG_ERR_printf("%s:%d: SCSI8574_AccessRegister Failed, Error =0x%02x", "CKrvnUSBDev::ucGet8574VariantCode",
                          __LINE__, nLastError());
        return STATUS_READ_FAILED;
    }
    return (ucRevision >> 4) & 7;
}

uint8_t CKrvnUSBDev::ucGetDeviceSubType(HANDLE hDev, uint8_t ucChipType)
{
    // Only the 752B has sub-types.
    if (ucChipType != DEV_TYPE_752B)
        return STATUS_READ_FAILED;
    uint8_t ucSubType = 0;
    if (nRead6390(hDev, REG_CHIP_SUBTYPE, ucSubType) != SCSI_RESULT_OK) {
        vDEBUG_ERR_printf("%s:%d: SCSI6390_AccessRegister Failed, Error =0x%02x", "CKrvnUSBDev::ucGetDeviceSubType",
                          __LINE__, nLastError());
        return STATUS_READ_FAILED;
    }
    if (!bBit(ucSubType, 4))
        return 5;
    return bBit(ucSubType, 2) ? 3 : 4;
}

int CKrvnUSBDev::nGet8574CCOrientation(HANDLE hDev)
{
    static const char* const kMethod = "CKrvnUSBDev::nGet8574CCOrientation";
    if (!bIsValidHandle(hDev)) {
        vDEBUG_ERR_printf("%s:%d: hDevice: NULL ", kMethod, __LINE__);
        return STATUS_READ_FAILED;
    }
    uint8_t ucValue = 0;
    if (nRead8574(hDev, REG_CC_ORIENTATION_857X, ucValue) != SCSI_RESULT_OK) {
        vDEBUG_ERR_printf("%s:%d: SCSI8574_AccessRegister Failed Error = 0x%02x", kMethod, __LINE__, nLastError());
        return STATUS_READ_FAILED;
    }
    return (ucValue >> 6) & 3;
}

int CKrvnUSBDev::nGetCCOrientation(HANDLE hDev, uint8_t ucChipType)
{
    static const char* const kMethod = "CKrvnUSBDev::nGetCCOrientation";
    if (!bIsValidHandle(hDev)) {
        vDEBUG_ERR_printf("%s:%d: hDevice is NULL] ", kMethod, __LINE__);
        return STATUS_READ_FAILED;
    }
    if (ucChipType == DEV_TYPE_UNKNOWN) {
        vDEBUG_ERR_printf("%s:%d: ucDevType==DEV_UNKNOW ", kMethod, __LINE__);
        return STATUS_READ_FAILED;
    }
    uint16_t wRegister = 0;
    if (ucChipType == DEV_TYPE_E || ucChipType == DEV_TYPE_752A)
        wRegister = REG_CC_ORIENTATION_752A;
    else if (ucChipType == DEV_TYPE_752B)
        wRegister = REG_CC_ORIENTATION_752B;
    else
        return 0;   // no orientation register on the older bridges
    uint8_t ucValue = 0;
    if (nRead6390(hDev, wRegister, ucValue) != SCSI_RESULT_OK) {
        vDEBUG_ERR_printf("%s:%d: SCSI6390_AccessRegister Failed Error=0x%02x", kMethod, __LINE__, nLastError());
        return STATUS_READ_FAILED;
    }
    return ucValue & 1;
}

uint8_t CKrvnUSBDev::ucGet8574U4Mode(HANDLE hDev)
{
    uint8_t ucLink = 0;
    uint8_t ucTunnel = 0;
    if (nRead8574(hDev, REG_U4_LINK, ucLink) != SCSI_RESULT_OK ||
        nRead8574(hDev, REG_U4_TUNNEL, ucTunnel) != SCSI_RESULT_OK)
        return STATUS_READ_FAILED;
    uint8_t ucMode;
    if (!bBit(ucLink, 1))
        ucMode = U4_MODE_LEGACY;
    else if (!bBit(ucTunnel, 7))
        ucMode = U4_MODE_TBT3;
    else
        ucMode = bBit(ucLink, 2) ? U4_MODE_U3_TNL : U4_MODE_PCIE_TNL;
    char szText[32];
    std::snprintf(szText, sizeof szText, "ucU4Mode:%d", ucMode);
    vDEBUG_MSG_printf("%s:%d: %s", "CKrvnUSBDev::ucGet8574U4Mode", __LINE__, szText);
    return ucMode;
}

uint8_t CKrvnUSBDev::ucGet8574U4Speed(HANDLE hDev)
{
    uint8_t ucGen = 0;
    uint8_t ucWidth = 0;
    uint8_t ucLane0 = 0;
    uint8_t ucLane1 = 0;
    if (nRead8574(hDev, REG_U4_GEN, ucGen) != SCSI_RESULT_OK ||
        nRead8574(hDev, REG_U4_WIDTH, ucWidth) != SCSI_RESULT_OK ||
        nRead8574(hDev, REG_U4_LANE0, ucLane0) != SCSI_RESULT_OK ||
        nRead8574(hDev, REG_U4_LANE1, ucLane1) != SCSI_RESULT_OK)
        return STATUS_READ_FAILED;
    uint8_t ucSpeed = static_cast<uint8_t>(U4_SPEED_GEN2X1 + 2 * bBit(ucGen, 4));
    if (ucWidth == 1 && ucLane0 == 2 && ucLane1 == 2)
        ++ucSpeed;   // both lanes bonded
    return ucSpeed;
}

int CKrvnUSBDev::nGet8574U4InfoByte(HANDLE hDev, int* pnValue)
{
    uint8_t ucValue = 0;
    int iResult = nRead8574(hDev, REG_U4_INFO, ucValue);
    if (iResult == SCSI_RESULT_OK && pnValue)
        *pnValue = ucValue;
    return iResult;
}

int CKrvnUSBDev::nGet8574LaneStatus(HANDLE hDev, uint8_t ucCS[4])
{
    for (int i = 0; i < 4; ++i)
        ucCS[i] = 0xFF;
    uint8_t ucSelect = 0;
    int iResult = nRead8574(hDev, REG_LANE_SELECT, ucSelect);
    if (iResult != SCSI_RESULT_OK)
        return iResult;
    for (int i = 0; i < 4; ++i) {
        if (!bBit(ucSelect, i))
            continue;
        uint8_t ucValue = 0;
        iResult = nRead8574(hDev, REG_LANE_CS_FIRST + 8 * i, ucValue);
        if (iResult != SCSI_RESULT_OK)
            return iResult;
        ucCS[i] = bBit(ucValue, 1);
    }
    return SCSI_RESULT_OK;
}

int CKrvnUSBDev::nGet8574LaneValues(HANDLE hDev, const uint8_t ucCS[4], uint32_t dwDS[4])
{
    dwDS[0] = 0;
    for (int i = 0; i < 4; ++i) {
        if (ucCS[i] != 1)
            continue;
        uint8_t ucValue = 0;
        int iResult = nRead8574(hDev, REG_LANE_DS_FIRST + 0x400 * i, ucValue);
        if (iResult != SCSI_RESULT_OK)
            return iResult;
        dwDS[i] = (ucValue & 0x0F) * 100u + (ucValue >> 4);
    }
    return SCSI_RESULT_OK;
}

std::string CKrvnUSBDev::vGet8574UsbConnectionStatus(HANDLE hDev)
{
    static const char* const kMethod = "CKrvnUSBDev::vGet8574UsbConnectionStatus";
    uint8_t ucConnection = 0;
    if (nRead8574(hDev, REG_USB_CONNECTION, ucConnection) != SCSI_RESULT_OK)
        return std::string();
    vDEBUG_MSG_printf("%s:%d: 752x:0x%02x", kMethod, __LINE__, ucConnection);
    std::string strSpeed = pszConnectionText(ucConnection);
    if (ucConnection != 2)
        return strSpeed;
    // The SuperSpeed flavour settles a little after the connection.
    krv::Platform::current().clock().sleepMs(USB_SPEED_SETTLE_MS);
    uint8_t ucSpeed = 0;
    if (nRead8574(hDev, REG_USB_SPEED_857X, ucSpeed) != SCSI_RESULT_OK)
        return std::string();
    vDEBUG_MSG_printf("%s:%d: 857x:0x%02x", kMethod, __LINE__, ucSpeed);
    strSpeed = bBit(ucSpeed, 2) ? "PLUS" : "SUPER";
    strSpeed += bBit(ucSpeed, 4) ? "x2" : "x1";
    return strSpeed;
}

std::string CKrvnUSBDev::vGetUsbConnectionStatus(HANDLE hDev, const DevInfo& devInfo)
{
    static const char* const kMethod = "CKrvnUSBDev::vGetUsbConnectionStatus";
    const bool b752B = devInfo.m_strChipText == "752B";
    const bool b752A = devInfo.m_strChipText == "752A";
    uint8_t ucConnection = 0;
    std::string strSpeed;
    if (b752B) {
        if (nRead6390(hDev, REG_USB_CONNECTION, ucConnection) != SCSI_RESULT_OK)
            return std::string();
        vDEBUG_MSG_printf("%s:%d: 752x:%02x", kMethod, __LINE__, ucConnection);
    } else {
        if (nRead6390(hDev, REG_USB_CONNECTION_419X, ucConnection) != SCSI_RESULT_OK)
            return std::string();
        vDEBUG_MSG_printf("%s:%d: 419x:%02x", kMethod, __LINE__, ucConnection);
    }
    strSpeed = pszConnectionText(ucConnection);
    if (ucConnection == 2) {
        uint8_t ucSpeed = 0;
        if (b752B) {
            if (nRead6390(hDev, REG_USB_SPEED_752B, ucSpeed) != SCSI_RESULT_OK) {
                strSpeed.clear();
            } else {
                vDEBUG_MSG_printf("%s:%d: 752B_0x92B8[2]:[%02x]", kMethod, __LINE__, ucSpeed);
                strSpeed = bBit(ucSpeed, 2) ? "PLUS" : "SUPER";
            }
        } else {
            if (nRead6390(hDev, REG_USB_SPEED_419X, ucSpeed) != SCSI_RESULT_OK) {
                strSpeed.clear();
            } else {
                vDEBUG_MSG_printf("%s:%d: 419x & 752A_0x90E5:[%02x]", kMethod, __LINE__, ucSpeed);
                strSpeed = ucSpeed == 1 ? "PLUS" : "SUPER";
            }
        }
    }
    // The 752A's lane count goes by the speed the record already holds; the
    // 752B reads its own, whatever the text so far.
    if (b752A && (devInfo.m_strUSBSpeed == "SUPER" || devInfo.m_strUSBSpeed == "PLUS"))
        strSpeed += " x1";
    if (b752B) {
        uint8_t ucLanes = 0;
        if (nRead6390(hDev, REG_USB_SPEED_752B, ucLanes) != SCSI_RESULT_OK)
            return std::string();
        vDEBUG_MSG_printf("%s:%d: 752B_0x92B8[4]:[%02x]", kMethod, __LINE__, ucLanes);
        strSpeed += bBit(ucLanes, 4) ? " x2" : " x1";
    }
    return strSpeed;
}

std::string CKrvnUSBDev::strGet8574ChipType(HANDLE hDev)
{
    uint8_t ucRevision = 0;
    if (nRead8574(hDev, REG_CHIP_REVISION, ucRevision) != SCSI_RESULT_OK)
        return "0";
    return strRevisionBits(ucRevision);
}

std::string CKrvnUSBDev::strGetChipRevision(HANDLE hDev)
{
    uint8_t ucRevision = 0;
    if (nRead6390(hDev, REG_CHIP_REVISION, ucRevision) != SCSI_RESULT_OK)
        return "0";
    std::string strText = strRevisionBits(ucRevision);
    if (strText == "011") {
        uint8_t ucOption = 0;
        if (nRead6390(hDev, REG_CHIP_BOUNDING_OPTION, ucOption) == SCSI_RESULT_OK)
            strText += bBit(ucOption, 1) ? "_1" : "_2";
    }
    return strText;
}

uint8_t CKrvnUSBDev::ucGetUSBSpeedCode(const std::string& strSpeed)
{
    const auto has = [&strSpeed](const char* pszWord) { return strSpeed.find(pszWord) != std::string::npos; };
    if (has("FULL"))
        return USB_SPEED_FULL;
    if (has("HIGH"))
        return USB_SPEED_HIGH;
    if (has("SUPER"))
        return has("x2") ? USB_SPEED_SUPER_X2 : USB_SPEED_SUPER;
    if (has("PLUS"))
        return has("x2") ? USB_SPEED_PLUS_X2 : USB_SPEED_PLUS;
    return STATUS_READ_FAILED;
}
