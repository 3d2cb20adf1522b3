// The serial numbers of a run. Each port's image carries the window's serial
// number advanced by the port's slot; the run as a whole uses as many as it
// has ports, and the window's serial (with the USB4 component ID, where the
// program counts it) moves on by that many.
//
// The moved-on numbers are stored in the settings file twice: by Start,
// before the first image is written (the reservation), and by the end of the
// run as the window's new values. A run stopped by Exit, a crash or a kill
// between the two has written serial numbers the settings file already
// counts as used: the next run never writes them again.
#include <algorithm>
#include <string>

#include "app/Ini.h"
#include "app/VIVadeDlg.h"
#include "device/DebugLog.h"
#include "device/USBUtility.h"
#include "platform/LastError.h"
#include "platform/Paths.h"

namespace {

const char* const kWho = "CVIVadeDlg::MainThreadFun";

int nLastError() { return static_cast<int>(krv::lastError()); }

bool bStoreSettings()
{
    const std::string strPath = krv::joinPath(pUtility.m_szProgramFolder, VIVADE_INI_FILE);
    if (pIni.vStoreINIFile(strPath))
        return true;
    vDEBUG_ERR_printf("%s:%d: vStoreINIFile FAIL , strSaveINIFilePath[%s] %d", kWho, __LINE__, strPath.c_str(),
                      nLastError());
    return false;
}

}  // namespace

bool CVIVadeDlg::bNextSerialNumbers(uint8_t ucCount, std::string& strSerial, std::string& strComponentID,
                                    bool* pbWrapped, bool* pbIDWrapped)
{
    const IniRecord& ini = pIni.m_pINI;
    const bool bAdvance = m_DevList.m_bUpdateFW == 1 &&
                          (ini.SN_EditType == 1 || ini.SN_EditType == 2 || ini.USB4_ComponentID_EditType == 1 ||
                           ini.USB4_ComponentID_EditType == 2);
    if (!bAdvance)
        return false;
    strSerial = controlText(IDC_EDIT_SERIAL_NUMBER);
    std::string strKept;
    if (ini.SN_remain_value_enable != 0) {
        const size_t nKeep = std::min(strSerial.size(), static_cast<size_t>(std::max(ini.SN_remain_value_length, 0)));
        strKept = strSerial.substr(0, nKeep);
        strSerial.erase(0, nKeep);
    }
    bool bWrapped = false;
    strSerial = strKept + pUtility.vAddLimitSN(strSerial, ucCount, ini.SN_EditType == 1 ? 1 : 0, &bWrapped);
    if (bWrapped)
        vDEBUG_ERR_printf("%s:%d: the serial number wrapped around: [%s]", kWho, __LINE__, strSerial.c_str());
    strComponentID.clear();
    bool bIDWrapped = false;
    if (m_pProfile->bAdvanceComponentID &&
        (ini.USB4_ComponentID_EditType == 1 || ini.USB4_ComponentID_EditType == 2))
        strComponentID = pUtility.vAddLimitSN(controlText(IDC_EDIT_U4_COMPONENT_ID), ucCount,
                                              ini.USB4_ComponentID_EditType == 1 ? 1 : 0, &bIDWrapped);
    if (pbWrapped)
        *pbWrapped = bWrapped && (ini.SN_EditType == 1 || ini.SN_EditType == 2);
    if (pbIDWrapped)
        *pbIDWrapped = bIDWrapped;
    return true;
}

std::string CVIVadeDlg::strSerialCountRefusal(uint8_t ucCount)
{
    const IniRecord& ini = pIni.m_pINI;
    if (m_DevList.m_bUpdateFW != 1)
        return {};
    const std::string strWindow = controlText(IDC_EDIT_SERIAL_NUMBER);
    const bool bCounted = ini.SN_EditType == 1 || ini.SN_EditType == 2;
    // A kept prefix as long as the serial number leaves nothing to count:
    // every port, and the next run, would get the same number.
    if (bCounted && ini.SN_remain_value_enable != 0 &&
        static_cast<int64_t>(ini.SN_remain_value_length) >= static_cast<int64_t>(strWindow.size()))
        return vSprintf127("SN_remain_value_length [%d] keeps all of SN [%s]: no digit is left to count up",
                           ini.SN_remain_value_length, strWindow.c_str());
    std::string strSerial;
    std::string strComponentID;
    bool bWrapped = false;
    bool bIDWrapped = false;
    if (!bNextSerialNumbers(ucCount, strSerial, strComponentID, &bWrapped, &bIDWrapped))
        return {};
    // The ports' own numbers may fit while the next run would start over.
    if (bWrapped)
        return vSprintf127("SN [%s] cannot count up %d more without wrapping around: the next run would start at [%s]",
                           strWindow.c_str(), ucCount, strSerial.c_str());
    if (bIDWrapped)
        return vSprintf127("USB4 Component ID [%s] cannot count up %d more without wrapping around",
                           controlText(IDC_EDIT_U4_COMPONENT_ID).c_str(), ucCount);
    return {};
}

bool CVIVadeDlg::bReserveSerialNumbers(uint8_t ucCount)
{
    std::string strSerial;
    std::string strComponentID;
    if (!bNextSerialNumbers(ucCount, strSerial, strComponentID))
        return true;
    IniRecord& ini = pIni.m_pINI;
    const IniText serialBefore = ini.serial_number;
    const IniText componentIDBefore = ini.USB4_ComponentID;
    ini.serial_number.set(strSerial);
    if (!strComponentID.empty())
        ini.USB4_ComponentID.set(strComponentID.substr(0, 255));
    if (bStoreSettings())
        return true;
    // Nothing of the run has been written: the settings stay as they were.
    ini.serial_number = serialBefore;
    ini.USB4_ComponentID = componentIDBefore;
    return false;
}

void CVIVadeDlg::vAdvanceSerialNumber(uint8_t ucThreadCount)
{
    // The settings record and the window's texts belong to the GUI thread.
    vOnGui([this, ucThreadCount] {
        std::string strSerial;
        std::string strComponentID;
        if (!bNextSerialNumbers(ucThreadCount, strSerial, strComponentID))
            return;
        IniRecord& ini = pIni.m_pINI;
        setControlText(IDC_EDIT_SERIAL_NUMBER, strSerial);
        m_strEditDeviceConfigurationSerialNumber = strSerial;
        ini.serial_number.set(strSerial);
        if (!strComponentID.empty()) {
            setControlText(IDC_EDIT_U4_COMPONENT_ID, strComponentID);
            ini.USB4_ComponentID.set(strComponentID.substr(0, 255));
        }
        bStoreSettings();
    });
}
