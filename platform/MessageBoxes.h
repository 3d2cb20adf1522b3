#pragma once
// Operator message boxes (MessageBoxA stand-in). The system code asks for a
// box with a text, a caption and the window system's flags and gets the
// button the operator chose. The window layer installs the real presenter;
// until then, and whenever nobody may answer (command-line mode), the
// unattended presenter answers at once with a fixed, safe choice.
#include <cstdint>
#include <string>

namespace krv {

namespace mb {
// Button sets (low nibble of the flags).
constexpr uint32_t kOk = 0x0;
constexpr uint32_t kOkCancel = 0x1;
constexpr uint32_t kAbortRetryIgnore = 0x2;
constexpr uint32_t kYesNoCancel = 0x3;
constexpr uint32_t kYesNo = 0x4;
constexpr uint32_t kRetryCancel = 0x5;
constexpr uint32_t kButtonMask = 0xF;
// Icons.
constexpr uint32_t kIconHand = 0x10;
constexpr uint32_t kIconQuestion = 0x20;
constexpr uint32_t kIconExclamation = 0x30;
constexpr uint32_t kIconAsterisk = 0x40;
constexpr uint32_t kIconMask = 0xF0;
}  // namespace mb

// The answers, with the window system's values.
namespace id {
constexpr int kOk = 1;
constexpr int kCancel = 2;
constexpr int kAbort = 3;
constexpr int kRetry = 4;
constexpr int kIgnore = 5;
constexpr int kYes = 6;
constexpr int kNo = 7;
}  // namespace id

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual int show(const std::string& text, const std::string& caption, uint32_t flags) = 0;
};

// The answer given when nobody can be asked: Cancel where the box offers it,
// else No, else OK. A refusal is the safe default for an unattended run.
int unattendedAnswer(uint32_t flags);

class UnattendedMessageBoxes : public MessageBoxes {
public:
    int show(const std::string& text, const std::string& caption, uint32_t flags) override;
};

}  // namespace krv
