// The ITE controller behind the bridge's I2C tunnel (command EE). The bridge
// turns each CDB into I2C transfers to the controller's 16-bit register
// space:
//   EE 01 n aH aL d0..      write n bytes at register a (no data phase), or
//                           with a data phase (length at bytes 13, 14) a burst
//                           write of those bytes at a
//   EE 02 aH aL 00 lH lL 00 read l bytes from register a
//   EE 03 aH aL 00 lH lL 00 read l bytes of the firmware's own answer at a
//                           (at 0x0000: its version, two bytes)
// The controller: 0x00FE <- 5A A5 stops its CPU; with the CPU stopped,
// 0xFFF8 <- A5 5A enters test mode (00 00 leaves it); in test mode the flash
// address register 0xFFFA (three bytes, A16-23 shifted left by 1 as its chip
// id 52 54 asks) and the flash command register 0xFFFE (code, 01) drive a
// serial flash: 04 write enable, 05 write disable, 07 chip erase (busy, bit 4
// of status 0xFFFF, for a few polls), 13 read and 16 program from the
// address, through the data port 0x0000. 0xFFD3 bit 4 arms the watchdog;
// 0xFFD1 <- 01 then restarts the controller, which runs its flash when the
// image is signed (bytes 64..79 not blank). Its version is flash bytes
// 0x50, 0x51.
#include <algorithm>
#include <cstring>

#include "platform/bench/BenchPd.h"
#include "platform/bench/bridge/CdbReader.h"
#include "platform/bench/bridge/Sense.h"

