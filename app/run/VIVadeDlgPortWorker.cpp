// The port workers: one per port of a run, each carrying its port through
// the steps its test items switch on.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "app/ConfigTable.h"
#include "app/GUIText.h"
#include "app/Ini.h"
#include "app/run/EepromWrite.h"
#include "app/run/PortWork.h"
#include "app/U4ConfigTable.h"
#include "app/VIVadeDlg.h"
#include "device/DebugLog.h"
#include "device/KrvnUSBDev.h"
#include "device/TextUtil.h"
#include "platform/LastError.h"
#include "platform/Platform.h"

void CVIVadeDlg::vSetStepCell(const CPortWork& work, uint8_t ucColumn, uint8_t ucPass)
{
    vUpdateMainResultItemTable(work.ucRow(), ucColumn, ucPass ? g_GUIText.m_strPass : g_GUIText.m_strFail,
                               ucPass ? CELL_MODE_GREEN : CELL_MODE_RED);
}

bool CVIVadeDlg::bWaitForPorts(CPortWork& work, uint32_t dwPollMs,
                               const std::function<bool(const ChildThreadParam&)>& bArrived)
{
    for (;;) {
        if (!krv::Platform::current().clock().sleepMs(dwPollMs, &work.m_Stop))
            return false;
        int nCount = 0;
        for (int slot = 0; slot < MAX_DEV_SLOTS; ++slot) {
            const ChildThreadParam& param = m_ChildThreadParam[slot];
            if (m_MainThreadParam.m_ucPortEnable[slot] != 1)
                continue;
            // A worker that has ended, however, never comes: it counts as here.
            if (param.m_ucStatus == THREAD_STATUS_FINISHED || bArrived(param))
                ++nCount;
        }
        if (nCount >= work.m_Param.m_ucThreadCount)
            return true;
    }
}

namespace {

constexpr uint32_t kReloadBarrierPollMs = 500;
constexpr uint32_t kReadBackPauseMs = 500;
constexpr int kReadBackTries = 3;
constexpr int kRelinkCycles = 5;
constexpr uint8_t kCpuResetCode = 0x50;
constexpr uint8_t kChipKind857x = 2;

const char* const kWho = "CVIVadeDlg::ChildThreadFun";

krv::Clock& workClock() { return krv::Platform::current().clock(); }

int nWorkerLastError() { return static_cast<int>(krv::lastError()); }

// The serial number a USB-3 image carries: its field up to the first unused
// (0xFF) or zero byte.
std::string strImageSerial(const uint8_t (&ucImage)[DEV_CONFIG_SIZE])
{
    std::string strSerial;
    for (size_t i = CONFIG_SERIAL_OFFSET; i < CONFIG_SERIAL_OFFSET + CONFIG_SERIAL_LENGTH; ++i) {
        if (ucImage[i] == 0xFF || ucImage[i] == 0)
            break;
        strSerial += static_cast<char>(ucImage[i]);
    }
    return strSerial;
}

}  // namespace

CPortRunInputs CVIVadeDlg::stPortRunInputs()
{
    CPortRunInputs inputs;
    const IniRecord& ini = pIni.m_pINI;
    inputs.strVID = m_strEditDeviceConfigurationVendorID;
    inputs.strPID = m_strEditDeviceConfigurationProductID;
    inputs.strSerialNumber = m_strEditDeviceConfigurationSerialNumber;
    inputs.strManufacturer = m_strEditDeviceConfigurationManufacturerString;
    inputs.strProduct = m_strEditDeviceConfigurationProductString;
    inputs.strUSBStatus = m_strComboBoxUSBStatus;
    // Where the option block has no image choice, the settings hold it.
    const bool bBlock = m_pProfile->bOptionBlockImages;
    inputs.ucImage0 = bBlock ? m_PCIEUSBConfigDlg.m_ucImage0 : ini.image0;
    inputs.ucImage1 = bBlock ? m_PCIEUSBConfigDlg.m_ucImage1 : ini.image1;
    inputs.ucConfigFormat = ini.config_format;
    inputs.iReloadWaiting = ini.Reload_Waiting;
    inputs.iRelinkCount = m_iRelinkCount;
    inputs.wPcieVendorID = wPcieIdSetting(ini.PCIE_VendorID.c_str());
    inputs.wPcieDeviceID = wPcieIdSetting(ini.PCIE_DeviceID.c_str());
    inputs.iSSDRelinkTime = ini.PCIE_SSDRelinkTime;
    inputs.lReadSpeedLimit = std::strtol(m_strEditReadSpeed.c_str(), nullptr, 10);
    inputs.lWriteSpeedLimit = std::strtol(m_strEditWriteSpeed.c_str(), nullptr, 10);
    inputs.strPreloadPath = m_strComboBoxDeviceFunctionPreloadPath;
    return inputs;
}

