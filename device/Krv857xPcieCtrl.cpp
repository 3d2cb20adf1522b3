// Driver set-up, the MCFG windows and configuration-space access of the
// PCIe side object.
#include "device/Krv857xPcieCtrl.h"

#include <cstring>

#include "device/DebugLog.h"
#include "driver_io/KrvIo.h"
#include "platform/KernelIo.h"
#include "platform/LastError.h"
#include "platform/Platform.h"

CKrv857xPcieCtrl g_PcieCtrl;

namespace {

constexpr uint32_t MCFG_BUFFER_SIZE = 512;
constexpr uint32_t MCFG_HEADER_SIZE = 44;
constexpr uint32_t MCFG_ENTRY_SIZE = 16;
constexpr uint32_t PCIE_WINDOW_SIZE = 4096;
// Writes to the extended registers give the bridge a millisecond per byte.
constexpr uint16_t PCIE_SLOW_WRITE_OFFSET = 0x800;
constexpr uint64_t FOUR_GB = uint64_t{1} << 32;

uint64_t le64(const uint8_t* p)
{
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

}  // namespace

int CKrv857xPcieCtrl::InitPcie()
{
    UnloadKrvIODriver();
    if (!LoadKrvIODriver()) {
        vDEBUG_ERR_printf("%s:%d: load krvio driver fail", "CKrv857xPcieCtrl::InitPcie", __LINE__);
        return 0;
    }
    vReadMcfg();
    return 1;
}

int CKrv857xPcieCtrl::UnInitPcie() { return UnloadKrvIODriver(); }

void CKrv857xPcieCtrl::vReadMcfg()
{
    krv::KernelIo& io = krv::Platform::current().kernelIo();
    uint8_t buffer[MCFG_BUFFER_SIZE] = {};
    io.enumFirmwareTables(krv::firmwareProvider("ACPI"), buffer, sizeof buffer);
    std::memset(buffer, 0, sizeof buffer);
    uint32_t size = io.getFirmwareTable(krv::firmwareProvider("ACPI"), krv::firmwareTableId("MCFG"), nullptr, 0);
    if (size > 0 && size <= sizeof buffer)
        io.getFirmwareTable(krv::firmwareProvider("ACPI"), krv::firmwareTableId("MCFG"), buffer, sizeof buffer);
    uint32_t length = uint32_t(buffer[4]) | uint32_t(buffer[5]) << 8 | uint32_t(buffer[6]) << 16 |
                      uint32_t(buffer[7]) << 24;
    uint32_t count = (length - MCFG_HEADER_SIZE) / MCFG_ENTRY_SIZE;  // a short table wraps to many: at most 16
    if (count > PCIE_MAX_MCFG)
        count = PCIE_MAX_MCFG;
    m_nMcfgCount = int(count);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = buffer + MCFG_HEADER_SIZE + i * MCFG_ENTRY_SIZE;
        m_Mcfg[i].ullBaseAddress = le64(e);  // kept whole, all 64 bits
        m_Mcfg[i].wSegment = uint16_t(e[8] | e[9] << 8);
        m_Mcfg[i].ucStartBus = e[10];
        m_Mcfg[i].ucEndBus = e[11];
    }
}

bool CKrv857xPcieCtrl::bEcamAddress(uint8_t ucBus, uint8_t ucDevice, uint8_t ucFunction, uint16_t wOffset,
                                    uint64_t& ullAddress) const
{
    for (int i = 0; i < m_nMcfgCount; ++i) {
        const PcieMcfgAllocation& a = m_Mcfg[i];
        if (a.ucStartBus <= ucBus && ucBus <= a.ucEndBus) {
            if (a.ullBaseAddress == 0)
                return false;
            const uint64_t ullOffset =
                ((uint64_t{ucBus} * 32 + (ucDevice & 31)) * 8 + (ucFunction & 7)) * PCIE_WINDOW_SIZE + (wOffset & 0xFFF);
            // The driver's memory requests carry 32-bit addresses: a window
            // above 4 GiB is out of their reach, never to be cut short. The
            // base comes from firmware: it is compared before anything is
            // added to it, so a base near the top cannot wrap to a low address.
            if (a.ullBaseAddress > FOUR_GB || FOUR_GB - a.ullBaseAddress < ullOffset + 4)
                return false;
            ullAddress = a.ullBaseAddress + ullOffset;
            return true;
        }
    }
    return false;
}

