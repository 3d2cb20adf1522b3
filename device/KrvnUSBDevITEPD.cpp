// The ITE power-delivery controller behind the bridge, reached through the
// bridge's I2C tunnel (vendor command 0xEE): its flash is erased, programmed
// and verified from a firmware file, its signature written last, and the
// controller restarted by its watchdog.
#include <cstring>
#include <vector>

#include "device/DebugLog.h"
#include "device/KrvnUSBDev.h"
#include "device/KrvnUSBDevRequest.h"
#include "device/PDFirmwareFile.h"
#include "platform/LastError.h"
#include "platform/Platform.h"

namespace {

int nLastError() { return static_cast<int>(krv::lastError()); }
unsigned uHandle(HANDLE hDev) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(hDev)); }
void vSleep(uint32_t dwMs) { krv::Platform::current().clock().sleepMs(dwMs); }

constexpr uint8_t ITE_TUNNEL = 0xEE;
constexpr uint8_t ITE_FUNC_WRITE = 1;
constexpr uint8_t ITE_FUNC_READ = 2;
constexpr uint8_t ITE_FUNC_VERSION = 3;
constexpr uint32_t ITE_TRANSFER_MAX = 256;
constexpr uint8_t ITE_WRITE_MAX = 3;

constexpr uint16_t ITE_REG_VERSION = 0x0000;
constexpr uint16_t ITE_REG_STOP_CPU = 0x00FE;
constexpr uint8_t ITE_REG8_STOP_CPU = 0xFE;
constexpr uint16_t ITE_REG_CHIP_ID = 0xFFC0;
constexpr uint16_t ITE_REG_TEST_MODE = 0xFFF8;
constexpr uint16_t ITE_REG_FLASH_ADDRESS = 0xFFFA;
constexpr uint16_t ITE_REG_FLASH_COMMAND = 0xFFFE;
constexpr uint16_t ITE_REG_FLASH_STATUS = 0xFFFF;
constexpr uint16_t ITE_REG_WDT = 0xFFD3;
constexpr uint16_t ITE_REG_WDT_KICK = 0xFFD1;
constexpr uint8_t ITE_STATUS_BUSY = 0x10;

constexpr uint8_t FLASH_WRITE_ENABLE = 0x04;
constexpr uint8_t FLASH_WRITE_DISABLE = 0x05;
constexpr uint8_t FLASH_CHIP_ERASE = 0x07;
constexpr uint8_t FLASH_QUAD_READ = 0x13;
constexpr uint8_t FLASH_AAI_PROGRAM = 0x16;

constexpr uint32_t ITE_PAGE = 256;
constexpr uint32_t ITE_BLANK_PAGES = 256;
constexpr uint32_t ITE_FLASH_SIZE = ITE_PAGE * ITE_BLANK_PAGES;
constexpr uint32_t ITE_SIGNATURE_OFFSET = 64;
constexpr uint32_t ITE_SIGNATURE_LENGTH = 16;
// The busy bit is polled this often, for at most this long, after the
// chip erase; a controller that stays busy fails the erase.
constexpr uint32_t ITE_ERASE_POLL_MS = 10;
constexpr uint32_t ITE_ERASE_LIMIT_MS = 10000;

// The data port, flash address bytes and shift a chip id asks for.
struct IteFlashAccess {
    uint16_t wDataPort;
    uint8_t ucAddrBytes;
    uint8_t ucShift;
};

IteFlashAccess accessOfChip(const uint8_t* id)
{
    IteFlashAccess access{};
    const bool b52 = id[0] == 0x52, b88 = id[0] == 0x88;
    const bool bUpper5 = (id[1] & 0xF0) == 0x50;
    const bool b56to59 = id[1] >= 0x56 && id[1] <= 0x59;
    if (b52)
        access.wDataPort = bUpper5 ? 0x0000 : 0xFFF7;
    else if (b88)
        access.wDataPort = (id[1] == 0x53 && id[2] == 0) || b56to59 ? 0xFFF7 : 0x0000;
    else
        access.wDataPort = 0xDEBF;
    if (b52) {
        access.ucAddrBytes = 3;
        access.ucShift = bUpper5 ? 1 : 0;
    } else if (b56to59) {
        access.ucAddrBytes = 3;
        access.ucShift = 0;
    } else if ((id[2] & 0x7F) >= 5) {
        access.ucAddrBytes = 3;
        access.ucShift = 1;
    } else {
        access.ucAddrBytes = 2;
        access.ucShift = 0;
    }
    return access;
}

}  // namespace

