#pragma once
// The PD/MCU firmware-update dialog: the PD and MCU files with their enable
// boxes, and four device rows (bitmap, which drive it is, version, progress
// bar, coloured status). Start and Verify parse the files once and start one
// worker thread per row (app/PDUpdateWorker.h); the workers reach the rows
// only through posts to the GUI thread, which never waits on a worker.
//
// A row's drive is found by where its bridge sits (hub and port), never by
// its serial: bridges fresh from the factory share one serial, and the host
// may report a serial in another form than the USB string the table holds.
// A power cycle brings the drive back on the same port, often under
// another number, so every run and every wait finds it there again.
//
// The workers run in the thread set the dialog is given (the window's, so
// that the exit path stops and joins them too). Closing the dialog asks
// them to stop and joins them; they hear the stop at every wait and
// command.
#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "app/PDUpdateWorker.h"
#include "device/DevList.h"
#include "ui/Colors.h"
#include "ui/Dialog.h"

class CColorStaticST;
class CTextProgressCtrl;
class CThreadSet;
class CWorkerThread;
class QComboBox;
class QLabel;
namespace krv::ui {
class FilePickers;
}

// Control ids of the dialog.
constexpr int IDC_CHECK_MCU_FWUPG_ENABLE = 1056;
constexpr int IDC_CHECK_PD_FWUPG_ENABLE = 1057;
constexpr int IDC_BUTTON_FIRMWARE_FWBROWSE = 1119;
constexpr int IDC_COMBO_PD_FILE = 1120;
constexpr int IDC_BUTTON_PD_START = 1121;
constexpr int IDC_STATIC_PD_FILE_VERSION = 1125;
constexpr int IDC_BUTTON_MCU_FIRMWARE_FWBROWSE = 1127;
constexpr int IDC_COMBO_MCU_FILE = 1128;
constexpr int IDC_BUTTON_PD_FW_VERIFY = 1141;
constexpr int IDC_PD_CLOSE = 8;
constexpr int PD_DIALOG_ROWS = 4;

class CPDUpdateDlg : public krv::ui::Dialog {
    Q_OBJECT
public:
    // Rows for the first four drives of `devList`. The workers run in
    // `pThreads` (the window's), or in a set of the dialog's own.
    CPDUpdateDlg(DevList& devList, krv::ui::FilePickers* pPickers, QWidget* parent = nullptr,
                 CThreadSet* pThreads = nullptr);
    ~CPDUpdateDlg() override;

    // Set by the owner before the dialog opens.
    uint8_t m_ucPDEnable = 0;
    uint8_t m_ucMCUEnable = 0;
    std::string m_strPDFilePath;
    std::string m_strMCUFilePath;
    std::string m_strPDFileVersion = PD_VERSION_NONE;

    void OnInitDialog();
    void OnBnClickedButtonPdStart();
    void OnBnClickedButtonPdFwVerify();
    void OnBnClickedButtonFirmwareFwbrowse();
    void OnBnClickedButtonMcuFirmwareFwbrowse();
    void OnBnClickedClose();
    // The device row's status field (codes of PDUpdateWorker.h).
    void Show_Message(int nDevice, int nCode);
    // The PD file's version text, PD_VERSION_NONE when the file is missing,
    // of no kind, or a ".bin" of the wrong size (which a box says).
    std::string strGetPDFWVersionFromFile(const std::string& strPath);
    // Workers still running.
    int nRunningWorkers() const { return m_nRunning.load(); }

    // A row's version text: the PD controller's, with "/FFFF" for an MCU
    // beside it when the MCU is updated too, or "FFFF" alone when only the
    // MCU is.
    static std::string strRowVersionText(const std::string& strPDVersion, const PDDeviceFacts& facts,
                                         uint8_t ucPDEnable, uint8_t ucMCUEnable);

    // What tests look at.
    std::string strStatusText(int nRow) const;
    krv::ui::ColorRef statusColor(int nRow) const;
    int nProgress(int nRow) const;
    krv::ui::ColorRef barColor(int nRow) const;
    std::string strRowVersion(int nRow) const;
    std::string strRowDrive(int nRow) const;

protected:
    void onCommand(int id) override;
    void reject() override;

private:
    class CRowView;
    void vBuildLayout();
    void vSetGroupsByFlags();
    static void vAddPathToCombo(QComboBox* pCombo, const std::string& strPath);
    void vStartRun(bool bVerifyOnly);
    bool bParseFiles();
    void vWorkerEnded(int nRow, int nResult);
    // The row's drive now, by its bridge's place; -1 when none is there.
    int nDriveOfRow(int nRow) const;
    void vEndRowUnrun(int nRow);

    DevList& m_DevList;
    krv::ui::FilePickers* m_pPickers;
    CPowerDelivery m_pd;              // the dialog's own, for its device operations
    // Shared with the workers of the last run: a Start replaces it, never
    // changes it.
    std::shared_ptr<PDUpdateImages> m_pImages;
    std::array<PDDeviceFacts, PD_DIALOG_ROWS> m_facts{};
    std::array<int, PD_DIALOG_ROWS> m_nDrive{};
    std::array<std::string, PD_DIALOG_ROWS> m_strHubName;
    std::array<uint32_t, PD_DIALOG_ROWS> m_ulHubPort{};
    int m_nRows = 0;
    std::array<QLabel*, PD_DIALOG_ROWS> m_pBitmap{};
    std::array<QLabel*, PD_DIALOG_ROWS> m_pDrive{};
    std::array<QLabel*, PD_DIALOG_ROWS> m_pVersion{};
    std::array<CTextProgressCtrl*, PD_DIALOG_ROWS> m_pProgress{};
    std::array<CColorStaticST*, PD_DIALOG_ROWS> m_pStatus{};
    QComboBox* m_pPDCombo = nullptr;
    QComboBox* m_pMCUCombo = nullptr;
    std::unique_ptr<CThreadSet> m_pOwnThreads;
    CThreadSet* m_pThreads;
    std::vector<std::shared_ptr<CWorkerThread>> m_workers;
    std::atomic<int> m_nRunning{0};
};