int CVIVadeDlg::ChildThreadFun(ChildThreadParam* pParam, const krv::StopSource& stop)
{
    CPortRun& run = m_PortRun[pParam->m_ucPort];
    CPortWork work(*pParam, run, stop);
    DevList& devList = m_DevList;
    work.m_ucSlot = pParam->m_ucPort;
    try {
        work.vSetResult(devList, &DevResults::m_bConfigReadBackOK, 0);
        if (!run.m_bTakesPart || work.ucRow() >= MAX_DEV_SLOTS)
            work.m_ucResult = 0;
        if (pParam->m_ucItemCount > 0)
            work.m_fShare = static_cast<float>(100 / pParam->m_ucItemCount);
        const CPortRunInputs& inputs = run.m_Inputs;

        // A stop is honoured between steps, never inside one: a step that
        // has begun writing to the bridge finishes what it writes.
        vChildStepUSBCheck(work, inputs);
        if (!stop.stopRequested())
            vChildStepSHA256Key(work);
        if (!stop.stopRequested())
            vChildStepUpdate(work, inputs);
        if (devList.m_bDoUpdateFW && work.m_ucResult == 1)
            work.m_bImageWritten = true;
        if (!stop.stopRequested()) {
            if (m_pProfile->bWaitingResetReload)
                vChildStepWaitingReset(work, inputs);
            else
                vChildStepReload(work, inputs);
        }
        if (!stop.stopRequested())
            vChildStepConfigCheck(work, inputs);
        if (!stop.stopRequested())
            vChildStepFormat(work);
        if (!stop.stopRequested())
            vChildStepWrRdTest(work);
        if (!stop.stopRequested())
            vChildStepPreload(work);
        if (stop.stopRequested())
            work.m_ucResult = 0;
    } catch (...) {
        const struct {
            uint8_t ucOn;
            uint8_t ucColumn;
            std::initializer_list<AtomicByte DevResults::*> results;
        } kSteps[] = {
            {devList.m_bDoUpdateFW, RESULT_COL_UPDATE, {&DevResults::m_bUpdateFWResult}},
            {devList.m_bDoReload, RESULT_COL_RELINK, {&DevResults::m_bReloadFWResult}},
            {devList.m_bDoFormat, RESULT_COL_PARTITION, {&DevResults::m_bPartitionResult, &DevResults::m_bFormatResult}},
            {devList.m_bDoWrRdTest, RESULT_COL_RW_TEST, {&DevResults::m_bWrRdTestResult}},
            {devList.m_bDoPreload, RESULT_COL_PRELOAD, {&DevResults::m_bPreloadResult}},
        };
        for (const auto& step : kSteps) {
            if (step.ucOn) {
                for (auto pm : step.results)
                    work.vSetResult(devList, pm, 0);
                vSetStepCell(work, step.ucColumn, 0);
            } else {
                vUpdateMainResultItemTable(work.ucRow(), step.ucColumn, "", CELL_MODE_PLAIN);
            }
        }
        work.m_ucResult = 0;
        vDEBUG_ERR_printf("%s:%d: ChildThreadFun: dwErrorCode %d", kWho, __LINE__, nWorkerLastError());
    }
    pParam->m_ucVerdict = work.m_ucResult;
    // A device that never came back has no slot of its own any more.
    pParam->m_ucDevSlot = work.m_bHoldsSlot ? work.m_ucSlot : pParam->m_ucPort;
    pParam->m_fProgress = 100.0f;
    pParam->m_ucStatus = THREAD_STATUS_FINISHED;
    return 0;
}