// Exposed for the chip-id table test.
void vITEFlashAccessOfChip(const uint8_t* pucChipId, uint16_t& wDataPort, uint8_t& ucAddrBytes, uint8_t& ucShift)
{
    const IteFlashAccess access = accessOfChip(pucChipId);
    wDataPort = access.wDataPort;
    ucAddrBytes = access.ucAddrBytes;
    ucShift = access.ucShift;
}

namespace {

// Sends one tunnel request; a failed read leaves the caller's buffer cleared.
int32_t iSendTunnel(CPassThroughRequest& request, HANDLE hDev, bool bRead, uint8_t* pucRead, uint32_t dwLen,
                    const char* pszMethod, bool bBurst)
{
    request.bSend(hDev);
    if (request.bSucceeded()) {
        if (bRead)
            std::memcpy(pucRead, request.data(), dwLen);
        return 0;
    }
    if (bRead && pucRead)
        std::memset(pucRead, 0, dwLen);
    if (bBurst)
        vDEBUG_ERR_printf(bRead ? "%s:%d: hDev:%x, DataPhaseLength:%x, status:%x, ScsiStatus:%x, dwErrorCode:%x"
                                : "%s:%d: hDev:%x, DataPhaseLength:%x , status:%x , ScsiStatus:%x , dwErrorCode:%x  ",
                          pszMethod, __LINE__, uHandle(hDev), dwLen, request.bTransportOk() ? 1 : 0,
                          request.ucScsiStatus(), nLastError());
    else
        vDEBUG_ERR_printf("%s:%d: hDev:%x, status:%x, ScsiStatus:%x, dwErrorCode:%x  ", pszMethod, __LINE__,
                          uHandle(hDev), request.bTransportOk() ? 1 : 0, request.ucScsiStatus(), nLastError());
    return -1;
}

bool bBadTunnelArguments(HANDLE hDev, uint8_t ucN, uint32_t dwLen, const char* pszMethod)
{
    if (bIsValidHandle(hDev) && ucN <= ITE_WRITE_MAX && dwLen <= ITE_TRANSFER_MAX)
        return false;
    vDEBUG_ERR_printf("%s:%d: hDev:%x, len = %d, dataphaselen = %d", pszMethod, __LINE__, uHandle(hDev), ucN,
                      static_cast<int>(dwLen));
    return true;
}

}  // namespace

int32_t CKrvnUSBDev::iITE_PD_I2C(HANDLE hDev, uint8_t ucFunc, uint8_t ucN, uint16_t wAddress, const uint8_t* pucWrite,
                                 uint8_t* pucRead, uint32_t dwLen)
{
    static const char* const kMethod = "CKrvnUSBDev::iITE_PD_I2C";
    if (bBadTunnelArguments(hDev, ucN, dwLen, kMethod))
        return SCSI_RESULT_BAD_ARGUMENT;
    if (ucFunc < ITE_FUNC_WRITE || ucFunc > ITE_FUNC_VERSION) {
        vDEBUG_ERR_printf("%s:%d: funccode:%x", kMethod, __LINE__, ucFunc);
        return SCSI_RESULT_BAD_ARGUMENT;
    }
    const uint8_t ucAddrH = static_cast<uint8_t>(wAddress >> 8), ucAddrL = static_cast<uint8_t>(wAddress);
    CPassThroughRequest request(ITE_TRANSFER_MAX);
    if (ucFunc == ITE_FUNC_WRITE) {
        uint8_t ucCdb[16] = {ITE_TUNNEL, ITE_FUNC_WRITE, ucN, ucAddrH, ucAddrL};
        for (uint8_t i = 0; i < ucN && pucWrite; ++i)
            ucCdb[5 + i] = pucWrite[i];
        request.vSetCdb({ucCdb[0], ucCdb[1], ucCdb[2], ucCdb[3], ucCdb[4], ucCdb[5], ucCdb[6], ucCdb[7]}, 16);
        request.vSetTransfer(krv::DataDirection::None, 0, SCSI_TIMEOUT_WRITE);
        return iSendTunnel(request, hDev, false, nullptr, 0, kMethod, false);
    }
    if (!pucRead)
        return SCSI_RESULT_BAD_ARGUMENT;
    request.vSetCdb({ITE_TUNNEL, ucFunc, ucAddrH, ucAddrL, 0x00, static_cast<uint8_t>(dwLen >> 8),
                     static_cast<uint8_t>(dwLen), 0x00},
                    8);
    request.vSetTransfer(krv::DataDirection::In, dwLen, SCSI_TIMEOUT_READ);
    return iSendTunnel(request, hDev, true, pucRead, dwLen, kMethod, false);
}

