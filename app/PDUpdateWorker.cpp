#include "app/PDUpdateWorker.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "device/DebugLog.h"
#include "device/KrvnUSBDev.h"
#include "device/USBUtility.h"
#include "platform/LastError.h"
#include "platform/Platform.h"

namespace {

constexpr const char* kWho = "CPDUpdateDlg::PDFWUpdateThreadFun";
constexpr uint16_t PD_CONTROL_VALUE = 0x1000;
constexpr uint32_t RICHTEK_WORDS = PD_RICHTEK_ROM_SIZE / 4;
constexpr uint32_t RICHTEK_READ = 32;
constexpr uint32_t MCU_BOOTLOADER_SETTLE_MS = 1000;
constexpr uint32_t PD_FAILED_TRY_MS = 500;

uint64_t ullNow() { return krv::Platform::current().clock().monotonicMs(); }

std::string strPrintf(const char* pszFormat, int a, int b = 0)
{
    char sz[160];
    std::snprintf(sz, sizeof sz, pszFormat, a, b);
    return sz;
}

bool bCypressType(uint8_t ucVendor)
{
    return ucVendor == PD_VENDOR_CYPRESS || ucVendor == PD_VENDOR_CCG3 || ucVendor == PD_VENDOR_CCG;
}

// The rows a controller keeps to itself and rewrites: not compared.
bool bSkippedRow(const PDDeviceFacts& facts, uint16_t wRow)
{
    if (facts.ucVendor != PD_VENDOR_CCG3)
        return false;
    return (facts.ucCCG3Mode == 1 && wRow == 0x3FF) || (facts.ucCCG3Mode == 2 && wRow == 0x3FE);
}

// The data rows of the image, in file order.
std::vector<const PDRow*> vDataRows(const PDCypressImage& image)
{
    std::vector<const PDRow*> rows;
    for (size_t i = 1; i < image.rows.size(); ++i)
        if (!image.rows[i].data.empty() && image.rows[i].wDataLen != 0)
            rows.push_back(&image.rows[i]);
    return rows;
}

// An MCU data record placed in the flash image: offset from the flash base.
struct McuPiece {
    uint32_t dwOffset;
    const MCUHexRecord* record;
};

// The records' places, or false when one lies outside the MCU's flash.
bool bPlaceMcuRecords(const std::vector<MCUHexRecord>& records, std::vector<McuPiece>& pieces)
{
    uint32_t dwUpper = MCU_FLASH_BASE >> 16;
    for (const MCUHexRecord& record : records) {
        if (record.ucDataType == 1)
            break;
        if (record.ucDataType == 4 && record.data.size() == 2) {
            dwUpper = uint32_t{record.data[0]} << 8 | record.data[1];
            continue;
        }
        if (record.ucDataType != 0 || record.data.empty())
            continue;
        const uint32_t dwAddress = dwUpper << 16 | record.dwAddress;
        if (dwAddress < MCU_FLASH_BASE || dwAddress - MCU_FLASH_BASE + record.data.size() > MCU_IMAGE_SIZE)
            return false;
        pieces.push_back({dwAddress - MCU_FLASH_BASE, &record});
    }
    return true;
}

}  // namespace

bool CPDDeviceOps::bPause(uint32_t ms) const
{
    return krv::Platform::current().clock().sleepMs(ms, m_pStop) && !bStopped();
}

int CPDDeviceOps::nSend(HANDLE hDev, uint8_t bWrite, uint8_t ucSub, uint16_t wValue, uint16_t wIndex, uint8_t* pBuf,
                        uint32_t dwLen)
{
    int nResult = -1;
    for (int nTry = 0; nTry < PD_COMMAND_TRIES; ++nTry) {
        if (bStopped())
            return PD_RESULT_STOPPED;
        nResult = m_pd.SCSI6390_PDVendorCmd(hDev, bWrite, ucSub, wValue, wIndex, pBuf, dwLen);
        if (nResult == 0)
            return 0;
        if (!bPause(PD_RETRY_DELAY_MS))
            return PD_RESULT_STOPPED;
    }
    return nResult;
}

