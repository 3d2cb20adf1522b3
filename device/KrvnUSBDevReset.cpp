// The bridge CPU reset and the wait for the restarted drive: after new
// firmware or configuration the bridge restarts, its drive leaves the bus and
// comes back, often under another PhysicalDrive or CD-ROM number, and the
// slot's record is re-mapped to it. Also the disconnect that parks a drive
// before it is unplugged.
//
// A restarted drive is recognised by the re-link signature the run wrote
// into its USB4 image (devices of the run, port slot). A signature alone is
// not trusted:
//   - a blank one (an erased or zeroed image) matches nothing;
//   - while the drive still answers on the handle the reset went out on, it
//     has not restarted yet: its EEPROM already holds the new image, so its
//     old appearance would otherwise be taken for the new one;
//   - a drive that carries the signature but is not the drive of the USB
//     device on the slot's own hub port is another port's drive (one left
//     over from an earlier run), never this slot's.
// So a drive that never comes back fails its own slot after the wait and
// never hands its worker another port's disk.
//
// Resets and waits of all ports run one at a time under the reset lock; the
// lock and every pause of the wait give way to the calling thread's stop
// request.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <strings.h>
#include <vector>

#include "device/DebugLog.h"
#include "device/KrvnUSBDev.h"
#include "device/KrvnUSBDevRequest.h"
#include "device/TextUtil.h"
#include "device/USBUtility.h"
#include "platform/BlockDevices.h"
#include "platform/DeviceClasses.h"
#include "platform/LastError.h"
#include "platform/Platform.h"
#include "platform/StopAwareLock.h"
#include "platform/StopSource.h"

namespace {

int nLastError() { return static_cast<int>(krv::lastError()); }

// The re-link wait: whole seconds, and the pause after a signature matched.
constexpr uint64_t RELINK_TIMEOUT_PHYSICAL_S = 480;
constexpr uint64_t RELINK_TIMEOUT_CDROM_S = 300;
constexpr uint64_t RELINK_PAUSE_PHYSICAL_MS = 500;
constexpr uint64_t RELINK_PAUSE_CDROM_MS = 1500;
// After the reset command; per candidate that does not open, before the
// INQUIRY of an 857x, after a failed signature read; between two sweeps.
constexpr uint64_t RESET_SETTLE_MS = 1500;
constexpr uint64_t RELINK_OPEN_RETRY_MS = 200;
constexpr uint64_t RELINK_INQUIRY_DELAY_MS = 300;
constexpr uint64_t RELINK_READ_RETRY_MS = 500;
constexpr uint64_t RELINK_SWEEP_MS = 1000;
// The disconnect: after the flush, after the standby.
constexpr uint64_t DISCONNECT_FLUSH_MS = 1000;
constexpr uint64_t DISCONNECT_STANDBY_MS = 2000;

// The signature of the bridges that keep it in a register, and where the
// USB4 image keeps it.
constexpr uint16_t REG_RELINK_SIGNATURE = 0xCA02;
constexpr size_t RELINK_SIG_SLOT = RELINK_SIG_OFFSET + 1;

constexpr const char* kLockTrace = "CKrvnUSBDev::m_ReloadFWCriticalSection";

krv::Clock& platformClock() { return krv::Platform::current().clock(); }

// A signature no run writes: no device count (an all-zero image), or an
// erased byte.
bool bBlankSignature(uint8_t ucCount, uint8_t ucSlot)
{
    return ucCount == 0 || ucCount > MAX_DEV_SLOTS || ucSlot >= MAX_DEV_SLOTS;
}

// True while the drive answers on `hDev`: the transport reaches it, whatever
// its status. A drive that left the bus never answers on a handle of its
// earlier appearance again.
bool bStillAnswers(HANDLE hDev)
{
    CPassThroughRequest request;
    request.vSetCdb({0x12, 0x00, 0x00, 0x00, INQUIRY_CHIP_ID_LENGTH, 0x00}, 12);
    request.vSetTransfer(krv::DataDirection::In, INQUIRY_CHIP_ID_LENGTH, SCSI_TIMEOUT_READ);
    return request.bSend(hDev);
}

// The serial number the device on the hub port reports, as the walk reads
// it (trimmed, upper case); empty when it reports none.
std::string strHubPortSerial(krv::UsbHub& hub, uint32_t ulPort)
{
    krv::UsbConnectionInfo info;
    if (!hub.connectionInformation(ulPort, info) || info.status != krv::UsbConnectionStatus::DeviceConnected ||
        info.deviceDescriptor.iSerialNumber == 0)
        return std::string();
    std::vector<uint8_t> languages;
    if (!hub.descriptor(ulPort, krv::usbdesc::value(krv::usbdesc::kString, 0), 0, 4, languages) ||
        languages.size() < 4)
        return std::string();
    const uint16_t usLanguageID = static_cast<uint16_t>(languages[2] | languages[3] << 8);
    std::vector<uint8_t> text;
    if (!hub.descriptor(ulPort, krv::usbdesc::value(krv::usbdesc::kString, info.deviceDescriptor.iSerialNumber),
                        usLanguageID, 255, text))
        return std::string();
    return strUpper(strTrim(CKrvnUSBDev::strStringDescriptorText(text.data(), text.size())));
}

// What a candidate drive turned out to be.
enum class ECandidate { eNext, eFound, eStopped };

// One call's wait for the restarted drive of one slot.
class CRelinkWait {
public:
    CRelinkWait(CKrvnUSBDev& dev, DevList& list, uint8_t ucTarget, uint8_t ucTotal, uint8_t ucProbeLimit,
                uint8_t ucKind, CDriveHandle* pOldAppearance)
        : m_dev(dev), m_list(list), m_ucTarget(ucTarget), m_ucTotal(ucTotal), m_ucProbeLimit(ucProbeLimit),
          m_ucKind(ucKind), m_bCdRom(list.Devs[ucTarget].m_bIsCDROM != 0), m_pOldAppearance(pOldAppearance),
          m_pStop(krv::StopSource::current())
    {
    }

