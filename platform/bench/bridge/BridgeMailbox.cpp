// The vendor commands a bridge takes through its PCIe mailbox. The command
// block is eight bytes; the bridge's mailbox firmware hands the commands it
// shares with the USB path to the same handlers (as the six bytes those
// take), moves a firmware image whole rather than in the USB path's two
// parts, and answers the identity read with its PCIe function's IDs.
#include <algorithm>

#include "platform/bench/bridge/Bridge.h"
#include "platform/bench/bridge/CdbReader.h"

namespace krv::bench {

namespace {
constexpr uint8_t kReadConfig = 0xE0;
constexpr uint8_t kWriteConfig = 0xE1;
constexpr uint8_t kReadFirmware = 0xE2;
constexpr uint8_t kWriteFirmware = 0xE3;
constexpr uint8_t kReadRegister = 0xE4;
constexpr uint8_t kWriteRegister = 0xE5;
constexpr uint8_t kCpuReset = 0xE8;
constexpr uint8_t kIdentity = 0xEC;
constexpr uint8_t kIdentitySelector = 0x50;
constexpr uint8_t kBank0 = 0x50;
}  // namespace

Bridge::Reaction Bridge::answerMailbox(ScsiCommand& command, uint64_t nowMs, std::string& note)
{
    CdbReader block(command);
    const uint8_t opcode = block[0];
    if (block.length() != 8 || block[6] != 0 || block[7] != 0 || chip_->family != ChipFamily::Krv857x) {
        endWithCheckCondition(command, kInvalidField);
        return Reaction::None;
    }
    if (nowMs < busyUntilMs_) {
        endWithCheckCondition(command, kBusyProgramming);
        return Reaction::None;
    }
    if (opcode == kReadFirmware || opcode == kWriteFirmware) {
        const bool write = opcode == kWriteFirmware;
        const int bank = block[1] - kBank0;
        const uint32_t length = block.be32(2);
        bool ok = (bank == 0 || bank == 1) && length > 0 && length <= image::kFirmwareSize &&
                  (write ? block.writesExactly(length) : block.readsAtLeast(length));
        if (!ok) {
            endWithCheckCondition(command, kInvalidField);
            return Reaction::None;
        }
        firmwareTransfer(command, write, bank, 0, image::kFirmwareSize, length, nowMs, note);
        return Reaction::None;
    }
    if (opcode == kIdentity) {
        ChipIdentity id = identityOf(*chip_, *link_);
        if (block[1] != kIdentitySelector || !block.zeroFrom(2) || !block.readsData() || !id.pcieDeviceId) {
            endWithCheckCondition(command, kInvalidField);
            return Reaction::None;
        }
        const uint16_t vendor = id.pcieVendorId.value_or(kPcieVendorId);
        const uint8_t answer[4] = {uint8_t(vendor >> 8), uint8_t(vendor), uint8_t(*id.pcieDeviceId >> 8),
                                   uint8_t(*id.pcieDeviceId)};
        answerWith(command, answer, sizeof answer);
        return Reaction::None;
    }
    // The rest are the USB path's six-byte commands.
    command.cdbLength = 6;
    switch (opcode) {
    case kReadConfig:
    case kWriteConfig: configImage(command, note); break;
    case kReadRegister:
    case kWriteRegister: registers(command, note); break;
    case kCpuReset: return cpuReset(command);
    default: endWithCheckCondition(command, kInvalidOpcode); break;
    }
    return Reaction::None;
}

}  // namespace krv::bench