int CPDDeviceOps::nInitializedPDI2CBus(int nDrive, PDDeviceFacts& facts)
{
    CDriveHandle hDev(CreateDriveHandle(krv::DriveKind::PhysicalDrive, nDrive));
    if (!hDev.bIsValid())
        return -1;
    uint8_t ucZero[2] = {};
    int nResult = nSend(hDev.get(), ACCESS_WRITE, PD_INITIALIZE, 0, 0, ucZero, sizeof ucZero);
    if (nResult != 0)
        return nResult;
    uint8_t ucBlock[16] = {};
    nResult = nSend(hDev.get(), ACCESS_READ, PD_GET_PD_CONTROL, PD_CONTROL_VALUE, 0, ucBlock, sizeof ucBlock);
    if (nResult != 0 || ucBlock[0] != PD_CONTROL_SIGNATURE)
        return nResult != 0 ? nResult : -3;
    facts.ucVendor = ucBlock[1];
    facts.ucMCUVendor = ucBlock[8] ? MCU_VENDOR_STM : 0;
    facts.ucCCG3Mode = 0;
    if (facts.ucVendor == PD_VENDOR_CCG3 || facts.ucVendor == PD_VENDOR_CCG) {
        uint8_t ucMode = 0;
        nResult = nSend(hDev.get(), ACCESS_READ, PD_GET_PD_CCG3_DeviceMode, 0x100, 0, &ucMode, 1);
        facts.ucCCG3Mode = ucMode;
    }
    return nResult;
}

int CPDDeviceOps::nClosePDI2CBus(int nDrive)
{
    CDriveHandle hDev(CreateDriveHandle(krv::DriveKind::PhysicalDrive, nDrive));
    if (!hDev.bIsValid())
        return -1;
    uint8_t ucZero[2] = {};
    return nSend(hDev.get(), ACCESS_WRITE, PD_CLOSE, 0, 0, ucZero, sizeof ucZero);
}

int CPDDeviceOps::nGetPDFWVersion(int nDrive, const PDDeviceFacts& facts, std::string& strVersion)
{
    CDriveHandle hDev(CreateDriveHandle(krv::DriveKind::PhysicalDrive, nDrive));
    if (!hDev.bIsValid())
        return -1;
    char sz[40];
    if (facts.ucVendor == PD_VENDOR_RICHTEK) {
        uint8_t uc[2] = {};
        const int nResult = nSend(hDev.get(), ACCESS_READ, PD_FW_VERSION, 0, 0, uc, sizeof uc);
        if (nResult != 0)
            return nResult;
        std::snprintf(sz, sizeof sz, "%02X%02X", uc[1], uc[0]);
        strVersion = sz;
        return 0;
    }
    if (!bCypressType(facts.ucVendor))
        return -1;
    const uint8_t ucSub = facts.ucCCG3Mode == 2 ? CYPRESS_PD_CCG3_FW_VERSION : CYPRESS_PD_FW_VERSION;
    uint8_t uc[16] = {};
    const int nResult = nSend(hDev.get(), ACCESS_READ, ucSub, PD_CONTROL_VALUE, 0, uc, sizeof uc);
    if (nResult != 0)
        return nResult;
    std::snprintf(sz, sizeof sz, "%02X%02X%02X%02X%02X%02X%02X%02X", uc[8], uc[9], uc[10], uc[11], uc[12], uc[13],
                  uc[14], uc[15]);
    strVersion = sz;
    return 0;
}