    uint8_t ucRun();

private:
    static constexpr const char* kMethod = "CKrvnUSBDev::bDetectTargetUSBDevice";

    bool bSleep(uint64_t ms) { return platformClock().sleepMs(ms, m_pStop); }
    bool bOldAppearanceGone();
    ECandidate eSweep();
    ECandidate eProbe(krv::DriveKind eKind, int nNumber);
    ECandidate eReadSignature(HANDLE hDev, uint8_t (&ucSig)[2]);
    bool bFill(HANDLE hDev, krv::DriveKind eKind, int nNumber, const std::string& strChip, DevInfo& found);
    void vCommit(const DevInfo& found);

    CKrvnUSBDev& m_dev;
    DevList& m_list;
    const uint8_t m_ucTarget;
    const uint8_t m_ucTotal;
    const uint8_t m_ucProbeLimit;
    const uint8_t m_ucKind;
    const bool m_bCdRom;
    CDriveHandle* m_pOldAppearance;
    const krv::StopSource* m_pStop;
    // A CD-ROM record's candidates alternate between the run's next CD-ROM
    // number and the record's own, from one candidate to the next.
    bool m_bNextCdRomNumber = true;
};

uint8_t CRelinkWait::ucRun()
{
    const uint64_t ullTimeoutS = m_bCdRom ? RELINK_TIMEOUT_CDROM_S : RELINK_TIMEOUT_PHYSICAL_S;
    const uint64_t ullStartMs = platformClock().monotonicMs();
    vDEBUG_MSG_printf("%s:%d:  [%d] ucValidTotalThread =[%d], Entry...", kMethod, __LINE__, m_ucTarget, m_ucTotal);
    for (;;) {
        ECandidate eResult = ECandidate::eNext;
        if (bOldAppearanceGone())
            eResult = eSweep();
        if (eResult == ECandidate::eStopped)
            break;
        const uint64_t ullElapsedS = (platformClock().monotonicMs() - ullStartMs) / 1000;
        if (ullElapsedS > ullTimeoutS) {
            vDEBUG_ERR_printf("%s:%d:  [%d] *** Timeout *** iRelinkTimeOut[%d]", kMethod, __LINE__, m_ucTarget,
                              static_cast<int>(ullTimeoutS));
            return 0;
        }
        if (eResult == ECandidate::eFound) {
            vDEBUG_MSG_printf("%s:%d: ucTargetNum [%d] Found device!!!", kMethod, __LINE__, m_ucTarget);
            return 1;
        }
        if (!bSleep(RELINK_SWEEP_MS))
            break;
    }
    vDEBUG_MSG_printf("%s:%d:  [%d] stop requested, the re-link wait ends", kMethod, __LINE__, m_ucTarget);
    return 0;
}

bool CRelinkWait::bOldAppearanceGone()
{
    if (!m_pOldAppearance || !m_pOldAppearance->bIsValid())
        return true;
    if (bStillAnswers(m_pOldAppearance->get())) {
        vDEBUG_MSG_printf("%s:%d:  [%d] the drive still answers as it did before the reset", kMethod, __LINE__,
                          m_ucTarget);
        return false;
    }
    // Gone once, gone for good: the handle is let go.
    m_pOldAppearance->reset();
    return true;
}

ECandidate CRelinkWait::eSweep()
{
    // PhysicalDrive0 is the machine's own disk.
    for (int k = 1; k <= m_ucProbeLimit + 1; ++k) {
        krv::DriveKind eKind = krv::DriveKind::PhysicalDrive;
        int nNumber = k;
        if (m_bCdRom) {
            eKind = krv::DriveKind::CdRom;
            nNumber = m_bNextCdRomNumber ? static_cast<uint8_t>(pUtility.g_nHighestCDROMNumber.load() + 1)
                                         : m_list.Devs[m_ucTarget].m_ucCDROMAddress;
            m_bNextCdRomNumber = !m_bNextCdRomNumber;
        }
        const ECandidate eResult = eProbe(eKind, nNumber);
        if (eResult != ECandidate::eNext)
            return eResult;
    }
    return ECandidate::eNext;
}

ECandidate CRelinkWait::eReadSignature(HANDLE hDev, uint8_t (&ucSig)[2])
{
    int iResult = SCSI_RESULT_FAIL;
    if (m_ucKind == BRIDGE_TYPE_857X) {
        if (!bSleep(RELINK_INQUIRY_DELAY_MS))
            return ECandidate::eStopped;
        uint8_t ucInquiry[INQUIRY_CHIP_ID_LENGTH];
        iResult = CKrvnUSBDev::SCSI6390_Inquiry(hDev, ucInquiry, sizeof ucInquiry);
        if (iResult == SCSI_RESULT_OK) {
            // Image 1 only when it alone is chosen; with neither chosen the
            // image the identification reads, image 0.
            const uint8_t ucBank = !m_dev.m_ucImage0Enable && m_dev.m_ucImage1Enable ? 1 : 0;
            uint8_t ucImage[CONFIG_BIN_SIZE] = {};
            iResult = CKrvnUSBDev::SCSI8574_AccessConfigEEPROM(hDev, ACCESS_READ, ucImage, sizeof ucImage, ucBank,
                                                               CONFIG_TYPE_U4);
            ucSig[0] = ucImage[RELINK_SIG_OFFSET];
            ucSig[1] = ucImage[RELINK_SIG_SLOT];
        }
    } else {
        iResult = CKrvnUSBDev::SCSI6390_AccessRegister(hDev, ACCESS_READ, REG_RELINK_SIGNATURE, ucSig, 2);
    }
    if (iResult != SCSI_RESULT_OK) {
        vDEBUG_ERR_printf("%s:%d:  [%d] SCSI6390_AccessRegister Fail , iResult %d dwErrorCode %d", kMethod, __LINE__,
                          m_ucTarget, iResult, nLastError());
        ucSig[0] = ucSig[1] = 0;
        return bSleep(RELINK_READ_RETRY_MS) ? ECandidate::eNext : ECandidate::eStopped;
    }
    return ECandidate::eNext;
}

ECandidate CRelinkWait::eProbe(krv::DriveKind eKind, int nNumber)
{
    const std::string strPath = strDrivePath(eKind, nNumber);
    CDriveHandle hDev(CreateDriveHandle(strPath));
    if (!hDev.bIsValid()) {
        vDEBUG_MSG_printf("%s:%d:  ucTargetNum[%d] createfile strPhysicalAddress[%s] failed", kMethod, __LINE__,
                          m_ucTarget, strPath.c_str());
        return bSleep(RELINK_OPEN_RETRY_MS) ? ECandidate::eNext : ECandidate::eStopped;
    }
    uint8_t ucSig[2] = {};
    const ECandidate eRead = eReadSignature(hDev.get(), ucSig);
    if (eRead == ECandidate::eStopped)
        return eRead;
    if (bBlankSignature(ucSig[0], ucSig[1]) || ucSig[0] != m_ucTotal || ucSig[1] != m_ucTarget)
        return ECandidate::eNext;

    if (!bSleep(m_bCdRom ? RELINK_PAUSE_CDROM_MS : RELINK_PAUSE_PHYSICAL_MS))
        return ECandidate::eStopped;
    uint8_t ucInquiry[INQUIRY_CHIP_ID_LENGTH];
    const int iInquiry = CKrvnUSBDev::SCSI6390_Inquiry(hDev.get(), ucInquiry, sizeof ucInquiry);
    if (iInquiry != SCSI_RESULT_OK)
        vDEBUG_ERR_printf("%s:%d:  SCSI6390_Inquiry Fail , ucTargetNum:[%d] , strPhysicalAddress [%s] ,iResult[%d], "
                          "dwErrorCode %d",
                          kMethod, __LINE__, m_ucTarget, strPath.c_str(), iInquiry, nLastError());
    const std::string strChip = CKrvnUSBDev::strInquiryChipText(ucInquiry);
    if (!CKrvnUSBDev::bChipOfBridgeType(strChip, m_ucKind))
        return ECandidate::eNext;

    const DevInfo& record = m_list.Devs[m_ucTarget];
    if (!CKrvnUSBDev::bDriveOnHubPort(record.m_strHubName, record.m_ulPortIndex, eKind, nNumber)) {
        vDEBUG_WRN_printf("%s:%d:  ucTargetNum[%d] strPhysicalAddress[%s] carries the signature but is no drive of "
                          "the port's device (hub %s port %u), skipped",
                          kMethod, __LINE__, m_ucTarget, strPath.c_str(), record.m_strHubName.c_str(),
                          record.m_ulPortIndex);
        return ECandidate::eNext;
    }

    DevInfo found = record;
    if (!bFill(hDev.get(), eKind, nNumber, strChip, found))
        return ECandidate::eNext;
    vCommit(found);
    return ECandidate::eFound;
}

bool CRelinkWait::bFill(HANDLE hDev, krv::DriveKind eKind, int nNumber, const std::string& strChip, DevInfo& found)
{
    const std::string strPath = strDrivePath(eKind, nNumber);
    // A CD-ROM number names no disk: the letter of "PhysicalDrive<n>" would
    // be another disk's.
    if (eKind == krv::DriveKind::PhysicalDrive) {
        const char cLetter = m_dev.vGetLogicalAddressFromPhysicalAddress(static_cast<uint8_t>(nNumber), 0);
        if (cLetter != DEV_DRIVE_LETTER_NONE)
            found.m_cDriveLetter = cLetter;
        found.m_ucPhysicalAddress = static_cast<uint8_t>(nNumber);
        vDEBUG_MSG_printf("%s:%d:  ucTargetNum[%d] assign new  PhysicalAddress [%d]", kMethod, __LINE__, m_ucTarget,
                          nNumber);
    } else {
        found.m_ucCDROMAddress = static_cast<uint8_t>(nNumber);
        vDEBUG_MSG_printf("%s:%d:  ucTargetNum[%d] assign new CDROM PhysicalAddress [%d]", kMethod, __LINE__,
                          m_ucTarget, nNumber);
    }

    if (!CKrvnUSBDev::bReadFWVersion(hDev, m_ucKind, found.m_strFWVersion))
        return false;

    CUSBWalkState walk;
    if (!m_dev.bUpdateDeviceInfo(walk, found.m_strHubName, found.m_ulPortIndex, found.m_ulPortCount))
        return false;
    found.m_strPID = walk.m_strPID;
    found.m_strVID = walk.m_strVID;
    found.m_strSerialNumber = walk.m_strSerialNumber;
    found.m_strManufacturer = walk.m_strManufacturer;
    found.m_strProduct = walk.m_strProduct;
    found.m_strVersion = walk.m_strVersion;

    found.m_ucU4Mode = m_dev.ucGet8574U4Mode(hDev);
    if (found.m_ucU4Mode == U4_MODE_LEGACY || found.m_ucU4Mode == STATUS_READ_FAILED) {
        found.m_strUSBSpeed = m_dev.vGet8574UsbConnectionStatus(hDev);
        found.m_ucLinkSpeed = CKrvnUSBDev::ucGetUSBSpeedCode(found.m_strUSBSpeed);
    } else {
        found.m_ucLinkSpeed = m_dev.ucGet8574U4Speed(hDev);
    }

    krv::DiskGeometry geometry;
    std::unique_ptr<krv::BlockDevice> disk =
        krv::Platform::current().blockDevices().open(strPath, krv::BlockAccess::Query);
    if (!disk || !disk->geometry(geometry)) {
        geometry = krv::DiskGeometry();
        vDEBUG_ERR_printf("%s:%d: hDev:%x ,  dwErrorCode:%x  ", kMethod, __LINE__,
                          static_cast<unsigned>(reinterpret_cast<uintptr_t>(hDev)), nLastError());
    }
    found.m_dwDiskInfo[2] = geometry.bytesPerSector;
    vDEBUG_MSG_printf("%s:%d:  ucTargetNum[%d] IOCTL_DISK_GET_DRIVE_GEOMETRY_EX "
                      "diskGeometryEx.Geometry.BytesPerSector=0x%x",
                      kMethod, __LINE__, m_ucTarget, geometry.bytesPerSector);
    if (strChip == "8574")
        vDEBUG_MSG_printf("%s:%d: 857x USB Mode: Legacy", kMethod, __LINE__);
    else if (strChip == "8576")
        vDEBUG_MSG_printf("%s:%d: 857x USB Mode: Tunnel", kMethod, __LINE__);
    return true;
}

// The fields the wait re-maps, written together once the drive is known; a
// candidate turned down half way leaves the record as it was.
void CRelinkWait::vCommit(const DevInfo& found)
{
    DevInfo& slot = m_list.Devs[m_ucTarget];
    slot.m_ucPhysicalAddress = found.m_ucPhysicalAddress;
    slot.m_ucCDROMAddress = found.m_ucCDROMAddress;
    slot.m_cDriveLetter = found.m_cDriveLetter;
    slot.m_strFWVersion = found.m_strFWVersion;
    slot.m_strPID = found.m_strPID;
    slot.m_strVID = found.m_strVID;
    slot.m_strSerialNumber = found.m_strSerialNumber;
    slot.m_strManufacturer = found.m_strManufacturer;
    slot.m_strProduct = found.m_strProduct;
    slot.m_strVersion = found.m_strVersion;
    slot.m_ucU4Mode = found.m_ucU4Mode;
    slot.m_strUSBSpeed = found.m_strUSBSpeed;
    slot.m_ucLinkSpeed = found.m_ucLinkSpeed;
    slot.m_dwDiskInfo[2] = found.m_dwDiskInfo[2];
}

// The wait with the slot checked; pOldAppearance as CRelinkWait takes it.
uint8_t ucWaitForRelink(CKrvnUSBDev& dev, uint8_t ucTargetNumber, uint8_t ucValidTotalThread, uint8_t ucProbeLimit,
                        uint8_t ucChipKind, CDriveHandle* pOldAppearance)
{
    DevList* pDevList = dev.m_pDevList.load();
    if (!pDevList || ucTargetNumber >= MAX_DEV_SLOTS)
        return 0;
    CRelinkWait wait(dev, *pDevList, ucTargetNumber, ucValidTotalThread, ucProbeLimit, ucChipKind, pOldAppearance);
    return wait.ucRun();
}

// The reset lock with its trace lines: taken in a stop-aware wait, left on
// every path.
class CResetLock {
public:
    explicit CResetLock(const char* pszMethod) : m_pszMethod(pszMethod)
    {
        vDEBUG_MSG_printf("%s:%d: ::EnterCriticalSection(&pUtility.m_ReloadFWCriticalSection)", m_pszMethod,
                          __LINE__);
        m_bOwns = krv::lockStopAware(pUtility.m_ReloadFWCriticalSection, krv::StopSource::current());
        if (!m_bOwns)
            vDEBUG_MSG_printf("%s:%d: stop requested while waiting for %s", m_pszMethod, __LINE__, kLockTrace);
    }
    ~CResetLock()
    {
        if (!m_bOwns)
            return;
        pUtility.m_ReloadFWCriticalSection.unlock();
        vDEBUG_MSG_printf("%s:%d: ::LeaveCriticalSection(&pUtility.m_ReloadFWCriticalSection)", m_pszMethod,
                          __LINE__);
    }
    CResetLock(const CResetLock&) = delete;
    CResetLock& operator=(const CResetLock&) = delete;
    bool bOwns() const { return m_bOwns; }

private:
    const char* m_pszMethod;
    bool m_bOwns = false;
};

}  // namespace

