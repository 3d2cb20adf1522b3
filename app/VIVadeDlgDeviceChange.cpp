// Device-change notices and the rescan decision. The window registers for
// seven interface classes; the platform wakes the GUI thread, which takes the
// notices one by one and hands each to OnUSBDeviceChange. That turns the
// stream into scans: every notice counts for the debounce (every second one
// arms the rescan timer once), the arrival of a disk, hub or host controller
// and every completed removal ask for a scan at once, and nothing at all
// happens while a run or the serial-number entry is on, nor during a safe
// removal.
//
// The serial-number entry that follows a plug-in is opened by the scan when
// it has finished, never from here: a dialog opened here would read a device
// table the scan it just asked for is still filling.
//
// A notice that would ask for a scan while a run holds its token, or while
// its supervisor still works, asks for none: the run owns the table. It is
// noted instead, and the rescan timer looks at the devices once the run is
// over (VIVadeDlgScan.cpp), so a drive swapped at the run's edge still shows.
#include "app/VIVadeDlg.h"

#include "app/Ini.h"
#include "device/DebugLog.h"
#include "device/USBUtility.h"
#include "platform/DeviceClasses.h"
#include "platform/LastError.h"
#include "platform/Platform.h"

const krv::Guid g_DevNotifyClasses[DEV_NOTIFY_CLASS_COUNT] = {
    krv::interfaceclass::kUsbDevice,     krv::interfaceclass::kDisk, krv::interfaceclass::kUsbHub,
    krv::interfaceclass::kUsbHostController, GUID_DEVINTERFACE_HID,  GUID_DEVINTERFACE_NET,
    GUID_DEVINTERFACE_COMPORT,
};

bool bIsScanTriggerClass(const krv::Guid& interfaceClass)
{
    return interfaceClass == krv::interfaceclass::kDisk || interfaceClass == krv::interfaceclass::kUsbHub ||
           interfaceClass == krv::interfaceclass::kUsbHostController;
}

void CVIVadeDlg::vRegisterDeviceNotification()
{
    krv::DeviceEvents& events = krv::Platform::current().deviceEvents();
    // The platform wakes us on its own thread; the notices are taken and
    // handled on the GUI thread.
    events.setWakeUp([this] { postToGui([this] { vDrainDeviceEvents(); }); });
    std::unique_lock<std::mutex> lock(m_DevNotifyMutex);
    for (int i = 0; i < DEV_NOTIFY_CLASS_COUNT; ++i) {
        if (m_hDevNotify[i] != 0)
            continue;
        m_hDevNotify[i] = events.registerClass(g_DevNotifyClasses[i]);
        if (m_hDevNotify[i] == 0) {
            vDEBUG_ERR_printf("%s:%d: vRegisterDeviceNotification: RegisterDeviceNotification Fail:%d ",
                              "CVIVadeDlg", __LINE__, static_cast<int>(krv::lastError()));
            break;
        }
    }
    lock.unlock();
    // Notices that came before the wake-up was in place.
    postToGui([this] { vDrainDeviceEvents(); });
}

void CVIVadeDlg::vUnRegisterDeviceNotification()
{
    krv::Platform* platform = krv::Platform::currentOrNull();
    if (!platform)
        return;
    krv::DeviceEvents& events = platform->deviceEvents();
    std::unique_lock<std::mutex> lock(m_DevNotifyMutex);
    for (uint32_t& hNotify : m_hDevNotify) {
        if (hNotify == 0)
            continue;
        if (!events.unregister(hNotify))
            vDEBUG_MSG_printf("%s:%d: vUnRegisterDeviceNotification: UnregisterDeviceNotification Fail , dwErrorCode %d",
                              "CVIVadeDlg", __LINE__, static_cast<int>(krv::lastError()));
        hNotify = 0;
    }
    lock.unlock();
    // Returns only when no wake-up call is under way any more.
    events.setWakeUp({});
}

void CVIVadeDlg::vDrainDeviceEvents()
{
    krv::DeviceEvents& events = krv::Platform::current().deviceEvents();
    krv::DeviceEvent event;
    while (!isShuttingDown() && events.take(event, 0)) {
        DEV_BROADCAST_DEVICEINTERFACE hdr;
        hdr.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        hdr.dbcc_classguid = event.interfaceClass;
        hdr.dbcc_name = event.devicePath;
        OnUSBDeviceChange(static_cast<uint32_t>(event.kind), &hdr);
    }
}