namespace krv::bench {

namespace {

constexpr uint16_t kStopCpu = 0x00FE;
constexpr uint16_t kChipId = 0xFFC0;
constexpr uint16_t kTestMode = 0xFFF8;
constexpr uint16_t kFlashAddress = 0xFFFA;
constexpr uint16_t kFlashCommand = 0xFFFE;
constexpr uint16_t kFlashStatus = 0xFFFF;
constexpr uint16_t kWatchdog = 0xFFD3;
constexpr uint16_t kWatchdogKick = 0xFFD1;
constexpr uint16_t kDataPort = 0x0000;
constexpr uint8_t kChipIdBytes[4] = {0x52, 0x54, 0x00, 0x00};
constexpr int kAddressShift = 1;
constexpr uint8_t kBusy = 0x10;
constexpr int kErasePolls = 3;
constexpr size_t kSignatureAt = 64;
constexpr size_t kSignatureLength = 16;
constexpr size_t kVersionAt = 0x50;
constexpr size_t kMaxTransfer = 256;

}  // namespace

void PdController::iteBoot()
{
    ite_ = Ite{};
    const uint8_t* sig = flash_.data() + kSignatureAt;
    running_ = !std::all_of(sig, sig + kSignatureLength, [](uint8_t b) { return b == 0xFF; });
    version_ = {};
    if (running_) {
        version_[0] = flash_[kVersionAt];
        version_[1] = flash_[kVersionAt + 1];
    }
}

void PdController::tunnel(ScsiCommand& command, FaultList& faults, std::string& note)
{
    CdbReader cdb(command);
    auto refuse = [&] { endWithCheckCondition(command, kInvalidField); };
    if (pd_ != PdChip::Ite)
        return endWithCheckCondition(command, kInvalidOpcode);
    const uint8_t function = cdb[1];
    if (function == 1) {
        if (cdb.length() != 16)
            return refuse();
        const uint16_t address = static_cast<uint16_t>(cdb[3] << 8 | cdb[4]);
        if (command.direction == DataDirection::Out) {
            const uint32_t length = static_cast<uint32_t>(cdb[13] << 8 | cdb[14]);
            if (length == 0 || length > kMaxTransfer || !cdb.writesExactly(length))
                return refuse();
            iteWrite(address, command.data, length, faults, note);
            return endGood(command, length);
        }
        const size_t n = cdb[2];
        if (n == 0 || n > 3 || !cdb.movesNoData())
            return refuse();
        uint8_t data[3];
        for (size_t i = 0; i < n; ++i)
            data[i] = cdb[5 + i];
        iteWrite(address, data, n, faults, note);
        return endGood(command, 0);
    }
    if (function != 2 && function != 3)
        return refuse();
    if (cdb.length() != 8)
        return refuse();
    const uint16_t address = static_cast<uint16_t>(cdb[2] << 8 | cdb[3]);
    const size_t length = static_cast<size_t>(cdb[5] << 8 | cdb[6]);
    if (length == 0 || length > kMaxTransfer || !cdb.readsAtLeast(static_cast<uint32_t>(length)))
        return refuse();
    uint8_t out[kMaxTransfer] = {};
    if (function == 3) {
        // The firmware answers only while it runs.
        if (address != 0 || length != 2 || !running_ || ite_.cpuStopped)
            return refuse();
        std::memcpy(out, version_.data(), 2);
    } else if (!iteRead(address, out, length)) {
        return refuse();
    }
    answerWith(command, out, length);
}

void PdController::iteWrite(uint16_t address, const uint8_t* data, size_t n, FaultList& faults, std::string& note)
{
    // I2C writes are not acknowledged by content: a write the controller
    // does not act on is still taken.
    if (address == kStopCpu && n == 2 && data[0] == 0x5A && data[1] == 0xA5) {
        ite_.cpuStopped = true;
        note = "CPU stopped";
        return;
    }
    if (address == kTestMode && n == 2) {
        if (data[0] == 0xA5 && data[1] == 0x5A && ite_.cpuStopped) {
            ite_.testMode = true;
            note = "test mode";
        } else if (data[0] == 0 && data[1] == 0) {
            ite_.testMode = false;
            note = "test mode left";
        }
        return;
    }
    if (address == kWatchdog && n == 1) {
        ite_.wdt = data[0];
        return;
    }
    if (address == kWatchdogKick && n == 1) {
        if (data[0] == 0x01 && (ite_.wdt & 0x10)) {
            iteBoot();
            note = running_ ? "watchdog reset: firmware runs" : "watchdog reset: no signed image";
        }
        return;
    }
    if (!ite_.testMode) {
        // Outside test mode the flash registers do not answer; other
        // registers (the 8-bit stop form among them) take the write.
        if (address == kFlashAddress || address == kFlashCommand || address == kDataPort)
            note = "flash register write outside test mode ignored";
        return;
    }
    if (address == kFlashAddress && n >= 2) {
        uint32_t a = data[0] | uint32_t{data[1]} << 8;
        if (n == 3)
            a |= uint32_t{static_cast<uint8_t>(data[2] >> kAddressShift)} << 16;
        ite_.address = a;
        ite_.data = Ite::Data::None;
        return;
    }
    if (address == kFlashCommand && n == 2 && data[1] == 0x01) {
        switch (data[0]) {
        case 0x04: ite_.writeEnabled = true; break;
        case 0x05: ite_.writeEnabled = false; ite_.data = Ite::Data::None; break;
        case 0x07:
            if (!ite_.writeEnabled)
                break;
            std::fill(flash_.begin(), flash_.end(), 0xFF);
            flashDirty_ = true;
            ite_.busyPolls = faults.hitEvent(FaultKind::Stuck) ? -1 : kErasePolls;
            note = ite_.busyPolls < 0 ? "chip erase (stays busy: fault stuck)" : "chip erase";
            break;
        case 0x13: ite_.data = Ite::Data::Read; ite_.cursor = ite_.address; break;
        case 0x16:
            if (ite_.writeEnabled) {
                ite_.data = Ite::Data::Program;
                ite_.cursor = ite_.address;
            }
            break;
        default: break;
        }
        return;
    }
    if (address == kDataPort && ite_.data == Ite::Data::Program && ite_.writeEnabled) {
        if (ite_.cursor + n > flash_.size())
            return;
        // Programming clears bits; it never sets one.
        for (size_t i = 0; i < n; ++i)
            flash_[ite_.cursor + i] &= data[i];
        ite_.cursor += static_cast<uint32_t>(n);
        flashDirty_ = true;
        note = "programmed " + std::to_string(n) + " bytes";
    }
}

bool PdController::iteRead(uint16_t address, uint8_t* out, size_t n)
{
    if (address == kChipId) {
        std::memcpy(out, kChipIdBytes, std::min(n, sizeof kChipIdBytes));
        return true;
    }
    if (address == kWatchdog) {
        out[0] = ite_.wdt;
        return true;
    }
    if (address == kFlashStatus) {
        out[0] = ite_.busyPolls != 0 ? kBusy : 0;
        if (ite_.busyPolls > 0)
            --ite_.busyPolls;
        return true;
    }
    if (address == kDataPort && ite_.testMode && ite_.data == Ite::Data::Read) {
        if (ite_.cursor + n > flash_.size())
            return false;
        std::memcpy(out, flash_.data() + ite_.cursor, n);
        ite_.cursor += static_cast<uint32_t>(n);
        return true;
    }
    return address != kDataPort;  // other registers read as zero
}

}  // namespace krv::bench