int32_t CKrvnUSBDev::iITE_PD_I2C_stop(HANDLE hDev, uint8_t ucFunc, uint8_t ucN, uint8_t ucRegister,
                                      const uint8_t* pucWrite, uint8_t* pucRead, uint32_t dwLen)
{
    static const char* const kMethod = "CKrvnUSBDev::iITE_PD_I2C_stop";
    if (bBadTunnelArguments(hDev, ucN, dwLen, kMethod))
        return SCSI_RESULT_BAD_ARGUMENT;
    if (ucFunc < ITE_FUNC_WRITE || ucFunc > ITE_FUNC_READ) {
        vDEBUG_ERR_printf("%s:%d: funccode:%x", kMethod, __LINE__, ucFunc);
        return SCSI_RESULT_BAD_ARGUMENT;
    }
    CPassThroughRequest request(ITE_TRANSFER_MAX);
    if (ucFunc == ITE_FUNC_WRITE) {
        uint8_t ucData[ITE_WRITE_MAX] = {};
        for (uint8_t i = 0; i < ucN && pucWrite; ++i)
            ucData[i] = pucWrite[i];
        request.vSetCdb({ITE_TUNNEL, ITE_FUNC_WRITE, ucN, ucRegister, ucData[0], ucData[1], ucData[2]}, 16);
        request.vSetTransfer(krv::DataDirection::None, 0, SCSI_TIMEOUT_WRITE);
        return iSendTunnel(request, hDev, false, nullptr, 0, kMethod, false);
    }
    if (!pucRead)
        return SCSI_RESULT_BAD_ARGUMENT;
    request.vSetCdb({ITE_TUNNEL, ITE_FUNC_READ, ucRegister, 0x00, 0x00, static_cast<uint8_t>(dwLen >> 8),
                     static_cast<uint8_t>(dwLen), 0x00},
                    8);
    request.vSetTransfer(krv::DataDirection::In, dwLen, SCSI_TIMEOUT_READ);
    return iSendTunnel(request, hDev, true, pucRead, dwLen, kMethod, false);
}

int32_t CKrvnUSBDev::iITE_PD_I2C_Burst(HANDLE hDev, uint8_t ucFunc, uint8_t ucN, uint16_t wAddress,
                                       const uint8_t* pucCdbData, uint8_t* pBuf, uint32_t dwLen)
{
    static const char* const kMethod = "CKrvnUSBDev::iITE_PD_I2C_Burst";
    if (bBadTunnelArguments(hDev, ucN, dwLen, kMethod) || !pBuf)
        return SCSI_RESULT_BAD_ARGUMENT;
    if (ucFunc < ITE_FUNC_WRITE || ucFunc > ITE_FUNC_READ) {
        vDEBUG_ERR_printf("%s:%d: funccode:%x", kMethod, __LINE__, ucFunc);
        return SCSI_RESULT_BAD_ARGUMENT;
    }
    const uint8_t ucAddrH = static_cast<uint8_t>(wAddress >> 8), ucAddrL = static_cast<uint8_t>(wAddress);
    const uint8_t ucLenH = static_cast<uint8_t>(dwLen >> 8), ucLenL = static_cast<uint8_t>(dwLen);
    CPassThroughRequest request(ITE_TRANSFER_MAX);
    if (ucFunc == ITE_FUNC_WRITE) {
        uint8_t ucData[ITE_WRITE_MAX] = {};
        for (uint8_t i = 0; i < ucN && pucCdbData; ++i)
            ucData[i] = pucCdbData[i];
        request.vSetCdb({ITE_TUNNEL, ITE_FUNC_WRITE, ucN, ucAddrH, ucAddrL, ucData[0], ucData[1], ucData[2], 0, 0, 0, 0,
                         0, ucLenH, ucLenL, 0},
                        16);
        std::memcpy(request.data(), pBuf, dwLen);
        request.vSetTransfer(krv::DataDirection::Out, dwLen, SCSI_TIMEOUT_WRITE);
        return iSendTunnel(request, hDev, false, nullptr, dwLen, kMethod, true);
    }
    request.vSetCdb({ITE_TUNNEL, ITE_FUNC_READ, ucAddrH, ucAddrL, 0x00, ucLenH, ucLenL, 0x00}, 8);
    request.vSetTransfer(krv::DataDirection::In, dwLen, SCSI_TIMEOUT_READ);
    return iSendTunnel(request, hDev, true, pBuf, dwLen, kMethod, true);
}

