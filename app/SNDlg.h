#pragma once
// The serial-number entry dialog: one edit that takes a serial number typed
// or scanned (a bar-code reader ends it with Enter) for the drive that has
// just arrived. Enter accepts a serial of the settings' length (SN_Numbers,
// or at least twelve characters when that is 0) and clears any other.
#include <cstdint>
#include <string>

#include "ui/Dialog.h"

class DevList;

constexpr int IDC_EDIT_DEVICE_ARRIVAL_PCB_SN = 1106;
// With SN_Numbers 0, Enter accepts a serial of at least this many characters.
constexpr size_t SN_ENTRY_MIN_LENGTH = 12;

class CSNDlg : public krv::ui::Dialog {
    Q_OBJECT
public:
    explicit CSNDlg(DevList& devList, QWidget* parent = nullptr);

    bool OnInitDialog();
    void OnEnChangeEditDeviceArrivalDialogPcbSn();
    // Enter: accepts (IDOK) or clears the text.
    void vOnEnter();
    // Whether Enter accepts a serial of this length.
    static bool bAcceptsLength(size_t nLength, int32_t iSNNumbers);

    std::string m_strSNandPStringDlgPCBSN;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    DevList& m_DevList;
};