int CKrv857xPcieCtrl::nPhysRead(uint64_t ullAddress, uint8_t* pucData, uint32_t dwLength)
{
    if (dwLength < 4 || dwLength % 4 != 0)
        return -4;
    uint32_t mapped = MapKrvIO(uint32_t(ullAddress), PCIE_WINDOW_SIZE);
    int result = mapped ? 0 : -2;
    for (uint32_t i = 0; result == 0 && i < dwLength; ++i)
        result = ReadMEM(mapped + i, 1, pucData + i);
    if (mapped)
        UnmapKrvIO(mapped, PCIE_WINDOW_SIZE);
    return result;
}

int CKrv857xPcieCtrl::nPhysWrite(uint64_t ullAddress, const uint8_t* pucData, uint32_t dwLength)
{
    uint32_t mapped = MapKrvIO(uint32_t(ullAddress), PCIE_WINDOW_SIZE);
    int result = mapped ? 0 : -2;
    const bool slow = (ullAddress & 0xFFF) >= PCIE_SLOW_WRITE_OFFSET;
    for (uint32_t i = 0; result == 0 && i < dwLength; ++i) {
        if (slow)
            krv::Platform::current().clock().sleepMs(1);
        result = WriteMEM(mapped + i, 1, pucData + i);
    }
    if (mapped)
        UnmapKrvIO(mapped, PCIE_WINDOW_SIZE);
    return result;
}

uint8_t CKrv857xPcieCtrl::ucConfigReadByte(uint8_t ucBus, uint8_t ucDevice, uint8_t ucFunction, uint16_t wOffset)
{
    uint64_t address = 0;
    if (!bEcamAddress(ucBus, ucDevice, ucFunction, wOffset & ~3u, address))
        return 0xFF;
    uint8_t dword[4];
    // A failed memory request reads as no device.
    if (nPhysRead(address, dword, 4) != 0)
        return 0xFF;
    return dword[wOffset & 3];
}

uint16_t CKrv857xPcieCtrl::wConfigReadWord(uint8_t ucBus, uint8_t ucDevice, uint8_t ucFunction, uint16_t wOffset)
{
    return uint16_t(ucConfigReadByte(ucBus, ucDevice, ucFunction, wOffset) |
                    ucConfigReadByte(ucBus, ucDevice, ucFunction, uint16_t(wOffset + 1)) << 8);
}

uint32_t CKrv857xPcieCtrl::dwConfigReadDword(uint8_t ucBus, uint8_t ucDevice, uint8_t ucFunction, uint16_t wOffset)
{
    uint8_t bytes[4];
    vConfigReadBlock(ucBus, ucDevice, ucFunction, wOffset, bytes, 4);
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

void CKrv857xPcieCtrl::vConfigReadBlock(uint8_t ucBus, uint8_t ucDevice, uint8_t ucFunction, uint16_t wOffset,
                                        uint8_t* pucData, uint32_t dwLength)
{
    for (uint32_t i = 0; i < dwLength; ++i)
        pucData[i] = ucConfigReadByte(ucBus, ucDevice, ucFunction, uint16_t(wOffset + i));
}

void CKrv857xPcieCtrl::vConfigWriteByte(uint8_t ucBus, uint8_t ucDevice, uint8_t ucFunction, uint16_t wOffset,
                                        uint8_t ucValue)
{
    uint64_t address = 0;
    if (bEcamAddress(ucBus, ucDevice, ucFunction, wOffset, address))
        nPhysWrite(address, &ucValue, 1);
}

void CKrv857xPcieCtrl::vConfigWriteDword(uint8_t ucBus, uint8_t ucDevice, uint8_t ucFunction, uint16_t wOffset,
                                         uint32_t dwValue)
{
    uint64_t address = 0;
    const uint8_t bytes[4] = {uint8_t(dwValue), uint8_t(dwValue >> 8), uint8_t(dwValue >> 16), uint8_t(dwValue >> 24)};
    if (bEcamAddress(ucBus, ucDevice, ucFunction, wOffset, address))
        nPhysWrite(address, bytes, 4);
}
