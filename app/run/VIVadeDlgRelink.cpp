// Finding bridges again after their reset: the rescan, the search for a
// re-link signature and the match of the re-linked devices to the ports
// that reset them.
#include <algorithm>

#include "app/run/PortWork.h"
#include "app/VIVadeDlg.h"
#include "device/DebugLog.h"
#include "device/Krv857xPcieCtrl.h"
#include "device/KrvnUSBDev.h"
#include "device/USBUtility.h"
#include "platform/LastError.h"
#include "platform/StopAwareLock.h"

namespace {

const char* const kWho = "CVIVadeDlg::vRescanForRelink";

// A signature a bridge can carry without this run having written it: an
// erased or never-written image (all ones), or a bridge without one.
bool bIsBlankSignature(uint8_t ucSig0, uint8_t ucSig1)
{
    return ucSig0 == 0 || (ucSig0 == RELINK_SIG_NONE && ucSig1 == RELINK_SIG_NONE);
}

// What the results table shows of a device back from its reset.
void vCopyRelinkedIdentity(const DevInfo& dev, PortRelinkInfo& entry)
{
    entry.m_ucLinkSpeed = dev.m_ucLinkSpeed;
    entry.m_strUSBSpeed = dev.m_strUSBSpeed;
    entry.m_strVID = dev.m_strVID;
    entry.m_strPID = dev.m_strPID;
    entry.m_strSerialNumber = dev.m_strSerialNumber;
    entry.m_strFWVersion = dev.m_strFWVersion;
    entry.m_ucU4Mode = dev.m_ucU4Mode;
}

}  // namespace

void CVIVadeDlg::vRescanForRelink(const CScanSettings& settings)
{
    g_UsbDev.m_ucCDROMMode = settings.ucCDROMMode;
    vScanUSBPort(settings);
    if (settings.iPcieScan != 0)
        vScanPcie(settings);
    vDEBUG_MSG_printf("%s:%d: usb:%d, pcie:%d", kWho, __LINE__, m_DevList.DevNums.load(), g_PcieCtrl.ucTargetCount());
}

bool CVIVadeDlg::bFoundRelinkSignature(uint8_t ucSig0, uint8_t ucSig1, const CPortWork& work, int& nSlot) const
{
    static const char* const kFind = "CVIVadeDlg::bFoundRelinkSignature";
    const int nCount = nAllDevCount(m_DevList, g_PcieCtrl.ucTargetCount());
    if (nCount < 1 || bIsBlankSignature(ucSig0, ucSig1))
        return false;
    for (int slot = 0; slot < nCount; ++slot) {
        const DevInfo& dev = m_DevList.Devs[slot];
        const uint8_t* pSig = dev.m_ucU4Config + RELINK_SIG_OFFSET;
        if (pSig[0] == 0) {
            // A device without a signature (another chip, a failed read)
            // hides none of the devices after it.
            vDEBUG_MSG_printf("%s:%d: sig 0", kFind, __LINE__);
            continue;
        }
        if (pSig[0] != ucSig0 || pSig[1] != ucSig1)
            continue;
        // A port's device comes back where it was plugged in; a signature
        // left from an earlier run on another port's bridge is not it.
        if (!work.strHubName().empty() &&
            (dev.m_strHubName != work.strHubName() || dev.m_ulPortIndex != work.ulHubPort()))
            continue;
        vDEBUG_MSG_printf("%s:%d: found relink sig", kFind, __LINE__);
        nSlot = slot;
        return true;
    }
    return false;
}

void CVIVadeDlg::vMatchRelinkedDevices()
{
    const int nEntries = std::min<int>(m_iRelinkCount, MAX_DEV_SLOTS);
    if (nEntries < 1)
        return;
    const int nCount = nAllDevCount(m_DevList, g_PcieCtrl.ucTargetCount());
    for (int j = 0; j < nEntries; ++j) {
        PortRelinkInfo& entry = m_PortRelinkInfo[j];
        // Only a port that reset its bridge in this run is waiting for it.
        if (entry.m_bRelinkPending != 1 || entry.m_bRelinkFound == 1 ||
            bIsBlankSignature(entry.m_ucRelinkSig[0], entry.m_ucRelinkSig[1]))
            continue;
        for (int i = 0; i < nCount; ++i) {
            DevInfo& dev = m_DevList.Devs[i];
            if (dev.m_ucU4Config[RELINK_SIG_OFFSET] != entry.m_ucRelinkSig[0] ||
                dev.m_ucU4Config[RELINK_SIG_OFFSET + 1] != entry.m_ucRelinkSig[1])
                continue;
            vCopyRelinkedIdentity(dev, entry);
            dev.m_bUpdateFWResult = 1;
            dev.m_bReloadFWResult = 1;
        }
    }
}

int CVIVadeDlg::nRelinkCycle(CPortWork& work, PortRelinkInfo& entry)
{
    CScanSettings settings;
    vOnGui([this, &settings] { settings = stScanSettings(); });
    int nSlot = -1;
    pUtility.g_bScanWaiting = 1;
    try {
        // The rescan, the search and the match under one hold of the scan
        // lock: no other port's rescan rewrites the table in between.
        krv::StopAwareLock scanLock(pUtility.m_ScanCriticalSection, &work.m_Stop);
        if (scanLock) {
            vRescanForRelink(settings);
            if (entry.m_bRelinkFound == 0) {
                if (bFoundRelinkSignature(entry.m_ucRelinkSig[0], entry.m_ucRelinkSig[1], work, nSlot)) {
                    vMatchRelinkedDevices();
                    // The port's own copy, taken while no rescan can change
                    // the record; a found entry is not rewritten any more.
                    vCopyRelinkedIdentity(m_DevList.Devs[nSlot], work.m_Relinked);
                    entry.m_bRelinkFound = 1;
                }
            }
        }
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d:  catch(...) error , dwErrorCode= %d", kWho, __LINE__,
                          static_cast<int>(krv::lastError()));
        nSlot = -1;
    }
    pUtility.g_bScanWaiting = 0;
    return nSlot;
}

bool CVIVadeDlg::bFindRelinkedSlotAgain(CPortWork& work, const PortRelinkInfo& entry)
{
    static const char* const kFind = "CVIVadeDlg::bFindRelinkedSlotAgain";
    // Ports that found their device early saw it in a table that later
    // rescans (for ports still waiting) filled anew, maybe in another order
    // and with a device of no port of the run in between: the slot found
    // then may hold another drive now.
    int nSlot = -1;
    krv::StopAwareLock scanLock(pUtility.m_ScanCriticalSection, &work.m_Stop);
    if (!scanLock || !bFoundRelinkSignature(entry.m_ucRelinkSig[0], entry.m_ucRelinkSig[1], work, nSlot)) {
        vDEBUG_ERR_printf("%s:%d: [%d] the re-linked device is no longer in the table", kFind, __LINE__,
                          work.m_Param.m_ucPort);
        return false;
    }
    if (nSlot != work.m_ucSlot)
        vDEBUG_MSG_printf("%s:%d: [%d] the re-linked device moved from slot %d to %d", kFind, __LINE__,
                          work.m_Param.m_ucPort, work.m_ucSlot, nSlot);
    work.m_ucSlot = static_cast<uint8_t>(nSlot);
    work.m_bHoldsSlot = true;
    // The drive's new numbers and texts, for the later steps and the log.
    work.m_Run.vTakeIdentity(m_DevList.Devs[nSlot]);
    return true;
}