LRESULT CVIVadeDlg::OnUSBDeviceChange(uint32_t wParam, const DEV_BROADCAST_DEVICEINTERFACE* pHdr)
{
    static const char* const kWho = "CVIVadeDlg::OnUSBDeviceChange";
    const bool bInterface = pHdr && pHdr->dbcc_devicetype == DBT_DEVTYP_DEVICEINTERFACE;
    const bool bSafelyRemoving = pUtility.m_bSafelyRemoving == 1;
    const bool bAsksForScan =
        !bSafelyRemoving && (wParam == DBT_DEVICEREMOVECOMPLETE ||
                             (wParam == DBT_DEVICEARRIVAL && bInterface && bIsScanTriggerClass(pHdr->dbcc_classguid)));
    if (m_bInputDlgOpen == 1)
        return 0;
    if (m_bRunning == 1) {
        if (bAsksForScan)
            vNoteChangeNotScanned();
        return 0;
    }

    // Debounce: one plug-in gives several notices; every second one arms the
    // rescan timer, and nothing more is armed until its handler clears the flag.
    const uint8_t ucCount = static_cast<uint8_t>(m_ucDevChangeCount.load() + 1);
    m_ucDevChangeCount = ucCount;
    if (ucCount != 0 && ucCount % 2 == 0 && m_bRescanArmed == 0) {
        m_ucDevChangeCount = 0;
        m_bRescanArmed = 1;
        vDEBUG_MSG_printf("%s:%d: rescan timer enabled:%d", kWho, __LINE__, m_bRescanArmed.load());
        setTimer(m_pProfile->timers.iRescan, RESCAN_DEBOUNCE_MS);
    }

    // A supervisor that was started and is still at work; an ended one
    // counts as not running.
    const bool bSupervisorStarted = m_pMainThread != nullptr;
    const bool bSupervisorRunning = bSupervisorStarted && m_pMainThread->bIsRunning();

    switch (wParam) {
    case DBT_DEVICEARRIVAL:
        if (bInterface) {
            vDEBUG_MSG_printf("%s:%d: OnUSBDeviceChange: DBT_DEVICEARRIVAL , dbcc_name:%s dbcc_classguid:%s  ", kWho,
                              __LINE__, pHdr->dbcc_name.c_str(), pUtility.vGUIDToCString(pHdr->dbcc_classguid).c_str());
            m_ucArrivalCount = static_cast<uint8_t>(m_ucArrivalCount.load() + 1);
        }
        if (bSafelyRemoving || !bInterface || !bIsScanTriggerClass(pHdr->dbcc_classguid))
            return 0;
        if (bSupervisorStarted) {
            if (bSupervisorRunning) {
                vNoteChangeNotScanned();
                return 0;
            }
            vDEBUG_MSG_printf("%s:%d: trigger scan thread, DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, main thread exit",
                              kWho, __LINE__);
            TriggerScanThread();
            const int iDevNums = m_DevList.DevNums.load();
            if (iDevNums != 0 && pIni.m_pINI.SN_EditType == SN_EDIT_TYPE_FROM_BARCODE && m_bInputDlgOpen.load() == 0) {
                vDEBUG_MSG_printf("%s:%d: OpenSNAndPStringEnteringDialog: this->m_DevList.DevNums : %i", kWho,
                                  __LINE__, iDevNums);
                if (bRunInputDlg())
                    sendCommand(IDC_BUTTON_START);
            }
            return 0;
        } else {
            vDEBUG_MSG_printf("%s:%d: trigger scan thread, DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE", kWho,
                              __LINE__);
        }
        TriggerScanThread();
        return 0;

    case DBT_DEVICEREMOVECOMPLETE:
        if (bInterface)
            vDEBUG_MSG_printf("%s:%d: OnUSBDeviceChange: DBT_DEVICEREMOVECOMPLETE , dbcc_name:%s dbcc_classguid:%s  ",
                              kWho, __LINE__, pHdr->dbcc_name.c_str(),
                              pUtility.vGUIDToCString(pHdr->dbcc_classguid).c_str());
        if (bSafelyRemoving)
            return 0;
        if (bSupervisorStarted) {
            showControl(IDC_PICTURE_FAIL, false);
            showControl(IDC_PICTURE_PASS, false);
            if (bSupervisorRunning) {
                vNoteChangeNotScanned();
                return 0;
            }
        } else {
            vDEBUG_MSG_printf("%s:%d: trigger scan thread, DBT_DEVICEREMOVECOMPLETE", kWho, __LINE__);
        }
        TriggerScanThread();
        return 0;

    case DBT_DEVNODES_CHANGED:
    case DBT_DEVICEQUERYREMOVE:
    case DBT_DEVICEQUERYREMOVEFAILED:
    case DBT_DEVICEREMOVEPENDING:
    case DBT_DEVICETYPESPECIFIC:
        return 0;

    default:
        vDEBUG_MSG_printf("%s:%d: OnUSBDeviceChange: DBT_DEVNODES_CHANGED, wParam %x , pHdr : %x  ", kWho, __LINE__,
                          wParam, pHdr ? 1u : 0u);
        return 0;
    }
}
