#pragma once
// The configuration check dialog: the USB-3 or USB4 configuration image of
// a drive of the device table as a hex dump, and the device information
// dialog for the drive. The register read and write panels and the USB4
// information button are built and wired but stay hidden, as on the line.
// A drive reached over PCIe is read and written through its bridge's
// mailbox, by its number among the PCIe targets.
#include <cstdint>
#include <string>

#include "app/DeviceInfoDlg.h"
#include "ui/Dialog.h"

class DevList;
struct DevInfo;
class QLabel;

// Control ids of the dialog.
enum : int {
    IDC_DEBUG_DUMP = 1033,
    IDC_DEBUG_PORT = 1057,
    IDC_DEBUG_IMAGE = 1072,
    IDC_DEBUG_READ_REGISTER = 1116,
    IDC_DEBUG_WRITE_REGISTER = 1113,
    IDC_DEBUG_READ_CONFIG = 1071,
    IDC_DEBUG_READ_U4_CONFIG = 1176,
    IDC_DEBUG_DEVICE_INFO = 1085,
    IDC_DEBUG_U4_INFO = 1187,
    IDC_DEBUG_WRITE_GROUP = 1097,
    IDC_DEBUG_READ_GROUP = 1096,
    IDC_DEBUG_REG_ADDR = 1114,
    IDC_DEBUG_REG_LEN = 1115,
    IDC_DEBUG_WRITE_ADDR = 1118,
    IDC_DEBUG_WRITE_VALUE = 1119,
};

class CDebugDlg : public krv::ui::Dialog {
    Q_OBJECT
public:
    // The device table the lists show (the main window's).
    explicit CDebugDlg(DevList& devList, QWidget* parent = nullptr);

    bool OnInitDialog();
    void OnBnClickedReadConfigBtn();
    void OnBnClickedButtonReadU4Config();
    void OnBnClickedDeviceInfo();
    void OnBnClickedReadRegister();
    void OnBnClickedWriteRegister();
    void OnBnClickedButtonU4Info();
    void vHideRegisterControls();
    // This program's differences, also for the device information dialog.
    void vSetProfile(const ToolDlgProfile& profile);
    // Keeps hex digits, upper case, at most nMax; the caret to the end.
    void vFilterHexEdit(int id, int nMax);

    // The dump of a 128-byte image: 16 lines of 16 "XX" columns, the last
    // eight blank.
    static std::string strConfigDump(const uint8_t* pImage);
    // The dump of a register read: "XX " per byte, a line break after each
    // sixteenth.
    static std::string strRegisterDump(const uint8_t* pData, size_t nLen);

    int m_iSelectedPort = -1;
    int m_iSelectedImage = 0;
    std::string m_strDump;
    CDeviceInfoDlg m_DeviceInfoDlg;
    ToolDlgProfile m_Profile;

protected:
    void onCommand(int id) override;

private:
    // The bridge's error-recovery count, through its PCIe target or its
    // drive; 0 when it could not be read (logged).
    int nReadErrorRecoveryCount(const DevInfo& dev);
    // The selected record's number among the PCIe targets; -1 when it
    // cannot be one.
    int nPcieTarget() const;
    // A register transfer with the selected PCIe target: the mailbox's
    // result, -10 when the record is no target.
    int nPcieRegister(uint8_t bWrite, uint32_t dwAddress, uint8_t* pucData, uint32_t dwLength);
    void vReadConfig(uint8_t ucTableSelector);
    void vShowError(const std::string& strText);
    DevList& m_DevList;
};
