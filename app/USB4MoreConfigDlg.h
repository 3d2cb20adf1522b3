#pragma once
// The USB4 option dialog: the 20G and x2 link boxes and the CL-state
// choice the USB4 configuration image carries, and in the production
// tool's form also the PO box and the fallback-legacy choice, which nothing
// reads. Each control writes its member the moment it changes; the opener
// sets the link members before every open and decides what to keep.
#include <cstdint>

#include "ui/Dialog.h"

// Control ids of the dialog.
enum : int {
    IDC_U4MORE_20G = 1056,
    IDC_U4MORE_X2 = 1057,
    IDC_U4MORE_COMBO_CL = 1072,
    IDC_U4MORE_PO = 1058,
    IDC_U4MORE_FALLBACK = 1059,
    IDC_U4MORE_COMBO_FALLBACK = 1190,
    IDC_U4MORE_FALLBACK_LABEL = 1191,
};

class USB4_MoreConfig : public krv::ui::Dialog {
    Q_OBJECT
public:
    explicit USB4_MoreConfig(QWidget* parent = nullptr);

    // The form with the link boxes and the CL list only (no PO box, no
    // fallback choice); set before an open.
    void vSetLinkOnly(bool bLinkOnly);

    bool OnInitDialog();
    void OnBnClickedCheck(int id);
    void OnCbnSelchangeComboCl();
    void OnCbnSelchangeComboUsb4MoreConfigFl();

    // Set by the opener before every open.
    uint8_t m_uc20G = 0;
    uint8_t m_ucX2 = 0;
    int32_t m_iCLIndex = 0;
    // Read by nothing.
    uint8_t m_ucPO = 0;
    uint8_t m_ucFallbackLegacy = 1;
    int32_t m_iFallbackIndex = 0;

protected:
    void onCommand(int id) override;

private:
    bool m_bLinkOnly = false;
};