int CPDDeviceOps::nConfigMTPArea(int nDrive, uint8_t ucVendor)
{
    CDriveHandle hDev(CreateDriveHandle(krv::DriveKind::PhysicalDrive, nDrive));
    if (!hDev.bIsValid())
        return -1;
    uint8_t ucZero[2] = {};
    switch (ucVendor) {
    case PD_VENDOR_RICHTEK: return nSend(hDev.get(), ACCESS_WRITE, PD_MPT_AREA, 0, 0x3FFF, ucZero, 2);
    case PD_VENDOR_CYPRESS: return nSend(hDev.get(), ACCESS_WRITE, CYPRESS_PD_FLASH_MODE, 0, 0, ucZero, 2);
    case PD_VENDOR_CCG3:
    case PD_VENDOR_CCG: return nSend(hDev.get(), ACCESS_WRITE, CYPRESS_PD_CCG3_FLASH_MODE, 0, 0, ucZero, 2);
    case MCU_VENDOR_STM: {
        const int nResult = nSend(hDev.get(), ACCESS_WRITE, ST_MCU_ENTER_BOOTLOADER, 0, 0, ucZero, 2);
        if (!bPause(MCU_BOOTLOADER_SETTLE_MS))
            return PD_RESULT_STOPPED;
        return nResult;
    }
    default: return -1;
    }
}

int CPDDeviceOps::nPDFWUpdate(int nDrive, const PDUpdateImages& images, uint8_t ucVendor)
{
    CDriveHandle hDev(CreateDriveHandle(krv::DriveKind::PhysicalDrive, nDrive));
    if (!hDev.bIsValid())
        return -1;
    if (ucVendor == PD_VENDOR_RICHTEK) {
        for (uint32_t w = 0; w < RICHTEK_WORDS; ++w) {
            uint8_t ucWord[4];
            std::memcpy(ucWord, images.richtek.data() + w * 4, 4);
            const int nResult = nSend(hDev.get(), ACCESS_WRITE, PD_WRITE_DATA, static_cast<uint16_t>(w), 0, ucWord, 4);
            if (nResult != 0)
                return nResult;
        }
        return 0;
    }
    if (bCypressType(ucVendor)) {
        const uint8_t ucSub = ucVendor == PD_VENDOR_CYPRESS ? CYPRESS_PD_WRITE_DATA : CYPRESS_PD_CCG3_WRITE_DATA;
        for (const PDRow* row : vDataRows(images.cypress)) {
            std::vector<uint8_t> data = row->data;
            data.resize(PD_ROW_DATA_SIZE, 0xFF);
            // The row number itself: shifted into 16 bits, rows from 256 on would alias.
            const int nResult = nSend(hDev.get(), ACCESS_WRITE, ucSub, row->wRowNum, 0, data.data(), PD_ROW_DATA_SIZE);
            if (nResult != 0)
                return nResult;
        }
        return 0;
    }
    if (ucVendor == MCU_VENDOR_STM) {
        std::vector<McuPiece> pieces;
        if (!bPlaceMcuRecords(images.mcu, pieces))
            return PD_RESULT_UNKNOWN;
        for (const McuPiece& piece : pieces) {
            const std::vector<uint8_t>& data = piece.record->data;
            for (size_t at = 0; at < data.size(); at += MCU_PIECE) {
                const uint32_t dwAddress = MCU_FLASH_BASE + piece.dwOffset + static_cast<uint32_t>(at);
                uint8_t ucPiece[MCU_PIECE];
                const uint32_t dwLen = static_cast<uint32_t>(std::min<size_t>(MCU_PIECE, data.size() - at));
                std::memcpy(ucPiece, data.data() + at, dwLen);
                const int nResult = nSend(hDev.get(), ACCESS_WRITE, ST_MCU_WRITE_DATA, static_cast<uint16_t>(dwAddress >> 16),
                                          static_cast<uint16_t>(dwAddress), ucPiece, dwLen);
                if (nResult != 0)
                    return nResult;
            }
        }
        return 0;
    }
    return -1;
}