// ---- the reset ------------------------------------------------------------------

uint8_t CKrvnUSBDev::v8574CPURSTwithoutCheck(uint8_t ucTargetNumber, uint8_t, uint8_t, uint8_t ucCode, uint8_t)
{
    static const char* const kMethod = "CKrvnUSBDev::v8574CPURSTwithoutCheck";
    try {
        CResetLock lock(kMethod);
        if (!lock.bOwns())
            return 0;
        // Always the disk's own path, also for a record that enumerated as a CD-ROM.
        CDriveHandle hDev = hOpenTarget(ucTargetNumber, true);
        if (!hDev.bIsValid()) {
            vDEBUG_ERR_printf("%s:%d: vCPURST: [%d] CreateFile Fail , dwErrorCode %d", kMethod, __LINE__,
                              ucTargetNumber, nLastError());
            return 0;
        }
        uint8_t ucResult = 1;
        const int iResult = SCSI8574_CPURST(hDev.get(), ucCode);
        if (iResult != SCSI_RESULT_OK) {
            vDEBUG_ERR_printf("%s:%d: v8574CPURST: [%d] SCSI8574_CPURST Fail , iResult %d dwErrorCode %d", kMethod,
                              __LINE__, ucTargetNumber, iResult, nLastError());
            ucResult = 0;
        }
        hDev.reset();
        pUtility.g_nHighestCDROMNumber += 1;
        return ucResult;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...): ucTargetNumber : %d  , dwErrorCode %d", kMethod, __LINE__,
                          ucTargetNumber, nLastError());
        return 0;
    }
}