void CVIVadeDlg::vChildStepUSBCheck(CPortWork& work, const CPortRunInputs& inputs)
{
    if (!m_DevList.m_bDoUSBStatusCheck)
        return;
    const DevInfo& dev = work.m_Run.m_Device;
    if (!dev.m_bPCIE) {
        // The link must run at least at the speed the operator expects.
        const auto nRank = [](const std::string& strText, bool bExpected) {
            const char* const kWords[] = {"HIGH", "SUPER", "PLUS"};
            const char* const kStatus[] = {"USB 2.0", "USB 3.0", "USB 3.1"};
            int nFound = 0;
            for (int i = 0; i < 3; ++i)
                if (bExpected ? strText == kStatus[i] : strText.find(kWords[i]) != std::string::npos)
                    nFound = i + 1;
            return nFound;
        };
        const int nExpected = nRank(inputs.strUSBStatus, true);
        const bool bFound = nExpected > 0 && nRank(dev.m_strUSBSpeed, false) >= nExpected;
        vDEBUG_MSG_printf("%s:%d: [%d] USB status check: link [%s], expected [%s]: %s", kWho, __LINE__,
                          work.m_ucSlot, dev.m_strUSBSpeed.c_str(), inputs.strUSBStatus.c_str(),
                          bFound ? "PASS" : "FAIL");
        if (!bFound)
            work.m_ucResult = 0;
        work.vSetResult(m_DevList, &DevResults::m_bUSBStatusResult, bFound ? 1 : 0);
        vSetStepCell(work, RESULT_COL_STATUS, bFound ? 1 : 0);
    } else {
        work.vSetResult(m_DevList, &DevResults::m_bUSBStatusResult, 1);
    }
    work.vAddShare();
}

void CVIVadeDlg::vChildStepSHA256Key(CPortWork& work)
{
    if (!m_DevList.m_bDoSHA256Key)
        return;
    if (work.m_ucResult == 1 && !work.m_Run.m_Device.m_bPCIE) {
        if (!g_UsbDev.m_bSupportSHA256)
            work.m_ucResult = 0;
        else
            work.m_ucResult = g_UsbDev.vSHA256_SendKey(work.m_ucSlot) == 1 ? 1 : 0;
    }
    work.vAddShare();
}