namespace {

int32_t iWrite2(CKrvnUSBDev& dev, HANDLE hDev, uint16_t wAddress, uint8_t uc0, uint8_t uc1)
{
    const uint8_t ucData[2] = {uc0, uc1};
    return dev.iITE_PD_I2C(hDev, ITE_FUNC_WRITE, 2, wAddress, ucData, nullptr, 0);
}

int32_t iFlashCommand(CKrvnUSBDev& dev, HANDLE hDev, uint8_t ucCode)
{
    return iWrite2(dev, hDev, ITE_REG_FLASH_COMMAND, ucCode, 0x01);
}

int32_t iFlashAddress(CKrvnUSBDev& dev, HANDLE hDev, uint32_t dwAddress, uint8_t ucAddrBytes, uint8_t ucShift)
{
    const uint8_t ucData[3] = {static_cast<uint8_t>(dwAddress), static_cast<uint8_t>(dwAddress >> 8),
                               static_cast<uint8_t>(static_cast<uint8_t>(dwAddress >> 16) << ucShift)};
    return dev.iITE_PD_I2C(hDev, ITE_FUNC_WRITE, ucAddrBytes == 3 ? 3 : 2, ITE_REG_FLASH_ADDRESS, ucData, nullptr, 0);
}

// The image as programmed first: the signature bytes left blank.
std::vector<uint8_t> vUnsigned(const std::vector<uint8_t>& image)
{
    std::vector<uint8_t> out = image;
    for (uint32_t i = ITE_SIGNATURE_OFFSET; i < ITE_SIGNATURE_OFFSET + ITE_SIGNATURE_LENGTH && i < out.size(); ++i)
        out[i] = 0xFF;
    return out;
}

}  // namespace

int32_t CKrvnUSBDev::iITE_PD_StopCPU(HANDLE hDev)
{
    int32_t iResult = -1;
    for (int i = 0; i < 5; ++i) {
        const uint8_t ucStop = 0x5A;
        iITE_PD_I2C_stop(hDev, ITE_FUNC_WRITE, 1, ITE_REG8_STOP_CPU, &ucStop, nullptr, 0);
        iResult = iWrite2(*this, hDev, ITE_REG_STOP_CPU, 0x5A, 0xA5);
        vSleep(5);
    }
    return iResult;
}

int32_t CKrvnUSBDev::iITE_PD_GetFWVersion(HANDLE hDev, uint8_t* pBuf, uint32_t dwLen)
{
    return iITE_PD_I2C(hDev, ITE_FUNC_VERSION, 0, ITE_REG_VERSION, nullptr, pBuf, dwLen);
}