uint8_t CKrvnUSBDev::v8574CPURST(uint8_t ucTargetNumber, uint8_t ucValidTotalThread, uint8_t ucProbeLimit,
                                 uint8_t ucCode, uint8_t ucChipKind)
{
    static const char* const kMethod = "CKrvnUSBDev::v8574CPURST";
    try {
        // The whole wait runs inside the lock: resets and waits of different
        // ports never overlap.
        CResetLock lock(kMethod);
        if (!lock.bOwns())
            return 0;
        CDriveHandle hDev = hOpenTarget(ucTargetNumber);
        if (!hDev.bIsValid()) {
            vDEBUG_ERR_printf("%s:%d: vCPURST: [%d] CreateFile Fail , dwErrorCode %d", kMethod, __LINE__,
                              ucTargetNumber, nLastError());
            return 0;
        }
        const int iResult = SCSI8574_CPURST(hDev.get(), ucCode);
        const int nError = nLastError();
        vDEBUG_MSG_printf("%s:%d: sleep 1500", kMethod, __LINE__);
        const bool bSettled = platformClock().sleepMs(RESET_SETTLE_MS, krv::StopSource::current());
        // A reset whose answer was lost may still have restarted the bridge:
        // the wait decides.
        if (iResult != SCSI_RESULT_OK)
            vDEBUG_ERR_printf("%s:%d: v8574CPURST: [%d] SCSI8574_CPURST Fail , iResult %d dwErrorCode %d", kMethod,
                              __LINE__, ucTargetNumber, iResult, nError);
        // The handle the reset went out on stays open until the drive is seen
        // to have left, so its old appearance is never taken for the new one.
        const uint8_t ucResult =
            bSettled ? ucWaitForRelink(*this, ucTargetNumber, ucValidTotalThread, ucProbeLimit, ucChipKind, &hDev) : 0;
        hDev.reset();
        pUtility.g_nHighestCDROMNumber += 1;
        return ucResult;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...): ucTargetNumber : %d  , dwErrorCode %d", kMethod, __LINE__,
                          ucTargetNumber, nLastError());
        return 0;
    }
}