void CVIVadeDlg::vChildStepUpdate(CPortWork& work, const CPortRunInputs& inputs)
{
    DevList& devList = m_DevList;
    if (!devList.m_bDoUpdateFW) {
        vUpdateMainResultItemTable(work.ucRow(), RESULT_COL_UPDATE, "", CELL_MODE_PLAIN);
        return;
    }
    const uint8_t ucSlot = work.m_ucSlot;
    // The images the port writes are the run's own, never the table's.
    DevInfo& dev = work.m_Run.m_Device;
    if (dev.m_bPCIE) {
        vChildStepUpdatePcie(work, inputs);
        return;
    }
    vDEBUG_MSG_printf("%s:%d: res:%d, start update usb config: target:%d, dev nums:%d", kWho, __LINE__,
                      work.m_ucResult, ucSlot, devList.DevNums.load());
    const uint8_t ucImages[2] = {inputs.ucImage0, inputs.ucImage1};

    // Configuration: U3 then U4 of each image asked for.
    if (work.m_ucResult == 1) {
        for (uint8_t ucImage = 0; ucImage < 2 && work.m_ucResult == 1; ++ucImage) {
            if (!ucImages[ucImage])
                continue;
            const CEepromWrite write(m_nEepromWrites, work);
            if (!write.bBegun())
                break;
            if (inputs.ucConfigFormat == 0) {
                if (g_UsbDev.b8574WrRdConfiguration(ucSlot, 0, dev.m_ucU3Config, ucImage, CONFIG_TYPE_U3) != 1 ||
                    g_UsbDev.b8574WrRdConfiguration(ucSlot, 0, dev.m_ucU4Config, ucImage, CONFIG_TYPE_U4) != 1)
                    work.m_ucResult = 0;
            }
            if (work.m_ucResult == 1 && g_UsbDev.b8574WrRdConfiguration(ucSlot, 1, dev.m_ucU3Config, ucImage,
                                                                        CONFIG_TYPE_U3) != 1)
                work.m_ucResult = 0;
            vSignU4BeforeWrite(work, dev.m_ucU4Config);
            if (work.m_ucResult == 1 && g_UsbDev.b8574WrRdConfiguration(ucSlot, 1, dev.m_ucU4Config, ucImage,
                                                                        CONFIG_TYPE_U4) != 1)
                work.m_ucResult = 0;
        }
        work.vSetResult(devList, &DevResults::m_bConfigWriteResult, work.m_ucResult);
    }

    // Firmware.
    if (work.m_ucResult == 1) {
        vDEBUG_MSG_printf("%s:%d: wfw 0", kWho, __LINE__);
        // A stop is heard before each image, never inside one's write and
        // verify: a bridge is left with whole images only.
        for (uint8_t ucImage = 0; ucImage < 2 && work.m_ucResult == 1; ++ucImage) {
            if (!ucImages[ucImage])
                continue;
            const CEepromWrite write(m_nEepromWrites, work);
            if (!write.bBegun())
                break;
            if (g_UsbDev.v8574UpdateFirmware(ucSlot, ucImage, devList.m_bDoConfigReadBack) != 1) {
                work.m_ucResult = 0;
                break;
            }
            if (g_UsbDev.m_bSupportSHA256) {
                work.m_ucResult = g_UsbDev.vSHA256_VerifyKey(ucSlot, ucImage) == 1 ? 1 : 0;
                vDEBUG_MSG_printf("%s:%d: ChildThreadFun: vSHA256_VerifyKey ucTargetNumber=[%d], Image %d => %s.",
                                  kWho, __LINE__, ucSlot, ucImage, work.m_ucResult ? "PASS" : "FAIL");
            }
        }
    }

    // Read-back of the configuration just written.
    if (devList.m_bDoConfigReadBack && work.m_ucResult == 1) {
        uint8_t ucOK = 0;
        for (int nTry = 0; nTry < kReadBackTries && !ucOK; ++nTry) {
            if (!workClock().sleepMs(kReadBackPauseMs, &work.m_Stop))
                break;
            ucOK = 1;
            for (uint8_t ucImage = 0; ucImage < 2 && ucOK; ++ucImage) {
                if (!ucImages[ucImage])
                    continue;
                const struct {
                    uint8_t ucType;
                    const uint8_t* pExpected;
                    const char* pszFail;
                } kTables[] = {
                    {CONFIG_TYPE_U3, dev.m_ucU3Config,
                     ucImage ? "img 1 config check fail\n" : "img 0 config check fail\n"},
                    {CONFIG_TYPE_U4, dev.m_ucU4Config,
                     ucImage ? "img 1 U4 config check fail\n" : "img 0 U4 config check fail\n"},
                };
                for (const auto& table : kTables) {
                    if (!ucOK)
                        break;
                    uint8_t ucReadBack[DEV_CONFIG_SIZE] = {};
                    g_UsbDev.b8574WrRdConfiguration(ucSlot, 0, ucReadBack, ucImage, table.ucType);
                    if (std::memcmp(ucReadBack + 4, table.pExpected + 4, DEV_CONFIG_SIZE - 4) != 0) {
                        vDEBUG_MSG_printf("%s:%d: %s", kWho, __LINE__, table.pszFail);
                        ucOK = 0;
                    }
                }
            }
        }
        work.vSetResult(devList, &DevResults::m_bConfigReadBackOK, ucOK);
        work.m_ucResult = ucOK;
    }

    vEndUpdateStep(work);
}