bool CKrvnUSBDev::iITE_PD_EraseAll(HANDLE hDev)
{
    if (iFlashCommand(*this, hDev, FLASH_WRITE_DISABLE) != 0 || iFlashCommand(*this, hDev, FLASH_WRITE_ENABLE) != 0 ||
        iFlashCommand(*this, hDev, FLASH_CHIP_ERASE) != 0)
        return false;
    for (uint32_t dwWaited = 0;; dwWaited += ITE_ERASE_POLL_MS) {
        uint8_t ucStatus = 0;
        if (iITE_PD_I2C(hDev, ITE_FUNC_READ, 0, ITE_REG_FLASH_STATUS, nullptr, &ucStatus, 1) != 0)
            return false;
        if (!(ucStatus & ITE_STATUS_BUSY))
            break;
        if (dwWaited >= ITE_ERASE_LIMIT_MS)
            return false;
        vSleep(ITE_ERASE_POLL_MS);
    }
    return iFlashCommand(*this, hDev, FLASH_WRITE_DISABLE) == 0;
}

int32_t CKrvnUSBDev::iITE_PD_VerifyErase(HANDLE hDev, uint16_t wDataPort, uint8_t ucAddrBytes, uint8_t ucShift)
{
    std::vector<uint8_t> page(ITE_PAGE);
    for (uint32_t p = 0; p < ITE_BLANK_PAGES; ++p) {
        vSleep(2);
        if (iFlashAddress(*this, hDev, p * ITE_PAGE, ucAddrBytes, ucShift) != 0)
            return 0;
        vSleep(2);
        if (iFlashCommand(*this, hDev, FLASH_QUAD_READ) != 0)
            return 0;
        vSleep(5);
        if (iITE_PD_I2C_Burst(hDev, ITE_FUNC_READ, 0, wDataPort, nullptr, page.data(), ITE_PAGE) != 0)
            return 0;
        for (uint8_t b : page)
            if (b != 0xFF)
                return 0;
    }
    return 1;
}

int32_t CKrvnUSBDev::iITE_PD_Program(HANDLE hDev, const std::vector<uint8_t>& image, uint16_t wDataPort,
                                     uint8_t ucAddrBytes, uint8_t ucShift)
{
    static const char* const kMethod = "CKrvnUSBDev::iITE_PD_Program";
    const std::vector<uint8_t> unsignedImage = vUnsigned(image);
    for (uint32_t o = 0; o < unsignedImage.size(); o += ITE_PAGE) {
        const uint32_t dwLen = std::min<uint32_t>(ITE_PAGE, static_cast<uint32_t>(unsignedImage.size()) - o);
        // A page the flash was not enabled for, or that goes to the last
        // address, would be programmed wrong or not at all.
        int32_t iResult = iFlashCommand(*this, hDev, FLASH_WRITE_ENABLE);
        vSleep(2);
        if (iResult == 0)
            iResult = iFlashAddress(*this, hDev, o, ucAddrBytes, ucShift);
        if (iResult != 0) {
            vDEBUG_ERR_printf("%s:%d: write enable or address: fail", kMethod, __LINE__);
            return iResult;
        }
        vSleep(5);
        iResult = iFlashCommand(*this, hDev, FLASH_AAI_PROGRAM);
        if (iResult != 0) {
            vDEBUG_ERR_printf("%s:%d: aaiw program: fail", kMethod, __LINE__);
            return iResult;
        }
        vSleep(5);
        std::vector<uint8_t> page(unsignedImage.begin() + o, unsignedImage.begin() + o + dwLen);
        iResult = iITE_PD_I2C_Burst(hDev, ITE_FUNC_WRITE, 0, wDataPort, nullptr, page.data(), dwLen);
        if (iResult != 0) {
            vDEBUG_ERR_printf("%s:%d: program: fail", kMethod, __LINE__);
            return iResult;
        }
        iFlashCommand(*this, hDev, FLASH_WRITE_DISABLE);
    }
    return 0;
}

