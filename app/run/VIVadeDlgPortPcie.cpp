// A port whose bridge is a PCIe target: its update goes through the mailbox
// (configuration images, the whole firmware image with its read-back), and
// its reset too. The target's index is its slot after the USB devices.
#include <cstring>
#include <vector>

#include "app/run/EepromWrite.h"
#include "app/run/PortWork.h"
#include "app/VIVadeDlg.h"
#include "device/DebugLog.h"
#include "device/Krv857xPcieCtrl.h"
#include "device/KrvnUSBDev.h"
#include "device/USBUtility.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/Platform.h"

namespace {

const char* const kWho = "CVIVadeDlg::ChildThreadFun";

constexpr uint64_t kPcieSettleMs = 1500;
constexpr uint64_t kPcieFirmwareSettleMs = 500;
constexpr uint64_t kPcieReadBackPauseMs = 500;
constexpr uint8_t kPcieCpuReset = 0x50;
// A bridge that takes its reset drops off the bus at once; one still there
// this long after it refused it.
constexpr uint64_t kPcieLeaveLimitMs = 10'000;
// The largest firmware file the bridge's two regions hold.
constexpr uint64_t kPcieFirmwareMax = 65280 + 32736;

krv::Clock& pcieClock() { return krv::Platform::current().clock(); }

bool bReadFirmwareFile(const std::string& strPath, std::vector<uint8_t>& data)
{
    krv::File file;
    uint64_t nSize = 0;
    if (!file.open(krv::toNativeSeparators(strPath), krv::File::Mode::Read) || !file.size(nSize) || nSize == 0 ||
        nSize > kPcieFirmwareMax)
        return false;
    data.assign(static_cast<size_t>(nSize), 0);
    size_t nRead = 0;
    return file.read(data.data(), data.size(), nRead) && nRead == data.size();
}

}  // namespace

uint8_t CVIVadeDlg::ucPcieIndex(uint8_t ucSlot) const
{
    return static_cast<uint8_t>(ucSlot - m_DevList.DevNums.load());
}

