// The window's texts as configuration images, and the engineering buttons
// that read or write PCIe target 0's images and bridge firmware directly
// ("Btn 1" to "Btn4" where the profile has them). The buttons check no
// result: every step runs and each result is only logged, so an engineer
// sees in one trace what each access gave.
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/ConfigTable.h"
#include "app/Ini.h"
#include "app/U4ConfigTable.h"
#include "app/VIVadeDlg.h"
#include "device/DebugLog.h"
#include "device/Krv857xPcieCtrl.h"
#include "device/KrvnUSBDev.h"
#include "device/USBUtility.h"
#include "platform/Platform.h"

namespace {

constexpr const char* kWho = "CVIVadeDlg";
constexpr uint8_t kTarget = 0;
constexpr uint64_t kDumpPauseMs = 100;

void vDebuggerText(const std::string& strText)
{
    if (krv::Platform* platform = krv::Platform::currentOrNull())
        platform->debugOutput().write(strText);
}

// The image as sixteen lines of eight bytes on the debugger output, then a
// pause so the lines leave before the next access.
void vDumpImage(const uint8_t* pucImage)
{
    std::string strLines;
    for (size_t nLine = 0; nLine < DEV_CONFIG_SIZE / 8; ++nLine) {
        char szLine[32];
        const uint8_t* p = pucImage + nLine * 8;
        std::snprintf(szLine, sizeof szLine, "%02X %02X %02X %02X %02X %02X %02X %02X\n", p[0], p[1], p[2], p[3],
                      p[4], p[5], p[6], p[7]);
        strLines += szLine;
    }
    vDebuggerText(strLines);
    krv::Platform::current().clock().sleepMs(kDumpPauseMs);
}

// The two pairs of accessors: the byte-wise ones ("Btn 1", "Btn3") and the
// dword ones ("Btn 2", "Btn4").
struct PcieImageAccess {
    int (CKrv857xPcieCtrl::*pConfig)(uint8_t, uint8_t, uint8_t*, uint32_t, uint8_t, uint8_t);
    int (CKrv857xPcieCtrl::*pFirmware)(uint8_t, uint8_t, uint8_t*, uint32_t, uint8_t);
};

PcieImageAccess stAccessOf(bool bDword)
{
    if (bDword)
        return {&CKrv857xPcieCtrl::pcie_AccessConfigEEPROM2, &CKrv857xPcieCtrl::pcie_AccessFirmwareEEPROM2};
    return {&CKrv857xPcieCtrl::pcie_AccessConfigEEPROM, &CKrv857xPcieCtrl::pcie_AccessFirmwareEEPROM};
}

// The whole firmware file the window names; false when it cannot be read
// (the firmware part of a button ends there, its config steps have run).
bool bReadFirmwareFile(const std::string& strPath, std::vector<uint8_t>& file)
{
    std::FILE* pFile = std::fopen(strPath.c_str(), "rb");
    if (!pFile) {
        vDEBUG_ERR_printf("%s:%d: cannot open [%s]", kWho, __LINE__, strPath.c_str());
        return false;
    }
    bool bRead = std::fseek(pFile, 0, SEEK_END) == 0;
    const long lSize = bRead ? std::ftell(pFile) : -1;
    bRead = lSize >= 0 && std::fseek(pFile, 0, SEEK_SET) == 0;
    if (bRead) {
        file.assign(static_cast<size_t>(lSize), 0);
        bRead = std::fread(file.data(), 1, file.size(), pFile) == file.size();
    }
    std::fclose(pFile);
    if (!bRead)
        vDEBUG_ERR_printf("%s:%d: cannot read [%s]", kWho, __LINE__, strPath.c_str());
    return bRead;
}

}  // namespace

IniRecord CVIVadeDlg::stWithWindowIdentity(const IniRecord& ini) const
{
    IniRecord iniImage = ini;
    iniImage.vendor_id.set(m_strEditDeviceConfigurationVendorID);
    iniImage.product_id.set(m_strEditDeviceConfigurationProductID);
    iniImage.device_revision.set(m_strEditDeviceConfigurationDeviceRevision);
    iniImage.serial_number.set(m_strEditDeviceConfigurationSerialNumber);
    iniImage.manufacturer_string.set(m_strEditDeviceConfigurationManufacturerString);
    iniImage.product_string.set(m_strEditDeviceConfigurationProductString);
    iniImage.manufacturer_string_T10.set(m_strEditDeviceConfigurationT10MString);
    iniImage.product_string_T10.set(m_strEditDeviceConfigurationP10MString);
    return iniImage;
}

U4ConfigTexts CVIVadeDlg::stWindowU4Texts() const
{
    U4ConfigTexts texts;
    texts.m_strU4VendorName = m_strEditU4VendorName;
    texts.m_strU4ModelName = m_strEditU4ModelName;
    texts.m_strU4ComponentID = m_strEditU4ComponentID;
    texts.m_strU4VendorID = m_strEditU4VendorID;
    texts.m_strU4ProductID = m_strEditU4ProductID;
    texts.m_strU4TestID = m_strEditU4TestID;
    texts.m_strU4BcdProductFWRevision = m_strEditU4BcdProductFWRevision;
    texts.m_strU4ProductHWRevision = m_strEditU4ProductHWRevision;
    texts.m_strU4MinorFWVersion = m_strEditU4MinFW;
    texts.m_strU4TBT3VendorID = m_strEditTBT3VendorID;
    texts.m_strU4TBT3ModelID = m_strEditTBT3ModelID;
    texts.m_strU4TBT3ModelRevision = m_strEditTBT3ModelRevision;
    texts.m_strU4PcieVendorID = m_strEditPCIVID;
    texts.m_strU4PcieDeviceID = m_strEditPCIDID;
    return texts;
}