uint8_t CKrvnUSBDev::iITE_PD_VerifyProgram(HANDLE hDev, const std::vector<uint8_t>& image, uint16_t wDataPort,
                                           uint8_t ucAddrBytes, uint8_t ucShift)
{
    static const char* const kMethod = "CKrvnUSBDev::iITE_PD_VerifyProgram";
    const std::vector<uint8_t> unsignedImage = vUnsigned(image);
    std::vector<uint8_t> page(ITE_PAGE);
    for (uint32_t o = 0; o < unsignedImage.size(); o += ITE_PAGE) {
        const uint32_t dwLen = std::min<uint32_t>(ITE_PAGE, static_cast<uint32_t>(unsignedImage.size()) - o);
        vSleep(2);
        if (iFlashAddress(*this, hDev, o, ucAddrBytes, ucShift) != 0) {
            vDEBUG_ERR_printf("%s:%d: spi address: fail", kMethod, __LINE__);
            return 0;
        }
        vSleep(2);
        if (iFlashCommand(*this, hDev, FLASH_QUAD_READ) != 0) {
            vDEBUG_ERR_printf("%s:%d: spi qual dt read: fail", kMethod, __LINE__);
            return 0;
        }
        std::fill(page.begin(), page.end(), 0);
        vSleep(25);
        if (iITE_PD_I2C_Burst(hDev, ITE_FUNC_READ, 0, wDataPort, nullptr, page.data(), dwLen) != 0)
            return 0;
        for (uint32_t i = 0; i < dwLen; ++i)
            if (page[i] != unsignedImage[o + i]) {
                vDEBUG_ERR_printf("%s:%d: chk fail, rbuf[%d]:0x%x, bin[%d]:0x%x", kMethod, __LINE__, i, page[i],
                                  o + i, unsignedImage[o + i]);
                return 0;
            }
    }
    return 1;
}

int32_t CKrvnUSBDev::iITE_PD_ProgramSignature(HANDLE hDev, const uint8_t* pucSignature, uint16_t wDataPort,
                                              uint8_t ucAddrBytes, uint8_t ucShift)
{
    static const char* const kMethod = "CKrvnUSBDev::iITE_PD_ProgramSignature";
    int32_t iResult = iFlashCommand(*this, hDev, FLASH_WRITE_ENABLE);
    if (iResult == 0)
        iResult = iFlashAddress(*this, hDev, ITE_SIGNATURE_OFFSET, ucAddrBytes, ucShift);
    if (iResult != 0) {
        vDEBUG_ERR_printf("%s:%d: sig write enable or address: fail", kMethod, __LINE__);
        return iResult;
    }
    iResult = iFlashCommand(*this, hDev, FLASH_AAI_PROGRAM);
    if (iResult != 0) {
        vDEBUG_ERR_printf("%s:%d: spi aaiw program: fail", kMethod, __LINE__);
        return iResult;
    }
    uint8_t ucSignature[ITE_SIGNATURE_LENGTH];
    std::memcpy(ucSignature, pucSignature, sizeof ucSignature);
    iResult = iITE_PD_I2C_Burst(hDev, ITE_FUNC_WRITE, 0, wDataPort, nullptr, ucSignature, sizeof ucSignature);
    if (iResult != 0) {
        vDEBUG_ERR_printf("%s:%d: write sig: fail", kMethod, __LINE__);
        return iResult;
    }
    iResult = iFlashCommand(*this, hDev, FLASH_WRITE_DISABLE);
    if (iResult != 0)
        return iResult;
    // The signature is what makes the controller run the image: one the
    // flash did not take as sent would run a half-signed image, or none.
    uint8_t ucReadBack[ITE_SIGNATURE_LENGTH] = {};
    if (iFlashAddress(*this, hDev, ITE_SIGNATURE_OFFSET, ucAddrBytes, ucShift) != 0 ||
        iFlashCommand(*this, hDev, FLASH_QUAD_READ) != 0 ||
        iITE_PD_I2C_Burst(hDev, ITE_FUNC_READ, 0, wDataPort, nullptr, ucReadBack, sizeof ucReadBack) != 0) {
        vDEBUG_ERR_printf("%s:%d: read sig: fail", kMethod, __LINE__);
        return -1;
    }
    if (std::memcmp(ucReadBack, ucSignature, sizeof ucSignature) != 0) {
        vDEBUG_ERR_printf("%s:%d: sig chk fail", kMethod, __LINE__);
        return -1;
    }
    return 0;
}

int32_t CKrvnUSBDev::iITE_PD_ExitTestMode(HANDLE hDev) { return iWrite2(*this, hDev, ITE_REG_TEST_MODE, 0x00, 0x00); }