void CVIVadeDlg::vChildStepUpdatePcie(CPortWork& work, const CPortRunInputs& inputs)
{
    DevList& devList = m_DevList;
    const uint8_t ucSlot = work.m_ucSlot;
    // The images the port writes are the run's own, never the table's.
    DevInfo& dev = work.m_Run.m_Device;
    const uint8_t ucIdx = ucPcieIndex(ucSlot);
    vDEBUG_MSG_printf("%s:%d: start update pcie config: pci idx:%d, target:%d, dev nums:%d", kWho, __LINE__, ucIdx,
                      ucSlot, devList.DevNums.load());
    // The waiting reset finds its bridge by the signature alone: the bus is
    // not asked to re-enumerate before the images go out.
    const bool bSettle = !m_pProfile->bWaitingResetReload;
    if (bSettle) {
        ScanForHardwareChanges();
        pcieClock().sleepMs(kPcieSettleMs, &work.m_Stop);
    }
    const uint8_t ucImages[2] = {inputs.ucImage0, inputs.ucImage1};

    if (work.m_ucResult == 1) {
        auto bTable = [&](uint8_t bWrite, uint8_t ucImage, uint8_t ucType) {
            uint8_t* pucTable = ucType == CONFIG_TYPE_U3 ? dev.m_ucU3Config : dev.m_ucU4Config;
            return g_PcieCtrl.pcie_AccessConfigEEPROM2(ucIdx, bWrite, pucTable, DEV_CONFIG_SIZE, ucImage, ucType) == 0;
        };
        for (uint8_t ucImage = 0; ucImage < 2 && work.m_ucResult == 1; ++ucImage) {
            if (!ucImages[ucImage])
                continue;
            const CEepromWrite write(m_nEepromWrites, work);
            if (!write.bBegun())
                break;
            // Format 0 keeps what the bridge holds: read first, then written back.
            if (inputs.ucConfigFormat == 0 && !(bTable(0, ucImage, CONFIG_TYPE_U3) && bTable(0, ucImage, CONFIG_TYPE_U4)))
                work.m_ucResult = 0;
            if (work.m_ucResult == 1 && !bTable(1, ucImage, CONFIG_TYPE_U3))
                work.m_ucResult = 0;
            vSignU4BeforeWrite(work, dev.m_ucU4Config);
            if (work.m_ucResult == 1 && !bTable(1, ucImage, CONFIG_TYPE_U4))
                work.m_ucResult = 0;
        }
        work.vSetResult(devList, &DevResults::m_bConfigWriteResult, work.m_ucResult);
    }

    if (work.m_ucResult == 1) {
        vDEBUG_MSG_printf("%s:%d: wfw 0", kWho, __LINE__);
        if (bSettle) {
            ScanForHardwareChanges();
            pcieClock().sleepMs(kPcieFirmwareSettleMs, &work.m_Stop);
        }
        std::vector<uint8_t> image;
        if (!bReadFirmwareFile(pUtility.g_strFWFileName, image)) {
            vDEBUG_ERR_printf("%s:%d: [%d] File not exist: strFWFileName : %s", kWho, __LINE__, ucSlot,
                              pUtility.g_strFWFileName.c_str());
            work.m_ucResult = 0;
        }
        std::vector<uint8_t> back(image.size());
        const uint32_t dwLength = static_cast<uint32_t>(image.size());
        // As on USB: a stop is heard before each image, never inside one.
        for (uint8_t ucImage = 0; ucImage < 2 && work.m_ucResult == 1; ++ucImage) {
            if (!ucImages[ucImage])
                continue;
            const CEepromWrite write(m_nEepromWrites, work);
            if (!write.bBegun())
                break;
            if (g_PcieCtrl.pcie_AccessFirmwareEEPROM2(ucIdx, 1, image.data(), dwLength, ucImage) != 0) {
                vDEBUG_MSG_printf(ucImage ? "%s:%d: write pcie fw img1 fail" : "%s:%d: write pcie fw img0 fail", kWho,
                                  __LINE__);
                work.m_ucResult = 0;
            } else if (g_PcieCtrl.pcie_AccessFirmwareEEPROM2(ucIdx, 0, back.data(), dwLength, ucImage) != 0) {
                vDEBUG_MSG_printf(ucImage ? "%s:%d: read pcie fw img1 fail" : "%s:%d: read pcie fw img0 fail", kWho,
                                  __LINE__);
                work.m_ucResult = 0;
            } else if (back != image) {
                vDEBUG_MSG_printf(ucImage ? "%s:%d: cmp pcie fw img1 fail" : "%s:%d: cmp pcie fw img0 fail", kWho,
                                  __LINE__);
                work.m_ucResult = 0;
            }
        }
    }

    if (devList.m_bDoConfigReadBack && work.m_ucResult == 1) {
        uint8_t ucOK = pcieClock().sleepMs(kPcieReadBackPauseMs, &work.m_Stop) ? 1 : 0;
        for (uint8_t ucImage = 0; ucImage < 2 && ucOK; ++ucImage) {
            if (!ucImages[ucImage])
                continue;
            const struct {
                uint8_t ucType;
                const uint8_t* pExpected;
                const char* pszFail;
            } kTables[] = {
                {CONFIG_TYPE_U3, dev.m_ucU3Config,
                 ucImage ? "ChildThreadFun: img 1 u3 config check fail\n" : "ChildThreadFun: img 0 u3 config check fail\n"},
                {CONFIG_TYPE_U4, dev.m_ucU4Config,
                 ucImage ? "ChildThreadFun: img 1 u4 config check fail\n" : "ChildThreadFun: img 0 u4 config check fail\n"},
            };
            for (const auto& table : kTables) {
                std::memset(dev.m_ucReadBackConfig, 0, sizeof(dev.m_ucReadBackConfig));
                if (g_PcieCtrl.pcie_AccessConfigEEPROM2(ucIdx, 0, dev.m_ucReadBackConfig, DEV_CONFIG_SIZE, ucImage,
                                                        table.ucType) != 0 ||
                    std::memcmp(dev.m_ucReadBackConfig + 4, table.pExpected + 4, DEV_CONFIG_SIZE - 4) != 0) {
                    vDEBUG_MSG_printf("%s:%d: %s", kWho, __LINE__, table.pszFail);
                    ucOK = 0;
                    break;
                }
            }
        }
        work.vSetResult(devList, &DevResults::m_bConfigReadBackOK, ucOK);
        work.m_ucResult = ucOK;
    }

    vEndUpdateStep(work);
}

bool CVIVadeDlg::bChildPcieReset(CPortWork& work)
{
    ScanForHardwareChanges();
    pcieClock().sleepMs(kPcieSettleMs, &work.m_Stop);
    const uint8_t ucIdx = ucPcieIndex(work.m_ucSlot);
    const PcieTargetAddress before = g_PcieCtrl.targetAddress(ucIdx);
    if (g_PcieCtrl.pcie_CPURST(ucIdx, kPcieCpuReset) != 0)
        return false;
    // The reset is not answered: only a bridge seen off the bus took it.
    // One that stays refused it and still runs its old firmware, while its
    // EEPROM already shows the signature the re-link looks for.
    if (!g_PcieCtrl.bWaitLeftBus(before, kPcieLeaveLimitMs, &work.m_Stop)) {
        vDEBUG_ERR_printf("%s:%d: [%d] pcie target:%d did not leave the bus after its reset", kWho, __LINE__,
                          work.m_ucSlot, ucIdx);
        return false;
    }
    return true;
}