bool CVIVadeDlg::bSetUSB3DeviceConfigurationByGUI(uint8_t ucPort, ConfigImage& ucOut)
{
    // Always the layout of formats 3 and 4; the serial is the window's,
    // counted on by the port for edit types 1 and 2 and otherwise as typed
    // (there is no disk serial or entered serial here).
    IniRecord iniImage = stWithWindowIdentity(pIni.m_pINI);
    iniImage.config_format = 3;
    iniImage.SN_remain_value_enable = 0;
    if (iniImage.SN_EditType != 1 && iniImage.SN_EditType != 2)
        iniImage.SN_EditType = 0;
    ConfigTableSource source;
    source.ucSerialCount = ucPort;
    source.bStandbyTrace = true;
    BuildConfigTable(iniImage, source, g_UsbDev.m_ucConfigTable);
    std::memcpy(ucOut, g_UsbDev.m_ucConfigTable, sizeof(ConfigImage));
    return true;
}

bool CVIVadeDlg::bBuildUSB4TestConfig(uint8_t ucPort, ConfigImage& ucOut)
{
    std::memset(g_UsbDev.m_ucU4ConfigTable, 0xFF, sizeof g_UsbDev.m_ucU4ConfigTable);
    vBuildU4TestConfig(pIni.m_pINI, stWindowU4Texts(), ucPort, g_UsbDev.m_ucU4ConfigTableTemplate);
    std::memcpy(g_UsbDev.m_ucU4ConfigTable, g_UsbDev.m_ucU4ConfigTableTemplate, sizeof g_UsbDev.m_ucU4ConfigTable);
    std::memcpy(ucOut, g_UsbDev.m_ucU4ConfigTable, sizeof(ConfigImage));
    return true;
}

// "Btn 1" (image 0, byte-wise) and "Btn 2" (image 1, dword): both images
// and as much bridge firmware as the window's file holds, read from target
// 0; the images go to the debugger output, the firmware to a file.
void CVIVadeDlg::vPcieImageRead(bool bDword)
{
    const PcieImageAccess access = stAccessOf(bDword);
    const uint8_t ucImage = bDword ? 1 : 0;
    vDebuggerText(bDword ? "btn 2\n" : "btn 1\n");

    uint8_t ucConfig[DEV_CONFIG_SIZE] = {};
    int nResult = (g_PcieCtrl.*access.pConfig)(kTarget, 0, ucConfig, DEV_CONFIG_SIZE, ucImage, CONFIG_TYPE_U3);
    vDEBUG_MSG_printf("%s:%d: ret:%d get u3 config", kWho, __LINE__, nResult);
    vDumpImage(ucConfig);

    // A reply that never arrives shows as these two bytes.
    std::memset(ucConfig, 0, sizeof ucConfig);
    ucConfig[0] = 0x01;
    ucConfig[1] = 0x02;
    nResult = (g_PcieCtrl.*access.pConfig)(kTarget, 0, ucConfig, DEV_CONFIG_SIZE, ucImage, CONFIG_TYPE_U4);
    vDEBUG_MSG_printf("%s:%d: ret:%d get u4 config", kWho, __LINE__, nResult);
    vDumpImage(ucConfig);

    // The file only gives the length to read.
    UpdateData(true);
    std::vector<uint8_t> firmware;
    if (!bReadFirmwareFile(m_strComboBoxDeviceFirmwareFWBrowse, firmware))
        return;
    std::fill(firmware.begin(), firmware.end(), uint8_t{0});
    nResult = (g_PcieCtrl.*access.pFirmware)(kTarget, 0, firmware.data(), static_cast<uint32_t>(firmware.size()),
                                             ucImage);
    pUtility.vWriteFile(bDword ? "./read2.bin" : "./read1.bin", firmware.data(),
                        static_cast<uint32_t>(firmware.size()));
    vDEBUG_MSG_printf("%s:%d: ret:%d get u4 fw", kWho, __LINE__, nResult);
}

// "Btn3" (byte-wise) and "Btn4" (dword): the window's two images for port 0
// and the window's firmware file, written to target 0's image 0.
void CVIVadeDlg::vPcieImageWrite(bool bDword)
{
    const PcieImageAccess access = stAccessOf(bDword);
    vDebuggerText(bDword ? "btn 4\n" : "btn 3\n");
    // The images are built from what the window shows.
    UpdateData(true);

    ConfigImage ucConfig;
    bSetUSB3DeviceConfigurationByGUI(0, ucConfig);
    int nResult = (g_PcieCtrl.*access.pConfig)(kTarget, 1, ucConfig, DEV_CONFIG_SIZE, 0, CONFIG_TYPE_U3);
    vDEBUG_MSG_printf("%s:%d: ret:%d set u3 config", kWho, __LINE__, nResult);
    bBuildUSB4TestConfig(0, ucConfig);
    nResult = (g_PcieCtrl.*access.pConfig)(kTarget, 1, ucConfig, DEV_CONFIG_SIZE, 0, CONFIG_TYPE_U4);
    vDEBUG_MSG_printf("%s:%d: ret:%d set u4 config", kWho, __LINE__, nResult);

    UpdateData(true);
    std::vector<uint8_t> firmware;
    if (!bReadFirmwareFile(m_strComboBoxDeviceFirmwareFWBrowse, firmware))
        return;
    nResult = (g_PcieCtrl.*access.pFirmware)(kTarget, 1, firmware.data(), static_cast<uint32_t>(firmware.size()), 0);
    vDEBUG_MSG_printf("%s:%d: ret:%d set u4 fw", kWho, __LINE__, nResult);
}
