#pragma once
// One bridge-based drive on a bench port, answering the bytes of the
// commands the host sends it: standard INQUIRY (with the chip identity in
// bytes 36 and 37), the vital product data pages (supported pages, unit
// serial number), the KRV752x factory page and power configuration, the
// configuration images (E0/E1), the two-part firmware images (E2/E3), the
// registers (E4/E5), NVMe Identify (E6), CPU reset and disconnect (E8), the
// SHA-256 key (E9) and ATA PASS-THROUGH(12). A command, or a field, that the
// bridge does not know ends with CHECK CONDITION, ILLEGAL REQUEST.
//
// The bridge keeps its stored and running state (PortState) and writes its
// EEPROM files as soon as a write command completes. Whether it is on the
// bus, its drive numbers, faults and the log belong to the bench around it.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/ScsiPassThrough.h"
#include "platform/bench/BenchPd.h"
#include "platform/bench/BenchSettings.h"
#include "platform/bench/ChipCatalog.h"
#include "platform/bench/bridge/PortState.h"

namespace krv::bench {

enum class Unit { Disk, CdRom };

// The T10 texts of the bridge's standard INQUIRY data.
struct InquiryTexts {
    std::string vendor;     // 8 characters at most
    std::string product;    // 16 at most
    std::string revision;   // 4
    bool operator==(const InquiryTexts&) const = default;
};

class Bridge {
public:
    // How long the EEPROM stays busy programming after a firmware write;
    // commands other than INQUIRY meanwhile find the bridge not ready.
    static constexpr uint64_t kFirmwareProgramMs = 300;
    // Until when the EEPROM is busy programming (bench milliseconds).
    uint64_t busyUntilMs() const { return busyUntilMs_; }

    enum class Reaction { None, CpuReset, Disconnect };

    Bridge(int port, PortSettings settings, PortState state, std::string folder);

    int port() const { return port_; }
    const PortSettings& settings() const { return settings_; }
    const ChipModel& chip() const { return *chip_; }
    const LinkModel& link() const { return *link_; }
    const std::string& folder() const { return folder_; }
    PortState& state() { return state_; }
    const PortState& state() const { return state_; }
    // A bridge on a PCIe tunnel is a PCIe function: the host's disk is the
    // NVMe drive itself, which knows none of the bridge's commands.
    bool onUsb() const;

    // Answers one command sent to `unit` at bench time `nowMs`. `note` says
    // what the command did to the stored state, for the log.
    Reaction answer(ScsiCommand& command, Unit unit, uint64_t nowMs, std::string& note);
    // A vendor command that came through the PCIe mailbox of a bridge on a
    // PCIe tunnel (its 8-byte command block): the commands of the USB path,
    // a firmware image moved whole in one command, and the identity read
    // (EC 50). BridgeMailbox.cpp.
    Reaction answerMailbox(ScsiCommand& command, uint64_t nowMs, std::string& note);
    // A CPU reset or power-up: the stored images become the running state.
    void boot();
    // What the bridge runs with: the USB 3 configuration image it booted
    // (the source of its USB descriptors and T10 texts), and the T10 texts.
    const Bytes& runningUsb3Config() const;
    InquiryTexts inquiryTexts() const;
    // The serial number the bridge goes by: the one its running USB 3 image
    // holds at bytes 4..23 or, when those twenty bytes are blank (all 00 or
    // FF), its drive's own serial, as bridges name themselves after the drive
    // they carry. Empty while it runs without a sound image.
    std::string serialNumber() const;
    // Its unit serial number, INQUIRY page 0x80, as its settings say; none
    // when it has no such page.
    std::optional<std::string> unitSerialNumber() const;
    uint8_t registerValue(uint32_t address) const;

    // The power-delivery controller and MCU behind it (null: none), reached
    // through the relayed commands EC and EE.
    PdController* pd() { return pd_.get(); }
    const PdController* pd() const { return pd_.get(); }
    bool loadPd(std::string& error) { return !pd_ || pd_->load(error); }
    bool savePd(std::string& error) { return !pd_ || pd_->save(error); }
    // Power comes back after a cut: what a CPU reset does, and the PD
    // controller and MCU restart too.
    void powerUp();

private:
    void inquiry(ScsiCommand& command, Unit unit);
    void vitalProductData(ScsiCommand& command, Unit unit);
    void factoryPage(ScsiCommand& command);
    void configImage(ScsiCommand& command, std::string& note);
    void firmwareImage(ScsiCommand& command, uint64_t nowMs, std::string& note);
    void firmwareTransfer(ScsiCommand& command, bool write, int bank, size_t offset, size_t region, uint32_t length,
                          uint64_t nowMs, std::string& note);
    void registers(ScsiCommand& command, std::string& note);
    void nvmeIdentify(ScsiCommand& command);
    Reaction cpuReset(ScsiCommand& command);
    void shaKey(ScsiCommand& command, std::string& note);
    void powerConfig(ScsiCommand& command, std::string& note);
    void ataPassThrough(ScsiCommand& command);
    // Ends a write whose file could not be written as the EEPROM failing.
    bool stored(ScsiCommand& command, bool saved, const std::string& error, std::string& note);

    int port_;
    PortSettings settings_;
    const ChipModel* chip_;
    const LinkModel* link_;
    PortState state_;
    std::string folder_;
    uint64_t busyUntilMs_ = 0;
    std::unique_ptr<PdController> pd_;
};

// The drive numbers' plain disks: the system disk, and the NVMe drive behind
// a bridge on a PCIe tunnel. They answer INQUIRY (and the system disk ATA
// pass-through) and refuse every vendor command.
void answerPlainDisk(ScsiCommand& command, const DiskIdentity& disk, bool ata, std::string_view vendor);

}  // namespace krv::bench
