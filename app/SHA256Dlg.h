#pragma once
// The SHA-256 initial key dialog: the eight key words as the bridges get
// them and the "Send initial key" box that switches the run's key step on.
// Only the box's flag leaves the dialog; the key edits take hex digits only.
#include <array>
#include <cstdint>
#include <string>

#include "ui/Dialog.h"

// Control ids of the dialog.
constexpr int IDC_EDIT_SHA256_KEY1 = 1117;   // Key 1 .. Key 8: 1117 .. 1124
constexpr int IDC_CHECK_SEND_INITIAL_KEY = 1056;
constexpr int SHA256_DLG_KEYS = 8;

class SHA256_Dlg : public krv::ui::Dialog {
    Q_OBJECT
public:
    explicit SHA256_Dlg(QWidget* parent = nullptr);

    // The standard key words in the edits, the box from the flag.
    bool OnInitDialog();
    // One handler per key edit, each on its own edit and text.
    void OnEnChangeEditSha256Key1() { vOnKeyEdited(0); }
    void OnEnChangeEditSha256Key2() { vOnKeyEdited(1); }
    void OnEnChangeEditSha256Key3() { vOnKeyEdited(2); }
    void OnEnChangeEditSha256Key4() { vOnKeyEdited(3); }
    void OnEnChangeEditSha256Key5() { vOnKeyEdited(4); }
    void OnEnChangeEditSha256Key6() { vOnKeyEdited(5); }
    void OnEnChangeEditSha256Key7() { vOnKeyEdited(6); }
    void OnEnChangeEditSha256Key8() { vOnKeyEdited(7); }
    void OnBnClickedCheckSendInitialKey();

    // The text a key edit keeps of what was typed: its hex digits from the
    // start, at most eight, in upper case.
    static std::string strFilterKeyText(const std::string& strTyped);

    std::string m_strEditSHA256Key1, m_strEditSHA256Key2, m_strEditSHA256Key3, m_strEditSHA256Key4;
    std::string m_strEditSHA256Key5, m_strEditSHA256Key6, m_strEditSHA256Key7, m_strEditSHA256Key8;
    // Follows the "Send initial key" box.
    uint8_t m_ucSendInitialKey = 0;

protected:
    void onCommand(int id) override;

private:
    std::string& strKey(int nKey);
    void vOnKeyEdited(int nKey);
    // The eight key texts into their edits.
    void vShowKeys();
};