int CPDDeviceOps::nPDFWRead(int nDrive, const PDUpdateImages& images, uint8_t ucVendor, std::vector<uint8_t>& out)
{
    CDriveHandle hDev(CreateDriveHandle(krv::DriveKind::PhysicalDrive, nDrive));
    if (!hDev.bIsValid())
        return -1;
    out.clear();
    if (ucVendor == PD_VENDOR_RICHTEK) {
        out.assign(PD_RICHTEK_ROM_SIZE, 0);
        for (uint32_t at = 0; at < PD_RICHTEK_ROM_SIZE; at += RICHTEK_READ) {
            const int nResult = nSend(hDev.get(), ACCESS_READ, PD_READ_DATA, PD_CONTROL_VALUE, static_cast<uint16_t>(at),
                                      out.data() + at, RICHTEK_READ);
            if (nResult != 0)
                return nResult;
        }
        return 0;
    }
    if (bCypressType(ucVendor)) {
        // The rows of the file, in file order, each 128 bytes.
        const uint8_t ucSub = ucVendor == PD_VENDOR_CYPRESS ? CYPRESS_PD_READ_DATA : CYPRESS_PD_CCG3_READ_DATA;
        for (const PDRow* row : vDataRows(images.cypress)) {
            uint8_t ucRow[PD_ROW_DATA_SIZE];
            const int nResult = nSend(hDev.get(), ACCESS_READ, ucSub, row->wRowNum, 0, ucRow, sizeof ucRow);
            if (nResult != 0)
                return nResult;
            out.insert(out.end(), ucRow, ucRow + sizeof ucRow);
        }
        return 0;
    }
    if (ucVendor == MCU_VENDOR_STM) {
        std::vector<McuPiece> pieces;
        if (!bPlaceMcuRecords(images.mcu, pieces) || pieces.empty()) {
            vDEBUG_ERR_printf("%s:%d:  STM MCU  this->m_STMMCUFW[0].ucDataType is empty!!!!", kWho, __LINE__);
            return PD_RESULT_UNKNOWN;
        }
        uint32_t dwEnd = 0;
        for (const McuPiece& piece : pieces)
            dwEnd = std::max<uint32_t>(dwEnd, piece.dwOffset + static_cast<uint32_t>(piece.record->data.size()));
        out.assign(dwEnd, 0);
        for (uint32_t at = 0; at < dwEnd; at += MCU_PIECE) {
            const uint32_t dwLen = std::min(MCU_PIECE, dwEnd - at);
            const int nResult = nSend(hDev.get(), ACCESS_READ, ST_MCU_READ_DATA, 0, static_cast<uint16_t>(at),
                                      out.data() + at, dwLen);
            if (nResult != 0)
                return nResult;
        }
        return 0;
    }
    return -1;
}

namespace {

// Waits for the device to leave (its handle goes stale) and come back, at
// most PD_RELINK_LIMIT_MS; its drive number then, or -1 (also when stopped).
int nWaitForPowerCycle(const CPDDeviceOps& ops, IPDUpdateView& view, int nOldDrive, uint64_t ullStart)
{
    CDriveHandle hOld(CreateDriveHandle(krv::DriveKind::PhysicalDrive, nOldDrive));
    bool bLeft = !hOld.bIsValid();
    while (ullNow() - ullStart <= PD_RELINK_LIMIT_MS) {
        if (!ops.bPause(PD_RELINK_POLL_MS))
            return -1;
        krv::StorageDeviceNumber number;
        if (!bLeft && !hOld.get()->deviceNumber(number) && krv::lastError() == 1167)
            bLeft = true;
        const int nDrive = view.nCurrentDrive();
        if (nDrive < 0)
            bLeft = true;
        else if (bLeft)
            return nDrive;
    }
    return -1;
}

bool bSameVersion(const std::string& strDevice, const std::string& strFile)
{
    // The device's version before any "/MCU" part; hex digits in either case.
    const std::string strPD = strDevice.substr(0, strDevice.find('/'));
    if (strPD.size() != strFile.size())
        return false;
    for (size_t i = 0; i < strPD.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(strPD[i])) != std::toupper(static_cast<unsigned char>(strFile[i])))
            return false;
    return true;
}

}  // namespace

