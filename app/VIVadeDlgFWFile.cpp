// The firmware file a run makes of its one device (configuration format 3),
// a USB drive or a PCIe target: the bridge's own firmware, read whole and written under the name its
// version gives, so the run writes that same image back.
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "app/FWFileRules.h"
#include "app/VIVadeDlg.h"
#include "device/DebugLog.h"
#include "device/FirmwareDump.h"
#include "device/Krv857xPcieCtrl.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

namespace {

std::string strCurrentFolder()
{
    std::string strFolder(4096, '\0');
    if (!::getcwd(strFolder.data(), strFolder.size()))
        return ".";
    strFolder.resize(std::char_traits<char>::length(strFolder.c_str()));
    return strFolder;
}

}  // namespace

bool CVIVadeDlg::bFindFWFileForDevice(std::string& strName)
{
    std::vector<uint8_t> image;
    const bool bRead = bReadDeviceFirmware(g_UsbDev, 0, 0, image);
    return bFWFileOfImage("CVIVadeDlg::bFindFWFileForDevice", bRead, image, strName);
}

bool CVIVadeDlg::bFindFWFileForDevice2(std::string& strName)
{
    std::vector<uint8_t> image;
    const bool bRead = bReadPcieTargetFirmware(g_PcieCtrl, 0, 0, image);
    return bFWFileOfImage("CVIVadeDlg::bFindFWFileForDevice2", bRead, image, strName);
}

bool CVIVadeDlg::bFWFileOfImage(const char* pszWho, bool bRead, const std::vector<uint8_t>& image,
                                std::string& strName)
{
    // A drive whose firmware could not be read gives no file: a name made
    // of whatever the buffer held would send that image to every drive.
    // The firmware path stays as it was and the run's own checks judge it.
    if (!bRead) {
        vDEBUG_ERR_printf("%s:%d: the firmware of device 0 could not be read: no firmware file made", pszWho,
                          __LINE__);
        m_bFWFileExisted = 1;
        return true;
    }
    uint8_t ucVersion[FW_DUMP_VERSION_LENGTH];
    vDeviceFirmwareVersion(image, ucVersion);
    const std::string strFileName = strFWFileNameOfVersion(ucVersion);
    const std::string strPath = krv::joinPath(strCurrentFolder(), strFileName);
    m_bFWFileExisted = krv::pathAccessible(strPath, false, false) ? 1 : 0;
    if (!m_bFWFileExisted) {
        const EFirmwareDumpResult eResult = eWriteDeviceFirmwareFile(strPath, image);
        if (eResult == EFirmwareDumpResult::eWritten)
            m_strFWFileMadeByTool = strPath;
        else
            vDEBUG_ERR_printf("%s:%d: [%s] not written", pszWho, __LINE__, strPath.c_str());
    }
    vDEBUG_MSG_printf("%s:%d: [%s] existed %d", pszWho, __LINE__, strFileName.c_str(), m_bFWFileExisted);
    strName = strFileName;
    return true;
}
