#include "platform/MessageBoxes.h"

namespace krv {

int unattendedAnswer(uint32_t flags)
{
    switch (flags & mb::kButtonMask) {
    case mb::kOkCancel:
    case mb::kYesNoCancel:
    case mb::kRetryCancel: return id::kCancel;
    case mb::kYesNo: return id::kNo;
    case mb::kAbortRetryIgnore: return id::kAbort;
    default: return id::kOk;
    }
}

int UnattendedMessageBoxes::show(const std::string&, const std::string&, uint32_t flags)
{
    return unattendedAnswer(flags);
}

}  // namespace krv