int nPDFWUpdateWorker(CPowerDelivery& pd, const PDUpdateImages& images, PDDeviceFacts facts, int nDevice, int nDrive,
                      bool bVerifyOnly, IPDUpdateView& view)
{
    CPDDeviceOps ops(pd);
    const int nDev = nDevice;
    int nResult = PD_RESULT_PASS;
    bool bTimedOut = false;
    vDEBUG_MSG_printf("%s:%d:  Start PD/MCU FW Update", kWho, __LINE__);
    // A worker that is stopped has no operator left to tell.
    auto tell = [&](const std::string& strText, uint8_t ucType) {
        if (!ops.bStopped())
            view.vShowMessage(strText, ucType);
    };
    auto run = [&]() -> int {
        if (images.ucPDEnable && (facts.ucVendor == PD_VENDOR_NONE || images.ucPDFileKind == PD_FILE_UNKNOWN)) {
            vDEBUG_ERR_printf("%s:%d: m_nPDChipVendor is UNKNOW or PD File is UNKNOW ", kWho, __LINE__);
            return PD_RESULT_UNKNOWN;
        }
        if (images.ucMCUEnable && (facts.ucMCUVendor == 0 || images.ucMCUFileKind == 0)) {
            vDEBUG_ERR_printf("%s:%d: m_nMCUChipVendor is UNKNOW Failed, pPDUpdateDlg->m_nMCUChipVendor=%x", kWho,
                              __LINE__, facts.ucMCUVendor);
            return PD_RESULT_UNKNOWN;
        }
        view.vSetProgress(5);
        int n = 0;
        if (images.ucPDEnable && !bVerifyOnly) {
            n = ops.nConfigMTPArea(nDrive, facts.ucVendor);
            if (n != 0) {
                tell(strPrintf("Config PD[%d] Flash Failed!!", nDev), MSG_TYPE_ERROR);
                return n;
            }
        }
        view.vSetProgress(8);
        std::vector<uint8_t> readBack;
        if (images.ucMCUEnable) {
            // The MCU's flash is read and written only through its
            // bootloader, also by a verify-only run.
            n = ops.nConfigMTPArea(nDrive, MCU_VENDOR_STM);
            if (n != 0) {
                tell(strPrintf("MCU[%d] Enter Bootload mode Failed=[%d]!!", nDev, n), MSG_TYPE_ERROR);
                return n;
            }
            if (!bVerifyOnly) {
                view.vShowStatus(PD_STATUS_UPDATING);
                if ((n = ops.nPDFWUpdate(nDrive, images, MCU_VENDOR_STM)) != 0)
                    return n;
            }
            view.vShowStatus(PD_STATUS_READING);
            if ((n = ops.nPDFWRead(nDrive, images, MCU_VENDOR_STM, readBack)) != 0)
                return n;
            view.vShowStatus(PD_STATUS_COMPARING);
            std::vector<McuPiece> pieces;
            bPlaceMcuRecords(images.mcu, pieces);
            for (const McuPiece& piece : pieces)
                if (!std::equal(piece.record->data.begin(), piece.record->data.end(), readBack.begin() + piece.dwOffset)) {
                    vDEBUG_ERR_printf("%s:%d: MCU FW content compare Fail , LineCnt[%x], nAdd[ %x]", kWho, __LINE__,
                                      0, piece.dwOffset);
                    return PD_RESULT_CONTENT;
                }
        }
        if (images.ucPDEnable) {
            if (!bVerifyOnly) {
                view.vShowStatus(PD_STATUS_UPDATING);
                if ((n = ops.nPDFWUpdate(nDrive, images, facts.ucVendor)) != 0)
                    return n;
            }
            if (bCypressType(facts.ucVendor) || bVerifyOnly) {
                view.vShowStatus(PD_STATUS_READING);
                if ((n = ops.nPDFWRead(nDrive, images, facts.ucVendor, readBack)) != 0)
                    return n;
                view.vSetProgress(90);
                view.vShowStatus(PD_STATUS_COMPARING);
                if (facts.ucVendor == PD_VENDOR_RICHTEK) {
                    if (readBack != images.richtek)
                        return PD_RESULT_CONTENT;
                } else {
                    size_t at = 0;
                    for (const PDRow* row : vDataRows(images.cypress)) {
                        std::vector<uint8_t> data = row->data;
                        data.resize(PD_ROW_DATA_SIZE, 0xFF);
                        if (!bSkippedRow(facts, row->wRowNum) &&
                            !std::equal(data.begin(), data.end(), readBack.begin() + at)) {
                            vDEBUG_ERR_printf("%s:%d: FW content compare Fail , LineCnt[%x], RowCnt[ %x]", kWho,
                                              __LINE__, static_cast<unsigned>(at / PD_ROW_DATA_SIZE), row->wRowNum);
                            return PD_RESULT_CONTENT;
                        }
                        at += PD_ROW_DATA_SIZE;
                    }
                }
            }
        }
        // A verify-only run changed nothing, so it needs no power cycle,
        // unless the MCU's bootloader runs and must be left.
        if (bVerifyOnly && !images.ucMCUEnable)
            return PD_RESULT_PASS;
        tell(strPrintf("Please power cycling Your [%d ]device!!!", nDev), MSG_TYPE_WARNING);
        view.vSetProgress(85);
        const uint64_t ullStart = ullNow();
        const int nBack = nWaitForPowerCycle(ops, view, nDrive, ullStart);
        if (nBack < 0 && ops.bStopped())
            return PD_RESULT_STOPPED;
        if (nBack < 0) {
            bTimedOut = true;
            tell(strPrintf("PO[%d] Wait relink failed, Timeout", nDev), MSG_TYPE_ERROR);
            return PD_RESULT_TIME_OUT;
        }
        nDrive = nBack;
        // The power cycle closed the PD bus: it is opened again for the
        // version check and for the row's next run.
        PDDeviceFacts now;
        if (ops.nInitializedPDI2CBus(nDrive, now) != 0) {
            tell(strPrintf("PD[%d] I2C Initialized I2C Bus Failed", nDev), MSG_TYPE_ERROR);
            return PD_RESULT_VERSION;
        }
        view.vKeepFacts(now);
        if (!images.ucPDEnable || bVerifyOnly)
            return PD_RESULT_PASS;
        std::string strVersion;
        if (ops.nGetPDFWVersion(nDrive, now, strVersion) != 0) {
            tell(strPrintf("PD[%d] Get FW Version Failed in compare loop, ", nDev), MSG_TYPE_ERROR);
            return PD_RESULT_VERSION;
        }
        if (!images.bSkipVersionCompare && !bSameVersion(strVersion, images.strPDFileVersion)) {
            tell("PD[" + std::to_string(nDev) + "] FW Version Compare Failed, File[" +
                                  images.strPDFileVersion + "], PD[" + strVersion + "]",
                              MSG_TYPE_ERROR);
            return PD_RESULT_VERSION;
        }
        view.vShowVersion(strVersion);
        if (now.ucVendor == PD_VENDOR_RICHTEK) {
            view.vShowStatus(PD_STATUS_READING);
            if (ops.nPDFWRead(nDrive, images, PD_VENDOR_RICHTEK, readBack) != 0)
                return PD_RESULT_VERSION;
            view.vSetProgress(90);
            if (readBack != images.richtek)
                return PD_RESULT_CONTENT;
        }
        return PD_RESULT_PASS;
    };
    nResult = run();
    // A step cut short by the stop may have failed in its own words first.
    if (ops.bStopped() && nResult != PD_RESULT_PASS)
        nResult = PD_RESULT_STOPPED;
    if (nResult == PD_RESULT_PASS) {
        vDEBUG_MSG_printf("%s:%d:  FW Update[%d] is PASS...code [%d] ", kWho, __LINE__, nDev, nResult);
        view.vShowStatus(PD_STATUS_PASS);
    } else {
        vDEBUG_ERR_printf("%s:%d:  FW Update[%d] is failed...code [%d] ", kWho, __LINE__, nDev, nResult);
        view.vShowStatus(bTimedOut ? PD_STATUS_TIME_OUT : PD_STATUS_FAIL);
    }
    view.vSetProgress(100);
    return nResult;
}