uint8_t CKrvnUSBDev::bDetectTargetUSBDevice(uint8_t ucTargetNumber, uint8_t ucValidTotalThread, uint8_t ucProbeLimit,
                                            uint8_t ucChipKind)
{
    static const char* const kMethod = "CKrvnUSBDev::bDetectTargetUSBDevice";
    try {
        return ucWaitForRelink(*this, ucTargetNumber, ucValidTotalThread, ucProbeLimit, ucChipKind, nullptr);
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...): ucTargetNumber : %d  , dwErrorCode %d", kMethod, __LINE__,
                          ucTargetNumber, nLastError());
        return 0;
    }
}

// ---- the disconnect --------------------------------------------------------------

uint8_t CKrvnUSBDev::vDisconnectAllDevice(uint8_t ucTargetNumber)
{
    static const char* const kMethod = "CKrvnUSBDev::vDisconnectAllDevice";
    try {
        const DevList* pDevList = m_pDevList.load();
        if (!pDevList || ucTargetNumber >= MAX_DEV_SLOTS)
            return 0;
        const int nPhysicalDrive = pDevList->Devs[ucTargetNumber].m_ucPhysicalAddress;
        CDriveHandle hDev = hOpenTarget(ucTargetNumber);
        const uint32_t dwOpenError = hDev.bIsValid() ? 0 : krv::lastError();
        // The disk is parked whether or not the bridge itself could be
        // reached: flush and standby open the disk themselves.
        const krv::StopSource* pStop = krv::StopSource::current();
        bSendFlushCache(nPhysicalDrive);
        bool bGoOn = platformClock().sleepMs(DISCONNECT_FLUSH_MS, pStop);
        if (bGoOn) {
            bSendStandbyImmediate(nPhysicalDrive);
            bGoOn = platformClock().sleepMs(DISCONNECT_STANDBY_MS, pStop);
        }
        if (!hDev.bIsValid()) {
            vDEBUG_ERR_printf("%s:%d: vDisconnectAllDevice: [%d] CreateFile Fail , dwErrorCode %d", kMethod, __LINE__,
                              ucTargetNumber, static_cast<int>(dwOpenError));
            return 0;
        }
        if (!bGoOn) {
            vDEBUG_MSG_printf("%s:%d: vDisconnectAllDevice: [%d] stop requested, not disconnected", kMethod, __LINE__,
                              ucTargetNumber);
            return 0;
        }
        const int iResult = SCSI8574_CPURST(hDev.get(), CPURST_DISCONNECT);
        if (iResult != SCSI_RESULT_OK) {
            vDEBUG_ERR_printf("%s:%d: vDisconnectAllDevice: [%d] SCSI6390_DisConnect Fail , iResult %d dwErrorCode %d",
                              kMethod, __LINE__, ucTargetNumber, iResult, nLastError());
            return 0;
        }
        return 1;
    } catch (...) {
        vDEBUG_ERR_printf("%s:%d: catch(...): DiskCnt : %d ,  dwErrorCode %d", kMethod, __LINE__, ucTargetNumber,
                          nLastError());
        return 0;
    }
}