int32_t CKrvnUSBDev::iITE_PD_WDTReset(HANDLE hDev)
{
    uint8_t ucWdt = 0;
    // Writing back a value that was never read would put 0x10 over the register.
    int32_t iResult = iITE_PD_I2C(hDev, ITE_FUNC_READ, 0, ITE_REG_WDT, nullptr, &ucWdt, 1);
    if (iResult != 0)
        return iResult;
    ucWdt |= 0x10;
    iITE_PD_I2C(hDev, ITE_FUNC_WRITE, 1, ITE_REG_WDT, &ucWdt, nullptr, 0);
    const uint8_t ucKick = 0x01;
    iResult = iITE_PD_I2C(hDev, ITE_FUNC_WRITE, 1, ITE_REG_WDT_KICK, &ucKick, nullptr, 0);
    vSleep(1000);
    return iResult;
}

int CKrvnUSBDev::bReadPDSignatureFromFile(uint8_t* pucSignature, const std::vector<uint8_t>& image)
{
    std::memcpy(pucSignature, image.data() + ITE_SIGNATURE_OFFSET, ITE_SIGNATURE_LENGTH);
    return 0;
}

int32_t CKrvnUSBDev::iITE_PD_FWUpdate(uint8_t ucTargetNumber, const std::string& strFilePath, uint16_t& wVersion)
{
    static const char* const kMethod = "CKrvnUSBDev::iITE_PD_FWUpdate";
    try {
        DevList* pList = m_pDevList.load();
        if (!pList || ucTargetNumber >= MAX_DEV_SLOTS)
            return -1;
        // The file is read once and judged whole before the controller is
        // touched: it must hold the signature and fit the blank-checked flash.
        std::string strContent;
        if (!bReadWholeFile(strFilePath, strContent) || strContent.size() < ITE_SIGNATURE_OFFSET + ITE_SIGNATURE_LENGTH ||
            strContent.size() > ITE_FLASH_SIZE) {
            vDEBUG_ERR_printf("%s:%d: catch(...) ucTargetNumber : %d , dwErrorCode %d", kMethod, __LINE__,
                              ucTargetNumber, nLastError());
            return -1;
        }
        const std::vector<uint8_t> image(strContent.begin(), strContent.end());
        CDriveHandle hDev(CreateDriveHandle(krv::DriveKind::PhysicalDrive, pList->Devs[ucTargetNumber].m_ucPhysicalAddress));
        if (!hDev.bIsValid())
            return -1;
        uint8_t ucVersion[2] = {};
        int32_t iResult = iITE_PD_GetFWVersion(hDev.get(), ucVersion, sizeof ucVersion);
        if (iResult != 0) {
            vDEBUG_ERR_printf("%s:%d: get FW fail, ret:%d", kMethod, __LINE__, iResult);
            return iResult;
        }
        vDEBUG_MSG_printf("%s:%d: get FW before update: 0x%x,0x%x", kMethod, __LINE__, ucVersion[0], ucVersion[1]);
        iResult = iITE_PD_StopCPU(hDev.get());
        if (iResult != 0) {
            vDEBUG_ERR_printf("%s:%d: stop cpu fail, ret:%d", kMethod, __LINE__, iResult);
            return iResult;
        }
        vDEBUG_MSG_printf("%s:%d: stop cpu end", kMethod, __LINE__);
        uint8_t ucChip[4] = {};
        iResult = iITE_PD_I2C(hDev.get(), ITE_FUNC_READ, 0, ITE_REG_CHIP_ID, nullptr, ucChip, sizeof ucChip);
        if (iResult != 0) {
            vDEBUG_ERR_printf("%s:%d: get chip fail, err:%d", kMethod, __LINE__, iResult);
            return iResult;
        }
        vDEBUG_MSG_printf("%s:%d: get chip id: 0x%x,0x%x,0x%x,0x%x", kMethod, __LINE__, ucChip[0], ucChip[1],
                          ucChip[2], ucChip[3]);
        const IteFlashAccess access = accessOfChip(ucChip);
        iResult = iWrite2(*this, hDev.get(), ITE_REG_TEST_MODE, 0xA5, 0x5A);
        if (iResult != 0) {
            vDEBUG_ERR_printf("%s:%d: enter test mode fail, err:%d", kMethod, __LINE__, iResult);
            return iResult;
        }
        vDEBUG_MSG_printf("%s:%d: enter test mode end", kMethod, __LINE__);
        // Between entering test mode and leaving it the controller's CPU is
        // stopped: a step that fails there still tries to leave test mode,
        // so the controller is not left stopped.
        auto flashSteps = [&]() -> int32_t {
            if (!iITE_PD_EraseAll(hDev.get())) {
                vDEBUG_ERR_printf("%s:%d: erase all fail", kMethod, __LINE__);
                return -1;
            }
            vDEBUG_MSG_printf("%s:%d: erase all end", kMethod, __LINE__);
            if (iITE_PD_VerifyErase(hDev.get(), access.wDataPort, access.ucAddrBytes, access.ucShift) != 1) {
                vDEBUG_ERR_printf("%s:%d: verify erase fail", kMethod, __LINE__);
                return -1;
            }
            vDEBUG_MSG_printf("%s:%d: verify erase all end", kMethod, __LINE__);
            iResult = iITE_PD_Program(hDev.get(), image, access.wDataPort, access.ucAddrBytes, access.ucShift);
            if (iResult != 0) {
                vDEBUG_ERR_printf("%s:%d: program fail, err:%d", kMethod, __LINE__, iResult);
                return iResult;
            }
            vDEBUG_MSG_printf("%s:%d: program end", kMethod, __LINE__);
            if (iITE_PD_VerifyProgram(hDev.get(), image, access.wDataPort, access.ucAddrBytes, access.ucShift) != 1) {
                vDEBUG_ERR_printf("%s:%d: verify program fail", kMethod, __LINE__);
                return -1;
            }
            vDEBUG_MSG_printf("%s:%d: verify program end", kMethod, __LINE__);
            uint8_t ucSignature[ITE_SIGNATURE_LENGTH];
            bReadPDSignatureFromFile(ucSignature, image);
            iResult = iITE_PD_ProgramSignature(hDev.get(), ucSignature, access.wDataPort, access.ucAddrBytes,
                                               access.ucShift);
            if (iResult != 0) {
                vDEBUG_ERR_printf("%s:%d: program signature fail, err:%d", kMethod, __LINE__, iResult);
                return iResult;
            }
            vDEBUG_MSG_printf("%s:%d: program signature end", kMethod, __LINE__);
            return 0;
        };
        iResult = flashSteps();
        if (iResult != 0) {
            if (iITE_PD_ExitTestMode(hDev.get()) != 0)
                vDEBUG_ERR_printf("%s:%d: exit test mode fail", kMethod, __LINE__);
            return iResult;
        }
        iResult = iITE_PD_ExitTestMode(hDev.get());
        if (iResult != 0) {
            vDEBUG_ERR_printf("%s:%d: exit test mode fail, err:%d", kMethod, __LINE__, iResult);
            return iResult;
        }
        vDEBUG_MSG_printf("%s:%d: exit test mode end", kMethod, __LINE__);
        iResult = iITE_PD_WDTReset(hDev.get());
        if (iResult != 0) {
            vDEBUG_ERR_printf("%s:%d: WDT reset fail, err:%d", kMethod, __LINE__, iResult);
            return iResult;
        }
        vDEBUG_MSG_printf("%s:%d: WDT reset end", kMethod, __LINE__);
        iResult = iITE_PD_GetFWVersion(hDev.get(), ucVersion, sizeof ucVersion);
        if (iResult != 0) {
            vDEBUG_ERR_printf("%s:%d: get FW after update fail, err:%d", kMethod, __LINE__, iResult);
            return iResult;
        }
        vDEBUG_MSG_printf("%s:%d: get FW after update: 0x%x,0x%x", kMethod, __LINE__, ucVersion[0], ucVersion[1]);
        wVersion = static_cast<uint16_t>(ucVersion[0] | ucVersion[1] << 8);
        return 0;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...) ucTargetNumber : %d , dwErrorCode %d", kMethod, __LINE__, ucTargetNumber,
                          nLastError());
        return -1;
    }
}