void CVIVadeDlg::vSignU4BeforeWrite(const CPortWork& work, uint8_t (&ucU4Config)[DEV_CONFIG_SIZE])
{
    // The image the reset then looks for: the run's thread count and the
    // port's slot, signed right before the image goes out.
    if (m_pProfile->bWaitingResetReload && work.m_ucResult == 1)
        vSetRelinkSignatureAndChkSum(ucU4Config, work.m_Param.m_ucThreadCount, work.m_ucSlot);
}

void CVIVadeDlg::vEndUpdateStep(CPortWork& work)
{
    work.vSetResult(m_DevList, &DevResults::m_bUpdateFWResult, work.m_ucResult);
    if (m_pProfile->bWaitingResetReload)
        vDEBUG_MSG_printf("%s:%d: wfw:%d", kWho, __LINE__, work.m_ucResult);
    else
        vDEBUG_MSG_printf("%s:%d: [%d]:wfw:%d", kWho, __LINE__, work.m_ucSlot, work.m_ucResult);
    vSetStepCell(work, RESULT_COL_UPDATE, work.m_ucResult);
    work.vAddShare();
}

void CVIVadeDlg::vChildStepReload(CPortWork& work, const CPortRunInputs& inputs)
{
    DevList& devList = m_DevList;
    if (!devList.m_bDoReload) {
        vUpdateMainResultItemTable(work.ucRow(), RESULT_COL_RELINK, "", CELL_MODE_PLAIN);
        return;
    }
    ChildThreadParam& param = work.m_Param;
    PortRelinkInfo& entry = m_PortRelinkInfo[param.m_ucPort];
    const bool bReset = work.m_ucResult == 1;
    // From the first re-link rescan of any port on, a slot holds whatever
    // drive the rescan put there: the port holds one again only once it has
    // found its own device.
    work.m_bHoldsSlot = false;
    bool bResetSent = false;
    if (bReset) {
        const DevInfo& dev = work.m_Run.m_Device;
        entry.m_ucRelinkSig[0] = dev.m_ucU4Config[RELINK_SIG_OFFSET];
        entry.m_ucRelinkSig[1] = dev.m_ucU4Config[RELINK_SIG_OFFSET + 1];
        entry.m_bRelinkPending = 1;
        // A bridge that refused its reset still runs its old firmware, yet
        // shows the new signature its EEPROM holds: it must not pass.
        if (dev.m_bPCIE)
            bResetSent = bChildPcieReset(work);
        else
            bResetSent = g_UsbDev.v8574CPURSTwithoutCheck(work.m_ucSlot, param.m_ucThreadCount, 0, kCpuResetCode,
                                                         kChipKind857x) == 1;
        if (!bResetSent)
            entry.m_bRelinkPending = 0;
    }
    // No rescan may start while a port still works on its bridge: the
    // rescan empties the records and may give the slots to other devices.
    param.m_ucStatus = THREAD_STATUS_RESET_SENT;
    bool bGoOn = bWaitForPorts(work, kReloadBarrierPollMs,
                               [](const ChildThreadParam& p) { return p.m_ucStatus >= THREAD_STATUS_RESET_SENT; });

    if (bReset) {
        work.m_ucResult = 0;
        // The devices of the run, as counted at Start: a rescan that finds
        // none while they restart must not shorten the next waits.
        const int nDevices = std::clamp(inputs.iRelinkCount, 1, MAX_DEV_SLOTS);
        for (int nCycle = 0; bGoOn && bResetSent && nCycle < kRelinkCycles; ++nCycle) {
            const uint64_t ullWaitMs =
                static_cast<uint64_t>(nDevices) * static_cast<uint64_t>(std::max(inputs.iReloadWaiting, 0)) * 1000;
            if (!workClock().sleepMs(ullWaitMs, &work.m_Stop))
                break;
            const int nSlot = nRelinkCycle(work, entry);
            vDEBUG_MSG_printf("%s:%d: [%d] scan relink:%d %d", kWho, __LINE__, param.m_ucPort, entry.m_ucRelinkSig[0],
                              entry.m_ucRelinkSig[1]);
            if (nSlot >= 0) {
                work.m_ucSlot = static_cast<uint8_t>(nSlot);
                work.m_bHoldsSlot = true;
                work.m_ucResult = 1;
                break;
            }
        }
        work.vSetResult(devList, &DevResults::m_bReloadFWResult, work.m_ucResult);
        if (work.m_ucResult == 1) {
            // The device record was emptied by the rescan: the update
            // result it shows is the port's.
            devList.Devs[work.m_ucSlot].m_bUpdateFWResult = param.m_Results.m_bUpdateFWResult.load();
            vUpdateUsbModeColumns(work.ucRow(), work.m_Relinked);
        }
        vSetStepCell(work, RESULT_COL_RELINK, work.m_ucResult);
        work.vAddShare();
    } else {
        vUpdateMainResultItemTable(work.ucRow(), RESULT_COL_RELINK, "", CELL_MODE_PLAIN);
    }

    param.m_ucStatus = THREAD_STATUS_AT_RELOAD;
    bGoOn = bGoOn && bWaitForPorts(work, kReloadBarrierPollMs,
                                   [](const ChildThreadParam& p) { return p.m_ucStatus >= THREAD_STATUS_AT_RELOAD; });
    if (bGoOn)
        workClock().sleepMs(kReloadBarrierPollMs, &work.m_Stop);
    // Every port is past its re-link: no rescan moves the devices any more.
    // The later steps go to the slot the port's device holds now.
    if (bGoOn && bReset && work.m_ucResult == 1) {
        if (bFindRelinkedSlotAgain(work, entry)) {
            DevInfo& dev = devList.Devs[work.m_ucSlot];
            dev.m_bUpdateFWResult = param.m_Results.m_bUpdateFWResult.load();
            dev.m_bReloadFWResult = param.m_Results.m_bReloadFWResult.load();
        } else {
            work.m_ucResult = 0;
            work.vSetResult(devList, &DevResults::m_bReloadFWResult, 0);
            vSetStepCell(work, RESULT_COL_RELINK, 0);
        }
    }
    if (bReset)
        work.vAddShare();
    if (!bGoOn)
        work.m_ucResult = 0;
}

void CVIVadeDlg::vChildStepConfigCheck(CPortWork& work, const CPortRunInputs& inputs)
{
    if (!m_DevList.m_bDoConfigCheck || work.m_ucResult != 1)
        return;
    // The drive as the port last found it (after its re-link, as it came back).
    const DevInfo& dev = work.m_Run.m_Device;
    // Each port carries its own serial number: the one its image gave it.
    const std::string strSerial =
        work.m_bImageWritten ? strImageSerial(work.m_Run.m_Device.m_ucU3Config) : inputs.strSerialNumber;
    // The ids are hex numbers: the device reports them in upper case,
    // whatever case the settings wrote them in.
    const bool bSame = bEqualNoCase(dev.m_strVID, inputs.strVID) && bEqualNoCase(dev.m_strPID, inputs.strPID) &&
                       dev.m_strSerialNumber == strSerial && dev.m_strManufacturer == inputs.strManufacturer &&
                       dev.m_strProduct == inputs.strProduct;
    work.m_ucResult = bSame ? 1 : 0;
    work.vSetResult(m_DevList, &DevResults::m_bConfigCheckResult, work.m_ucResult);
    vSetStepCell(work, RESULT_COL_UPDATE, work.m_ucResult);
    work.vAddShare();
}