namespace {

// The numbers of the drives of eKind that are units of the USB device on hub
// strHubName's port ulHubPort now (children of that device's node), when
// that device reports strSerial (if given); lowest first.
std::vector<int> vDrivesOnHubPort(const std::string& strHubName, uint32_t ulHubPort, krv::DriveKind eKind,
                                  const std::string& strSerial)
{
    std::vector<int> numbers;
    krv::Platform& platform = krv::Platform::current();
    std::unique_ptr<krv::UsbHub> hub = platform.usbTree().openHub(strHubName);
    std::string strDriverKey;
    if (!hub || !hub->driverKeyName(ulHubPort, strDriverKey) || strDriverKey.empty())
        return numbers;
    const std::vector<krv::DeviceNode> nodes = platform.deviceSetup().devices();
    std::string strUsbInstance;
    for (const krv::DeviceNode& node : nodes)
        if (!node.driverKey.empty() && strcasecmp(node.driverKey.c_str(), strDriverKey.c_str()) == 0)
            strUsbInstance = node.instanceId;
    if (strUsbInstance.empty())
        return numbers;
    if (!strSerial.empty() && strUpper(strSerial) != strHubPortSerial(*hub, ulHubPort))
        return numbers;
    const bool bCdRom = eKind == krv::DriveKind::CdRom;
    const krv::Guid& interfaceClass = bCdRom ? krv::interfaceclass::kCdRom : krv::interfaceclass::kDisk;
    const uint32_t dwDeviceType = bCdRom ? krv::devicetype::kCdRom : krv::devicetype::kDisk;
    for (const krv::DeviceNode& node : nodes) {
        if (node.parentInstanceId != strUsbInstance)
            continue;
        for (const krv::DeviceInterface& iface : node.interfaces) {
            if (iface.interfaceClass != interfaceClass)
                continue;
            std::unique_ptr<krv::StorageHandle> handle = platform.deviceSetup().openInterface(iface.devicePath);
            krv::StorageDeviceNumber number;
            if (handle && handle->deviceNumber(number) && number.deviceType == dwDeviceType)
                numbers.push_back(static_cast<int>(number.deviceNumber));
        }
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

}  // namespace

bool CKrvnUSBDev::bDriveOnHubPort(const std::string& strHubName, uint32_t ulHubPort, krv::DriveKind eKind, int nNumber,
                                  const std::string& strSerial)
{
    const std::vector<int> numbers = vDrivesOnHubPort(strHubName, ulHubPort, eKind, strSerial);
    return std::find(numbers.begin(), numbers.end(), nNumber) != numbers.end();
}

int CKrvnUSBDev::nDriveOnHubPort(const std::string& strHubName, uint32_t ulHubPort, krv::DriveKind eKind)
{
    const std::vector<int> numbers = vDrivesOnHubPort(strHubName, ulHubPort, eKind, std::string());
    return numbers.empty() ? -1 : numbers.front();
}
